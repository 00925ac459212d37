// A small certification authority for tests and the demo, built on the
// library: it issues a certificate for a PKCS#10 request and answers with a
// signed-data message carrying the new certificate and its own, as an
// authority's web page would hand it back. Not a product: its key lives only
// for one run.
//
//   cadb-test-ca [options] REQUEST RESPONSE
//     -der           write the answer as DER (default: PEM "PKCS7")
//     -label TEXT    PEM label of the answer (default PKCS7)
//     -serial HEX    serial number of the new certificate (default random)
//     -nosign        an answer without signers (certificates only)
//     -tamper        spoil the answer's signature
//     -cert FILE     also write the new certificate (PEM)
//     -cmc           the content is a CMC response body (status, transaction id)
//     -tid HEX       its transaction identifier (default 01)
//     -status N      its status (default 0, success), -fail N its failure
//                    information, -text TEXT its status string
//
//   cadb-test-ca -read FILE
//     reads a CMC request (signed, or unsigned in base64), checks its
//     signatures and prints what it asks: certificates, revocations
#include <openssl/bio.h>
#include <openssl/bn.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <sys/random.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "crypto/cadb/buffer.h"
#include "crypto/cms/cmc.h"
#include "crypto/core/gost_pkey.h"
#include "crypto/core/objects.h"
#include "crypto/init/init.h"
#include "crypto/pkcs7/pkcs7.h"
#include "crypto/rand/rand.h"
#include "crypto/rus/evp_gost.h"
#include "tools/test_ca.h"

namespace {

using Bytes = std::vector<unsigned char>;

int kernel_bytes(void* buf, int len) {
    auto* p = static_cast<unsigned char*>(buf);
    int done = 0;
    while (done < len) {
        const ssize_t got = getrandom(p + done, static_cast<std::size_t>(len - done), 0);
        if (got <= 0) return done;
        done += static_cast<int>(got);
    }
    return done;
}
const cadb::RAND_METHOD kKernelSource = {nullptr, kernel_bytes, nullptr, nullptr,
                                         nullptr, nullptr,      0};

struct Options {
    bool der = false, nosign = false, tamper = false, cmc = false;
    int status = 0, fail_info = -1;
    std::string label = "PKCS7", serial, request, response, cert_out, tid = "01", text;
};

int fail(const char* what) {
    std::fprintf(stderr, "cadb-test-ca: %s\n", what);
    return 1;
}

std::unique_ptr<X509_REQ, decltype(&X509_REQ_free)> read_request(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    const Bytes bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const unsigned char* p = bytes.data();
    X509_REQ* req = d2i_X509_REQ(nullptr, &p, static_cast<long>(bytes.size()));
    if (req == nullptr) {
        BIO* b = BIO_new_mem_buf(bytes.data(), static_cast<int>(bytes.size()));
        req = PEM_read_bio_X509_REQ(b, nullptr, nullptr, nullptr);
        BIO_free(b);
    }
    return {req, X509_REQ_free};
}

EVP_PKEY* make_ca_key() {
    std::unique_ptr<EVP_PKEY_CTX, decltype(&EVP_PKEY_CTX_free)> ctx(
        EVP_PKEY_CTX_new_id(cadb::OBJ_nid2openssl(cadb::NID_ECR3410_CP), nullptr),
        EVP_PKEY_CTX_free);
    EVP_PKEY* key = nullptr;
    if (!ctx || EVP_PKEY_keygen_init(ctx.get()) != 1 || EVP_PKEY_keygen(ctx.get(), &key) != 1)
        return nullptr;
    return key;
}

bool set_name(X509_NAME* name, const char* field, const char* value) {
    return X509_NAME_add_entry_by_txt(name, field, MBSTRING_ASC,
                                      reinterpret_cast<const unsigned char*>(value), -1, -1,
                                      0) == 1;
}

bool set_serial(X509* x, const std::string& hex) {
    BIGNUM* bn = nullptr;
    if (hex.empty()) {
        unsigned char bytes[8];
        if (kernel_bytes(bytes, sizeof bytes) != sizeof bytes) return false;
        bytes[0] &= 0x7f;
        bytes[0] |= 0x10;
        bn = BN_bin2bn(bytes, sizeof bytes, nullptr);
    } else if (BN_hex2bn(&bn, hex.c_str()) == 0) {
        return false;
    }
    const bool ok = BN_to_ASN1_INTEGER(bn, X509_get_serialNumber(x)) != nullptr;
    BN_free(bn);
    return ok;
}

X509* make_cert(X509_NAME* subject, X509_NAME* issuer, EVP_PKEY* subject_key, EVP_PKEY* ca_key,
                const std::string& serial) {
    X509* x = X509_new();
    if (x == nullptr || X509_set_version(x, 2) != 1 || !set_serial(x, serial) ||
        X509_set_subject_name(x, subject) != 1 || X509_set_issuer_name(x, issuer) != 1 ||
        X509_gmtime_adj(X509_getm_notBefore(x), -3600) == nullptr ||
        X509_gmtime_adj(X509_getm_notAfter(x), 3600L * 24 * 365) == nullptr ||
        X509_set_pubkey(x, subject_key) != 1 ||
        X509_sign(x, ca_key, cadb::EVP_r3411_with_ecr3410_cp()) <= 0) {
        X509_free(x);
        return nullptr;
    }
    return x;
}

Bytes encode(const cadb::PKCS7* p7) {
    const int len = cadb::i2d_PKCS7(p7, nullptr);
    if (len <= 0) return {};
    Bytes out(static_cast<std::size_t>(len));
    unsigned char* p = out.data();
    if (cadb::i2d_PKCS7(p7, &p) != len) return {};
    return out;
}

bool write_file(const std::string& path, const void* data, std::size_t len) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(static_cast<const char*>(data), static_cast<std::streamsize>(len));
    return static_cast<bool>(out);
}

