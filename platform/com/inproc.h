// Creating objects of in-process servers found through the registry: a ProgID
// names a class (HKCR\<ProgID>\CLSID, following CurVer when the ProgID has no
// CLSID of its own), the class names its module (the default value of the
// class's InprocServer32 key), the module is loaded once and asked for its
// class object. The component-categories manager is served by this layer.
#pragma once

#include <string_view>

#include "platform/com/interfaces.h"

namespace cadb::com {

// Registry keys of the class tree.
inline constexpr const char* kClassesRoot = "HKCR";

CADB_COM_API HRESULT CLSIDFromProgID(std::string_view progid, CLSID* clsid);
CADB_COM_API HRESULT CoGetClassObject(const CLSID& clsid, const IID& iid, void** out);
CADB_COM_API HRESULT CoCreateInstance(const CLSID& clsid, IUnknown* outer, const IID& iid,
                                      void** out);
// Unloads the loaded modules whose DllCanUnloadNow says S_OK.
CADB_COM_API void CoFreeUnusedLibraries();

// Whether the registry records the class as implementing the category.
CADB_COM_API bool class_implements_category(const CLSID& clsid, const CATID& catid);

// The component-categories manager (ICatRegister over the registry).
HRESULT category_manager_new(const IID& iid, void** out);

}  // namespace cadb::com
