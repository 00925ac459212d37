// The Gost28147-89-Parameters coder: any ASN.1 value as cipher parameters;
// what decodes must encode back to the same value.
#include <openssl/asn1.h>

#include <cstdlib>
#include <cstring>
#include <vector>

#include "crypto/rus/evp_cipher_params.h"
#include "fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace cadb;
    const unsigned char* p = data;
    ASN1_TYPE* params = ::d2i_ASN1_TYPE(nullptr, &p, static_cast<long>(size));
    if (params == nullptr) return 0;
    unsigned char iv[GOST_CIPHER_IV_SIZE];
    int nid = 0;
    if (GOST_CIPHER_PARAMS_decode(params, iv, &nid) == 1) {
        ASN1_TYPE* again = ASN1_TYPE_new();
        if (again == nullptr || GOST_CIPHER_PARAMS_encode(again, iv, nid) != 1) abort();
        unsigned char iv2[GOST_CIPHER_IV_SIZE];
        int nid2 = 0;
        if (GOST_CIPHER_PARAMS_decode(again, iv2, &nid2) != 1 || nid2 != nid ||
            std::memcmp(iv, iv2, sizeof iv) != 0)
            abort();
        ASN1_TYPE_free(again);
    }
    ASN1_TYPE_free(params);
    ::ERR_clear_error();
    fuzz::clear_errors();
    return 0;
}
