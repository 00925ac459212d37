// The GTK windows: one user-interface thread owned by the library runs GTK's
// main loop; every window, every widget call and every model rule a window
// triggers runs there. Callers on other threads hand work over and wait.
#include <gtk/gtk.h>

#include <cmath>
#include <condition_variable>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>

#include "ui/driver.h"
#include "ui/log.h"
#include "ui/renderer.h"

namespace gorget {
namespace {

class UiThread {
  public:
    // Starts the thread once; false when GTK cannot open the display.
    bool ready() {
        std::unique_lock guard(lock_);
        if (state_ == State::unstarted) {
            state_ = State::starting;
            std::thread([this] { loop(); }).detach();
        }
        started_.wait(guard, [this] { return state_ != State::starting; });
        return state_ == State::running;
    }

    bool here() const { return std::this_thread::get_id() == id_; }

    // Runs f on the user-interface thread and waits for it.
    void invoke(const std::function<void()>& f) {
        if (here()) {
            f();
            return;
        }
        Call call{f};
        g_main_context_invoke(nullptr, &UiThread::trampoline, &call);
        std::unique_lock guard(call.lock);
        call.cv.wait(guard, [&] { return call.done; });
    }

  private:
    enum class State { unstarted, starting, running, failed };
    struct Call {
        const std::function<void()>& f;
        std::mutex lock;
        std::condition_variable cv;
        bool done = false;
    };

    static gboolean trampoline(gpointer data) {
        auto* call = static_cast<Call*>(data);
        call->f();
        const std::lock_guard guard(call->lock);
        call->done = true;
        call->cv.notify_all();
        return G_SOURCE_REMOVE;
    }

    void loop() {
        id_ = std::this_thread::get_id();
        // The host's locale is not ours to change.
        gtk_disable_setlocale();
        const bool ok = gtk_init_check(nullptr, nullptr);
        // Scripted windows are pictured at once: no state change may still
        // be fading in.
        if (ok && driver::mode() == driver::Mode::windows)
            g_object_set(gtk_settings_get_default(), "gtk-enable-animations", FALSE, nullptr);
        {
            const std::lock_guard guard(lock_);
            state_ = ok ? State::running : State::failed;
        }
        started_.notify_all();
        if (ok) gtk_main();
    }

    std::mutex lock_;
    std::condition_variable started_;
    State state_ = State::unstarted;
    std::thread::id id_;
};

// Never destroyed: the thread runs until the process ends.
UiThread& ui() {
    static UiThread* t = new UiThread;
    return *t;
}

GtkMessageType message_icon(unsigned type) {
    switch (type & 0xF0) {
        case MB_ICONSTOP:
            return GTK_MESSAGE_ERROR;
        case MB_ICONQUESTION:
            return GTK_MESSAGE_QUESTION;
        case MB_ICONEXCLAMATION:
            return GTK_MESSAGE_WARNING;
        case MB_ICONINFORMATION:
            return GTK_MESSAGE_INFO;
        default:
            return GTK_MESSAGE_OTHER;
    }
}

// A real box, on the user-interface thread.
int show_box(GtkWindow* owner, const std::string& text, const std::string& caption, unsigned type) {
    GtkWidget* box = gtk_message_dialog_new(owner, GTK_DIALOG_MODAL, message_icon(type),
                                            GTK_BUTTONS_NONE, "%s", text.c_str());
    gtk_window_set_title(GTK_WINDOW(box), caption.c_str());
    gtk_window_set_keep_above(GTK_WINDOW(box), TRUE);
    switch (type & 0xF) {
        case MB_YESNO:
            gtk_dialog_add_buttons(GTK_DIALOG(box), "Да", IDYES, "Нет", IDNO, nullptr);
            gtk_dialog_set_default_response(GTK_DIALOG(box), (type & MB_DEFBUTTON2) ? IDNO : IDYES);
            break;
        case MB_RETRYCANCEL:
            gtk_dialog_add_buttons(GTK_DIALOG(box), "Повтор", IDRETRY, "Отмена", IDCANCEL, nullptr);
            break;
        case MB_OKCANCEL:
            gtk_dialog_add_buttons(GTK_DIALOG(box), "OK", IDOK, "Отмена", IDCANCEL, nullptr);
            break;
        case MB_YESNOCANCEL:
            gtk_dialog_add_buttons(GTK_DIALOG(box), "Да", IDYES, "Нет", IDNO, "Отмена", IDCANCEL,
                                   nullptr);
            break;
        default:
            gtk_dialog_add_buttons(GTK_DIALOG(box), "OK", IDOK, nullptr);
    }
    const int r = gtk_dialog_run(GTK_DIALOG(box));
    gtk_widget_destroy(box);
    return r > 0 ? r : message_box_cancel_result(type);
}

std::optional<std::string> pick(GtkWindow* owner, GtkFileChooserAction action,
                                const std::string& title, const std::string& start,
                                const Host::SaveRequest* save, const std::string& note = {}) {
    GtkWidget* chooser =
        gtk_file_chooser_dialog_new(title.c_str(), owner, action, "Отмена", GTK_RESPONSE_CANCEL,
                                    "OK", GTK_RESPONSE_ACCEPT, nullptr);
    if (!note.empty())
        gtk_file_chooser_set_extra_widget(GTK_FILE_CHOOSER(chooser),
                                          gtk_label_new(note.c_str()));
    if (!start.empty())
        gtk_file_chooser_set_current_folder(GTK_FILE_CHOOSER(chooser), start.c_str());
    if (save != nullptr) {
        gtk_file_chooser_set_current_name(GTK_FILE_CHOOSER(chooser), save->proposed_name.c_str());
        gtk_file_chooser_set_do_overwrite_confirmation(GTK_FILE_CHOOSER(chooser),
                                                       save->overwrite_prompt);
        // "name|pattern|name|pattern||"
        std::string_view rest = save->filter;
        int index = 0;
        while (!rest.empty()) {
            const std::size_t a = rest.find('|');
            if (a == 0 || a == std::string_view::npos) break;
            const std::size_t b = rest.find('|', a + 1);
            const std::string name(rest.substr(0, a));
            const std::string pattern(rest.substr(
                a + 1, b == std::string_view::npos ? std::string_view::npos : b - a - 1));
            GtkFileFilter* f = gtk_file_filter_new();
            gtk_file_filter_set_name(f, name.c_str());
            gtk_file_filter_add_pattern(f, pattern.c_str());
            gtk_file_chooser_add_filter(GTK_FILE_CHOOSER(chooser), f);
            if (++index == save->filter_index)
                gtk_file_chooser_set_filter(GTK_FILE_CHOOSER(chooser), f);
            if (b == std::string_view::npos) break;
            rest = rest.substr(b + 1);
        }
    }
    std::optional<std::string> chosen;
    if (gtk_dialog_run(GTK_DIALOG(chooser)) == GTK_RESPONSE_ACCEPT) {
        if (gchar* name = gtk_file_chooser_get_filename(GTK_FILE_CHOOSER(chooser))) {
            chosen = name;
            g_free(name);
        }
    }
    gtk_widget_destroy(chooser);
    return chosen;
}

// One dialog on screen: the model, its widgets by control id, and the
// caller's wait for its end.
struct Window : public Host {
    explicit Window(Dialog& model) : d(model) {}
    Dialog& d;
    GtkWidget* win = nullptr;
    GtkWidget* body = nullptr;
    GtkWidget* header = nullptr;
    std::map<int, GtkWidget*> widgets;
    // What each list and tree shows, to bring them up to their models.
    std::map<int, std::vector<std::string>> list_items;
    struct TreeShown {
        GtkTreeStore* store = nullptr;
        std::uint64_t fills = 0;
        std::vector<GtkTreeIter> rows;  // by item index
        // The empty row under an item not listed yet, which gives it its
        // expander.
        std::vector<std::optional<GtkTreeIter>> placeholders;
    };
    std::map<int, TreeShown> trees;
    std::uint64_t shown = ~std::uint64_t{0};
    bool syncing = false;
    guint timer = 0;
    std::mutex lock;
    std::condition_variable ended;
    bool done = false;

