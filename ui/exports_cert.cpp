// The certificate sheet export.
#include <string>
#include <vector>

#include "ui/cert_sheet.h"
#include "ui/exports.h"
#include "ui/renderer.h"
#include "ui/text.h"

using namespace gorget;

GORGET_EXPORT std::int32_t acceptPKCS7CBK(char** texts, std::int32_t count, char** file_names) {
    if (texts == nullptr || count <= 0) return 0;
    std::vector<CPropPageCertText> pages;
    for (std::int32_t i = 0; i < count; ++i) {
        CPropPageCertText page;
        if (texts[i] != nullptr) page.text = texts[i];
        for (const char c : from_cp1251(page.text)) {
            if (c == '\n') page.shown.push_back('\r');
            page.shown.push_back(c);
        }
        if (file_names != nullptr && file_names[i] != nullptr)
            page.file_name = from_cp1251(file_names[i]);
        pages.push_back(std::move(page));
    }
    CPropSheetCertTxt d(std::move(pages));
    renderer().run(d);
    return 0;
}
