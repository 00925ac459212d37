// The key-container chooser behind BrowseDevuces: the user picks the medium
// and the folder (or file) of a key container in the chooser's own dialog
// (key_container_dialog.h), which the dialog library shows; the answer comes
// back in the key-store layer's path notation.
#pragma once

#include <string>

namespace gorget {
class Dialog;
}

namespace cadb::enrol {

// Shows a dialog until it ends and returns its result.
using DialogRunner = int (*)(gorget::Dialog& dialog);

// The dialog library's runner (its export GorgetRunDialog, the library
// loaded by name): on its user-interface thread, or cancelled at once when it
// can show no window. Without the library or the export the dialog is
// cancelled and a line logged.
int RunInDialogLibrary(gorget::Dialog& dialog);

// Whether the chooser may answer path: a file-system path always; a device
// path only when devices are allowed and its token is inserted.
bool DeviceOffered(const std::string& path, bool fileSystemOnly);

// Shows the chooser through run, starting at startPath (code page 1251).
// File mode when folderOnly is false; fileSystemOnly lists no device. The
// chosen path, with "\" appended in folder mode when missing; startPath
// itself when the user cancels, no dialog can be shown, or the answer lies
// on a medium the chooser may not offer.
std::string ChooseKeyContainer(DialogRunner run, const std::string& startPath, bool folderOnly,
                               bool fileSystemOnly);

}  // namespace cadb::enrol
