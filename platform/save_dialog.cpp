#include "platform/save_dialog.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstdlib>
#include <mutex>
#include <utility>

#include "platform/codepage.h"
#include "platform/module.h"
#include "platform/paths.h"

namespace cadb {
namespace {

// The longest file name the file systems take, in bytes.
constexpr std::size_t kMaxFileName = 255;

std::mutex& hook_lock() {
    static std::mutex lock;
    return lock;
}

SaveFileHook& hook() {
    static SaveFileHook installed;
    return installed;
}

bool forbidden_in_name(unsigned char c) {
    if (c < 0x20 || c == 0x7f) return true;
    switch (c) {
        case '/': case '\\': case '<': case '>': case ':': case '"': case '|': case '?': case '*':
            return true;
        default:
            return false;
    }
}

std::string lower(std::string_view text) {
    std::string out(text);
    for (char& c : out)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return out;
}

// The offered name (local code page) as the file system names files: UTF-8.
// A byte the code page does not define becomes '_'.
std::string local_to_utf8(std::string_view local) {
    std::string out;
    out.reserve(local.size() * 2);
    for (const char ch : local) {
        const auto c = static_cast<unsigned char>(ch);
        if (c < 0x80) {
            out += ch;
            continue;
        }
        unsigned char converted[4];
        const long n = codepage_convert(kLocalCodePage, kUtf8, {&c, 1}, converted);
        if (n <= 0) out += '_';
        else out.append(reinterpret_cast<const char*>(converted), static_cast<std::size_t>(n));
    }
    return out;
}

bool has_display() {
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY"}) {
        const char* value = std::getenv(name);
        if (value != nullptr && value[0] != '\0') return true;
    }
    return false;
}

// Drops bytes from the end of a UTF-8 name until it is at most max bytes of
// whole characters, then the dots and blanks a name may not end in.
void shorten_utf8(std::string& name, std::size_t max) {
    if (name.size() <= max) return;
    name.resize(max);
    // A character cut in two goes whole.
    std::size_t keep = name.size();
    while (keep > 0 && (static_cast<unsigned char>(name[keep - 1]) & 0xc0) == 0x80) --keep;
    if (keep > 0 && static_cast<unsigned char>(name[keep - 1]) >= 0xc0) {
        const auto lead = static_cast<unsigned char>(name[keep - 1]);
        const std::size_t length = lead >= 0xf0 ? 4 : lead >= 0xe0 ? 3 : 2;
        if (name.size() - (keep - 1) < length) name.resize(keep - 1);
    }
    while (!name.empty() && (name.back() == ' ' || name.back() == '.')) name.pop_back();
    if (name.empty()) name = "_";
}

// The folder's answer: folder, '/', the safe name and the default extension
// when it has none, the name shortened (extension kept) so that it fits a
// file name and the whole path stays a path the system can hold.
SaveFileAnswer answer_from_folder(const std::string& folder, const SaveFileQuestion& question) {
    struct stat st {};
    if (::stat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode))
        return {std::nullopt,
                std::string("save refused: ") + kSaveDirEnv + " [" + folder + "] is not a folder",
                true};
    std::string name = local_to_utf8(SafeFileName(question.file_name));
    if (name.empty())
        return {std::nullopt,
                std::string("save refused: no usable file name offered for ") + kSaveDirEnv, true};
    std::string extension;
    if (!HasFilterExtension(name, question.filter)) {
        const std::string safe_ext = SafeFileName(question.default_extension);
        if (!safe_ext.empty()) extension = "." + safe_ext;
    } else {
        const std::size_t dot = name.rfind('.');
        extension = name.substr(dot);
        name.erase(dot);
    }
    std::string prefix = folder;
    if (prefix.back() != '/') prefix += '/';
    // Leaves room for the path layer's limit; a folder too long for any name
    // is answered as it is and its write fails with the caller's error.
    std::size_t room = kMaxFileName > extension.size() ? kMaxFileName - extension.size() : 1;
    const std::size_t fixed = prefix.size() + extension.size();
    if (fixed + 1 < kMaxPath) room = std::min(room, kMaxPath - 1 - fixed);
    shorten_utf8(name, room);
    std::string path = prefix + name + extension;
    std::string note = "saved unattended to [" + path + "] (" + kSaveDirEnv + ")";
    struct stat existing {};
    if (::lstat(path.c_str(), &existing) == 0) note += ", the file there replaced";
    return {std::move(path), std::move(note)};
}

