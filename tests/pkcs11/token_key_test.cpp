// Keys kept on the GOST test token through the private-key context's token
// method: generation under one CKA_ID, naming, reading back, import, and the
// token-side signing, agreement, unwrap and hashing, with the reconnecting
// retry after the token was pulled.
#include <gtest/gtest.h>
#include <openssl/crypto.h>
#include <openssl/x509.h>
#include <sys/wait.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "crypto/cadb/buffer_encode.h"
#include "crypto/core/gost_pkey.h"
#include "crypto/core/objects.h"
#include "crypto/ecgost/ec.h"
#include "crypto/ecgost/ecgost.h"
#include "crypto/ecgost/ecgost_evp.h"
#include "crypto/init/init.h"
#include "crypto/keys/pkey.h"
#include "crypto/pkcs7/p7_cek.h"
#include "crypto/pkcs7/p7_recip.h"
#include "crypto/pkcs7/pkcs7.h"
#include "crypto/pkcs11/pkcs11_local.h"
#include "crypto/pse/pse.h"
#include "crypto/pse/pse_secrets.h"
#include "crypto/rus/evp_gost.h"
#include "crypto/rus/sbox.h"
#include "crypto/store/pkey_ctx.h"
#include "crypto/store/pse_ctx.h"
#include "crypto/tokenstore/pkcs11_key.h"
#include "crypto/x509/pkcs10.h"
#include "tests/pkcs11/gost_token.h"

namespace cadb {
namespace {

using testing::GostModuleControl;
using testing::kGostToken;
using testing::make_context;
using testing::PinSource;
using Bytes = std::vector<unsigned char>;

struct PkeyCtxFree {
    void operator()(PKEY_CTX* c) const { PKEY_CTX_free(c); }
};
using PkeyCtxPtr = std::unique_ptr<PKEY_CTX, PkeyCtxFree>;
struct PkeyFree {
    void operator()(PKEY* k) const { PKEY_free(k); }
};
using PkeyPtr = std::unique_ptr<PKEY, PkeyFree>;
using EvpPtr = std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)>;

std::pair<int, std::string> run(const std::string& command) {
    std::string out;
    FILE* p = popen((command + " 2>&1").c_str(), "r");
    if (p == nullptr) return {-1, out};
    char buf[512];
    while (std::fgets(buf, sizeof buf, p) != nullptr) out += buf;
    const int status = pclose(p);
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, out};
}

// The peer's command run on der written to a file (named after "-in").
std::pair<int, std::string> peer_on(const std::string& command, const unsigned char* der,
                                    std::size_t len) {
    const auto file =
        std::filesystem::temp_directory_path() / ("token-" + std::to_string(getpid()) + ".der");
    std::ofstream(file, std::ios::binary)
        .write(reinterpret_cast<const char*>(der), static_cast<std::streamsize>(len));
    auto result = run(command + " -in " + file.string());
    std::filesystem::remove(file);
    return result;
}

class TokenKey : public testing::GostTokenTest {
  protected:
    static void SetUpTestSuite() { ASSERT_EQ(CADB_init(), 1); }

    void SetUp() override {
        GostTokenTest::SetUp();
        store_ = PSE_new();
        ASSERT_NE(store_, nullptr);
        store_->path = kGostToken;
    }
    void TearDown() override {
        PSE_free(store_);
        GostTokenTest::TearDown();
    }

    // A context on the token's store with the fixture's PINs.
    PkeyCtxPtr context(const char* key_path = nullptr, PinSource* pins = nullptr) {
        PkeyCtxPtr ctx(PKEY_CTX_new());
        EXPECT_TRUE(ctx);
        EXPECT_EQ(PKEY_CTX_set_PSE(ctx.get(), store_), 1);
        EXPECT_EQ(PKEY_CTX_set_passwd_cb_arg(ctx.get(), pins != nullptr ? pins : &pins_), 1);
        if (key_path != nullptr) {
            EXPECT_EQ(PKEY_CTX_set_path(ctx.get(), key_path), 1);
        }
        return ctx;
    }

    // A key generated on the token and, when name is given, stored under it.
    PkeyCtxPtr generated(const char* name = nullptr, int param = 0) {
        PkeyCtxPtr ctx = context(name);
        EXPECT_EQ(PKEY_CTX_generate(ctx.get(), NID_ECR3410_CP, param), 1);
        if (name != nullptr) {
            EXPECT_EQ(PKEY_CTX_write(ctx.get(), 0, 0), 1);
        }
        return ctx;
    }

    // The objects of a class carrying an ID and a label, counted on the
    // token as the library finds them.
    int count_with(bool private_key, const char* id, const char* label) {
        auto obj = make_context(kGostToken, &pins_);
        EXPECT_EQ(PKCS11_OBJ_login(obj.get(), 0), 1);
        PKCS11_TEMPLATE_ptr t(private_key ? PKCS11_TEMPLATE_private_keys()
                                          : PKCS11_TEMPLATE_public_keys());
        if (id != nullptr) PKCS11_TEMPLATE_add_text(t.get(), CKA_ID, id);
        if (label != nullptr) PKCS11_TEMPLATE_add_text(t.get(), CKA_LABEL, label);
        int n = 0;
        EXPECT_EQ(PKCS11_OBJ_find_init(obj.get(), t.get()), 1);
        while (PKCS11_OBJ_find_next(obj.get()) == 1) ++n;
        PKCS11_OBJ_find_final(obj.get());
        ERR_clear_error();
        return n;
    }