std::string pem_of(const Bytes& der, const std::string& label) {
    BIO* b = BIO_new(BIO_s_mem());
    PEM_write_bio(b, label.c_str(), "", der.data(), static_cast<long>(der.size()));
    char* text = nullptr;
    const long n = BIO_get_mem_data(b, &text);
    std::string out(text, static_cast<std::size_t>(n));
    BIO_free(b);
    return out;
}

// The DER of a response body with a status and a transaction identifier.
Bytes response_body(const Options& o) {
    BIGNUM* bn = nullptr;
    if (BN_hex2bn(&bn, o.tid.c_str()) == 0) return {};
    Bytes id(static_cast<std::size_t>(BN_num_bytes(bn)));
    BN_bn2bin(bn, id.data());
    BN_free(bn);
    std::unique_ptr<cadb::CMC, decltype(&cadb::CMC_free)> cmc(cadb::CMC_new(), cadb::CMC_free);
    std::unique_ptr<cadb::BUFFER, decltype(&cadb::BUFFER_free)> bytes(cadb::BUFFER_new(),
                                                                    cadb::BUFFER_free);
    if (!cmc || !bytes || !cadb::BUFFER_append(bytes.get(), id.data(), static_cast<int>(id.size())) ||
        !cadb::CMS_add_status_info(cmc.get(), 1, o.status, 1,
                                   o.text.empty() ? nullptr : o.text.c_str(), o.fail_info) ||
        !cadb::CMS_set_trans_id(cmc.get(), 1, bytes.get()))
        return {};
    std::unique_ptr<cadb::BUFFER, decltype(&cadb::BUFFER_free)> der(
        cadb::CMC_get(cmc.get(), cadb::NID_CMC_RESPONSE_BODY), cadb::BUFFER_free);
    if (!der) return {};
    return Bytes(der->data, der->data + der->length);
}

