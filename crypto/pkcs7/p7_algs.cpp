// Digests, ciphers and signature algorithms as the message engine chooses
// them by key type.
#include <openssl/objects.h>

#include "crypto/core/gost_pkey.h"
#include "crypto/core/objects.h"
#include "crypto/pkcs7/p7_local.h"
#include "crypto/rus/evp_gost.h"

namespace cadb {

int p7_algor_nid(const X509_ALGOR* alg) {
    if (alg == nullptr) return 0;
    const ASN1_OBJECT* o = nullptr;
    X509_ALGOR_get0(&o, nullptr, nullptr, alg);
    return o != nullptr ? cadb::OBJ_obj2nid(o) : 0;
}

int p7_digest_nid_of(const EVP_MD* md) {
    if (md == nullptr) return 0;
    switch (EVP_MD_gost_sign_type(md)) {
        case NID_R3411_WITH_ECR3410_CP:
        case NID_R3411_WITH_R3410_CP:
            return NID_RUS_HASH_CP;
        case NID_ECR3410_R3411:
        case NID_R3410_R3411:
            return NID_RUS_HASH;
        default:
            break;
    }
    return OBJ_openssl2nid(EVP_MD_get_type(md));
}

const EVP_MD* p7_md_by_nid(int nid) {
    switch (nid) {
        case NID_RUS_HASH_CP:
            return EVP_rus_hash_cp();
        case NID_RUS_HASH:
            return EVP_rus_hash();
        case 0:
            return nullptr;
        default:
            break;
    }
    const char* sn = cadb::OBJ_nid2sn(nid);
    return sn != nullptr ? EVP_get_digestbyname(sn) : nullptr;
}

const EVP_CIPHER* p7_cipher_by_nid(int nid) {
    switch (nid) {
        case NID_RUS_GAMMAR:
            return EVP_rus_gammar();
        case NID_RUS_GAMMAR_CP:
            return EVP_rus_gammar_cp();
        case NID_des_ede3_cbc:
            return EVP_des_ede3_cbc();
        case 0:
            return nullptr;
        default:
            break;
    }
    const char* sn = cadb::OBJ_nid2sn(nid);
    return sn != nullptr ? EVP_get_cipherbyname(sn) : nullptr;
}

int p7_signature_alg_nid(EVP_PKEY* key, int md_nid) {
    const int type = key != nullptr ? EVP_PKEY_nid(key) : 0;
    switch (type) {
        case NID_ECR3410_CP:
        case NID_R3410_CP:
            // RFC 4490 names the key's own algorithm as the signature's.
            return type;
        case NID_ECR3410:
            return NID_ECR3410_R3411;
        case NID_R3410:
            return NID_R3410_R3411;
        case NID_rsaEncryption:
        case NID_rsa:
            return NID_rsaEncryption;
        case NID_dsa: {
            int sig = 0;
            if (!OBJ_find_sigid_by_algs(&sig, OBJ_nid2openssl(md_nid), NID_dsa)) return 0;
            return OBJ_openssl2nid(sig);
        }
        default:
            return 0;
    }
}

const EVP_MD* p7_sign_md(int key_type, const EVP_MD* md) {
    switch (key_type) {
        case NID_ECR3410_CP:
            return EVP_r3411_with_ecr3410_cp();
        case NID_R3410_CP:
            return EVP_r3411_with_r3410_cp();
        case NID_ECR3410:
            return EVP_ecr3410_r3411();
        case NID_R3410:
            return EVP_get_digestbyname("R3410-R3411");
        default:
            return md;
    }
}

bool p7_reversed_digest(int key_type) {
    return key_type == NID_ECR3410_CP || key_type == NID_R3410_CP;
}

}  // namespace cadb