    // The halves of generated pairs not yet named on a token: the keys of a
    // class whose label is a generation label, with or without its owner.
    // Destroyed when destroy is set.
    int temporaries(bool private_key, const char* token = kGostToken, bool destroy = false) {
        auto obj = make_context(token, &pins_);
        EXPECT_EQ(PKCS11_OBJ_login(obj.get(), 0), 1);
        PKCS11_TEMPLATE_ptr t(private_key ? PKCS11_TEMPLATE_private_keys()
                                          : PKCS11_TEMPLATE_public_keys());
        std::vector<CK_OBJECT_HANDLE> keys;
        EXPECT_TRUE(pkcs11::find_all(obj.get(), t.get(), &keys));
        const std::string base = private_key ? kTemporaryPrivateLabel : kTemporaryPublicLabel;
        int n = 0;
        for (const CK_OBJECT_HANDLE h : keys) {
            obj->object = h;
            char label[256];
            CK_ULONG len = sizeof label;
            if (PKCS11_OBJ_get_attribute(obj.get(), CKA_LABEL, label, &len) != 1 ||
                !std::string(label, len).starts_with(base))
                continue;
            ++n;
            if (destroy) {
                EXPECT_EQ(PKCS11_OBJ_destroy(obj.get()), 1);
            }
        }
        ERR_clear_error();
        return n;
    }

    PSE* store_ = nullptr;
};

// The digest of data as the library's hash writes it.
Bytes library_digest(const Bytes& data) {
    Bytes d(32);
    unsigned int n = 0;
    EXPECT_EQ(EVP_Digest(data.data(), data.size(), d.data(), &n, EVP_rus_hash_cp(), nullptr), 1);
    return d;
}

// A copy of a key's public half, with no token behind it.
EvpPtr public_copy(EVP_PKEY* key) {
    unsigned char* der = nullptr;
    const int len = i2d_PUBKEY(key, &der);
    const unsigned char* p = der;
    EvpPtr copy(len > 0 ? d2i_PUBKEY(nullptr, &p, len) : nullptr, EVP_PKEY_free);
    OPENSSL_free(der);
    return copy;
}

bool verifies(EVP_PKEY* pub, const Bytes& data, const Bytes& sig) {
    std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> md(EVP_MD_CTX_new(), EVP_MD_CTX_free);
    return EVP_DigestVerifyInit(md.get(), nullptr, EVP_rus_hash_cp(), nullptr, pub) == 1 &&
           EVP_DigestVerify(md.get(), sig.data(), sig.size(), data.data(), data.size()) == 1;
}

Bytes signed_by(EVP_PKEY* key, const Bytes& data) {
    std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> md(EVP_MD_CTX_new(), EVP_MD_CTX_free);
    Bytes sig(64);
    std::size_t len = sig.size();
    if (EVP_DigestSignInit(md.get(), nullptr, EVP_rus_hash_cp(), nullptr, key) != 1 ||
        EVP_DigestSign(md.get(), sig.data(), &len, data.data(), data.size()) != 1)
        return {};
    sig.resize(len);
    return sig;
}

const Bytes kData = {'t', 'o', 'k', 'e', 'n', ' ', 'd', 'a', 't', 'a'};

TEST_F(TokenKey, GeneratedKeySignsWhatItsPublicKeyVerifiesHereAndInThePeer) {
    PkeyCtxPtr ctx = generated();
    EXPECT_STREQ(ctx->method->name, "PKEY_CTX pkcs11 method");
    PKEY* key = PKEY_CTX_get_PKEY(ctx.get());
    ASSERT_NE(key, nullptr);
    EXPECT_STREQ(EVP_PKEY_token_method(key->key)->name, "EVP_PKEY_METHOD pkcs11 sign, kek and cek");
    EXPECT_EQ(ERR_peek_error(), 0u);

    const Bytes sig = signed_by(key->key, kData);
    ASSERT_EQ(sig.size(), 64u);
    EvpPtr pub = public_copy(key->key);
    ASSERT_TRUE(pub);
    EXPECT_TRUE(verifies(pub.get(), kData, sig));
    Bytes other = kData;
    other[0] ^= 1;
    EXPECT_FALSE(verifies(pub.get(), other, sig));

    // A request signed on the token verifies in the peer's GOST engine.
    std::unique_ptr<X509_NAME, decltype(&X509_NAME_free)> name(X509_NAME_new(), X509_NAME_free);
    X509_NAME_add_entry_by_txt(name.get(), "CN", MBSTRING_ASC,
                               reinterpret_cast<const unsigned char*>("token"), -1, -1, 0);
    std::unique_ptr<PKCS10, decltype(&PKCS10_free)> p10(
        PKCS10_make(name.get(), key, nullptr, 0, nullptr, nullptr, 0), PKCS10_free);
    ASSERT_TRUE(p10);
    BufferPtr der(PKCS10_get(p10.get(), FORM_DER));
    ASSERT_TRUE(der);
    const auto [status, out] = peer_on("openssl req -engine gost -inform DER -noout -verify",
                                       der->data, static_cast<std::size_t>(der->length));
    EXPECT_EQ(status, 0) << out;
    EXPECT_NE(out.find("verify OK"), std::string::npos) << out;
}

