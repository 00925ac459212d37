// The subject name and the default extensions of a certification request, as
// the request roads build them from a page's texts: the subject from its
// keyword=value pairs in the order of the keyword table, and an end entity's
// basic constraints, the key usage of the purposes and the purposes
// themselves.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "wrappers/tx509name.h"
#include "wrappers/x509_ext.h"

namespace cadb::enrol {

inline constexpr std::size_t kSubjectKeywordCount = 15;
using SubjectValues = std::array<std::string, kSubjectKeywordCount>;

// The key usage a list of purposes asks for, with the critical flags.
struct RequestUsage {
    std::int32_t mask = -1;
    bool keyUsageCritical = true;
    bool purposesCritical = false;
};

// Every keyword's value of the subject text; "E" stands in for an empty
// "Email".
SubjectValues SubjectValuesOf(const std::string& dn);
bool HasCommonName(const SubjectValues& values);

// Adds one entry for every non-empty value, in table order. False when a
// value cannot be carried whole (longer than its attribute allows, of
// characters its string type lacks, or holding a zero byte): the name then
// lacks it, and no request may be made of it.
bool BuildSubjectName(const SubjectValues& values, TX509Name& name);

// The extension objects a request asks for by default.
struct DefaultExtensions {
    TBasicConstraintsExt constraints;
    TKeyUsageExt keyUsage;
    TExtKeyUsageExt purposes;
    bool purposesAccepted = false;  // the last purpose of the list was taken
};

// Basic constraints (critical, an end entity), the key usage of mask, and
// the purposes of usage split at "," (pieces untrimmed). A list that cannot
// be split leaves the purposes out.
void PrepareDefaultExtensions(const std::string& usage, std::int32_t mask, bool keyUsageCritical,
                              bool purposesCritical, DefaultExtensions& out);

// The prepared objects onto stack in that order, the purposes only when the
// last one was accepted; an extension the stack holds already stays.
void AddDefaultExtensions(const DefaultExtensions& extensions, TStack_V3EXT& stack);

}  // namespace cadb::enrol
