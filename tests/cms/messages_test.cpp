// Enveloped, digested, password-encrypted and compressed messages through
// the context, written and read back; the password key and the content's
// chunked reading.
#include <gtest/gtest.h>

#include "crypto/cms/cms_local.h"
#include "crypto/core/err.h"
#include "tests/cms/cms_util.h"

namespace cadb {
namespace {

using test::Bytes;

class Messages : public test::CmsTest {};

// Writes a message of the type through a context prepared by setup.
template <typename Setup>
Bytes write_message(int type, const Bytes& content, Setup setup, int flags = 0) {
    CmsPtr w(CMS_new());
    EXPECT_EQ(CMS_set_type(w.get(), type, flags), 1);
    setup(w.get());
    EXPECT_EQ(CMS_update_data(w.get(), content.data(), static_cast<int>(content.size())), 1);
    EXPECT_EQ(CMS_final(w.get()), 1);
    return test::take(CMS_get(w.get(), 1));
}

TEST_F(Messages, EnvelopedOpensForEveryRecipientType) {
    const Bytes content(4000, 0x3C);
    struct Case {
        const test::Party* party;
        int cipher;
        int kind;
    };
    const Case cases[] = {{&pki().gost2001, 174, 0},
                          {&pki().gost2001, 289, 0},
                          {&pki().gost94, 174, 0},
                          {&pki().rsa, 44, 0},
                          {&pki().rsa, 174, 0}};
    for (const Case& c : cases) {
        SCOPED_TRACE(test::text_of(c.party->cert->subject_text) + " " + std::to_string(c.cipher));
        const Bytes msg = write_message(23, content, [&](CMS* w) {
            EXPECT_EQ(CMS_set_cipher(w, c.cipher), 1);
            EXPECT_EQ(CMS_add_recipient(w, c.party->cert.get(), -1), 1);
        });
        CmsPtr r = test::reader(msg);
        ASSERT_EQ(CMS_get_type(r.get()), 23);
        EXPECT_EQ(r->cipher, c.cipher);
        EXPECT_EQ(r->inner_type, 21);
        ASSERT_EQ(sk_CMS_RECIPIENT_num(r->recipients), 1);
        const CMS_RECIPIENT* rec = sk_CMS_RECIPIENT_value(r->recipients, 0);
        EXPECT_EQ(rec->kind, c.kind);
        EXPECT_EQ(test::bytes_of(rec->serial_bytes), test::bytes_of(c.party->cert->serial));
        // Without a key: nothing opens.
        EXPECT_EQ(CMS_decrypt(r.get()), 0);
        ERR_clear_error();
        ASSERT_EQ(CMS_set_recipient_key(r.get(), c.party->pkey.get(), c.party->cert.get()), 1);
        ASSERT_EQ(CMS_decrypt(r.get()), 1);
        EXPECT_EQ(test::take(CMS_get_content(r.get())), content);
        // Another party's key does not.
        CmsPtr other = test::reader(msg);
        ASSERT_EQ(CMS_get_type(other.get()), 23);
        ASSERT_EQ(CMS_set_recipient_key(other.get(), pki().second.pkey.get(),
                                        pki().second.cert.get()),
                  1);
        EXPECT_EQ(CMS_decrypt(other.get()), 0);
        ERR_clear_error();
    }
    // A signing key type cannot be a recipient of another form.
    CmsPtr w(CMS_new());
    ASSERT_EQ(CMS_set_type(w.get(), 23, 0), 1);
    EXPECT_EQ(CMS_add_recipient(w.get(), pki().rsa.cert.get(), 1), 0);
    EXPECT_EQ(CMS_set_cipher(w.get(), 12345), 0);
    ERR_clear_error();
}

TEST_F(Messages, DigestedChecksItsDigest) {
    const Bytes content = test::text("digested content");
    for (int md : {176, 64}) {
        SCOPED_TRACE(md);
        Bytes msg = write_message(25, content,
                                  [&](CMS* w) { EXPECT_EQ(CMS_digested_set_md(w, md), 1); });
        CmsPtr r = test::reader(msg);
        ASSERT_EQ(CMS_get_type(r.get()), 25);
        EXPECT_EQ(r->inner_type, 21);
        ASSERT_EQ(CMS_digested_verify(r.get()), 1);
        EXPECT_EQ(test::take(CMS_get_content(r.get())), content);

        auto at = std::search(msg.begin(), msg.end(), content.begin(), content.end());
        ASSERT_NE(at, msg.end());
        at[2] ^= 0x20;
        r = test::reader(msg);
        ASSERT_EQ(CMS_get_type(r.get()), 25);
        EXPECT_EQ(CMS_digested_verify(r.get()), 0);
        EXPECT_EQ(ERR_code_reason(ERR_peek_last_error()), P7_R_DIGEST_FAILURE);
        EXPECT_EQ(CMS_get_content(r.get()), nullptr);
        ERR_clear_error();
    }
}

TEST_F(Messages, PasswordKeysFollowTheStoredRule) {
    unsigned char a[32], b[32], c[32];
    int la = 0, lb = 0, lc = 0;
    ASSERT_EQ(CMS_passwd2key(174, "password", 8, a, &la, 0), 1);
    ASSERT_EQ(CMS_passwd2key(174, "password", -1, b, &lb, -1), 1);
    ASSERT_EQ(CMS_passwd2key(174, "password", 8, c, &lc, 2048), 1);
    EXPECT_EQ(la, 32);
    EXPECT_EQ(Bytes(a, a + la), Bytes(b, b + lb));
    EXPECT_EQ(Bytes(a, a + la), Bytes(c, c + lc));
    ASSERT_EQ(CMS_passwd2key(174, "password", 8, c, &lc, 2047), 1);
    EXPECT_NE(Bytes(a, a + la), Bytes(c, c + lc));
    ASSERT_EQ(CMS_passwd2key(44, "password", 8, a, &la, 0), 1);
    EXPECT_EQ(la, 24);
    EXPECT_EQ(CMS_passwd2key(289, "password", 8, a, &la, 0), 0);
    EXPECT_EQ(CMS_passwd2key(174, nullptr, 8, a, &la, 0), 0);
    ERR_clear_error();
}

TEST_F(Messages, PasswordEncryptedOpensWithTheRightPasswordOnly) {
    const Bytes content(3000, 0x41);
    for (int cipher : {174, 44}) {
        SCOPED_TRACE(cipher);
        unsigned char key[32];
        int len = 0;
        ASSERT_EQ(CMS_passwd2key(cipher, "right", -1, key, &len, 0), 1);
        const Bytes msg = write_message(26, content, [&](CMS* w) {
            EXPECT_EQ(CMS_set_cipher(w, cipher), 1);
            EXPECT_EQ(CMS_encrypted_set_password(w, key, len), 1);
        });
        CmsPtr r = test::reader(msg);
        ASSERT_EQ(CMS_get_type(r.get()), 26);
        EXPECT_EQ(r->cipher, cipher);
        EXPECT_EQ(CMS_decrypt(r.get()), 0);  // no key yet
        ERR_clear_error();
        ASSERT_EQ(CMS_encrypted_set_password(r.get(), key, len), 1);
        ASSERT_EQ(CMS_decrypt(r.get()), 1);
        EXPECT_EQ(test::take(CMS_get_content(r.get())), content);

        unsigned char wrong[32];
        ASSERT_EQ(CMS_passwd2key(cipher, "wrong", -1, wrong, &len, 0), 1);
        r = test::reader(msg);
        ASSERT_EQ(CMS_get_type(r.get()), 26);
        ASSERT_EQ(CMS_encrypted_set_password(r.get(), wrong, len), 1);
        // A block cipher tells by its padding; a gamma gives other bytes.
        if (CMS_decrypt(r.get()) == 1) {
            EXPECT_NE(test::take(CMS_get_content(r.get())), content);
        } else {
            EXPECT_EQ(CMS_get_content(r.get()), nullptr);
        }
        ERR_clear_error();
    }
    // Only an encrypted-data context takes a password key.
    CmsPtr w(CMS_new());
    ASSERT_EQ(CMS_set_type(w.get(), 23, 0), 1);
    unsigned char k[32] = {};
    EXPECT_EQ(CMS_encrypted_set_password(w.get(), k, 32), 0);
    ERR_clear_error();
}

TEST_F(Messages, CompressedRoundTripsLargeContent) {
    Bytes content(3 * 1024 * 1024 + 17);
    for (std::size_t i = 0; i < content.size(); ++i)
        content[i] = static_cast<unsigned char>((i * 7) ^ (i >> 9));
    const Bytes msg = write_message(261, content, [](CMS*) {});
    EXPECT_LT(msg.size(), content.size());
    CmsPtr r = test::reader(msg);
    ASSERT_EQ(CMS_get_type(r.get()), 261);
    EXPECT_EQ(r->inner_type, 21);
    ASSERT_EQ(CMS_uncompress(r.get()), 1);
    EXPECT_EQ(test::take(CMS_get_content(r.get())), content);
    // The wrong opening for the type is refused.
    EXPECT_EQ(CMS_decrypt(r.get()), 0);
    EXPECT_EQ(CMS_digested_verify(r.get()), 0);
    ERR_clear_error();
}

TEST_F(Messages, ContentIsReadInDoublingChunks) {
    std::vector<int> sizes;
    for (int s = CMS_CHUNK_FIRST; sizes.size() < 14; s = cms_next_chunk(s)) sizes.push_back(s);
    EXPECT_EQ(sizes, (std::vector<int>{1024, 2048, 4096, 8192, 16384, 32768, 65536, 131072, 262144,
                                       524288, 1048576, 1048576, 1048576, 1048576}));
    EXPECT_EQ(cms_next_chunk(1048574), 1048576);
    EXPECT_EQ(cms_next_chunk(524289), 1048576);
}

TEST_F(Messages, ContextRulesOfWritingAndReading) {
    CmsPtr c(CMS_new());
    EXPECT_EQ(CMS_set_type(c.get(), 24, 0), 0);
    EXPECT_EQ(CMS_set_type(c.get(), 21, 0), 0);
    EXPECT_EQ(ERR_code_reason(ERR_peek_last_error()), P7_R_UNSUPPORTED_CONTENT_TYPE);
    ERR_clear_error();
    // A reading context with nothing fed has no type.
    EXPECT_EQ(CMS_get_type(c.get()), 0);
    EXPECT_EQ(CMS_final(c.get()), 1);
    ERR_clear_error();

    // A signed message of CMC content: version 3 and the inner type kept.
    ASSERT_EQ(CMS_set_type(c.get(), 22, 0), 1);
    ASSERT_EQ(CMS_set_content_type(c.get(), 251), 1);
    ASSERT_EQ(CMS_add_signature(c.get(), pki().gost2001.cert.get(), pki().gost2001.pkey.get(), 64),
              1);
    // A key that is not the certificate's is refused.
    EXPECT_EQ(CMS_add_signature(c.get(), pki().gost2001.cert.get(), pki().second.pkey.get(), 64),
              0);
    ERR_clear_error();
    const Bytes body = {0x30, 0x03, 0x02, 0x01, 0x07};
    ASSERT_EQ(CMS_update_data(c.get(), body.data(), static_cast<int>(body.size())), 1);
    ASSERT_EQ(CMS_final(c.get()), 1);
    EXPECT_EQ(CMS_get_content(c.get()), nullptr);  // a writing context has none
    ERR_clear_error();
    CmsPtr r = test::reader(test::take(CMS_get(c.get(), 1)));
    ASSERT_EQ(CMS_get_type(r.get()), 22);
    EXPECT_EQ(r->inner_type, 251);
    EXPECT_EQ(ASN1_INTEGER_get(r->message->d.sign->version), 3);
    EXPECT_EQ(test::take(CMS_get_content(r.get())), body);
    EXPECT_EQ(CMS_get_flags(r.get()), 0);
}

}  // namespace
}  // namespace cadb
