// Reasons of library 66 (CADB) shared by the certificate-database objects:
// keys, requests, certificates and CRLs report their failures with these.
#pragma once

namespace cadb {

enum CadbObjectReason : int {
    CADB_R_UNKNOWN_ALGORITHM = 101,
    CADB_R_INVALID_ENCODE_TYPE = 120,
    CADB_R_INVALID_PKCS10_VERSION = 121,
    CADB_R_SUBJECT_IS_EMPTY = 122,
    CADB_R_INVALID_DATA = 123,
    CADB_R_UNABLE_TO_GET_PUBLIC_KEY = 124,
    CADB_R_INVALID_KEY_SIZE = 125,
};

}  // namespace cadb
