#include "crypto/cadb/cadb_oid.h"

#include <openssl/crypto.h>

#include "crypto/core/err.h"

namespace cadb {

CADB_OID* CADB_OID_new() {
    auto* o = static_cast<CADB_OID*>(OPENSSL_zalloc(sizeof(CADB_OID)));
    if (o == nullptr) CADB_ERR(ERR_LIB_CADB, CADB_F_CADB_OID_NEW, ERR_R_MALLOC);
    return o;
}

void CADB_OID_clear(CADB_OID* o) {
    if (o == nullptr) return;
    BUFFER_clear(&o->oid);
    *o = CADB_OID{};
}

void CADB_OID_free(CADB_OID* o) {
    CADB_OID_clear(o);
    OPENSSL_free(o);
}

}  // namespace cadb
