#include <gtest/gtest.h>

#include <algorithm>

#include "crypto/pkcs7/p7_cek.h"
#include "crypto/pkcs7/p7_err.h"
#include "crypto/pkcs7/p7_recip.h"
#include "crypto/pkcs7/p7_wrap.h"
#include "tests/pkcs7/p7_fixture.h"
#include "tests/pkcs7/rfc4490.h"

namespace cadb {
namespace {

using test::Bytes;

class Wrap : public test::PartyTest {};

TEST_F(Wrap, TripleDesWrapIsFreshEachTimeAndUnwrapsWithParity) {
    const Bytes kek(24, 0x11);
    Bytes key(24);
    for (size_t i = 0; i < key.size(); ++i) key[i] = static_cast<unsigned char>(i * 7);
    Bytes a(40), b(40);
    int la = 40, lb = 40;
    ASSERT_EQ(CMS_3des_wrap(kek.data(), key.data(), 24, a.data(), &la), 1);
    ASSERT_EQ(CMS_3des_wrap(kek.data(), key.data(), 24, b.data(), &lb), 1);
    EXPECT_EQ(la, 40);
    EXPECT_NE(a, b);
    for (const Bytes& w : {a, b}) {
        Bytes out(24);
        int lo = 24;
        ASSERT_EQ(CMS_3des_unwrap(kek.data(), w.data(), 40, out.data(), &lo), 1);
        for (size_t i = 0; i < 24; ++i) EXPECT_EQ(out[i] & 0xFE, key[i] & 0xFE);
    }
}

TEST_F(Wrap, ChangedWrappedKeyFailsTheIcvAndWritesNothing) {
    const Bytes kek(24, 0x22);
    const Bytes key(24, 0x57);
    Bytes w(40);
    int lw = 40;
    ASSERT_EQ(CMS_3des_wrap(kek.data(), key.data(), 24, w.data(), &lw), 1);
    w[20] ^= 0x01;
    Bytes out(24, 0xEE);
    int lo = 24;
    ERR_clear_error();
    EXPECT_EQ(CMS_3des_unwrap(kek.data(), w.data(), 40, out.data(), &lo), 0);
    EXPECT_TRUE(test::has_error(ERR_LIB_PKCS7_, P7_R_INTEGRITY_CHECK_FAILURE));
    EXPECT_EQ(out, Bytes(24, 0xEE));
}

TEST_F(Wrap, GostWrapChecksLengthsAndRoundTripsOverBothCiphers) {
    const Bytes kek(32, 0x33);
    const Bytes key(32, 0x44);
    Bytes w(48);
    int lw = 48;
    ERR_clear_error();
    EXPECT_EQ(CMS_gost_wrap(kek.data(), key.data(), 24, w.data(), &lw, EVP_rus_gammar()), 0);
    EXPECT_TRUE(test::has_error(ERR_LIB_PKCS7_, P7_R_WRONG_KEY_LENGTH));
    lw = 40;
    EXPECT_EQ(CMS_gost_wrap(kek.data(), key.data(), 32, w.data(), &lw, EVP_rus_gammar()), 0);
    EXPECT_EQ(lw, 48);
    EXPECT_TRUE(test::has_error(ERR_LIB_PKCS7_, P7_R_OUTPUT_TOO_SMALL));
    for (const EVP_CIPHER* c : {EVP_rus_gammar(), EVP_rus_gammar_cp()}) {
        lw = 48;
        ASSERT_EQ(CMS_gost_wrap(kek.data(), key.data(), 32, w.data(), &lw, c), 1);
        Bytes out(32);
        int lo = 32;
        ASSERT_EQ(CMS_gost_unwrap(kek.data(), w.data(), 48, out.data(), &lo, c), 1);
        EXPECT_EQ(out, key);
        w[47] ^= 0x80;
        EXPECT_EQ(CMS_gost_unwrap(kek.data(), w.data(), 48, out.data(), &lo, c), 0);
    }
    ERR_clear_error();
}

TEST_F(Wrap, DummyWrapRoundsToBlocks) {
    const Bytes kek(24, 0x55);
    const Bytes key(20, 0x66);
    Bytes w(24);
    int lw = 16;
    EXPECT_EQ(CMS_dummy_wrap(kek.data(), key.data(), 20, w.data(), &lw, EVP_des_ede3_cbc()), 0);
    EXPECT_EQ(lw, 24);
    ASSERT_EQ(CMS_dummy_wrap(kek.data(), key.data(), 20, w.data(), &lw, EVP_des_ede3_cbc()), 1);
    Bytes out(24);
    int lo = 24;
    ASSERT_EQ(CMS_dummy_unwrap(kek.data(), w.data(), 24, out.data(), &lo, EVP_des_ede3_cbc()), 1);
    EXPECT_TRUE(std::equal(key.begin(), key.end(), out.begin()));
    ERR_clear_error();
}

// RFC 2631: SHA-1 with a 32-byte key takes two rounds, the second cut.
TEST_F(Wrap, X942KekRunsTwoRoundsForThirtyTwoBytes) {
    const Bytes z(128, 0x01);
    Bytes kek(32), longer(40);
    ASSERT_EQ(
        X942_KEK_GENERATE(EVP_sha1(), z.data(), 128, NID_GOST_WRAP, kek.data(), 32, nullptr, 0),
        32);
    ASSERT_EQ(
        X942_KEK_GENERATE(EVP_sha1(), z.data(), 128, NID_GOST_WRAP, longer.data(), 40, nullptr, 0),
        40);
    // The first 20 bytes do not depend on the key length... except through
    // suppPubInfo, which is part of every round.
    EXPECT_NE(Bytes(kek.begin(), kek.begin() + 20), Bytes(longer.begin(), longer.begin() + 20));
    Bytes with_ukm(32);
    const Bytes ukm(8, 0x77);
    ASSERT_EQ(X942_KEK_GENERATE(EVP_sha1(), z.data(), 128, NID_GOST_WRAP, with_ukm.data(), 32,
                                ukm.data(), 8),
              32);
    EXPECT_NE(kek, with_ukm);
    EXPECT_EQ(
        X942_KEK_GENERATE(EVP_sha1(), z.data(), 128, NID_GOST_WRAP, kek.data(), 0, nullptr, 0), 0);
}

// A known answer computed by hand from RFC 2631's construction.
TEST_F(Wrap, X942KekMatchesTheConstruction) {
    const Bytes z{1, 2, 3, 4};
    Bytes kek(16);
    ASSERT_EQ(
        X942_KEK_GENERATE(EVP_sha1(), z.data(), 4, NID_CMS3DES_WRAP, kek.data(), 16, nullptr, 0),
        16);
    // OtherInfo { { id-alg-CMS3DESwrap, 00000001 }, [2] { 00000080 } }
    const Bytes other{0x30, 0x1d, 0x30, 0x13, 0x06, 0x0b, 0x2a, 0x86, 0x48, 0x86, 0xf7,
                      0x0d, 0x01, 0x09, 0x10, 0x03, 0x06, 0x04, 0x04, 0x00, 0x00, 0x00,
                      0x01, 0xa2, 0x06, 0x04, 0x04, 0x00, 0x00, 0x00, 0x80};
    Bytes in = z;
    in.insert(in.end(), other.begin(), other.end());
    Bytes want(20);
    unsigned int n = 0;
    ASSERT_EQ(EVP_Digest(in.data(), in.size(), want.data(), &n, EVP_sha1(), nullptr), 1);
    EXPECT_EQ(kek, Bytes(want.begin(), want.begin() + 16));
}

class Recip : public test::PartyTest {};

Bytes encode(const PKCS7_RECIP_INFO* ri) {
    const int len = i2d_PKCS7_RECIP_INFO(ri, nullptr);
    Bytes out(static_cast<size_t>(len > 0 ? len : 0));
    unsigned char* p = out.data();
    EXPECT_EQ(i2d_PKCS7_RECIP_INFO(ri, &p), len);
    return out;
}

PKCS7_RECIP_INFO* agreement_recipient(int form) {
    PKCS7_RECIP_INFO* ri = PKCS7_RECIP_INFO_new();
    ASN1_INTEGER_set(ri->version, 3);
    ri->form = form;
    ri->originator = PKCS7_ORIGINATOR_KEY_new();
    X509_ALGOR_set0(ri->originator->algorithm, OBJ_dup(OBJ_nid2obj(NID_ECR3410)), V_ASN1_NULL,
                    nullptr);
    const unsigned char point[] = {0x04, 0x03, 0x01, 0x02, 0x03};
    ASN1_BIT_STRING_set(ri->originator->public_key, const_cast<unsigned char*>(point), 5);
    ri->ukm = ASN1_OCTET_STRING_new();
    ASN1_OCTET_STRING_set(ri->ukm, reinterpret_cast<const unsigned char*>("ukmukmuk"), 8);
    X509_ALGOR_set0(ri->key_enc_algor, OBJ_dup(OBJ_nid2obj(NID_ECDH_STD_R3411KDF)), V_ASN1_UNDEF,
                    nullptr);
    EXPECT_EQ(X509_ALGOR_set_nested(ri->key_enc_algor, NID_GOST_WRAP), 1);
    ri->rek = sk_ASN1_PAIR_new_null();
    ASN1_PAIR* pair = ASN1_PAIR_new();
    ASN1_OCTET_STRING_set(pair->key, reinterpret_cast<const unsigned char*>("wrapped"), 7);
    X509_NAME_add_entry_by_txt(pair->rid->issuer, "CN", MBSTRING_ASC,
                               reinterpret_cast<const unsigned char*>("ca"), -1, -1, 0);
    ASN1_INTEGER_set(pair->rid->serial, 9);
    sk_ASN1_PAIR_push(ri->rek, pair);
    return ri;
}

TEST_F(Recip, AgreementFormsDifferInTaggingAndBothReadBack) {
    for (int form : {RECIP_FORM_AGREE, RECIP_FORM_TRANSPORT}) {
        SCOPED_TRACE(form);
        PKCS7_RECIP_INFO* ri = agreement_recipient(form);
        const Bytes der = encode(ri);
        ASSERT_GT(der.size(), 4u);
        EXPECT_EQ(der[0], 0xA1);
        // Explicit [1] puts a SEQUENCE inside; implicit replaces its tag.
        const size_t inner = der[1] & 0x80 ? 2 + (der[1] & 0x7F) : 2;
        if (form == RECIP_FORM_AGREE) {
            EXPECT_EQ(der[inner], 0x30);
        } else {
            EXPECT_EQ(der[inner], 0x02);
        }
        const unsigned char* p = der.data();
        PKCS7_RECIP_INFO* back = d2i_PKCS7_RECIP_INFO(nullptr, &p, static_cast<long>(der.size()));
        ASSERT_NE(back, nullptr);
        EXPECT_EQ(p, der.data() + der.size());
        EXPECT_EQ(back->form, form);
        EXPECT_EQ(ASN1_INTEGER_get(back->version), 3);
        ASSERT_NE(back->ukm, nullptr);
        EXPECT_EQ(ASN1_STRING_length(back->ukm), 8);
        ASSERT_NE(back->originator, nullptr);
        EXPECT_EQ(ASN1_STRING_length(back->originator->public_key), 5);
        EXPECT_EQ(X509_ALGOR_get_nested_nid(back->key_enc_algor), NID_GOST_WRAP);
        EXPECT_EQ(sk_ASN1_PAIR_num(back->rek), 1);
        PKCS7_RECIP_INFO_free(back);
        PKCS7_RECIP_INFO_free(ri);
    }
}

TEST_F(Recip, AnEmptyListOfEncryptedKeysIsLeftOut) {
    for (int form : {RECIP_FORM_AGREE, RECIP_FORM_TRANSPORT}) {
        SCOPED_TRACE(form);
        PKCS7_RECIP_INFO* ri = agreement_recipient(form);
        sk_ASN1_PAIR_pop_free(ri->rek, ASN1_PAIR_free);
        ri->rek = nullptr;
        const Bytes without = encode(ri);
        ri->rek = sk_ASN1_PAIR_new_null();
        EXPECT_EQ(encode(ri), without) << "no empty SEQUENCE written";
        PKCS7_RECIP_INFO_free(ri);
    }
}

// A short-form TLV.
Bytes tlv(unsigned char tag, const Bytes& content) {
    EXPECT_LT(content.size(), 128u);
    Bytes out{tag, static_cast<unsigned char>(content.size())};
    out.insert(out.end(), content.begin(), content.end());
    return out;
}

template <typename T>
Bytes der(const T* v, int (*i2d)(const T*, unsigned char**)) {
    unsigned char* p = nullptr;
    const int n = i2d(v, &p);
    Bytes out(p, p + (n > 0 ? n : 0));
    OPENSSL_free(p);
    return out;
}

Bytes cat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& b : parts) out.insert(out.end(), b.begin(), b.end());
    return out;
}

