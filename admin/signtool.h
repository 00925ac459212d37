// The sign-tool certificate extensions of Russian qualified certificates:
// the subject's signing tool (1.2.643.100.111, a UTF8String) and the
// issuer's signing and certification tools with their certificates
// (1.2.643.100.112, a SEQUENCE of four UTF8Strings). libcrypto knows both
// objects and prints them its own way; the program prints them with the
// printers here. libcrypto exports functions of several of these names:
// call them as cadb::.... At start-up the program adds its printers to the
// library's extension printer (cadb::X509V3_EXT_print).
#pragma once

#include <openssl/asn1t.h>
#include <openssl/bio.h>
#include <openssl/x509v3.h>

namespace cadb {

inline constexpr const char* SN_SUBJECT_SIGN_TOOL = "subjectSignTool";
inline constexpr const char* LN_SUBJECT_SIGN_TOOL = "Subject Sign Tool";
inline constexpr const char* OID_SUBJECT_SIGN_TOOL = "1.2.643.100.111";
inline constexpr const char* SN_ISSUER_SIGN_TOOL = "issuerSignTool";
inline constexpr const char* LN_ISSUER_SIGN_TOOL = "Issuer Sign Tool";
inline constexpr const char* OID_ISSUER_SIGN_TOOL = "1.2.643.100.112";

// Function codes: library 13 for the issuer record, 34 (X509V3) for the
// subject's string method.
enum : int {
    ASN1_F_ISSUER_SIGN_TOOL_NEW = 180,
    ASN1_F_D2I_ISSUER_SIGN_TOOL = 181,
    X509V3_F_S2I_SUBJECT_SIGN_TOOL = 176,
};
inline constexpr int ERR_LIB_X509V3_ = 34;
inline constexpr int X509V3_REASON_NULL_ARGUMENT = 116;

// issuerSignTool ::= SEQUENCE { signTool, cATool, signToolCert, cAToolCert
// UTF8String }
struct ISSUER_SIGN_TOOL {
    ASN1_UTF8STRING* sign_tool;
    ASN1_UTF8STRING* ca_tool;
    ASN1_UTF8STRING* sign_tool_cert;
    ASN1_UTF8STRING* ca_tool_cert;
};
DECLARE_ASN1_ITEM(ISSUER_SIGN_TOOL)

// A record of four empty strings; null with (13, 180, 33).
ISSUER_SIGN_TOOL* ISSUER_SIGN_TOOL_new();
// Frees the four strings and the record. Null is ignored.
void ISSUER_SIGN_TOOL_free(ISSUER_SIGN_TOOL* v);
// The SEQUENCE of the four; without out only the length. -1 on failure.
int i2d_ISSUER_SIGN_TOOL(const ISSUER_SIGN_TOOL* v, unsigned char** out);
// The four strings in order, into *out when it holds a record (else a new
// one); advances *in. Null on failure (queued as (13, 181)).
ISSUER_SIGN_TOOL* d2i_ISSUER_SIGN_TOOL(ISSUER_SIGN_TOOL** out, const unsigned char** in,
                                       long len);
// "%*ssignTool: ", "%*scATool: ", "%*ssignToolCert: ", "%*scAToolCert: "
// with the string's text and "\n", for each string present. 1, or 0 for a
// missing record or stream.
int ISSUER_SIGN_TOOL_print(const X509V3_EXT_METHOD* method, const ISSUER_SIGN_TOOL* v,
                           BIO* out, int indent);

// The subject's tool, a UTF8String holding the text's bytes; null text is
// (34, 176, 116), memory (34, 176, 33).
ASN1_UTF8STRING* s2i_SUBJECT_SIGN_TOOL(const X509V3_EXT_METHOD* method, X509V3_CTX* ctx,
                                       const char* text);
// A copy of the string's bytes with a terminating zero (OPENSSL_free it);
// null for an empty or missing string.
char* i2s_SUBJECT_SIGN_TOOL(const X509V3_EXT_METHOD* method, const ASN1_UTF8STRING* value);

// libcrypto's numbers of the two objects (made once when missing). 1/0.
int SIGNTOOL_add_extensions();
int SIGNTOOL_subject_nid();
int SIGNTOOL_issuer_nid();

// Prints a sign-tool extension's value at the indent with the printers
// above: the subject's text, or the issuer's lines. 1, 0 when the value does
// not decode, -1 when the extension is not a sign-tool extension.
int SIGNTOOL_print_extension(BIO* out, X509_EXTENSION* ext, int indent);

}  // namespace cadb
