#include "crypto/x509v3/ext_print.h"

#include <openssl/bn.h>
#include <openssl/err.h>
#include <openssl/objects.h>

#include <climits>
#include <cstdio>
#include <memory>
#include <mutex>
#include <shared_mutex>
#include <vector>

#include "crypto/cadb/name_print.h"
#include "crypto/cadb/name_text.h"
#include "crypto/core/objects.h"

namespace cadb {
namespace {

// What the printers build before writing it out in one piece.
struct Text {
    std::string s;
    void pad(int n) { s.append(static_cast<std::size_t>(n > 0 ? n : 0), ' '); }
    Text& line(int indent, const std::string& t) {
        pad(indent);
        s += t;
        s += '\n';
        return *this;
    }
    int write(BIO* out) const {
        return s.size() < INT_MAX &&
               BIO_write(out, s.data(), static_cast<int>(s.size())) == static_cast<int>(s.size());
    }
};

std::string object_text(const ASN1_OBJECT* obj, std::size_t room = 80) {
    std::string buf(room, '\0');
    const int n = ::OBJ_obj2txt(buf.data(), static_cast<int>(room), obj, 0);
    if (n <= 0) return {};
    buf.resize(std::min(static_cast<std::size_t>(n), room - 1));
    return buf;
}

std::string dotted(const ASN1_OBJECT* obj) {
    char buf[128];
    const int n = ::OBJ_obj2txt(buf, sizeof buf, obj, 1);
    return n > 0 ? std::string(buf, std::min<std::size_t>(static_cast<std::size_t>(n), sizeof buf - 1))
                 : std::string();
}

// IPv6 as eight hexadecimal groups, none left out: the text libcrypto's
// printers gave these names before this listing took them over.
std::string ipv6_text(const unsigned char* b) {
    std::string text;
    for (int i = 0; i < 16; i += 2) {
        char group[6];
        std::snprintf(group, sizeof group, i == 0 ? "%X" : ":%X", (b[i] << 8) | b[i + 1]);
        text += group;
    }
    return text;
}

// An address alone, or an address and its mask as name constraints hold them.
std::string ip_text(const ASN1_OCTET_STRING* ip) {
    const unsigned char* b = ASN1_STRING_get0_data(ip);
    char text[40];
    switch (ASN1_STRING_length(ip)) {
        case 4: std::snprintf(text, sizeof text, "%d.%d.%d.%d", b[0], b[1], b[2], b[3]); break;
        case 8:
            std::snprintf(text, sizeof text, "%d.%d.%d.%d/%d.%d.%d.%d", b[0], b[1], b[2], b[3],
                          b[4], b[5], b[6], b[7]);
            break;
        case 16: return ipv6_text(b);
        case 32: return ipv6_text(b) + "/" + ipv6_text(b + 16);
        default: return "<invalid>";
    }
    return text;
}

std::string name_text(const X509_NAME* name) {
    std::unique_ptr<BIO, decltype(&BIO_free)> mem(BIO_new(BIO_s_mem()), BIO_free);
    if (mem && X509_NAME_print_rfc2253(mem.get(), name, 0)) {
        char* p = nullptr;
        const long n = BIO_get_mem_data(mem.get(), &p);
        return std::string(p, static_cast<std::size_t>(n));
    }
    char line[1024];
    return cadb::X509_NAME_oneline(name, line, sizeof line) != nullptr ? line : "";
}

bool names(Text& t, const GENERAL_NAMES* gns, int indent) {
    for (int i = 0; i < sk_GENERAL_NAME_num(gns); ++i) {
        const auto [name, value] = GENERAL_NAME_pair(sk_GENERAL_NAME_value(gns, i));
        t.line(indent, name + ": " + value);
    }
    return true;
}

// The reason-flag names of the extension layer, bit 0 first.
const char* const kReasons[] = {"Unused",
                                "Key Compromise",
                                "CA Compromise",
                                "Affiliation Changed",
                                "Superseded",
                                "Cessation Of Operation",
                                "Certificate Hold",
                                "Privilege Withdrawn",
                                "AA Compromise"};

void reasons(Text& t, const ASN1_BIT_STRING* bits, int indent) {
    std::string joined;
    for (int i = 0; i < 9; ++i) {
        if (!ASN1_BIT_STRING_get_bit(bits, i)) continue;
        if (!joined.empty()) joined += ", ";
        joined += kReasons[i];
    }
    t.line(indent, joined);
}

bool dist_point_name(Text& t, const DIST_POINT_NAME* dpn, int indent) {
    if (dpn->type == 0) {
        t.line(indent, "Full Name:");
        return names(t, dpn->name.fullname, indent + 2);
    }
    t.line(indent, "Name Relative To CRL Issuer:");
    std::unique_ptr<X509_NAME, decltype(&X509_NAME_free)> rdn(X509_NAME_new(), X509_NAME_free);
    if (!rdn) return false;
    for (int i = 0; i < sk_X509_NAME_ENTRY_num(dpn->name.relativename); ++i)
        if (!X509_NAME_add_entry(rdn.get(), sk_X509_NAME_ENTRY_value(dpn->name.relativename, i),
                                 -1, i == 0 ? 0 : -1))
            return false;
    t.line(indent + 2, name_text(rdn.get()));
    return true;
}

bool value_line(Text& t, const ASN1_TYPE* v) {
    switch (v->type) {
        case V_ASN1_UTF8STRING:
        case V_ASN1_PRINTABLESTRING:
        case V_ASN1_T61STRING:
        case V_ASN1_IA5STRING:
        case V_ASN1_VISIBLESTRING:
        case V_ASN1_BMPSTRING: {
            std::unique_ptr<BIO, decltype(&BIO_free)> mem(BIO_new(BIO_s_mem()), BIO_free);
            const ASN1_STRING* s = v->value.asn1_string;
            if (!mem || !ASN1_STRING_print_text(mem.get(), v->type, ASN1_STRING_get0_data(s),
                                                ASN1_STRING_length(s)))
                return false;
            char* p = nullptr;
            const long n = BIO_get_mem_data(mem.get(), &p);
            t.s.append(p, static_cast<std::size_t>(n));
            break;
        }
        default: t.s += "<Unsupported tag " + std::to_string(v->type) + ">";
    }
    t.s += '\n';
    return true;
}

// The numbers printed with "%lu".
std::string unsigned_text(const ASN1_INTEGER* v) {
    return std::to_string(static_cast<unsigned long>(ASN1_INTEGER_get(v)));
}

bool hex_number(Text& t, const ASN1_INTEGER* value) {
    std::unique_ptr<BIGNUM, decltype(&BN_free)> bn(ASN1_INTEGER_to_BN(value, nullptr), BN_free);
    if (!bn) return false;
    std::vector<unsigned char> bytes(static_cast<std::size_t>(BN_num_bytes(bn.get())));
    BN_bn2bin(bn.get(), bytes.data());
    char hex[4];
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        std::snprintf(hex, sizeof hex, "%02x", bytes[i]);
        if (i > 0) t.s += ':';
        t.s += hex;
    }
    return true;
}

}  // namespace