// Both taggings of the record around, each with both taggings of the
// originatorKey inside, as senders write them.
TEST_F(Recip, OriginatorKeysInEitherTaggingRead) {
    PKCS7_RECIP_INFO* ri = agreement_recipient(RECIP_FORM_AGREE);
    const Bytes key = cat({der<X509_ALGOR>(ri->originator->algorithm, i2d_X509_ALGOR),
                           der<ASN1_BIT_STRING>(ri->originator->public_key, i2d_ASN1_BIT_STRING)});
    const Bytes rest =
        cat({tlv(0xA1, der<ASN1_OCTET_STRING>(ri->ukm, i2d_ASN1_OCTET_STRING)),
             der<X509_ALGOR>(ri->key_enc_algor, i2d_X509_ALGOR),
             tlv(0x30, der<ASN1_PAIR>(sk_ASN1_PAIR_value(ri->rek, 0), i2d_ASN1_PAIR))});
    const Bytes version{0x02, 0x01, 0x03};
    const Bytes originators[] = {tlv(0xA0, tlv(0xA1, tlv(0x30, key))), tlv(0xA0, tlv(0xA1, key))};
    for (bool explicit_record : {true, false}) {
        for (const Bytes& originator : originators) {
            const Bytes body = cat({version, originator, rest});
            const Bytes whole = explicit_record ? tlv(0xA1, tlv(0x30, body)) : tlv(0xA1, body);
            const unsigned char* p = whole.data();
            PKCS7_RECIP_INFO* back =
                d2i_PKCS7_RECIP_INFO(nullptr, &p, static_cast<long>(whole.size()));
            ASSERT_NE(back, nullptr) << explicit_record << " " << originator.size();
            EXPECT_EQ(p, whole.data() + whole.size());
            EXPECT_EQ(back->form, explicit_record ? RECIP_FORM_AGREE : RECIP_FORM_TRANSPORT);
            ASSERT_NE(back->originator, nullptr);
            EXPECT_EQ(ASN1_STRING_cmp(back->originator->public_key, ri->originator->public_key),
                      0);
            EXPECT_EQ(sk_ASN1_PAIR_num(back->rek), 1);
            PKCS7_RECIP_INFO_free(back);
        }
    }
    PKCS7_RECIP_INFO_free(ri);
}

