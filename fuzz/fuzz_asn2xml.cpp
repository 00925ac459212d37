// The DER-to-XML walk over any bytes: a blob that walks becomes a document
// whose text (code page 1251, as its declaration says) is well-formed XML
// that reads back with the same root; a blob that does not walk is refused
// with a reason.
#include <cstdlib>
#include <span>

#include "fuzz/fuzz_support.h"
#include "platform/xml/xml_dom.h"
#include "wrappers/asn2xml.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    cadb::TASN2XML builder;
    cadb::TXMLDomHolder holder(builder);
    if (holder.convert(data, static_cast<long>(size))) {
        const auto text = holder.xml();
        if (!text) abort();
        cadb::XmlDocument again;
        if (!again.load_bytes(
                std::span(reinterpret_cast<const unsigned char*>(text->data()), text->size()),
                text->size() + 1) ||
            again.document_element().name() != cadb::TASN2XML::kRootName)
            abort();
    } else if (holder.error().empty()) {
        abort();
    }
    cadb::fuzz::clear_errors();
    return 0;
}
