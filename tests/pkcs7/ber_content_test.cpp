// Large contents in BER pieces: the reader sizes a string from its pieces
// and writes them straight into place, and a message and its nested
// ContentInfo keep ranges of one copy of the bytes they were read from.
#include <gtest/gtest.h>

#include <algorithm>

#include "crypto/pkcs7/p7_ber.h"
#include "tests/pkcs7/p7_util.h"

namespace cadb {
namespace {

using test::Bytes;
using test::Party;

constexpr unsigned char kOctets = 0x04, kOctetsConstructed = 0x24;

Bytes pattern(std::size_t n) {
    Bytes b(n);
    for (std::size_t i = 0; i < n; ++i) b[i] = static_cast<unsigned char>(i * 131 + (i >> 9));
    return b;
}

// The elements inside a constructed element.
std::vector<Bytes> children(ByteSpan whole) {
    BerElem e;
    EXPECT_TRUE(ber_read(whole, e));
    std::vector<Bytes> out;
    ByteSpan in = e.content;
    while (!in.empty()) {
        BerElem c;
        if (!ber_read(in, c)) {
            ADD_FAILURE() << "unreadable child";
            break;
        }
        out.emplace_back(c.whole.begin(), c.whole.end());
    }
    return out;
}

// tag 80 parts... 00 00
Bytes indefinite(unsigned char tag, const std::vector<Bytes>& parts) {
    Bytes out{tag, 0x80};
    for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
    out.insert(out.end(), {0x00, 0x00});
    return out;
}

// The octets as a constructed string under tag: pieces of sizes from one
// byte to past 64 KiB (short and long length forms, an empty piece), every
// fifth of them itself constructed of two pieces.
Bytes in_pieces(unsigned char tag, const Bytes& octets) {
    static const std::size_t kSizes[] = {0, 1, 127, 128, 255, 256, 1000, 4093, 65536, 70001};
    std::vector<Bytes> parts;
    std::size_t at = 0;
    for (std::size_t n = 0; at < octets.size(); ++n) {
        const std::size_t size = std::min(kSizes[n % std::size(kSizes)], octets.size() - at);
        const ByteSpan piece(octets.data() + at, size);
        Bytes part;
        if (n % 5 == 4) {
            Bytes first, second;
            der_write(first, kOctets, piece.first(size / 2));
            der_write(second, kOctets, piece.subspan(size / 2));
            part = indefinite(kOctetsConstructed, {first, second});
        } else {
            der_write(part, kOctets, piece);
        }
        parts.push_back(std::move(part));
        at += size;
    }
    return indefinite(tag, parts);
}

Bytes octets(const ASN1_OCTET_STRING* s) {
    if (s == nullptr) return {};
    const unsigned char* d = ASN1_STRING_get0_data(s);
    return Bytes(d, d + ASN1_STRING_length(s));
}

bool refused(const Bytes& bytes) {
    const unsigned char* p = bytes.data();
    PKCS7* p7 = d2i_PKCS7(nullptr, &p, static_cast<long>(bytes.size()));
    PKCS7_free(p7);
    return p7 == nullptr && p == bytes.data();
}

class BerContent : public test::PartyTest {
  protected:
    // A signed message over a 1 MiB content, as written (inner content in
    // definite length) and with its SignedData and inner ContentInfo
    // rewritten in indefinite lengths, the content in pieces.
    struct SignedForms {
        Bytes content, der, ber, ber_inner;
    };

