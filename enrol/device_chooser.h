// The key-container chooser behind BrowseDevuces: the user picks the medium
// and the folder (or file) of a key container in the dialog library's
// chooser; the answer comes back in the key-store layer's path notation.
#pragma once

#include <string>

namespace cadb {
class TUICallbacks;
}

namespace cadb::enrol {

// Window captions (UTF-8): file mode, folder mode.
inline constexpr const char* kChooseFileCaption = "Выбор файла";
inline constexpr const char* kChooseFolderCaption = "Выбор папки";

// Whether the chooser may answer path: a file-system path always; a device
// path only when devices are allowed and its token is inserted.
bool DeviceOffered(const std::string& path, bool fileSystemOnly);

// Shows the chooser through ui, starting at startPath (code page 1251). File
// mode when folderOnly is false. The chosen path, with "\" appended in folder
// mode when missing; startPath itself when the user cancels, no dialog can
// be shown, or the answer lies on a medium the chooser may not offer.
std::string ChooseKeyContainer(TUICallbacks& ui, const std::string& startPath, bool folderOnly,
                               bool fileSystemOnly);

}  // namespace cadb::enrol
