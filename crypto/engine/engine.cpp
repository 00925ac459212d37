#include "crypto/engine/engine.h"

#include <openssl/engine.h>
#include <openssl/err.h>

#include <initializer_list>
#include <mutex>
#include <vector>

#include "crypto/core/err.h"
#include "crypto/core/objects.h"
#include "crypto/ecgost/ecgost_evp.h"
#include "crypto/r3410/r3410_evp.h"
#include "crypto/rus/evp_gost.h"

namespace cadb {
namespace {

constexpr const char* kEngineId = "cadb";
constexpr const char* kEngineName = "GOST algorithms of the cadb library";

// What the engine publishes, fixed once it is built.
struct Published {
    std::vector<EngineKeyType> key_types;
    std::vector<int> key_nids;
    std::vector<int> digest_nids;
    std::vector<int> cipher_nids;
};

Published& published() {
    static Published p;
    return p;
}

// libcrypto asks with a null method for the list of numbers, else for the
// method of one number.
template <typename Method>
int answer(Method** out, const int** nids, int nid, const std::vector<int>& list,
           Method* (*find)(int)) {
    if (out == nullptr) {
        *nids = list.data();
        return static_cast<int>(list.size());
    }
    *out = find(nid);
    return *out != nullptr;
}

const EngineKeyType* find_key_type(int nid) {
    const Published& p = published();
    for (size_t i = 0; i < p.key_nids.size(); ++i)
        if (p.key_nids[i] == nid) return &p.key_types[i];
    return nullptr;
}

EVP_PKEY_ASN1_METHOD* find_ameth(int nid) {
    const EngineKeyType* k = find_key_type(nid);
    return k != nullptr ? k->ameth : nullptr;
}

EVP_PKEY_METHOD* find_pmeth(int nid) {
    const EngineKeyType* k = find_key_type(nid);
    return k != nullptr ? k->pmeth : nullptr;
}

const EVP_MD* find_digest(int nid) {
    for (const EVP_MD* md : EVP_gost_digests())
        if (EVP_MD_get_type(md) == nid) return md;
    return nullptr;
}

const EVP_CIPHER* find_cipher(int nid) {
    for (const EVP_CIPHER* c : EVP_gost_ciphers())
        if (EVP_CIPHER_get_nid(c) == nid) return c;
    return nullptr;
}

int digests(ENGINE*, const EVP_MD** out, const int** nids, int nid) {
    return answer(out, nids, nid, published().digest_nids, find_digest);
}

int ciphers(ENGINE*, const EVP_CIPHER** out, const int** nids, int nid) {
    return answer(out, nids, nid, published().cipher_nids, find_cipher);
}

int pkey_asn1_meths(ENGINE*, EVP_PKEY_ASN1_METHOD** out, const int** nids, int nid) {
    return answer(out, nids, nid, published().key_nids, find_ameth);
}

int pkey_meths(ENGINE*, EVP_PKEY_METHOD** out, const int** nids, int nid) {
    return answer(out, nids, nid, published().key_nids, find_pmeth);
}

bool collect(Published& p) {
    for (const EVP_MD* md : EVP_gost_digests()) {
        if (md == nullptr) return false;
        p.digest_nids.push_back(EVP_MD_get_type(md));
    }
    for (const EVP_CIPHER* c : EVP_gost_ciphers()) {
        if (c == nullptr) return false;
        p.cipher_nids.push_back(EVP_CIPHER_get_nid(c));
    }
    for (auto family : {ECGOST_key_types, R3410_key_types}) {
        for (const EngineKeyType& k : family()) {
            if (k.ameth == nullptr || k.pmeth == nullptr) return false;
            int id = 0;
            EVP_PKEY_asn1_get0_info(&id, nullptr, nullptr, nullptr, nullptr, k.ameth);
            p.key_types.push_back(k);
            p.key_nids.push_back(id);
        }
    }
    return true;
}

// Signature algorithms libcrypto does not know, as (signature, digest, key)
// in the library's numbering, so that its own signing and verification of
// certificates and requests find digest and key type.
constexpr int kSignatureAlgorithms[][3] = {
    {NID_R3410_R3411, NID_RUS_HASH, NID_R3410},
    {NID_ECR3410_R3411, NID_ECR3410_R3411, NID_ECR3410},
};

bool add_signature_algorithms() {
    for (const auto& s : kSignatureAlgorithms) {
        if (!OBJ_add_sigid(OBJ_nid2openssl(s[0]), OBJ_nid2openssl(s[1]), OBJ_nid2openssl(s[2])))
            return false;
    }
    return true;
}

ENGINE* build() {
    if (!OBJ_init() || !collect(published())) return nullptr;
    ENGINE* e = ENGINE_new();
    if (e == nullptr) return nullptr;
    const bool ok = ENGINE_set_id(e, kEngineId) && ENGINE_set_name(e, kEngineName) &&
                    ENGINE_set_pkey_asn1_meths(e, pkey_asn1_meths) &&
                    ENGINE_set_pkey_meths(e, pkey_meths) && ENGINE_set_digests(e, digests) &&
                    ENGINE_set_ciphers(e, ciphers) && ENGINE_add(e) && ENGINE_init(e) &&
                    ENGINE_set_default(e, ENGINE_METHOD_ALL) && EVP_add_gost_names() &&
                    add_signature_algorithms();
    if (!ok) {
        ENGINE_free(e);
        return nullptr;
    }
    return e;
}

ENGINE*& engine() {
    static ENGINE* e = nullptr;
    return e;
}

}  // namespace

int ENGINE_load_cadb() {
    static std::once_flag once;
    std::call_once(once, [] { engine() = build(); });
    if (engine() != nullptr) return 1;
    ERR_move_openssl_errors(ERR_LIB_CADB, 0);
    return 0;
}

ENGINE* ENGINE_get_cadb() { return engine(); }

}  // namespace cadb
