// The export that shows a model of another library: the enrolment library's
// dialogs are its own models, drawn by this library's windows.
#include <string>

#include "ui/exports.h"
#include "ui/log.h"
#include "ui/renderer.h"

using namespace gorget;

GORGET_EXPORT std::int32_t GorgetRunDialog(Dialog* dialog, std::uint32_t model_abi) {
    if (dialog == nullptr) return 0;
    if (model_abi != kDialogModelAbi) {
        log_line("GorgetRunDialog: a model of another build refused (" +
                 std::to_string(model_abi) + ", this library " + std::to_string(kDialogModelAbi) +
                 ")");
        return 0;
    }
    try {
        renderer().run(*dialog);
        return dialog->finished() ? dialog->result() : IDCANCEL;
    } catch (...) {
        log_line("GorgetRunDialog: the dialog failed");
        return 0;
    }
}
