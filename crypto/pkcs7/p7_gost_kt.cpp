// GOST key transport of a 32-byte content key (RFC 4490 section 5.2 over the
// algorithms of RFC 4357): VKO agreement with an ephemeral key, KEK by GOST R
// 34.11-94, diversified by the UKM, the key encrypted in simple substitution
// and authenticated by the 32-bit MAC.
#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/x509.h>

#include <algorithm>
#include <array>
#include <memory>
#include <vector>

#include "crypto/core/gost_pkey.h"
#include "crypto/core/objects.h"
#include "crypto/core/token_key.h"
#include "crypto/ecgost/ecgost.h"
#include "crypto/ecgost/ecgost_evp.h"
#include "crypto/engine/evp_pkey.h"
#include "crypto/pkcs7/p7_cek.h"
#include "crypto/pkcs7/p7_err.h"
#include "crypto/r3410/r3410.h"
#include "crypto/r3410/r3410_dh.h"
#include "crypto/rand/rand.h"
#include "crypto/rus/evp_gost.h"
#include "crypto/rus/modes.h"
#include "crypto/rus/sbox.h"

namespace cadb {
namespace {

constexpr int kKeyLen = 32;
constexpr int kMacLen = 4;
constexpr int kUkmLen = 8;

using PkeyPtr = std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)>;
using PkeyCtxPtr = std::unique_ptr<EVP_PKEY_CTX, decltype(&EVP_PKEY_CTX_free)>;
using GosteOwner = std::unique_ptr<GOSTE, decltype(&GOSTE_free)>;

// Secret bytes wiped on every exit.
struct Secret {
    std::vector<unsigned char> v;
    explicit Secret(std::size_t n = 0) : v(n, 0) {}
    ~Secret() { OPENSSL_cleanse(v.data(), v.size()); }
    unsigned char* data() { return v.data(); }
    std::size_t size() const { return v.size(); }
};

struct Keys {
    std::array<unsigned char, kKeyLen> kek{}, kek_ukm{};
    ~Keys() {
        OPENSSL_cleanse(kek.data(), kek.size());
        OPENSSL_cleanse(kek_ukm.data(), kek_ukm.size());
    }
};

// The agreed bytes: for 271 the VKO point x || y little-endian; for 272 the
// DH shared number little-endian in the group's length.
bool agree(int type, EVP_PKEY* own, EVP_PKEY* peer, const unsigned char* ukm, Secret& out) {
    if (type == NID_ECR3410_CP) {
        auto* mine = static_cast<ECGOST*>(EVP_PKEY_get0(own));
        auto* theirs = static_cast<ECGOST*>(EVP_PKEY_get0(peer));
        if (mine == nullptr || theirs == nullptr || !theirs->Q) return false;
        std::unique_ptr<ECDH, decltype(&ECDH_free)> dh(ECGOST_dup_ECDH(mine), ECDH_free);
        unsigned char le[kUkmLen];
        std::reverse_copy(ukm, ukm + kUkmLen, le);
        BnPtr u(BN_bin2bn(le, kUkmLen, nullptr));
        if (!dh || !u) return false;
        EcPointPtr k(ECDH_compute_vko(theirs->Q.get(), u.get(), dh.get()));
        if (!k) return false;
        const int size = ECDH_point_size(dh.get());
        if (size <= 0) return false;
        out = Secret(static_cast<std::size_t>(size));
        return ECPOINT_point2le(k.get(), out.data(), out.size()) == out.size();
    }
    auto* mine = static_cast<GOSTS*>(EVP_PKEY_get0(own));
    auto* theirs = static_cast<GOSTS*>(EVP_PKEY_get0(peer));
    if (mine == nullptr || theirs == nullptr || !theirs->y) return false;
    std::unique_ptr<R3410_DH, decltype(&R3410_DH_free)> dh(R3410_dup_DH(mine), R3410_DH_free);
    if (!dh) return false;
    const int size = R3410_DH_size(dh.get());
    std::vector<unsigned char> y(static_cast<std::size_t>(size));
    if (size <= 0 || BN_bn2binpad(theirs->y.get(), y.data(), size) != size) return false;
    out = Secret(static_cast<std::size_t>(size));
    int len = size;
    if (!R3410_DH_compute_key_out(dh.get(), y.data(), size, out.data(), &len) || len != size)
        return false;
    std::reverse(out.v.begin(), out.v.end());
    return true;
}

// KEK = GOST R 34.11-94 of the agreed bytes; KEK(UKM) by diversification.
bool derive(const Secret& agreed, const unsigned char* ukm, const unsigned char* sbox, Keys& k) {
    unsigned int n = 0;
    return EVP_Digest(agreed.v.data(), agreed.size(), k.kek.data(), &n, EVP_rus_hash_cp(),
                      nullptr) == 1 &&
           n == kKeyLen &&
           GOSTE_key_diversify(ukm, k.kek.data(), k.kek_ukm.data(), sbox) != nullptr;
}

bool mac(const Keys& k, const unsigned char* ukm, const unsigned char* sbox,
         const unsigned char* cek, unsigned char* out4) {
    GosteOwner ctx(GOSTE_new(), GOSTE_free);
    return ctx && GOSTE_mac_init_iv(ctx.get(), k.kek_ukm.data(), ukm, sbox) == 1 &&
           GOSTE_mac_update(ctx.get(), cek, nullptr, kKeyLen) == kKeyLen &&
           GOSTE_mac_final(ctx.get(), out4, 32) == kMacLen;
}

bool ecb(const Keys& k, const unsigned char* sbox, int direction, const unsigned char* in,
         unsigned char* out) {
    GosteOwner ctx(GOSTE_new(), GOSTE_free);
    return ctx && GOSTE_ss_init(ctx.get(), direction, k.kek_ukm.data(), sbox) == 1 &&
           GOSTE_ss_process(ctx.get(), in, out, kKeyLen) == kKeyLen;
}

// A new key of the peer's type on the peer's parameter sets.
PkeyPtr ephemeral_for(int type, EVP_PKEY* peer) {
    int paramset = 0;
    if (type == NID_ECR3410_CP) {
        paramset = static_cast<ECGOST*>(EVP_PKEY_get0(peer))->nid;
    } else {
        paramset = static_cast<GOSTS*>(EVP_PKEY_get0(peer))->param_nid;
    }
    PkeyCtxPtr ctx(EVP_PKEY_CTX_new_id(OBJ_nid2openssl(type), nullptr), EVP_PKEY_CTX_free);
    EVP_PKEY* made = nullptr;
    if (!ctx || EVP_PKEY_keygen_init(ctx.get()) != 1 ||
        EVP_PKEY_CTX_ctrl(ctx.get(), -1, EVP_PKEY_OP_KEYGEN, EVP_PKEY_CTRL_GOST_PARAMSET, paramset,
                          nullptr) <= 0 ||
        EVP_PKEY_keygen(ctx.get(), &made) != 1) {
        ::ERR_clear_error();
        return PkeyPtr(nullptr, EVP_PKEY_free);
    }
    PkeyPtr eph(made, EVP_PKEY_free);
    if (type == NID_ECR3410_CP) {
        auto* e = static_cast<ECGOST*>(EVP_PKEY_get0(made));
        const auto* p = static_cast<ECGOST*>(EVP_PKEY_get0(peer));
        e->hash_nid = p->hash_nid;
        e->cipher_nid = p->cipher_nid;
    } else {
        auto* e = static_cast<GOSTS*>(EVP_PKEY_get0(made));
        const auto* p = static_cast<GOSTS*>(EVP_PKEY_get0(peer));
        e->hash_nid = p->hash_nid;
        e->cipher_nid = p->cipher_nid;
    }
    return eph;
}

// The S-box of the key transport: the recipient's encryption parameter set
// when it names one of the CryptoPro sets, else the process default.
int sbox_nid_for(int type, EVP_PKEY* peer) {
    const int named = type == NID_ECR3410_CP ? static_cast<ECGOST*>(EVP_PKEY_get0(peer))->cipher_nid
                                             : static_cast<GOSTS*>(EVP_PKEY_get0(peer))->cipher_nid;
    if (named >= NID_GOST28147_A_PARAMSET && named <= NID_GOST28147_D_PARAMSET) return named;
    const int def = GOSTE_get_sbox_nid(GOSTE_get_default_sbox());
    return def != 0 ? def : NID_GOST28147_A_PARAMSET;
}

bool same_params(int type, EVP_PKEY* a, EVP_PKEY* b) {
    if (type == NID_ECR3410_CP) {
        const auto* x = static_cast<ECGOST*>(EVP_PKEY_get0(a));
        const auto* y = static_cast<ECGOST*>(EVP_PKEY_get0(b));
        return x != nullptr && y != nullptr && x->nid == y->nid && x->hash_nid == y->hash_nid &&
               x->curve != nullptr && y->curve != nullptr && ECURVE_cmp(x->curve, y->curve) == 0;
    }
    const auto* x = static_cast<GOSTS*>(EVP_PKEY_get0(a));
    const auto* y = static_cast<GOSTS*>(EVP_PKEY_get0(b));
    return x != nullptr && y != nullptr && x->p && y->p && BN_cmp(x->p.get(), y->p.get()) == 0 &&
           x->q && y->q && BN_cmp(x->q.get(), y->q.get()) == 0 && x->a && y->a &&
           BN_cmp(x->a.get(), y->a.get()) == 0;
}

// A key-agreement record names the ephemeral key as its originator.
bool set_originator(PKCS7_RECIP_INFO* ri, X509_PUBKEY* eph) {
    ASN1_OBJECT* alg_obj = nullptr;
    const unsigned char* bits = nullptr;
    int bits_len = 0;
    X509_ALGOR* alg = nullptr;
    if (!X509_PUBKEY_get0_param(&alg_obj, &bits, &bits_len, &alg, eph)) return false;
    PKCS7_ORIGINATOR_KEY* orig = PKCS7_ORIGINATOR_KEY_new();
    X509_ALGOR* copy = X509_ALGOR_dup(alg);
    if (orig == nullptr || copy == nullptr ||
        !ASN1_BIT_STRING_set(orig->public_key, const_cast<unsigned char*>(bits), bits_len)) {
        PKCS7_ORIGINATOR_KEY_free(orig);
        X509_ALGOR_free(copy);
        return false;
    }
    X509_ALGOR_free(orig->algorithm);
    orig->algorithm = copy;
    orig->public_key->flags &= ~(ASN1_STRING_FLAG_BITS_LEFT | 0x07);
    orig->public_key->flags |= ASN1_STRING_FLAG_BITS_LEFT;
    PKCS7_ORIGINATOR_KEY_free(ri->originator);
    ri->originator = orig;
    return true;
}

bool is_gost_type(int type) { return type == NID_ECR3410_CP || type == NID_R3410_CP; }

// What a recipient received: the wrapped key and its MAC, the S-box set,
// the sender's ephemeral key and the UKM, read from a GostR3410-KeyTransport
// or, for an RFC 4490 key-agreement recipient, from a bare
// Gost28147-89-EncryptedKey beside the recipient's own fields.
struct Received {
    P7Ptr<GOST_KEY_TRANSPORT> transport{nullptr, {ASN1_ITEM_rptr(GOST_KEY_TRANSPORT)}};
    P7Ptr<GOST_ENCRYPTED_KEY> bare{nullptr, {ASN1_ITEM_rptr(GOST_ENCRYPTED_KEY)}};
    P7Ptr<GOST_KEY_WRAP_PARAMS> wrap{nullptr, {ASN1_ITEM_rptr(GOST_KEY_WRAP_PARAMS)}};
    PkeyPtr originator{nullptr, EVP_PKEY_free};
    const GOST_ENCRYPTED_KEY* key = nullptr;
    const ASN1_OBJECT* cipher_params = nullptr;
    EVP_PKEY* eph = nullptr;
    const ASN1_OCTET_STRING* ukm = nullptr;
};

bool read_transport(const unsigned char* in, int len, Received& r) {
    const unsigned char* p = in;
    r.transport.reset(d2i_GOST_KEY_TRANSPORT(nullptr, &p, len));
    const GOST_KEY_TRANSPORT* kt = r.transport.get();
    if (kt == nullptr || p != in + len || kt->params == nullptr) return false;
    r.key = kt->key;
    r.cipher_params = kt->params->cipher_params;
    r.eph = kt->params->ephemeral_key != nullptr ? X509_PUBKEY_get0(kt->params->ephemeral_key)
                                                 : nullptr;
    r.ukm = kt->params->ukm;
    return r.eph != nullptr;
}

// The wrap algorithm nested in the key-encryption algorithm, with its
// Gost28147-89-KeyWrapParameters. The KEK is diversified by the UKM as the
// CryptoPro key wrap does; a sender of the wrap without diversification
// fails the MAC.
bool read_wrap(const X509_ALGOR* kea, Received& r) {
    int type = 0;
    const void* value = nullptr;
    X509_ALGOR_get0(nullptr, &type, &value, kea);
    if (type != V_ASN1_SEQUENCE || value == nullptr) return false;
    P7Ptr<X509_ALGOR> wrap_alg(reinterpret_cast<X509_ALGOR*>(ASN1_item_unpack(
                                   static_cast<const ASN1_STRING*>(value), ASN1_ITEM_rptr(X509_ALGOR))),
                               {ASN1_ITEM_rptr(X509_ALGOR)});
    if (!wrap_alg) return false;
    X509_ALGOR_get0(nullptr, &type, &value, wrap_alg.get());
    if (type != V_ASN1_SEQUENCE || value == nullptr) return false;
    r.wrap.reset(reinterpret_cast<GOST_KEY_WRAP_PARAMS*>(ASN1_item_unpack(
        static_cast<const ASN1_STRING*>(value), ASN1_ITEM_rptr(GOST_KEY_WRAP_PARAMS))));
    if (!r.wrap) return false;
    r.cipher_params = r.wrap->cipher_params;
    return true;
}

bool read_bare(const unsigned char* in, int len, const PKCS7_RECIP_INFO* ri, Received& r) {
    const unsigned char* p = in;
    r.bare.reset(d2i_GOST_ENCRYPTED_KEY(nullptr, &p, len));
    if (!r.bare || p != in + len || ri->originator == nullptr || !read_wrap(ri->key_enc_algor, r))
        return false;
    r.key = r.bare.get();
    // RFC 4490 carries the UKM in the recipient record; the wrap parameters
    // may carry it too.
    r.ukm = r.wrap->ukm != nullptr ? r.wrap->ukm : ri->ukm;
    // The originator key is a SubjectPublicKeyInfo in all but name.
    unsigned char* der = nullptr;
    const int n = i2d_PKCS7_ORIGINATOR_KEY(ri->originator, &der);
    const unsigned char* q = der;
    r.originator.reset(n > 0 ? d2i_PUBKEY(nullptr, &q, n) : nullptr);
    OPENSSL_free(der);
    r.eph = r.originator.get();
    return r.eph != nullptr && r.ukm != nullptr;
}

}  // namespace

