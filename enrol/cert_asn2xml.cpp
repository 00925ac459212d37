#include "enrol/cert_asn2xml.h"

#include <openssl/bio.h>

#include <climits>
#include <memory>

#include "crypto/cadb/name_text.h"

namespace cadb::enrol {

XmlNode TCertASN2XML::makeBMPString(const std::string& name, std::string_view content) {
    return makePrintedString(name, V_ASN1_BMPSTRING, content);
}

XmlNode TCertASN2XML::makeUTF8String(const std::string& name, std::string_view content) {
    return makePrintedString(name, V_ASN1_UTF8STRING, content);
}

XmlNode TCertASN2XML::makePrintedString(const std::string& name, int type,
                                        std::string_view content) {
    if (content.size() > static_cast<std::size_t>(INT_MAX)) return {};
    std::unique_ptr<BIO, decltype(&BIO_free)> stream(BIO_new(BIO_s_mem()), BIO_free);
    if (!stream) return {};
    // A value that does not print (a BMPString of odd length, broken UTF-8)
    // ends the conversion as any refused element does.
    if (!ASN1_STRING_print_text(stream.get(), type,
                                reinterpret_cast<const unsigned char*>(content.data()),
                                static_cast<int>(content.size())))
        return {};
    char* printed = nullptr;
    const long length = BIO_get_mem_data(stream.get(), &printed);
    if (length < 0) return {};
    // The printed text is in the local code page, as the base's text values.
    return makeText(name, std::string_view(printed, static_cast<std::size_t>(length)));
}

}  // namespace cadb::enrol
