#include <openssl/bn.h>

#include <map>
#include <memory>

#include "crypto/bn/bn_ptr.h"
#include "crypto/core/err.h"
#include "crypto/core/lock.h"
#include "crypto/core/objects.h"
#include "crypto/ecgost/ec.h"
#include "crypto/ecgost/ec_local.h"
#include "crypto/ecgost/ec_params.h"

namespace cadb {
namespace {

// An empty or missing value leaves the number empty.
bool read_hex(BnPtr& out, const char* hex) {
    out.reset();
    if (!hex || !*hex) return true;
    BIGNUM* bn = nullptr;
    const int len = BN_hex2bn(&bn, hex);
    out.reset(bn);
    return len > 0 && hex[len] == '\0';
}

// Builds the points of a stored table on c (field form from c's context).
std::shared_ptr<const ECPOINT_FBW> table_from_text(ECURVE* c, const EC_WINDOW_TABLE& text) {
    auto table = std::make_shared<ECPOINT_FBW>();
    table->bits = text.bits;
    table->w = text.w;
    table->n = text.n;
    BnCtxPtr ctx(BN_CTX_new());
    if (!ctx) return nullptr;
    for (int i = 0; i < text.n; ++i) {
        EcPointPtr pt(ECPOINT_hex2point(c, text.points[i], nullptr));
        BnPtr fx = bn_new(), fy = bn_new();
        if (!pt || ECPOINT_is_infinity(pt.get()) || !fx || !fy ||
            !ec::to_field(c, fx.get(), pt->x.get(), ctx.get()) ||
            !ec::to_field(c, fy.get(), pt->y.get(), ctx.get()))
            return nullptr;
        // Table points are bare coordinates: a cached table outlives the
        // curve that first read it.
        pt->curve = nullptr;
        pt->form = EC_FORM_AFFINE;
        BN_zero(pt->z.get());
        table->points.push_back(std::move(pt));
        table->field_x.push_back(std::move(fx));
        table->field_y.push_back(std::move(fy));
    }
    return table;
}

// Built-in tables are read once per process and shared by every curve made
// from their set; they are read-only once built.
std::shared_ptr<const ECPOINT_FBW> builtin_table(ECURVE* c, const EC_WINDOW_TABLE& text) {
    static std::map<const EC_WINDOW_TABLE*, std::shared_ptr<const ECPOINT_FBW>> cache;
    LockGuard lock(CRYPTO_LOCK_ECURVE);
    auto& slot = cache[&text];
    if (!slot) slot = table_from_text(c, text);
    return slot;
}

// A number copied, or left empty when the source is.
bool copy_number(BnPtr& dst, const BnPtr& src) {
    dst.reset(src ? BN_dup(src.get()) : nullptr);
    return !src || dst;
}

// A curve of its own with every number, the field context and the base
// point of src (its window table shared, being read-only).
ECURVE* curve_copy(const ECURVE* src) {
    auto c = std::make_unique<ECURVE>();
    c->form = src->form;
    c->flags = src->flags;
    c->meth = src->meth;
    c->nid = src->nid;
    c->mont.reset(src->mont ? BN_MONT_CTX_new() : nullptr);
    if (!copy_number(c->p, src->p) || !copy_number(c->a, src->a) || !copy_number(c->b, src->b) ||
        !copy_number(c->q, src->q) || !copy_number(c->h, src->h) ||
        !copy_number(c->extra, src->extra) || !copy_number(c->J, src->J) ||
        !copy_number(c->a_field, src->a_field) || !copy_number(c->b_field, src->b_field) ||
        !copy_number(c->one_field, src->one_field) || !copy_number(c->r3, src->r3) ||
        (src->mont && (!c->mont || !BN_MONT_CTX_copy(c->mont.get(), src->mont.get()))))
        return nullptr;
    if (src->P) {
        c->P.reset(ECPOINT_dup(src->P.get()));
        if (!c->P) return nullptr;
        c->P->curve = c.get();
    }
    return c.release();
}

// Curves of the built-in parameter sets, set up once per set and form and
// copied for every caller: reading the hex text, preparing the field
// context and decoding the base point are paid once per process.
ECURVE* builtin_curve(const EC_PARAMS* set, int form) {
    const int index = ec_params_index(set);
    if (index < 0) return nullptr;
    static EcCurvePtr prototypes[kEcParamsCount][2];
    EcCurvePtr& slot = prototypes[index][form == EC_FORM_AFFINE ? 0 : 1];
    {
        LockGuard lock(CRYPTO_LOCK_ECURVE);
        if (!slot) {
            EcCurvePtr made(ECURVE_new(form));
            if (!made || !ECURVE_set(made.get(), set)) return nullptr;
            slot = std::move(made);
        }
    }
    return curve_copy(slot.get());
}

}  // namespace

void EcCurveDeleter::operator()(ECURVE* c) const { ECURVE_free(c); }

ECURVE* ECURVE_new(int form) {
    auto c = std::make_unique<ECURVE>();
    c->form = form == EC_FORM_AFFINE ? EC_FORM_AFFINE : EC_FORM_PROJECTIVE;
    c->meth = ECURVE_default_method();
    c->p.reset(BN_new());
    c->a.reset(BN_new());
    c->b.reset(BN_new());
    c->q.reset(BN_new());
    if (!c->p || !c->a || !c->b || !c->q) {
        ERR_set_last_error(ERR_CLASS_OUT_OF_MEMORY);
        CADB_ERR(ERR_LIB_ECGOST, ECGOST_F_ECURVE_NEW, ERR_R_MALLOC);
        return nullptr;
    }
    c->P.reset(ECPOINT_new(c.get()));
    if (!c->P) {
        CADB_ERR(ERR_LIB_ECGOST, ECGOST_F_ECURVE_NEW, ERR_R_MALLOC);
        return nullptr;
    }
    return c.release();
}

ECURVE* ECURVE_up_ref(ECURVE* c) {
    if (c) c->references.fetch_add(1, std::memory_order_relaxed);
    return c;
}

void ECURVE_free(ECURVE* c) {
    if (!c) return;
    if (c->references.fetch_sub(1, std::memory_order_acq_rel) > 1) return;
    delete c;
}

void ECURVE_release(ECURVE** c) {
    if (!c) return;
    ECURVE_free(*c);
    *c = nullptr;
}

const ECURVE_METHOD* ECURVE_set_method(ECURVE* c, const ECURVE_METHOD* meth) {
    if (c && meth) c->meth = meth;
    return meth;
}

int ECURVE_prepare(ECURVE* c) {
    const BIGNUM* p = c ? c->p.get() : nullptr;
    // Montgomery form needs an odd modulus; a field this small is no curve.
    if (!p || !c->a || !c->b || !BN_is_odd(p) || BN_num_bits(p) < 3 || BN_is_negative(p)) {
        CADB_ERR(ERR_LIB_ECGOST, ECGOST_F_ECURVE_SET, ERR_R_INTERNAL);
        return 0;
    }
    BnCtxPtr ctx(BN_CTX_new());
    c->mont.reset(BN_MONT_CTX_new());
    c->a_field.reset(BN_new());
    c->b_field.reset(BN_new());
    c->one_field.reset(BN_new());
    c->r3.reset(BN_new());
    BnPtr t = bn_new();
    if (!ctx || !c->mont || !c->a_field || !c->b_field || !c->one_field || !c->r3 || !t ||
        !BN_MONT_CTX_set(c->mont.get(), p, ctx.get()) ||
        !BN_nnmod(c->a.get(), c->a.get(), p, ctx.get()) ||
        !BN_nnmod(c->b.get(), c->b.get(), p, ctx.get()) ||
        !ec::to_field(c, c->a_field.get(), c->a.get(), ctx.get()) ||
        !ec::to_field(c, c->b_field.get(), c->b.get(), ctx.get()) ||
        !ec::to_field(c, c->one_field.get(), BN_value_one(), ctx.get()) ||
        !ec::to_field(c, c->r3.get(), c->one_field.get(), ctx.get()) ||
        !ec::to_field(c, c->r3.get(), c->r3.get(), ctx.get()) || !BN_copy(t.get(), p) ||
        !BN_sub_word(t.get(), 3)) {
        CADB_ERR(ERR_LIB_ECGOST, ECGOST_F_ECURVE_SET, ERR_R_MALLOC);
        return 0;
    }
    c->flags = BN_cmp(c->a.get(), t.get()) == 0 ? c->flags | ECURVE_FLAG_A_IS_MINUS_3
                                                : c->flags & ~ECURVE_FLAG_A_IS_MINUS_3;
    return 1;
}

int ECURVE_get_coefficients(ECURVE* c) {
    if (!c || !c->p || !c->J) {
        CADB_ERR(ERR_LIB_ECGOST, ECGOST_F_ECURVE_GET_COEFFICIENTS, ERR_R_NULL_PARAMETER);
        return 0;
    }
    const BIGNUM* p = c->p.get();
    BnCtxPtr ctx(BN_CTX_new());
    BnPtr k = bn_new(), d = bn_new(), j = bn_new(), a = bn_new(), b = bn_new();
    // k := J / (1728 - J); a := 3k, b := 2k. J = 0 and J = 1728 have no k.
    bool ok = ctx && k && d && j && a && b && BN_nnmod(j.get(), c->J.get(), p, ctx.get()) &&
              !BN_is_zero(j.get()) && BN_set_word(d.get(), 1728) &&
              BN_mod_sub(d.get(), d.get(), j.get(), p, ctx.get()) && !BN_is_zero(d.get()) &&
              BN_mod_inverse(d.get(), d.get(), p, ctx.get()) &&
              BN_mod_mul(k.get(), j.get(), d.get(), p, ctx.get()) &&
              BN_mod_lshift1(b.get(), k.get(), p, ctx.get()) &&
              BN_mod_add(a.get(), b.get(), k.get(), p, ctx.get());
    if (!ok) {
        CADB_ERR(ERR_LIB_ECGOST, ECGOST_F_ECURVE_GET_COEFFICIENTS, ERR_LIB_ECGOST);
        return 0;
    }
    c->a = std::move(a);
    c->b = std::move(b);
    return 1;
}

int ECURVE_set(ECURVE* c, const EC_PARAMS* set) {
    if (!c || !set) {
        CADB_ERR(ERR_LIB_ECGOST, ECGOST_F_ECURVE_SET, ERR_R_NULL_PARAMETER);
        return 0;
    }
    if (!read_hex(c->p, set->p) || !read_hex(c->a, set->a) || !read_hex(c->b, set->b) ||
        !read_hex(c->q, set->q) || !read_hex(c->h, set->h) || !read_hex(c->extra, set->extra) ||
        !read_hex(c->J, set->J) || !c->p || !c->q) {
        CADB_ERR(ERR_LIB_ECGOST, ECGOST_F_ECURVE_SET, ERR_LIB_ECGOST);
        return 0;
    }
    if (!c->a && !c->b && c->J && !ECURVE_get_coefficients(c)) {
        CADB_ERR(ERR_LIB_ECGOST, ECGOST_F_ECURVE_SET, ERR_LIB_ECGOST);
        return 0;
    }
    c->nid = set->nid;
    c->flags =
        c->h ? c->flags | ECURVE_FLAG_KNOWN_GROUP_ORDER : c->flags & ~ECURVE_FLAG_KNOWN_GROUP_ORDER;
    EcPointPtr base(ECPOINT_new(c));
    if (!ECURVE_prepare(c) || !base || !ECPOINT_hex2point(c, set->base, base.get())) {
        CADB_ERR(ERR_LIB_ECGOST, ECGOST_F_ECURVE_SET, ERR_LIB_ECGOST);
        return 0;
    }
    c->P = std::move(base);
    c->meth = ECURVE_default_method();
    if (set->table) {
        c->P->table = builtin_table(c, *set->table);
        if (!c->P->table) {
            CADB_ERR(ERR_LIB_ECGOST, ECGOST_F_ECURVE_SET, ERR_LIB_ECGOST);
            return 0;
        }
        c->meth = ECURVE_fixed_base_window_method();
    }
    return 1;
}

ECURVE* ECURVE_init(const EC_PARAMS* set, int form) {
    if (!set) set = ec_params_for_code(ECURVE_CODE_P256);
    if (ECURVE* built_in = builtin_curve(set, form)) return built_in;
    EcCurvePtr c(ECURVE_new(form));
    if (!c || !ECURVE_set(c.get(), set)) {
        CADB_ERR(ERR_LIB_ECGOST, ECGOST_F_ECURVE_INIT, ERR_LIB_ECGOST);
        return nullptr;
    }
    return c.release();
}

ECURVE* ECURVE_new_from_params(const EC_PARAMS* set) {
    return ECURVE_init(set, EC_FORM_PROJECTIVE);
}

const EC_PARAMS* ECURVE_params_by_code(int code) { return ec_params_for_code(code); }

ECURVE* ECURVE_new_by_code(int code) {
    const EC_PARAMS* set = ec_params_for_code(code);
    if (!set) {
        ERR_set_last_error(ERR_CLASS_UNKNOWN_CODE);
        CADB_ERR(ERR_LIB_ECGOST, ECGOST_F_ECURVE_INIT, ERR_R_INTERNAL);
        return nullptr;
    }
    return ECURVE_new_from_params(set);
}

int GOST_nid2curve_code(int nid) {
    if (nid >= NID_R3410_2001_A_PARAMSET && nid <= NID_R3410_2001_XCHB_PARAMSET)
        return ECURVE_CODE_CRYPTOPRO_A + (nid - NID_R3410_2001_A_PARAMSET);
    if (nid == NID_PRIME256V1) return ECURVE_CODE_P256;
    return 0;
}

int ECURVE_cmp(const ECURVE* c1, const ECURVE* c2) {
    if (!c1 || !c2) return -1;
    if (c1 == c2) return 0;
    auto same = [](const BnPtr& x, const BnPtr& y) {
        return x && y ? BN_cmp(x.get(), y.get()) == 0 : !x && !y;
    };
    return same(c1->p, c2->p) && same(c1->a, c2->a) && ECPOINT_cmp(c1->P.get(), c2->P.get()) == 0 &&
                   same(c1->b, c2->b) && same(c1->q, c2->q)
               ? 0
               : -1;
}

}  // namespace cadb
