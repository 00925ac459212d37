// Certification requests in every form a user may bring: DER, PEM, bare
// base64 and pasted text, and the stream reader; a request that reads is
// split, encoded in every output form and read back the same.
#include <openssl/bio.h>

#include <cstdlib>
#include <vector>

#include "crypto/cadb/buffer_encode.h"
#include "crypto/engine/engine.h"
#include "crypto/x509/pkcs10.h"
#include "fuzz/fuzz_support.h"

namespace cadb::fuzz {
namespace {

void check(PKCS10* p10) {
    if (p10 == nullptr) return;
    if (p10->version != 0 || p10->request == nullptr || p10->key_fingerprint == nullptr) abort();
    BUFFER* der = PKCS10_get(p10, FORM_DER);
    for (int form : {FORM_PEM, FORM_TEXT, FORM_BASE64}) BUFFER_free(PKCS10_get(p10, form));
    if (der != nullptr) {
        PKCS10* again = PKCS10_read_buffer(FORM_DER, der->data, der->length);
        if (again == nullptr || again->signature_check != p10->signature_check) abort();
        PKCS10_free(again);
    }
    BUFFER_free(der);
    PKCS10_free(p10);
}

}  // namespace
}  // namespace cadb::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace cadb::fuzz;
    static const bool loaded = [] {
        use_kernel_random();
        return cadb::ENGINE_load_cadb() == 1;
    }();
    if (!loaded) abort();
    Input in(data, size);
    const std::uint8_t choice = in.byte();
    std::vector<unsigned char> rest = in.rest();
    const int len = static_cast<int>(rest.size());
    rest.push_back(0);  // the text readers take a C string
    const auto* text = reinterpret_cast<const char*>(rest.data());
    switch (choice % 4) {
        case 0:
            check(cadb::PKCS10_read_buffer(choice / 4 % 3, rest.data(), len));
            break;
        case 1:
            check(cadb::PKCS10_read_base64(text, len));
            break;
        case 2:
            check(cadb::PKCS10_load(text, len));
            break;
        default: {
            BIO* bio = BIO_new_mem_buf(rest.data(), len);
            X509_REQ* req = cadb::PKCS10_read_bio(1 + choice / 4 % 2, bio);
            BIO_free(bio);
            if (req != nullptr) check(cadb::PKCS10_split(req));
            X509_REQ_free(req);
            break;
        }
    }
    ::ERR_clear_error();
    clear_errors();
    return 0;
}