// A pair not yet named whose key this process has let go is a leftover;
// one whose key it still holds (another enrolment of its own) is not.
TEST_F(TokenKey, GeneratingAgainRemovesTheUnsavedPairNoKeyHolds) {
    generated();
    PkeyCtxPtr second = generated(nullptr, NID_R3410_2001_B_PARAMSET);
    EXPECT_EQ(count(CKO_PRIVATE_KEY), 1);
    EXPECT_EQ(count(CKO_PUBLIC_KEY), 1);
    const auto* key = static_cast<const ECGOST*>(EVP_PKEY_get0(PKEY_CTX_get_PKEY(second.get())->key));
    EXPECT_EQ(key->nid, NID_R3410_2001_B_PARAMSET);
    PkeyCtxPtr third = generated();
    EXPECT_EQ(count(CKO_PRIVATE_KEY), 2);
    EXPECT_EQ(count(CKO_PUBLIC_KEY), 2);
}

TEST_F(TokenKey, WritingNamesThePairAndRenamesIt) {
    PkeyCtxPtr ctx = generated("k");
    EXPECT_EQ(count_with(true, "k", kStoredPrivateLabel), 1);
    EXPECT_EQ(count_with(false, "k", kStoredPublicLabel), 1);
    // The same name again: the key carries it already.
    EXPECT_EQ(PKEY_CTX_write(ctx.get(), 0, 0), 0);
    ERR_clear_error();
    ASSERT_EQ(PKEY_CTX_set_path(ctx.get(), "k2"), 1);
    ASSERT_EQ(PKEY_CTX_write(ctx.get(), 0, 0), 1);
    EXPECT_EQ(count_with(true, "k", nullptr), 0);
    EXPECT_EQ(count_with(true, "k2", kStoredPrivateLabel), 1);
    EXPECT_EQ(count_with(false, "k2", kStoredPublicLabel), 1);
    EXPECT_EQ(count(CKO_PRIVATE_KEY), 1);

    // Another context reads the key by its name and signs with it.
    PkeyCtxPtr reader = context("pkcs11:\\cadbgostp11\\k2");
    ASSERT_EQ(PKEY_CTX_read(reader.get()), 1);
    PKEY* key = PKEY_CTX_get_PKEY(reader.get());
    ASSERT_NE(key, nullptr);
    EvpPtr pub = public_copy(PKEY_CTX_get_PKEY(ctx.get())->key);
    EXPECT_TRUE(verifies(pub.get(), kData, signed_by(key->key, kData)));
}

// A backup takes only a name no key bears: the key there stays.
TEST_F(TokenKey, AWriteToAFreeNameDestroysNothing) {
    PkeyCtxPtr kept = generated("k");
    PkeyCtxPtr next = generated();
    ASSERT_EQ(PKEY_CTX_set_path(next.get(), "k"), 1);
    ASSERT_EQ(PKEY_CTX_set_flags(next.get(), PKEY_CTX_FLAG_NEW_NAME), 1);
    ERR_clear_error();
    EXPECT_EQ(PKEY_CTX_write(next.get(), 0, 0), 0);
    const unsigned long e = ERR_peek_last_error();
    EXPECT_EQ(ERR_code_lib(e), ERR_LIB_CADB);
    EXPECT_EQ(ERR_code_reason(e), CADB_R_KEY_NAME_TAKEN);
    ERR_clear_error();
    EXPECT_EQ(count_with(true, "k", kStoredPrivateLabel), 1);
    EXPECT_EQ(count_with(false, "k", kStoredPublicLabel), 1);
    EXPECT_EQ(temporaries(true), 1);
    ASSERT_EQ(PKEY_CTX_set_path(next.get(), "k3"), 1);
    ASSERT_EQ(PKEY_CTX_write(next.get(), 0, 0), 1);
    EXPECT_EQ(count(CKO_PRIVATE_KEY), 2);
    PkeyCtxPtr reader = context("k");
    ASSERT_EQ(PKEY_CTX_read(reader.get()), 1);
    EvpPtr pub = public_copy(PKEY_CTX_get_PKEY(kept.get())->key);
    EXPECT_TRUE(verifies(pub.get(), kData, signed_by(PKEY_CTX_get_PKEY(reader.get())->key, kData)));
}

