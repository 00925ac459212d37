// The scripted driver: tests queue scripts that play the user's part in the
// next dialogs (type into control N, press button M, read back what is
// enabled) and answers for the boxes and pickers the dialogs open. The same
// script runs on the models directly or, under a display, on real windows.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "ui/model.h"

namespace gorget {

// What a script can do to the dialog it plays.
class DialogHandle {
  public:
    virtual ~DialogHandle() = default;
    virtual int template_id() = 0;
    virtual std::string caption() = 0;
    virtual bool finished() = 0;
    virtual bool active() = 0;

    virtual bool type(int id, const std::string& utf8) = 0;
    virtual bool replace(int id, const std::string& utf8) = 0;
    virtual bool press(int id) = 0;
    virtual bool select(int id, int index) = 0;
    virtual bool set_value(int id, int value) = 0;
    // Expands tree item index of control id (as clicking its expander).
    virtual bool expand(int id, int index) = 0;
    virtual void close() = 0;
    virtual void key(unsigned ch, std::uint32_t time_ms) = 0;
    virtual void mouse_move(std::uint32_t time_ms) = 0;
    virtual void mouse_button(std::uint32_t time_ms) = 0;
    virtual void tick() = 0;

    virtual bool enabled(int id) = 0;
    virtual std::string text(int id) = 0;
    virtual int value(int id) = 0;
    virtual int max(int id) = 0;
    virtual int selected(int id) = 0;
    virtual std::vector<std::string> items(int id) = 0;
    virtual std::vector<TreeNode> nodes(int id) = 0;
    // Writes a picture of the window (real windows only).
    virtual void screenshot(const std::string& name) = 0;
};

using Script = std::function<void(DialogHandle&)>;

namespace driver {

enum class Mode {
    automatic,  // windows when a display opens, else refused
    models,     // scripts play the models; nothing is drawn
    windows,    // scripts play real GTK windows (refused without a display)
};

// Chooses the renderer and forgets every queued script, answer and record.
void use(Mode mode);
Mode mode();

// A script for the next modal dialog. A dialog the script leaves open is
// cancelled and counted as a script failure.
void expect(Script script);
// Answers for the next boxes, folder pickers and save pickers, in order.
void answer_box(int result);
void answer_folder(std::optional<std::string> linux_path);
void answer_file(std::optional<std::string> linux_path);

struct BoxSeen {
    std::string text, caption;  // UTF-8
    unsigned type;
};
std::vector<BoxSeen> boxes_seen();
struct FileAsked {
    std::string title, proposed_name;  // UTF-8
};
std::vector<FileAsked> files_asked();
struct FolderAsked {
    std::string caption, note;  // UTF-8
};
std::vector<FolderAsked> folders_asked();
std::vector<int> dialogs_seen();
// Dialogs no script closed, and questions nobody had an answer for.
int failures();

// The modeless window shown last, while it is shown (else null).
DialogHandle* modeless();

// Directory the windows write their pictures to (empty: none).
void set_screenshot_dir(const std::string& dir);
std::string screenshot_dir();

}  // namespace driver

// For renderers: the script book the driver keeps.
namespace driver_book {
std::optional<Script> next_script();
void seen_dialog(int template_id);
void failed(const std::string& why);
bool has_box_answer();
int take_box(const std::string& text, const std::string& caption, unsigned type);
bool has_folder_answer();
std::optional<std::string> take_folder(const std::string& caption, const std::string& note);
bool has_file_answer();
std::optional<std::string> take_file(const std::string& title, const std::string& proposed_name);
void set_modeless(DialogHandle* handle);
}  // namespace driver_book

}  // namespace gorget
