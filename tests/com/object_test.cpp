#include "platform/com/object.h"

#include <gtest/gtest.h>

#include <thread>

#include "platform/com/dispatch.h"
#include "platform/com/errorinfo.h"

namespace cadb::com {
namespace {

constexpr IID IID_ISample = guid("{6E1A0001-0000-4000-8000-000000000001}");
constexpr CLSID CLSID_Sample = guid("{6E1A0002-0000-4000-8000-000000000002}");
constexpr HRESULT kSampleError = kItfErrorBase | 15004;

ModuleCount g_module;

struct ISample : IDispatch {
    virtual HRESULT Add(std::int32_t a, std::int32_t b, std::int32_t* sum) = 0;
    virtual HRESULT get_Name(BSTR* name) = 0;
    virtual HRESULT put_Name(BSTR name) = 0;
    virtual HRESULT Split(BSTR text, BSTR* head, BSTR* tail) = 0;
    virtual HRESULT Fail() = 0;
    virtual HRESULT Untouched(VARIANT* value) = 0;

  protected:
    ~ISample() = default;
};

class Sample final : public ComObject<Sample, Dispatchable<Sample, ISample>, ISupportErrorInfo> {
  public:
    explicit Sample(IUnknown* outer) : ComObject(outer) { g_module.lock(); }
    ~Sample() override { g_module.unlock(); }
    HRESULT final_construct() { return S_OK; }

    void* find_interface(const IID& iid) {
        if (iid == IID_IDispatch || iid == IID_ISample) return static_cast<ISample*>(this);
        if (iid == IID_ISupportErrorInfo) return static_cast<ISupportErrorInfo*>(this);
        return nullptr;
    }

    static std::span<const DispMember> members() {
        static constexpr DispMember table[] = {
            disp_method<&ISample::Add>("Add", 1),
            disp_get<&ISample::get_Name>("Name", 2),
            disp_put<&ISample::put_Name>("Name", 2),
            disp_method<&ISample::Split>("Split", 3),
            disp_method<&ISample::Fail>("Fail", 4),
            disp_method<&ISample::Untouched>("Untouched", 5),
        };
        return table;
    }

    HRESULT Add(std::int32_t a, std::int32_t b, std::int32_t* sum) override {
        *sum = a + b;
        return a < 0 ? S_FALSE : S_OK;
    }
    HRESULT get_Name(BSTR* name) override {
        *name = bstr_from_utf16(name_);
        return S_OK;
    }
    HRESULT put_Name(BSTR name) override {
        name_ = bstr_view(name);
        return S_OK;
    }
    HRESULT Split(BSTR text, BSTR* head, BSTR* tail) override {
        std::u16string_view t = bstr_view(text);
        SysFreeString(*head);
        *head = bstr_from_utf16(t.substr(0, 1));
        *tail = bstr_from_utf16(t.substr(t.empty() ? 0 : 1));
        return S_OK;
    }
    HRESULT Fail() override {
        return report_error(CLSID_Sample, IID_ISample, u"Bad Object Name", kSampleError);
    }
    HRESULT Untouched(VARIANT*) override { return S_OK; }
    HRESULT InterfaceSupportsErrorInfo(const IID& iid) override {
        return iid == IID_ISample ? S_OK : S_FALSE;
    }

  private:
    std::u16string name_ = u"first";
};

using Factory = ClassFactory<Sample>;

ComPtr<IUnknown> make_sample() {
    ComPtr<IClassFactory> factory;
    auto* f = new Factory(g_module);
    f->AddRef();
    *factory.put() = f;
    ComPtr<IUnknown> unk;
    EXPECT_EQ(factory->CreateInstance(nullptr, IID_IUnknown, unk.put_void()), S_OK);
    return unk;
}

TEST(Object, ReferenceCountAndModuleLock) {
    ASSERT_EQ(g_module.count(), 0);
    ComPtr<IUnknown> unk = make_sample();
    EXPECT_EQ(g_module.count(), 1);  // the factory went, the object lives
    EXPECT_EQ(unk->AddRef(), 2u);
    EXPECT_EQ(unk->Release(), 1u);
    unk.reset();
    EXPECT_EQ(g_module.count(), 0);
}

TEST(Object, QueryInterfaceRules) {
    ComPtr<IUnknown> unk = make_sample();
    ComPtr<ISample> sample;
    ASSERT_EQ(unk->QueryInterface(IID_ISample, sample.put_void()), S_OK);
    ComPtr<ISupportErrorInfo> support;
    ASSERT_EQ(sample->QueryInterface(IID_ISupportErrorInfo, support.put_void()), S_OK);
    // Identity: IUnknown is the same pointer from every interface.
    ComPtr<IUnknown> a, b;
    sample->QueryInterface(IID_IUnknown, a.put_void());
    support->QueryInterface(IID_IUnknown, b.put_void());
    EXPECT_EQ(a.get(), b.get());
    EXPECT_EQ(a.get(), unk.get());
    // Symmetric and transitive.
    ComPtr<ISample> back;
    EXPECT_EQ(support->QueryInterface(IID_ISample, back.put_void()), S_OK);
    EXPECT_EQ(back.get(), sample.get());
    // Unknown interfaces give null and E_NOINTERFACE; a null out gives E_POINTER.
    void* out = reinterpret_cast<void*>(1);
    EXPECT_EQ(unk->QueryInterface(IID_IObjectSafety, &out), E_NOINTERFACE);
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(unk->QueryInterface(IID_ISample, nullptr), E_POINTER);
}

// An outer object that aggregates a Sample and keeps its inner IUnknown.
class Outer final : public ComObject<Outer, IObjectWithSite> {
  public:
    Outer() : ComObject(nullptr) {
        Factory* f = new Factory(g_module);
        f->AddRef();
        hr_ = f->CreateInstance(inner_unknown(), IID_IUnknown, inner_.put_void());
        void* refused = nullptr;
        refused_ = f->CreateInstance(inner_unknown(), IID_ISample, &refused);
        f->Release();
    }
    void* find_interface(const IID& iid) {
        if (iid == IID_IObjectWithSite) return static_cast<IObjectWithSite*>(this);
        void* out = nullptr;
        if (inner_ && succeeded(inner_->QueryInterface(iid, &out))) {
            static_cast<IUnknown*>(out)->Release();  // find_interface adds its own
            return out;
        }
        return nullptr;
    }
    HRESULT SetSite(IUnknown*) override { return S_OK; }
    HRESULT GetSite(const IID&, void**) override { return E_FAIL; }
    HRESULT hr_ = E_FAIL;
    HRESULT refused_ = S_OK;

