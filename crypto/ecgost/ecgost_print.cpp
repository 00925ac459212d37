// Text dumps of GOST R 34.10-2001 keys and curves.
#include <openssl/bio.h>
#include <openssl/bn.h>

#include "crypto/bn/bn_ptr.h"
#include "crypto/core/bn_print.h"
#include "crypto/core/objects.h"
#include "crypto/ecgost/ecgost.h"
#include "crypto/ecgost/ecgost_evp.h"

namespace cadb {
namespace {

int print_point(BIO* out, const char* label, const ECPOINT* pt, int indent) {
    if (pt == nullptr) return 1;
    EcPointPtr affine(ECPOINT_dup(pt));
    if (!affine || !ECPOINT_to_affine(affine.get())) return 0;
    return BIO_indent(out, indent, 128) && BIO_printf(out, "%s\n", label) > 0 &&
           BN_print_labelled(out, "x: ", affine->x.get(), indent + 4) &&
           BN_print_labelled(out, "y: ", affine->y.get(), indent + 4);
}

int print_name(BIO* out, int nid, int indent) {
    const char* name = nid != 0 ? OBJ_nid2sn(nid) : nullptr;
    if (name == nullptr) return 1;
    return BIO_indent(out, indent, 128) && BIO_printf(out, "Parameters OID: %s\n", name) > 0;
}

}  // namespace

int ECGOSTparams_print(BIO* out, const ECGOST* key, int indent) {
    if (out == nullptr || key == nullptr || key->curve == nullptr || !key->curve->p) return 0;
    const ECURVE* c = key->curve;
    return BIO_indent(out, indent, 128) &&
           BIO_printf(out, "ECGOST-Parameters: (%d bits)\n", BN_num_bits(c->p.get())) > 0 &&
           BN_print_labelled(out, "prime: ", c->p.get(), indent) &&
           print_point(out, "base: ", c->P.get(), indent) &&
           BN_print_labelled(out, "order: ", c->q.get(), indent) &&
           BN_print_labelled(out, "cofactor: ", c->h.get(), indent) &&
           print_name(out, key->nid, indent);
}

int ECGOST_print(BIO* out, const ECGOST* key, int indent) {
    if (out == nullptr || key == nullptr) return 0;
    if (!key->Q || key->curve == nullptr) return 0;
    return print_point(out, "pub: ", key->Q.get(), indent) && ECGOSTparams_print(out, key, indent);
}

}  // namespace cadb
