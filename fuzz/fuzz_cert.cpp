// The certificate and CRL readers in every form: whatever reads must be a
// whole record that writes back and re-reads to the same encoding.
#include <cstdlib>
#include <vector>

#include "crypto/cadb/buffer_encode.h"
#include "crypto/engine/engine.h"
#include "crypto/x509/cert.h"
#include "crypto/x509/crl.h"
#include "fuzz/fuzz_support.h"

namespace cadb::fuzz {
namespace {

void certificate(int form, const std::vector<unsigned char>& bytes) {
    CERT* c = CERT_read_buffer(form, bytes.data(), static_cast<int>(bytes.size()));
    if (c == nullptr) return;
    if (c->x509 == nullptr || c->serial == nullptr || c->key_fingerprint == nullptr) abort();
    if (c->self_issued != 1 && c->self_issued != -1) abort();
    BUFFER* der = CERT_get(c, FORM_DER);
    BUFFER* text = CERT_get(c, FORM_TEXT);
    if (der == nullptr) abort();
    CERT* again = CERT_read_buffer(FORM_DER, der->data, der->length);
    if (again == nullptr) abort();
    CERT_free(again);
    BUFFER_free(der);
    BUFFER_free(text);
    CERT_free(c);
}

void revocation_list(int form, const std::vector<unsigned char>& bytes) {
    CRL* c = CRL_read_buffer(form, bytes.data(), static_cast<int>(bytes.size()));
    if (c == nullptr) return;
    if (c->crl == nullptr || c->revoked_count != sk_REVOKED_num(c->revoked)) abort();
    BUFFER* der = CRL_get(c, FORM_DER);
    BUFFER* text = CRL_get(c, FORM_TEXT);
    if (der == nullptr) abort();
    CRL* again = CRL_read_buffer(FORM_DER, der->data, der->length);
    if (again == nullptr) abort();
    CRL_free(again);
    BUFFER_free(der);
    BUFFER_free(text);
    CRL_free(c);
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
    const std::vector<unsigned char> rest = in.rest();
    const int form = (choice >> 1) % 3;  // 0 any, 1 DER, 2 PEM
    if (choice & 1)
        revocation_list(form, rest);
    else
        certificate(form, rest);
    clear_errors();
    return 0;
}
