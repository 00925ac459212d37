#include "ui/cert_sheet.h"

#include <filesystem>
#include <fstream>

#include "ui/message_kinds.h"
#include "ui/strings.h"
#include "ui/text.h"

namespace gorget {

std::string cert_page_title(int index) {
    return index == 0 ? ui_string(IDS_CLIENT_CERT)
                      : format(ui_string(IDS_CA_CERT).c_str(), static_cast<long>(index));
}

CPropSheetCertTxt::CPropSheetCertTxt(std::vector<CPropPageCertText> pages)
    : Dialog(kTemplate, ui_string(IDS_CERTIFICATES)), pages_(std::move(pages)) {
    Control tabs{.id = kTabs, .kind = Kind::tabs, .row = 0, .selected = 0};
    for (std::size_t i = 0; i < pages_.size(); ++i)
        tabs.items.push_back(cert_page_title(static_cast<int>(i)));
    add(std::move(tabs));
    add(Control{.id = kText, .kind = Kind::text, .text = pages_.at(0).shown, .row = 1});
    add(Control{.id = kSave, .kind = Kind::button, .text = "Сохранить...", .row = 2});
    add(Control{.id = kInstall, .kind = Kind::button, .text = "Установить...", .row = 2});
    add(Control{.id = IDOK, .kind = Kind::button, .text = "OK", .row = -1});
}

void CPropSheetCertTxt::changed(int id) {
    if (id != kTabs) return;
    const int page = find(kTabs)->selected;
    if (page >= 0) set_text(kText, pages_[std::size_t(page)].shown);
}

void CPropSheetCertTxt::command(int id) {
    const int page = find(kTabs)->selected;
    if (id == kSave && page >= 0)
        save(pages_[std::size_t(page)]);
    else if (id == IDOK)
        finish(IDOK);
    // "Установить..." installs nothing.
}

void CPropSheetCertTxt::save(const CPropPageCertText& page) {
    static const std::string kExtension = "cer";
    const std::string& title = ui_string(IDS_SAVE_TITLE);
    const std::optional<std::string> chosen =
        host().save_file({title.empty() ? ui_string(IDS_SAVE_AS) : title,
                          ui_string(IDS_CERT_FILTER), kExtension, page.file_name});
    if (!chosen || chosen->empty()) return;
    std::filesystem::path path(*chosen);
    if (!path.has_extension()) path.replace_extension(kExtension);
    const std::string& prefix = ui_string(IDS_SAVE_CONFIRM);
    if (!prefix.empty() &&
        show_message(host(), prefix + " " + path.string() + "?", MK_QUESTION) != IDYES)
        return;
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(page.text.data(), static_cast<std::streamsize>(page.text.size()));
    out.close();
    if (!out)
        host().message_box(ui_string(IDS_WRITE_FAILED), ui_string(IDS_ERROR), MB_ICONSTOP | MB_OK);
}

}  // namespace gorget