    // Host: scripted answers first, else the user.
    int message_box(const std::string& text, const std::string& caption, unsigned type) override {
        if (driver_book::has_box_answer()) return driver_book::take_box(text, caption, type);
        return show_box(GTK_WINDOW(win), text, caption, type);
    }
    std::optional<std::string> browse_folder(const std::string& caption, const std::string& note,
                                             const std::string& start) override {
        if (driver_book::has_folder_answer()) return driver_book::take_folder(caption, note);
        return pick(GTK_WINDOW(win), GTK_FILE_CHOOSER_ACTION_SELECT_FOLDER, caption, start, nullptr,
                    note);
    }
    std::optional<std::string> save_file(const SaveRequest& request) override {
        if (driver_book::has_file_answer())
            return driver_book::take_file(request.title, request.proposed_name);
        return pick(GTK_WINDOW(win), GTK_FILE_CHOOSER_ACTION_SAVE, request.title, "", &request);
    }
};

GtkWidget* widget(Window& w, int id) {
    const auto it = w.widgets.find(id);
    return it == w.widgets.end() ? nullptr : it->second;
}

void set_entry_text(GtkWidget* e, const std::string& text) {
    if (text != gtk_entry_get_text(GTK_ENTRY(e))) gtk_entry_set_text(GTK_ENTRY(e), text.c_str());
}

// The first field that takes typing, for the keyboard focus.
void focus_first_field(Window& w) {
    for (const Control& c : w.d.controls()) {
        GtkWidget* g = widget(w, c.id);
        if (g != nullptr && GTK_IS_ENTRY(g) && c.enabled) {
            gtk_widget_grab_focus(g);
            return;
        }
    }
}

enum TreeColumn : int { kTextColumn, kIndexColumn };

void sync_list(Window& w, GtkWidget* g, const Control& c) {
    std::vector<std::string>& shown = w.list_items[c.id];
    if (shown != c.items) {
        gtk_combo_box_text_remove_all(GTK_COMBO_BOX_TEXT(g));
        for (const std::string& item : c.items)
            gtk_combo_box_text_append_text(GTK_COMBO_BOX_TEXT(g), item.c_str());
        shown = c.items;
    }
    if (gtk_combo_box_get_active(GTK_COMBO_BOX(g)) != c.selected)
        gtk_combo_box_set_active(GTK_COMBO_BOX(g), c.selected);
}

// Items are only appended between fills: rows are added for the new ones,
// and the placeholder goes from under each item that was listed.
void sync_tree(Window& w, GtkWidget* g, const Control& c) {
    Window::TreeShown& t = w.trees[c.id];
    if (t.fills != c.fills) {
        gtk_tree_store_clear(t.store);
        t.rows.clear();
        t.placeholders.clear();
        t.fills = c.fills;
    }
    for (std::size_t i = t.rows.size(); i < c.nodes.size(); ++i) {
        const TreeNode& node = c.nodes[i];
        GtkTreeIter row;
        GtkTreeIter* parent =
            node.parent >= 0 && std::size_t(node.parent) < i ? &t.rows[std::size_t(node.parent)]
                                                             : nullptr;
        gtk_tree_store_insert_with_values(t.store, &row, parent, -1, kTextColumn,
                                          node.text.c_str(), kIndexColumn, int(i), -1);
        t.rows.push_back(row);
        t.placeholders.emplace_back();
        if (!node.leaf && !node.listed) {
            GtkTreeIter placeholder;
            gtk_tree_store_insert_with_values(t.store, &placeholder, &row, -1, kTextColumn, "",
                                              kIndexColumn, -1, -1);
            t.placeholders.back() = placeholder;
        }
    }
    for (std::size_t i = 0; i < c.nodes.size(); ++i) {
        if (c.nodes[i].listed && t.placeholders[i]) {
            gtk_tree_store_remove(t.store, &*t.placeholders[i]);
            t.placeholders[i].reset();
        }
    }
    GtkTreeSelection* selection = gtk_tree_view_get_selection(GTK_TREE_VIEW(g));
    if (c.selected >= 0 && std::size_t(c.selected) < t.rows.size())
        gtk_tree_selection_select_iter(selection, &t.rows[std::size_t(c.selected)]);
    else
        gtk_tree_selection_unselect_all(selection);
}

// The model's index of a tree row; -1 for a placeholder.
int tree_index(GtkTreeModel* model, GtkTreeIter* row) {
    int index = -1;
    gtk_tree_model_get(model, row, kIndexColumn, &index, -1);
    return index;
}

// Shows the model again when it changed.
void sync(Window& w) {
    if (w.d.revision() == w.shown) return;
    w.syncing = true;
    const bool woke = w.d.active() && !gtk_widget_get_sensitive(w.body);
    gtk_window_set_title(GTK_WINDOW(w.win), w.d.caption().c_str());
    gtk_header_bar_set_title(GTK_HEADER_BAR(w.header), w.d.caption().c_str());
    gtk_widget_set_sensitive(w.body, w.d.active());
    for (const Control& c : w.d.controls()) {
        GtkWidget* g = widget(w, c.id);
        if (g == nullptr) continue;
        gtk_widget_set_sensitive(g, c.enabled);
        switch (c.kind) {
            case Kind::label:
                gtk_label_set_text(GTK_LABEL(g), c.text.c_str());
                break;
            case Kind::edit:
            case Kind::password:
                set_entry_text(g, c.text);
                break;
            case Kind::button:
                gtk_button_set_label(GTK_BUTTON(g), c.text.c_str());
                break;
            case Kind::list:
                sync_list(w, g, c);
                break;
            case Kind::tree:
                sync_tree(w, g, c);
                break;
            case Kind::spin:
                gtk_spin_button_set_value(GTK_SPIN_BUTTON(g), c.value);
                break;
            case Kind::progress:
                gtk_progress_bar_set_fraction(
                    GTK_PROGRESS_BAR(g), c.max > 0 ? std::min(1.0, double(c.value) / c.max) : 0);
                break;
            case Kind::text: {
                GtkTextBuffer* b = gtk_text_view_get_buffer(GTK_TEXT_VIEW(g));
                gtk_text_buffer_set_text(b, c.text.c_str(), -1);
                break;
            }
            case Kind::tabs:
                if (gtk_notebook_get_current_page(GTK_NOTEBOOK(g)) != c.selected)
                    gtk_notebook_set_current_page(GTK_NOTEBOOK(g), c.selected);
                break;
            case Kind::key_catcher:
                break;
        }
    }
    if (woke) focus_first_field(w);
    w.shown = w.d.revision();
    w.syncing = false;
}

void after_action(Window& w) {
    sync(w);
    if (!w.d.finished()) return;
    if (w.timer != 0) {
        g_source_remove(w.timer);
        w.timer = 0;
    }
    const std::lock_guard guard(w.lock);
    w.done = true;
    w.ended.notify_all();
}

int control_id(GtkWidget* g) { return GPOINTER_TO_INT(g_object_get_data(G_OBJECT(g), "id")); }

void on_clicked(GtkButton* b, gpointer data) {
    auto& w = *static_cast<Window*>(data);
    w.d.press(control_id(GTK_WIDGET(b)));
    after_action(w);
}

void on_insert(GtkEditable* e, const gchar* text, gint length, gint*, gpointer data) {
    auto& w = *static_cast<Window*>(data);
    if (w.syncing) return;
    std::string current = gtk_entry_get_text(GTK_ENTRY(e));
    const std::string added(text, length < 0 ? std::strlen(text) : std::size_t(length));
    // Refused characters are not typed at all.
    if (!w.d.accepts(control_id(GTK_WIDGET(e)), current, added))
        g_signal_stop_emission_by_name(e, "insert-text");
}

void on_changed(GtkEditable* e, gpointer data) {
    auto& w = *static_cast<Window*>(data);
    if (w.syncing) return;
    w.d.replace_text(control_id(GTK_WIDGET(e)), gtk_entry_get_text(GTK_ENTRY(e)));
    after_action(w);
}

void on_combo(GtkComboBox* c, gpointer data) {
    auto& w = *static_cast<Window*>(data);
    if (w.syncing) return;
    w.d.select(control_id(GTK_WIDGET(c)), gtk_combo_box_get_active(c));
    after_action(w);
}

void on_spin(GtkSpinButton* s, gpointer data) {
    auto& w = *static_cast<Window*>(data);
    if (w.syncing) return;
    w.d.set_value(control_id(GTK_WIDGET(s)), gtk_spin_button_get_value_as_int(s));
    after_action(w);
}

void on_page(GtkNotebook* n, GtkWidget*, guint page, gpointer data) {
    auto& w = *static_cast<Window*>(data);
    if (w.syncing) return;
    w.d.select(control_id(GTK_WIDGET(n)), static_cast<int>(page));
    after_action(w);
}

gboolean on_test_expand(GtkTreeView* view, GtkTreeIter* row, GtkTreePath*, gpointer data) {
    auto& w = *static_cast<Window*>(data);
    if (w.syncing) return FALSE;
    const int index = tree_index(gtk_tree_view_get_model(view), row);
    if (index >= 0) {
        w.d.expand(control_id(GTK_WIDGET(view)), index);
        after_action(w);
    }
    return FALSE;  // the row opens on what the model listed under it
}

void on_tree_selection(GtkTreeSelection* selection, gpointer data) {
    auto& w = *static_cast<Window*>(data);
    if (w.syncing) return;
    GtkTreeModel* model = nullptr;
    GtkTreeIter row;
    if (!gtk_tree_selection_get_selected(selection, &model, &row)) return;
    const int index = tree_index(model, &row);
    if (index < 0) return;
    GtkTreeView* view = gtk_tree_selection_get_tree_view(selection);
    w.d.select(control_id(GTK_WIDGET(view)), index);
    after_action(w);
}

gboolean on_key(GtkWidget*, GdkEventKey* ev, gpointer data) {
    auto& w = *static_cast<Window*>(data);
    unsigned ch;
    switch (ev->keyval) {
        case GDK_KEY_Escape:
            ch = 27;
            break;
        case GDK_KEY_Tab:
            return FALSE;  // focus moves on
        default:
            ch = gdk_keyval_to_unicode(ev->keyval);
    }
    if (ch == 0) ch = ev->keyval;
    w.d.key(ch, ev->time);
    after_action(w);
    return TRUE;
}

gboolean on_motion(GtkWidget*, GdkEventMotion* ev, gpointer data) {
    auto& w = *static_cast<Window*>(data);
    w.d.mouse_move(ev->time);
    after_action(w);
    return FALSE;
}

gboolean on_button(GtkWidget*, GdkEventButton* ev, gpointer data) {
    auto& w = *static_cast<Window*>(data);
    if (ev->type == GDK_BUTTON_PRESS && ev->button >= 1 && ev->button <= 3) {
        w.d.mouse_button(ev->time);
        after_action(w);
    }
    return FALSE;
}

gboolean on_delete(GtkWidget*, GdkEvent*, gpointer data) {
    auto& w = *static_cast<Window*>(data);
    w.d.close();
    after_action(w);
    return TRUE;  // the window goes when its caller is done with it
}

gboolean on_tick(gpointer data) {
    auto& w = *static_cast<Window*>(data);
    w.d.tick();
    if (w.d.finished()) w.timer = 0;
    after_action(w);
    return w.d.finished() ? G_SOURCE_REMOVE : G_SOURCE_CONTINUE;
}

GtkWidget* make_widget(Window& w, const Control& c) {
    GtkWidget* g = nullptr;
    switch (c.kind) {
        case Kind::label:
            g = gtk_label_new(c.text.c_str());
            gtk_label_set_xalign(GTK_LABEL(g), 0);
            gtk_label_set_line_wrap(GTK_LABEL(g), TRUE);
            break;
        case Kind::edit:
        case Kind::password:
            g = gtk_entry_new();
            gtk_entry_set_width_chars(GTK_ENTRY(g), 32);
            gtk_entry_set_visibility(GTK_ENTRY(g), c.kind == Kind::edit);
            g_signal_connect(g, "insert-text", G_CALLBACK(on_insert), &w);
            g_signal_connect(g, "changed", G_CALLBACK(on_changed), &w);
            break;
        case Kind::button:
            g = gtk_button_new_with_label(c.text.c_str());
            g_signal_connect(g, "clicked", G_CALLBACK(on_clicked), &w);
            break;
        case Kind::list:
            g = gtk_combo_box_text_new();
            for (const std::string& item : c.items)
                gtk_combo_box_text_append_text(GTK_COMBO_BOX_TEXT(g), item.c_str());
            gtk_combo_box_set_active(GTK_COMBO_BOX(g), c.selected);
            w.list_items[c.id] = c.items;
            g_signal_connect(g, "changed", G_CALLBACK(on_combo), &w);
            break;
        case Kind::tree: {
            Window::TreeShown& t = w.trees[c.id];
            t.store = gtk_tree_store_new(2, G_TYPE_STRING, G_TYPE_INT);
            t.fills = c.fills;
            g = gtk_tree_view_new_with_model(GTK_TREE_MODEL(t.store));
            g_object_unref(t.store);  // the view holds it
            gtk_tree_view_set_headers_visible(GTK_TREE_VIEW(g), FALSE);
            gtk_tree_view_insert_column_with_attributes(GTK_TREE_VIEW(g), -1, "",
                                                        gtk_cell_renderer_text_new(), "text",
                                                        kTextColumn, nullptr);
            g_signal_connect(g, "test-expand-row", G_CALLBACK(on_test_expand), &w);
            g_signal_connect(gtk_tree_view_get_selection(GTK_TREE_VIEW(g)), "changed",
                             G_CALLBACK(on_tree_selection), &w);
            break;
        }
        case Kind::spin:
            g = gtk_spin_button_new_with_range(c.min, c.max, 1);
            gtk_spin_button_set_value(GTK_SPIN_BUTTON(g), c.value);
            g_signal_connect(g, "value-changed", G_CALLBACK(on_spin), &w);
            break;
        case Kind::progress:
            g = gtk_progress_bar_new();
            gtk_widget_set_hexpand(g, TRUE);
            break;
        case Kind::text: {
            g = gtk_text_view_new();
            gtk_text_view_set_editable(GTK_TEXT_VIEW(g), FALSE);
            gtk_text_view_set_monospace(GTK_TEXT_VIEW(g), TRUE);
            break;
        }
        case Kind::key_catcher:
            g = gtk_entry_new();
            gtk_entry_set_width_chars(GTK_ENTRY(g), 4);
            g_signal_connect(g, "key-press-event", G_CALLBACK(on_key), &w);
            break;
        case Kind::tabs:
            g = gtk_notebook_new();
            for (const std::string& title : c.items)
                gtk_notebook_append_page(GTK_NOTEBOOK(g), gtk_box_new(GTK_ORIENTATION_VERTICAL, 0),
                                         gtk_label_new(title.c_str()));
            g_signal_connect(g, "switch-page", G_CALLBACK(on_page), &w);
            break;
    }
    g_object_set_data(G_OBJECT(g), "id", GINT_TO_POINTER(c.id));
    if (c.id != -1) w.widgets[c.id] = g;
    return g;
}

void build(Window& w, bool modal) {
    w.win = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    gtk_window_set_title(GTK_WINDOW(w.win), w.d.caption().c_str());
    // The caption drawn by the window itself, so pictures of it show it too.
    w.header = gtk_header_bar_new();
    gtk_header_bar_set_show_close_button(GTK_HEADER_BAR(w.header), TRUE);
    gtk_window_set_titlebar(GTK_WINDOW(w.win), w.header);
    gtk_window_set_position(GTK_WINDOW(w.win), GTK_WIN_POS_CENTER);
    gtk_window_set_resizable(GTK_WINDOW(w.win), FALSE);
    gtk_window_set_keep_above(GTK_WINDOW(w.win), TRUE);
    gtk_window_set_modal(GTK_WINDOW(w.win), modal);
    gtk_widget_add_events(w.win, GDK_POINTER_MOTION_MASK | GDK_BUTTON_PRESS_MASK);
    g_signal_connect(w.win, "delete-event", G_CALLBACK(on_delete), &w);
    g_signal_connect(w.win, "motion-notify-event", G_CALLBACK(on_motion), &w);
    g_signal_connect(w.win, "button-press-event", G_CALLBACK(on_button), &w);

    w.body = gtk_box_new(GTK_ORIENTATION_VERTICAL, 8);
    gtk_container_set_border_width(GTK_CONTAINER(w.body), 12);
    gtk_container_add(GTK_CONTAINER(w.win), w.body);
    std::map<int, GtkWidget*> rows;
    GtkWidget* buttons = gtk_button_box_new(GTK_ORIENTATION_HORIZONTAL);
    gtk_button_box_set_layout(GTK_BUTTON_BOX(buttons), GTK_BUTTONBOX_END);
    gtk_box_set_spacing(GTK_BOX(buttons), 6);
    for (const Control& c : w.d.controls()) {
        GtkWidget* g = make_widget(w, c);
        if (c.row < 0) {
            gtk_container_add(GTK_CONTAINER(buttons), g);
            continue;
        }
        GtkWidget*& row = rows[c.row];
        if (row == nullptr) {
            row = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 0);
            gtk_box_pack_start(GTK_BOX(w.body), row,
                               c.kind == Kind::text || c.kind == Kind::tree, TRUE, 0);
        }
        // Texts in one row read as one line; other controls keep apart.
        GList* in_row = gtk_container_get_children(GTK_CONTAINER(row));
        const bool first = in_row == nullptr;
        g_list_free(in_row);
        if (!c.label.empty()) {
            GtkWidget* l = gtk_label_new(c.label.c_str());
            gtk_label_set_xalign(GTK_LABEL(l), 0);
            gtk_widget_set_margin_end(l, 6);
            gtk_box_pack_start(GTK_BOX(row), l, FALSE, FALSE, 0);
        }
        if (c.kind == Kind::text || c.kind == Kind::tree) {
            GtkWidget* scroll = gtk_scrolled_window_new(nullptr, nullptr);
            if (c.kind == Kind::text)
                gtk_widget_set_size_request(scroll, 560, 360);
            else
                gtk_widget_set_size_request(scroll, 420, 280);
            gtk_scrolled_window_set_shadow_type(GTK_SCROLLED_WINDOW(scroll), GTK_SHADOW_IN);
            gtk_container_add(GTK_CONTAINER(scroll), g);
            g = scroll;
        }
        if (!first && c.kind != Kind::label) gtk_widget_set_margin_start(g, 6);
        const bool grow = c.kind != Kind::button && c.kind != Kind::label;
        gtk_box_pack_start(GTK_BOX(row), g, grow, grow, 0);
    }
    gtk_box_pack_end(GTK_BOX(w.body), buttons, FALSE, FALSE, 0);
    if (const int ms = w.d.timer_interval_ms(); ms > 0) w.timer = g_timeout_add(ms, on_tick, &w);
    sync(w);
    gtk_widget_show_all(w.win);
    focus_first_field(w);
    while (gtk_events_pending()) gtk_main_iteration();
}

void destroy(Window& w) {
    if (w.timer != 0) g_source_remove(w.timer);
    w.timer = 0;
    gtk_widget_destroy(w.win);
    w.win = nullptr;
    while (gtk_events_pending()) gtk_main_iteration();
}

void screenshot(Window& w, const std::string& name) {
    const std::string dir = driver::screenshot_dir();
    if (dir.empty() || w.win == nullptr) return;
    while (gtk_events_pending()) gtk_main_iteration();
    // A text change leaves a resize waiting for the next frame: lay out now.
    gtk_container_check_resize(GTK_CONTAINER(w.win));
    const int width = gtk_widget_get_allocated_width(w.win);
    const int height = gtk_widget_get_allocated_height(w.win);
    if (width <= 1 || height <= 1) return;
    cairo_surface_t* s = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, width, height);
    cairo_t* cr = cairo_create(s);
    gtk_widget_draw(w.win, cr);
    cairo_destroy(cr);
    std::filesystem::create_directories(dir);
    cairo_surface_write_to_png(s, (dir + "/" + name + ".png").c_str());
    cairo_surface_destroy(s);
}