    static SignedForms signed_forms() {
        SignedForms f;
        f.content = pattern(1 << 20);
        test::P7Ptr p7 = test::signed_message({&party(NID_ECR3410_CP)}, f.content, false);
        if (!p7) return f;
        f.der = test::encode(p7.get());
        const std::vector<Bytes> ci = children(f.der);               // type, [0]
        const std::vector<Bytes> sd = children(children(ci[1])[0]);  // version ... signers
        const std::vector<Bytes> inner = children(sd[2]);            // type, [0]
        const Bytes content_octets = children(inner[1])[0];
        EXPECT_EQ(content_octets.size(), f.content.size() + 5);  // 04 83 10 00 00
        f.ber_inner = indefinite(
            0x30, {inner[0], indefinite(0xA0, {in_pieces(kOctetsConstructed, f.content)})});
        std::vector<Bytes> sd_ber = sd;
        sd_ber[2] = f.ber_inner;
        f.ber = indefinite(0x30, {ci[0], indefinite(0xA0, {indefinite(0x30, sd_ber)})});
        return f;
    }
};

TEST_F(BerContent, SignedContentInPiecesReadsAsItsDefiniteForm) {
    const SignedForms f = signed_forms();
    ASSERT_FALSE(f.der.empty());
    test::P7Ptr from_der = test::decode(f.der);
    test::P7Ptr from_ber = test::decode(f.ber);
    ASSERT_TRUE(from_der);
    ASSERT_TRUE(from_ber);
    EXPECT_EQ(octets(PKCS7_get_octets(from_ber->d.sign->contents)), f.content);
    EXPECT_EQ(octets(PKCS7_get_octets(from_der->d.sign->contents)), f.content);
    // Each level writes back the bytes it was read from.
    EXPECT_EQ(test::encode(from_ber.get()), f.ber);
    EXPECT_EQ(test::encode(from_ber->d.sign->contents), f.ber_inner);
    EXPECT_EQ(test::encode(from_der.get()), f.der);
    for (PKCS7* m : {from_der.get(), from_ber.get()}) {
        const test::Verified v = test::verify_message(m, nullptr);
        EXPECT_EQ(v.content, f.content);
        EXPECT_EQ(v.results, std::vector<int>{1});
    }
}

TEST_F(BerContent, NestedContentKeepsItsEncodingAfterItsMessageIsFreed) {
    const SignedForms f = signed_forms();
    ASSERT_FALSE(f.ber.empty());
    test::P7Ptr outer = test::decode(f.ber);
    ASSERT_TRUE(outer);
    test::P7Ptr inner(outer->d.sign->contents);
    outer->d.sign->contents = nullptr;
    outer.reset();
    EXPECT_EQ(test::encode(inner.get()), f.ber_inner);
    EXPECT_EQ(octets(PKCS7_get_octets(inner.get())), f.content);
    // Dropped when modified; the message then writes itself afresh.
    PKCS7_modified(inner.get());
    test::P7Ptr again = test::decode(test::encode(inner.get()));
    ASSERT_TRUE(again);
    EXPECT_EQ(octets(PKCS7_get_octets(again.get())), f.content);
}

TEST_F(BerContent, ReaderTakesOneMessageAndLeavesWhatFollows) {
    const SignedForms f = signed_forms();
    ASSERT_FALSE(f.ber.empty());
    Bytes two = f.ber;
    two.insert(two.end(), {0x05, 0x00});
    const unsigned char* p = two.data();
    test::P7Ptr m(d2i_PKCS7(nullptr, &p, static_cast<long>(two.size())));
    ASSERT_TRUE(m);
    EXPECT_EQ(p, two.data() + f.ber.size());
    EXPECT_EQ(test::encode(m.get()), f.ber);
}

TEST_F(BerContent, TruncatedOrMalformedPiecesAreRefused) {
    const SignedForms f = signed_forms();
    ASSERT_FALSE(f.ber.empty());
    // Cut anywhere: inside the closing end-of-contents pairs, inside a
    // piece's header or octets, inside the signer records.
    for (std::size_t cut :
         {std::size_t{1}, std::size_t{2}, std::size_t{3}, std::size_t{7}, std::size_t{200},
          f.ber.size() / 3, f.ber.size() / 2, f.ber.size() - 20})
        EXPECT_TRUE(refused(Bytes(f.ber.begin(), f.ber.end() - static_cast<long>(cut)))) << cut;
    for (std::size_t keep = 0; keep < 64; ++keep)
        EXPECT_TRUE(refused(Bytes(f.ber.begin(), f.ber.begin() + static_cast<long>(keep))));

    // A piece of another type, a primitive piece of indefinite length, a
    // piece running past its parent.
    const Bytes content = pattern(5000);
    const auto message_with = [&](const Bytes& eContent) {
        const std::vector<Bytes> ci = children(f.ber);
        const std::vector<Bytes> sd = children(children(ci[1])[0]);
        std::vector<Bytes> sd_bad = sd;
        sd_bad[2] = indefinite(0x30, {children(sd[2])[0], indefinite(0xA0, {eContent})});
        return indefinite(0x30, {ci[0], indefinite(0xA0, {indefinite(0x30, sd_bad)})});
    };
    Bytes good = in_pieces(kOctetsConstructed, content);
    ASSERT_TRUE(test::decode(message_with(good)));
    Bytes other_type = good;
    ASSERT_EQ(other_type[2], kOctets);
    other_type[2] = 0x02;
    EXPECT_TRUE(refused(message_with(other_type)));
    const Bytes primitive_indefinite{
        kOctetsConstructed, 0x80, kOctets, 0x80, 0x41, 0x00, 0x00, 0x00, 0x00};
    EXPECT_TRUE(refused(message_with(primitive_indefinite)));
    const Bytes overrun{kOctetsConstructed, 0x04, kOctets, 0x05, 0x41, 0x42};
    EXPECT_TRUE(refused(message_with(overrun)));
    ERR_clear_error();
}

TEST_F(BerContent, EnvelopedContentInPiecesDecrypts) {
    Party& r = party(NID_ECR3410_CP);
    ASSERT_TRUE(r.cert);
    const Bytes content = pattern(1 << 20);
    test::P7Ptr p7(PKCS7_new());
    ASSERT_EQ(PKCS7_set_type(p7.get(), NID_pkcs7_enveloped), 1);
    ASSERT_NE(PKCS7_add_recipient(p7.get(), r.cert.get()), nullptr);
    ASSERT_EQ(PKCS7_set_cipher(p7.get(), EVP_rus_gammar_cp()), 1);
    ASSERT_TRUE(test::finish(p7.get(), content));
    const Bytes der = test::encode(p7.get());

    const std::vector<Bytes> ci = children(der);
    std::vector<Bytes> env = children(children(ci[1])[0]);  // version, recipients, content
    std::vector<Bytes> eci = children(env[2]);              // type, algorithm, [0] octets
    BerElem encrypted;
    ByteSpan at = eci[2];
    ASSERT_TRUE(ber_read(at, encrypted));
    ASSERT_EQ(encrypted.tag, 0x80);
    const Bytes ciphertext(encrypted.content.begin(), encrypted.content.end());
    eci[2] = in_pieces(0xA0, ciphertext);
    env[2] = indefinite(0x30, eci);
    const Bytes ber = indefinite(0x30, {ci[0], indefinite(0xA0, {indefinite(0x30, env)})});

    test::P7Ptr back = test::decode(ber);
    ASSERT_TRUE(back);
    EXPECT_EQ(octets(back->d.enveloped->enc_data->enc_data), ciphertext);
    EXPECT_EQ(test::encode(back.get()), ber);
    BIO* b = PKCS7_dataDecode(back.get(), r.key.get(), r.cert.get(), nullptr, nullptr, nullptr);
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(test::read_all(b), content);
    BIO_free_all(b);
}

}  // namespace
}  // namespace cadb
