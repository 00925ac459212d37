// What the four GOST key types share inside libcrypto's key layer: the
// per-operation state of their key methods, the choice of signature form
// and signature algorithm, and access to the key records an EVP_PKEY holds.
#pragma once

#include <openssl/evp.h>
#include <openssl/x509.h>

#include "crypto/core/err.h"

namespace cadb {

// Where the key methods report a failure on the library's queue: as the
// generic layer's functions that reach them (library 11 or 6).
enum GostPkeyFunc : int {
    GOST_F_EVP_PKCS82PKEY = 106,
    GOST_F_EVP_PKEY2PKCS8 = 108,
    GOST_F_X509_PUBKEY_GET = 119,
};

// A key method that reports its failure (a result of 0 or below) with the
// given codes; libcrypto keeps its own queue, which callers of the library
// do not read.
template <auto Method, int Lib, int Func, int Reason, typename... Args>
int GOST_reported(Args... args) {
    const int ok = Method(args...);
    if (ok <= 0) ERR_put_error(Lib, Func, Reason, __FILE__, __LINE__);
    return ok;
}

// One key type as libcrypto sees it: what an algorithm folder hands the
// engine to publish.
struct EngineKeyType {
    EVP_PKEY_ASN1_METHOD* ameth;
    EVP_PKEY_METHOD* pmeth;
};

// Per-operation state of a GOST key method.
struct GostPkeyCtx {
    const EVP_MD* md = nullptr;  // digest named by the signing operation
    int paramset = 0;            // parameter set for key generation (0: default)
};

int GOST_pkey_init(EVP_PKEY_CTX* ctx);
int GOST_pkey_copy(EVP_PKEY_CTX* dst, const EVP_PKEY_CTX* src);
void GOST_pkey_cleanup(EVP_PKEY_CTX* ctx);
// The digest (EVP_PKEY_CTRL_MD and its query) and the parameter set for key
// generation (EVP_PKEY_CTRL_GOST_PARAMSET, or the text control "paramset"
// with a name or OID).
int GOST_pkey_ctrl(EVP_PKEY_CTX* ctx, int type, int p1, void* p2);
int GOST_pkey_ctrl_str(EVP_PKEY_CTX* ctx, const char* type, const char* value);
// A key method of the given libcrypto type over the shared context functions
// above and the key family's own signing, verification and key generation.
using GostPkeySign = int (*)(EVP_PKEY_CTX*, unsigned char*, size_t*, const unsigned char*, size_t);
using GostPkeyVerify = int (*)(EVP_PKEY_CTX*, const unsigned char*, size_t, const unsigned char*,
                               size_t);
using GostPkeyKeygen = int (*)(EVP_PKEY_CTX*, EVP_PKEY*);
EVP_PKEY_METHOD* GOST_pkey_meth_new(int openssl_nid, GostPkeySign sign, GostPkeyVerify verify,
                                    GostPkeyKeygen keygen);
GostPkeyCtx* GOST_pkey_data(EVP_PKEY_CTX* ctx);

// Sets the parameter set (the library's number) for the next key generation.
constexpr int EVP_PKEY_CTRL_GOST_PARAMSET = EVP_PKEY_ALG_CTRL + 1;

// The library's number of a key's type (177, 181, 271, 272, or the shared
// numbers of RSA and DSA), translated from libcrypto's.
int EVP_PKEY_nid(const EVP_PKEY* pkey);

// The library's signature type of a digest record (178, 182, 273, 274, or 0
// for none), whatever numbering the record carries.
int EVP_MD_gost_sign_type(const EVP_MD* md);

// The signature form for a key type and digest, in the library's numbering:
// the CryptoPro 64-byte form (273 for GOST R 34.10-2001, 274 for GOST R
// 34.10-94) when the digest's signature type is one of those two; else the
// digest's signature type (DER); with no digest the key type's own form.
int GOST_sign_type(int key_nid, const EVP_MD* md);
// The signature algorithm a key type and digest make (178, 182, 273, 274),
// or 0 when they do not go together.
int GOST_signature_algorithm(int key_nid, const EVP_MD* md);
// The key methods' item_sign: writes the algorithm identifiers of the
// signature algorithm the digest's signature type names (parameters NULL)
// and lets libcrypto sign.
int GOST_item_sign(EVP_MD_CTX* ctx, const ASN1_ITEM* it, const void* data, X509_ALGOR* alg1,
                   X509_ALGOR* alg2, ASN1_BIT_STRING* sig);

}  // namespace cadb