TEST_F(Recip, CompactRecordKeepsItsUkm) {
    PKCS7_RECIP_INFO* ri = agreement_recipient(RECIP_FORM_COMPACT);
    ASN1_OCTET_STRING_set(ri->enc_key, reinterpret_cast<const unsigned char*>("k"), 1);
    const int len = i2d_PKCS7_RECIP_INFO_compact(ri, nullptr);
    Bytes der(static_cast<size_t>(len));
    unsigned char* p = der.data();
    ASSERT_EQ(i2d_PKCS7_RECIP_INFO_compact(ri, &p), len);
    PKCS7_RECIP_INFO* back = d2i_PKCS7_RECIP_INFO_compact(der.data(), len);
    ASSERT_NE(back, nullptr);
    EXPECT_EQ(back->form, RECIP_FORM_COMPACT);
    ASSERT_NE(back->ukm, nullptr);
    EXPECT_EQ(ASN1_STRING_cmp(back->ukm, ri->ukm), 0);
    EXPECT_EQ(X509_ALGOR_get_nested_nid(back->key_enc_algor), NID_GOST_WRAP);
    EXPECT_EQ(d2i_PKCS7_RECIP_INFO_compact(der.data(), len - 1), nullptr);
    PKCS7_RECIP_INFO_free(back);
    PKCS7_RECIP_INFO_free(ri);
}

