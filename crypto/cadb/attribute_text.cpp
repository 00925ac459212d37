// Request attributes made from local text by the same type rules as name
// entries.
#include <openssl/x509.h>

#include <cstring>
#include <memory>

#include "crypto/cadb/str_convert.h"
#include "crypto/core/err.h"
#include "crypto/core/objects.h"

namespace cadb {

int X509_ATTRIBUTES_add_text(STACK_OF(X509_ATTRIBUTE) * *attributes, int nid, const char* text,
                             int len, int* type, int flags) {
    auto fail = [](bool step) {
        if (step) CADB_ERR(ERR_LIB_X509_, X509_F_X509_ATTRIBUTES_ADD_TEXT, ERR_R_INTERNAL);
        CADB_ERR(ERR_LIB_X509_, X509_F_X509_ATTRIBUTES_ADD_TEXT, ERR_LIB_X509_);
        return 0;
    };
    if (attributes == nullptr || text == nullptr || type == nullptr) return fail(true);
    if (len <= 0) len = static_cast<int>(std::strlen(text));
    int chosen = *type;
    if (!X509_NAME_ENTRY_choose_type(nid, &chosen, text, len, flags)) return fail(false);
    const ASN1_OBJECT* object = OBJ_nid2obj(nid);
    std::unique_ptr<ASN1_STRING, decltype(&ASN1_STRING_free)> value(ASN1_STRING_type_new(chosen),
                                                                    ASN1_STRING_free);
    if (object == nullptr || !value) return fail(true);
    if (!X509_NAME_ENTRY_set_text(value.get(), text, len, chosen)) return fail(false);
    std::unique_ptr<X509_ATTRIBUTE, decltype(&X509_ATTRIBUTE_free)> attribute(
        X509_ATTRIBUTE_create_by_OBJ(nullptr, object, chosen, ASN1_STRING_get0_data(value.get()),
                                     ASN1_STRING_length(value.get())),
        X509_ATTRIBUTE_free);
    if (!attribute) {
        ERR_move_openssl_errors(ERR_LIB_X509_, X509_F_X509_ATTRIBUTES_ADD_TEXT);
        return fail(true);
    }
    // The stack gets a copy; a stack made for it is freed again on failure.
    if (X509at_add1_attr(attributes, attribute.get()) == nullptr) {
        ERR_move_openssl_errors(ERR_LIB_X509_, X509_F_X509_ATTRIBUTES_ADD_TEXT);
        return fail(true);
    }
    *type = chosen;
    return 1;
}

}  // namespace cadb