int PKCS7_CEK_ENCRYPT_gost(unsigned char* out, int out_size, const unsigned char* key, int key_len,
                           PKCS7_RECIP_INFO* ri) {
    constexpr int F = P7_F_PKCS7_CEK_ENCRYPT_GOST;
    if (out == nullptr || key == nullptr || ri == nullptr || ri->cert == nullptr) {
        P7_ERR(F, P7_R_METH_LIB);
        return 0;
    }
    // The transport authenticates exactly 32 key bytes: a content cipher
    // with another key length cannot use it.
    if (key_len != kKeyLen) {
        P7_ERR(F, P7_R_WRONG_KEY_LENGTH);
        return 0;
    }
    EVP_PKEY* peer = X509_get0_pubkey(ri->cert);
    const int type = peer != nullptr ? EVP_PKEY_nid(peer) : 0;
    if (!is_gost_type(type)) {
        P7_ERR(F, P7_R_UNSUPPORTED_KEY_TYPE);
        return 0;
    }
    unsigned char ukm[kUkmLen];
    if (RAND_bytes(ukm, kUkmLen) != kUkmLen) {
        P7_ERR(F, P7_R_METH_LIB);
        return 0;
    }
    PkeyPtr eph = ephemeral_for(type, peer);
    if (!eph) {
        P7_ERR(F, P7_R_EPHEMERAL_KEY_FAILED);
        return 0;
    }
    Secret agreed;
    if (!agree(type, eph.get(), peer, ukm, agreed)) {
        P7_ERR(F, P7_R_KEY_AGREEMENT_FAILED);
        return 0;
    }
    const int sbox_nid = sbox_nid_for(type, peer);
    const unsigned char* sbox = GOSTE_get_sbox_by_nid(sbox_nid);
    Keys k;
    unsigned char enc[kKeyLen];
    unsigned char imit[kMacLen];
    if (sbox == nullptr || !derive(agreed, ukm, sbox, k) || !mac(k, ukm, sbox, key, imit) ||
        !ecb(k, sbox, 1, key, enc)) {
        P7_ERR(F, P7_R_METH_LIB);
        return 0;
    }
    P7Ptr<GOST_KEY_TRANSPORT> kt(GOST_KEY_TRANSPORT_new(), {ASN1_ITEM_rptr(GOST_KEY_TRANSPORT)});
    if (!kt || (kt->params = GOST_TRANSPORT_PARAMS_new()) == nullptr ||
        !ASN1_OCTET_STRING_set(kt->key->encrypted_key, enc, kKeyLen) ||
        !ASN1_OCTET_STRING_set(kt->key->mac, imit, kMacLen) ||
        !ASN1_OCTET_STRING_set(kt->params->ukm, ukm, kUkmLen) ||
        !X509_PUBKEY_set(&kt->params->ephemeral_key, eph.get())) {
        P7_ERR(F, P7_R_MALLOC);
        return 0;
    }
    ASN1_OBJECT_free(kt->params->cipher_params);
    kt->params->cipher_params = OBJ_dup(OBJ_nid2obj(sbox_nid));
    const int len = i2d_GOST_KEY_TRANSPORT(kt.get(), nullptr);
    if (kt->params->cipher_params == nullptr || len <= 0 || len > out_size) {
        P7_ERR(F, P7_R_MALLOC);
        return 0;
    }
    if (ri->version != nullptr && ASN1_INTEGER_get(ri->version) == 3 &&
        !set_originator(ri, kt->params->ephemeral_key)) {
        P7_ERR(F, P7_R_MALLOC);
        return 0;
    }
    unsigned char* p = out;
    return i2d_GOST_KEY_TRANSPORT(kt.get(), &p);
}