std::pair<std::string, std::string> GENERAL_NAME_pair(const GENERAL_NAME* gn) {
    auto ia5 = [](const ASN1_IA5STRING* s) {
        return std::string(reinterpret_cast<const char*>(ASN1_STRING_get0_data(s)),
                           static_cast<std::size_t>(ASN1_STRING_length(s)));
    };
    switch (gn->type) {
        case GEN_OTHERNAME: return {"otherName", "<unsupported>"};
        case GEN_X400: return {"X400Address", "<unsupported>"};
        case GEN_EDIPARTY: return {"EdiPartyName", "<unsupported>"};
        case GEN_EMAIL: return {"email", ia5(gn->d.rfc822Name)};
        case GEN_DNS: return {"DNS", ia5(gn->d.dNSName)};
        case GEN_URI: return {"URI", ia5(gn->d.uniformResourceIdentifier)};
        case GEN_DIRNAME: return {"DirName", name_text(gn->d.directoryName)};
        case GEN_IPADD: return {"IP Address", ip_text(gn->d.iPAddress)};
        case GEN_RID: return {"Registered ID", object_text(gn->d.registeredID, 256)};
        default: return {"<unknown>", "<unsupported>"};
    }
}

int GENERAL_NAMES_print(BIO* out, const GENERAL_NAMES* gns, int indent) {
    if (out == nullptr || gns == nullptr) return 0;
    Text t;
    return names(t, gns, indent) && t.write(out);
}

int ALT_NAMES_print(const X509V3_EXT_METHOD*, const GENERAL_NAMES* gns, BIO* out, int indent) {
    if (gns == nullptr || out == nullptr) return 0;
    Text t;
    t.pad(indent);
    for (int i = 0; i < sk_GENERAL_NAME_num(gns); ++i) {
        const auto [name, value] = GENERAL_NAME_pair(sk_GENERAL_NAME_value(gns, i));
        if (i > 0) t.s += ", ";
        t.s += name + ":" + value;
    }
    return t.write(out);
}

