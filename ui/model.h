// A dialog as a model that knows no toolkit: its controls keyed by their ids,
// their values and enabling, the rules that tie them together, and the result
// it closes with. Renderers (the scripted driver, the GTK windows) only show
// a model and feed it the user's actions.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace gorget {

// Button ids and message-box results of the system's dialogs.
enum : int { IDOK = 1, IDCANCEL = 2, IDRETRY = 4, IDYES = 6, IDNO = 7 };

// Message-box types: buttons in the low nibble, icon in the next, default
// button above.
enum : unsigned {
    MB_OK = 0x0,
    MB_OKCANCEL = 0x1,
    MB_YESNOCANCEL = 0x3,
    MB_RETRYCANCEL = 0x5,
    MB_YESNO = 0x4,
    MB_ICONSTOP = 0x10,
    MB_ICONQUESTION = 0x20,
    MB_ICONEXCLAMATION = 0x30,
    MB_ICONINFORMATION = 0x40,
    MB_DEFBUTTON2 = 0x100,
};

// The result a box gives when nobody can answer it: the refusing button.
int message_box_cancel_result(unsigned type);

enum class Kind {
    label,     // static text
    edit,      // one-line text entry
    password,  // one-line entry that hides what is typed
    button,
    list,         // choice among items
    spin,         // number within [min, max]
    progress,     // bar: value within [0, max]
    text,         // read-only multi-line text
    key_catcher,  // a field that takes keys and mouse events as events
    tabs,         // page selector: items are the page titles
    tree,         // items in a hierarchy, listed as they are expanded
};

// One item of a tree. Items are only ever appended, until the tree is filled
// anew, so an item's index names it for as long as it is shown.
struct TreeNode {
    std::string text;     // UTF-8
    int parent = -1;      // index of the item it hangs under, -1 at the top
    bool leaf = false;    // can have no items under it
    bool listed = false;  // the items under it were listed (it was expanded)
};

struct Control {
    int id = 0;
    Kind kind = Kind::label;
    std::string text;   // UTF-8
    std::string label;  // shown before the control, UTF-8
    int row = 0;        // layout row; buttons with row -1 form the button bar
    bool enabled = true;
    std::size_t max_chars = 0;  // entry limit in characters, 0 for none
    int min = 0, max = 0, value = 0;
    std::vector<std::string> items;
    int selected = -1;
    std::vector<TreeNode> nodes;  // tree: its items
    std::uint64_t fills = 0;      // tree: counts the fills that replaced every item
};

// A model made in another library runs in this library's renderer only when
// both were built from the same records: the sizes catch a changed record,
// the version in the top byte a changed set of virtual members.
inline constexpr std::uint32_t kDialogModelAbi =
    (1u << 24) | (std::uint32_t(sizeof(Control)) << 12) | std::uint32_t(sizeof(TreeNode));

// What a dialog asks of the place it is shown in.
class Host {
  public:
    virtual ~Host() = default;
    virtual int message_box(const std::string& text, const std::string& caption, unsigned type) = 0;
    // A folder chosen by the user (a Linux path), or nothing: the picker's
    // window text, the note shown above its folders, the folder it starts in.
    virtual std::optional<std::string> browse_folder(const std::string& caption,
                                                     const std::string& note,
                                                     const std::string& start) = 0;
    // A file to save to, or nothing.
    struct SaveRequest {
        std::string title, filter, default_extension, proposed_name;
        bool overwrite_prompt = false;  // the picker confirms replacing a file
        int filter_index = 1;           // the filter shown first, from 1
    };
    virtual std::optional<std::string> save_file(const SaveRequest& request) = 0;
};

class Dialog {
  public:
    Dialog(int template_id, std::string caption);
    virtual ~Dialog() = default;
    Dialog(const Dialog&) = delete;
    Dialog& operator=(const Dialog&) = delete;

    int template_id() const { return template_id_; }
    const std::string& caption() const { return caption_; }
    // False while the whole dialog is disabled (waiting for something).
    bool active() const { return active_; }
    const std::vector<Control>& controls() const { return controls_; }
    const Control* find(int id) const;
    // Milliseconds between timer ticks, 0 for no timer.
    virtual int timer_interval_ms() const { return 0; }
    // The renderer is about to show the dialog: it fills what it shows from
    // the machine here (once), so a dialog nobody can show asks nothing.
    void open();

    // The user's actions. Each refuses what the control or its enabling does
    // not allow, and reports whether it was taken.
    bool type(int id, std::string_view utf8);  // characters appended one by one
    bool replace_text(int id, std::string_view utf8);
    bool press(int id);
    bool select(int id, int index);
    bool set_value(int id, int value);
    // Lists the items under a tree item the first time it is expanded.
    bool expand(int id, int index);
    void close();  // the window's close box: Cancel
    virtual void key(unsigned ch, std::uint32_t time_ms);
    virtual void mouse_move(std::uint32_t time_ms);
    virtual void mouse_button(std::uint32_t time_ms);
    virtual void tick() {}

    // Whether a character may be added to an entry holding text: the limit
    // and the caller's code page decide.
    bool accepts(int id, std::string_view text, std::string_view ch) const;

    bool finished() const { return finished_; }
    int result() const { return result_; }
    void attach(Host* host) { host_ = host; }
    // Wipes what was typed into the entries (passwords, PINs).
    void wipe_entries();
    // Counts every change, so a renderer knows when to show the model again.
    std::uint64_t revision() const { return revision_; }

  protected:
    Control& add(Control c);
    Control& at(int id);
    void set_caption(std::string caption);
    void set_active(bool on);
    void enable(int id, bool on);
    void set_text(int id, std::string utf8);
    // A list's items anew, with the one selected (-1: none).
    void set_items(int id, std::vector<std::string> items, int selected);
    // Empties a tree (a new fill), or adds an item to it and returns its
    // index.
    void clear_nodes(int id);
    int add_node(int id, int parent, std::string utf8, bool leaf);
    void finish(int result);
    void touch() { ++revision_; }
    Host& host();
    // Rules: a control's value changed; a button was pressed; the dialog is
    // being closed without a button (by default: Cancel).
    virtual void changed(int /*id*/) {}
    virtual void command(int id) = 0;
    virtual void opening() {}
    // A tree item is expanded for the first time: add the items under it.
    virtual void expanding(int /*id*/, int /*index*/) {}
    virtual void closing() { finish(IDCANCEL); }

  private:
    int template_id_;
    std::string caption_;
    std::vector<Control> controls_;
    bool active_ = true;
    bool opened_ = false;
    bool finished_ = false;
    int result_ = 0;
    std::uint64_t revision_ = 0;
    Host* host_ = nullptr;
};

}  // namespace gorget
