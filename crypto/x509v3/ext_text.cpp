#include "crypto/x509v3/ext_text.h"

#include <openssl/asn1.h>
#include <openssl/x509v3.h>

#include "crypto/x509v3/ext_print.h"

namespace cadb {

int X509V3_extensions_print(BIO* out, const char* title, const STACK_OF(X509_EXTENSION) * exts,
                            unsigned long flag, int indent) {
    if (out == nullptr) return 0;
    if (sk_X509_EXTENSION_num(exts) <= 0) return 1;
    if (title != nullptr && BIO_printf(out, "%*s%s:\n", indent, "", title) <= 0) return 0;
    indent += 4;
    for (int i = 0; i < sk_X509_EXTENSION_num(exts); ++i) {
        X509_EXTENSION* ext = sk_X509_EXTENSION_value(exts, i);
        if (BIO_printf(out, "%*s", indent, "") <= 0 ||
            i2a_ASN1_OBJECT(out, X509_EXTENSION_get_object(ext)) <= 0 ||
            BIO_printf(out, ": %s\n", X509_EXTENSION_get_critical(ext) ? "critical" : "") <= 0)
            return 0;
        // An extension nobody can show, or whose value does not parse, shows
        // its octets.
        if (cadb::X509V3_EXT_print(out, ext, flag, indent + 4) != 1 &&
            (BIO_printf(out, "%*s", indent + 4, "") <= 0 ||
             ASN1_STRING_print(out, X509_EXTENSION_get_data(ext)) <= 0))
            return 0;
        if (BIO_write(out, "\n", 1) != 1) return 0;
    }
    return 1;
}

int X509_print_text(BIO* out, X509* x) {
    if (out == nullptr || x == nullptr) return 0;
    if (!X509_print_ex(out, x, XN_FLAG_COMPAT,
                       X509_FLAG_NO_EXTENSIONS | X509_FLAG_NO_SIGDUMP | X509_FLAG_NO_AUX) ||
        !cadb::X509V3_extensions_print(out, "X509v3 extensions", X509_get0_extensions(x), 0, 8))
        return 0;
    const ASN1_BIT_STRING* sig = nullptr;
    const X509_ALGOR* alg = nullptr;
    X509_get0_signature(&sig, &alg, x);
    return X509_signature_print(out, alg, sig) > 0 && X509_aux_print(out, x, 0) > 0;
}

int X509_CRL_print_text(BIO* out, X509_CRL* crl) {
    if (out == nullptr || crl == nullptr) return 0;
    const ASN1_BIT_STRING* sig = nullptr;
    const X509_ALGOR* alg = nullptr;
    X509_CRL_get0_signature(crl, &sig, &alg);
    const long version = X509_CRL_get_version(crl);
    const bool known = version >= X509_CRL_VERSION_1 && version <= X509_CRL_VERSION_2;
    if (BIO_puts(out, "Certificate Revocation List (CRL):\n") <= 0 ||
        (known ? BIO_printf(out, "%8sVersion %ld (0x%lx)\n", "", version + 1,
                            static_cast<unsigned long>(version))
               : BIO_printf(out, "%8sVersion unknown (%ld)\n", "", version)) <= 0 ||
        BIO_puts(out, "    ") <= 0 || X509_signature_print(out, alg, nullptr) <= 0 ||
        BIO_printf(out, "%8sIssuer: ", "") <= 0 ||
        X509_NAME_print_ex(out, X509_CRL_get_issuer(crl), 0, XN_FLAG_COMPAT) < 0 ||
        BIO_printf(out, "\n%8sLast Update: ", "") <= 0 ||
        !ASN1_TIME_print(out, X509_CRL_get0_lastUpdate(crl)) ||
        BIO_printf(out, "\n%8sNext Update: ", "") <= 0)
        return 0;
    const ASN1_TIME* next = X509_CRL_get0_nextUpdate(crl);
    if ((next != nullptr ? ASN1_TIME_print(out, next) : BIO_puts(out, "NONE")) <= 0 ||
        BIO_puts(out, "\n") <= 0 ||
        !cadb::X509V3_extensions_print(out, "CRL extensions", X509_CRL_get0_extensions(crl), 0, 8))
        return 0;
    STACK_OF(X509_REVOKED)* revoked = X509_CRL_get_REVOKED(crl);
    if (BIO_puts(out, sk_X509_REVOKED_num(revoked) > 0 ? "Revoked Certificates:\n"
                                                       : "No Revoked Certificates.\n") <= 0)
        return 0;
    for (int i = 0; i < sk_X509_REVOKED_num(revoked); ++i) {
        const X509_REVOKED* r = sk_X509_REVOKED_value(revoked, i);
        if (BIO_puts(out, "    Serial Number: ") <= 0 ||
            i2a_ASN1_INTEGER(out, X509_REVOKED_get0_serialNumber(r)) <= 0 ||
            BIO_puts(out, "\n        Revocation Date: ") <= 0 ||
            !ASN1_TIME_print(out, X509_REVOKED_get0_revocationDate(r)) ||
            BIO_puts(out, "\n") <= 0 ||
            !cadb::X509V3_extensions_print(out, "CRL entry extensions",
                                           X509_REVOKED_get0_extensions(r), 0, 8))
            return 0;
    }
    return X509_signature_print(out, alg, sig) > 0;
}

int X509_REQ_print_text(BIO* out, X509_REQ* req) {
    if (out == nullptr || req == nullptr ||
        !X509_REQ_print_ex(out, req, XN_FLAG_COMPAT,
                           X509_FLAG_NO_EXTENSIONS | X509_FLAG_NO_SIGDUMP))
        return 0;
    STACK_OF(X509_EXTENSION)* exts = X509_REQ_get_extensions(req);
    // libcrypto shows the title even over an empty list: kept, so that the
    // text stays libcrypto's wherever the printers agree.
    const int ok = exts == nullptr ? 1
                   : sk_X509_EXTENSION_num(exts) == 0
                       ? BIO_printf(out, "%12sRequested Extensions:\n", "") > 0
                       : cadb::X509V3_extensions_print(out, "Requested Extensions", exts, 0, 12);
    sk_X509_EXTENSION_pop_free(exts, X509_EXTENSION_free);
    if (!ok) return 0;
    const ASN1_BIT_STRING* sig = nullptr;
    const X509_ALGOR* alg = nullptr;
    X509_REQ_get0_signature(req, &sig, &alg);
    return X509_signature_print(out, alg, sig) > 0;
}

}  // namespace cadb
