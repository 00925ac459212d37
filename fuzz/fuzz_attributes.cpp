// Request attributes and key-usage bits as the object layer reads them from
// a request someone else made: any set of attributes splits into nodes whose
// texts are as long as they say, an extension request decodes into a stack
// or nothing, and a bit string of any length gives a mask.
#include <openssl/asn1.h>
#include <openssl/err.h>
#include <openssl/x509.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "crypto/cadb/attribute.h"
#include "fuzz/fuzz_support.h"

namespace cadb::fuzz {
namespace {

// The attributes of a request are a SET OF Attribute: read as the request
// reader does, through libcrypto's own attribute records.
void split_attributes(const std::vector<unsigned char>& der) {
    const unsigned char* p = der.data();
    X509_REQ* req = d2i_X509_REQ(nullptr, &p, static_cast<long>(der.size()));
    STACK_OF(X509_ATTRIBUTE)* attributes = sk_X509_ATTRIBUTE_new_null();
    if (req != nullptr) {
        for (int i = 0; i < X509_REQ_get_attr_count(req); ++i)
            sk_X509_ATTRIBUTE_push(attributes, X509_REQ_get_attr(req, i));
    } else {
        // A bare attribute, the common case of a hostile value.
        p = der.data();
        X509_ATTRIBUTE* one = d2i_X509_ATTRIBUTE(nullptr, &p, static_cast<long>(der.size()));
        if (one != nullptr) sk_X509_ATTRIBUTE_push(attributes, one);
    }
    STACK_OF(X509_EXTENSION)* extensions = nullptr;
    ATTRIBUTE* nodes = X509_ATTRIBUTES_split(attributes, &extensions);
    for (const ATTRIBUTE* a = nodes; a != nullptr; a = a->next) {
        if (a->text == nullptr || a->length < 0) abort();
        if (std::strlen(a->text) > static_cast<std::size_t>(a->length)) abort();
    }
    ATTRIBUTE_free(nodes);
    sk_X509_EXTENSION_pop_free(extensions, X509_EXTENSION_free);
    if (req != nullptr) {
        sk_X509_ATTRIBUTE_free(attributes);  // the request owns them
        X509_REQ_free(req);
    } else {
        sk_X509_ATTRIBUTE_pop_free(attributes, X509_ATTRIBUTE_free);
    }
}

void key_usage(const std::vector<unsigned char>& der) {
    const unsigned char* p = der.data();
    ASN1_BIT_STRING* bits = d2i_ASN1_BIT_STRING(nullptr, &p, static_cast<long>(der.size()));
    if (bits == nullptr) return;
    const int mask = KEY_USAGE_bits(bits);
    // Only the bits of at most four bytes can be set.
    const int len = ASN1_STRING_length(bits);
    if (len < 4 && (static_cast<unsigned>(mask) >> (8 * len)) != 0) abort();
    ASN1_BIT_STRING_free(bits);
}

}  // namespace
}  // namespace cadb::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace cadb::fuzz;
    Input in(data, size);
    const std::uint8_t choice = in.byte();
    const std::vector<unsigned char> rest = in.rest();
    if (choice & 1)
        key_usage(rest);
    else
        split_attributes(rest);
    ::ERR_clear_error();
    clear_errors();
    return 0;
}
