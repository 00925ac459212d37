// Text dumps of big numbers in the library's key printouts.
#pragma once

#include <openssl/bio.h>
#include <openssl/bn.h>

namespace cadb {

// "label (N bits)" (with " (Negative)" after the label for a negative
// number), then the bytes as "%02x" joined by ':', 15 to a line, each line
// indented by indent + 4. A null number prints nothing. 1/0.
int BN_print_labelled(BIO* out, const char* label, const BIGNUM* n, int indent);

}  // namespace cadb