// What the readers take, the writers give back byte for byte; a record
// whose version names the other layout is refused, since its version would
// write it in that layout.
TEST_F(Recip, RecordsReadAreWrittenBack) {
    Bytes transport{0x30, 0x12, 0x02, 0x01, 0x00, 0x30, 0x05, 0x30, 0x00, 0x02,
                    0x01, 0x01, 0x30, 0x03, 0x06, 0x01, 0x2a, 0x04, 0x01, 0x00};
    const unsigned char* p = transport.data();
    PKCS7_RECIP_INFO* ri = d2i_PKCS7_RECIP_INFO(nullptr, &p, static_cast<long>(transport.size()));
    ASSERT_NE(ri, nullptr);
    EXPECT_EQ(encode(ri), transport);
    PKCS7_RECIP_INFO_free(ri);
    transport[4] = 3;
    p = transport.data();
    EXPECT_EQ(d2i_PKCS7_RECIP_INFO(nullptr, &p, static_cast<long>(transport.size())), nullptr);

    PKCS7_RECIP_INFO* agree = agreement_recipient(RECIP_FORM_AGREE);
    Bytes agreement = encode(agree);
    PKCS7_RECIP_INFO_free(agree);
    const Bytes version3{0x02, 0x01, 0x03};
    auto v = std::search(agreement.begin(), agreement.end(), version3.begin(), version3.end());
    ASSERT_NE(v, agreement.end());
    v[2] = 0;
    p = agreement.data();
    EXPECT_EQ(d2i_PKCS7_RECIP_INFO(nullptr, &p, static_cast<long>(agreement.size())), nullptr);

    // The compact record's originator is optional.
    const Bytes compact{0x30, 0x0d, 0x02, 0x01, 0x03, 0x30, 0x04, 0x06,
                        0x02, 0x2a, 0x03, 0x04, 0x02, 0xab, 0xcd};
    ri = d2i_PKCS7_RECIP_INFO_compact(compact.data(), static_cast<long>(compact.size()));
    ASSERT_NE(ri, nullptr);
    EXPECT_EQ(ri->originator, nullptr);
    EXPECT_EQ(der<PKCS7_RECIP_INFO>(ri, i2d_PKCS7_RECIP_INFO_compact), compact);
    PKCS7_RECIP_INFO_free(ri);
}