  private:
    ComPtr<IUnknown> inner_;
};

TEST(Object, AggregationDelegatesToTheOuterObject) {
    auto* outer = new Outer;
    outer->AddRef();
    EXPECT_EQ(outer->hr_, S_OK);
    EXPECT_EQ(outer->refused_, CLASS_E_NOAGGREGATION);
    ComPtr<ISample> sample;
    ASSERT_EQ(outer->QueryInterface(IID_ISample, sample.put_void()), S_OK);
    // The inner object's interfaces lead back to the outer identity.
    ComPtr<IObjectWithSite> site;
    EXPECT_EQ(sample->QueryInterface(IID_IObjectWithSite, site.put_void()), S_OK);
    EXPECT_EQ(site.get(), static_cast<IObjectWithSite*>(outer));
    sample.reset();
    site.reset();
    EXPECT_EQ(outer->Release(), 0u);
    EXPECT_EQ(g_module.count(), 0);
}

TEST(Object, LockServerHoldsTheModule) {
    auto* f = new Factory(g_module);
    f->AddRef();
    f->LockServer(true);
    f->Release();
    EXPECT_EQ(g_module.count(), 1);
    f = new Factory(g_module);
    f->AddRef();
    f->LockServer(false);
    f->Release();
    EXPECT_EQ(g_module.count(), 0);
}

HRESULT invoke(IDispatch* d, const char16_t* name, std::uint16_t flags, std::vector<VARIANT> args,
               VARIANT* result, EXCEPINFO* excep = nullptr) {
    DISPID id = 0;
    HRESULT hr = d->GetIDsOfNames(&name, 1, 0, &id);
    if (failed(hr)) return hr;
    DISPPARAMS params;
    params.rgvarg = args.data();
    params.cArgs = static_cast<std::uint32_t>(args.size());
    return d->Invoke(id, 0, flags, &params, result, excep, nullptr);
}

VARIANT i4(std::int32_t n) {
    VARIANT v;
    v.vt = VT_I4;
    v.lVal = n;
    return v;
}

TEST(Dispatch, NamesMatchWithoutRegardToCase) {
    ComPtr<IUnknown> unk = make_sample();
    ComPtr<IDispatch> d;
    ASSERT_EQ(unk->QueryInterface(IID_IDispatch, d.put_void()), S_OK);
    const char16_t* names[] = {u"sPLIT"};
    DISPID id = 0;
    EXPECT_EQ(d->GetIDsOfNames(names, 1, 0, &id), S_OK);
    EXPECT_EQ(id, 3);
    names[0] = u"Splitt";
    EXPECT_EQ(d->GetIDsOfNames(names, 1, 0, &id), DISP_E_UNKNOWNNAME);
    EXPECT_EQ(id, DISPID_UNKNOWN);
}

TEST(Dispatch, ArgumentsResultsAndSuccessCodes) {
    ComPtr<IUnknown> unk = make_sample();
    ComPtr<IDispatch> d;
    unk->QueryInterface(IID_IDispatch, d.put_void());
    Variant result;
    // Arguments come last first: Add(2, 40).
    EXPECT_EQ(invoke(d.get(), u"add", DISPATCH_METHOD, {i4(40), i4(2)}, &result), S_OK);
    EXPECT_EQ(result.vt, VT_I4);
    EXPECT_EQ(result.lVal, 42);
    // A success code other than S_OK reaches the caller.
    EXPECT_EQ(invoke(d.get(), u"Add", DISPATCH_METHOD, {i4(1), i4(-1)}, &result), S_FALSE);
    EXPECT_EQ(invoke(d.get(), u"Add", DISPATCH_METHOD, {i4(1)}, &result), DISP_E_BADPARAMCOUNT);
    EXPECT_EQ(invoke(d.get(), u"Add", DISPATCH_METHOD, {i4(1), i4(1), i4(1), i4(1)}, &result),
              DISP_E_BADPARAMCOUNT);
    VARIANT text;
    text.vt = VT_BSTR;
    text.bstrVal = bstr_from_utf8("x");
    EXPECT_EQ(invoke(d.get(), u"Add", DISPATCH_METHOD, {text, i4(1)}, &result),
              DISP_E_TYPEMISMATCH);
    VariantClear(&text);
    // Properties: get and put share the id; a method is no property.
    EXPECT_EQ(invoke(d.get(), u"Name", DISPATCH_PROPERTYGET, {}, &result), S_OK);
    EXPECT_EQ(bstr_to_utf8(result.bstrVal), "first");
    VARIANT name;
    name.vt = VT_BSTR;
    name.bstrVal = bstr_from_utf8("второй");
    EXPECT_EQ(invoke(d.get(), u"Name", DISPATCH_PROPERTYPUT, {name}, nullptr), S_OK);
    VariantClear(&name);
    EXPECT_EQ(invoke(d.get(), u"Name", DISPATCH_PROPERTYGET, {}, &result), S_OK);
    EXPECT_EQ(bstr_to_utf8(result.bstrVal), "второй");
    EXPECT_EQ(invoke(d.get(), u"Add", DISPATCH_PROPERTYGET, {}, &result), DISP_E_MEMBERNOTFOUND);
}

TEST(Dispatch, ByReferenceOutputsAreWrittenBack) {
    ComPtr<IUnknown> unk = make_sample();
    ComPtr<IDispatch> d;
    unk->QueryInterface(IID_IDispatch, d.put_void());
    Variant holder;
    holder.vt = VT_BSTR;
    holder.bstrVal = bstr_from_utf8("old");
    VARIANT ref;
    ref.vt = VT_BYREF | VT_VARIANT;
    ref.pvarVal = &holder;
    VARIANT text;
    text.vt = VT_BSTR;
    text.bstrVal = bstr_from_utf8("abc");
    Variant result;
    // Split(text, holder) with the tail as the call's result.
    EXPECT_EQ(invoke(d.get(), u"Split", DISPATCH_METHOD, {ref, text}, &result), S_OK);
    VariantClear(&text);
    EXPECT_EQ(holder.vt, VT_BSTR);
    EXPECT_EQ(bstr_to_utf8(holder.bstrVal), "a");
    EXPECT_EQ(bstr_to_utf8(result.bstrVal), "bc");
    // An output a method leaves alone keeps the caller's value.
    Variant kept;
    kept.vt = VT_I4;
    kept.lVal = 7;
    ref.pvarVal = &kept;
    EXPECT_EQ(invoke(d.get(), u"Untouched", DISPATCH_METHOD, {ref}, &result), S_OK);
    EXPECT_EQ(kept.vt, VT_I4);
    EXPECT_EQ(kept.lVal, 7);
}

TEST(Dispatch, FailureCarriesTheErrorObject) {
    ComPtr<IUnknown> unk = make_sample();
    ComPtr<IDispatch> d;
    unk->QueryInterface(IID_IDispatch, d.put_void());
    Variant result;
    EXCEPINFO excep;
    EXPECT_EQ(invoke(d.get(), u"Fail", DISPATCH_METHOD, {}, &result, &excep), DISP_E_EXCEPTION);
    EXPECT_EQ(excep.scode, kSampleError);
    EXPECT_EQ(bstr_to_utf8(excep.bstrDescription), "Bad Object Name");
    EXPECT_EQ(bstr_to_utf8(excep.bstrSource), guid_format(CLSID_Sample));
    SysFreeString(excep.bstrDescription);
    SysFreeString(excep.bstrSource);
    // The error object was handed over: none is left on the thread.
    IErrorInfo* info = reinterpret_cast<IErrorInfo*>(1);
    EXPECT_EQ(GetErrorInfo(0, &info), S_FALSE);
    EXPECT_EQ(info, nullptr);
}

TEST(ErrorInfo, BelongsToItsThread) {
    report_error(CLSID_Sample, IID_ISample, u"Key Generation Error", kItfErrorBase | 15007);
    IErrorInfo* other = reinterpret_cast<IErrorInfo*>(1);
    std::thread([&] { GetErrorInfo(0, &other); }).join();
    EXPECT_EQ(other, nullptr);
    IErrorInfo* mine = nullptr;
    ASSERT_EQ(GetErrorInfo(0, &mine), S_OK);
    BSTR text = nullptr;
    mine->GetDescription(&text);
    GUID iid;
    mine->GetGUID(&iid);
    EXPECT_EQ(bstr_to_utf8(text), "Key Generation Error");
    EXPECT_EQ(iid, IID_ISample);
    SysFreeString(text);
    mine->Release();
}

}  // namespace
}  // namespace cadb::com