// Two enrolments' fresh pairs on the token at once, their public halves
// under one label (as pairs made before the labels bore their owner): each
// is named with its own public half, the one its generation returned,
// whichever comes first.
TEST_F(TokenKey, AFreshPairIsNamedWithItsOwnPublicHalf) {
    auto obj = make_context(kGostToken, &pins_);
    ASSERT_EQ(PKCS11_OBJ_login(obj.get(), 0), 1);
    PkeyCtxPtr theirs = generated();
    PkeyCtxPtr mine = generated();
    for (PKEY_CTX* ctx : {theirs.get(), mine.get()}) {
        PKCS11_TEMPLATE_ptr t(PKCS11_TEMPLATE_new());
        obj->object = static_cast<PKCS11_OBJ*>(EVP_PKEY_token_data(PKEY_CTX_get_PKEY(ctx)->key))
                          ->generated_public;
        ASSERT_TRUE(t && PKCS11_TEMPLATE_add_text(t.get(), CKA_LABEL, kTemporaryPublicLabel));
        ASSERT_EQ(PKCS11_OBJ_set_attributes(obj.get(), t.get()), 1);
    }
    EXPECT_EQ(count_with(false, nullptr, kTemporaryPublicLabel), 2);

    for (auto [ctx, name] : {std::pair{mine.get(), "mine"}, std::pair{theirs.get(), "theirs"}}) {
        ASSERT_EQ(PKEY_CTX_set_path(ctx, name), 1);
        ASSERT_EQ(PKEY_CTX_write(ctx, 0, 0), 1) << name;
        EXPECT_EQ(count_with(false, name, kStoredPublicLabel), 1) << name;
        // Read back by its name, the key's public half is its own.
        PkeyCtxPtr reader = context(name);
        ASSERT_EQ(PKEY_CTX_read(reader.get()), 1) << name;
        EVP_PKEY* read = PKEY_CTX_get_PKEY(reader.get())->key;
        EXPECT_EQ(EVP_PKEY_cmp(read, PKEY_CTX_get_PKEY(ctx)->key), 1) << name;
        EXPECT_TRUE(verifies(public_copy(read).get(), kData, signed_by(read, kData))) << name;
    }
    EXPECT_EQ(count_with(false, nullptr, kTemporaryPublicLabel), 0);
}

// Processes sharing one token (SoftHSM2's, through the forwarding module
// that adds GOST keys to it): another process's pair not yet named is no
// leftover for a generation while that process runs, and is one once it has
// ended.
TEST_F(TokenKey, AnUnnamedPairOfAnotherProcessIsALeftoverOnlyOnceThatProcessEnded) {
    REQUIRE_SOFTHSM();
    constexpr const char* kShared = "pkcs11:\\cadbsofthsmgost";
    store_->path = kShared;
    temporaries(true, kShared, true);
    temporaries(false, kShared, true);
    int made[2], go_on[2];
    ASSERT_EQ(::pipe(made), 0);
    ASSERT_EQ(::pipe(go_on), 0);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        ::close(made[0]);
        ::close(go_on[1]);
        PkeyCtxPtr theirs = context();
        const char ok = PKEY_CTX_generate(theirs.get(), NID_ECR3410_CP, 0) == 1 ? 1 : 0;
        if (::write(made[1], &ok, 1) != 1) ::_exit(2);
        // Holds its pair until the parent lets go, then ends without naming it.
        char c;
        while (::read(go_on[0], &c, 1) > 0) {
        }
        ::_exit(0);
    }
    ::close(made[1]);
    ::close(go_on[0]);
    char ok = 0;
    EXPECT_EQ(::read(made[0], &ok, 1), 1);
    ::close(made[0]);
    EXPECT_EQ(ok, 1) << "the other process generated no pair";
    PkeyCtxPtr mine = context();
    EXPECT_EQ(PKEY_CTX_generate(mine.get(), NID_ECR3410_CP, 0), 1);
    EXPECT_EQ(temporaries(true, kShared), 2) << "the running process's pair was removed";
    EXPECT_EQ(temporaries(false, kShared), 2);
    ::close(go_on[1]);
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    PkeyCtxPtr next = context();
    EXPECT_EQ(PKEY_CTX_generate(next.get(), NID_ECR3410_CP, 0), 1);
    EXPECT_EQ(temporaries(true, kShared), 2) << "the ended process's pair is still there";
    EXPECT_EQ(temporaries(false, kShared), 2);
    mine.reset();
    next.reset();
    temporaries(true, kShared, true);
    temporaries(false, kShared, true);
}

TEST_F(TokenKey, MissingKeyAndWrongPinAreRefused) {
    PkeyCtxPtr missing = context("nokey");
    EXPECT_EQ(PKEY_CTX_read(missing.get()), 0);
    EXPECT_EQ(PKEY_CTX_get_PKEY(missing.get()), nullptr);
    ERR_clear_error();
    generated("k");
    GostModuleControl c;
    c.pull = 1;
    control(c);
    PinSource wrong;
    wrong.pin = "4321";
    PkeyCtxPtr ctx = context("k", &wrong);
    EXPECT_EQ(PKEY_CTX_read(ctx.get()), 0);
    EXPECT_EQ(ERR_get_last_rv(), CKR_PIN_INCORRECT);
    ERR_clear_error();
    // Nothing in memory: a context without a store is refused at once.
    PkeyCtxPtr bare(PKEY_CTX_new());
    EXPECT_EQ(PKCS11_key_generate(bare.get(), NID_ECR3410_CP, 0), 0);
    EXPECT_EQ(ERR_code_reason(ERR_get_error()), ERR_R_NULL_PARAMETER);
    PkeyCtxPtr other_type = context();
    EXPECT_EQ(PKEY_CTX_generate(other_type.get(), NID_ECR3410, 0), 0);
    ERR_clear_error();
}

