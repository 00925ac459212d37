// Loaders of the error-string tables: one per library, each loading its
// library's function names and reasons once per start of the library.
// ERR_load_cadb_strings runs them all in the order start-up uses; a later
// entry for the same code replaces an earlier one.
#pragma once

namespace cadb {

// Every table below, in start-up order.
void ERR_load_cadb_strings();

// Library names ("... routines") and the common reasons of every library.
void ERR_load_ERR_strings();

// The system's own libraries. Library 66 (CADB) is whole when the parts its
// folders keep are loaded: ERR_load_CADB_strings loads them all.
void ERR_load_CADB_strings();
void ERR_load_CADB_shared_strings();
void ERR_load_CADB_keys_strings();
void ERR_load_CADB_x509_strings();
void ERR_load_CADB_store_strings();
// The CRMF and CMC front ends (library 66) and their records' readers
// (library 13).
void ERR_load_CMC_strings();
// The flat extension records and the text conversions.
void ERR_load_V3EXT_strings();
void ERR_load_R3410_strings();
void ERR_load_GOSTS_strings();
void ERR_load_ECGOST_strings();
void ERR_load_GOSTE_strings();
void ERR_load_PSE_strings();
void ERR_load_RAND_strings();
void ERR_load_SHAMIR_strings();
void ERR_load_ETOKEN_strings();
void ERR_load_RUTOKEN_strings();

// The system's own functions and reasons inside libcrypto's libraries.
void ERR_load_ASN1_strings();
void ERR_load_BUF_strings();
void ERR_load_BN_strings();
void ERR_load_EVP_strings();
void ERR_load_X509_strings();

}  // namespace cadb
