// The encodings that come back from media: the password-encrypted buffer
// (DER, PEM or bare base64; its inner digested and compressed messages), zlib
// streams under an output limit, and objects read in any form. A buffer that
// decrypts must carry its terminating zero.
#include <openssl/err.h>
#include <openssl/x509.h>

#include <cstdlib>
#include <vector>

#include "crypto/asn1/asn1_void_coders.h"
#include "crypto/cadb/buffer.h"
#include "crypto/cadb/buffer_encode.h"
#include "crypto/cadb/buffer_zlib.h"
#include "crypto/engine/engine.h"
#include "crypto/store/buffer_crypt.h"
#include "fuzz/fuzz_support.h"

namespace cadb::fuzz {
namespace {

// The password and work factor the seed messages were made with; one round
// of the key derivation keeps a run fast.
constexpr char kPasswd[] = "fuzz";
constexpr int kIterations = 1;

void check(const BUFFER* b, int max_len) {
    if (b == nullptr) return;
    if (b->length < 0 || (max_len > 0 && b->length > max_len)) abort();
    if (b->length > 0 && (b->data == nullptr || b->data[b->length] != 0)) abort();
}

}  // namespace
}  // namespace cadb::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace cadb;
    using namespace cadb::fuzz;
    static const bool loaded = [] {
        use_kernel_random();
        return ENGINE_load_cadb() == 1;
    }();
    if (!loaded) abort();
    Input in(data, size);
    const std::uint8_t choice = in.byte();
    std::vector<unsigned char> rest = in.rest();
    if (rest.empty()) return 0;
    const int len = static_cast<int>(rest.size());
    switch (choice % 4) {
        case 0:
        case 1: {
            BUFFER* b = BUFFER_decrypt(rest.data(), len, kPasswd, 4, kIterations, choice & 1);
            check(b, 0);
            BUFFER_free(b);
            break;
        }
        case 2: {
            const int max_len = (choice >> 2) * 64;
            BUFFER* b = BUFFER_uncompress(rest.data(), len, choice >> 5, max_len);
            check(b, max_len);
            BUFFER_free(b);
            break;
        }
        default: {
            const int form = (choice >> 2) % 7;
            void* x = form2x(rest.data(), len, form, d2i_as_void<::d2i_X509>, "CERTIFICATE");
            X509_free(static_cast<X509*>(x));
            break;
        }
    }
    ::ERR_clear_error();
    clear_errors();
    return 0;
}
