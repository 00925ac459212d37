// Printing of directory-string values: Unicode strings are shown in the
// local code page, the narrow string types as they are, anything else as
// hex bytes.
#pragma once

#include <openssl/bio.h>

namespace cadb {

// Prints a value of ASN.1 string type `type`: UTF8String (12) and BMPString
// (30) converted to the local code page (a character it lacks becomes '?'),
// UniversalString (28) likewise, PrintableString (19), T61String (20),
// IA5String (22) and VisibleString (26) as they are, any other type as
// "%02X " per byte. 1/0.
int ASN1_STRING_print_text(BIO* out, int type, const unsigned char* bytes, int len);

// "%02X " per byte. 1/0.
int ASN1_STRING_print_hex(BIO* out, const unsigned char* bytes, int len);

}  // namespace cadb
