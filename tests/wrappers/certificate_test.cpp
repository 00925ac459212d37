// The certificate and certificate-store wrappers over the vector
// certificates (made by the peer's GOST engine, with their keys), and the
// reading of whole streams, pipes included.
#include <gtest/gtest.h>
#include <openssl/x509.h>

#include <fstream>
#include <iterator>
#include <sstream>
#include <streambuf>
#include <string>

#include "crypto/core/err.h"
#include "crypto/x509/cert.h"
#include "crypto/x509/lookup_local.h"
#include "tests/wrappers/standin.h"
#include "wrappers/tcertificate.h"
#include "wrappers/tcertstore.h"
#include "wrappers/tprivatekey.h"

namespace cadb {
namespace {

const std::string kVectors = std::string(CADB_VECTORS_DIR) + "/gost3410-2001-keys/";

std::string file_text(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

std::string text_of(const TBuffer* b) {
    return b != nullptr && b->getData() != nullptr
               ? std::string(reinterpret_cast<const char*>(b->getData()),
                             static_cast<std::size_t>(b->getLength()))
               : std::string();
}

bool load_text(TCertificate& cert, const std::string& text) {
    return cert.loadDER(reinterpret_cast<const unsigned char*>(text.data()),
                        static_cast<int>(text.size()));
}

// A stream that cannot seek, like a pipe: `total` bytes of `fill`.
class PipeBuf : public std::streambuf {
  public:
    PipeBuf(std::string text, std::size_t total) : text_(std::move(text)), left_(total) {}

  protected:
    int_type underflow() override {
        if (left_ == 0) return traits_type::eof();
        const std::size_t n = std::min(left_, text_.size());
        left_ -= n;
        setg(text_.data(), text_.data(), text_.data() + n);
        return traits_type::to_int_type(text_[0]);
    }

  private:
    std::string text_;
    std::size_t left_;
};

TEST(TCertificateTest, LoadsEncodesAndCopies) {
    const std::string pem = file_text(kVectors + "cert-A.pem");
    TCertificate cert;
    ASSERT_NE(cert.context(), nullptr);
    EXPECT_EQ(cert.getCERT(), nullptr);
    EXPECT_EQ(cert.getEncoded(), nullptr);
    ASSERT_TRUE(load_text(cert, pem));
    ASSERT_NE(cert.getCERT(), nullptr);

    const std::string der = text_of(cert.getEncoded());  // DER by default
    ASSERT_FALSE(der.empty());
    EXPECT_EQ(static_cast<unsigned char>(der[0]), 0x30);
    EXPECT_EQ(cert.setFormat(6), 0);
    EXPECT_EQ(cert.format(), TCertificate::kFormatDER);
    ASSERT_EQ(cert.setFormat(TCertificate::kFormatPEM), 1);
    EXPECT_EQ(text_of(cert.getEncoded()).rfind("-----BEGIN CERTIFICATE-----", 0), 0u);
    ASSERT_EQ(cert.setFormat(TCertificate::kFormatText), 1);
    EXPECT_NE(text_of(cert.getEncoded()).find("Certificate:"), std::string::npos);
    EXPECT_EQ(text_of(cert.encode(TCertificate::kFormatDER).get()), der);

    // DER, bare base64 and a file on the disk read as the same certificate.
    TCertificate from_der;
    ASSERT_TRUE(load_text(from_der, der));
    EXPECT_EQ(text_of(from_der.encode(1).get()), der);
    std::string b64 = pem.substr(pem.find('\n') + 1);
    b64 = b64.substr(0, b64.find("-----"));
    TCertificate from_b64;
    ASSERT_TRUE(load_text(from_b64, b64));
    EXPECT_EQ(text_of(from_b64.encode(1).get()), der);
    TCertificate from_file;
    ASSERT_TRUE(from_file.loadFile((kVectors + "cert-A.pem").c_str()));
    EXPECT_EQ(text_of(from_file.encode(1).get()), der);
    EXPECT_FALSE(from_file.loadFile(nullptr));
    EXPECT_FALSE(from_file.loadFile((kVectors + "absent.pem").c_str()));
    EXPECT_EQ(from_file.getCERT(), nullptr);

    // Copies: the copy constructor takes the format, assignment keeps its own.
    TCertificate copy(cert);
    EXPECT_EQ(copy.format(), TCertificate::kFormatText);
    EXPECT_EQ(text_of(copy.encode(1).get()), der);
    TCertificate assigned;
    assigned = cert;
    EXPECT_EQ(assigned.format(), TCertificate::kFormatDER);
    EXPECT_EQ(text_of(assigned.encode(1).get()), der);
    CERT* held = assigned.getCERT();
    auto& self = assigned;
    assigned = self;
    EXPECT_EQ(assigned.getCERT(), held);
    TCertificate from_record(cert.getCERT());
    EXPECT_EQ(text_of(from_record.encode(1).get()), der);

    TCertificate empty;
    TCertificate empty_copy(empty);
    EXPECT_EQ(empty_copy.context(), nullptr) << "no certificate: no context";
    assigned = empty;
    EXPECT_EQ(assigned.context(), nullptr);
    EXPECT_EQ(assigned.getEncoded(), nullptr);
    ERR_clear_error();
}

TEST(TCertificateTest, HostileInputLeavesNoCertificate) {
    const std::string pem = file_text(kVectors + "cert-B.pem");
    TCertificate cert;
    ASSERT_TRUE(load_text(cert, pem));
    EXPECT_FALSE(cert.loadDER(reinterpret_cast<const unsigned char*>(pem.data()), 0));
    EXPECT_EQ(cert.context(), nullptr);
    EXPECT_FALSE(cert.loadDER(nullptr, 5));
    TBuffer empty;
    EXPECT_FALSE(cert.loadBuffer(empty));
    ASSERT_TRUE(load_text(cert, pem));
    const std::string good = text_of(cert.encode(1).get());
    for (std::size_t len = 1; len < good.size(); len += 11) {
        TCertificate cut;
        EXPECT_FALSE(load_text(cut, good.substr(0, len))) << len;
        EXPECT_EQ(cut.getCERT(), nullptr);
    }
    EXPECT_FALSE(load_text(cert, good + "trailing"));
    EXPECT_FALSE(load_text(cert, std::string(4096, '\0')));
    EXPECT_FALSE(load_text(cert, "-----BEGIN CERTIFICATE-----\n%%%%\n-----END CERTIFICATE-----\n"));
    EXPECT_EQ(cert.getCERT(), nullptr);
    ERR_clear_error();
}

TEST(TCertificateTest, MatchesOnlyItsOwnKey) {
    TCertificate cert;
    ASSERT_TRUE(load_text(cert, file_text(kVectors + "cert-A.pem")));
    TBuffer own, other;
    const std::string a = file_text(kVectors + "key-A.pem");
    const std::string b = file_text(kVectors + "key-B.pem");
    own.assign(a.data(), static_cast<int>(a.size()));
    other.assign(b.data(), static_cast<int>(b.size()));
    TPrivateKey key_a, key_b, none;
    ASSERT_TRUE(key_a.loadWithPassword(own, nullptr, nullptr, 0));
    ASSERT_TRUE(key_b.loadWithPassword(other, nullptr, nullptr, 0));
    EXPECT_TRUE(cert.matchesKey(key_a));
    EXPECT_FALSE(cert.matchesKey(key_b));
    EXPECT_FALSE(cert.matchesKey(none));
    EXPECT_FALSE(TCertificate().matchesKey(key_a));
    ERR_clear_error();
}

TEST(TCertificateTest, StreamsAndPipesAreReadWhole) {
    const std::string pem = file_text(kVectors + "cert-C.pem");
    std::istringstream seekable(pem);
    TCertificate cert;
    ASSERT_TRUE(ReadStreamToCertificate(seekable, cert));

    PipeBuf pipe(pem, pem.size());
    std::istream piped(&pipe);
    TCertificate from_pipe;
    ASSERT_TRUE(ReadStreamToCertificate(piped, from_pipe));
    EXPECT_EQ(text_of(from_pipe.encode(1).get()), text_of(cert.encode(1).get()));

    // A pipe that never ends is cut at the bound and changes nothing.
    TBuffer target;
    target.assign("keep", 4);
    PipeBuf endless(std::string(65536, 'x'), static_cast<std::size_t>(kMaxStreamBytes) + 1);
    std::istream long_pipe(&endless);
    ReadStreamToBuffer(long_pipe, target);
    EXPECT_EQ(text_of(&target), "keep");
    // Exactly the bound is read.
    PipeBuf full(std::string(65536, 'y'), static_cast<std::size_t>(kMaxStreamBytes));
    std::istream full_pipe(&full);
    ReadStreamToBuffer(full_pipe, target);
    EXPECT_EQ(target.getLength(), kMaxStreamBytes);
    PipeBuf nothing("", 0);
    std::istream empty_pipe(&nothing);
    target.assign("keep", 4);
    ReadStreamToBuffer(empty_pipe, target);
    EXPECT_EQ(text_of(&target), "keep");
    TCertificate none;
    std::istringstream empty("");
    EXPECT_FALSE(ReadStreamToCertificate(empty, none));
}

TEST(TCertStoreTest, EveryNameHasItsOwnLookup) {
    TRef<TCertStore> store = make_ref<TCertStore>();
    ASSERT_NE(store->get(), nullptr);
    TCertStoreEntry* trusted = store->addLookup(X509_LOOKUP_local(), "trusted", 1);
    ASSERT_NE(trusted->lookup(), nullptr);
    EXPECT_EQ(store->lastLookup(), trusted);
    TCertStoreEntry* untrusted = store->addLookup(X509_LOOKUP_local(), "untrusted", 0);
    ASSERT_NE(untrusted->lookup(), nullptr);
    EXPECT_NE(untrusted->lookup(), trusted->lookup());
    EXPECT_EQ(store->lastLookup(), untrusted);

    // A second "trusted" makes no lookup and takes no certificate.
    TCertStoreEntry* again = store->addLookup(X509_LOOKUP_local(), "trusted", 1);
    EXPECT_EQ(again->lookup(), nullptr);
    EXPECT_EQ(store->lastLookup(), untrusted);
    TCertificate cert;
    ASSERT_TRUE(load_text(cert, file_text(kVectors + "cert-XA.pem")));
    EXPECT_FALSE(again->addCertificate(cert));
    EXPECT_EQ(store->addLookup(nullptr, "none", 0)->lookup(), nullptr);
    EXPECT_EQ(store->addLookup(X509_LOOKUP_local(), nullptr, 0)->lookup(), nullptr);

    // A certificate put into "untrusted" is found there and not in "trusted".
    EXPECT_TRUE(untrusted->addCertificate(store->keep(cert)));
    EXPECT_FALSE(untrusted->addCertificate(TCertificate()));
    X509* x = cert.getCERT()->x509;
    STACK_OF(X509)* found = sk_X509_new_null();
    EXPECT_EQ(X509_LOOKUP_local_certs_by_issuer_serial(untrusted->lookup(), X509_get_issuer_name(x),
                                                       X509_get0_serialNumber(x), found, 1),
              1);
    EXPECT_EQ(X509_LOOKUP_local_certs_by_issuer_serial(trusted->lookup(), X509_get_issuer_name(x),
                                                       X509_get0_serialNumber(x), found, 1),
              0);
    sk_X509_pop_free(found, X509_free);

    // Names are kept to their bound.
    const std::string long_name(600, 'n');
    TCertStoreEntry* bounded = store->addLookup(X509_LOOKUP_trusted(), long_name.c_str(), 0);
    EXPECT_EQ(bounded->name().size(), TCertStoreEntry::kMaxName);
    EXPECT_NE(bounded->lookup(), nullptr);
    ERR_clear_error();
}

}  // namespace
}  // namespace cadb
