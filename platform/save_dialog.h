// The save-file question, in place of the platform's common save dialog: a
// caller states what it would show (title, filter list, default extension,
// offered name) and gets back the path to write, or nothing when the user
// cancelled.
//
// Who answers, in this order:
// - a hook installed by tests (as the dialog library's scripted driver plays
//   its dialogs);
// - on machines where nobody can answer, the folder named by CADB_SAVE_DIR:
//   the answer is that folder plus the offered name made safe as one file
//   name (no separators, no "..", no control characters), with the default
//   extension added unless the name already ends in an extension the filter
//   offers ("example.com" becomes "example.com.cer"), shortened on whole
//   characters to the 255 bytes a file name may take; an existing file of
//   that name is replaced, as if the user had confirmed the overwrite
//   prompt. A folder that is not there, or a name that leaves no file name,
//   is refused (see SaveFileAnswer);
// - with a display, the user, in the dialog library's file picker;
// - otherwise nobody: the question is cancelled, and the answer's note says
//   why, for the caller's log.
//
// The question's texts are the system's narrow text (code page 1251); a
// filter is the list "Name|pattern|Name|pattern||". The answer is a file-
// system path as the operating system names files (UTF-8), so that a name
// in Cyrillic lands in the folder chosen under the name shown.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace cadb {

inline constexpr const char* kSaveDirEnv = "CADB_SAVE_DIR";

// With a display, the question goes to the file picker of the dialog
// library, through this entry: texts in code page 1251; flags as the
// platform's save dialog (kSaveOverwritePrompt asks before replacing a
// file). It writes the chosen path (a Linux path), terminated, into path
// (size bytes) and returns its length; 0 when cancelled or when the path
// would not fit.
inline constexpr const char* kSaveFileLibrary = "GorgetA.dll";
inline constexpr const char* kSaveFileEntry = "GorgetSaveFileA";
inline constexpr std::uint32_t kSaveOverwritePrompt = 0x2;
inline constexpr std::uint32_t kSaveHideReadOnly = 0x4;
using SaveFileEntry = std::int32_t (*)(const char* title, const char* filter,
                                       std::int32_t filter_index, const char* default_extension,
                                       const char* file_name, std::uint32_t flags, char* path,
                                       std::int32_t size);

struct SaveFileQuestion {
    std::string title;
    std::string filter;
    int filter_index = 1;           // 1-based, as the platform counts
    std::string default_extension;  // without the dot
    std::string file_name;          // offered; may be empty
    bool overwrite_prompt = false;
};

struct SaveFileAnswer {
    std::optional<std::string> path;  // nothing: cancelled, or refused
    std::string note;                 // how the answer came, or why none did
    // No path because the answer set up for the machine cannot be used
    // (CADB_SAVE_DIR is no folder, or the offered name makes no file name):
    // nothing is saved, and the caller reports a failure, not a cancel.
    bool refused = false;
};

// Asks the question (see above). Never throws.
SaveFileAnswer AskSaveFileName(const SaveFileQuestion& question);

// A test's answer: the path, or nothing for Cancel.
using SaveFileHook = std::function<std::optional<std::string>(const SaveFileQuestion&)>;
// Installs hook for every later question (an empty one removes it) and
// returns the one it replaces.
SaveFileHook SetSaveFileHook(SaveFileHook hook);

// The offered name as one file name inside a folder: separators ('/', '\'),
// control characters and the characters file names may not hold on the
// system (<>:"|?*) become '_', runs of dots become one dot, leading dots and
// blanks and trailing dots and blanks go. Empty when nothing is left.
std::string SafeFileName(std::string_view offered);

// Whether the file name ends in an extension one of the filter's patterns
// names ("*.der", "*.pem;*.cer"), letters compared without case; "*.*"
// names none.
bool HasFilterExtension(std::string_view file_name, std::string_view filter);

}  // namespace cadb
