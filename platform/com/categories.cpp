#include <cstdio>
#include <new>

#include "platform/com/inproc.h"
#include "platform/com/object.h"
#include "platform/com/registry.h"

namespace cadb::com {

namespace {

std::string category_key(const CATID& catid) {
    return std::string(kClassesRoot) + "\\Component Categories\\" + guid_format(catid);
}

std::string class_key(const CLSID& clsid) {
    return std::string(kClassesRoot) + "\\CLSID\\" + guid_format(clsid);
}

std::string implemented_key(const CLSID& clsid) {
    return class_key(clsid) + "\\Implemented Categories";
}

// Descriptions are kept per locale under the locale's hexadecimal number.
std::string locale_name(LCID lcid) {
    char text[16];
    std::snprintf(text, sizeof text, "%x", lcid);
    return text;
}

class CategoryManager final : public ComObject<CategoryManager, ICatRegister> {
  public:
    explicit CategoryManager(IUnknown* outer) : ComObject(outer) {}

    void* find_interface(const IID& iid) {
        return iid == IID_ICatRegister ? static_cast<ICatRegister*>(this) : nullptr;
    }

    HRESULT RegisterCategories(std::uint32_t count, const CATEGORYINFO* infos) override {
        if (count && !infos) return E_POINTER;
        return update([&](Registry& reg) {
            for (std::uint32_t i = 0; i < count; ++i) {
                std::u16string_view text(infos[i].szDescription);
                text = text.substr(0, std::min<std::size_t>(text.size(), 127));
                reg.set_value(category_key(infos[i].catid), locale_name(infos[i].lcid),
                              utf16_to_utf8(text));
            }
        });
    }

    HRESULT UnRegisterCategories(std::uint32_t count, const CATID* ids) override {
        if (count && !ids) return E_POINTER;
        return update([&](Registry& reg) {
            for (std::uint32_t i = 0; i < count; ++i) reg.remove_key(category_key(ids[i]));
        });
    }

    HRESULT RegisterClassImplCategories(const CLSID& clsid, std::uint32_t count,
                                        const CATID* ids) override {
        if (count && !ids) return E_POINTER;
        return update([&](Registry& reg) {
            for (std::uint32_t i = 0; i < count; ++i)
                reg.create_key(implemented_key(clsid) + "\\" + guid_format(ids[i]));
        });
    }

    HRESULT UnRegisterClassImplCategories(const CLSID& clsid, std::uint32_t count,
                                          const CATID* ids) override {
        if (count && !ids) return E_POINTER;
        return update([&](Registry& reg) {
            const std::string impl = implemented_key(clsid);
            for (std::uint32_t i = 0; i < count; ++i)
                reg.remove_key(impl + "\\" + guid_format(ids[i]));
            // Keys that held nothing but these entries go with them.
            if (reg.key_exists(impl) && reg.subkeys(impl).empty()) reg.remove_key(impl);
            const std::string cls = class_key(clsid);
            if (reg.key_exists(cls) && reg.subkeys(cls).empty() && !reg.has_values(cls))
                reg.remove_key(cls);
        });
    }

  private:
    template <class Edit>
    static HRESULT update(Edit edit) {
        return registry_update(
                   [&](Registry& reg) {
                       edit(reg);
                       return true;
                   },
                   registry_path())
                   ? S_OK
                   : REGDB_E_WRITEREGDB;
    }
};

}  // namespace

HRESULT category_manager_new(const IID& iid, void** out) {
    if (!out) return E_POINTER;
    *out = nullptr;
    auto* object = new (std::nothrow) CategoryManager(nullptr);
    if (!object) return E_OUTOFMEMORY;
    IUnknown* inner = object->inner_unknown();
    inner->AddRef();
    HRESULT hr = inner->QueryInterface(iid, out);
    inner->Release();
    return hr;
}

bool class_implements_category(const CLSID& clsid, const CATID& catid) {
    std::optional<Registry> reg = Registry::read(registry_path());
    return reg && reg->key_exists(implemented_key(clsid) + "\\" + guid_format(catid));
}

}  // namespace cadb::com
