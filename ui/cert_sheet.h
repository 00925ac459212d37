// The certificate sheet: one page per certificate text, each of which can be
// saved to a file.
#pragma once

#include <string>
#include <vector>

#include "ui/model.h"

namespace gorget {

struct CPropPageCertText {
    std::string text;       // as the caller gave it, code page 1251
    std::string shown;      // UTF-8, lines ended by "\r\n"
    std::string file_name;  // proposed name, UTF-8
};

class CPropSheetCertTxt : public Dialog {
  public:
    enum : int { kTemplate = 1005, kTabs = 12320, kText = 1004, kSave = 1005, kInstall = 1006 };
    explicit CPropSheetCertTxt(std::vector<CPropPageCertText> pages);

  protected:
    void changed(int id) override;
    void command(int id) override;
    void closing() override { finish(IDOK); }

  private:
    void save(const CPropPageCertText& page);
    std::vector<CPropPageCertText> pages_;
};

// Page titles: the client's certificate first, then the CA certificates by
// number.
std::string cert_page_title(int index);

}  // namespace gorget