TEST_F(TokenKey, TokenWithoutAgreementOnlySigns) {
    GostModuleControl c;
    c.offer_derive = 0;
    c.offer_wrap = 0;
    control(c);
    PkeyCtxPtr ctx = generated("s");
    EVP_PKEY* key = PKEY_CTX_get_PKEY(ctx.get())->key;
    EXPECT_STREQ(EVP_PKEY_token_method(key)->name, "EVP_PKEY_METHOD only pkcs11 sign");
    EXPECT_EQ(EVP_PKEY_token_flags(key) & PKEY_TOKEN_SIGN_ONLY, PKEY_TOKEN_SIGN_ONLY);
    auto obj = make_context(kGostToken, &pins_);
    ASSERT_EQ(PKCS11_OBJ_login(obj.get(), 0), 1);
    ASSERT_EQ(PKCS11_OBJ_find_private_key(obj.get(), "s", nullptr), 1);
    CK_ULONG len = 0;
    EXPECT_EQ(PKCS11_OBJ_get_attribute(obj.get(), CKA_DERIVE, nullptr, &len), 0);
    EXPECT_EQ(PKCS11_OBJ_get_attribute(obj.get(), CKA_UNWRAP, nullptr, &len), 0);
    ERR_clear_error();
    // One of the two offered gives the records between.
    c.offer_derive = 1;
    control(c);
    PkeyCtxPtr kek = generated("t");
    EXPECT_STREQ(EVP_PKEY_token_method(PKEY_CTX_get_PKEY(kek.get())->key)->name,
                 "EVP_PKEY_METHOD pkcs11 sign and kek");
}

// The software side of the agreement: H(VKO) as the key transport uses it.
Bytes software_kek(EVP_PKEY* own, EVP_PKEY* peer, const unsigned char* ukm) {
    auto* mine = static_cast<ECGOST*>(EVP_PKEY_get0(own));
    auto* theirs = static_cast<ECGOST*>(EVP_PKEY_get0(peer));
    std::unique_ptr<ECDH, decltype(&ECDH_free)> dh(ECGOST_dup_ECDH(mine), ECDH_free);
    unsigned char le[8];
    std::reverse_copy(ukm, ukm + 8, le);
    BnPtr u(BN_bin2bn(le, 8, nullptr));
    EcPointPtr k(ECDH_compute_vko(theirs->Q.get(), u.get(), dh.get()));
    Bytes point(64);
    if (!k || ECPOINT_point2le(k.get(), point.data(), point.size()) != 64) return {};
    return library_digest(point);
}

