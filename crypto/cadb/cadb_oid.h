// The object record of the flat extension records: an object's numbers and
// names with its dotted form as text.
#pragma once

#include "crypto/cadb/buffer.h"

namespace cadb {

struct CADB_OID {
    int nid;
    const char* sn;  // the registry's short name, not owned
    const char* ln;  // the registry's long name, not owned
    BUFFER oid;      // dotted form, owned
};

// Zero-filled record, or null.
CADB_OID* CADB_OID_new();
// Frees the text and zeroes the record. Null accepted.
void CADB_OID_clear(CADB_OID* o);
void CADB_OID_free(CADB_OID* o);

}  // namespace cadb
