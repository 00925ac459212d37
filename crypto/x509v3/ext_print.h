// Printers of the library's extensions and the dispatch that prefers them to
// libcrypto's own: information access, subject directory attributes,
// distribution points, issuing distribution point, name and policy
// constraints, policy mappings, biometric information, SkipCerts and the CRL
// numbers, with the general-name listing they share.
#pragma once

#include <openssl/bio.h>
#include <openssl/x509v3.h>

#include <string>
#include <utility>
#include <vector>

#include "crypto/x509v3/ext_items.h"

namespace cadb {

// A general name as a name/value pair: ("email", "a@b"), ("DirName",
// "CN=..."), ("IP Address", "10.0.0.1"), ("otherName", "<unsupported>"), ...
std::pair<std::string, std::string> GENERAL_NAME_pair(const GENERAL_NAME* gn);
// "%*s%s: %s\n" per name. 1/0.
int GENERAL_NAMES_print(BIO* out, const GENERAL_NAMES* names, int indent);

// The alternative names (subjectAltName, issuerAltName, certificateIssuer)
// on one line at the indent, the pairs above as "name:value" joined by ", ",
// as the extension layer prints a listing. 1/0.
int ALT_NAMES_print(const X509V3_EXT_METHOD* method, const GENERAL_NAMES* value, BIO* out,
                    int indent);

// Each printer writes value at the indent (in spaces) and returns 1, or 0
// for a missing argument or a part that cannot be shown. The method record
// is not used by any of them; it is there for the extension layer's calls.
int AUTHORITY_INFO_ACCESS_print(const X509V3_EXT_METHOD* method,
                                const AUTHORITY_INFO_ACCESS* value, BIO* out, int indent);
int SUBJECT_DIRECTORY_ATTRIBUTES_print(const X509V3_EXT_METHOD* method,
                                       const SUBJECT_DIRECTORY_ATTRIBUTES* value, BIO* out,
                                       int indent);
int CRL_DIST_POINTS_print(const X509V3_EXT_METHOD* method, const CRL_DIST_POINTS* value,
                          BIO* out, int indent);
int ISSUING_DIST_POINT_print(const X509V3_EXT_METHOD* method, const ISSUING_DIST_POINT* value,
                             BIO* out, int indent);
int NAME_CONSTRAINTS_print(const X509V3_EXT_METHOD* method, const NAME_CONSTRAINTS* value,
                           BIO* out, int indent);
int POLICY_CONSTRAINTS_print(const X509V3_EXT_METHOD* method, const POLICY_CONSTRAINTS* value,
                             BIO* out, int indent);
int POLICY_MAPPINGS_print(const X509V3_EXT_METHOD* method, const POLICY_MAPPINGS* value,
                          BIO* out, int indent);
int BIOMETRIC_INFO_print(const X509V3_EXT_METHOD* method, const BIOMETRIC_SYNTAX* value,
                         BIO* out, int indent);
// "%*sSkipCerts: %lu"
int SKIP_CERTS_print(const X509V3_EXT_METHOD* method, const ASN1_INTEGER* value, BIO* out,
                     int indent);
// "%*sCRL Number: " and "%*sBase CRL Number: " with the number as lower-case
// hex bytes joined by ":".
int CRL_NUMBER_print(const X509V3_EXT_METHOD* method, const ASN1_INTEGER* value, BIO* out,
                     int indent);
int DELTA_CRL_print(const X509V3_EXT_METHOD* method, const ASN1_INTEGER* value, BIO* out,
                    int indent);

// A printer of one extension's decoded value, as the library's own.
using X509V3_EXT_PRINTER = int (*)(const X509V3_EXT_METHOD* method, const void* value, BIO* out,
                                   int indent);

// Adds a printer for the extension of libcrypto's number openssl_nid, its
// value decoded with item: a build that knows extensions of its own (the
// token administration program's sign-tool extensions) has them printed by
// X509V3_EXT_print below in place of libcrypto's printer. The library's own
// printers come first; a second printer for one number replaces the first.
// 1/0.
int X509V3_EXT_add_printer(int openssl_nid, const ASN1_ITEM* (*item)(), X509V3_EXT_PRINTER print);

// Prints an extension's value: the library's printer when it has one for
// the extension, then a printer added above, else libcrypto's. flag and indent as libcrypto's printer
// takes them. 1, 0 on failure, -1 when nobody knows the extension (as
// libcrypto's). libcrypto exports a function of this name: call this one as
// cadb::X509V3_EXT_print.
int X509V3_EXT_print(BIO* out, X509_EXTENSION* ext, unsigned long flag, int indent);

// Registers the extensions libcrypto has no method for (biometric
// information, subject directory attributes) in libcrypto's extension table,
// so that its certificate printing shows them too. Once per process; 1/0.
int X509V3_add_cadb_extensions();

}  // namespace cadb