TEST_F(TokenKey, AgreementGivesTheSameSecretBothWaysAndAsInSoftware) {
    PkeyCtxPtr a = generated("a");
    PkeyCtxPtr b = generated("b");
    EVP_PKEY* ka = PKEY_CTX_get_PKEY(a.get())->key;
    EVP_PKEY* kb = PKEY_CTX_get_PKEY(b.get())->key;
    const unsigned char ukm[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    std::size_t len = 0;
    ASSERT_EQ(PKCS11_key_derive(ka, kb, ukm, nullptr, &len), 1);
    EXPECT_EQ(len, 32u);
    Bytes ab(32), ba(32);
    len = 16;
    EXPECT_EQ(PKCS11_key_derive(ka, kb, ukm, ab.data(), &len), 0);
    EXPECT_EQ(len, 32u);
    ERR_clear_error();
    ASSERT_EQ(PKCS11_key_derive(ka, kb, ukm, ab.data(), &len), 1);
    ASSERT_EQ(PKCS11_key_derive(kb, ka, ukm, ba.data(), &len), 1);
    EXPECT_EQ(ab, ba);
    // The derived secrets do not stay on the token.
    EXPECT_EQ(count(CKO_SECRET_KEY), 0);

    PkeyPtr soft(PKEY_generate_soft(NID_ECR3410_CP, 0, nullptr, nullptr));
    ASSERT_TRUE(soft);
    Bytes on_token(32);
    ASSERT_EQ(PKCS11_key_derive(ka, soft->key, ukm, on_token.data(), &len), 1);
    // The token hands the agreement out in its own byte order.
    const Bytes kek = software_kek(soft->key, ka, ukm);
    EXPECT_EQ(on_token, Bytes(kek.rbegin(), kek.rend()));
}

// A content key sent to the token key by the software key transport.
Bytes transported_to(EVP_PKEY* key, const Bytes& cek) {
    std::unique_ptr<PKCS7_RECIP_INFO, decltype(&PKCS7_RECIP_INFO_free)> ri(PKCS7_RECIP_INFO_new(),
                                                                           PKCS7_RECIP_INFO_free);
    EvpPtr pub = public_copy(key);
    X509* cert = X509_new();
    if (!ri || !pub || cert == nullptr || X509_set_pubkey(cert, pub.get()) != 1) {
        X509_free(cert);
        return {};
    }
    ri->cert = cert;
    Bytes out(512);
    const int len = PKCS7_CEK_ENCRYPT_gost(out.data(), static_cast<int>(out.size()), cek.data(),
                                           static_cast<int>(cek.size()), ri.get());
    out.resize(len > 0 ? static_cast<std::size_t>(len) : 0);
    return out;
}

Bytes received_by(EVP_PKEY* key, const Bytes& wrapped) {
    std::unique_ptr<PKCS7_RECIP_INFO, decltype(&PKCS7_RECIP_INFO_free)> ri(PKCS7_RECIP_INFO_new(),
                                                                           PKCS7_RECIP_INFO_free);
    Bytes cek(32);
    const int len = PKCS7_CEK_DECRYPT_gost(cek.data(), static_cast<int>(cek.size()), wrapped.data(),
                                           static_cast<int>(wrapped.size()), ri.get(), key);
    return len == 32 ? cek : Bytes{};
}

TEST_F(TokenKey, TransportedContentKeyIsReceivedOnTheToken) {
    Bytes cek(32);
    for (std::size_t i = 0; i < cek.size(); ++i) cek[i] = static_cast<unsigned char>(0xA0 + i);
    // Unwrapped whole on the token.
    PkeyCtxPtr all = generated("all");
    EVP_PKEY* key = PKEY_CTX_get_PKEY(all.get())->key;
    const Bytes wrapped = transported_to(key, cek);
    ASSERT_FALSE(wrapped.empty());
    EXPECT_EQ(received_by(key, wrapped), cek);
    Bytes direct(32);
    std::size_t len = direct.size();
    ASSERT_EQ(PKCS11_key_unwrap(key, nullptr, wrapped.data(), wrapped.size(), nullptr,
                                direct.data(), &len),
              1);
    EXPECT_EQ(direct, cek);
    EXPECT_EQ(count(CKO_SECRET_KEY), 0);
    // A changed MAC is refused by the token.
    Bytes bad = wrapped;
    for (std::size_t i = 0; i + 6 < bad.size(); ++i) {
        if (bad[i] == 0x04 && bad[i + 1] == 0x04) {
            bad[i + 2] ^= 1;
            break;
        }
    }
    EXPECT_TRUE(received_by(key, bad).empty());
    ERR_clear_error();

    // Agreed on the token, the rest done here.
    GostModuleControl c;
    c.offer_wrap = 0;
    control(c);
    PkeyCtxPtr kek = generated("kek");
    EVP_PKEY* kek_key = PKEY_CTX_get_PKEY(kek.get())->key;
    EXPECT_EQ(received_by(kek_key, transported_to(kek_key, cek)), cek);
    // A token that only signs receives nothing.
    c.offer_derive = 0;
    control(c);
    PkeyCtxPtr sign = generated("sign");
    EVP_PKEY* sign_key = PKEY_CTX_get_PKEY(sign.get())->key;
    EXPECT_TRUE(received_by(sign_key, transported_to(sign_key, cek)).empty());
    ERR_clear_error();
}

TEST_F(TokenKey, TokenHashesAsTheLibraryAndKeepsToTheCallersRoom) {
    PkeyCtxPtr ctx = generated("h");
    EVP_PKEY* key = PKEY_CTX_get_PKEY(ctx.get())->key;
    Bytes out(32);
    std::size_t len = out.size();
    ASSERT_EQ(PKCS11_key_digest(key, kData.data(), kData.size(), out.data(), &len), 1);
    EXPECT_EQ(out, library_digest(kData));
    len = 16;
    EXPECT_EQ(PKCS11_key_digest(key, kData.data(), kData.size(), out.data(), &len), 0);
    ERR_clear_error();
    // A token that reports more than it has cannot write past the room.
    GostModuleControl c;
    c.lie_digest_len = 64;
    control(c);
    std::array<unsigned char, 48> guarded{};
    len = 32;
    EXPECT_EQ(PKCS11_key_digest(key, kData.data(), kData.size(), guarded.data(), &len), 0);
    EXPECT_TRUE(std::all_of(guarded.begin() + 32, guarded.end(), [](unsigned char b) { return b == 0; }));
    ERR_clear_error();
}

// A certificate of the key signed by itself (libcrypto hashes it here).
std::unique_ptr<X509, decltype(&X509_free)> self_signed(EVP_PKEY* key) {
    std::unique_ptr<X509, decltype(&X509_free)> cert(X509_new(), X509_free);
    X509_NAME* name = X509_get_subject_name(cert.get());
    const bool ok =
        X509_set_version(cert.get(), 2) && ASN1_INTEGER_set(X509_get_serialNumber(cert.get()), 7) &&
        X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC,
                                   reinterpret_cast<const unsigned char*>("token"), -1, -1, 0) &&
        X509_set_issuer_name(cert.get(), name) &&
        X509_gmtime_adj(X509_getm_notBefore(cert.get()), 0) &&
        X509_gmtime_adj(X509_getm_notAfter(cert.get()), 3600) && X509_set_pubkey(cert.get(), key) &&
        X509_sign(cert.get(), key, EVP_r3411_with_ecr3410_cp()) > 0;
    if (!ok) cert.reset();
    return cert;
}

