#include "enrol/device_chooser.h"

#include "crypto/store/media_io.h"
#include "enrol/key_container_dialog.h"
#include "enrol/log.h"
#include "platform/module.h"
#include "wrappers/ui_exports.h"

namespace cadb::enrol {
namespace {

constexpr const char* kRunDialogEntry = "GorgetRunDialog";
using RunDialogFn = std::int32_t (*)(gorget::Dialog* dialog, std::uint32_t model_abi);

}  // namespace

int RunInDialogLibrary(gorget::Dialog& dialog) {
    const Module library = module_load(kUILibraryName);
    RunDialogFn run = nullptr;
    if (!library || !module_entry(library, kRunDialogEntry, run)) {
        log_line("!!!%s()... Function is not defined !", kRunDialogEntry);
        return gorget::IDCANCEL;
    }
    return run(&dialog, gorget::kDialogModelAbi);
}

bool DeviceOffered(const std::string& path, bool fileSystemOnly) {
    if (CADB_is_media_path(path.c_str()) != 1) return true;
    if (fileSystemOnly) return false;
    return CADB_token_inserted(path.c_str()) == 1;
}

std::string ChooseKeyContainer(DialogRunner run, const std::string& startPath, bool folderOnly,
                               bool fileSystemOnly) {
    KeyContainerDialog dialog(startPath, folderOnly, fileSystemOnly);
    run(dialog);
    std::string chosen = dialog.answer();
    if (chosen != startPath && !DeviceOffered(chosen, fileSystemOnly)) {
        log_line("BrowseDevuces()... [%s] is not on an offered medium", chosen.c_str());
        return startPath;
    }
    return chosen;
}

}  // namespace cadb::enrol
