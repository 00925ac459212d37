// Chain verification of a certificate record: every level's signature,
// validity and CRL checked against a chosen time, every error collected into
// the records of the chain instead of stopping at the first.
#pragma once

#include <openssl/x509_vfy.h>

#include <ctime>

#include "crypto/x509/cert.h"
#include "crypto/x509/crl.h"
#include "crypto/x509/verify_error.h"

namespace cadb {

// Verifies cert against the trusted store, with the untrusted records as
// intermediates and crls beside the store's own CRLs, at time (null: now).
// Errors whose bit is set in ignorable do not fail a level. The record gets
// its errors, its CRL, its result and the issuer chain above it (each with
// its own errors and combined result). Returns the record's result: 1 when
// it and every issuer above it passed, else 0; also 0 with an error entry on
// null arguments or when verification cannot run at all.
int CERT_verify(CERT* cert, X509_STORE* store, STACK_OF(CERT) * untrusted, STACK_OF(CRL) * crls,
                const struct tm* time, VERIFY_IGNORE_MASK ignorable);

// The chain check that replaces the stock last step of chain verification:
// from the top of the built chain down to the certificate, the issuer's key,
// the signature, the validity and the issuer's current CRL of each level.
// Runs inside a store context set up by CERT_verify.
int X509_verify_chain_levels(X509_STORE_CTX* ctx);

}  // namespace cadb
