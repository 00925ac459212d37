// Inner contents that are structures rather than octets (compressed data
// inside signed or digested data), and compressed data over the caller's
// own streams.
#include <gtest/gtest.h>

#include <algorithm>

#include "crypto/cadb/buffer_zlib.h"
#include "tests/pkcs7/p7_util.h"

namespace cadb {
namespace {

using test::Bytes;
using test::Party;

// The inner content of signed or digested data.
const PKCS7* inner_of(const PKCS7* p7) {
    return PKCS7_type_nid(p7) == NID_pkcs7_signed ? p7->d.sign->contents : p7->d.digest->contents;
}

class Structured : public test::PartyTest {
  protected:
    // Compressed data over the content, finished through the engine.
    static test::P7Ptr compressed(const Bytes& content) {
        test::P7Ptr p7(PKCS7_new());
        if (!PKCS7_set_type(p7.get(), NID_COMPRESSED_DATA) || !test::finish(p7.get(), content))
            return nullptr;
        return p7;
    }

    // Signed (or digested) data whose inner content is compressed data of
    // the content; written is fed through the chain besides.
    static test::P7Ptr around_compressed(int outer, const Bytes& content, const Bytes& written) {
        test::P7Ptr p7(PKCS7_new());
        test::P7Ptr inner = compressed(content);
        if (!inner || !PKCS7_set_type(p7.get(), outer) ||
            !PKCS7_set_content(p7.get(), inner.release()))
            return nullptr;
        if (outer == NID_pkcs7_signed) {
            Party& s = party(NID_ECR3410_CP);
            if (PKCS7_add_signature(p7.get(), s.cert.get(), s.key.get(),
                                    EVP_r3411_with_ecr3410_cp()) == nullptr ||
                !PKCS7_add_certificate(p7.get(), s.cert.get()))
                return nullptr;
        } else if (!PKCS7_set_digest(p7.get(), EVP_rus_hash())) {
            return nullptr;
        }
        if (!test::finish(p7.get(), written)) return nullptr;
        return p7;
    }

    // The DER of the compressed-data record inside a message's [0].
    static Bytes structure_of(const Bytes& message) {
        test::P7Ptr p7 = test::decode(message);
        if (!p7) return {};
        const Bytes whole = test::encode(inner_of(p7.get()));
        // ContentInfo (indefinite): 30 80, the type's OID, A0 80, the
        // structure, then two end-of-contents pairs.
        const std::size_t oid_len = whole.size() > 3 ? whole[3] : 0;
        const std::size_t at = 2 + 2 + oid_len + 2;
        if (whole.size() < at + 4) return {};
        return Bytes(whole.begin() + static_cast<long>(at), whole.end() - 4);
    }

