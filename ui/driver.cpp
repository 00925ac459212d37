#include "ui/driver.h"

#include <deque>
#include <memory>
#include <mutex>

#include "ui/log.h"
#include "ui/renderer.h"

namespace gorget {
namespace {

struct Book {
    std::mutex lock;
    driver::Mode mode = driver::Mode::automatic;
    std::deque<Script> scripts;
    std::deque<int> boxes;
    std::deque<std::optional<std::string>> folders, files;
    std::vector<driver::BoxSeen> boxes_seen;
    std::vector<driver::FileAsked> files_asked;
    std::vector<driver::FolderAsked> folders_asked;
    std::vector<int> dialogs_seen;
    int failures = 0;
    DialogHandle* modeless = nullptr;
    std::string screenshot_dir;
};

Book& book() {
    static Book b;
    return b;
}

// One lock for every model the driver plays, so a modeless window's owner
// thread and the test thread never change a model at once. A rule of one
// model may run another dialog (a PIN asked while a tree item is expanded),
// whose script then takes the lock again on the same thread.
std::recursive_mutex& models_lock() {
    static std::recursive_mutex m;
    return m;
}

class ModelHandle : public DialogHandle {
  public:
    explicit ModelHandle(Dialog& d) : d_(d) {}
    int template_id() override { return d_.template_id(); }
    std::string caption() override {
        return locked([&] { return d_.caption(); });
    }
    bool finished() override {
        return locked([&] { return d_.finished(); });
    }
    bool active() override {
        return locked([&] { return d_.active(); });
    }
    bool type(int id, const std::string& s) override {
        return locked([&] { return d_.type(id, s); });
    }
    bool replace(int id, const std::string& s) override {
        return locked([&] { return d_.replace_text(id, s); });
    }
    bool press(int id) override {
        return locked([&] { return d_.press(id); });
    }
    bool select(int id, int index) override {
        return locked([&] { return d_.select(id, index); });
    }
    bool set_value(int id, int v) override {
        return locked([&] { return d_.set_value(id, v); });
    }
    bool expand(int id, int index) override {
        return locked([&] { return d_.expand(id, index); });
    }
    void close() override {
        locked([&] {
            d_.close();
            return 0;
        });
    }
    void key(unsigned ch, std::uint32_t t) override {
        locked([&] {
            d_.key(ch, t);
            return 0;
        });
    }
    void mouse_move(std::uint32_t t) override {
        locked([&] {
            d_.mouse_move(t);
            return 0;
        });
    }
    void mouse_button(std::uint32_t t) override {
        locked([&] {
            d_.mouse_button(t);
            return 0;
        });
    }
    void tick() override {
        locked([&] {
            d_.tick();
            return 0;
        });
    }
    bool enabled(int id) override {
        return locked([&] {
            const Control* c = d_.find(id);
            return c != nullptr && c->enabled && d_.active();
        });
    }
    std::string text(int id) override {
        return locked([&] {
            const Control* c = d_.find(id);
            return c ? c->text : std::string();
        });
    }
    int value(int id) override {
        return locked([&] {
            const Control* c = d_.find(id);
            return c ? c->value : 0;
        });
    }
    int max(int id) override {
        return locked([&] {
            const Control* c = d_.find(id);
            return c ? c->max : 0;
        });
    }
    int selected(int id) override {
        return locked([&] {
            const Control* c = d_.find(id);
            return c ? c->selected : -1;
        });
    }
    std::vector<std::string> items(int id) override {
        return locked([&] {
            const Control* c = d_.find(id);
            return c ? c->items : std::vector<std::string>();
        });
    }
    std::vector<TreeNode> nodes(int id) override {
        return locked([&] {
            const Control* c = d_.find(id);
            return c ? c->nodes : std::vector<TreeNode>();
        });
    }
    void screenshot(const std::string&) override {}

  private:
    template <class F>
    auto locked(F f) -> decltype(f()) {
        const std::lock_guard guard(models_lock());
        return f();
    }
    Dialog& d_;
};

class AnsweringHost : public Host {
  public:
    int message_box(const std::string& text, const std::string& caption, unsigned type) override {
        return driver_book::take_box(text, caption, type);
    }
    std::optional<std::string> browse_folder(const std::string& caption, const std::string& note,
                                             const std::string&) override {
        return driver_book::take_folder(caption, note);
    }
    std::optional<std::string> save_file(const SaveRequest& request) override {
        return driver_book::take_file(request.title, request.proposed_name);
    }
};

class ModelRenderer : public Renderer {
  public:
    void run(Dialog& d) override {
        driver_book::seen_dialog(d.template_id());
        d.attach(&host_);
        {
            const std::lock_guard guard(models_lock());
            d.open();
        }
        if (std::optional<Script> script = driver_book::next_script()) {
            ModelHandle handle(d);
            (*script)(handle);
        }
        const std::lock_guard guard(models_lock());
        if (!d.finished()) {
            driver_book::failed("dialog " + std::to_string(d.template_id()) +
                                " left open by its script");
            d.close();
        }
    }
    int message_box(const std::string& text, const std::string& caption, unsigned type) override {
        return driver_book::take_box(text, caption, type);
    }
    std::optional<std::string> save_file(const Host::SaveRequest& request) override {
        return driver_book::take_file(request.title, request.proposed_name);
    }
    void show_modeless(Dialog& d) override {
        const std::lock_guard guard(models_lock());
        driver_book::seen_dialog(d.template_id());
        d.attach(&host_);
        d.open();
        handle_ = std::make_unique<ModelHandle>(d);
        driver_book::set_modeless(handle_.get());
    }
    void update_modeless(Dialog&, const std::function<void()>& change) override {
        const std::lock_guard guard(models_lock());
        change();
    }
    void hide_modeless(Dialog&) override {
        const std::lock_guard guard(models_lock());
        driver_book::set_modeless(nullptr);
        handle_.reset();
    }