int PKCS7_CEK_DECRYPT_gost(unsigned char* out, int out_size, const unsigned char* in, int in_len,
                           PKCS7_RECIP_INFO* ri, EVP_PKEY* pkey) {
    constexpr int F = P7_F_PKCS7_CEK_DECRYPT_GOST;
    if (out == nullptr || in == nullptr || in_len <= 0 || ri == nullptr || pkey == nullptr) {
        P7_ERR(F, P7_R_METH_LIB);
        return 0;
    }
    const int type = EVP_PKEY_nid(pkey);
    if (!is_gost_type(type)) {
        P7_ERR(F, P7_R_UNSUPPORTED_KEY_TYPE);
        return 0;
    }
    const long version = ri->version != nullptr ? ASN1_INTEGER_get(ri->version) : -1;
    if (version != 0 && version != 3) {
        P7_ERR(F, P7_R_BAD_RECIPIENT_KEY_DATA);
        return 0;
    }
    Received got;
    const bool read = read_transport(in, in_len, got) ||
                      (version == 3 && read_bare(in, in_len, ri, got));
    ::ERR_clear_error();
    // Every length is checked before any agreement is made.
    EVP_PKEY* eph = got.eph;
    if (!read || EVP_PKEY_nid(eph) != type || ASN1_STRING_length(got.ukm) != kUkmLen ||
        ASN1_STRING_length(got.key->encrypted_key) != kKeyLen ||
        ASN1_STRING_length(got.key->mac) != kMacLen || !same_params(type, pkey, eph)) {
        ::ERR_clear_error();
        P7_ERR(F, P7_R_BAD_RECIPIENT_KEY_DATA);
        return 0;
    }
    const unsigned char* sbox = GOSTE_get_sbox_by_nid(cadb::OBJ_obj2nid(got.cipher_params));
    if (sbox == nullptr) {
        P7_ERR(F, P7_R_METH_LIB);
        return 0;
    }
    if (out_size < kKeyLen) {
        P7_ERR(F, P7_R_OUTPUT_TOO_SMALL);
        return 0;
    }
    const unsigned char* ukm = ASN1_STRING_get0_data(got.ukm);
    // A key kept on a token unwraps there, or agrees there and leaves the
    // rest to this side; a token that only signs cannot receive.
    const PKEY_TOKEN_METHOD* token = EVP_PKEY_token_method(pkey);
    if (token != nullptr && token->cek != nullptr) {
        Secret cek(kKeyLen);
        std::size_t len = cek.size();
        if (!token->cek(pkey, eph, in, static_cast<std::size_t>(in_len), nullptr, cek.data(),
                        &len) ||
            len != kKeyLen) {
            P7_ERR(F, P7_R_KEK_FAILED);
            return 0;
        }
        std::copy_n(cek.data(), kKeyLen, out);
        return kKeyLen;
    }
    Keys k;
    Secret agreed;
    if (token != nullptr) {
        std::size_t len = k.kek.size();
        if (token->kek == nullptr || !token->kek(pkey, eph, ukm, k.kek.data(), &len) ||
            len != kKeyLen) {
            P7_ERR(F, P7_R_KEK_FAILED);
            return 0;
        }
        // The token gives the agreement in its own byte order, the reverse
        // of the KEK's.
        std::reverse(k.kek.begin(), k.kek.end());
        if (GOSTE_key_diversify(ukm, k.kek.data(), k.kek_ukm.data(), sbox) == nullptr) {
            P7_ERR(F, P7_R_KEK_FAILED);
            return 0;
        }
    } else if (!agree(type, pkey, eph, ukm, agreed)) {
        P7_ERR(F, type == NID_ECR3410_CP ? static_cast<int>(ERR_LIB_BN_) : P7_R_KEK_FAILED);
        return 0;
    }
    Secret cek(kKeyLen);
    unsigned char imit[kMacLen];
    if ((token == nullptr && !derive(agreed, ukm, sbox, k)) ||
        !ecb(k, sbox, 0, ASN1_STRING_get0_data(got.key->encrypted_key), cek.data()) ||
        !mac(k, ukm, sbox, cek.data(), imit)) {
        P7_ERR(F, P7_R_METH_LIB);
        return 0;
    }
    if (CRYPTO_memcmp(imit, ASN1_STRING_get0_data(got.key->mac), kMacLen) != 0) {
        P7_ERR(F, P7_R_INTEGRITY_CHECK_FAILURE);
        return 0;
    }
    std::copy_n(cek.data(), kKeyLen, out);
    return kKeyLen;
}

}  // namespace cadb
