// Where dialogs are shown. A renderer runs a modal dialog until it finishes
// (the caller blocks meanwhile, on whatever thread it is), answers boxes that
// have no owner, and keeps modeless windows up to date.
#pragma once

#include <functional>
#include <optional>
#include <string>

#include "ui/model.h"

namespace gorget {

class Renderer {
  public:
    virtual ~Renderer() = default;
    // False when every dialog is refused at once.
    virtual bool shows() const { return true; }
    // Shows d and returns once it finished.
    virtual void run(Dialog& d) = 0;
    // A box without owner window.
    virtual int message_box(const std::string& text, const std::string& caption, unsigned type) = 0;
    // A save-file picker without owner window: the chosen Linux path, or
    // nothing when cancelled.
    virtual std::optional<std::string> save_file(const Host::SaveRequest& request) = 0;
    // A window that stays up while its owner works; change runs where the
    // window lives, and the window then shows the model again.
    virtual void show_modeless(Dialog& d) = 0;
    virtual void update_modeless(Dialog& d, const std::function<void()>& change) = 0;
    virtual void hide_modeless(Dialog& d) = 0;
};

// The renderer for the next dialog: the scripted driver when tests chose it,
// else the GTK windows when a display opens, else one that refuses every
// dialog at once and logs why.
Renderer& renderer();

// The refusing renderer: every dialog ends with its Cancel result.
Renderer& refusing_renderer(const char* why);

// The GTK renderer, or null when no display can be opened (the reason is
// logged once).
Renderer* gtk_renderer();

}  // namespace gorget