  private:
    AnsweringHost host_;
    std::unique_ptr<ModelHandle> handle_;
};

}  // namespace

Renderer& model_renderer() {
    static ModelRenderer r;
    return r;
}

namespace driver {

void use(Mode mode) {
    Book& b = book();
    const std::lock_guard guard(b.lock);
    b.mode = mode;
    b.scripts.clear();
    b.boxes.clear();
    b.folders.clear();
    b.files.clear();
    b.boxes_seen.clear();
    b.files_asked.clear();
    b.folders_asked.clear();
    b.dialogs_seen.clear();
    b.failures = 0;
}

Mode mode() {
    const std::lock_guard guard(book().lock);
    return book().mode;
}

void expect(Script script) {
    const std::lock_guard guard(book().lock);
    book().scripts.push_back(std::move(script));
}

void answer_box(int result) {
    const std::lock_guard guard(book().lock);
    book().boxes.push_back(result);
}

void answer_folder(std::optional<std::string> path) {
    const std::lock_guard guard(book().lock);
    book().folders.push_back(std::move(path));
}

void answer_file(std::optional<std::string> path) {
    const std::lock_guard guard(book().lock);
    book().files.push_back(std::move(path));
}

std::vector<BoxSeen> boxes_seen() {
    const std::lock_guard guard(book().lock);
    return book().boxes_seen;
}

std::vector<FolderAsked> folders_asked() {
    const std::lock_guard guard(book().lock);
    return book().folders_asked;
}

std::vector<FileAsked> files_asked() {
    const std::lock_guard guard(book().lock);
    return book().files_asked;
}

std::vector<int> dialogs_seen() {
    const std::lock_guard guard(book().lock);
    return book().dialogs_seen;
}

int failures() {
    const std::lock_guard guard(book().lock);
    return book().failures;
}

DialogHandle* modeless() {
    const std::lock_guard guard(book().lock);
    return book().modeless;
}

void set_screenshot_dir(const std::string& dir) {
    const std::lock_guard guard(book().lock);
    book().screenshot_dir = dir;
}

std::string screenshot_dir() {
    const std::lock_guard guard(book().lock);
    return book().screenshot_dir;
}

}  // namespace driver

namespace driver_book {

std::optional<Script> next_script() {
    const std::lock_guard guard(book().lock);
    if (book().scripts.empty()) return std::nullopt;
    Script s = std::move(book().scripts.front());
    book().scripts.pop_front();
    return s;
}

void seen_dialog(int template_id) {
    const std::lock_guard guard(book().lock);
    book().dialogs_seen.push_back(template_id);
}

void failed(const std::string& why) {
    log_line("script: " + why);
    const std::lock_guard guard(book().lock);
    ++book().failures;
}

bool has_box_answer() {
    const std::lock_guard guard(book().lock);
    return !book().boxes.empty();
}

int take_box(const std::string& text, const std::string& caption, unsigned type) {
    std::unique_lock guard(book().lock);
    book().boxes_seen.push_back({text, caption, type});
    if (book().boxes.empty()) {
        guard.unlock();
        failed("no answer for box \"" + caption + "\"");
        return message_box_cancel_result(type);
    }
    const int r = book().boxes.front();
    book().boxes.pop_front();
    return r;
}

bool has_folder_answer() {
    const std::lock_guard guard(book().lock);
    return !book().folders.empty();
}

std::optional<std::string> take_folder(const std::string& caption, const std::string& note) {
    std::unique_lock guard(book().lock);
    book().folders_asked.push_back({caption, note});
    if (book().folders.empty()) {
        guard.unlock();
        failed("no answer for a folder picker");
        return std::nullopt;
    }
    auto r = std::move(book().folders.front());
    book().folders.pop_front();
    return r;
}

bool has_file_answer() {
    const std::lock_guard guard(book().lock);
    return !book().files.empty();
}

std::optional<std::string> take_file(const std::string& title, const std::string& proposed_name) {
    std::unique_lock guard(book().lock);
    book().files_asked.push_back({title, proposed_name});
    if (book().files.empty()) {
        guard.unlock();
        failed("no answer for a save picker");
        return std::nullopt;
    }
    auto r = std::move(book().files.front());
    book().files.pop_front();
    return r;
}

void set_modeless(DialogHandle* handle) {
    const std::lock_guard guard(book().lock);
    book().modeless = handle;
}

}  // namespace driver_book
}  // namespace gorget