GdkEvent* event_for(GtkWidget* g, GdkEventType type, std::uint32_t time_ms) {
    GdkEvent* ev = gdk_event_new(type);
    GdkWindow* gw = gtk_widget_get_window(g);
    GdkSeat* seat = gdk_display_get_default_seat(gtk_widget_get_display(g));
    switch (type) {
        case GDK_KEY_PRESS:
            ev->key.window = GDK_WINDOW(g_object_ref(gw));
            ev->key.time = time_ms;
            gdk_event_set_device(ev, gdk_seat_get_keyboard(seat));
            break;
        case GDK_MOTION_NOTIFY:
            ev->motion.window = GDK_WINDOW(g_object_ref(gw));
            ev->motion.time = time_ms;
            gdk_event_set_device(ev, gdk_seat_get_pointer(seat));
            break;
        default:
            ev->button.window = GDK_WINDOW(g_object_ref(gw));
            ev->button.time = time_ms;
            ev->button.button = 1;
            gdk_event_set_device(ev, gdk_seat_get_pointer(seat));
    }
    return ev;
}

// A script's hands on real widgets: every action goes through the widget,
// every answer is read back from it.
class WindowHandle : public DialogHandle {
  public:
    explicit WindowHandle(Window& w) : w_(w) {}
    int template_id() override { return w_.d.template_id(); }
    std::string caption() override {
        return on_ui([&] { return std::string(gtk_window_get_title(GTK_WINDOW(w_.win))); });
    }
    bool finished() override {
        return on_ui([&] { return w_.d.finished(); });
    }
    bool active() override {
        return on_ui([&] { return bool(gtk_widget_get_sensitive(w_.body)); });
    }
    bool type(int id, const std::string& s) override {
        return on_ui([&] {
            GtkWidget* g = widget(w_, id);
            if (g == nullptr || !GTK_IS_ENTRY(g) || !gtk_widget_is_sensitive(g)) return false;
            bool all = true;
            for (const std::string& ch : utf8_chars_of(s)) {
                const std::string before = gtk_entry_get_text(GTK_ENTRY(g));
                gint pos = static_cast<gint>(g_utf8_strlen(before.c_str(), -1));
                gtk_editable_insert_text(GTK_EDITABLE(g), ch.c_str(), -1, &pos);
                if (before == gtk_entry_get_text(GTK_ENTRY(g))) all = false;
            }
            return all;
        });
    }
    bool replace(int id, const std::string& s) override {
        return on_ui([&] {
            GtkWidget* g = widget(w_, id);
            if (g == nullptr || !GTK_IS_ENTRY(g) || !gtk_widget_is_sensitive(g)) return false;
            gtk_entry_set_text(GTK_ENTRY(g), s.c_str());
            return s == gtk_entry_get_text(GTK_ENTRY(g));
        });
    }
    bool press(int id) override {
        return on_ui([&] {
            GtkWidget* g = widget(w_, id);
            if (g == nullptr || !GTK_IS_BUTTON(g) || !gtk_widget_is_sensitive(g)) return false;
            gtk_button_clicked(GTK_BUTTON(g));
            return true;
        });
    }
    bool select(int id, int index) override {
        return on_ui([&] {
            GtkWidget* g = widget(w_, id);
            if (g == nullptr || !gtk_widget_is_sensitive(g)) return false;
            if (GTK_IS_TREE_VIEW(g)) {
                GtkTreePath* path = tree_path(id, index);
                if (path == nullptr) return false;
                gtk_tree_view_expand_to_path(GTK_TREE_VIEW(g), path);
                gtk_tree_view_set_cursor(GTK_TREE_VIEW(g), path, nullptr, FALSE);
                gtk_tree_path_free(path);
                return w_.d.find(id)->selected == index;
            }
            if (GTK_IS_NOTEBOOK(g))
                gtk_notebook_set_current_page(GTK_NOTEBOOK(g), index);
            else
                gtk_combo_box_set_active(GTK_COMBO_BOX(g), index);
            return true;
        });
    }
    bool set_value(int id, int v) override {
        return on_ui([&] {
            GtkWidget* g = widget(w_, id);
            if (g == nullptr || !GTK_IS_SPIN_BUTTON(g) || !gtk_widget_is_sensitive(g)) return false;
            gtk_spin_button_set_value(GTK_SPIN_BUTTON(g), v);
            return true;
        });
    }
    bool expand(int id, int index) override {
        return on_ui([&] {
            GtkWidget* g = widget(w_, id);
            if (g == nullptr || !GTK_IS_TREE_VIEW(g) || !gtk_widget_is_sensitive(g)) return false;
            GtkTreePath* path = tree_path(id, index);
            if (path == nullptr) return false;
            gtk_tree_view_expand_row(GTK_TREE_VIEW(g), path, FALSE);
            gtk_tree_path_free(path);
            const Control* c = w_.d.find(id);
            return !c->nodes[std::size_t(index)].leaf && c->nodes[std::size_t(index)].listed;
        });
    }
    void close() override {
        on_ui([&] {
            gtk_window_close(GTK_WINDOW(w_.win));
            while (gtk_events_pending()) gtk_main_iteration();
            return 0;
        });
    }
    void key(unsigned ch, std::uint32_t t) override {
        on_ui([&] {
            GtkWidget* g = catcher();
            if (g == nullptr) return 0;
            GdkEvent* ev = event_for(g, GDK_KEY_PRESS, t);
            ev->key.keyval = ch == 27 ? GDK_KEY_Escape : gdk_unicode_to_keyval(ch);
            gtk_widget_event(g, ev);
            gdk_event_free(ev);
            return 0;
        });
    }
    void mouse_move(std::uint32_t t) override { pointer(GDK_MOTION_NOTIFY, t); }
    void mouse_button(std::uint32_t t) override { pointer(GDK_BUTTON_PRESS, t); }
    void tick() override {
        on_ui([&] {
            w_.d.tick();
            after_action(w_);
            return 0;
        });
    }
    bool enabled(int id) override {
        return on_ui([&] {
            GtkWidget* g = widget(w_, id);
            return g != nullptr && gtk_widget_is_sensitive(g);
        });
    }
    std::string text(int id) override {
        return on_ui([&] {
            GtkWidget* g = widget(w_, id);
            if (g == nullptr) return std::string();
            if (GTK_IS_ENTRY(g)) return std::string(gtk_entry_get_text(GTK_ENTRY(g)));
            if (GTK_IS_LABEL(g)) return std::string(gtk_label_get_text(GTK_LABEL(g)));
            if (GTK_IS_BUTTON(g)) return std::string(gtk_button_get_label(GTK_BUTTON(g)));
            if (GTK_IS_TEXT_VIEW(g)) {
                GtkTextBuffer* b = gtk_text_view_get_buffer(GTK_TEXT_VIEW(g));
                GtkTextIter a, z;
                gtk_text_buffer_get_bounds(b, &a, &z);
                gchar* t = gtk_text_buffer_get_text(b, &a, &z, FALSE);
                std::string out(t);
                g_free(t);
                return out;
            }
            return std::string();
        });
    }
    int value(int id) override {
        return on_ui([&] {
            GtkWidget* g = widget(w_, id);
            if (g == nullptr) return 0;
            if (GTK_IS_SPIN_BUTTON(g)) return gtk_spin_button_get_value_as_int(GTK_SPIN_BUTTON(g));
            if (GTK_IS_PROGRESS_BAR(g)) {
                const Control* c = w_.d.find(id);
                return static_cast<int>(std::lround(
                    gtk_progress_bar_get_fraction(GTK_PROGRESS_BAR(g)) * (c ? c->max : 0)));
            }
            return 0;
        });
    }
    int max(int id) override {
        return on_ui([&] {
            const Control* c = w_.d.find(id);
            return c ? c->max : 0;
        });
    }
    int selected(int id) override {
        return on_ui([&] {
            GtkWidget* g = widget(w_, id);
            if (g == nullptr) return -1;
            if (GTK_IS_NOTEBOOK(g)) return gtk_notebook_get_current_page(GTK_NOTEBOOK(g));
            if (GTK_IS_TREE_VIEW(g)) {
                GtkTreeModel* model = nullptr;
                GtkTreeIter row;
                GtkTreeSelection* selection = gtk_tree_view_get_selection(GTK_TREE_VIEW(g));
                return gtk_tree_selection_get_selected(selection, &model, &row)
                           ? tree_index(model, &row)
                           : -1;
            }
            return gtk_combo_box_get_active(GTK_COMBO_BOX(g));
        });
    }
    std::vector<std::string> items(int id) override {
        return on_ui([&] {
            GtkWidget* g = widget(w_, id);
            std::vector<std::string> out;
            if (g == nullptr || !GTK_IS_COMBO_BOX(g)) return out;
            GtkTreeModel* model = gtk_combo_box_get_model(GTK_COMBO_BOX(g));
            GtkTreeIter row;
            for (bool more = gtk_tree_model_get_iter_first(model, &row); more;
                 more = gtk_tree_model_iter_next(model, &row)) {
                gchar* text = nullptr;
                gtk_tree_model_get(model, &row, 0, &text, -1);
                out.emplace_back(text != nullptr ? text : "");
                g_free(text);
            }
            return out;
        });
    }
    // The rows the tree shows, each at its item's index, with the parent
    // it is shown under.
    std::vector<TreeNode> nodes(int id) override {
        return on_ui([&] {
            std::vector<TreeNode> out;
            GtkWidget* g = widget(w_, id);
            const Control* c = w_.d.find(id);
            if (g == nullptr || !GTK_IS_TREE_VIEW(g) || c == nullptr) return out;
            out.resize(c->nodes.size());
            read_rows(gtk_tree_view_get_model(GTK_TREE_VIEW(g)), nullptr, -1, out);
            // Whether an item can ever have items under it, no row shows.
            for (std::size_t i = 0; i < out.size(); ++i) out[i].leaf = c->nodes[i].leaf;
            return out;
        });
    }
    void screenshot(const std::string& name) override {
        on_ui([&] {
            gorget::screenshot(w_, name);
            return 0;
        });
    }

