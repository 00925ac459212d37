#include "wrappers/x509_ext.h"

#include <openssl/asn1t.h>

#include <array>

#include "crypto/core/objects.h"

namespace cadb {

namespace {

// subjectDirectoryAttributes: SEQUENCE SIZE (1..MAX) OF Attribute.
using SUBJECT_DIRECTORY_ATTRIBUTES = STACK_OF(X509_ATTRIBUTE);
ASN1_ITEM_TEMPLATE(SUBJECT_DIRECTORY_ATTRIBUTES) = ASN1_EX_TEMPLATE_TYPE(
    ASN1_TFLG_SEQUENCE_OF, 0, SubjectDirectoryAttributes, X509_ATTRIBUTE)
ASN1_ITEM_TEMPLATE_END(SUBJECT_DIRECTORY_ATTRIBUTES)

struct ValueType {
    int nid;  // the library's number
    const ASN1_ITEM* (*item)();
};

// The extensions whose values a template may carry, with their DER types.
const std::array<ValueType, 25>& value_types() {
    static const std::array<ValueType, 25> kTypes = {{
        {82, ASN1_OCTET_STRING_it},
        {83, ASN1_BIT_STRING_it},
        {84, PKEY_USAGE_PERIOD_it},
        {85, GENERAL_NAMES_it},
        {86, GENERAL_NAMES_it},
        {215, GENERAL_NAMES_it},
        {87, BASIC_CONSTRAINTS_it},
        {88, ASN1_INTEGER_it},
        {140, ASN1_INTEGER_it},
        {200, ASN1_INTEGER_it},
        {89, CERTIFICATEPOLICIES_it},
        {90, AUTHORITY_KEYID_it},
        {103, CRL_DIST_POINTS_it},
        {201, CRL_DIST_POINTS_it},
        {126, EXTENDED_KEY_USAGE_it},
        {141, ASN1_ENUMERATED_it},
        {142, ASN1_GENERALIZEDTIME_it},
        {202, POLICY_MAPPINGS_it},
        {203, POLICY_CONSTRAINTS_it},
        {204, NAME_CONSTRAINTS_it},
        {206, AUTHORITY_INFO_ACCESS_it},
        {207, AUTHORITY_INFO_ACCESS_it},
        {213, ISSUING_DIST_POINT_it},
        {214, ASN1_OBJECT_it},
        {220, SUBJECT_DIRECTORY_ATTRIBUTES_it},
    }};
    return kTypes;
}

const ASN1_ITEM* value_item(int nid) {
    for (const ValueType& t : value_types())
        if (t.nid == nid) return t.item();
    return nullptr;
}

// The DER of a value of the given type, or nothing.
template <typename T>
std::optional<std::string> encode(const ASN1_ITEM* item, T* value) {
    unsigned char* der = nullptr;
    const int n = ASN1_item_i2d(reinterpret_cast<ASN1_VALUE*>(value), &der, item);
    if (n <= 0) return std::nullopt;
    std::string out(reinterpret_cast<char*>(der), static_cast<std::size_t>(n));
    OPENSSL_free(der);
    return out;
}

}  // namespace

// --- TASN1Object -------------------------------------------------------------

void TASN1Object::setObjectId(int nid) {
    char dotted[kMaxObjectIdText + 1];
    const int n = OBJ_nid2oid(nid, dotted, sizeof dotted);
    object_id_ = n > 0 && n <= static_cast<int>(kMaxObjectIdText) ? dotted : "";
}

// --- TX509Extension ----------------------------------------------------------

std::string DecodeTemplateHex(const std::string& text) {
    auto nibble = [](char c) -> unsigned {
        if (c >= '0' && c <= '9') return static_cast<unsigned>(c - '0');
        if (c >= 'a' && c <= 'f') return static_cast<unsigned>(c - 'a' + 10);
        if (c >= 'A' && c <= 'F') return static_cast<unsigned>(c - 'A' + 10);
        return 0;
    };
    std::string out;
    out.reserve(text.size() / 2);
    for (std::size_t i = 0; i + 1 < text.size(); i += 2)
        out.push_back(static_cast<char>(nibble(text[i]) << 4 | nibble(text[i + 1])));
    return out;
}

namespace {

// The data child of a template Object with the given type: the walk starts
// at the first element named Data and goes on over its following elements,
// whatever their names.
XmlNode template_data(const XmlNode& object, std::string_view type) {
    for (XmlNode n = object.child_element("Data"); n; n = n.next_sibling()) {
        if (n.type() != XmlNodeType::kElement) continue;
        if (n.attribute("type") == type) return n;
    }
    return {};
}

}  // namespace

bool TX509Extension::templateCritical(const XmlNode& object) {
    const XmlNode data = template_data(object, "BOOLEAN");
    return data && data.text() == "255";
}

std::optional<std::string> TX509Extension::templateValue(const XmlNode& object) {
    const XmlNode data = template_data(object, "OCTET_STRING");
    if (!data) return std::nullopt;
    return DecodeTemplateHex(data.text());
}

bool TX509Extension::decodesAs(int nid, const std::string& der) {
    const ASN1_ITEM* item = value_item(nid);
    if (!item || der.empty()) return false;
    const auto* p = reinterpret_cast<const unsigned char*>(der.data());
    const auto* end = p + der.size();
    ASN1_VALUE* value = ASN1_item_d2i(nullptr, &p, static_cast<long>(der.size()), item);
    const bool whole = value && p == end;
    ASN1_item_free(value, item);
    return whole;
}

int TX509Extension::stackAdd(STACK_OF(X509_EXTENSION) * *stack, int nid, bool critical,
                             const std::string& der) {
    const int openssl_nid = OBJ_nid2openssl(nid);
    if (!stack || openssl_nid == NID_undef) return 0;
    if (*stack && X509v3_get_ext_by_NID(*stack, openssl_nid, -1) >= 0) return 0;
    std::unique_ptr<ASN1_OCTET_STRING, decltype(&ASN1_OCTET_STRING_free)> value(
        ASN1_OCTET_STRING_new(), ASN1_OCTET_STRING_free);
    if (!value || !ASN1_OCTET_STRING_set(value.get(), reinterpret_cast<const unsigned char*>(der.data()),
                                         static_cast<int>(der.size())))
        return 0;
    std::unique_ptr<X509_EXTENSION, decltype(&X509_EXTENSION_free)> ext(
        X509_EXTENSION_create_by_NID(nullptr, openssl_nid, critical ? 1 : 0, value.get()),
        X509_EXTENSION_free);
    return ext && X509v3_add_ext(stack, ext.get(), -1) ? 1 : 0;
}

int TX509Extension::addToStack(STACK_OF(X509_EXTENSION) * *stack, const XmlNode* element) {
    if (!element || !stack || nid_ == 0) return -1;
    critical_ = templateCritical(*element);
    const auto der = templateValue(*element);
    if (!der || !decodesAs(nid_, *der)) return 0;
    return stackAdd(stack, nid_, critical_, *der);
}

// --- TKeyUsageExt ------------------------------------------------------------

TKeyUsageExt::TKeyUsageExt()
    : TX509Extension(NID_key_usage), bits_(ASN1_BIT_STRING_new(), ASN1_BIT_STRING_free) {
    setObjectId(nid_);
}

TKeyUsageExt::TKeyUsageExt(const TKeyUsageExt& other)
    : TX509Extension(other),
      bits_(other.bits_ ? ASN1_STRING_dup(other.bits_.get()) : nullptr, ASN1_BIT_STRING_free) {}

bool TKeyUsageExt::setBits(unsigned mask) {
    if (!bits_) return false;
    bool all = true;
    for (int bit = 0; bit <= 8; ++bit)
        if (mask & (1u << bit)) all = ASN1_BIT_STRING_set_bit(bits_.get(), bit, 1) && all;
    return all;
}

int TKeyUsageExt::addToStack(STACK_OF(X509_EXTENSION) * *stack, const XmlNode* element) {
    if (!stack || !bits_) return 0;
    // The key usage answers in its own way: from a template 0 for added and
    // 1 for not added; built in code always 1.
    if (element) {
        critical_ = templateCritical(*element);
        const auto der = templateValue(*element);
        return der && decodesAs(nid_, *der) && stackAdd(stack, nid_, critical_, *der) == 1 ? 0 : 1;
    }
    if (const auto der = encode(ASN1_ITEM_rptr(ASN1_BIT_STRING), bits_.get()))
        stackAdd(stack, nid_, critical_, *der);
    return 1;
}

// --- TExtKeyUsageExt ---------------------------------------------------------

TExtKeyUsageExt::TExtKeyUsageExt()
    : TX509Extension(NID_ext_key_usage),
      purposes_(sk_ASN1_OBJECT_new_null(), EXTENDED_KEY_USAGE_free) {
    setObjectId(nid_);
}

TExtKeyUsageExt::TExtKeyUsageExt(const TExtKeyUsageExt& other)
    : TX509Extension(other), purposes_(sk_ASN1_OBJECT_new_null(), EXTENDED_KEY_USAGE_free) {
    if (!purposes_ || !other.purposes_) return;
    for (int i = 0; i < sk_ASN1_OBJECT_num(other.purposes_.get()); ++i) {
        ASN1_OBJECT* copy = OBJ_dup(sk_ASN1_OBJECT_value(other.purposes_.get(), i));
        if (!copy || !sk_ASN1_OBJECT_push(purposes_.get(), copy)) ASN1_OBJECT_free(copy);
    }
}

bool TExtKeyUsageExt::addPurpose(const std::string& purpose) {
    if (!purposes_) return false;
    const int nid = OBJ_txt2nid(purpose.c_str());
    const ASN1_OBJECT* known = nid != NID_undef ? OBJ_nid2obj(nid) : nullptr;
    ASN1_OBJECT* object = known ? OBJ_dup(known) : ::OBJ_txt2obj(purpose.c_str(), 1);
    if (!object) return false;
    if (sk_ASN1_OBJECT_push(purposes_.get(), object) <= 0) {
        ASN1_OBJECT_free(object);
        return false;
    }
    return true;
}

int TExtKeyUsageExt::addToStack(STACK_OF(X509_EXTENSION) * *stack, const XmlNode* element) {
    if (element) return -1;  // templates are not read for this kind
    if (!stack || !purposes_) return 0;
    const auto der = encode(ASN1_ITEM_rptr(EXTENDED_KEY_USAGE), purposes_.get());
    return der ? stackAdd(stack, nid_, critical_, *der) : 0;
}

// --- TBasicConstraintsExt ----------------------------------------------------

TBasicConstraintsExt::TBasicConstraintsExt()
    : TX509Extension(NID_basic_constraints),
      value_(BASIC_CONSTRAINTS_new(), BASIC_CONSTRAINTS_free) {
    setObjectId(nid_);
}

TBasicConstraintsExt::TBasicConstraintsExt(const TBasicConstraintsExt& other)
    : TX509Extension(other), value_(BASIC_CONSTRAINTS_new(), BASIC_CONSTRAINTS_free) {
    if (!value_ || !other.value_) return;
    value_->ca = other.value_->ca;
    if (other.value_->pathlen) value_->pathlen = ASN1_INTEGER_dup(other.value_->pathlen);
}

bool TBasicConstraintsExt::set(bool ca, long pathLength) {
    if (!value_) return false;
    value_->ca = ca ? 255 : 0;
    ASN1_INTEGER_free(value_->pathlen);
    value_->pathlen = nullptr;
    if (pathLength < 0) return true;
    value_->pathlen = ASN1_INTEGER_new();
    return value_->pathlen && ASN1_INTEGER_set(value_->pathlen, pathLength) > 0;
}

int TBasicConstraintsExt::addToStack(STACK_OF(X509_EXTENSION) * *stack, const XmlNode* element) {
    if (!stack || !value_) return 0;
    if (element) {
        critical_ = templateCritical(*element);
        const auto der = templateValue(*element);
        if (!der || !decodesAs(nid_, *der)) return 0;
        return stackAdd(stack, nid_, critical_, *der);
    }
    const auto der = encode(ASN1_ITEM_rptr(BASIC_CONSTRAINTS), value_.get());
    return der ? stackAdd(stack, nid_, critical_, *der) : 0;
}

}  // namespace cadb
