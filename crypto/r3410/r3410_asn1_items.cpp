#include "crypto/r3410/r3410_asn1_items.h"

namespace cadb {

ASN1_SEQUENCE(R3410_SIG_DER) =
    {
        ASN1_SIMPLE(R3410_SIG_DER, r, ASN1_INTEGER),
        ASN1_SIMPLE(R3410_SIG_DER, s, ASN1_INTEGER),
} ASN1_SEQUENCE_END(R3410_SIG_DER)

        ASN1_SEQUENCE(R3410_GENVAL) =
            {
                ASN1_SIMPLE(R3410_GENVAL, x0, ASN1_INTEGER),
                ASN1_SIMPLE(R3410_GENVAL, c, ASN1_INTEGER),
} ASN1_SEQUENCE_END(R3410_GENVAL)

                ASN1_CHOICE(R3410_GEN) =
                    {
                        ASN1_SIMPLE(R3410_GEN, value.none, ASN1_NULL),
                        ASN1_SIMPLE(R3410_GEN, value.values, R3410_GENVAL),
} ASN1_CHOICE_END(R3410_GEN)

                        ASN1_SEQUENCE(R3410_PARAMS_DER) =
                            {
                                ASN1_SIMPLE(R3410_PARAMS_DER, p, ASN1_INTEGER),
                                ASN1_SIMPLE(R3410_PARAMS_DER, q, ASN1_INTEGER),
                                ASN1_SIMPLE(R3410_PARAMS_DER, a, ASN1_INTEGER),
                                ASN1_SIMPLE(R3410_PARAMS_DER, gen, R3410_GEN),
} ASN1_SEQUENCE_END(R3410_PARAMS_DER)

                                ASN1_SEQUENCE(R3410_WRAPPED) =
                                    {
                                        ASN1_SIMPLE(R3410_WRAPPED, key, ASN1_INTEGER),
                                        ASN1_SIMPLE(R3410_WRAPPED, check, ASN1_INTEGER),
} ASN1_SEQUENCE_END(R3410_WRAPPED)

                                        ASN1_CHOICE(R3410_PRIV_X) =
                                            {
                                                ASN1_SIMPLE(R3410_PRIV_X, value.x, ASN1_INTEGER),
                                                ASN1_SIMPLE(R3410_PRIV_X, value.wrapped,
                                                            R3410_WRAPPED),
} ASN1_CHOICE_END(R3410_PRIV_X)

                                                ASN1_SEQUENCE(R3410_PRIV_DER) =
                                                    {
                                                        ASN1_SIMPLE(R3410_PRIV_DER, version, ASN1_INTEGER),
                                                        ASN1_SIMPLE(R3410_PRIV_DER, p, ASN1_INTEGER),
                                                        ASN1_SIMPLE(R3410_PRIV_DER, q, ASN1_INTEGER),
                                                        ASN1_SIMPLE(R3410_PRIV_DER, a, ASN1_INTEGER),
                                                        ASN1_SIMPLE(R3410_PRIV_DER, y, ASN1_INTEGER),
                                                        ASN1_SIMPLE(R3410_PRIV_DER, x, R3410_PRIV_X),
} ASN1_SEQUENCE_END(R3410_PRIV_DER)

                                                        ASN1_SEQUENCE(R3410_PUB_SEQ) =
                                                            {
                                                                ASN1_SIMPLE(R3410_PUB_SEQ, y,
                                                                            ASN1_INTEGER),
                                                                ASN1_SIMPLE(R3410_PUB_SEQ, p,
                                                                            ASN1_INTEGER),
                                                                ASN1_SIMPLE(R3410_PUB_SEQ, q,
                                                                            ASN1_INTEGER),
                                                                ASN1_SIMPLE(R3410_PUB_SEQ, a,
                                                                            ASN1_INTEGER),
} ASN1_SEQUENCE_END(R3410_PUB_SEQ)

                                                                ASN1_CHOICE(R3410_PUB_DER) = {
                                                                    ASN1_SIMPLE(R3410_PUB_DER,
                                                                                value.y,
                                                                                ASN1_INTEGER),
                                                                    ASN1_SIMPLE(R3410_PUB_DER,
                                                                                value.seq,
                                                                                R3410_PUB_SEQ),
} ASN1_CHOICE_END(R3410_PUB_DER)

}  // namespace cadb
