#include "ui/model.h"

#include <openssl/crypto.h>

#include <algorithm>

#include "ui/text.h"

namespace gorget {
namespace {

// Where a dialog stands when nobody attached a host: every question is
// refused.
class RefusingHost : public Host {
  public:
    int message_box(const std::string&, const std::string&, unsigned type) override {
        return message_box_cancel_result(type);
    }
    std::optional<std::string> browse_folder(const std::string&, const std::string&,
                                             const std::string&) override {
        return std::nullopt;
    }
    std::optional<std::string> save_file(const SaveRequest&) override { return std::nullopt; }
};

bool is_entry(Kind k) { return k == Kind::edit || k == Kind::password; }

}  // namespace

int message_box_cancel_result(unsigned type) {
    switch (type & 0xF) {
        case MB_YESNO:
            return IDNO;
        case MB_OKCANCEL:
        case MB_YESNOCANCEL:
        case MB_RETRYCANCEL:
            return IDCANCEL;
        default:
            return IDOK;
    }
}

Dialog::Dialog(int template_id, std::string caption)
    : template_id_(template_id), caption_(std::move(caption)) {}

const Control* Dialog::find(int id) const {
    const auto it = std::find_if(controls_.begin(), controls_.end(),
                                 [id](const Control& c) { return c.id == id; });
    return it == controls_.end() ? nullptr : &*it;
}

Control& Dialog::add(Control c) {
    // A password grows in place, so no copy of it is left behind in freed
    // memory.
    if (c.kind == Kind::password) c.text.reserve(c.max_chars != 0 ? c.max_chars * 4 : 4096);
    controls_.push_back(std::move(c));
    touch();
    return controls_.back();
}

Control& Dialog::at(int id) {
    // Models only name ids they added.
    return *const_cast<Control*>(find(id));
}

void Dialog::set_caption(std::string caption) {
    caption_ = std::move(caption);
    touch();
}

void Dialog::set_active(bool on) {
    active_ = on;
    touch();
}

void Dialog::enable(int id, bool on) {
    at(id).enabled = on;
    touch();
}

void Dialog::set_text(int id, std::string utf8) {
    Control& c = at(id);
    if (is_entry(c.kind)) OPENSSL_cleanse(c.text.data(), c.text.size());
    c.text = std::move(utf8);
    touch();
}

void Dialog::set_items(int id, std::vector<std::string> items, int selected) {
    Control& c = at(id);
    c.items = std::move(items);
    c.selected = selected >= -1 && selected < static_cast<int>(c.items.size()) ? selected : -1;
    touch();
}

void Dialog::clear_nodes(int id) {
    Control& c = at(id);
    c.nodes.clear();
    c.selected = -1;
    ++c.fills;
    touch();
}

int Dialog::add_node(int id, int parent, std::string utf8, bool leaf) {
    Control& c = at(id);
    c.nodes.push_back(TreeNode{.text = std::move(utf8), .parent = parent, .leaf = leaf});
    touch();
    return static_cast<int>(c.nodes.size()) - 1;
}

void Dialog::open() {
    if (opened_ || finished_) return;
    opened_ = true;
    opening();
    touch();
}

void Dialog::finish(int result) {
    if (finished_) return;
    finished_ = true;
    result_ = result;
    touch();
}

void Dialog::wipe_entries() {
    for (Control& c : controls_)
        if (is_entry(c.kind)) {
            OPENSSL_cleanse(c.text.data(), c.text.size());
            c.text.clear();
        }
    touch();
}

Host& Dialog::host() {
    static RefusingHost refusing;
    return host_ != nullptr ? *host_ : refusing;
}

bool Dialog::accepts(int id, std::string_view text, std::string_view ch) const {
    const Control* c = find(id);
    if (c == nullptr || !is_entry(c->kind)) return false;
    if (c->max_chars != 0 && utf8_length(text) + utf8_length(ch) > c->max_chars) return false;
    std::string narrow;
    return to_cp1251(ch, narrow) && narrow.find('\0') == std::string::npos;
}

bool Dialog::type(int id, std::string_view utf8) {
    const Control* c = find(id);
    if (finished_ || !active_ || c == nullptr || !c->enabled || !is_entry(c->kind)) return false;
    bool all = true;
    for (const std::string& ch : utf8_chars(utf8)) {
        if (!accepts(id, at(id).text, ch)) {
            all = false;
            continue;
        }
        at(id).text += ch;
        touch();
        changed(id);
    }
    return all;
}

bool Dialog::replace_text(int id, std::string_view utf8) {
    const Control* c = find(id);
    if (finished_ || !active_ || c == nullptr || !c->enabled || !is_entry(c->kind)) return false;
    std::string taken;
    for (const std::string& ch : utf8_chars(utf8)) {
        if (!accepts(id, taken, ch)) return false;
        taken += ch;
    }
    set_text(id, std::move(taken));
    changed(id);
    return true;
}

bool Dialog::press(int id) {
    const Control* c = find(id);
    if (finished_ || !active_ || c == nullptr || !c->enabled || c->kind != Kind::button)
        return false;
    command(id);
    touch();
    return true;
}

bool Dialog::select(int id, int index) {
    const Control* c = find(id);
    if (finished_ || !active_ || c == nullptr || !c->enabled) return false;
    const std::size_t count = c->kind == Kind::tree ? c->nodes.size() : c->items.size();
    if ((c->kind != Kind::list && c->kind != Kind::tabs && c->kind != Kind::tree) || index < -1 ||
        index >= static_cast<int>(count))
        return false;
    at(id).selected = index;
    touch();
    changed(id);
    return true;
}

bool Dialog::set_value(int id, int value) {
    const Control* c = find(id);
    if (finished_ || !active_ || c == nullptr || !c->enabled || c->kind != Kind::spin) return false;
    at(id).value = std::clamp(value, c->min, c->max);
    touch();
    changed(id);
    return true;
}

bool Dialog::expand(int id, int index) {
    const Control* c = find(id);
    if (finished_ || !active_ || c == nullptr || !c->enabled || c->kind != Kind::tree ||
        index < 0 || index >= static_cast<int>(c->nodes.size()))
        return false;
    TreeNode& node = at(id).nodes[static_cast<std::size_t>(index)];
    if (node.leaf) return false;
    if (node.listed) return true;
    // Listed once, whatever the listing finds: a failed listing is not
    // retried behind the user's back.
    node.listed = true;
    touch();
    expanding(id, index);
    return true;
}

void Dialog::close() {
    if (!finished_) closing();
    touch();
}

void Dialog::key(unsigned, std::uint32_t) {}
void Dialog::mouse_move(std::uint32_t) {}
void Dialog::mouse_button(std::uint32_t) {}

}  // namespace gorget