TEST_F(Recip, KeyTransportRecordRoundTrips) {
    test::Party& r = party(NID_ECR3410_CP);
    ASSERT_TRUE(r.cert);
    PKCS7_RECIP_INFO* ri = PKCS7_RECIP_INFO_new();
    ASSERT_EQ(PKCS7_RECIP_INFO_set(ri, r.cert.get()), 1);
    ASN1_OCTET_STRING_set(ri->enc_key, reinterpret_cast<const unsigned char*>("abc"), 3);
    const Bytes der = encode(ri);
    EXPECT_EQ(der[0], 0x30);
    const unsigned char* p = der.data();
    PKCS7_RECIP_INFO* back = d2i_PKCS7_RECIP_INFO(nullptr, &p, static_cast<long>(der.size()));
    ASSERT_NE(back, nullptr);
    EXPECT_EQ(back->form, RECIP_FORM_TRANSPORT);
    EXPECT_EQ(X509_NAME_cmp(back->issuer_and_serial->issuer, X509_get_issuer_name(r.cert.get())),
              0);
    PKCS7_RECIP_INFO_free(back);
    PKCS7_RECIP_INFO_free(ri);
}

class GostTransport : public test::PartyTest {};

TEST_F(GostTransport, RoundTripsAndRefusesTampering) {
    for (int type : {NID_ECR3410_CP, NID_R3410_CP}) {
        SCOPED_TRACE(type);
        test::Party& r = party(type);
        ASSERT_TRUE(r.cert);
        PKCS7_RECIP_INFO* ri = PKCS7_RECIP_INFO_new();
        ASSERT_EQ(PKCS7_RECIP_INFO_set(ri, r.cert.get()), 1);
        Bytes cek(32);
        for (size_t i = 0; i < 32; ++i) cek[i] = static_cast<unsigned char>(i);
        Bytes wrapped(PKCS7_MAX_ENCRYPTED_KEY);
        const int n = PKCS7_CEK_ENCRYPT_gost(wrapped.data(), static_cast<int>(wrapped.size()),
                                             cek.data(), 32, ri);
        ASSERT_GT(n, 0);
        wrapped.resize(static_cast<size_t>(n));
        const unsigned char* p = wrapped.data();
        GOST_KEY_TRANSPORT* kt = d2i_GOST_KEY_TRANSPORT(nullptr, &p, n);
        ASSERT_NE(kt, nullptr);
        EXPECT_EQ(ASN1_STRING_length(kt->key->encrypted_key), 32);
        EXPECT_EQ(ASN1_STRING_length(kt->key->mac), 4);
        EXPECT_EQ(ASN1_STRING_length(kt->params->ukm), 8);
        GOST_KEY_TRANSPORT_free(kt);

        Bytes out(32);
        EXPECT_EQ(PKCS7_CEK_DECRYPT_gost(out.data(), 32, wrapped.data(), n, ri, r.key.get()), 32);
        EXPECT_EQ(out, cek);

        // The MAC is the last OCTET STRING of the encrypted-key record.
        Bytes bad = wrapped;
        const size_t mac_at = 4 + 2 + 32 + 2 + (wrapped[1] & 0x80 ? wrapped[1] & 0x7F : 0);
        bad[mac_at] ^= 0x01;
        Bytes none(32, 0xEE);
        ERR_clear_error();
        EXPECT_EQ(PKCS7_CEK_DECRYPT_gost(none.data(), 32, bad.data(), n, ri, r.key.get()), 0);
        EXPECT_TRUE(test::has_error(ERR_LIB_PKCS7_, P7_R_INTEGRITY_CHECK_FAILURE));
        EXPECT_EQ(none, Bytes(32, 0xEE));

        // Another key of the same type is refused by the MAC as well.
        test::PkeyPtr other = test::generate_key(type);
        EXPECT_EQ(PKCS7_CEK_DECRYPT_gost(none.data(), 32, wrapped.data(), n, ri, other.get()), 0);
        EXPECT_EQ(none, Bytes(32, 0xEE));
        EXPECT_EQ(PKCS7_CEK_ENCRYPT_gost(wrapped.data(), 1024, cek.data(), 24, ri), 0);
        ERR_clear_error();
        PKCS7_RECIP_INFO_free(ri);
    }
}

