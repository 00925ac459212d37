#include "enrol/device_chooser.h"

#include <cstring>

#include "crypto/cadb/media_io.h"
#include "enrol/log.h"
#include "enrol/strings.h"
#include "wrappers/pse_media.h"
#include "wrappers/ui_binding.h"

namespace cadb::enrol {

bool DeviceOffered(const std::string& path, bool fileSystemOnly) {
    if (CADB_is_media_path(path.c_str()) != 1) return true;
    if (fileSystemOnly) return false;
    return CADB_token_inserted(path.c_str()) == 1;
}

std::string ChooseKeyContainer(TUICallbacks& ui, const std::string& startPath, bool folderOnly,
                               bool fileSystemOnly) {
    UIDirRecord record{};
    // A start path the record cannot hold whole starts the chooser empty: a
    // cut path would name another folder.
    if (startPath.size() < sizeof record.path)
        std::memcpy(record.path, startPath.data(), startPath.size());
    record.type = GetPSEMediaType(startPath.c_str());
    const std::string caption =
        Utf8ToAnsi(folderOnly ? kChooseFolderCaption : kChooseFileCaption).value_or("");

    const int n = ui.dirOperationCBK(caption.c_str(), &record);
    if (n <= 0 || static_cast<std::size_t>(n) >= sizeof record.path) return startPath;
    // Exactly the answered characters: the rest of the record may still hold
    // the tail of a longer start path.
    std::string chosen(record.path, static_cast<std::size_t>(n));
    if (!DeviceOffered(chosen, fileSystemOnly)) {
        log_line("BrowseDevuces()... [%s] is not on an offered medium", chosen.c_str());
        return startPath;
    }
    if (folderOnly && chosen.back() != '\\') chosen += '\\';
    return chosen;
}

}  // namespace cadb::enrol
