// The password-encrypted buffer read from messages the library's own
// message context wrote (indefinite lengths at every level), and the bound
// on what its compressed layer may inflate to.
#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <string>
#include <vector>

#include "crypto/cms/cms.h"
#include "crypto/core/err.h"
#include "crypto/core/objects.h"
#include "crypto/pkcs7/p7_ber.h"
#include "crypto/store/buffer_crypt.h"
#include "tests/support/kernel_random.h"

namespace cadb {
namespace {

using Bytes = std::vector<unsigned char>;

constexpr int NID_DIGESTED = 25;
constexpr int NID_ENCRYPTED = 26;
constexpr int NID_COMPRESSED = 261;
constexpr const char* kPassword = "message password";

class CryptBer : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_EQ(OBJ_init(), 1);
        ERR_clear_error();
    }
    void TearDown() override { ERR_clear_error(); }
    testing::KernelRandom random_;
};

// A message of the type written by the message context over the content;
// encrypted data under the password's key.
Bytes message(int type, int inner_type, const Bytes& content) {
    CmsPtr c(CMS_new());
    EXPECT_EQ(CMS_set_type(c.get(), type, 0), 1);
    if (type == NID_ENCRYPTED) {
        unsigned char key[32];
        int key_len = 0;
        EXPECT_EQ(CMS_passwd2key(NID_RUS_GAMMAR, kPassword, -1, key, &key_len, -1), 1);
        EXPECT_EQ(CMS_encrypted_set_password(c.get(), key, key_len), 1);
    }
    if (inner_type != 0) {
        EXPECT_EQ(CMS_set_content_type(c.get(), inner_type), 1);
    }
    if (!content.empty()) {
        EXPECT_EQ(CMS_update_data(c.get(), content.data(), static_cast<int>(content.size())), 1);
    }
    EXPECT_EQ(CMS_final(c.get()), 1);
    BufferPtr out(CMS_get(c.get(), 1));
    if (!out) return {};
    return Bytes(out->data, out->data + out->length);
}

BufferPtr decrypt(const Bytes& msg) {
    return BufferPtr(
        BUFFER_decrypt(msg.data(), static_cast<int>(msg.size()), kPassword, -1, -1, 1));
}

TEST_F(CryptBer, ReadsTheMessageContextsIndefiniteLengths) {
    const std::string data = "masks kept by the message context";
    const Bytes digested = message(NID_DIGESTED, 0, Bytes(data.begin(), data.end()));
    ASSERT_GE(digested.size(), 2u);
    EXPECT_EQ(digested[1], 0x80);  // indefinite, as the context writes it

    // Digested data right under the encryption, and with a compressed layer
    // between them.
    const Bytes direct = message(NID_ENCRYPTED, NID_DIGESTED, digested);
    const Bytes packed =
        message(NID_ENCRYPTED, NID_COMPRESSED, message(NID_COMPRESSED, NID_DIGESTED, digested));
    for (const Bytes* msg : {&direct, &packed}) {
        ASSERT_GE(msg->size(), 2u);
        EXPECT_EQ((*msg)[1], 0x80);
        BufferPtr plain = decrypt(*msg);
        ASSERT_TRUE(plain) << ERR_code_reason(ERR_peek_last_error());
        EXPECT_EQ(std::string(reinterpret_cast<const char*>(plain->data),
                              static_cast<std::size_t>(plain->length)),
                  data);
    }
}

