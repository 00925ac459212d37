#include "enrol/request_parts.h"

#include <openssl/asn1.h>

#include "enrol/dn_value.h"

namespace cadb::enrol {

namespace {

// The subject's keywords in the order of the name they build, with the
// attribute and the string type of its value.
struct SubjectAttribute {
    const char* keyword;
    int nid;
    int type;
};
constexpr SubjectAttribute kSubjectAttributes[] = {
    {"C", 14, V_ASN1_PRINTABLESTRING},  {"SP", 16, V_ASN1_UTF8STRING},
    {"L", 15, V_ASN1_UTF8STRING},       {"O", 17, V_ASN1_UTF8STRING},
    {"OU", 18, V_ASN1_UTF8STRING},      {"T", 106, V_ASN1_UTF8STRING},
    {"CN", 13, V_ASN1_UTF8STRING},      {"Email", 48, V_ASN1_IA5STRING},
    {"pseudonym", 223, V_ASN1_UTF8STRING}, {"postalAddress", 222, V_ASN1_UTF8STRING},
    {"unstructuredName", 49, V_ASN1_UTF8STRING}, {"INN", 334, V_ASN1_UTF8STRING},
    {"serialNumber", 105, V_ASN1_UTF8STRING}, {"rnsFSS", 338, V_ASN1_UTF8STRING},
    {"kpFSS", 339, V_ASN1_UTF8STRING},
};
static_assert(std::size(kSubjectAttributes) == kSubjectKeywordCount);
constexpr std::size_t kCommonName = 6;
constexpr std::size_t kEmail = 7;

}  // namespace

SubjectValues SubjectValuesOf(const std::string& dn) {
    SubjectValues values;
    for (std::size_t i = 0; i < values.size(); ++i)
        values[i] = GetDNValue(dn, kSubjectAttributes[i].keyword, ";", '"');
    if (values[kEmail].empty()) values[kEmail] = GetDNValue(dn, "E", ";", '"');
    return values;
}

bool HasCommonName(const SubjectValues& values) { return !values[kCommonName].empty(); }

bool BuildSubjectName(const SubjectValues& values, TX509Name& name) {
    bool whole = true;
    for (std::size_t i = 0; i < values.size(); ++i) {
        if (values[i].empty()) continue;
        // A zero byte would end the value early: the text is refused rather
        // than cut.
        TX509NameEntry entry;
        if (values[i].find('\0') == std::string::npos &&
            entry.set(kSubjectAttributes[i].nid, kSubjectAttributes[i].type, values[i].c_str(), 0,
                      2) &&
            name.addEntry(entry) == 1)
            continue;
        whole = false;
    }
    return whole;
}

void PrepareDefaultExtensions(const std::string& usage, std::int32_t mask, bool keyUsageCritical,
                              bool purposesCritical, DefaultExtensions& out) {
    out.constraints.setCritical(true);
    // An end entity carries no path length (RFC 5280 allows one only with cA).
    out.constraints.set(false, -1);
    out.keyUsage.setCritical(keyUsageCritical);
    out.keyUsage.setBits(static_cast<unsigned>(mask));
    out.purposesAccepted = false;
    try {
        if (usage.empty()) return;
        out.purposes.setCritical(purposesCritical);
        for (std::size_t from = 0;;) {
            const std::size_t comma = usage.find(',', from);
            out.purposesAccepted = out.purposes.addPurpose(usage.substr(
                from, comma == std::string::npos ? std::string::npos : comma - from));
            if (comma == std::string::npos) break;
            from = comma + 1;
        }
    } catch (...) {
        // The purposes are then left out; the request goes on without them.
        out.purposesAccepted = false;
    }
}

void AddDefaultExtensions(const DefaultExtensions& extensions, TStack_V3EXT& stack) {
    stack.add(&extensions.constraints);
    stack.add(&extensions.keyUsage);
    if (extensions.purposesAccepted) stack.add(&extensions.purposes);
}

}  // namespace cadb::enrol
