#include <sys/wait.h>

#include <climits>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <set>
#include <vector>

#include "platform/com/bstr.h"
#include "platform/com/errorinfo.h"
#include "platform/com/inproc.h"
#include "tests/enrol/fixture.h"

namespace cadb::enrol::test {
namespace {

using namespace cadb::com;

TEST_F(QuillonModule, ExportsOnlyItsFourEntries) {
    std::unique_ptr<FILE, int (*)(FILE*)> nm(popen("nm -D --defined-only " QUILLON_MODULE, "r"),
                                             pclose);
    ASSERT_TRUE(nm);
    std::set<std::string> names;
    char line[512];
    while (std::fgets(line, sizeof line, nm.get())) {
        std::string s(line);
        s.erase(s.find_last_not_of("\n") + 1);
        names.insert(s.substr(s.rfind(' ') + 1));
    }
    EXPECT_EQ(names, (std::set<std::string>{"DllCanUnloadNow", "DllGetClassObject",
                                            "DllRegisterServer", "DllUnregisterServer"}));
}

TEST_F(QuillonModule, ClassObjectAndUnloading) {
    void* out = reinterpret_cast<void*>(1);
    EXPECT_EQ(get_class_object_(CLSID_PauldronPSE, IID_IClassFactory, &out),
              CLASS_E_CLASSNOTAVAILABLE);
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(can_unload_now_(), S_OK);
    ComPtr<IClassFactory> factory;
    ASSERT_EQ(get_class_object_(CLSID_Quillon, IID_IClassFactory, factory.put_void()), S_OK);
    ComPtr<IQuillon> q;
    ASSERT_EQ(factory->CreateInstance(nullptr, IID_IQuillon, q.put_void()), S_OK);
    // An aggregating caller must ask for IUnknown.
    ComPtr<IUnknown> outer_probe;
    EXPECT_EQ(factory->CreateInstance(q.get(), IID_IQuillon, outer_probe.put_void()),
              CLASS_E_NOAGGREGATION);
    factory.reset();
    EXPECT_EQ(can_unload_now_(), S_FALSE);  // the object lives
    q.reset();
    EXPECT_EQ(can_unload_now_(), S_OK);
    ASSERT_EQ(get_class_object_(CLSID_Quillon, IID_IClassFactory, factory.put_void()), S_OK);
    factory->LockServer(true);
    factory.reset();
    EXPECT_EQ(can_unload_now_(), S_FALSE);  // locked
    ASSERT_EQ(get_class_object_(CLSID_Quillon, IID_IClassFactory, factory.put_void()), S_OK);
    factory->LockServer(false);
    factory.reset();
    EXPECT_EQ(can_unload_now_(), S_OK);
}

TEST_F(QuillonModule, QueryInterfaceRules) {
    ComPtr<IQuillon> q = create();
    ASSERT_TRUE(q);
    ComPtr<IDispatch> d;
    ASSERT_EQ(q->QueryInterface(IID_IDispatch, d.put_void()), S_OK);
    EXPECT_EQ(static_cast<IUnknown*>(d.get()), static_cast<IUnknown*>(q.get()));
    ComPtr<IUnknown> id1, id2;
    ComPtr<IObjectSafety> safety;
    ComPtr<IObjectWithSite> site;
    ComPtr<ISupportErrorInfo> support;
    ASSERT_EQ(q->QueryInterface(IID_IObjectSafety, safety.put_void()), S_OK);
    ASSERT_EQ(safety->QueryInterface(IID_IObjectWithSite, site.put_void()), S_OK);
    ASSERT_EQ(site->QueryInterface(IID_ISupportErrorInfo, support.put_void()), S_OK);
    q->QueryInterface(IID_IUnknown, id1.put_void());
    support->QueryInterface(IID_IUnknown, id2.put_void());
    EXPECT_EQ(id1.get(), id2.get());
    void* out = reinterpret_cast<void*>(1);
    EXPECT_EQ(q->QueryInterface(IID_IPersistStreamInit, &out), E_NOINTERFACE);
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(q->QueryInterface(IID_IQuillon, nullptr), E_POINTER);
    EXPECT_EQ(support->InterfaceSupportsErrorInfo(IID_IQuillon), S_OK);
    EXPECT_EQ(support->InterfaceSupportsErrorInfo(IID_IDispatch), S_FALSE);
}

TEST_F(QuillonModule, ObjectSafetyEdges) {
    ComPtr<IQuillon> q = create();
    ComPtr<IObjectSafety> s;
    ASSERT_EQ(q->QueryInterface(IID_IObjectSafety, s.put_void()), S_OK);
    std::uint32_t supported = 9, enabled = 9;
    EXPECT_EQ(s->GetInterfaceSafetyOptions(IID_IDispatch, nullptr, &enabled), E_FAIL);
    EXPECT_EQ(s->GetInterfaceSafetyOptions(IID_IDispatch, &supported, nullptr), E_FAIL);
    ASSERT_EQ(s->GetInterfaceSafetyOptions(IID_IDispatch, &supported, &enabled), S_OK);
    EXPECT_EQ(supported, 1u);
    EXPECT_EQ(enabled, 0u);
    // An interface the object has but no safety is offered for.
    EXPECT_EQ(s->GetInterfaceSafetyOptions(IID_IQuillon, &supported, &enabled), E_FAIL);
    EXPECT_EQ(supported, 0u);
    EXPECT_EQ(enabled, 0u);
    EXPECT_EQ(s->GetInterfaceSafetyOptions(IID_IPersistStorage, &supported, &enabled),
              E_NOINTERFACE);
    EXPECT_EQ(s->SetInterfaceSafetyOptions(IID_IDispatch, 0, 0), E_FAIL);
    EXPECT_EQ(s->SetInterfaceSafetyOptions(IID_IPersistStreamInit, 2, 2), E_NOINTERFACE);
    EXPECT_EQ(s->SetInterfaceSafetyOptions(IID_IDispatch, 2, 2), E_FAIL);
    ASSERT_EQ(s->GetInterfaceSafetyOptions(IID_IDispatch, &supported, &enabled), S_OK);
    EXPECT_EQ(enabled, 0u);
    EXPECT_EQ(s->SetInterfaceSafetyOptions(IID_IDispatch, 1, 0), E_FAIL);  // masked off
    EXPECT_EQ(s->SetInterfaceSafetyOptions(IID_IDispatch, 1, 1), S_OK);
    ASSERT_EQ(s->GetInterfaceSafetyOptions(IID_IDispatch, &supported, &enabled), S_OK);
    EXPECT_EQ(enabled, 1u);
}

// A site that counts its references.
class Site final : public ComObject<Site, IObjectWithSite> {
  public:
    Site() : ComObject(nullptr) {}
    void* find_interface(const IID& iid) {
        return iid == IID_IObjectWithSite ? static_cast<IObjectWithSite*>(this) : nullptr;
    }
    HRESULT SetSite(IUnknown*) override { return S_OK; }
    HRESULT GetSite(const IID&, void**) override { return E_FAIL; }
};

TEST_F(QuillonModule, SiteIsKeptAndCounted) {
    ComPtr<IQuillon> q = create();
    ComPtr<IObjectWithSite> ows;
    ASSERT_EQ(q->QueryInterface(IID_IObjectWithSite, ows.put_void()), S_OK);
    EXPECT_EQ(ows->GetSite(IID_IUnknown, nullptr), E_POINTER);
    void* out = reinterpret_cast<void*>(1);
    EXPECT_EQ(ows->GetSite(IID_IUnknown, &out), E_FAIL);
    EXPECT_EQ(out, nullptr);
    auto* site = new Site;
    site->AddRef();
    ASSERT_EQ(ows->SetSite(site), S_OK);
    EXPECT_EQ(site->AddRef(), 3u);  // ours, the object's, this one
    site->Release();
    ComPtr<IObjectWithSite> back;
    ASSERT_EQ(ows->GetSite(IID_IObjectWithSite, back.put_void()), S_OK);
    EXPECT_EQ(back.get(), static_cast<IObjectWithSite*>(site));
    back.reset();
    EXPECT_EQ(ows->GetSite(IID_IDispatch, &out), E_NOINTERFACE);
    ASSERT_EQ(ows->SetSite(nullptr), S_OK);
    EXPECT_EQ(site->Release(), 0u);
}

TEST_F(QuillonModule, RegistrationThenUnregistrationKeepsCategoryDescriptions) {
    ASSERT_EQ(register_(), S_OK);
    Registry reg = *Registry::read(registry_);
    const std::string cls = "HKCR\\CLSID\\{22B18772-B2A6-4BD3-98C3-19665C869822}";
    char full[PATH_MAX];
    ASSERT_TRUE(realpath(QUILLON_MODULE, full));
    EXPECT_EQ(reg.value(cls + "\\InprocServer32"), std::string(full));
    EXPECT_EQ(reg.value(cls + "\\InprocServer32", "ThreadingModel"), "Apartment");
    EXPECT_EQ(reg.value(cls), "Quillon Class");
    EXPECT_EQ(reg.value(cls + "\\ProgID"), "Quillon.Quillon.1");
    EXPECT_EQ(reg.value(cls + "\\VersionIndependentProgID"), "Quillon.Quillon");
    EXPECT_TRUE(reg.key_exists(cls + "\\Programmable"));
    EXPECT_EQ(reg.value(cls + "\\TypeLib"), "{4BD7DC05-7FA9-47C3-ABDF-FCC69014FACB}");
    EXPECT_EQ(reg.value("HKCR\\Quillon.Quillon\\CurVer"), "Quillon.Quillon.1");
    const std::string cats = "HKCR\\Component Categories\\";
    EXPECT_EQ(reg.value(cats + "{7DD95801-9882-11CF-9FA9-00AA006C42C4}", "409"),
              "Controls that are safely scriptable");
    EXPECT_EQ(reg.value(cats + "{7DD95802-9882-11CF-9FA9-00AA006C42C4}", "409"),
              "Controls safely initializable from persistent data");
    EXPECT_TRUE(class_implements_category(CLSID_Quillon, CATID_SafeForScripting));
    EXPECT_FALSE(class_implements_category(CLSID_Quillon, CATID_SafeForInitializing));
    EXPECT_TRUE(class_implements_category(CLSID_SafeControlsHolder, CATID_SafeForInitializing));
    EXPECT_TRUE(class_implements_category(CLSID_SafeControlsHolder, CATID_SafeForScripting));
    CLSID found;
    ASSERT_EQ(CLSIDFromProgID("Quillon.Quillon", &found), S_OK);
    EXPECT_EQ(found, CLSID_Quillon);

    ASSERT_EQ(unregister_(), S_OK);
    reg = *Registry::read(registry_);
    EXPECT_FALSE(reg.key_exists(cls));
    EXPECT_TRUE(reg.key_exists("HKCR\\CLSID"));
    EXPECT_FALSE(reg.key_exists("HKCR\\Quillon.Quillon"));
    EXPECT_FALSE(reg.key_exists("HKCR\\Quillon.Quillon.1"));
    EXPECT_FALSE(class_implements_category(CLSID_SafeControlsHolder, CATID_SafeForScripting));
    EXPECT_EQ(reg.value(cats + "{7DD95801-9882-11CF-9FA9-00AA006C42C4}", "409"),
              "Controls that are safely scriptable");
    EXPECT_EQ(reg.value(cats + "{7DD95802-9882-11CF-9FA9-00AA006C42C4}", "409"),
              "Controls safely initializable from persistent data");
}

TEST_F(QuillonModule, RegistrationFailsCleanlyWhenTheRegistryCannotBeWritten) {
    setenv(kRegistryEnv, "/proc/cadb-no-such/registry", 1);
    EXPECT_EQ(register_(), SELFREG_E_CLASS);
}

// A host closes the library while the library's per-thread state still keeps
// it mapped, so the library goes only at exit; the vendor libraries its token
// drivers loaded at start must not pull it out from under the ending host.
TEST_F(QuillonModule, HostLeavesCleanlyWhicheverVendorLibrariesItFinds) {
    const std::vector<std::vector<std::string>> sets = {
        {"libibfs32.so"},
        {"libWinSCard.so", "libetsdk.so"},
        {"libWinSCard.so", "librtapilt.so"},
        {"libWinSCard.so", "libetapi.so"},
    };
    for (std::size_t i = 0; i < sets.size(); ++i) {
        const std::string modules = dir_ + "/modules" + std::to_string(i);
        std::filesystem::create_directory(modules);
        for (const std::string& file : sets[i])
            std::filesystem::copy_file(std::string(CADB_TEST_MODULES_DIR) + "/" + file,
                                       modules + "/" + file);
        const std::string command =
            "CADB_MODULE_PATH='" + modules + "' " REGSVR " " QUILLON_MODULE " >/dev/null 2>&1";
        const int status = std::system(command.c_str());
        ASSERT_TRUE(WIFEXITED(status)) << sets[i].back();
        EXPECT_EQ(WEXITSTATUS(status), 0) << sets[i].back();
    }
}

}  // namespace
}  // namespace cadb::enrol::test
