// The save-file picker export: the platform's save question asks the user
// here when a display is there. The picker offers the name with the default
// extension already on it, so the name the user confirms is the name saved.
#include <cstring>
#include <optional>
#include <string>

#include "platform/save_dialog.h"
#include "ui/exports.h"
#include "ui/log.h"
#include "ui/model.h"
#include "ui/renderer.h"
#include "ui/text.h"

using namespace gorget;

namespace {

// A file name without any extension of its own gets the default one, as the
// platform's dialog adds it to what the user typed.
std::string with_default_extension(const std::string& path, const std::string& extension) {
    if (extension.empty()) return path;
    const std::size_t slash = path.rfind('/');
    const std::size_t start = slash == std::string::npos ? 0 : slash + 1;
    const std::size_t dot = path.rfind('.');
    if (dot != std::string::npos && dot > start) return path;
    return path + "." + extension;
}

}  // namespace

GORGET_EXPORT std::int32_t GorgetSaveFileA(const char* title, const char* filter,
                                           std::int32_t filter_index,
                                           const char* default_extension, const char* file_name,
                                           std::uint32_t flags, char* path, std::int32_t size) {
    if (path == nullptr || size <= 1) return 0;
    path[0] = '\0';
    try {
        Host::SaveRequest request;
        request.title = title != nullptr ? from_cp1251(title) : std::string();
        request.filter = filter != nullptr ? from_cp1251(filter) : std::string();
        request.filter_index = filter_index > 0 ? filter_index : 1;
        request.default_extension =
            default_extension != nullptr ? from_cp1251(default_extension) : std::string();
        request.overwrite_prompt = (flags & cadb::kSaveOverwritePrompt) != 0;
        std::string offered = file_name != nullptr ? from_cp1251(file_name) : std::string();
        // A name from a certificate ("example.com") ends in no extension the
        // filter offers: the default one goes after it.
        if (!offered.empty() && !request.default_extension.empty() &&
            !cadb::HasFilterExtension(offered, request.filter))
            offered += "." + request.default_extension;
        request.proposed_name = offered;

        const std::optional<std::string> chosen = renderer().save_file(request);
        if (!chosen || chosen->empty()) return 0;
        const std::string answer = with_default_extension(*chosen, request.default_extension);
        // A cut path would name another file.
        if (answer.size() >= static_cast<std::size_t>(size)) {
            log_line("save picker: the chosen path is too long");
            return 0;
        }
        std::memcpy(path, answer.data(), answer.size());
        path[answer.size()] = '\0';
        return static_cast<std::int32_t>(answer.size());
    } catch (...) {
        path[0] = '\0';
        return 0;
    }
}
