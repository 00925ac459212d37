#include <openssl/bn.h>

#include <string_view>

#include "crypto/bn/bn_ptr.h"
#include "crypto/core/err.h"
#include "crypto/ecgost/ec.h"

namespace cadb {
namespace {

constexpr unsigned char kFormInfinity = 0x00;
constexpr unsigned char kFormCompressedEven = 0x02;
constexpr unsigned char kFormCompressedOdd = 0x03;
constexpr unsigned char kFormUncompressed = 0x04;

std::size_t field_bytes(const ECURVE* c) {
    return (static_cast<std::size_t>(BN_num_bits(c->p.get())) + 7) / 8;
}

bool in_field(const ECURVE* c, const BIGNUM* v) {
    return !BN_is_negative(v) && BN_cmp(v, c->p.get()) < 0;
}

// The point a decoder fills: always a new one on c, handed over on success
// to the caller's point when one is given, so that refused input leaves
// that point as it was.
class Target {
  public:
    Target(ECURVE* c, ECPOINT* given) : given_(given), pt_(ECPOINT_new(c)) {}
    ECPOINT* get() const { return pt_.get(); }
    // The decoded point: the caller's (now a copy of it) or the new one.
    // Null when the copy fails.
    ECPOINT* release() {
        if (!given_) return pt_.release();
        return ECPOINT_copy(given_, pt_.get()) ? given_ : nullptr;
    }

