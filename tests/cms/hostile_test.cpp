// Hostile input to the reading context: truncated messages at every length,
// bytes after the message, damaged bytes everywhere, and inputs that are no
// message at all. Nothing may crash, and nothing damaged may read as sound.
#include <gtest/gtest.h>

#include "crypto/core/err.h"
#include "tests/cms/cms_util.h"

namespace cadb {
namespace {

using test::Bytes;

class Hostile : public test::CmsTest {
  protected:
    // Reads the bytes the whole way a caller would; 1 when a signed
    // message verified with every signer good.
    static int read_all_the_way(const Bytes& msg, X509_STORE* store) {
        CmsPtr c(CMS_new());
        if (!msg.empty()) CMS_update(c.get(), msg.data(), static_cast<int>(msg.size()), 0);
        const int type = CMS_get_type(c.get());
        int good = 0;
        if (type == 22 && CMS_verify(c.get(), store, nullptr, 0) == 1) {
            good = sk_CMS_SIGNATURE_num(c->signatures) > 0;
            for (const auto& [chain, sig] : test::results(c.get()))
                if (chain != 1 || sig != 1) good = 0;
        }
        if (type == 261) CMS_uncompress(c.get());
        if (type == 25) CMS_digested_verify(c.get());
        test::BufPtr content(CMS_get_content(c.get()));
        ERR_clear_error();
        return good;
    }
};

TEST_F(Hostile, TruncatedSignedMessagesNeverVerify) {
    test::StorePtr store = pki().chain.store();
    const Bytes msg = test::sign(pki(), {&pki().gost2001}, test::text("truncate me"));
    ASSERT_EQ(read_all_the_way(msg, store.get()), 1);
    for (std::size_t n = 0; n < msg.size(); n += (n < 64 ? 1 : 7)) {
        SCOPED_TRACE(n);
        EXPECT_EQ(read_all_the_way(Bytes(msg.begin(), msg.begin() + static_cast<long>(n)),
                                   store.get()),
                  0);
    }
}

TEST_F(Hostile, BytesAfterTheMessageAreRefused) {
    const Bytes msg = test::sign(pki(), {&pki().gost2001}, test::text("exact"));
    Bytes longer = msg;
    longer.push_back(0x00);
    CmsPtr c = test::reader(longer);
    EXPECT_EQ(CMS_get_type(c.get()), 0);
    Bytes twice = msg;
    twice.insert(twice.end(), msg.begin(), msg.end());
    c = test::reader(twice);
    EXPECT_EQ(CMS_get_type(c.get()), 0);
    ERR_clear_error();
}

TEST_F(Hostile, DamagedBytesEverywhereAreSurvived) {
    test::StorePtr store = pki().chain.store();
    const Bytes msg = test::sign(pki(), {&pki().gost2001}, test::text("flip me"));
    for (std::size_t i = 0; i < msg.size(); i += 3) {
        Bytes bad = msg;
        bad[i] ^= static_cast<unsigned char>(1u << (i % 8));
        SCOPED_TRACE(i);
        // Some fields are outside every signature (the signer's version and
        // signature algorithm, say), so a flip there may still verify; a
        // flip in signed bytes fails (the signed tests show which), and no
        // flip may crash or read out of bounds.
        read_all_the_way(bad, store.get());
    }
    // Every other message type, damaged at every byte.
    CmsPtr w(CMS_new());
    ASSERT_EQ(CMS_set_type(w.get(), 261, 0), 1);
    ASSERT_EQ(CMS_update_data(w.get(), "compressed hostile content", -1), 1);
    ASSERT_EQ(CMS_final(w.get()), 1);
    const Bytes z = test::take(CMS_get(w.get(), 1));
    for (std::size_t i = 0; i < z.size(); ++i) {
        Bytes bad = z;
        bad[i] ^= 0x5A;
        read_all_the_way(bad, store.get());
    }
}

TEST_F(Hostile, NoMessageAtAll) {
    test::StorePtr store = pki().chain.store();
    const std::vector<Bytes> inputs = {
        {},
        {0x30},
        {0x30, 0x80},
        {0x30, 0x84, 0xFF, 0xFF, 0xFF, 0xFF},
        {0x30, 0x03, 0x06, 0x01, 0x00},
        test::text("-----BEGIN PKCS7-----\nAAAA\n-----END PKCS7-----\n"),
        test::text("-----BEGIN PKCS7-----\n"),
        Bytes(1000, 0x30),
        Bytes(1000, 0xA0),
    };
    for (const Bytes& in : inputs) EXPECT_EQ(read_all_the_way(in, store.get()), 0);
    // Deeply nested indefinite lengths.
    Bytes deep;
    for (int i = 0; i < 5000; ++i) {
        deep.push_back(0x30);
        deep.push_back(0x80);
    }
    EXPECT_EQ(read_all_the_way(deep, store.get()), 0);
}

}  // namespace
}  // namespace cadb
