// Objects to DER, PEM, text and base64 and back through every reading form,
// and hostile bytes in each form.
#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <openssl/x509.h>

#include <memory>
#include <string>

#include "crypto/asn1/asn1_void_coders.h"
#include "crypto/cadb/buffer_encode.h"
#include "crypto/core/err.h"
#include "crypto/core/objects.h"
#include "tests/support/kernel_random.h"

namespace cadb {
namespace {

using NamePtr = std::unique_ptr<X509_NAME, decltype(&X509_NAME_free)>;

i2d_of_void* const kI2d = i2d_as_void<i2d_X509_NAME>;
d2i_of_void* const kD2i = d2i_as_void<d2i_X509_NAME>;
constexpr const char* kLabel = "X509 NAME";

NamePtr sample_name() {
    NamePtr n(X509_NAME_new(), X509_NAME_free);
    X509_NAME_add_entry_by_txt(n.get(), "C", MBSTRING_ASC,
                               reinterpret_cast<const unsigned char*>("RU"), -1, -1, 0);
    X509_NAME_add_entry_by_txt(n.get(), "CN", MBSTRING_ASC,
                               reinterpret_cast<const unsigned char*>("Test, user"), -1, -1, 0);
    return n;
}

NamePtr decode(const BUFFER* b, int form) {
    return NamePtr(static_cast<X509_NAME*>(form2x(b->data, b->length, form, kD2i, kLabel)),
                   X509_NAME_free);
}

int print_name(BIO* bio, void* name) {
    return X509_NAME_print_ex(bio, static_cast<X509_NAME*>(name), 0, XN_FLAG_ONELINE);
}

TEST(Encode, EveryFormRoundTrips) {
    NamePtr name = sample_name();
    BufferPtr der(x2der(name.get(), kI2d));
    ASSERT_TRUE(der);
    EXPECT_EQ(der->data[0], 0x30);
    EXPECT_EQ(der->data[der->length], 0);

    BufferPtr pem(x2pem(name.get(), kI2d, kLabel, 0, nullptr, 0));
    ASSERT_TRUE(pem);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(pem->data)).rfind("-----BEGIN X509 NAME-----", 0),
              0u);

    BufferPtr b64(x2form(name.get(), kI2d, kLabel, FORM_BASE64));
    ASSERT_TRUE(b64);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(b64->data)).find('-'), std::string::npos);

    for (auto [buf, form] : {std::pair{der.get(), FORM_DER}, std::pair{pem.get(), FORM_PEM},
                             std::pair{b64.get(), FORM_BASE64}, std::pair{der.get(), FORM_ANY},
                             std::pair{pem.get(), FORM_ANY}, std::pair{b64.get(), FORM_ANY}}) {
        NamePtr back = decode(buf, form);
        ASSERT_TRUE(back) << form;
        EXPECT_EQ(X509_NAME_cmp(back.get(), name.get()), 0) << form;
    }
    // Bare base64 as it is pasted: line breaks and blanks around it.
    const std::string pasted = "\r\n " + std::string(reinterpret_cast<char*>(b64->data)) + "\n\r\n";
    for (int form : {FORM_BASE64, FORM_ANY}) {
        NamePtr back(static_cast<X509_NAME*>(
                         form2x(reinterpret_cast<const unsigned char*>(pasted.data()),
                                static_cast<long>(pasted.size()), form, kD2i, kLabel)),
                     X509_NAME_free);
        ASSERT_TRUE(back) << form;
        EXPECT_EQ(X509_NAME_cmp(back.get(), name.get()), 0) << form;
    }
    // A form names exactly one encoding.
    EXPECT_FALSE(decode(pem.get(), FORM_DER));
    EXPECT_FALSE(decode(der.get(), FORM_PEM));

    BufferPtr text(x2text(name.get(), print_name));
    ASSERT_TRUE(text);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(text->data)), "C = RU, CN = \"Test, user\"");
}

TEST(Encode, EncryptedPem) {
    ASSERT_EQ(OBJ_init(), 1);
    testing::KernelRandom source;  // the PEM salt
    NamePtr name = sample_name();
    BufferPtr pem(x2pem(name.get(), kI2d, kLabel, 44, "secret", -1));
    ASSERT_TRUE(pem);
    EXPECT_NE(std::string(reinterpret_cast<char*>(pem->data)).find("DEK-Info: DES-EDE3-CBC"),
              std::string::npos);
    // Readers never prompt: an encrypted PEM without a password is refused.
    EXPECT_FALSE(decode(pem.get(), FORM_ANY));
    ERR_clear_error();
    EXPECT_EQ(x2pem(name.get(), kI2d, kLabel, 99999, "secret", -1), nullptr);
    EXPECT_EQ(x2pem(name.get(), kI2d, kLabel, 44, nullptr, 0), nullptr);
    EXPECT_EQ(ERR_code_lib(ERR_peek_error()), ERR_LIB_CADB);
    ERR_clear_error();
}