  private:
    template <class F>
    auto on_ui(F f) -> decltype(f()) {
        decltype(f()) r{};
        ui().invoke([&] { r = f(); });
        return r;
    }
    // The path of a tree item's row, or null.
    GtkTreePath* tree_path(int id, int index) {
        const auto it = w_.trees.find(id);
        if (it == w_.trees.end() || index < 0 || std::size_t(index) >= it->second.rows.size())
            return nullptr;
        return gtk_tree_model_get_path(GTK_TREE_MODEL(it->second.store),
                                       &it->second.rows[std::size_t(index)]);
    }
    static void read_rows(GtkTreeModel* model, GtkTreeIter* parent, int parent_index,
                          std::vector<TreeNode>& out) {
        GtkTreeIter row;
        for (bool more = gtk_tree_model_iter_children(model, &row, parent); more;
             more = gtk_tree_model_iter_next(model, &row)) {
            const int index = tree_index(model, &row);
            if (index < 0 || std::size_t(index) >= out.size()) continue;
            gchar* text = nullptr;
            gtk_tree_model_get(model, &row, kTextColumn, &text, -1);
            TreeNode& node = out[std::size_t(index)];
            node.text = text != nullptr ? text : "";
            g_free(text);
            node.parent = parent_index;
            // An item with its placeholder still under it was not listed.
            GtkTreeIter first;
            node.listed = !gtk_tree_model_iter_children(model, &first, &row) ||
                          tree_index(model, &first) >= 0;
            read_rows(model, &row, index, out);
        }
    }
    static std::vector<std::string> utf8_chars_of(const std::string& s) {
        std::vector<std::string> out;
        for (const gchar* p = s.c_str(); *p != '\0'; p = g_utf8_next_char(p))
            out.emplace_back(p, g_utf8_next_char(p) - p);
        return out;
    }
    GtkWidget* catcher() {
        for (const Control& c : w_.d.controls())
            if (c.kind == Kind::key_catcher) return widget(w_, c.id);
        return nullptr;
    }
    void pointer(GdkEventType type, std::uint32_t t) {
        on_ui([&] {
            GdkEvent* ev = event_for(w_.win, type, t);
            gtk_widget_event(w_.win, ev);
            gdk_event_free(ev);
            return 0;
        });
    }
    Window& w_;
};

