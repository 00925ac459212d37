// BrowseDevuces: the key-container chooser for a page (the name is spelled so
// in the member table pages call).
#include "enrol/device_chooser.h"
#include "enrol/out_values.h"
#include "enrol/quillon.h"

namespace cadb::enrol {

HRESULT CQuillon::BrowseDevuces(BSTR bstrStartPath, I4 bFolderOnly, I4 bFileSystemOnly,
                                BSTR* pbstrSelectPath) {
    if (!pbstrSelectPath) return com::E_POINTER;
    // A start path the library's code page cannot hold is answered as given.
    const std::optional<std::string> start = com::bstr_to_ansi(bstrStartPath);
    if (!start) return set_out(pbstrSelectPath, com::bstr_view(bstrStartPath));
    const std::string chosen = ChooseKeyContainer(RunInDialogLibrary, *start, bFolderOnly != 0,
                                                  bFileSystemOnly != 0);
    com::SysFreeString(*pbstrSelectPath);
    *pbstrSelectPath = com::bstr_from_ansi(chosen);
    return *pbstrSelectPath || chosen.empty() ? com::S_OK : com::E_OUTOFMEMORY;
}

}  // namespace cadb::enrol