// Signed data over content, attached, by the key with its certificate; every
// signer gets signed attributes (content type, message digest).
Bytes signed_data(EVP_PKEY* key, X509* cert, const Bytes& content) {
    struct P7Free {
        void operator()(PKCS7* p) const { PKCS7_free(p); }
    };
    std::unique_ptr<PKCS7, P7Free> p7(PKCS7_new());
    if (!p7 || !PKCS7_set_type(p7.get(), NID_pkcs7_signed) ||
        !PKCS7_content_new(p7.get(), NID_pkcs7_data) ||
        PKCS7_add_signature(p7.get(), cert, key, EVP_rus_hash_cp()) == nullptr ||
        !PKCS7_add_certificate(p7.get(), cert))
        return {};
    BIO* chain = PKCS7_dataInit(p7.get(), nullptr);
    const bool ok = chain != nullptr &&
                    BIO_write(chain, content.data(), static_cast<int>(content.size())) ==
                        static_cast<int>(content.size()) &&
                    PKCS7_DATASIGN(p7.get(), chain) == 1;
    BIO_free_all(chain);
    const int len = ok ? i2d_PKCS7(p7.get(), nullptr) : 0;
    Bytes der(static_cast<std::size_t>(std::max(len, 0)));
    unsigned char* p = der.data();
    if (len <= 0 || i2d_PKCS7(p7.get(), &p) != len) return {};
    return der;
}

// What the library hashes whole before a token key signs it, the signed
// attributes of a message and the information of a request, it hashes on
// the token; the streamed content stays here. The peer accepts both.
TEST_F(TokenKey, SignedAttributesAndRequestInfoAreHashedOnTheToken) {
    PkeyCtxPtr ctx = generated("signer");
    PKEY* key = PKEY_CTX_get_PKEY(ctx.get());
    auto cert = self_signed(key->key);
    ASSERT_TRUE(cert);
    EXPECT_EQ(digests(), 0);

    const Bytes content(100000, 'm');
    const Bytes message = signed_data(key->key, cert.get(), content);
    ASSERT_FALSE(message.empty());
    EXPECT_EQ(digests(), 1);
    const auto [status, out] =
        peer_on("openssl cms -verify -engine gost -noverify -binary -inform DER -out /dev/null",
                message.data(), message.size());
    EXPECT_EQ(status, 0) << out;
    EXPECT_NE(out.find("Verification successful"), std::string::npos) << out;

    std::unique_ptr<PKCS10, decltype(&PKCS10_free)> p10(
        PKCS10_make(X509_get_subject_name(cert.get()), key, nullptr, 0, nullptr, nullptr, 0),
        PKCS10_free);
    ASSERT_TRUE(p10);
    EXPECT_EQ(digests(), 2);
    EXPECT_EQ(p10->signature_check, 1);
    BufferPtr der(PKCS10_get(p10.get(), FORM_DER));
    ASSERT_TRUE(der);
    const auto [req_status, req_out] =
        peer_on("openssl req -engine gost -inform DER -noout -verify", der->data,
                static_cast<std::size_t>(der->length));
    EXPECT_EQ(req_status, 0) << req_out;
    EXPECT_NE(req_out.find("verify OK"), std::string::npos) << req_out;

    // A token that does not hash still signs: what its key signs is hashed
    // here.
    GostModuleControl c;
    c.offer_digest = 0;
    control(c);
    PkeyCtxPtr plain_ctx = generated("no-hash");
    PKEY* plain = PKEY_CTX_get_PKEY(plain_ctx.get());
    std::unique_ptr<PKCS10, decltype(&PKCS10_free)> plain_p10(
        PKCS10_make(X509_get_subject_name(cert.get()), plain, nullptr, 0, nullptr, nullptr, 0),
        PKCS10_free);
    ASSERT_TRUE(plain_p10);
    EXPECT_EQ(plain_p10->signature_check, 1);
    EXPECT_EQ(digests(), 2);
}

TEST_F(TokenKey, SignatureLengthTheTokenAsksForMustFitTheRoom) {
    PkeyCtxPtr ctx = generated("l");
    EVP_PKEY* key = PKEY_CTX_get_PKEY(ctx.get())->key;
    GostModuleControl c;
    c.lie_sign_len = 200;
    control(c);
    // The control pulled nothing: the key's session is still good.
    const Bytes digest = library_digest(kData);
    std::array<unsigned char, 96> sig{};
    unsigned int len = 64;
    EXPECT_EQ(PKCS11_key_sign(NID_R3411_WITH_ECR3410_CP, digest.data(), 32, sig.data(), &len, key),
              0);
    EXPECT_TRUE(std::all_of(sig.begin() + 64, sig.end(), [](unsigned char b) { return b == 0; }));
    ERR_clear_error();
    // Only the CryptoPro form is signed on the token.
    c.lie_sign_len = 0;
    control(c);
    len = 64;
    EXPECT_EQ(PKCS11_key_sign(NID_ECR3410, digest.data(), 32, sig.data(), &len, key), 0);
    ERR_clear_error();
    // The caller's digest is not turned around in place.
    const Bytes before = digest;
    ASSERT_EQ(PKCS11_key_sign(NID_R3411_WITH_ECR3410_CP, digest.data(), 32, sig.data(), &len, key),
              1);
    EXPECT_EQ(digest, before);
}

