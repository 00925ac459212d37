#include <openssl/evp.h>
#include <openssl/objects.h>

#include "crypto/core/objects.h"
#include "crypto/rus/evp_gost.h"

namespace cadb {
namespace {

struct Alias {
    const char* alias;
    const char* name;
};

constexpr Alias kCipherAliases[] = {
    {"rus-ecb", "RUS-CHANGE"},      {"rus-simple", "RUS-CHANGE"},  {"rus-gfb", "RUS-GAMMAR"},
    {"rus-gamma-fb", "RUS-GAMMAR"}, {"rus-gamma-r", "RUS-GAMMAR"}, {"rus-cfb", "RUS-GAMMAR-CP"},
    {"3DES-WRAP", "DES-EDE3-CBC"},
};

// The library's own names of an object whose libcrypto names differ.
bool add_own_names(int openssl_nid, int type, const char* record) {
    const int nid = OBJ_openssl2nid(openssl_nid);
    const ObjEntry* e = OBJ_entry(nid);
    if (e == nullptr) return true;
    return OBJ_NAME_add(e->sn, type, record) && OBJ_NAME_add(e->ln, type, record);
}

}  // namespace

int EVP_add_gost_names() {
    if (!OPENSSL_init_crypto(OPENSSL_INIT_ADD_ALL_CIPHERS | OPENSSL_INIT_ADD_ALL_DIGESTS, nullptr))
        return 0;
    for (const EVP_MD* md : EVP_gost_digests()) {
        const char* record = reinterpret_cast<const char*>(md);
        if (md == nullptr || !EVP_add_digest(md) ||
            !add_own_names(EVP_MD_get_type(md), OBJ_NAME_TYPE_MD_METH, record))
            return 0;
    }
    for (const EVP_CIPHER* c : EVP_gost_ciphers()) {
        const char* record = reinterpret_cast<const char*>(c);
        if (c == nullptr || !EVP_add_cipher(c) ||
            !add_own_names(EVP_CIPHER_get_nid(c), OBJ_NAME_TYPE_CIPHER_METH, record))
            return 0;
    }
    for (const Alias& a : kCipherAliases)
        if (!EVP_add_cipher_alias(a.name, a.alias)) return 0;
    return 1;
}

}  // namespace cadb
