#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <openssl/objects.h>

#include <memory>
#include <string>

#include "crypto/engine/engine.h"
#include "crypto/core/objects.h"
#include "crypto/rus/evp_cipher_params.h"
#include "crypto/rus/evp_gost.h"
#include "crypto/rus/modes.h"
#include "crypto/rus/sbox.h"
#include "tests/engine/vectors.h"

namespace cadb {
namespace {

using test::Bytes;

struct CipherCtxFree {
    void operator()(EVP_CIPHER_CTX* c) const { EVP_CIPHER_CTX_free(c); }
};
using CipherCtxPtr = std::unique_ptr<EVP_CIPHER_CTX, CipherCtxFree>;
struct TypeFree {
    void operator()(ASN1_TYPE* t) const { ASN1_TYPE_free(t); }
};
using TypePtr = std::unique_ptr<ASN1_TYPE, TypeFree>;

class EvpCipher : public ::testing::Test {
  protected:
    static void SetUpTestSuite() { ASSERT_EQ(ENGINE_load_cadb(), 1); }
};

// Runs the data through a cipher, the input cut into pieces at `cut`.
Bytes crypt(const EVP_CIPHER* c, int enc, const Bytes& key, const Bytes& iv, const Bytes& in,
            size_t cut, bool pad = false) {
    CipherCtxPtr ctx(EVP_CIPHER_CTX_new());
    EXPECT_EQ(
        EVP_CipherInit_ex(ctx.get(), c, nullptr, key.data(), iv.empty() ? nullptr : iv.data(), enc),
        1);
    EVP_CIPHER_CTX_set_padding(ctx.get(), pad ? 1 : 0);
    Bytes out(in.size() + 16);
    int n1 = 0, n2 = 0, n3 = 0;
    EXPECT_EQ(EVP_CipherUpdate(ctx.get(), out.data(), &n1, in.data(), static_cast<int>(cut)), 1);
    EXPECT_EQ(EVP_CipherUpdate(ctx.get(), out.data() + n1, &n2, in.data() + cut,
                               static_cast<int>(in.size() - cut)),
              1);
    EXPECT_EQ(EVP_CipherFinal_ex(ctx.get(), out.data() + n1 + n2, &n3), 1);
    out.resize(static_cast<size_t>(n1 + n2 + n3));
    return out;
}

// The same data through the cipher context directly.
Bytes direct_cfb_cp(const Bytes& key, const Bytes& iv, const Bytes& in) {
    GOSTE ctx;
    EXPECT_EQ(GOSTE_gamma_fb_cp_init(&ctx, key.data(), iv.data(), nullptr), 1);
    Bytes out(in.size());
    EXPECT_EQ(GOSTE_gamma_fbe_process(&ctx, in.data(), out.data(), static_cast<long>(in.size())),
              static_cast<long>(in.size()));
    return out;
}

// The record is the meshed CFB of the cipher context with the process
// default set, gives the independent answers of the vector file, whole or cut
// anywhere, across key meshing at 1,024 bytes.
TEST_F(EvpCipher, MeshedCfbIsTheCipherContextsCutAnywhere) {
    int seen = 0;
    for (const auto& r : test::read_records("gost28147-cryptopro-a.txt")) {
        if (r.at("mode") != "cfb-meshed") continue;
        ++seen;
        const Bytes key = test::hex(r.at("key")), iv = test::hex(r.at("iv"));
        const Bytes plain = test::hex(r.at("plain"));
        const Bytes want = direct_cfb_cp(key, iv, plain);
        EXPECT_EQ(want, test::hex(r.at("cipher")));
        std::vector<size_t> cuts{0, 1, 7, 8, 9, plain.size()};
        if (plain.size() < 40) {
            for (size_t c = 0; c <= plain.size(); ++c) cuts.push_back(c);
        } else {
            cuts.insert(cuts.end(), {1023, 1024, 1025});
        }
        for (size_t cut : cuts) {
            if (cut > plain.size()) continue;
            EXPECT_EQ(crypt(EVP_rus_gammar_cp(), 1, key, iv, plain, cut), want) << cut;
            EXPECT_EQ(crypt(EVP_rus_gammar_cp(), 0, key, iv, want, cut), plain) << cut;
        }
    }
    EXPECT_GE(seen, 3);
}

TEST_F(EvpCipher, EveryRecordRoundTripsAndCopiesMidway) {
    const Bytes key(32, 0x5a), iv{1, 2, 3, 4, 5, 6, 7, 8};
    Bytes msg(100);
    for (size_t i = 0; i < msg.size(); ++i) msg[i] = static_cast<unsigned char>(i * 7);
    for (const EVP_CIPHER* c : EVP_gost_ciphers()) {
        SCOPED_TRACE(EVP_CIPHER_get0_name(c));
        const bool block = EVP_CIPHER_get_block_size(c) > 1;
        const Bytes use_iv = EVP_CIPHER_get_iv_length(c) > 0 ? iv : Bytes{};
        const Bytes ct = crypt(c, 1, key, use_iv, msg, 37, block);
        EXPECT_NE(Bytes(ct.begin(), ct.begin() + 16), Bytes(msg.begin(), msg.begin() + 16));
        EXPECT_EQ(crypt(c, 0, key, use_iv, ct, 9, block), msg);

        CipherCtxPtr ctx(EVP_CIPHER_CTX_new());
        ASSERT_EQ(EVP_EncryptInit_ex(ctx.get(), c, nullptr, key.data(),
                                     use_iv.empty() ? nullptr : use_iv.data()),
                  1);
        EVP_CIPHER_CTX_set_padding(ctx.get(), block);
        Bytes out(ct.size() + 16);
        int n = 0;
        ASSERT_EQ(EVP_EncryptUpdate(ctx.get(), out.data(), &n, msg.data(), 40), 1);
        CipherCtxPtr copy(EVP_CIPHER_CTX_new());
        ASSERT_EQ(EVP_CIPHER_CTX_copy(copy.get(), ctx.get()), 1);
        ctx.reset();  // the copy must not lean on the original's memory
        int m = 0, f = 0;
        ASSERT_EQ(EVP_EncryptUpdate(copy.get(), out.data() + n, &m, msg.data() + 40,
                                    static_cast<int>(msg.size() - 40)),
                  1);
        ASSERT_EQ(EVP_EncryptFinal_ex(copy.get(), out.data() + n + m, &f), 1);
        out.resize(static_cast<size_t>(n + m + f));
        EXPECT_EQ(out, ct);
    }
}

TEST_F(EvpCipher, RecordsAreFoundByNameAliasAndObject) {
    const std::pair<const char*, const EVP_CIPHER* (*)()> names[] = {
        {"RUS-CHANGE", EVP_rus_change},  {"rus-change", EVP_rus_change},
        {"rus-ecb", EVP_rus_change},     {"rus-simple", EVP_rus_change},
        {"RUS-GAMMA", EVP_rus_gamma},    {"rus-gamma", EVP_rus_gamma},
        {"RUS-GAMMAR", EVP_rus_gammar},  {"rus-gammar", EVP_rus_gammar},
        {"rus-gfb", EVP_rus_gammar},     {"rus-gamma-fb", EVP_rus_gammar},
        {"rus-gamma-r", EVP_rus_gammar}, {"RUS-GAMMAR-CP", EVP_rus_gammar_cp},
        {"rus-cfb", EVP_rus_gammar_cp},  {"CryptoPro-Gost28147-89", EVP_rus_gammar_cp},
    };
    for (const auto& [name, record] : names)
        EXPECT_EQ(EVP_get_cipherbyname(name), record()) << name;
    for (const EVP_CIPHER* c : EVP_gost_ciphers()) {
        // Inside the library's namespace libcrypto's look-up macros take the
        // library's numbers; the object's OID leads to the same record.
        const int nid = OBJ_openssl2nid(EVP_CIPHER_get_nid(c));
        EXPECT_EQ(EVP_get_cipherbynid(nid), c);
        char oid[64];
        ASSERT_GT(OBJ_nid2oid(nid, oid, sizeof oid), 0);
        EXPECT_EQ(EVP_get_cipherbynid(OBJ_txt2nid(oid)), c);
        EXPECT_EQ(::EVP_get_cipherbyname(::OBJ_nid2sn(EVP_CIPHER_get_nid(c))), c);
    }
    const EVP_CIPHER* wrap = EVP_get_cipherbyname("3DES-WRAP");
    ASSERT_NE(wrap, nullptr);
    EXPECT_EQ(EVP_CIPHER_get_nid(wrap), NID_des_ede3_cbc);
    EXPECT_EQ(EVP_CIPHER_get_key_length(EVP_rus_gammar_cp()), 32);
    EXPECT_EQ(EVP_CIPHER_get_iv_length(EVP_rus_gammar_cp()), 8);
    EXPECT_EQ(EVP_CIPHER_get_block_size(EVP_rus_change()), 8);
    EXPECT_EQ(EVP_CIPHER_get_iv_length(EVP_rus_change()), 0);
}

TEST_F(EvpCipher, ParametersCarryIvAndSboxSet) {
    const Bytes key(32, 0x11), iv{9, 8, 7, 6, 5, 4, 3, 2};
    CipherCtxPtr ctx(EVP_CIPHER_CTX_new());
    ASSERT_EQ(EVP_EncryptInit_ex(ctx.get(), EVP_rus_gammar_cp(), nullptr, key.data(), iv.data()),
              1);
    TypePtr params(ASN1_TYPE_new());
    ASSERT_EQ(EVP_CIPHER_param_to_asn1(ctx.get(), params.get()), 1);
    unsigned char got_iv[8];
    int nid = 0;
    ASSERT_EQ(GOST_CIPHER_PARAMS_decode(params.get(), got_iv, &nid), 1);
    EXPECT_EQ(Bytes(got_iv, got_iv + 8), iv);
    EXPECT_EQ(nid, NID_GOST28147_A_PARAMSET);
}

TEST_F(EvpCipher, ParametersNamingSetCSelectItForTheNextDecryption) {
    const Bytes key(32, 0x42), iv{1, 1, 2, 3, 5, 8, 13, 21};
    const Bytes msg(50, 0x33);
    // Encrypt under set C directly through the parameters of another context.
    TypePtr params(ASN1_TYPE_new());
    ASSERT_EQ(GOST_CIPHER_PARAMS_encode(params.get(), iv.data(), NID_GOST28147_C_PARAMSET), 1);
    Bytes under_c(msg.size()), under_a;
    {
        CipherCtxPtr ctx(EVP_CIPHER_CTX_new());
        ASSERT_EQ(EVP_EncryptInit_ex(ctx.get(), EVP_rus_gammar_cp(), nullptr, nullptr, nullptr), 1);
        ASSERT_EQ(EVP_CIPHER_asn1_to_param(ctx.get(), params.get()), 1);
        ASSERT_EQ(EVP_EncryptInit_ex(ctx.get(), nullptr, nullptr, key.data(), nullptr), 1);
        int n = 0;
        ASSERT_EQ(EVP_EncryptUpdate(ctx.get(), under_c.data(), &n, msg.data(), 50), 1);
        // Its own parameters now name set C.
        TypePtr written(ASN1_TYPE_new());
        ASSERT_EQ(EVP_CIPHER_param_to_asn1(ctx.get(), written.get()), 1);
        unsigned char got_iv[8];
        int nid = 0;
        ASSERT_EQ(GOST_CIPHER_PARAMS_decode(written.get(), got_iv, &nid), 1);
        EXPECT_EQ(nid, NID_GOST28147_C_PARAMSET);
        EXPECT_EQ(Bytes(got_iv, got_iv + 8), iv);
    }
    under_a = crypt(EVP_rus_gammar_cp(), 1, key, iv, msg, 50);
    EXPECT_NE(under_c, under_a);
    CipherCtxPtr dec(EVP_CIPHER_CTX_new());
    ASSERT_EQ(EVP_DecryptInit_ex(dec.get(), EVP_rus_gammar_cp(), nullptr, nullptr, nullptr), 1);
    ASSERT_EQ(EVP_CIPHER_asn1_to_param(dec.get(), params.get()), 1);
    ASSERT_EQ(EVP_DecryptInit_ex(dec.get(), nullptr, nullptr, key.data(), nullptr), 1);
    Bytes back(msg.size());
    int n = 0;
    ASSERT_EQ(EVP_DecryptUpdate(dec.get(), back.data(), &n, under_c.data(), 50), 1);
    EXPECT_EQ(back, msg);
}

TEST_F(EvpCipher, HostileParametersAreRefused) {
    unsigned char iv[8];
    int nid = 0;
    EXPECT_EQ(GOST_CIPHER_PARAMS_decode(nullptr, iv, &nid), 0);
    TypePtr t(ASN1_TYPE_new());
    ASN1_TYPE_set(t.get(), V_ASN1_NULL, nullptr);
    EXPECT_EQ(GOST_CIPHER_PARAMS_decode(t.get(), iv, &nid), 0);
    struct Case {
        const char* name;
        Bytes der;
        int want;
    };
    const Case cases[] = {
        // IV of 7 bytes, then of 9 bytes, set A.
        {"short iv",
         test::hex("301204070102030405060706072a85030202"
                   "1f01"),
         -1},
        {"long iv",
         test::hex("301404090102030405060708090607"
                   "2a850302021f01"),
         -1},
        {"unknown set",
         test::hex("3010040801020304050607080604"
                   "2a030405"),
         0},
        {"no set", test::hex("300a04080102030405060708"), 0},
        {"three fields",
         test::hex("301504080102030405060708"
                   "06072a850302021f01"
                   "0500"),
         0},
        {"truncated",
         test::hex("301204080102030405060708"
                   "06072a8503"),
         0},
        {"wrong types",
         test::hex("3013060704070102030405"
                   "04080102030405060708"),
         0},
        {"empty", test::hex("3000"), 0},
    };
    for (const Case& c : cases) {
        ASN1_STRING* s = ASN1_STRING_new();
        ASN1_STRING_set(s, c.der.data(), static_cast<int>(c.der.size()));
        TypePtr p(ASN1_TYPE_new());
        ASN1_TYPE_set(p.get(), V_ASN1_SEQUENCE, s);
        EXPECT_EQ(GOST_CIPHER_PARAMS_decode(p.get(), iv, &nid), c.want) << c.name;
        CipherCtxPtr ctx(EVP_CIPHER_CTX_new());
        ASSERT_EQ(EVP_DecryptInit_ex(ctx.get(), EVP_rus_gammar_cp(), nullptr, nullptr, nullptr), 1);
        EXPECT_LE(EVP_CIPHER_asn1_to_param(ctx.get(), p.get()), 0) << c.name;
    }
}

}  // namespace
}  // namespace cadb