TEST_F(TokenKey, PulledTokenReconnectsOnceAndRefusesAnotherKeyUnderTheName) {
    PkeyCtxPtr ctx = generated("r");
    EVP_PKEY* key = PKEY_CTX_get_PKEY(ctx.get())->key;
    EvpPtr pub = public_copy(key);
    GostModuleControl c;
    c.pull = 1;
    control(c);
    EXPECT_TRUE(verifies(pub.get(), kData, signed_by(key, kData)));
    // Put back into the other slot.
    c.pull = 0;
    c.token_slot = 1;
    control(c);
    EXPECT_TRUE(verifies(pub.get(), kData, signed_by(key, kData)));
    // Another token holding another key under the same name.
    c.token = 1;
    control(c);
    generated("r");
    c.pull = 1;
    control(c);
    EXPECT_TRUE(signed_by(key, kData).empty());
    ERR_clear_error();
}

TEST_F(TokenKey, ImportedKeySignsOnTheTokenAndItsPublicObjectIsReused) {
    PkeyPtr soft(PKEY_generate_soft(NID_ECR3410_CP, 0, nullptr, nullptr));
    ASSERT_TRUE(soft);
    PkeyCtxPtr ctx = context("imported");
    ctx->key = PKEY_up_ref(soft.get());
    ASSERT_EQ(PKEY_CTX_write(ctx.get(), 0, 0), 1);
    EXPECT_EQ(count_with(true, "imported", kStoredPrivateLabel), 1);
    EXPECT_EQ(count_with(false, "imported", kStoredPublicLabel), 1);
    PkeyCtxPtr again = context("second");
    again->key = PKEY_up_ref(soft.get());
    ASSERT_EQ(PKEY_CTX_write(again.get(), 0, 0), 1);
    EXPECT_EQ(count(CKO_PRIVATE_KEY), 2);
    EXPECT_EQ(count(CKO_PUBLIC_KEY), 1);
    EXPECT_EQ(count_with(false, "second", kStoredPublicLabel), 1);

    PkeyCtxPtr reader = context("imported");
    // Its public object now carries the other name: the read finds none.
    EXPECT_EQ(PKEY_CTX_read(reader.get()), 0);
    ERR_clear_error();
    PkeyCtxPtr second = context("second");
    ASSERT_EQ(PKEY_CTX_read(second.get()), 1);
    EXPECT_TRUE(verifies(soft->key, kData, signed_by(PKEY_CTX_get_PKEY(second.get())->key, kData)));
}

TEST_F(TokenKey, KeyWrappedUnderTheStoreIsImportedAndStaysWrapped) {
    // The store gets a master key and a key-encryption key of its own.
    std::memcpy(store_->sbox, GOSTE_get_cp_sbox_A(), sizeof store_->sbox);
    unsigned char mkey[32];
    for (int i = 0; i < 32; ++i) mkey[i] = static_cast<unsigned char>(7 + 13 * i);
    std::vector<unsigned char> record(6 + 32);
    int len = 0;
    unsigned char kek[PSE_BLOCK_SIZE];
    ASSERT_EQ(PSE_save_mkey(mkey, 1, record.data(), &len, store_->sbox), 1);
    ASSERT_EQ(PSE_load_mkey(&store_->master_key, record.data(), record.size(), store_->sbox), 1);
    ASSERT_EQ(PSE_generate_kek(store_, kek), 1);

    PkeyPtr soft(PKEY_generate_soft(NID_ECR3410_CP, 0, nullptr, nullptr));
    ASSERT_TRUE(soft);
    auto* ec = static_cast<ECGOST*>(EVP_PKEY_get0(soft->key));
    ASSERT_EQ(ECGOST_encrypt_opaque(ec, store_), 1);
    ASSERT_TRUE(ec->check.has_value());
    PkeyCtxPtr ctx = context("wrapped");
    ctx->key = PKEY_up_ref(soft.get());
    ASSERT_EQ(PKEY_CTX_write(ctx.get(), 0, 0), 1);
    EXPECT_TRUE(ec->check.has_value()) << "the key is wrapped again";
    EXPECT_EQ(count_with(true, "wrapped", kStoredPrivateLabel), 1);
    PkeyCtxPtr reader = context("wrapped");
    ASSERT_EQ(PKEY_CTX_read(reader.get()), 1);
    EXPECT_TRUE(verifies(public_copy(soft->key).get(), kData,
                         signed_by(PKEY_CTX_get_PKEY(reader.get())->key, kData)));
}

TEST_F(TokenKey, ThreadsSignWithOneTokenKey) {
    PkeyCtxPtr ctx = generated("t");
    EVP_PKEY* key = PKEY_CTX_get_PKEY(ctx.get())->key;
    EvpPtr pub = public_copy(key);
    std::atomic<int> good{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&] {
            for (int i = 0; i < 8; ++i) good += verifies(pub.get(), kData, signed_by(key, kData));
        });
    }
    for (auto& t : threads) t.join();
    EXPECT_EQ(good.load(), 32);
}

TEST_F(TokenKey, ReleaseDetachesTheTokenOnce) {
    PkeyCtxPtr ctx = generated("x");
    EVP_PKEY* key = PKEY_CTX_get_PKEY(ctx.get())->key;
    EXPECT_EQ(PKCS11_key_release(key), 1);
    EXPECT_EQ(EVP_PKEY_token_method(key), nullptr);
    EXPECT_EQ(PKCS11_key_release(key), 0);
    EXPECT_EQ(ERR_code_reason(ERR_get_error()), ERR_R_INTERNAL);
}

}  // namespace
}  // namespace cadb
