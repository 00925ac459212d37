// The GOST cipher and digest records through libcrypto's EVP layer: one
// update against the same data cut at the fuzzer's points, padding on and
// off, and decryption of what was encrypted.
#include <openssl/evp.h>

#include <algorithm>
#include <cstdlib>
#include <vector>

#include "crypto/engine/engine.h"
#include "crypto/rus/evp_gost.h"
#include "fuzz/fuzz_support.h"

namespace cadb::fuzz {
namespace {

using Bytes = std::vector<unsigned char>;

std::vector<int> pieces(Input& in, std::size_t n) {
    const int ncuts = in.byte() % 16;
    std::vector<std::size_t> points = {0, n};
    for (int i = 0; i < ncuts; ++i) points.push_back(n == 0 ? 0 : in.u16() % (n + 1));
    std::sort(points.begin(), points.end());
    std::vector<int> out;
    for (std::size_t i = 1; i < points.size(); ++i)
        out.push_back(static_cast<int>(points[i] - points[i - 1]));
    return out;
}

// Empty when the record refuses the input (unpadded ECB of a partial block).
Bytes cipher(const EVP_CIPHER* c, const Bytes& key, const Bytes& iv, const Bytes& data,
             const std::vector<int>& cuts, int enc, int pad) {
    EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
    if (ctx == nullptr || EVP_CipherInit_ex(ctx, c, nullptr, key.data(), iv.data(), enc) != 1)
        abort();
    EVP_CIPHER_CTX_set_padding(ctx, pad);
    Bytes out(data.size() + 2 * EVP_MAX_BLOCK_LENGTH);
    int total = 0, n = 0;
    std::size_t off = 0;
    bool ok = true;
    for (int len : cuts) {
        ok = ok && EVP_CipherUpdate(ctx, out.data() + total, &n, data.data() + off, len) == 1;
        total += ok ? n : 0;
        off += static_cast<std::size_t>(len);
    }
    ok = ok && EVP_CipherFinal_ex(ctx, out.data() + total, &n) == 1;
    EVP_CIPHER_CTX_free(ctx);
    if (!ok) return {};
    out.resize(static_cast<std::size_t>(total + n));
    return out;
}

Bytes digest(const EVP_MD* md, const Bytes& data, const std::vector<int>& cuts) {
    EVP_MD_CTX* ctx = EVP_MD_CTX_new();
    if (ctx == nullptr || EVP_DigestInit_ex(ctx, md, nullptr) != 1) abort();
    std::size_t off = 0;
    for (int len : cuts) {
        if (EVP_DigestUpdate(ctx, data.data() + off, static_cast<std::size_t>(len)) != 1) abort();
        off += static_cast<std::size_t>(len);
    }
    Bytes out(EVP_MAX_MD_SIZE);
    unsigned int n = 0;
    if (EVP_DigestFinal_ex(ctx, out.data(), &n) != 1) abort();
    EVP_MD_CTX_free(ctx);
    out.resize(n);
    return out;
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
    const Bytes key = in.bytes(32);
    const Bytes iv = in.bytes(8);
    const std::size_t want = in.u16() % 4096;
    std::vector<int> cuts = pieces(in, want);
    Bytes text = in.bytes(want);
    const std::vector<int> whole = {static_cast<int>(text.size())};

    const auto ciphers = EVP_gost_ciphers();
    const auto digests = EVP_gost_digests();
    const std::size_t pick = choice >> 1;
    if (choice & 1) {
        const EVP_MD* md = digests[pick % digests.size()];
        // The MAC record needs a key loaded by hand; it is not a plain digest.
        if (md == EVP_gost_mac()) return 0;
        if (digest(md, text, whole) != digest(md, text, cuts)) abort();
    } else {
        const EVP_CIPHER* c = ciphers[pick % ciphers.size()];
        const int pad = (choice >> 7) & 1;
        const Bytes one = cipher(c, key, iv, text, whole, 1, pad);
        if (cipher(c, key, iv, text, cuts, 1, pad) != one) abort();
        if (!one.empty() || text.empty()) {
            const std::vector<int> back_cuts = {static_cast<int>(one.size())};
            if (cipher(c, key, iv, one, back_cuts, 0, pad) != text) abort();
        }
    }
    clear_errors();
    return 0;
}
