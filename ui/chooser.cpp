#include "ui/chooser.h"

#include <algorithm>
#include <cctype>
#include <filesystem>

#include "platform/paths.h"
#include "ui/log.h"
#include "ui/strings.h"
#include "ui/text.h"

namespace gorget {

const std::array<MediumRow, 5>& medium_table() {
    static const std::array<MediumRow, 5> rows{{
        {0, "File System", "a:", ""},
        {1, "iButton(Dallas Semiconductors)", "ibutton:", "iButton"},
        {2, "eToken(Aladdin Knowledge)", "etoken:", "eToken"},
        {3, "ruToken(Activ Knowledge)", "rutoken:", "ruToken"},
        {4, "pkcs11(Knowledge)", "pkcs11:", "pkcs11"},
    }};
    return rows;
}

namespace {

std::string lower(std::string_view s) {
    std::string out(s);
    for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

}  // namespace

std::int32_t medium_type_of(std::string_view path) {
    const std::string p = lower(path);
    for (const MediumRow& row : medium_table())
        if (*row.short_name != '\0' && p.find(lower(row.short_name)) != std::string::npos)
            return row.type;
    return 0;
}

ChooserDialog::ChooserDialog(const std::string& caption, const std::string& path, std::int32_t type,
                             std::size_t limit)
    : Dialog(kTemplate, caption) {
    add(Control{
        .id = kFrame, .kind = Kind::label, .text = ui_string(IDS_CONTAINER_FRAME), .row = 0});
    Control media{
        .id = kMedia, .kind = Kind::list, .label = "Тип ключевого носителя СКЗИ", .row = 1};
    for (const MediumRow& row : medium_table()) media.items.emplace_back(row.display_name);
    const std::int32_t start = path.empty() ? type : medium_type_of(path);
    media.selected = start >= 0 && start < std::int32_t(medium_table().size()) ? start : -1;
    add(std::move(media));
    add(Control{.id = kPath,
                .kind = Kind::edit,
                .text = path,
                .label = "Каталог ключевого носителя",
                .row = 2,
                .max_chars = limit});
    add(Control{.id = kBrowse, .kind = Kind::button, .text = "...", .row = 2});
    add(Control{.id = IDOK, .kind = Kind::button, .text = "OK", .row = -1});
    add(Control{.id = IDCANCEL, .kind = Kind::button, .text = "Отмена", .row = -1});
    apply_rules();
}

std::int32_t ChooserDialog::chosen_type() const {
    const int selected = find(kMedia)->selected;
    return selected >= 0 ? medium_table()[std::size_t(selected)].type
                         : medium_type_of(find(kPath)->text);
}

void ChooserDialog::apply_rules() {
    const int selected = find(kMedia)->selected;
    enable(kBrowse, selected <= 0);
    enable(IDOK, !find(kPath)->text.empty());
}

void ChooserDialog::changed(int id) {
    if (id == kMedia) {
        const int selected = find(kMedia)->selected;
        if (selected >= 0) set_text(kPath, medium_table()[std::size_t(selected)].prefix);
    }
    apply_rules();
}

void ChooserDialog::command(int id) {
    if (id == kBrowse)
        browse();
    else
        finish(id == IDOK ? IDOK : IDCANCEL);
}

void ChooserDialog::browse() {
    std::string start = find(kPath)->text;
    while (start.size() > 1 && (start.back() == '\\' || start.back() == '/')) start.pop_back();
    // A folder the file layer cannot map (a device path) starts the picker
    // in the current directory.
    std::string from;
    if (auto os = cadb::path_to_os(start); os && std::filesystem::is_directory(os->path))
        from = os->path;
    else
        from = std::filesystem::current_path().string();
    const std::optional<std::string> chosen =
        host().browse_folder(ui_string(IDS_CHOOSE_FOLDER), ui_string(IDS_CONTAINER_FRAME), from);
    if (!chosen) return;
    const std::string system_path = cadb::path_from_os(*chosen);
    std::string narrow;
    const Control& field = *find(kPath);
    if (!to_cp1251(system_path, narrow) ||
        (field.max_chars != 0 && utf8_length(system_path) > field.max_chars)) {
        log_line("chooser: folder " + *chosen + " does not fit the caller's path record");
        return;
    }
    set_text(kPath, system_path);
    apply_rules();
}

}  // namespace gorget