int AUTHORITY_INFO_ACCESS_print(const X509V3_EXT_METHOD*, const AUTHORITY_INFO_ACCESS* aia,
                                BIO* out, int indent) {
    if (aia == nullptr || out == nullptr) return 0;
    Text t;
    for (int i = 0; i < sk_ACCESS_DESCRIPTION_num(aia); ++i) {
        const ACCESS_DESCRIPTION* ad = sk_ACCESS_DESCRIPTION_value(aia, i);
        t.line(indent, "Access Method: " + object_text(ad->method));
        t.line(indent, "Access Location:");
        const auto [name, value] = GENERAL_NAME_pair(ad->location);
        t.line(indent + 2, name + ": " + value);
    }
    return t.write(out);
}

int SUBJECT_DIRECTORY_ATTRIBUTES_print(const X509V3_EXT_METHOD*,
                                       const SUBJECT_DIRECTORY_ATTRIBUTES* attrs, BIO* out,
                                       int indent) {
    if (out == nullptr) return 0;
    Text t;
    if (attrs == nullptr) {
        t.line(indent, "<No Attributes>");
        return t.write(out);
    }
    if (sk_X509_ATTRIBUTE_num(attrs) == 0) t.line(indent, "<Empty Attributes>");
    for (int i = 0; i < sk_X509_ATTRIBUTE_num(attrs); ++i) {
        X509_ATTRIBUTE* a = sk_X509_ATTRIBUTE_value(attrs, i);
        const ASN1_OBJECT* obj = X509_ATTRIBUTE_get0_object(a);
        const int nid = ::OBJ_obj2nid(obj);
        const std::string type = (nid != NID_undef ? std::string(::OBJ_nid2ln(nid)) : dotted(obj)) + ": ";
        if (X509_ATTRIBUTE_count(a) == 0) {
            t.pad(indent);
            t.s += type + "<No Values>\n";
        }
        for (int j = 0; j < X509_ATTRIBUTE_count(a); ++j) {
            t.pad(indent);
            t.s += type;
            if (!value_line(t, X509_ATTRIBUTE_get0_type(a, j))) return 0;
        }
    }
    return t.write(out);
}

int CRL_DIST_POINTS_print(const X509V3_EXT_METHOD*, const CRL_DIST_POINTS* dps, BIO* out,
                          int indent) {
    if (dps == nullptr || out == nullptr) return 0;
    Text t;
    const int count = sk_DIST_POINT_num(dps);
    for (int i = 0; i < count; ++i) {
        const DIST_POINT* dp = sk_DIST_POINT_value(dps, i);
        if (count > 1) t.line(indent, "[" + std::to_string(i + 1) + "]");
        if (dp->distpoint != nullptr) {
            t.line(indent, "Distribution Point:");
            if (!dist_point_name(t, dp->distpoint, indent + 2)) return 0;
        }
        if (dp->reasons != nullptr) {
            t.line(indent, "Reasons:");
            reasons(t, dp->reasons, indent + 2);
        }
        if (dp->CRLissuer != nullptr) {
            t.line(indent, "CRL Issuer:");
            names(t, dp->CRLissuer, indent + 2);
        }
    }
    return t.write(out);
}

int ISSUING_DIST_POINT_print(const X509V3_EXT_METHOD*, const ISSUING_DIST_POINT* idp,
                             BIO* out, int indent) {
    if (idp == nullptr || out == nullptr) return 0;
    Text t;
    if (idp->distpoint != nullptr) {
        t.line(indent, "Distribution Point:");
        if (!dist_point_name(t, idp->distpoint, indent + 2)) return 0;
    }
    if (idp->onlyuser > 0) t.line(indent, "onlyContainsUserCerts");
    if (idp->onlyCA > 0) t.line(indent, "onlyContainsCACerts");
    if (idp->onlysomereasons != nullptr) {
        t.line(indent, "onlySomeReasons:");
        reasons(t, idp->onlysomereasons, indent + 2);
    }
    if (idp->indirectCRL > 0) t.line(indent, "indirectCRL");
    if (idp->onlyattr > 0) t.line(indent, "onlyContainsAttributeCerts");
    return t.write(out);
}