int run(const Options& o) {
    auto req = read_request(o.request);
    if (!req) return fail("the request does not read");
    EVP_PKEY* req_key = X509_REQ_get0_pubkey(req.get());
    if (req_key == nullptr || X509_REQ_verify(req.get(), req_key) != 1)
        return fail("the request's signature does not verify");

    std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)> ca_key(make_ca_key(), EVP_PKEY_free);
    if (!ca_key) return fail("no authority key");
    std::unique_ptr<X509_NAME, decltype(&X509_NAME_free)> ca_name(X509_NAME_new(), X509_NAME_free);
    if (!set_name(ca_name.get(), "C", "RU") || !set_name(ca_name.get(), "O", "Test Authority") ||
        !set_name(ca_name.get(), "CN", "Test CA"))
        return fail("no authority name");
    std::unique_ptr<X509, decltype(&X509_free)> ca_cert(
        make_cert(ca_name.get(), ca_name.get(), ca_key.get(), ca_key.get(), "01"), X509_free);
    std::unique_ptr<X509, decltype(&X509_free)> cert(
        make_cert(X509_REQ_get_subject_name(req.get()), ca_name.get(), req_key, ca_key.get(),
                  o.serial),
        X509_free);
    if (!ca_cert || !cert) return fail("the certificates cannot be made");

    std::unique_ptr<cadb::PKCS7, decltype(&cadb::PKCS7_free)> p7(cadb::PKCS7_new(),
                                                               cadb::PKCS7_free);
    if (!cadb::PKCS7_set_type(p7.get(), NID_pkcs7_signed) ||
        !cadb::PKCS7_content_new(p7.get(), o.cmc ? cadb::NID_CMC_RESPONSE_BODY : NID_pkcs7_data))
        return fail("no message");
    if (!o.nosign && cadb::PKCS7_add_signature(p7.get(), ca_cert.get(), ca_key.get(),
                                               cadb::EVP_r3411_with_ecr3410_cp()) == nullptr)
        return fail("no signer");
    if (!cadb::PKCS7_add_certificate(p7.get(), cert.get()) ||
        !cadb::PKCS7_add_certificate(p7.get(), ca_cert.get()))
        return fail("the certificates cannot be added");
    static const char kContent[] = "certificate issued";
    const Bytes content = o.cmc ? response_body(o) : Bytes(kContent, kContent + sizeof kContent - 1);
    if (content.empty()) return fail("no response body");
    BIO* chain = cadb::PKCS7_dataInit(p7.get(), nullptr);
    if (chain == nullptr) return fail("the message cannot be written");
    bool ok = BIO_write(chain, content.data(), static_cast<int>(content.size())) ==
                  static_cast<int>(content.size()) &&
              cadb::PKCS7_DATASIGN(p7.get(), chain) == 1;
    BIO_free_all(chain);
    if (!ok) return fail("the message cannot be signed");
    if (o.tamper) {
        auto* signers = cadb::PKCS7_get_signer_info(p7.get());
        if (sk_P7_SIGNER_INFO_num(signers) < 1) return fail("nothing to tamper with");
        ASN1_OCTET_STRING* sig = sk_P7_SIGNER_INFO_value(signers, 0)->enc_digest;
        ASN1_STRING_data(sig)[ASN1_STRING_length(sig) / 2] ^= 0x01;
        cadb::PKCS7_modified(p7.get());
    }
    const Bytes der = encode(p7.get());
    if (der.empty()) return fail("the message does not encode");
    if (o.der) {
        if (!write_file(o.response, der.data(), der.size())) return fail("the answer is not written");
    } else {
        const std::string pem = pem_of(der, o.label);
        if (!write_file(o.response, pem.data(), pem.size())) return fail("the answer is not written");
    }
    if (!o.cert_out.empty()) {
        BIO* b = BIO_new_file(o.cert_out.c_str(), "w");
        ok = b != nullptr && PEM_write_bio_X509(b, cert.get()) == 1;
        BIO_free(b);
        if (!ok) return fail("the certificate is not written");
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    Options o;
    std::vector<std::string> files;
    if (argc == 3 && std::string(argv[1]) == "-read") {
        if (cadb::CADB_init() != 1) return fail("the library does not start");
        const int rc = cadb::test_ca::read_request(argv[2]);
        cadb::CADB_cleanup();
        return rc;
    }
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "-der") o.der = true;
        else if (a == "-nosign") o.nosign = true;
        else if (a == "-tamper") o.tamper = true;
        else if (a == "-label" && i + 1 < argc) o.label = argv[++i];
        else if (a == "-serial" && i + 1 < argc) o.serial = argv[++i];
        else if (a == "-cert" && i + 1 < argc) o.cert_out = argv[++i];
        else if (a == "-cmc") o.cmc = true;
        else if (a == "-tid" && i + 1 < argc) o.tid = argv[++i];
        else if (a == "-status" && i + 1 < argc) o.status = std::atoi(argv[++i]);
        else if (a == "-fail" && i + 1 < argc) o.fail_info = std::atoi(argv[++i]);
        else if (a == "-text" && i + 1 < argc) o.text = argv[++i];
        else files.push_back(a);
    }
    if (files.size() != 2)
        return fail("usage: cadb-test-ca [-der] [-label L] [-serial HEX] [-nosign] [-tamper] "
                    "[-cert FILE] REQUEST RESPONSE");
    o.request = files[0];
    o.response = files[1];
    cadb::RAND_set_rand_method(&kKernelSource);
    if (cadb::CADB_init() != 1) return fail("the library does not start");
    const int rc = run(o);
    cadb::CADB_cleanup();
    return rc;
}