TEST(Encode, HostileInputIsRefused) {
    NamePtr name = sample_name();
    BufferPtr der(x2der(name.get(), kI2d));
    ASSERT_TRUE(der);
    ERR_clear_error();
    // Every truncation, and trailing bytes after one whole object.
    for (int n = 1; n < der->length; ++n) {
        BufferPtr cut(BUFFER_fill(der->data, n));
        EXPECT_FALSE(decode(cut.get(), FORM_ANY)) << n;
    }
    BufferPtr longer(BUFFER_fill(der->data, der->length));
    BUFFER_append(longer.get(), "\x05\x00", 2);
    EXPECT_FALSE(decode(longer.get(), FORM_DER));
    // A length field that claims more than there is.
    const unsigned char huge[] = {0x30, 0x84, 0x7F, 0xFF, 0xFF, 0xFF, 0x31, 0x00};
    BufferPtr h(BUFFER_fill(huge, sizeof huge));
    EXPECT_FALSE(decode(h.get(), FORM_ANY));
    // Base64 noise, a lone header and a very long line.
    for (std::string junk : {std::string("!!!!****"), std::string("-----BEGIN X509 NAME-----\n"),
                             std::string(100000, 'A'), std::string("MA==")}) {
        BufferPtr j(BUFFER_fill(junk.data(), static_cast<int>(junk.size())));
        EXPECT_FALSE(decode(j.get(), FORM_ANY)) << junk.substr(0, 20);
    }
    EXPECT_EQ(form2x(nullptr, 4, FORM_ANY, kD2i, kLabel), nullptr);
    EXPECT_EQ(form2x(der->data, 0, FORM_ANY, kD2i, kLabel), nullptr);
    EXPECT_EQ(ERR_code_lib(ERR_peek_error()), ERR_LIB_CADB);
    EXPECT_EQ(x2der(nullptr, kI2d), nullptr);
    EXPECT_EQ(x2form(name.get(), kI2d, kLabel, 7), nullptr);
    ERR_clear_error();
}

// Whatever follows a whole object, inside one PEM block or one base64 text
// as after a DER file, and after a BER object of indefinite length, is
// refused with the reason a DER file with junk gets.
TEST(Encode, NothingMayFollowAWholeObjectInAnyForm) {
    NamePtr name = sample_name();
    BufferPtr der(x2der(name.get(), kI2d));
    ASSERT_TRUE(der);
    ASSERT_LT(der->length, 128);  // a one-byte length, rewritten below
    const std::string one(reinterpret_cast<char*>(der->data), der->length);
    std::string ber = "\x30\x80" + one.substr(2) + std::string("\0\0", 2);

    auto base64 = [](const std::string& bytes) {
        std::string out(4 * ((bytes.size() + 2) / 3) + 1, '\0');
        const int n = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(out.data()),
                                      reinterpret_cast<const unsigned char*>(bytes.data()),
                                      static_cast<int>(bytes.size()));
        out.resize(static_cast<std::size_t>(n));
        return out;
    };
    auto pem = [&](const std::string& bytes) {
        return "-----BEGIN X509 NAME-----\n" + base64(bytes) + "\n-----END X509 NAME-----\n";
    };
    auto read = [](const std::string& text, int form) {
        ERR_clear_error();
        NamePtr n(
            static_cast<X509_NAME*>(form2x(reinterpret_cast<const unsigned char*>(text.data()),
                                           static_cast<long>(text.size()), form, kD2i, kLabel)),
            X509_NAME_free);
        return n;
    };

    ASSERT_TRUE(read(ber, FORM_DER));
    ASSERT_TRUE(read(pem(ber), FORM_PEM));
    ASSERT_FALSE(read(one + "\x05\x00", FORM_DER));
    const unsigned long refused = ERR_peek_error();
    for (const std::string& extra : {std::string("\x05\x00", 2), one}) {
        for (const std::string& body : {one, ber}) {
            const std::string bytes = body + extra;
            for (auto [text, form] :
                 {std::pair{bytes, FORM_DER}, std::pair{bytes, FORM_ANY},
                  std::pair{pem(bytes), FORM_PEM}, std::pair{pem(bytes), FORM_ANY},
                  std::pair{base64(bytes), FORM_BASE64}, std::pair{base64(bytes), FORM_ANY}}) {
                EXPECT_FALSE(read(text, form)) << form << " " << bytes.size();
                EXPECT_EQ(ERR_peek_error(), refused) << form << " " << bytes.size();
            }
        }
    }
    ERR_clear_error();
}

}  // namespace
}  // namespace cadb
