// Broken-down UTC times of certificates and CRLs.
#pragma once

#include <openssl/asn1.h>

#include <ctime>

namespace cadb {

// 1 and the time in out when t is a UTCTime or GeneralizedTime that
// converts; 0 otherwise.
int CERT_time_to_tm(const ASN1_TIME* t, struct tm* out);
// Negative, zero or positive as a is before, equal to or after b.
int CERT_time_cmp(const struct tm& a, const struct tm& b);
// The current UTC time.
struct tm CERT_time_now();

}  // namespace cadb