// A key-agreement recipient of another sender carries the bare encrypted
// key: parameters and UKM come from the key-wrap algorithm or the record,
// the ephemeral key from the originator.
TEST_F(GostTransport, Rfc4490AgreementRecipientsDecrypt) {
    test::Party& r = party(NID_ECR3410_CP);
    ASSERT_TRUE(r.cert);
    Bytes cek(32);
    for (size_t i = 0; i < 32; ++i) cek[i] = static_cast<unsigned char>(0xA0 + i);
    for (bool ukm_in_wrap : {false, true}) {
        SCOPED_TRACE(ukm_in_wrap);
        PKCS7_RECIP_INFO* ri = PKCS7_RECIP_INFO_new();
        ASSERT_EQ(PKCS7_RECIP_INFO_set(ri, r.cert.get()), 1);
        ASN1_INTEGER_set(ri->version, 3);
        Bytes wrapped(PKCS7_MAX_ENCRYPTED_KEY);
        const int n = PKCS7_CEK_ENCRYPT_gost(wrapped.data(), static_cast<int>(wrapped.size()),
                                             cek.data(), 32, ri);
        ASSERT_GT(n, 0);
        wrapped.resize(static_cast<size_t>(n));
        const Bytes bare = test::to_rfc4490(ri, wrapped, ukm_in_wrap);
        ASSERT_FALSE(bare.empty());
        const int len = static_cast<int>(bare.size());
        Bytes out(32);
        ERR_clear_error();
        ASSERT_EQ(PKCS7_CEK_DECRYPT_gost(out.data(), 32, bare.data(), len, ri, r.key.get()), 32);
        EXPECT_EQ(out, cek);

        auto refused = [&](const char* why) {
            Bytes none(32, 0xEE);
            ERR_clear_error();
            EXPECT_EQ(PKCS7_CEK_DECRYPT_gost(none.data(), 32, bare.data(), len, ri, r.key.get()),
                      0)
                << why;
            EXPECT_TRUE(test::has_error(ERR_LIB_PKCS7_, P7_R_BAD_RECIPIENT_KEY_DATA)) << why;
            EXPECT_EQ(none, Bytes(32, 0xEE)) << why;
        };
        // Key transport never takes a bare key.
        ASN1_INTEGER_set(ri->version, 0);
        refused("version 0");
        ASN1_INTEGER_set(ri->version, 3);
        // The ephemeral key must share the own key's hash parameters: the
        // originator's digest parameter set turned into another known set.
        ASN1_TYPE* params = ri->originator->algorithm->parameter;
        ASSERT_TRUE(params != nullptr && params->type == V_ASN1_SEQUENCE);
        ASN1_STRING* seq = params->value.sequence;
        const unsigned char hash_set[] = {0x2A, 0x85, 0x03, 0x02, 0x02, 0x1E, 0x01};
        unsigned char* bytes = seq->data;
        unsigned char* at =
            std::search(bytes, bytes + ASN1_STRING_length(seq), hash_set, hash_set + 7);
        ASSERT_NE(at, bytes + ASN1_STRING_length(seq));
        at[5] = 0x1F;  // 1.2.643.2.2.31.1
        refused("other hash parameters");
        at[5] = 0x1E;
        // Without an originator there is no ephemeral key.
        PKCS7_ORIGINATOR_KEY* keep = ri->originator;
        ri->originator = nullptr;
        refused("no originator");
        ri->originator = keep;
        ASSERT_EQ(PKCS7_CEK_DECRYPT_gost(out.data(), 32, bare.data(), len, ri, r.key.get()), 32);
        PKCS7_RECIP_INFO_free(ri);
    }
}

