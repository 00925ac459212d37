// X9.42 key-encryption-key derivation (RFC 2631, 2.1.2).
#include <openssl/crypto.h>
#include <openssl/evp.h>

#include <algorithm>
#include <memory>

#include "crypto/core/objects.h"
#include "crypto/pkcs7/p7_err.h"
#include "crypto/pkcs7/p7_records.h"
#include "crypto/pkcs7/p7_wrap.h"

namespace cadb {
namespace {

void put_be32(unsigned char* out, unsigned long v) {
    out[0] = static_cast<unsigned char>(v >> 24);
    out[1] = static_cast<unsigned char>(v >> 16);
    out[2] = static_cast<unsigned char>(v >> 8);
    out[3] = static_cast<unsigned char>(v);
}

}  // namespace

int X942_KEK_GENERATE(const EVP_MD* md, const unsigned char* z, int z_len, int wrap_nid,
                      unsigned char* out, int key_len, const unsigned char* ukm, int ukm_len) {
    constexpr int F = P7_F_X942_KEK_GENERATE;
    if (key_len <= 0) return 0;
    if (md == nullptr || z == nullptr || z_len <= 0 || out == nullptr || key_len > 1 << 20) {
        P7_ERR(F, ERR_R_NULL_PARAMETER);
        return 0;
    }
    const ASN1_OBJECT* alg = OBJ_nid2obj(wrap_nid);
    P7Ptr<X942_OTHER_INFO> info(
        reinterpret_cast<X942_OTHER_INFO*>(ASN1_item_new(ASN1_ITEM_rptr(X942_OTHER_INFO))),
        {ASN1_ITEM_rptr(X942_OTHER_INFO)});
    if (!info || alg == nullptr) {
        P7_ERR(F, P7_R_MALLOC);
        return 0;
    }
    ASN1_OBJECT_free(info->key_info->algorithm);
    info->key_info->algorithm = OBJ_dup(alg);
    unsigned char bits[4];
    put_be32(bits, static_cast<unsigned long>(key_len) * 8);
    if (info->key_info->algorithm == nullptr || info->supp_pub == nullptr ||
        !ASN1_OCTET_STRING_set(info->supp_pub, bits, 4)) {
        P7_ERR(F, P7_R_MALLOC);
        return 0;
    }
    if (ukm != nullptr && ukm_len > 0) {
        info->party_a = ASN1_OCTET_STRING_new();
        if (info->party_a == nullptr || !ASN1_OCTET_STRING_set(info->party_a, ukm, ukm_len)) {
            P7_ERR(F, P7_R_MALLOC);
            return 0;
        }
    }
    std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> ctx(EVP_MD_CTX_new(), EVP_MD_CTX_free);
    unsigned char block[EVP_MAX_MD_SIZE];
    int done = 0;
    for (unsigned long counter = 1; done < key_len; ++counter) {
        unsigned char c[4];
        put_be32(c, counter);
        unsigned char* der = nullptr;
        int der_len = 0;
        unsigned int n = 0;
        const bool ok = ctx && ASN1_OCTET_STRING_set(info->key_info->counter, c, 4) &&
                        (der_len = ASN1_item_i2d(reinterpret_cast<const ASN1_VALUE*>(info.get()),
                                                 &der, ASN1_ITEM_rptr(X942_OTHER_INFO))) > 0 &&
                        EVP_DigestInit_ex(ctx.get(), md, nullptr) == 1 &&
                        EVP_DigestUpdate(ctx.get(), z, static_cast<size_t>(z_len)) == 1 &&
                        EVP_DigestUpdate(ctx.get(), der, static_cast<size_t>(der_len)) == 1 &&
                        EVP_DigestFinal_ex(ctx.get(), block, &n) == 1 && n > 0;
        OPENSSL_free(der);
        if (!ok) {
            OPENSSL_cleanse(block, sizeof block);
            OPENSSL_cleanse(out, static_cast<size_t>(done));
            P7_ERR(F, P7_R_MALLOC);
            return 0;
        }
        const int take = std::min(key_len - done, static_cast<int>(n));
        std::copy_n(block, take, out + done);
        done += take;
    }
    OPENSSL_cleanse(block, sizeof block);
    return key_len;
}

}  // namespace cadb