// The user's answer in the dialog library's file picker.
SaveFileAnswer answer_from_picker(const SaveFileQuestion& question) {
    const Module library = module_load(kSaveFileLibrary);
    if (!library) return {std::nullopt, "save cancelled: the dialog library could not be loaded"};
    const auto entry = reinterpret_cast<SaveFileEntry>(module_symbol(library, kSaveFileEntry));
    if (entry == nullptr)
        return {std::nullopt, "save cancelled: the dialog library has no file picker"};
    char path[kMaxPath] = {};
    const std::uint32_t flags =
        kSaveHideReadOnly | (question.overwrite_prompt ? kSaveOverwritePrompt : 0);
    const std::int32_t n =
        entry(question.title.c_str(), question.filter.c_str(), question.filter_index,
              question.default_extension.c_str(), question.file_name.c_str(), flags, path,
              static_cast<std::int32_t>(sizeof path));
    if (n <= 0 || static_cast<std::size_t>(n) >= sizeof path)
        return {std::nullopt, "save cancelled in the file picker (or no picker could be shown)"};
    std::string chosen(path, static_cast<std::size_t>(n));
    std::string note = "chosen in the file picker: [" + chosen + "]";
    return {std::move(chosen), std::move(note)};
}

}  // namespace

std::string SafeFileName(std::string_view offered) {
    std::string out;
    out.reserve(offered.size());
    for (const char ch : offered) {
        const auto c = static_cast<unsigned char>(ch);
        const char kept = forbidden_in_name(c) ? '_' : ch;
        if (kept == '.' && !out.empty() && out.back() == '.') continue;
        out += kept;
    }
    std::size_t first = 0;
    while (first < out.size() && (out[first] == '.' || out[first] == ' ')) ++first;
    out.erase(0, first);
    while (!out.empty() && (out.back() == '.' || out.back() == ' ')) out.pop_back();
    return out;
}

bool HasFilterExtension(std::string_view file_name, std::string_view filter) {
    const std::size_t dot = file_name.rfind('.');
    if (dot == std::string_view::npos || dot == 0 || dot + 1 == file_name.size()) return false;
    const std::string ext = lower(file_name.substr(dot + 1));
    // Patterns are every second field: name|pattern|name|pattern||.
    bool is_pattern = false;
    for (std::size_t at = 0; at <= filter.size();) {
        std::size_t bar = filter.find('|', at);
        if (bar == std::string_view::npos) bar = filter.size();
        if (is_pattern) {
            const std::string_view patterns = filter.substr(at, bar - at);
            for (std::size_t p = 0; p <= patterns.size();) {
                std::size_t semi = patterns.find(';', p);
                if (semi == std::string_view::npos) semi = patterns.size();
                const std::string_view one = patterns.substr(p, semi - p);
                if (one.size() > 2 && one.substr(0, 2) == "*." && lower(one.substr(2)) == ext &&
                    one.substr(2) != "*")
                    return true;
                p = semi + 1;
            }
        }
        is_pattern = !is_pattern;
        at = bar + 1;
    }
    return false;
}

SaveFileHook SetSaveFileHook(SaveFileHook next) {
    const std::lock_guard guard(hook_lock());
    return std::exchange(hook(), std::move(next));
}

SaveFileAnswer AskSaveFileName(const SaveFileQuestion& question) {
    try {
        SaveFileHook answering;
        {
            const std::lock_guard guard(hook_lock());
            answering = hook();
        }
        if (answering) {
            std::optional<std::string> path = answering(question);
            return {std::move(path), "answered by the test hook"};
        }
        const char* folder = std::getenv(kSaveDirEnv);
        if (folder != nullptr && folder[0] != '\0') return answer_from_folder(folder, question);
        if (!has_display())
            return {std::nullopt, std::string("save cancelled: no display to ask on, and ") +
                                      kSaveDirEnv + " names no folder"};
        return answer_from_picker(question);
    } catch (...) {
        return {std::nullopt, "save cancelled: the question could not be asked"};
    }
}

}  // namespace cadb