TEST_F(GostTransport, WrongLengthsAreRefusedBeforeAgreement) {
    test::Party& r = party(NID_ECR3410_CP);
    PKCS7_RECIP_INFO* ri = PKCS7_RECIP_INFO_new();
    ASSERT_EQ(PKCS7_RECIP_INFO_set(ri, r.cert.get()), 1);
    const Bytes cek(32, 0x5A);
    Bytes wrapped(1024);
    const int n = PKCS7_CEK_ENCRYPT_gost(wrapped.data(), 1024, cek.data(), 32, ri);
    ASSERT_GT(n, 0);
    const unsigned char* p = wrapped.data();
    GOST_KEY_TRANSPORT* kt = d2i_GOST_KEY_TRANSPORT(nullptr, &p, n);
    ASSERT_NE(kt, nullptr);
    const unsigned char seven[7] = {};
    for (ASN1_OCTET_STRING** field : {&kt->key->encrypted_key, &kt->key->mac, &kt->params->ukm}) {
        ASN1_OCTET_STRING* keep = ASN1_OCTET_STRING_dup(*field);
        ASN1_OCTET_STRING_set(*field, seven, 7);
        unsigned char* der = nullptr;
        const int len = i2d_GOST_KEY_TRANSPORT(kt, &der);
        Bytes out(32);
        ERR_clear_error();
        EXPECT_EQ(PKCS7_CEK_DECRYPT_gost(out.data(), 32, der, len, ri, r.key.get()), 0);
        EXPECT_TRUE(test::has_error(ERR_LIB_PKCS7_, P7_R_BAD_RECIPIENT_KEY_DATA));
        OPENSSL_free(der);
        ASN1_OCTET_STRING_free(*field);
        *field = keep;
    }
    GOST_KEY_TRANSPORT_free(kt);
    // A too small output buffer is refused.
    Bytes small(16);
    EXPECT_EQ(PKCS7_CEK_DECRYPT_gost(small.data(), 16, wrapped.data(), n, ri, r.key.get()), 0);
    EXPECT_EQ(PKCS7_CEK_ENCRYPT_gost(wrapped.data(), 20, cek.data(), 32, ri), 0);
    ERR_clear_error();
    PKCS7_RECIP_INFO_free(ri);
}

}  // namespace
}  // namespace cadb
