// The extension decoders: a value of any extension the library parses into
// a flat record, written back and printed. The first input byte picks the
// extension; the rest is its DER value. A record must write back to DER
// that parses again.
#include <openssl/x509v3.h>

#include <cstdlib>
#include <vector>

#include "crypto/core/objects.h"
#include "crypto/x509v3/ext_print.h"
#include "crypto/x509v3/v3ext.h"
#include "fuzz/fuzz_support.h"

namespace {

// The extensions with a record family or a printer of the library's own.
const char* const kOids[] = {
    "2.16.840.1.113730.1.1", "2.16.840.1.113730.1.13", "2.5.29.14", "2.5.29.15", "2.5.29.16",
    "2.5.29.17",             "2.5.29.18",              "2.5.29.19", "2.5.29.20", "2.5.29.32",
    "2.5.29.35",             "2.5.29.31",              "2.5.29.37", "2.5.29.27", "2.5.29.21",
    "2.5.29.24",             "2.5.29.54",              "2.5.29.46", "2.5.29.33", "2.5.29.36",
    "2.5.29.30",             "1.3.6.1.5.5.7.1.1",      "1.3.6.1.5.5.7.1.11", "2.5.29.28",
    "2.5.29.23",             "2.5.29.29",              "2.5.29.9",  "1.3.6.1.5.5.7.1.2",
};

X509_EXTENSION* extension(const char* oid, const std::vector<unsigned char>& der) {
    ASN1_OCTET_STRING* data = ASN1_OCTET_STRING_new();
    ASN1_OBJECT* obj = OBJ_txt2obj(oid, 1);
    X509_EXTENSION* ext = nullptr;
    if (data != nullptr && obj != nullptr &&
        ASN1_OCTET_STRING_set(data, der.data(), static_cast<int>(der.size())))
        ext = X509_EXTENSION_create_by_OBJ(nullptr, obj, 0, data);
    ASN1_OBJECT_free(obj);
    ASN1_OCTET_STRING_free(data);
    return ext;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace cadb;
    using namespace cadb::fuzz;
    static const bool ready = OBJ_init() == 1;
    if (!ready) abort();
    Input in(data, size);
    const std::uint8_t choice = in.byte();
    const std::vector<unsigned char> der = in.rest();
    X509_EXTENSION* ext = extension(kOids[choice % (sizeof kOids / sizeof kOids[0])], der);
    if (ext == nullptr) return 0;
    if (CADB_V3EXT* r = CADB_V3EXT_parse(ext)) {
        if (X509_EXTENSION* back = CADB_V3EXT_to_extension(r)) {
            CADB_V3EXT* again = CADB_V3EXT_parse(back);
            if (again == nullptr) abort();
            CADB_V3EXT_free(again);
            X509_EXTENSION_free(back);
        }
        CADB_V3EXT_free(r);
    }
    BIO* sink = BIO_new(BIO_s_null());
    cadb::X509V3_EXT_print(sink, ext, 0, choice >> 5);
    BIO_free(sink);
    X509_EXTENSION_free(ext);
    ::ERR_clear_error();
    clear_errors();
    return 0;
}