int NAME_CONSTRAINTS_print(const X509V3_EXT_METHOD*, const NAME_CONSTRAINTS* nc, BIO* out,
                           int indent) {
    if (nc == nullptr || out == nullptr) return 0;
    Text t;
    auto subtrees = [&](const char* title, const STACK_OF(GENERAL_SUBTREE) * list) {
        if (list == nullptr) return;
        t.line(indent, title);
        for (int i = 0; i < sk_GENERAL_SUBTREE_num(list); ++i) {
            const GENERAL_SUBTREE* s = sk_GENERAL_SUBTREE_value(list, i);
            const auto [name, value] = GENERAL_NAME_pair(s->base);
            t.line(indent + 2, name + ": " + value);
            if (s->minimum != nullptr)
                t.line(indent, "Minimum: " + unsigned_text(s->minimum));
            if (s->maximum != nullptr)
                t.line(indent, "Maximum: " + unsigned_text(s->maximum));
        }
    };
    subtrees("Permitted Subtrees:", nc->permittedSubtrees);
    subtrees("Excluded Subtrees:", nc->excludedSubtrees);
    return t.write(out);
}

int POLICY_CONSTRAINTS_print(const X509V3_EXT_METHOD*, const POLICY_CONSTRAINTS* pc, BIO* out,
                             int indent) {
    if (pc == nullptr || out == nullptr) return 0;
    Text t;
    if (pc->requireExplicitPolicy != nullptr)
        t.line(indent, "Require Explicit Policy: " +
                           unsigned_text(pc->requireExplicitPolicy));
    if (pc->inhibitPolicyMapping != nullptr)
        t.line(indent, "Inhibit Policy Mapping:  " +
                           unsigned_text(pc->inhibitPolicyMapping));
    return t.write(out);
}

int POLICY_MAPPINGS_print(const X509V3_EXT_METHOD*, const POLICY_MAPPINGS* pm, BIO* out,
                          int indent) {
    if (pm == nullptr || out == nullptr) return 0;
    Text t;
    const int count = sk_POLICY_MAPPING_num(pm);
    for (int i = 0; i < count; ++i) {
        const POLICY_MAPPING* m = sk_POLICY_MAPPING_value(pm, i);
        if (count > 1) t.line(indent, "[" + std::to_string(i + 1) + "]");
        t.line(indent, "Issuer Domain Policy:  " + object_text(m->issuerDomainPolicy));
        t.line(indent, "Subject Domain Policy: " + object_text(m->subjectDomainPolicy));
    }
    return t.write(out);
}

int BIOMETRIC_INFO_print(const X509V3_EXT_METHOD*, const BIOMETRIC_SYNTAX* bs, BIO* out,
                         int indent) {
    if (bs == nullptr || out == nullptr) return 0;
    Text t;
    const int count = sk_BIOMETRIC_DATA_num(bs);
    for (int i = 0; i < count; ++i) {
        const BIOMETRIC_DATA* d = sk_BIOMETRIC_DATA_value(bs, i);
        if (count > 1) t.line(indent, "[" + std::to_string(i + 1) + "]");
        t.line(indent, "Biometric Data:");
        t.pad(indent + 2);
        t.s += "Type: ";
        if (d->type->type == 1) {
            t.s += object_text(d->type->value.oid) + "\n";
        } else {
            const long v = ASN1_INTEGER_get(d->type->value.predefined);
            t.s += v == 0 ? "Picture\n" : v == 1 ? "Handwritten Signature\n" : "Undefined type\n";
        }
        const ASN1_OBJECT* alg = nullptr;
        X509_ALGOR_get0(&alg, nullptr, nullptr, d->hash_algorithm);
        const int nid = ::OBJ_obj2nid(alg);
        t.line(indent + 2, "Hash Algorithm: " +
                               std::string(nid != NID_undef ? ::OBJ_nid2ln(nid) : "Unknown") +
                               " (" + dotted(alg) + ")");
        t.line(indent + 2, "Data Hash:");
        std::string hex;
        char byte[4];
        for (int j = 0; j < ASN1_STRING_length(d->hash); ++j) {
            std::snprintf(byte, sizeof byte, "%02X", ASN1_STRING_get0_data(d->hash)[j]);
            if (j > 0) hex += ':';
            hex += byte;
        }
        t.line(indent + 4, hex);
        if (d->source_uri != nullptr) {
            t.line(indent + 2, "Source Data URI:");
            t.line(indent + 4, std::string(reinterpret_cast<const char*>(
                                               ASN1_STRING_get0_data(d->source_uri)),
                                           static_cast<std::size_t>(
                                               ASN1_STRING_length(d->source_uri))));
        }
    }
    return t.write(out);
}