  private:
    ECPOINT* given_;
    EcPointPtr pt_;
};

// A finite point is given z = 1 on a projective curve.
bool finish_finite(ECPOINT* pt) {
    pt->form = pt->curve->form;
    if (pt->form == EC_FORM_PROJECTIVE) return BN_one(pt->z.get());
    BN_zero(pt->z.get());
    return true;
}

bool set_infinity(ECPOINT* pt) {
    pt->form = pt->curve->form;
    return ECPOINT_set_infinity(pt);
}

// An affine copy of pt, or null.
EcPointPtr affine_copy(const ECPOINT* pt) {
    EcPointPtr copy(ECPOINT_dup(pt));
    if (!copy || !ECPOINT_to_affine(copy.get())) return nullptr;
    return copy;
}

}  // namespace

std::size_t ECPOINT_point2bin(const ECPOINT* pt, int compressed, unsigned char* out,
                              std::size_t out_len) {
    if (!pt || !pt->curve || !pt->curve->p) {
        CADB_ERR(ERR_LIB_ECGOST, ECGOST_F_ECPOINT_POINT2BIN, ERR_R_NULL_PARAMETER);
        return 0;
    }
    const std::size_t n = field_bytes(pt->curve);
    EcPointPtr a = affine_copy(pt);
    if (!a) {
        CADB_ERR(ERR_LIB_ECGOST, ECGOST_F_ECPOINT_POINT2BIN, ERR_LIB_ECGOST);
        return 0;
    }
    const bool inf = ECPOINT_is_infinity(a.get());
    const std::size_t need = inf ? 1 : compressed ? 1 + n : 1 + 2 * n;
    if (!out) return need;
    if (out_len < need) {
        CADB_ERR(ERR_LIB_ECGOST, ECGOST_F_ECPOINT_POINT2BIN, ERR_R_INTERNAL);
        return 0;
    }
    if (inf) {
        out[0] = kFormInfinity;
        return 1;
    }
    bool ok = BN_bn2binpad(a->x.get(), out + 1, static_cast<int>(n)) >= 0;
    if (compressed) {
        out[0] = BN_is_odd(a->y.get()) ? kFormCompressedOdd : kFormCompressedEven;
    } else {
        out[0] = kFormUncompressed;
        ok = ok && BN_bn2binpad(a->y.get(), out + 1 + n, static_cast<int>(n)) >= 0;
    }
    if (!ok) {
        CADB_ERR(ERR_LIB_ECGOST, ECGOST_F_ECPOINT_POINT2BIN, ERR_R_INTERNAL);
        return 0;
    }
    return need;
}

ECPOINT* ECPOINT_bi2point(ECURVE* c, const unsigned char* in, std::size_t len, ECPOINT* pt) {
    if (!c || !c->p || !in || len == 0) {
        CADB_ERR(ERR_LIB_ECGOST, ECGOST_F_ECPOINT_BI2POINT, ERR_R_NULL_PARAMETER);
        return nullptr;
    }
    Target t(c, pt);
    if (!t.get()) {
        CADB_ERR(ERR_LIB_ECGOST, ECGOST_F_ECPOINT_BI2POINT, ERR_R_MALLOC);
        return nullptr;
    }
    const std::size_t n = field_bytes(c);
    ECPOINT* p = t.get();
    bool ok;
    switch (in[0]) {
        case kFormInfinity:
            ok = len == 1 && set_infinity(p);
            break;
        case kFormCompressedEven:
        case kFormCompressedOdd:
            ok = len == 1 + n && BN_bin2bn(in + 1, static_cast<int>(n), p->x.get()) &&
                 in_field(c, p->x.get()) && ECPOINT_derive(p, c, in[0] == kFormCompressedOdd);
            break;
        case kFormUncompressed:
            ok = len == 1 + 2 * n && BN_bin2bn(in + 1, static_cast<int>(n), p->x.get()) &&
                 BN_bin2bn(in + 1 + n, static_cast<int>(n), p->y.get()) &&
                 in_field(c, p->x.get()) && in_field(c, p->y.get()) && finish_finite(p);
            break;
        default:
            ok = false;
    }
    ECPOINT* done = ok ? t.release() : nullptr;
    if (!done) CADB_ERR(ERR_LIB_ECGOST, ECGOST_F_ECPOINT_BI2POINT, ERR_R_INTERNAL);
    return done;
}

std::size_t ECPOINT_point2le(const ECPOINT* pt, unsigned char* out, std::size_t out_len) {
    if (!pt || !pt->curve || !pt->curve->p) {
        CADB_ERR(ERR_LIB_ECGOST, ECGOST_F_ECPOINT_POINT2BIN, ERR_R_NULL_PARAMETER);
        return 0;
    }
    const std::size_t n = field_bytes(pt->curve);
    if (!out) return 2 * n;
    EcPointPtr a = affine_copy(pt);
    // This form has no encoding of infinity.
    if (!a || ECPOINT_is_infinity(a.get()) || out_len < 2 * n ||
        BN_bn2lebinpad(a->x.get(), out, static_cast<int>(n)) < 0 ||
        BN_bn2lebinpad(a->y.get(), out + n, static_cast<int>(n)) < 0) {
        CADB_ERR(ERR_LIB_ECGOST, ECGOST_F_ECPOINT_POINT2BIN, ERR_LIB_ECGOST);
        return 0;
    }
    return 2 * n;
}

ECPOINT* ECPOINT_le2point(ECURVE* c, const unsigned char* in, std::size_t len, ECPOINT* pt) {
    if (!c || !c->p || !in) {
        CADB_ERR(ERR_LIB_ECGOST, ECGOST_F_ECPOINT_BI2POINT, ERR_R_NULL_PARAMETER);
        return nullptr;
    }
    const std::size_t n = field_bytes(c);
    Target t(c, pt);
    ECPOINT* p = t.get();
    if (!p || len != 2 * n || !BN_lebin2bn(in, static_cast<int>(n), p->x.get()) ||
        !BN_lebin2bn(in + n, static_cast<int>(n), p->y.get()) || !in_field(c, p->x.get()) ||
        !in_field(c, p->y.get()) || !finish_finite(p)) {
        CADB_ERR(ERR_LIB_ECGOST, ECGOST_F_ECPOINT_BI2POINT, ERR_LIB_ECGOST);
        return nullptr;
    }
    ECPOINT* done = t.release();
    if (!done) CADB_ERR(ERR_LIB_ECGOST, ECGOST_F_ECPOINT_BI2POINT, ERR_R_MALLOC);
    return done;
}

ECPOINT* ECPOINT_hex2point(ECURVE* c, const char* hex, ECPOINT* pt) {
    if (!c || !c->p || !hex) {
        CADB_ERR(ERR_LIB_ECGOST, ECGOST_F_ECPOINT_HEX2POINT, ERR_R_NULL_PARAMETER);
        return nullptr;
    }
    const std::string_view text(hex);
    auto all_hex = [](std::string_view s) {
        return !s.empty() &&
               s.find_first_not_of("0123456789abcdefABCDEF") == std::string_view::npos;
    };
    // Reads one coordinate; it must be a field element.
    auto read = [&](BIGNUM* out, std::string_view digits) {
        if (!all_hex(digits)) return false;
        const std::string s(digits);
        BIGNUM* bn = out;
        return BN_hex2bn(&bn, s.c_str()) == static_cast<int>(s.size()) && in_field(c, out);
    };
    Target t(c, pt);
    ECPOINT* p = t.get();
    bool ok = p && text.size() >= 2;
    if (ok) {
        const std::string_view form = text.substr(0, 2);
        const std::string_view rest = text.substr(2);
        if (form == "00") {
            ok = rest.empty() && set_infinity(p);
        } else if (form == "02" || form == "03") {
            ok = read(p->x.get(), rest) && ECPOINT_derive(p, c, form == "03");
        } else if (form == "04") {
            const std::size_t half = rest.size() / 2;
            ok = rest.size() % 2 == 0 && read(p->x.get(), rest.substr(0, half)) &&
                 read(p->y.get(), rest.substr(half)) && finish_finite(p);
        } else {
            ok = false;
        }
    }
    ECPOINT* done = ok ? t.release() : nullptr;
    if (!done) CADB_ERR(ERR_LIB_ECGOST, ECGOST_F_ECPOINT_HEX2POINT, ERR_LIB_ECGOST);
    return done;
}

}  // namespace cadb
