// The certificates of a certification authority's answer: a signed-data
// message read from DER, PEM or bare base64, and the text rewrap that lets a
// body pasted under any PEM label be read as one.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include <openssl/x509.h>

#include "wrappers/tcertificate.h"

namespace cadb::enrol {

// Clears certs; for a signed-data message, one certificate per certificate
// of the message, in order. One the library cannot split (a key algorithm
// it does not compute) is held as its DER bytes, without a parsed form. The
// number found, or -1 when the bytes are no message.
int ParsePKCS7Certificates(const unsigned char* data, std::size_t length,
                           std::vector<TCertificate>& certs);

// True when every signer of the signed-data message whose certificate the
// message carries, and whose digest and key algorithms the library
// computes, verifies over the content (a signer whose algorithms it does
// not compute is logged and skipped); a message without signers holds, and
// so does one without its content (certificates only, or signed over content
// sent apart), which has nothing to check the signatures over.
// False for bytes that are no signed-data message or whose content cannot be
// read, and when a signer's check could not even be set up.
bool PKCS7SignaturesHold(const unsigned char* data, std::size_t length);

// The flags a signed answer is checked with: a missing or expired CRL and a
// revoked certificate do not fail it.
inline constexpr int kResponseVerifyFlags = 0x801008;

// The answer checked as the enrolment control checks it: a certificate
// store with an empty "trusted" lookup and the answer's own certificates
// under "untrusted", and TCMS::verify with kResponseVerifyFlags. True when
// every signer's chain and signature hold.
bool VerifyResponseWithItsCertificates(const unsigned char* data, std::size_t length,
                                       const std::vector<TCertificate>& certs);

// One reading of a message as the authority's signed answer.
struct SignedResponse {
    struct Signer {
        bool hasCertificate = false;  // the message carries the signer's certificate
        bool computable = false;      // and the library computes the check with it
        bool notSetUp = false;        // or the check could not even be set up
        bool verified = false;        // its signature holds with that certificate
        std::string serial;           // HexString of the serial number
        std::string issuer;           // NameLine of the issuer
        std::string subject;          // NameLine of the subject, with the certificate
        std::string algorithms;       // "<digest> with <signature>", short names or dotted
    };
    int type = 0;                        // outer content type
    bool detached = false;               // signed data without its content
    std::vector<unsigned char> content;  // inner content, for attached signed data
    std::vector<Signer> signers;
};

// Reads the message in any form; for signed data its content and signers
// (a message without its content has signers none of which is verified).
// False for bytes that are no message or signed data whose content cannot
// be read.
bool ReadSignedResponse(const unsigned char* data, std::size_t length, SignedResponse& out);

// Each entry of the name as short name "=" value (local code page), joined
// by ", ", the last followed by a line feed; empty for no entries.
std::string NameLine(const X509_NAME* name);

// The base64 body of the first PEM block of text under the label PKCS7,
// lines of 64 characters. False (out empty) when text has no "-----" past
// its first five characters. Every position is checked against the text's
// length.
bool RewrapAsPKCS7Pem(std::string_view text, std::string& out);

// Two upper-case hexadecimal digits per byte.
std::string HexString(const unsigned char* data, std::size_t length);

// The first common name of the subject in the local code page; without a
// subject or a common name the serial number's HexString; empty for a
// certificate without a parsed form.
std::string CertificateDisplayName(const TCertificate& cert);

}  // namespace cadb::enrol
