// Broken-down times of validity, CRL and request dates: the C run-time's
// calendar record with seconds, minutes, hours, day (1-31), month (0-11),
// years since 1900 and every other field zero, always in UTC.
#pragma once

#include <openssl/asn1.h>

#include <ctime>

namespace cadb {

// Library 11 (X.509) function codes of the time helpers.
enum TimeFunc : int {
    X509_F_ASN1_TIME_TO_TM = 190,
    X509_F_TIME_TO_GENERALIZED = 191,
    X509_F_ASN1_TIME_PARSE = 192,
};

// The system's current UTC time; when the UTC clock cannot be read, the
// system's local date and time moved to UTC by its zone offset. 1/0.
int TIME_now(struct tm* out);

// A local calendar time (C run-time fields, any year 0-9999) moved to UTC by
// the zone's offset east of UTC in seconds (whole minutes count). 1/0 (out
// unchanged).
int TIME_local_to_utc(const struct tm* local, long offset_seconds, struct tm* out);

// A UTCTime (years 50-99 are 1950-1999, 00-49 2000-2049) or GeneralizedTime:
// date, hour and minute digits, optional seconds, then "Z" or an offset
// "+hhmm"/"-hhmm" which is taken off to give UTC. Every field is checked
// (month, day within the month of that year, hour, minute, second, offset);
// anything else fails. libcrypto exports a function of this name and
// signature: call this one as cadb::ASN1_TIME_to_tm. 1/0 (out unchanged).
int ASN1_TIME_to_tm(const ASN1_TIME* t, struct tm* out);

// ASN1_TIME_to_tm into a new record (free with OPENSSL_free), or null.
struct tm* ASN1_TIME_parse(const ASN1_TIME* t);

// A new GeneralizedTime "YYYYMMDDhhmmssZ" of a valid time of years 0-9999,
// or null.
ASN1_GENERALIZEDTIME* TIME_to_generalized(const struct tm* t);

// Year, month, day, hour, minute, second in that order: negative, zero or
// positive.
int TIME_cmp(const struct tm* a, const struct tm* b);

// Moves a valid time forward (add) or back (sub); minutes and hours carry
// into days, days into months by the Gregorian calendar, months into years.
// 1/0 (the time unchanged when it is not valid or leaves years 0-9999).
int TIME_add(struct tm* t, long days, long hours, long minutes);
int TIME_sub(struct tm* t, long days, long hours, long minutes);
// Moves a time by a signed number of minutes (a time-zone offset). 1/0.
int TIME_adjust(struct tm* t, long minutes);

// Whether the fields name a real moment (Gregorian calendar, seconds 0-59).
bool TIME_is_valid(const struct tm* t);

}  // namespace cadb