int SKIP_CERTS_print(const X509V3_EXT_METHOD*, const ASN1_INTEGER* v, BIO* out, int indent) {
    if (v == nullptr || out == nullptr) return 0;
    Text t;
    t.pad(indent);
    t.s += "SkipCerts: " + unsigned_text(v);
    return t.write(out);
}

int CRL_NUMBER_print(const X509V3_EXT_METHOD*, const ASN1_INTEGER* v, BIO* out, int indent) {
    if (v == nullptr || out == nullptr) return 0;
    Text t;
    t.pad(indent);
    t.s += "CRL Number: ";
    return hex_number(t, v) && t.write(out);
}

int DELTA_CRL_print(const X509V3_EXT_METHOD*, const ASN1_INTEGER* v, BIO* out, int indent) {
    if (v == nullptr || out == nullptr) return 0;
    Text t;
    t.pad(indent);
    t.s += "Base CRL Number: ";
    return hex_number(t, v) && t.write(out);
}

namespace {

using Printer = X509V3_EXT_PRINTER;

struct OwnPrinter {
    int nid;  // the library's number
    const ASN1_ITEM* (*item)();
    Printer print;
};

template <typename T, int (*P)(const X509V3_EXT_METHOD*, const T*, BIO*, int)>
int erased(const X509V3_EXT_METHOD* m, const void* v, BIO* out, int indent) {
    return P(m, static_cast<const T*>(v), out, indent);
}

const OwnPrinter* own_printer(int nid) {
    static const OwnPrinter kPrinters[] = {
        {85, GENERAL_NAMES_it, erased<GENERAL_NAMES, ALT_NAMES_print>},
        {86, GENERAL_NAMES_it, erased<GENERAL_NAMES, ALT_NAMES_print>},
        {NID_CERTIFICATE_ISSUER, GENERAL_NAMES_it, erased<GENERAL_NAMES, ALT_NAMES_print>},
        {NID_AUTHORITY_INFO_ACCESS, AUTHORITY_INFO_ACCESS_it,
         erased<AUTHORITY_INFO_ACCESS, AUTHORITY_INFO_ACCESS_print>},
        {NID_SUBJECT_INFO_ACCESS, AUTHORITY_INFO_ACCESS_it,
         erased<AUTHORITY_INFO_ACCESS, AUTHORITY_INFO_ACCESS_print>},
        {NID_SUBJECT_DIRECTORY_ATTRIBUTES, SUBJECT_DIRECTORY_ATTRIBUTES_it,
         erased<SUBJECT_DIRECTORY_ATTRIBUTES, SUBJECT_DIRECTORY_ATTRIBUTES_print>},
        {103, CRL_DIST_POINTS_it, erased<CRL_DIST_POINTS, CRL_DIST_POINTS_print>},
        {NID_FRESHEST_CRL, CRL_DIST_POINTS_it, erased<CRL_DIST_POINTS, CRL_DIST_POINTS_print>},
        {NID_ISSUING_DIST_POINT, ISSUING_DIST_POINT_it,
         erased<ISSUING_DIST_POINT, ISSUING_DIST_POINT_print>},
        {NID_NAME_CONSTRAINTS, NAME_CONSTRAINTS_it,
         erased<NAME_CONSTRAINTS, NAME_CONSTRAINTS_print>},
        {NID_POLICY_CONSTRAINTS, POLICY_CONSTRAINTS_it,
         erased<POLICY_CONSTRAINTS, POLICY_CONSTRAINTS_print>},
        {NID_POLICY_MAPPINGS, POLICY_MAPPINGS_it, erased<POLICY_MAPPINGS, POLICY_MAPPINGS_print>},
        {NID_BIOMETRIC_INFO, BIOMETRIC_SYNTAX_it, erased<BIOMETRIC_SYNTAX, BIOMETRIC_INFO_print>},
        {NID_INHIBIT_ANY_POLICY, ASN1_INTEGER_it, erased<ASN1_INTEGER, SKIP_CERTS_print>},
        {88, ASN1_INTEGER_it, erased<ASN1_INTEGER, CRL_NUMBER_print>},
        {140, ASN1_INTEGER_it, erased<ASN1_INTEGER, DELTA_CRL_print>},
    };
    for (const auto& p : kPrinters)
        if (p.nid == nid) return &p;
    return nullptr;
}

// Printers added at run time, under libcrypto's numbers. Printing reads
// the table while start-up may still add to it.
struct AddedPrinters {
    std::shared_mutex lock;
    std::vector<OwnPrinter> printers;
};

AddedPrinters& added() {
    static AddedPrinters table;
    return table;
}

bool added_printer(int openssl_nid, OwnPrinter& out) {
    if (openssl_nid == NID_undef) return false;
    AddedPrinters& t = added();
    std::shared_lock<std::shared_mutex> g(t.lock);
    for (const OwnPrinter& p : t.printers) {
        if (p.nid != openssl_nid) continue;
        out = p;
        return true;
    }
    return false;
}

}  // namespace

