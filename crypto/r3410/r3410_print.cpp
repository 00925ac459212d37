// Checks and text dumps of GOST R 34.10-94 keys.
#include <openssl/bio.h>
#include <openssl/bn.h>

#include "crypto/bn/bn_ptr.h"
#include "crypto/core/bn_print.h"
#include "crypto/core/objects.h"
#include "crypto/r3410/r3410.h"
#include "crypto/r3410/r3410_evp.h"

namespace cadb {
namespace {

int print_generation(BIO* out, const GOSTS* key, int indent) {
    if (key->x0 == 0 && key->c == 0) return 1;
    return BIO_indent(out, indent, 128) &&
           BIO_printf(out, "    x0: %u (0x%x)\n", key->x0, key->x0) > 0 &&
           BIO_indent(out, indent, 128) &&
           BIO_printf(out, "    c:  %u (0x%x)\n", key->c, key->c) > 0;
}

int print_numbers(BIO* out, const GOSTS* key, int indent) {
    return BN_print_labelled(out, "P:   ", key->p.get(), indent) &&
           BN_print_labelled(out, "Q:   ", key->q.get(), indent) &&
           BN_print_labelled(out, "A:   ", key->a.get(), indent);
}

}  // namespace

int R3410_check_pubkey(const GOSTS* key, int full) {
    if (key == nullptr || !key->y || !key->p || !key->q) return 0;
    if (BN_is_zero(key->y.get()) || BN_is_negative(key->y.get()) ||
        BN_cmp(key->y.get(), key->p.get()) >= 0)
        return 0;
    if (!full) return 1;
    BnCtxPtr ctx(BN_CTX_new());
    BnPtr r = bn_new();
    if (!ctx || !r || !BN_mod_exp(r.get(), key->y.get(), key->q.get(), key->p.get(), ctx.get()))
        return 0;
    return BN_is_one(r.get());
}

int R3410_print(BIO* out, const GOSTS* key, int indent) {
    if (out == nullptr || key == nullptr) return 0;
    if (!BN_print_labelled(out, "pub: ", key->y.get(), indent) || !print_numbers(out, key, indent))
        return 0;
    if (key->param_nid != 0) {
        const char* name = OBJ_nid2sn(key->param_nid);
        if (name != nullptr &&
            (!BIO_indent(out, indent, 128) || BIO_printf(out, "Parameters OID: %s\n", name) <= 0))
            return 0;
    }
    return print_generation(out, key, indent);
}

int R3410params_print(BIO* out, const GOSTS* key, int indent) {
    if (out == nullptr || key == nullptr || !key->p) return 0;
    return BIO_indent(out, indent, 128) &&
           BIO_printf(out, "R3410-Parameters: (%d bits)\n", BN_num_bits(key->p.get())) > 0 &&
           print_numbers(out, key, indent) && print_generation(out, key, indent);
}

}  // namespace cadb