TEST_F(CryptBer, StringsInPiecesAreGathered) {
    // The key store's own DER, rewritten as other BER writers may send it:
    // indefinite lengths, and the ciphertext as a constructed [0] of two
    // OCTET STRING pieces.
    BufferPtr der(BUFFER_encrypt("in pieces", -1, NID_RUS_GAMMAR, kPassword, -1, -1, 0, 1, 1));
    ASSERT_TRUE(der);
    ByteSpan in(der->data, static_cast<std::size_t>(der->length));
    BerElem outer, type, wrapped, body, version, info, inner_type, alg, ct;
    ASSERT_TRUE(ber_expect(in, 0x30, outer));
    ByteSpan o = outer.content;
    ASSERT_TRUE(ber_expect(o, 0x06, type) && ber_expect(o, 0xA0, wrapped));
    ByteSpan w = wrapped.content;
    ASSERT_TRUE(ber_expect(w, 0x30, body));
    ByteSpan b = body.content;
    ASSERT_TRUE(ber_expect(b, 0x02, version) && ber_expect(b, 0x30, info));
    ByteSpan f = info.content;
    ASSERT_TRUE(ber_expect(f, 0x06, inner_type) && ber_expect(f, 0x30, alg) &&
                ber_expect(f, 0x80, ct));
    ASSERT_GT(ct.content.size(), 3u);

    Bytes ber;
    const auto put = [&ber](ByteSpan s) { ber.insert(ber.end(), s.begin(), s.end()); };
    const auto open = [&ber](unsigned char tag) { ber.insert(ber.end(), {tag, 0x80}); };
    open(0x30);
    put(type.whole);
    open(0xA0);
    open(0x30);
    put(version.whole);
    open(0x30);
    put(inner_type.whole);
    put(alg.whole);
    open(0xA0);
    der_write(ber, 0x04, ct.content.first(3));
    der_write(ber, 0x04, ct.content.subspan(3));
    for (int i = 0; i < 5; ++i) ber.insert(ber.end(), {0x00, 0x00});

    BufferPtr plain = decrypt(ber);
    ASSERT_TRUE(plain) << ERR_code_reason(ERR_peek_last_error());
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(plain->data),
                          static_cast<std::size_t>(plain->length)),
              "in pieces");
}

// A zlib stream of n zero bytes, made without holding them.
Bytes zeros_deflated(std::size_t n) {
    static const unsigned char chunk[1 << 16] = {};
    z_stream z{};
    Bytes out;
    if (deflateInit(&z, Z_DEFAULT_COMPRESSION) != Z_OK) return out;
    unsigned char room[1 << 16];
    int rc = Z_OK;
    while (rc != Z_STREAM_END) {
        if (z.avail_in == 0 && n > 0) {
            const std::size_t take = std::min(n, sizeof chunk);
            z.next_in = const_cast<unsigned char*>(chunk);
            z.avail_in = static_cast<uInt>(take);
            n -= take;
        }
        z.next_out = room;
        z.avail_out = sizeof room;
        rc = deflate(&z, n == 0 ? Z_FINISH : Z_NO_FLUSH);
        if (rc != Z_OK && rc != Z_STREAM_END && rc != Z_BUF_ERROR) break;
        out.insert(out.end(), room, room + (sizeof room - z.avail_out));
    }
    deflateEnd(&z);
    return out;
}

Bytes oid_der(int nid) {
    unsigned char* p = nullptr;
    const int n = i2d_ASN1_OBJECT(cadb::OBJ_nid2obj(nid), &p);
    Bytes out(p, p + (n > 0 ? n : 0));
    OPENSSL_free(p);
    return out;
}

TEST_F(CryptBer, InflatesNoFurtherThanTheMessageEngine) {
    // A compressed layer over 64 MiB and one byte of zeros: a few kilobytes
    // that must not be inflated.
    const Bytes zlib = zeros_deflated((std::size_t{64} << 20) + 1);
    ASSERT_FALSE(zlib.empty());
    Bytes alg;
    der_write(alg, 0x30, oid_der(NID_ZLIB_COMPRESS));
    Bytes encap = oid_der(NID_DIGESTED);
    der_write(encap, 0x80, zlib);
    // version 0, the algorithm, the encapsulated content
    Bytes body = alg;
    body.insert(body.begin(), {0x02, 0x01, 0x00});
    der_write(body, 0x30, encap);
    Bytes seq;
    der_write(seq, 0x30, body);
    Bytes info = oid_der(NID_COMPRESSED);
    der_write(info, 0xA0, seq);
    Bytes compressed;
    der_write(compressed, 0x30, info);

    const Bytes msg = message(NID_ENCRYPTED, NID_COMPRESSED, compressed);
    ASSERT_FALSE(msg.empty());
    ERR_clear_error();
    EXPECT_FALSE(decrypt(msg));
    bool integrity = false;
    bool digested = false;
    while (unsigned long e = ERR_get_error()) {
        integrity |= ERR_code_reason(e) == CADB_R_INTEGRITY_CHECK_FAILURE;
        digested |= ERR_code_reason(e) == CADB_R_DIGESTED_DATA_EXPECTED;
    }
    EXPECT_TRUE(integrity);
    EXPECT_FALSE(digested);
}

}  // namespace
}  // namespace cadb
