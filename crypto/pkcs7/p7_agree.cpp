#include "crypto/pkcs7/p7_agree.h"

#include <openssl/bn.h>
#include <openssl/core_names.h>
#include <openssl/crypto.h>

#include <memory>
#include <optional>
#include <vector>

#include "crypto/core/gost_pkey.h"
#include "crypto/core/objects.h"
#include "crypto/ecgost/ecgost.h"
#include "crypto/pkcs7/p7_err.h"
#include "crypto/pkcs7/p7_local.h"
#include "crypto/pkcs7/p7_wrap.h"
#include "crypto/r3410/r3410.h"
#include "crypto/r3410/r3410_dh.h"
#include "crypto/rus/evp_gost.h"

namespace cadb {
namespace {

using Secret = std::vector<unsigned char>;

struct Wiped {
    Secret v;
    ~Wiped() { OPENSSL_cleanse(v.data(), v.size()); }
};

struct Group {
    BnPtr p, q, g, y;
};

// The recipient's DH group and public number (DSA and GOST R 34.10-94).
bool group_of(EVP_PKEY* k, int type, Group& out) {
    if (type == NID_R3410) {
        const auto* key = static_cast<const GOSTS*>(EVP_PKEY_get0(k));
        if (key == nullptr || !key->p || !key->q || !key->a) return false;
        out.p.reset(BN_dup(key->p.get()));
        out.q.reset(BN_dup(key->q.get()));
        out.g.reset(BN_dup(key->a.get()));
        out.y.reset(key->y ? BN_dup(key->y.get()) : nullptr);
        return out.p && out.q && out.g;
    }
    BIGNUM *p = nullptr, *q = nullptr, *g = nullptr, *y = nullptr;
    EVP_PKEY_get_bn_param(k, OSSL_PKEY_PARAM_FFC_P, &p);
    EVP_PKEY_get_bn_param(k, OSSL_PKEY_PARAM_FFC_Q, &q);
    EVP_PKEY_get_bn_param(k, OSSL_PKEY_PARAM_FFC_G, &g);
    EVP_PKEY_get_bn_param(k, OSSL_PKEY_PARAM_PUB_KEY, &y);
    out.p.reset(p);
    out.q.reset(q);
    out.g.reset(g);
    out.y.reset(y);
    return out.p && out.q && out.g;
}

// A peer's public number must lie in 1 < y < p - 1 and have order q.
bool valid_public(const Group& grp, const BIGNUM* y, BN_CTX* ctx) {
    BnPtr pm1(BN_dup(grp.p.get()));
    BnPtr t(BN_new());
    return pm1 && t && BN_sub_word(pm1.get(), 1) && BN_cmp(y, BN_value_one()) > 0 &&
           BN_cmp(y, pm1.get()) < 0 && BN_mod_exp(t.get(), y, grp.q.get(), grp.p.get(), ctx) &&
           BN_is_one(t.get());
}

bool pad_be(const BIGNUM* v, int len, Secret& out) {
    out.assign(static_cast<std::size_t>(len), 0);
    return BN_bn2binpad(v, out.data(), len) == len;
}

struct WrapChoice {
    int wrap_nid;
    const EVP_CIPHER* cipher;
    int kek_len;
    bool dummy;
};

// Wrap by the content cipher. The wrap of NID 330 is the RFC 3217
// construction over GOST 28147-89 CFB with CryptoPro meshing, not the
// CryptoPro key wrap of RFC 4357 that the object names elsewhere: the
// authority's software reads this form.
std::optional<WrapChoice> wrap_for_cipher(const EVP_CIPHER* c) {
    if (c == nullptr) return std::nullopt;
    switch (OBJ_openssl2nid(EVP_CIPHER_get_nid(c))) {
        case NID_des_ede3_cbc:
            return WrapChoice{NID_CMS3DES_WRAP, EVP_des_ede3_cbc(), 24, false};
        case NID_RUS_GAMMAR:
            return WrapChoice{NID_GOST_WRAP, EVP_rus_gammar(), 32, false};
        case NID_RUS_GAMMAR_CP:
            return WrapChoice{NID_GOST28147_WRAP, EVP_rus_gammar_cp(), 32, false};
        default:
            return std::nullopt;
    }
}

std::optional<WrapChoice> wrap_for_nid(int family, int type, int wrap_nid) {
    if (family == RECIP_FORM_AGREE && type != NID_ECR3410) {
        // The wrap object names the cipher of a plain encryption.
        if (wrap_nid == NID_CMS3DES_WRAP) return WrapChoice{wrap_nid, EVP_des_ede3_cbc(), 24, true};
        if (wrap_nid == NID_RUS_GAMMAR) return WrapChoice{wrap_nid, EVP_rus_gammar(), 32, true};
        return std::nullopt;
    }
    switch (wrap_nid) {
        case NID_GOST_WRAP:
            return WrapChoice{wrap_nid, EVP_rus_gammar(), 32, false};
        case NID_CMS3DES_WRAP:
            return WrapChoice{wrap_nid, EVP_des_ede3_cbc(), 24, false};
        case NID_GOST28147_WRAP:
            return WrapChoice{wrap_nid, EVP_rus_gammar_cp(), 32, false};
        default:
            return std::nullopt;
    }
}

const EVP_MD* kdf_md(int family, int type) {
    if (type == NID_dsa) return EVP_sha1();
    if (type == NID_R3410) return family == RECIP_FORM_AGREE ? EVP_sha1() : EVP_rus_hash();
    return EVP_rus_hash();
}

int originator_nid(int family, int type) {
    if (type == NID_ECR3410) return NID_ECR3410;
    if (type == NID_R3410 && family != RECIP_FORM_AGREE) return NID_R3410;
    return NID_DH_PUBLIC_NUMBER;
}

// The originator's public value as the form writes it.
bool encode_dh_public(int family, const BIGNUM* x, Secret& out) {
    if (family == RECIP_FORM_AGREE) {
        out.assign(static_cast<std::size_t>(BN_num_bytes(x)), 0);
        BN_bn2bin(x, out.data());
        return !out.empty();
    }
    ASN1_INTEGER* i = BN_to_ASN1_INTEGER(x, nullptr);
    unsigned char* der = nullptr;
    const int len = i != nullptr ? i2d_ASN1_INTEGER(i, &der) : -1;
    ASN1_INTEGER_free(i);
    if (len <= 0) return false;
    out.assign(der, der + len);
    OPENSSL_free(der);
    return true;
}

BIGNUM* decode_dh_public(int family, const unsigned char* in, int len) {
    if (family == RECIP_FORM_AGREE) return BN_bin2bn(in, len, nullptr);
    const unsigned char* p = in;
    ASN1_INTEGER* i = d2i_ASN1_INTEGER(nullptr, &p, len);
    BIGNUM* v = i != nullptr && p == in + len ? ASN1_INTEGER_to_BN(i, nullptr) : nullptr;
    ASN1_INTEGER_free(i);
    return v;
}

bool wrap_key(const WrapChoice& w, const unsigned char* kek, const unsigned char* key, int key_len,
              unsigned char* out, int out_size, int& out_len) {
    out_len = out_size;
    if (w.dummy) return CMS_dummy_wrap(kek, key, key_len, out, &out_len, w.cipher) == 1;
    if (w.wrap_nid == NID_CMS3DES_WRAP)
        return CMS_3des_wrap(kek, key, key_len, out, &out_len, w.cipher) == 1;
    return CMS_gost_wrap(kek, key, key_len, out, &out_len, w.cipher) == 1;
}

bool unwrap_key(const WrapChoice& w, const unsigned char* kek, const unsigned char* in, int in_len,
                unsigned char* out, int out_size, int& out_len) {
    out_len = out_size;
    if (w.dummy) return CMS_dummy_unwrap(kek, in, in_len, out, &out_len, w.cipher) == 1;
    if (w.wrap_nid == NID_CMS3DES_WRAP)
        return CMS_3des_unwrap(kek, in, in_len, out, &out_len, w.cipher) == 1;
    return CMS_gost_unwrap(kek, in, in_len, out, &out_len, w.cipher) == 1;
}

}  // namespace

int p7_agree_encrypt(int family, unsigned char* out, int out_size, const unsigned char* key,
                     int key_len, PKCS7_RECIP_INFO* ri, EVP_PKEY* pub, const EVP_CIPHER* cipher) {
    constexpr int F = P7_F_PKCS7_CEK_ENCRYPT;
    const int type = EVP_PKEY_nid(pub);
    std::optional<WrapChoice> wrap;
    if (family == RECIP_FORM_AGREE && type == NID_dsa)
        wrap = WrapChoice{NID_CMS3DES_WRAP, EVP_des_ede3_cbc(), 24, true};
    else if (family == RECIP_FORM_AGREE && type == NID_R3410)
        wrap = WrapChoice{NID_RUS_GAMMAR, EVP_rus_gammar(), 32, true};
    else
        wrap = wrap_for_cipher(cipher);
    if (!wrap) {
        P7_ERR(F, P7_R_UNSUPPORTED_CIPHER_TYPE);
        return 0;
    }
    std::unique_ptr<BN_CTX, decltype(&BN_CTX_free)> ctx(BN_CTX_new(), BN_CTX_free);
    Wiped z;
    Secret public_value;
    if (type == NID_ECR3410) {
        const auto* rkey = static_cast<const ECGOST*>(EVP_PKEY_get0(pub));
        std::unique_ptr<ECDH, decltype(&ECDH_free)> dh(
            rkey != nullptr && rkey->curve != nullptr ? ECDH_new(rkey->curve, ECDH_COFACTOR_NONE)
                                                      : nullptr,
            ECDH_free);
        if (!dh || ECDH_generate_key(dh.get()) != 1) {
            P7_ERR(F, P7_R_EPHEMERAL_KEY_FAILED);
            return 0;
        }
        BnPtr shared;
        if (!rkey->Q || ECDH_compute_key(rkey->Q.get(), dh.get()) != 1 ||
            !(shared = BnPtr(ECDH_get_result(dh.get()))) ||
            !pad_be(shared.get(), ECDH_size(dh.get()), z.v)) {
            BN_clear(shared.get());
            P7_ERR(F, P7_R_KEY_AGREEMENT_FAILED);
            return 0;
        }
        BN_clear(shared.get());
        unsigned char point[256];
        const std::size_t n = ECPOINT_point2bin(dh->pub.get(), 0, point, sizeof point);
        ASN1_OCTET_STRING* os = ASN1_OCTET_STRING_new();
        unsigned char* der = nullptr;
        const int len =
            os != nullptr && n > 0 && ASN1_OCTET_STRING_set(os, point, static_cast<int>(n))
                ? i2d_ASN1_OCTET_STRING(os, &der)
                : -1;
        ASN1_OCTET_STRING_free(os);
        if (len <= 0) {
            P7_ERR(F, P7_R_MALLOC);
            return 0;
        }
        public_value.assign(der, der + len);
        OPENSSL_free(der);
    } else {
        Group grp;
        BnPtr x(BN_secure_new());
        BnPtr big_x(BN_new());
        BnPtr shared(BN_secure_new());
        if (!ctx || !group_of(pub, type, grp) || !grp.y ||
            !valid_public(grp, grp.y.get(), ctx.get())) {
            P7_ERR(F, P7_R_BAD_RECIPIENT_KEY_DATA);
            return 0;
        }
        if (!x || !big_x || !shared || !BN_priv_rand_range(x.get(), grp.q.get()) ||
            BN_is_zero(x.get()) ||
            !BN_mod_exp(big_x.get(), grp.g.get(), x.get(), grp.p.get(), ctx.get())) {
            P7_ERR(F, P7_R_EPHEMERAL_KEY_FAILED);
            return 0;
        }
        const bool ok = BN_mod_exp(shared.get(), grp.y.get(), x.get(), grp.p.get(), ctx.get()) &&
                        pad_be(shared.get(), BN_num_bytes(grp.p.get()), z.v);
        BN_clear(x.get());
        BN_clear(shared.get());
        if (!ok) {
            P7_ERR(F, P7_R_KEY_AGREEMENT_FAILED);
            return 0;
        }
        if (!encode_dh_public(family, big_x.get(), public_value)) {
            P7_ERR(F, P7_R_MALLOC);
            return 0;
        }
    }
    Wiped kek;
    kek.v.assign(static_cast<std::size_t>(wrap->kek_len), 0);
    const ASN1_OCTET_STRING* ukm = family == RECIP_FORM_AGREE ? nullptr : ri->ukm;
    if (X942_KEK_GENERATE(kdf_md(family, type), z.v.data(), static_cast<int>(z.v.size()),
                          wrap->wrap_nid, kek.v.data(), wrap->kek_len,
                          ukm != nullptr ? ASN1_STRING_get0_data(ukm) : nullptr,
                          ukm != nullptr ? ASN1_STRING_length(ukm) : 0) != wrap->kek_len) {
        P7_ERR(F, P7_R_KEK_FAILED);
        return 0;
    }
    PKCS7_ORIGINATOR_KEY* orig = PKCS7_ORIGINATOR_KEY_new();
    const int orig_nid = originator_nid(family, type);
    if (orig == nullptr ||
        !X509_ALGOR_set0(orig->algorithm, OBJ_dup(OBJ_nid2obj(orig_nid)), V_ASN1_NULL, nullptr) ||
        !ASN1_BIT_STRING_set(orig->public_key, public_value.data(),
                             static_cast<int>(public_value.size())) ||
        !X509_ALGOR_set_nested(ri->key_enc_algor, wrap->wrap_nid)) {
        PKCS7_ORIGINATOR_KEY_free(orig);
        P7_ERR(F, P7_R_MALLOC);
        return 0;
    }
    orig->public_key->flags &= ~(ASN1_STRING_FLAG_BITS_LEFT | 0x07);
    orig->public_key->flags |= ASN1_STRING_FLAG_BITS_LEFT;
    PKCS7_ORIGINATOR_KEY_free(ri->originator);
    ri->originator = orig;
    int out_len = 0;
    if (!wrap_key(*wrap, kek.v.data(), key, key_len, out, out_size, out_len)) {
        P7_ERR(F, P7_R_EVP_LIB);
        return 0;
    }
    return out_len;
}

int p7_agree_decrypt(int family, unsigned char* out, int out_size, const unsigned char* in,
                     int in_len, PKCS7_RECIP_INFO* ri, EVP_PKEY* pkey) {
    constexpr int F = P7_F_PKCS7_CEK_DECRYPT;
    const int type = EVP_PKEY_nid(pkey);
    const long version = ri->version != nullptr ? ASN1_INTEGER_get(ri->version) : -1;
    // The agreement record: the recipient itself, or for a key-transport
    // recipient of forms 0/2 the compact record in its encrypted key.
    std::unique_ptr<PKCS7_RECIP_INFO, decltype(&PKCS7_RECIP_INFO_free)> compact(
        nullptr, PKCS7_RECIP_INFO_free);
    const PKCS7_RECIP_INFO* rec = ri;
    const unsigned char* wrapped = in;
    int wrapped_len = in_len;
    if (family == RECIP_FORM_AGREE) {
        if (version != 3 || ri->originator == nullptr) {
            P7_ERR(F, P7_R_BAD_RECIPIENT_KEY_DATA);
            return 0;
        }
    } else if (version == 0) {
        compact.reset(d2i_PKCS7_RECIP_INFO_compact(in, in_len));
        if (!compact) {
            P7_ERR(F, P7_R_BAD_RECIPIENT_KEY_DATA);
            return 0;
        }
        rec = compact.get();
        wrapped = ASN1_STRING_get0_data(rec->enc_key);
        wrapped_len = ASN1_STRING_length(rec->enc_key);
    } else if (version != 3) {
        P7_ERR(F, P7_R_BAD_RECIPIENT_KEY_DATA);
        return 0;
    }
    if (rec->originator == nullptr) {
        P7_ERR(F, P7_R_BAD_RECIPIENT_KEY_DATA);
        return 0;
    }
    if (p7_algor_nid(rec->originator->algorithm) != originator_nid(family, type)) {
        P7_ERR(F, P7_R_UNSUPPORTED_KEY_TYPE);
        return 0;
    }
    const int wrap_nid = X509_ALGOR_get_nested_nid(rec->key_enc_algor);
    if (wrap_nid == 0) {
        P7_ERR(F, P7_R_ORIGINATOR_KEY_MISSING);
        return 0;
    }
    const std::optional<WrapChoice> wrap = wrap_for_nid(family, type, wrap_nid);
    if (!wrap) {
        P7_ERR(F, family == RECIP_FORM_AGREE && type != NID_ECR3410
                      ? P7_R_UNSUPPORTED_CIPHER_TYPE
                      : P7_R_UNSUPPORTED_WRAP_ALGORITHM);
        return 0;
    }
    const unsigned char* pub = ASN1_STRING_get0_data(rec->originator->public_key);
    const int pub_len = ASN1_STRING_length(rec->originator->public_key);
    Wiped z;
    if (type == NID_ECR3410) {
        const auto* own = static_cast<const ECGOST*>(EVP_PKEY_get0(pkey));
        const unsigned char* p = pub;
        ASN1_OCTET_STRING* os = d2i_ASN1_OCTET_STRING(nullptr, &p, pub_len);
        EcPointPtr peer(os != nullptr && own != nullptr && own->curve != nullptr
                            ? ECPOINT_bi2point(own->curve, ASN1_STRING_get0_data(os),
                                               static_cast<std::size_t>(ASN1_STRING_length(os)),
                                               nullptr)
                            : nullptr);
        ASN1_OCTET_STRING_free(os);
        if (!peer) {
            ::ERR_clear_error();
            P7_ERR(F, P7_R_MALLOC);
            return 0;
        }
        std::unique_ptr<ECDH, decltype(&ECDH_free)> dh(ECGOST_dup_ECDH(own), ECDH_free);
        BnPtr shared;
        if (!dh || ECDH_compute_key(peer.get(), dh.get()) != 1 ||
            !(shared = BnPtr(ECDH_get_result(dh.get()))) ||
            !pad_be(shared.get(), ECDH_size(dh.get()), z.v)) {
            BN_clear(shared.get());
            P7_ERR(F, P7_R_KEY_AGREEMENT_FAILED);
            return 0;
        }
        BN_clear(shared.get());
    } else {
        std::unique_ptr<BN_CTX, decltype(&BN_CTX_free)> ctx(BN_CTX_new(), BN_CTX_free);
        Group grp;
        BnPtr peer(decode_dh_public(family, pub, pub_len));
        if (!peer || !ctx || !group_of(pkey, type, grp)) {
            P7_ERR(F, P7_R_MALLOC);
            return 0;
        }
        if (!valid_public(grp, peer.get(), ctx.get())) {
            P7_ERR(F, P7_R_KEY_AGREEMENT_FAILED);
            return 0;
        }
        const int size = BN_num_bytes(grp.p.get());
        if (type == NID_R3410) {
            std::unique_ptr<R3410_DH, decltype(&R3410_DH_free)> dh(
                R3410_dup_DH(static_cast<const GOSTS*>(EVP_PKEY_get0(pkey))), R3410_DH_free);
            Secret peer_be;
            z.v.assign(static_cast<std::size_t>(size), 0);
            int len = size;
            if (!dh || !pad_be(peer.get(), size, peer_be) ||
                !R3410_DH_compute_key_out(dh.get(), peer_be.data(), size, z.v.data(), &len) ||
                len != size) {
                P7_ERR(F, P7_R_KEY_AGREEMENT_FAILED);
                return 0;
            }
        } else {
            BIGNUM* priv = nullptr;
            EVP_PKEY_get_bn_param(pkey, OSSL_PKEY_PARAM_PRIV_KEY, &priv);
            BnPtr x(priv);
            BnPtr shared(BN_secure_new());
            const bool ok = x && shared &&
                            BN_mod_exp(shared.get(), peer.get(), x.get(), grp.p.get(), ctx.get()) &&
                            pad_be(shared.get(), size, z.v);
            BN_clear(x.get());
            BN_clear(shared.get());
            if (!ok) {
                P7_ERR(F, P7_R_KEY_AGREEMENT_FAILED);
                return 0;
            }
        }
    }
    Wiped kek;
    kek.v.assign(static_cast<std::size_t>(wrap->kek_len), 0);
    const ASN1_OCTET_STRING* ukm = family == RECIP_FORM_AGREE ? nullptr : rec->ukm;
    if (X942_KEK_GENERATE(kdf_md(family, type), z.v.data(), static_cast<int>(z.v.size()),
                          wrap->wrap_nid, kek.v.data(), wrap->kek_len,
                          ukm != nullptr ? ASN1_STRING_get0_data(ukm) : nullptr,
                          ukm != nullptr ? ASN1_STRING_length(ukm) : 0) != wrap->kek_len) {
        P7_ERR(F, P7_R_KEK_FAILED);
        return 0;
    }
    int out_len = 0;
    if (!unwrap_key(*wrap, kek.v.data(), wrapped, wrapped_len, out, out_size, out_len)) {
        P7_ERR(F, P7_R_EVP_LIB);
        return 0;
    }
    return out_len;
}

}  // namespace cadb
