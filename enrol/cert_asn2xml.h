// The converter the enrolment object uses for certificates shown to a page:
// names written in BMPString or UTF8String (Cyrillic ones above all) reach the
// page as readable text, not as the base converter's hex list. The methods
// that need it make one as a local object and hand it to the document holder.
#pragma once

#include "wrappers/asn2xml.h"

namespace cadb::enrol {

class TCertASN2XML : public TASN2XML {
  public:
    XmlNode makeBMPString(const std::string& name, std::string_view content) override;
    XmlNode makeUTF8String(const std::string& name, std::string_view content) override;

  private:
    // The value printed as text of the local code page, then made an element
    // as the base makes every other text value.
    XmlNode makePrintedString(const std::string& name, int type, std::string_view content);
};

}  // namespace cadb::enrol
