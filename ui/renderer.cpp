#include "ui/renderer.h"

#include <atomic>
#include <cstdlib>
#include <mutex>

#include "ui/driver.h"
#include "ui/log.h"

namespace gorget {

Renderer& model_renderer();

namespace {

class RefusingRenderer : public Renderer {
  public:
    bool shows() const override { return false; }
    void run(Dialog& d) override {
        log_line("dialog " + std::to_string(d.template_id()) + " cancelled: " + why_.load());
        d.close();
    }
    int message_box(const std::string& text, const std::string&, unsigned type) override {
        log_line("box \"" + text + "\" refused: " + why_.load());
        return message_box_cancel_result(type);
    }
    std::optional<std::string> save_file(const Host::SaveRequest& request) override {
        log_line("save picker \"" + request.title + "\" cancelled: " + why_.load());
        return std::nullopt;
    }
    void show_modeless(Dialog&) override {}
    void update_modeless(Dialog&, const std::function<void()>& change) override {
        const std::lock_guard guard(lock_);
        change();
    }
    void hide_modeless(Dialog&) override {}
    void set_why(const char* why) { why_ = why; }

  private:
    std::mutex lock_;
    std::atomic<const char*> why_{""};
};

bool display_named() {
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY"}) {
        const char* v = std::getenv(name);
        if (v != nullptr && *v != '\0') return true;
    }
    return false;
}

}  // namespace

Renderer& refusing_renderer(const char* why) {
    static RefusingRenderer r;
    r.set_why(why);
    return r;
}

Renderer& renderer() {
    switch (driver::mode()) {
        case driver::Mode::models:
            return model_renderer();
        case driver::Mode::windows:
        case driver::Mode::automatic:
            break;
    }
    if (!display_named())
        return refusing_renderer("no display (DISPLAY and WAYLAND_DISPLAY unset)");
    if (Renderer* gtk = gtk_renderer()) return *gtk;
    return refusing_renderer("the display could not be opened");
}

}  // namespace gorget
