// Names and times under an implicit context tag. Name and Time are CHOICE
// types, which ASN.1 tags explicitly and libcrypto's templates cannot tag
// implicitly at all (a Name is written from its cached encoding, whatever
// tag the template asks for; a Time refuses any tag). The request formats
// the authority's software reads replace the element's own tag byte by the
// context tag all the same, so these items do exactly that: with a tag the
// first byte of the universal encoding is swapped, without one they are the
// plain Name and Time.
#pragma once

#include <openssl/asn1.h>
#include <openssl/asn1t.h>

namespace cadb {

// X509_NAME in memory.
DECLARE_ASN1_ITEM(CADB_IMPLICIT_NAME)
// ASN1_TIME in memory: written as held (UTCTime or GeneralizedTime); read
// under a tag as UTCTime and, when that content is no UTCTime, as
// GeneralizedTime.
DECLARE_ASN1_ITEM(CADB_IMPLICIT_TIME)

}  // namespace cadb
