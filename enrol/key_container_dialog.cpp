#include "enrol/key_container_dialog.h"

#include <exception>

#include "crypto/store/media_io.h"
#include "enrol/container_listing.h"
#include "enrol/log.h"
#include "platform/paths.h"
#include "ui/text.h"

namespace cadb::enrol {
namespace {

using gorget::Control;
using gorget::Kind;

// The field holds what the system's path buffers hold; in folder mode one
// character stays free for the closing "\".
std::size_t path_limit(bool folder_mode) { return kMaxPath - (folder_mode ? 2 : 1); }

Control control(int id, Kind kind, int row, std::string text = {}, std::string label = {}) {
    Control c;
    c.id = id;
    c.kind = kind;
    c.row = row;
    c.text = std::move(text);
    c.label = std::move(label);
    return c;
}

}  // namespace

KeyContainerDialog::KeyContainerDialog(const std::string& start, bool folder_mode,
                                       bool file_system_only)
    : Dialog(kTemplate, folder_mode ? kChooseFolderCaption : kChooseFileCaption),
      start_(start),
      folder_mode_(folder_mode),
      file_system_only_(file_system_only) {
    add(control(kDevices, Kind::list, 0, {}, "Носители"));
    add(control(kRefresh, Kind::button, 0, "Обновить"));
    add(control(kTree, Kind::tree, 1));
    Control path = control(kPath, Kind::edit, 2, gorget::from_cp1251(start));
    path.max_chars = path_limit(folder_mode);
    add(std::move(path));
    add(control(gorget::IDOK, Kind::button, -1, "OK"));
    add(control(gorget::IDCANCEL, Kind::button, -1, "Отмена"));
    apply_rules();
}

std::string KeyContainerDialog::answer() const {
    if (!finished() || result() != gorget::IDOK) return start_;
    std::string path;
    // The field takes no character the code page lacks.
    if (!gorget::to_cp1251(find(kPath)->text, path) || path.empty()) return start_;
    if (folder_mode_ && path.back() != '\\') path += '\\';
    // A tree item's path can outgrow what the field takes by typing.
    if (path.size() >= kMaxPath) {
        log_line("BrowseDevuces()... the chosen path of %zu characters is too long",
                 path.size());
        return start_;
    }
    return path;
}

void KeyContainerDialog::opening() {
    LoadDevices();
    select_device(-1);
}

void KeyContainerDialog::LoadDevices() {
    const auto& table = DeviceTable();
    rows_.assign(1, 0);
    if (!file_system_only_) {
        for (std::size_t row = 1; row < table.size(); ++row) {
            try {
                if (DevicePresent(table[row])) rows_.push_back(row);
            } catch (const std::exception&) {
                log_line("LoadDevices()... CADB_token_inserted() DevNum = %d DevName = %s Error!",
                         static_cast<int>(row), table[row].prefix.c_str());
            }
        }
    }
    std::vector<std::string> names;
    for (const std::size_t row : rows_) names.push_back(table[row].display_name);
    set_items(kDevices, std::move(names), -1);
}

void KeyContainerDialog::select_device(int previous_row) {
    std::string path;
    if (!gorget::to_cp1251(find(kPath)->text, path)) path.clear();
    int chosen = -1;
    if (!path.empty()) {
        // A drive path, or a path of no medium at all, lies on the file
        // system.
        if ((path.size() > 1 && path[1] == ':') || CADB_is_media_path(path.c_str()) != 1) {
            chosen = 0;
        } else {
            for (std::size_t i = 0; i < rows_.size() && chosen < 0; ++i)
                if (path.find(DeviceTable()[rows_[i]].prefix) != std::string::npos)
                    chosen = static_cast<int>(i);
        }
    }
    for (std::size_t i = 0; i < rows_.size() && chosen < 0 && previous_row >= 0; ++i)
        if (rows_[i] == static_cast<std::size_t>(previous_row)) chosen = static_cast<int>(i);
    select(kDevices, chosen);
}

void KeyContainerDialog::LoadTree(std::size_t row) {
    const DeviceRow& device = DeviceTable()[row];
    clear_nodes(kTree);
    tree_kind_ = device.kind;
    try {
        if (device.kind == kDeviceFileSystem) {
            for (const std::string& root : DriveRoots()) add_node(kTree, -1, root, false);
        } else {
            add_node(kTree, -1, gorget::from_cp1251(device.prefix), false);
        }
    } catch (const std::exception&) {
        log_line("LoadTree()...  DevType = %d  Error!", static_cast<int>(device.kind));
    }
}

std::string KeyContainerDialog::item_path(int index) const {
    const std::vector<gorget::TreeNode>& nodes = find(kTree)->nodes;
    std::vector<const std::string*> parts;
    for (int at = index; at >= 0; at = nodes[static_cast<std::size_t>(at)].parent)
        parts.push_back(&nodes[static_cast<std::size_t>(at)].text);
    std::string path;
    for (auto it = parts.rbegin(); it != parts.rend(); ++it) {
        if (!path.empty() && path.back() != '\\') path += '\\';
        path += **it;
    }
    return path;
}

void KeyContainerDialog::expanding(int id, int index) {
    if (id != kTree) return;
    std::string path;
    if (!gorget::to_cp1251(item_path(index), path)) return;
    const std::optional<std::vector<ListedEntry>> entries = ListFolder(path, tree_kind_);
    if (!entries) {
        // On a drive an unreadable folder only stays empty; a token that
        // lists nothing refused its PIN.
        if (tree_kind_ != kDeviceFileSystem)
            host().message_box(kRefusedText, kRefusedCaption,
                               gorget::MB_OK | gorget::MB_ICONEXCLAMATION);
        return;
    }
    for (const ListedEntry& entry : *entries) {
        // A token's objects are what a key path names; on drives and token
        // folders files are offered only when a file is chosen.
        const bool object = IsPkcs11Device(tree_kind_);
        if (!entry.folder && !object && folder_mode_) continue;
        add_node(kTree, index, gorget::from_cp1251(entry.name), !entry.folder);
    }
}

void KeyContainerDialog::changed(int id) {
    if (id == kDevices) {
        const int selected = find(kDevices)->selected;
        if (selected >= 0)
            LoadTree(rows_[static_cast<std::size_t>(selected)]);
        else
            clear_nodes(kTree);
    } else if (id == kTree) {
        const int selected = find(kTree)->selected;
        if (selected >= 0) set_text(kPath, item_path(selected));
    }
    apply_rules();
}

void KeyContainerDialog::command(int id) {
    if (id == kRefresh) {
        const int selected = find(kDevices)->selected;
        const int previous = selected >= 0 ? static_cast<int>(rows_[std::size_t(selected)]) : -1;
        LoadDevices();
        select_device(previous);
    } else {
        finish(id == gorget::IDOK ? gorget::IDOK : gorget::IDCANCEL);
    }
}

// OK needs a path: an empty one would answer the file system's root.
void KeyContainerDialog::apply_rules() { enable(gorget::IDOK, !find(kPath)->text.empty()); }

}  // namespace cadb::enrol
