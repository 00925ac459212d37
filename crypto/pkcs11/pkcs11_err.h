// The error-string table of library 81. The token administration program
// loads it to name its failures; the enrolment library loads only the
// library's name, with the common tables.
#pragma once

namespace cadb {

void ERR_load_PKCS11_strings();

}  // namespace cadb