class GtkRenderer : public Renderer {
  public:
    void run(Dialog& d) override {
        driver_book::seen_dialog(d.template_id());
        Window w(d);
        d.attach(&w);
        if (ui().here()) {
            run_inside(w);
            d.attach(nullptr);
            return;
        }
        ui().invoke([&] {
            d.open();
            build(w, true);
            screenshot(w, "dialog-" + std::to_string(d.template_id()));
        });
        if (std::optional<Script> script = driver_book::next_script()) {
            WindowHandle handle(w);
            (*script)(handle);
            ui().invoke([&] {
                if (!d.finished()) {
                    driver_book::failed("dialog " + std::to_string(d.template_id()) +
                                        " left open by its script");
                    d.close();
                }
                after_action(w);
            });
        }
        {
            std::unique_lock guard(w.lock);
            w.ended.wait(guard, [&] { return w.done; });
        }
        ui().invoke([&] { destroy(w); });
        d.attach(nullptr);
    }

    int message_box(const std::string& text, const std::string& caption, unsigned type) override {
        if (driver_book::has_box_answer()) return driver_book::take_box(text, caption, type);
        int r = 0;
        ui().invoke([&] { r = show_box(nullptr, text, caption, type); });
        return r;
    }

    std::optional<std::string> save_file(const Host::SaveRequest& request) override {
        if (driver_book::has_file_answer())
            return driver_book::take_file(request.title, request.proposed_name);
        // Asked from inside a window's handler, the picker would wait for
        // the thread it runs on.
        if (ui().here()) {
            log_line("save picker cancelled: asked from inside another window");
            return std::nullopt;
        }
        std::optional<std::string> chosen;
        ui().invoke([&] {
            chosen = pick(nullptr, GTK_FILE_CHOOSER_ACTION_SAVE, request.title, "", &request);
        });
        return chosen;
    }