    // Whether the digested message's digest matches its content.
    static bool digest_checks(PKCS7* p7, Bytes& content) {
        BIO* b = PKCS7_dataDecode(p7, nullptr, nullptr, nullptr, nullptr, nullptr);
        if (b == nullptr) return false;
        content = test::read_all(b);
        EVP_MD_CTX* ctx = nullptr;
        BIO_get_md_ctx(b, &ctx);
        unsigned char md[EVP_MAX_MD_SIZE];
        unsigned int len = 0;
        const bool ok = ctx != nullptr && EVP_DigestFinal_ex(ctx, md, &len) == 1 &&
                        Bytes(md, md + len) == Bytes(ASN1_STRING_get0_data(p7->d.digest->digest),
                                                     ASN1_STRING_get0_data(p7->d.digest->digest) +
                                                         ASN1_STRING_length(p7->d.digest->digest));
        BIO_free_all(b);
        return ok;
    }
};

// Flips the last byte of the compressed stream inside an encoded message.
void damage_compressed(Bytes& der, const Bytes& zlib) {
    auto at = std::search(der.begin(), der.end(), zlib.begin(), zlib.end());
    ASSERT_NE(at, der.end());
    at[static_cast<long>(zlib.size()) - 1] ^= 0x01;
}

Bytes zlib_of(const test::P7Ptr& p7) {
    const ASN1_OCTET_STRING* z = inner_of(p7.get())->d.compressed->content->content;
    return Bytes(ASN1_STRING_get0_data(z), ASN1_STRING_get0_data(z) + ASN1_STRING_length(z));
}

TEST_F(Structured, SignatureCoversTheStructureTheMessageCarries) {
    const Bytes content = test::text("compressed, then signed");
    test::P7Ptr p7 = around_compressed(NID_pkcs7_signed, content, {});
    ASSERT_TRUE(p7);
    Bytes der = test::encode(p7.get());
    test::P7Ptr back = test::decode(der);
    ASSERT_TRUE(back);
    EXPECT_EQ(back->detached, 0);
    const test::Verified v = test::verify_message(back.get(), nullptr);
    EXPECT_EQ(v.results, std::vector<int>{1});
    // The content read is the structure itself, as carried.
    EXPECT_EQ(v.content, structure_of(der));

    // The compressed content cannot be changed under the signature.
    damage_compressed(der, zlib_of(p7));
    back = test::decode(der);
    ASSERT_TRUE(back);
    EXPECT_EQ(test::verify_message(back.get(), nullptr).results,
              std::vector<int>{P7_R_DIGEST_FAILURE});
}

TEST_F(Structured, ContentWrittenBesidesTheStructureIsRefused) {
    // Bytes fed after the structure would be signed but not carried.
    ERR_clear_error();
    EXPECT_FALSE(around_compressed(NID_pkcs7_signed, test::text("inner"), test::text("more")));
    EXPECT_TRUE(test::has_error(ERR_LIB_PKCS7_, P7_R_UNSUPPORTED_CONTENT_TYPE));
    ERR_clear_error();
    EXPECT_FALSE(around_compressed(NID_pkcs7_digest, test::text("inner"), test::text("more")));
    EXPECT_TRUE(test::has_error(ERR_LIB_PKCS7_, P7_R_UNSUPPORTED_CONTENT_TYPE));
}

TEST_F(Structured, DigestCoversTheStructureTheMessageCarries) {
    test::P7Ptr p7 = around_compressed(NID_pkcs7_digest, test::text("digested"), {});
    ASSERT_TRUE(p7);
    Bytes der = test::encode(p7.get());
    test::P7Ptr back = test::decode(der);
    ASSERT_TRUE(back);
    Bytes content;
    EXPECT_TRUE(digest_checks(back.get(), content));
    EXPECT_EQ(content, structure_of(der));

    damage_compressed(der, zlib_of(p7));
    back = test::decode(der);
    ASSERT_TRUE(back);
    EXPECT_FALSE(digest_checks(back.get(), content));
}

TEST_F(Structured, StructureCarriedAsOctetsGivesUpItsRecord) {
    // With the octets flag the bytes written become the content and the
    // type moves to the second slot.
    Party& s = party(NID_ECR3410_CP);
    test::P7Ptr p7(PKCS7_new());
    ASSERT_EQ(PKCS7_set_type(p7.get(), NID_pkcs7_signed), 1);
    ASSERT_EQ(PKCS7_content_new(p7.get(), NID_COMPRESSED_DATA), 1);
    p7->d.sign->contents->flags |= PKCS7_FLAG_OCTETS;
    ASSERT_NE(PKCS7_add_signature(p7.get(), s.cert.get(), s.key.get(), EVP_r3411_with_ecr3410_cp()),
              nullptr);
    ASSERT_EQ(PKCS7_add_certificate(p7.get(), s.cert.get()), 1);
    const Bytes written = test::text("octets under a structured type");
    ASSERT_TRUE(test::finish(p7.get(), written));
    const PKCS7* inner = p7->d.sign->contents;
    EXPECT_EQ(inner->type, nullptr);
    ASSERT_NE(PKCS7_get_octets(inner), nullptr);
    // Written as an OCTET STRING under the type, and signed over exactly
    // those octets.
    const Bytes der = test::encode(p7.get());
    Bytes octets{0x04, static_cast<unsigned char>(written.size())};
    octets.insert(octets.end(), written.begin(), written.end());
    EXPECT_NE(std::search(der.begin(), der.end(), octets.begin(), octets.end()), der.end());
    const test::Verified v = test::verify_message(p7.get(), nullptr);
    EXPECT_EQ(v.results, std::vector<int>{1});
    EXPECT_EQ(v.content, written);
}

TEST_F(Structured, CompressedDataWritesThroughTheCallersStream) {
    const Bytes content(5000, 0x33);
    test::P7Ptr p7(PKCS7_new());
    ASSERT_EQ(PKCS7_set_type(p7.get(), NID_COMPRESSED_DATA), 1);
    BIO* mine = BIO_new(BIO_s_mem());
    BIO* chain = PKCS7_dataInit(p7.get(), mine);
    ASSERT_NE(chain, nullptr);
    ASSERT_EQ(BIO_write(chain, content.data(), static_cast<int>(content.size())),
              static_cast<int>(content.size()));
    EXPECT_EQ(PKCS7_DATASIGN(p7.get(), chain), 1);
    // The caller's stream got the plain content too.
    char* seen = nullptr;
    const long n = BIO_get_mem_data(mine, &seen);
    EXPECT_EQ(Bytes(seen, seen + n), content);
    BIO_free_all(chain);

    test::P7Ptr back = test::decode(test::encode(p7.get()));
    ASSERT_TRUE(back);
    BIO* b = PKCS7_dataDecode(back.get(), nullptr, nullptr, nullptr, nullptr, nullptr);
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(test::read_all(b), content);
    BIO_free_all(b);
}

TEST_F(Structured, CompressedDataReadsTheCallersStream) {
    test::P7Ptr p7 = compressed(test::text("the message's own content"));
    ASSERT_TRUE(p7);
    const Bytes other = test::text("content given beside the message");
    BufferPtr z(BUFFER_compress(other.data(), static_cast<int>(other.size()), -1));
    ASSERT_TRUE(z);
    // The chain takes the stream over (a leak shows under the sanitizers).
    BIO* in = BIO_new_mem_buf(z->data, z->length);
    BIO* b = PKCS7_dataDecode(p7.get(), nullptr, nullptr, nullptr, nullptr, in);
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(test::read_all(b), other);
    BIO_free_all(b);

    // A stream that does not inflate fails, and stays the caller's.
    const Bytes junk = test::text("not zlib");
    in = BIO_new_mem_buf(junk.data(), static_cast<int>(junk.size()));
    EXPECT_EQ(PKCS7_dataDecode(p7.get(), nullptr, nullptr, nullptr, nullptr, in), nullptr);
    BIO_free(in);
}

}  // namespace
}  // namespace cadb
