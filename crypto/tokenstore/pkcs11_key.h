// Keys kept on PKCS#11 tokens: "PKEY_CTX pkcs11 method", which generates a
// GOST R 34.10-2001 key pair inside the token (a private-key and a
// public-key object sharing one CKA_ID), reads it back by that ID and names
// or imports keys; and the token-side key method through which such a key
// signs, agrees, unwraps and hashes without leaving the token.
#pragma once

#include <openssl/evp.h>

#include <cstddef>

#include "crypto/core/token_key.h"
#include "crypto/pkcs11/cryptoki.h"
#include "crypto/store/pkey_ctx.h"

namespace cadb {

struct PKCS11_OBJ;
class TokenLock;

// Function codes of library 81 used by the key method.
enum : int {
    PKCS11_F_PKCS11_KEY_GENERATE = 104,
    PKCS11_F_PKCS11_KEY_GET_PUBLIC = 111,
    PKCS11_F_PKCS11_KEY_GET_EVP = 112,
    PKCS11_F_PKCS11_KEY_READ = 113,
    PKCS11_F_PKCS11_KEY_REMOVE_TEMPORARY = 138,
    PKCS11_F_PKCS11_KEY_WRITE = 139,
    PKCS11_F_PKCS11_KEY_RECONNECT = 140,
    PKCS11_F_PKCS11_KEY_SIGN = 141,
    PKCS11_F_PKCS11_KEY_RELEASE = 142,
    PKCS11_F_PKCS11_KEY_CREATE_PRIVATE = 151,
    PKCS11_F_PKCS11_KEY_CREATE_PUBLIC = 152,
    PKCS11_F_PKCS11_KEY_IMPORT = 153,
    PKCS11_F_PKCS11_KEY_FIND_SAME_PUBLIC = 154,
    PKCS11_F_PKCS11_MECHANISM_NEW = 155,
    PKCS11_F_PKCS11_DERIVE_PARAMS_NEW = 156,
    PKCS11_F_PKCS11_KEY_DERIVE = 157,
    PKCS11_F_PKCS11_WRAP_PARAMS_NEW = 159,
    PKCS11_F_PKCS11_KEY_UNWRAP = 160,
    PKCS11_F_PKCS11_KEY_DIGEST = 182,
};

// Bit 0 of the context's flags: reading a key logs in afresh.
inline constexpr int PKEY_CTX_FLAG_FORCE_LOGIN = 1;
// Bit 1: the write names the key only where no key bears the name yet,
// decided under the token's lock for every process of the user, and
// destroys nothing; a name taken fails with (66, 411, CADB_R_KEY_NAME_TAKEN)
// last on the queue. Without it a write replaces the keys of that name.
inline constexpr int PKEY_CTX_FLAG_NEW_NAME = 2;

// The labels that mark a generated pair not yet named, and a named one. A
// generated pair's labels carry after the text, past a space, the mark of
// the process that owns it until it is named (crypto/tokenstore/pair_owner.h).
inline constexpr const char* kTemporaryPrivateLabel = "Temporary private key object";
inline constexpr const char* kTemporaryPublicLabel = "Temporary public key object";
inline constexpr const char* kStoredPrivateLabel = "Halberd private key object";
inline constexpr const char* kStoredPublicLabel = "Halberd public key object";

// Mechanism records: the parameters are allocated zeroed by type and freed
// by PKCS11_MECHANISM_free (derive parameters with their public data and
// UKM buffers).
CK_MECHANISM* PKCS11_MECHANISM_new(CK_MECHANISM_TYPE type);
CK_GOSTR3410_DERIVE_PARAMS* PKCS11_DERIVE_PARAMS_new();
CK_GOSTR3410_KEY_WRAP_PARAMS* PKCS11_WRAP_PARAMS_new();
void PKCS11_MECHANISM_free(CK_MECHANISM* m);

// The context method and its operations.
const PKEY_CTX_METHOD* PKEY_CTX_get_pkcs11_method_record();
int PKCS11_key_generate(PKEY_CTX* ctx, int type, int param);
int PKCS11_key_read(PKEY_CTX* ctx);
int PKCS11_key_write(PKEY_CTX* ctx, int format = 0, int form = 0);

// Takes, into lock, the lock of the token that the context's key path
// names: the lock its writes take, so that a caller can hold it across a
// look at the names on the token and the writes it decides on (the writes
// of the holding thread take it again at once). The token is logged in
// (through the context's PIN argument) before the lock is taken, so that
// nothing under the hold asks for the PIN. 1, or 0 with the lock's failure
// last on the queue, (81, 139, internal error) when the token cannot be
// opened or logged in, or (81, 139, null parameter) when neither the key
// path nor the context's key store names a token.
int PKCS11_key_lock_token(PKEY_CTX* ctx, TokenLock* lock);

// The token-side operations of a key that carries a token context.
// Signs a digest (as the library's hash writes it) in form 273.
int PKCS11_key_sign(int nid, const unsigned char* dgst, int dlen, unsigned char* sig,
                    unsigned int* sig_len, EVP_PKEY* key);
// The 32-byte agreement value with the peer under an 8-byte UKM; a null out
// asks the size.
int PKCS11_key_derive(EVP_PKEY* key, EVP_PKEY* peer, const unsigned char* ukm,
                      unsigned char* out, std::size_t* out_len);
// The 32-byte content key of a GOST key-transport structure.
int PKCS11_key_unwrap(EVP_PKEY* key, EVP_PKEY* peer, const unsigned char* wrapped,
                      std::size_t len, void* unused, unsigned char* out, std::size_t* out_len);
// GOST R 34.11-94 on the token; *out_len in: room at out, out: length.
int PKCS11_key_digest(EVP_PKEY* key, const unsigned char* data, std::size_t len,
                      unsigned char* out, std::size_t* out_len);
// Frees the key's token context and detaches it; 0 (reason 12) when none.
int PKCS11_key_release(EVP_PKEY* key);

// The token-side method a key gets from the mechanisms its token offers.
const PKEY_TOKEN_METHOD* PKCS11_key_method_for(bool wrap, bool derive);

// A key record of type 271 from the token context's current object, a
// public key; null (81, 111 or 112) when the object is no such key.
EVP_PKEY* PKCS11_key_get_public(PKCS11_OBJ* ctx);

// Registers the token methods of keys, certificates and key stores with
// the certificate-database layer. Called by library start-up.
void PKCS11_methods_register();

}  // namespace cadb