    void show_modeless(Dialog& d) override {
        driver_book::seen_dialog(d.template_id());
        auto w = std::make_unique<Window>(d);
        d.attach(w.get());
        ui().invoke([&] {
            d.open();
            build(*w, false);
            screenshot(*w, "dialog-" + std::to_string(d.template_id()));
        });
        auto handle = std::make_unique<WindowHandle>(*w);
        driver_book::set_modeless(handle.get());
        const std::lock_guard guard(lock_);
        modeless_[&d] = {std::move(w), std::move(handle)};
    }

    void update_modeless(Dialog& d, const std::function<void()>& change) override {
        Window* w = find(d);
        ui().invoke([&] {
            change();
            if (w != nullptr) after_action(*w);
        });
    }

    void hide_modeless(Dialog& d) override {
        Shown shown;
        {
            const std::lock_guard guard(lock_);
            const auto it = modeless_.find(&d);
            if (it == modeless_.end()) return;
            shown = std::move(it->second);
            modeless_.erase(it);
        }
        driver_book::set_modeless(nullptr);
        ui().invoke([&] { destroy(*shown.window); });
        d.attach(nullptr);
    }

  private:
    struct Shown {
        std::unique_ptr<Window> window;
        std::unique_ptr<WindowHandle> handle;
    };
    // A dialog asked from a rule of another window (a PIN asked while a
    // tree item is listed) runs on this thread in a loop of its own until
    // it ends; the window below waits meanwhile.
    static void run_inside(Window& w) {
        w.d.open();
        build(w, true);
        screenshot(w, "dialog-" + std::to_string(w.d.template_id()));
        if (std::optional<Script> script = driver_book::next_script()) {
            WindowHandle handle(w);
            (*script)(handle);
            if (!w.d.finished()) {
                driver_book::failed("dialog " + std::to_string(w.d.template_id()) +
                                    " left open by its script");
                w.d.close();
            }
        }
        after_action(w);
        for (;;) {
            {
                const std::lock_guard guard(w.lock);
                if (w.done) break;
            }
            gtk_main_iteration();
        }
        destroy(w);
    }
    Window* find(Dialog& d) {
        const std::lock_guard guard(lock_);
        const auto it = modeless_.find(&d);
        return it == modeless_.end() ? nullptr : it->second.window.get();
    }
    std::mutex lock_;
    std::map<Dialog*, Shown> modeless_;
};

}  // namespace

Renderer* gtk_renderer() {
    static std::once_flag logged;
    if (!ui().ready()) {
        std::call_once(logged, [] { log_line("GTK could not open the display"); });
        return nullptr;
    }
    static GtkRenderer* r = new GtkRenderer;
    return r;
}

}  // namespace gorget
