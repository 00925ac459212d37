#include "crypto/ecgost/ec_params.h"

#include "crypto/core/objects.h"
#include "crypto/ecgost/ec.h"

namespace cadb {
namespace {

// Sets A and C serve key exchange as well (XchA, XchB), with the same values.
constexpr char kAp[] = "FFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFD97";
constexpr char kAa[] = "FFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFD94";
constexpr char kAb[] = "A6";
constexpr char kAbase[] =
    "04"
    "0000000000000000000000000000000000000000000000000000000000000001"
    "8D91E471E0989CDA27DF505A453F2B7635294F2DDF23E3B122ACC99C9E9F1E14";
constexpr char kAq[] = "FFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFF6C611070995AD10045841B09B761B893";

constexpr char kCp[] = "9B9F605F5A858107AB1EC85E6B41C8AACF846E86789051D37998F7B9022D759B";
constexpr char kCa[] = "9B9F605F5A858107AB1EC85E6B41C8AACF846E86789051D37998F7B9022D7598";
constexpr char kCb[] = "805A";
constexpr char kCbase[] =
    "04"
    "0000000000000000000000000000000000000000000000000000000000000000"
    "41ECE55743711A8C3CBF3783CD08C0EE4D4DC440D4641A8F366E550DFDB3BB67";
constexpr char kCq[] = "9B9F605F5A858107AB1EC85E6B41C8AA582CA3511EDDFB74F02F3A6598980BB9";

// In code order 11..17.
const EC_PARAMS kSets[] = {
    {NID_PRIME256V1, "FFFFFFFF00000001000000000000000000000000FFFFFFFFFFFFFFFFFFFFFFFF",
     "FFFFFFFF00000001000000000000000000000000FFFFFFFFFFFFFFFFFFFFFFFC",
     "5AC635D8AA3A93E7B3EBBD55769886BC651D06B0CC53B0F63BCE3C3E27D2604B",
     "04"
     "6B17D1F2E12C4247F8BCE6E563A440F277037D812DEB33A0F4A13945D898C296"
     "4FE342E2FE1A7F9B8EE7EB4A7C0F9E162BCE33576B315ECECBB6406837BF51F5",
     "FFFFFFFF00000000FFFFFFFFFFFFFFFFBCE6FAADA7179E84F3B9CAC2FC632551", "1", nullptr, nullptr,
     &ec_table_p256},
    {NID_R3410_2001_A_PARAMSET, kAp, kAa, kAb, kAbase, kAq, "1", nullptr, nullptr,
     &ec_table_cryptopro_a},
    {NID_R3410_2001_B_PARAMSET, "8000000000000000000000000000000000000000000000000000000000000C99",
     "8000000000000000000000000000000000000000000000000000000000000C96",
     "3E1AF419A269A5F866A7D3C25C3DF80AE979259373FF2B182F49D4CE7E1BBC8B",
     "04"
     "0000000000000000000000000000000000000000000000000000000000000001"
     "3FA8124359F96680B83D1C3EB2C070E5C545C9858D03ECFB744BF8D717717EFC",
     "800000000000000000000000000000015F700CFFF1A624E5E497161BCC8A198F", "1", nullptr, nullptr,
     &ec_table_cryptopro_b},
    {NID_R3410_2001_C_PARAMSET, kCp, kCa, kCb, kCbase, kCq, "1", nullptr, nullptr,
     &ec_table_cryptopro_c},
    {NID_R3410_2001_XCHA_PARAMSET, kAp, kAa, kAb, kAbase, kAq, "1", nullptr, nullptr,
     &ec_table_cryptopro_a},
    {NID_R3410_2001_XCHB_PARAMSET, kCp, kCa, kCb, kCbase, kCq, "1", nullptr, nullptr,
     &ec_table_cryptopro_c},
    // The example curve of the signature standard.
    {0, "8000000000000000000000000000000000000000000000000000000000000431", "7",
     "5FBFF498AA938CE739B8E022FBAFEF40563F6E6A3472FC2A514C0CE9DAE23B7E",
     "04"
     "0000000000000000000000000000000000000000000000000000000000000002"
     "08E2A8A0E65147D4BD6316030E16D19C85C97F0A9CA267122B96ABBCEA7E8FC8",
     "8000000000000000000000000000000150FE8A1892976154C59CFC193ACCF5B3", "1", nullptr, nullptr,
     nullptr},
};

// Small and with a cofactor, so that the self test exercises the cofactor
// path at little cost.
const EC_PARAMS kSelfTestSet = {0,
                                "DB7C2ABF62E35E668076BEAD208B",
                                "6127C24C05F38A0AAAF65C0EF02C",
                                "51DEF1815DB5ED74FCC34C85D709",
                                "04"
                                "4BA30AB5E892B4E1649DD0928643"
                                "ADCD46F5882E3747DEF36E956E97",
                                "36DF0AAFD8B8D7597CA10520D04B",
                                "4",
                                nullptr,
                                nullptr,
                                nullptr};

}  // namespace

const EC_PARAMS* ec_params_self_test() { return &kSelfTestSet; }

int ec_params_index(const EC_PARAMS* set) {
    constexpr int sets = static_cast<int>(sizeof kSets / sizeof kSets[0]);
    static_assert(sets + 1 == kEcParamsCount);
    for (int i = 0; i < sets; ++i)
        if (set == &kSets[i]) return i;
    return set == &kSelfTestSet ? sets : -1;
}

const EC_PARAMS* ec_params_for_code(int code) {
    if (code < ECURVE_CODE_P256 || code > ECURVE_CODE_TEST) return nullptr;
    return &kSets[code - ECURVE_CODE_P256];
}

}  // namespace cadb