int X509V3_EXT_add_printer(int openssl_nid, const ASN1_ITEM* (*item)(), X509V3_EXT_PRINTER print) {
    if (openssl_nid == NID_undef || item == nullptr || print == nullptr) return 0;
    AddedPrinters& t = added();
    std::unique_lock<std::shared_mutex> g(t.lock);
    for (OwnPrinter& p : t.printers) {
        if (p.nid != openssl_nid) continue;
        p.item = item;
        p.print = print;
        return 1;
    }
    try {
        t.printers.push_back({openssl_nid, item, print});
    } catch (...) {
        return 0;
    }
    return 1;
}

int X509V3_EXT_print(BIO* out, X509_EXTENSION* ext, unsigned long flag, int indent) {
    if (out == nullptr || ext == nullptr) return 0;
    const ASN1_OBJECT* object = X509_EXTENSION_get_object(ext);
    const OwnPrinter* own = own_printer(cadb::OBJ_obj2nid(object));
    OwnPrinter found{};
    if (own == nullptr && added_printer(::OBJ_obj2nid(object), found)) own = &found;
    if (own == nullptr) return ::X509V3_EXT_print(out, ext, flag, indent);
    const ASN1_OCTET_STRING* data = X509_EXTENSION_get_data(ext);
    const unsigned char* p = ASN1_STRING_get0_data(data);
    const long len = ASN1_STRING_length(data);
    const ASN1_ITEM* it = own->item();
    ASN1_VALUE* value = ASN1_item_d2i(nullptr, &p, len, it);
    const bool whole = value != nullptr && p == ASN1_STRING_get0_data(data) + len;
    const int ok = whole && own->print(nullptr, value, out, indent);
    ASN1_item_free(value, it);
    ::ERR_clear_error();
    return ok;
}

namespace {

// libcrypto's extension methods for the two extensions it lacks.
int i2r_biometric(const X509V3_EXT_METHOD* m, void* v, BIO* out, int indent) {
    return BIOMETRIC_INFO_print(m, static_cast<BIOMETRIC_SYNTAX*>(v), out, indent);
}
int i2r_directory(const X509V3_EXT_METHOD* m, void* v, BIO* out, int indent) {
    return SUBJECT_DIRECTORY_ATTRIBUTES_print(m, static_cast<SUBJECT_DIRECTORY_ATTRIBUTES*>(v),
                                              out, indent);
}

X509V3_EXT_METHOD method_of(int openssl_nid, const ASN1_ITEM* (*item)(),
                            X509V3_EXT_I2R i2r) {
    X509V3_EXT_METHOD m{};
    m.ext_nid = openssl_nid;
    m.it = item;
    m.i2r = i2r;
    return m;
}

}  // namespace

int X509V3_add_cadb_extensions() {
    static int result = 0;
    static std::once_flag once;
    std::call_once(once, [] {
        static X509V3_EXT_METHOD biometric =
            method_of(OBJ_nid2openssl(NID_BIOMETRIC_INFO), BIOMETRIC_SYNTAX_it, i2r_biometric);
        static X509V3_EXT_METHOD directory =
            method_of(OBJ_nid2openssl(NID_SUBJECT_DIRECTORY_ATTRIBUTES),
                      SUBJECT_DIRECTORY_ATTRIBUTES_it, i2r_directory);
        result = 1;
        for (X509V3_EXT_METHOD* m : {&biometric, &directory}) {
            // A libcrypto that already knows the extension keeps its own.
            if (m->ext_nid == NID_undef || ::X509V3_EXT_get_nid(m->ext_nid) != nullptr) continue;
            if (!::X509V3_EXT_add(m)) result = 0;
        }
    });
    return result;
}

}  // namespace cadb
