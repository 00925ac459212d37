// The GOST test module itself, driven through the library's token contexts:
// what a key pair made on it signs verifies with the library's own code, and
// it keeps the standard's rules on logins and private objects.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>

#include "crypto/ecgost/ec.h"
#include "crypto/ecgost/ecgost.h"
#include "crypto/pkcs11/pkcs11_obj.h"
#include "crypto/pkcs11/pkcs11_template.h"
#include "tests/pkcs11/gost_token.h"

namespace cadb {
namespace {

using testing::GostTokenTest;
using testing::kGostToken;
using testing::GostModuleControl;
using testing::make_context;

using GostModule = GostTokenTest;

// Generates a pair with the library's generation templates.
void generate(PKCS11_OBJ* ctx, CK_OBJECT_HANDLE* pub, CK_OBJECT_HANDLE* priv) {
    PKCS11_TEMPLATE_ptr pt(PKCS11_TEMPLATE_public_key(PKCS11_KEY_GENERATION));
    PKCS11_TEMPLATE_ptr st(PKCS11_TEMPLATE_private_key(PKCS11_KEY_GENERATION));
    ASSERT_TRUE(pt && st);
    CK_MECHANISM m{CKM_GOSTR3410_KEY_PAIR_GEN, nullptr, 0};
    ASSERT_EQ(ctx->module->functions->C_GenerateKeyPair(ctx->session, &m, pt->data(), pt->count(),
                                                        st->data(), st->count(), pub, priv),
              CKR_OK);
}

TEST_F(GostModule, PairMadeOnTheTokenSignsWhatTheLibraryVerifies) {
    auto ctx = make_context(kGostToken, &pins_);
    ASSERT_EQ(PKCS11_OBJ_login(ctx.get(), 0), 1);
    EXPECT_EQ(PKCS11_OBJ_has_mechanism(ctx.get(), CKM_GOSTR3410_DERIVE), 1);
    CK_OBJECT_HANDLE pub = 0, priv = 0;
    generate(ctx.get(), &pub, &priv);

    std::array<unsigned char, 64> point{};
    CK_ULONG len = point.size();
    ctx->object = pub;
    ASSERT_EQ(PKCS11_OBJ_get_attribute(ctx.get(), CKA_VALUE, point.data(), &len), 1);
    ASSERT_EQ(len, 64u);
    // The private number never leaves the token.
    ctx->object = priv;
    len = 0;
    EXPECT_EQ(PKCS11_OBJ_get_attribute(ctx.get(), CKA_VALUE, nullptr, &len), 0);
    ERR_clear_error();

    std::array<unsigned char, 32> digest{};
    for (std::size_t i = 0; i < digest.size(); ++i) digest[i] = static_cast<unsigned char>(i * 7);
    std::array<unsigned char, 32> le{};
    std::reverse_copy(digest.begin(), digest.end(), le.begin());
    CK_FUNCTION_LIST* f = ctx->module->functions;
    CK_MECHANISM m{CKM_GOSTR3410, nullptr, 0};
    std::array<unsigned char, 64> sig{};
    CK_ULONG sig_len = sig.size();
    ASSERT_EQ(f->C_SignInit(ctx->session, &m, priv), CKR_OK);
    ASSERT_EQ(f->C_Sign(ctx->session, le.data(), le.size(), sig.data(), &sig_len), CKR_OK);
    ASSERT_EQ(sig_len, 64u);

    std::unique_ptr<ECGOST, decltype(&ECGOST_free)> key(ECGOST_new_by_curve(nullptr), ECGOST_free);
    ASSERT_TRUE(key);
    ASSERT_EQ(ECGOST_set_curve_by_nid(key.get(), 283), 1);
    key->Q.reset(ECPOINT_le2point(key->curve, point.data(), point.size(), nullptr));
    ASSERT_TRUE(key->Q);
    EXPECT_EQ(ECGOST_verify(ECGOST_SIG_CRYPTOPRO, digest.data(), digest.size(), sig.data(),
                            sig.size(), key.get()),
              1);
    digest[0] ^= 1;
    EXPECT_NE(ECGOST_verify(ECGOST_SIG_CRYPTOPRO, digest.data(), digest.size(), sig.data(),
                            sig.size(), key.get()),
              1);
}

TEST_F(GostModule, WrongPinIsRefusedAndPrivateObjectsStayHidden) {
    {
        auto ctx = make_context(kGostToken, &pins_);
        ASSERT_EQ(PKCS11_OBJ_login(ctx.get(), 0), 1);
        CK_OBJECT_HANDLE pub = 0, priv = 0;
        generate(ctx.get(), &pub, &priv);
    }
    // Pulling the token logs everybody out.
    GostModuleControl c;
    c.pull = 1;
    control(c);
    testing::PinSource wrong;
    wrong.pin = "9999";
    auto ctx = make_context(kGostToken, &wrong);
    EXPECT_EQ(PKCS11_OBJ_login(ctx.get(), 0), 0);
    EXPECT_EQ(ERR_get_last_rv(), CKR_PIN_INCORRECT);
    ERR_clear_error();
    EXPECT_EQ(PKCS11_OBJ_find_private_key(ctx.get(), nullptr, nullptr), 0);
    EXPECT_EQ(PKCS11_OBJ_find_public_key(ctx.get(), nullptr, nullptr), 1);
}

}  // namespace
}  // namespace cadb
