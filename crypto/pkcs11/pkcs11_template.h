// Attribute templates: growable CK_ATTRIBUTE arrays that own a copy of every
// value, handed to the token calls as they stand, and the fixed templates
// with which the library marks and finds its objects on a token.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "crypto/pkcs11/cryptoki.h"

namespace cadb {

// Function codes of library 81 used by the templates.
enum : int {
    PKCS11_F_PKCS11_TEMPLATE_NEW = 106,
    PKCS11_F_PKCS11_TEMPLATE_ADD = 107,
    PKCS11_F_PKCS11_TEMPLATE_FIND = 109,
    PKCS11_F_PKCS11_TEMPLATE_PRIVATE_KEYS = 117,
    PKCS11_F_PKCS11_TEMPLATE_PUBLIC_KEYS = 118,
    PKCS11_F_PKCS11_TEMPLATE_PUBLIC_KEY = 119,
    PKCS11_F_PKCS11_TEMPLATE_PRIVATE_KEY = 120,
    PKCS11_F_PKCS11_TEMPLATE_DERIVED_KEY = 158,
    PKCS11_F_PKCS11_TEMPLATE_CERTIFICATES = 163,
    PKCS11_F_PKCS11_TEMPLATE_DATA = 167,
};

// Kinds of the key templates: bit 0 set asks for the generation form.
inline constexpr int PKCS11_KEY_STORED = 0;
inline constexpr int PKCS11_KEY_GENERATION = 1;

struct PKCS11_TEMPLATE {
    // Passed to the token calls unchanged; a call may rewrite the lengths,
    // so the owned values below remember their own sizes.
    std::vector<CK_ATTRIBUTE> attributes;
    std::vector<std::vector<unsigned char>> values;  // values[i] backs attributes[i]

    CK_ATTRIBUTE* data() { return attributes.data(); }
    CK_ULONG count() const { return attributes.size(); }
};

// An empty template; null with (81, 106, 33).
PKCS11_TEMPLATE* PKCS11_TEMPLATE_new();
// Sets the attribute of that type, replacing the value of one already present
// or adding it at the end. A nonzero length stores a copy of length bytes
// (zeros when value is null: room for C_GetAttributeValue); length 0 stores
// no value. 0 with reason 35 for a null template or 33 for memory.
int PKCS11_TEMPLATE_add(PKCS11_TEMPLATE* t, CK_ATTRIBUTE_TYPE type, const void* value,
                        CK_ULONG length);
// Typed forms of add for the two scalar kinds.
int PKCS11_TEMPLATE_add_ulong(PKCS11_TEMPLATE* t, CK_ATTRIBUTE_TYPE type, CK_ULONG value);
int PKCS11_TEMPLATE_add_bool(PKCS11_TEMPLATE* t, CK_ATTRIBUTE_TYPE type, bool value);
// A text value, stored without its terminating zero.
int PKCS11_TEMPLATE_add_text(PKCS11_TEMPLATE* t, CK_ATTRIBUTE_TYPE type, const char* text);
// The first attribute of that type, or null.
CK_ATTRIBUTE* PKCS11_TEMPLATE_find(PKCS11_TEMPLATE* t, CK_ATTRIBUTE_TYPE type);
// Wipes every value, then frees them and the template. Null is ignored.
void PKCS11_TEMPLATE_free(PKCS11_TEMPLATE* t);
struct PKCS11_TEMPLATE_deleter {
    void operator()(PKCS11_TEMPLATE* t) const { PKCS11_TEMPLATE_free(t); }
};
using PKCS11_TEMPLATE_ptr = std::unique_ptr<PKCS11_TEMPLATE, PKCS11_TEMPLATE_deleter>;
// Sets CKA_GOSTR3410_PARAMS to the DER identifier of a GOST R 34.10-2001
// parameter set; an unknown NID gives the default set (CryptoPro A).
int PKCS11_TEMPLATE_add_gost_params(PKCS11_TEMPLATE* t, int nid);

// Search templates: every token object of the class.
PKCS11_TEMPLATE* PKCS11_TEMPLATE_private_keys();
PKCS11_TEMPLATE* PKCS11_TEMPLATE_public_keys();
PKCS11_TEMPLATE* PKCS11_TEMPLATE_certificates();
// GOST R 34.10-2001 key objects, stored or being generated.
PKCS11_TEMPLATE* PKCS11_TEMPLATE_public_key(int kind);
PKCS11_TEMPLATE* PKCS11_TEMPLATE_private_key(int kind);
// Session secret keys whose value can be read back.
PKCS11_TEMPLATE* PKCS11_TEMPLATE_derived_key();
PKCS11_TEMPLATE* PKCS11_TEMPLATE_unwrapped_key();
// Data objects of this library.
PKCS11_TEMPLATE* PKCS11_TEMPLATE_data();

}  // namespace cadb
