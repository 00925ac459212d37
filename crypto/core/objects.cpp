#include "crypto/core/objects.h"

#include <openssl/objects.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "crypto/core/err.h"

namespace cadb {
namespace {

// Below this number the library and libcrypto share their numbering.
constexpr int kSharedNidLimit = 171;

// An OID starting with '.' hangs below the enterprise arc; "" is the arc.
struct ObjRow {
    int nid;
    const char* sn;
    const char* ln;
    const char* oid;
};

constexpr const char* kArc = "";

// clang-format off
constexpr ObjRow kRows[] = {
    // The system's own algorithms under the enterprise arc.
    {NID_HALBERD, "Halberd", "Halberd, JSC", kArc},
    {NID_RUS_CHANGE, "RUS-CHANGE", "rus-change", ".1.1.1"},
    {NID_RUS_GAMMA, "RUS-GAMMA", "rus-gamma", ".1.1.2"},
    {NID_RUS_GAMMAR, "RUS-GAMMAR", "rus-gammar", ".1.1.3"},
    {NID_RUS_MAC, "RUS-MAC", "rus-mac", ".1.7.1"},
    {NID_RUS_HASH, "RUS-HASH", "rus-hash", ".1.2.1"},
    {NID_R3410, "R3410", "r3410", ".1.1.5"},
    {NID_R3410_R3411, "R3410-R3411", "r3410WithR3411", ".1.3.1"},
    {NID_PBE_R3411_GOST, "pbeWithR3411AndGOST", "pbeWithR3411AndGOST", ".1.5.1"},
    {NID_HMAC_R3411, "hmacWithR3411", "hmacWithR3411", ".1.7.2"},
    {NID_ECR3410, "ECR3410", "ecr3410", ".1.6.2"},
    {NID_ECR3410_R3411, "ECR3410-R3411", "ecr3410WithR3411", ".1.3.2"},
    {NID_GOST_WRAP, "GOST-WRAP", "gostWrap", ".1.4.1"},
    {NID_R3410_ESDH, "r3410-ESDH-r3411kdf", "r3410-ESDH-r3411kdf", ".1.8.1"},
    {NID_ECDH_STD_R3411KDF, "ecdh-SinglePass-stdDH-r3411kdf", "ecdh-SinglePass-stdDH-r3411kdf", ".1.8.2"},
    {NID_ECDH_COFACTOR_R3411KDF, "ecdh-SinglePass-cofactorDH-r3411kdf", "ecdh-SinglePass-cofactorDH-r3411kdf", ".1.8.3"},
    {NID_ECDH, "ECDH", "Elliptic Curve Diffie-Hellman", ".1.8.5"},
    {NID_PUBLIC_KEY, "publicKey", "publicKey", ".2.2.1"},
    {NID_GOST28147_CFB, "GOST28147-CFB", "gost28147-cfb", ".1.1.8"},
    {NID_GOST28147_WRAP, "GOST28147-WRAP", "gost28147Wrap", ".1.4.2"},
    {NID_PBE_R3411_GOST28147, "pbeWithR3411AndGost28147", "pbeWithR3411AndGost28147", ".1.5.2"},
    {NID_SIGNATURE_COMMENT, "signatureComment", "Signature Comment", ".2.3.1"},

    // The CryptoPro family (RFC 4357).
    {NID_CRYPTOPRO, "CryptoPro", "CryptoPro", "1.2.643.2.2"},
    {NID_CRYPTOPRO_HASHES, "CryptoPro-hashes", "CryptoPro-hashes", "1.2.643.2.2.30"},
    {NID_CRYPTOPRO_ENCRYPTS, "CryptoPro-encrypts", "CryptoPro-encrypts", "1.2.643.2.2.31"},
    {NID_CRYPTOPRO_SIGNS, "CryptoPro-signs", "CryptoPro-signs", "1.2.643.2.2.32"},
    {NID_CRYPTOPRO_EXCHANGES, "CryptoPro-exchanges", "CryptoPro-exchanges", "1.2.643.2.2.33"},
    {NID_CRYPTOPRO_EXTENSIONS, "CryptoPro-extensions", "CryptoPro-extensions", "1.2.643.2.2.34"},
    {NID_CRYPTOPRO_ECC_SIGNS, "CryptoPro-ecc-signs", "CryptoPro-ecc-signs", "1.2.643.2.2.35"},
    {NID_CRYPTOPRO_ECC_EXCHANGES, "CryptoPro-ecc-exchanges", "CryptoPro-ecc-exchanges", "1.2.643.2.2.36"},
    {NID_ECR3410_CP, "ECR3410-CP", "CryptoPro-GostR3410-2001", "1.2.643.2.2.19"},
    {NID_R3410_CP, "R3410-CP", "CryptoPro-GostR3410-94", "1.2.643.2.2.20"},
    {NID_R3411_WITH_ECR3410_CP, "CryptoPro-GostR3411-94-with-GostR3410-2001", "CryptoPro-GostR3411-94-with-GostR3410-2001", "1.2.643.2.2.3"},
    {NID_R3411_WITH_R3410_CP, "CryptoPro-GostR3411-94-with-GostR3410-94", "CryptoPro-GostR3411-94-with-GostR3410-94", "1.2.643.2.2.4"},
    {NID_R3411_CP_PARAMSET, "CryptoPro-GostR3411-94-ParamSet", "CryptoPro-GostR3411-94-ParamSet", "1.2.643.2.2.30.1"},
    {NID_R3410_94_A_PARAMSET, "CryptoPro-GostR3410-94-A-ParamSet", "CryptoPro-GostR3410-94-A-ParamSet", "1.2.643.2.2.32.2"},
    {NID_R3410_94_B_PARAMSET, "CryptoPro-GostR3410-94-B-ParamSet", "CryptoPro-GostR3410-94-B-ParamSet", "1.2.643.2.2.32.3"},
    {NID_R3410_94_C_PARAMSET, "CryptoPro-GostR3410-94-C-ParamSet", "CryptoPro-GostR3410-94-C-ParamSet", "1.2.643.2.2.32.4"},
    {NID_R3410_94_D_PARAMSET, "CryptoPro-GostR3410-94-D-ParamSet", "CryptoPro-GostR3410-94-D-ParamSet", "1.2.643.2.2.32.5"},
    {NID_R3410_94_XCHA_PARAMSET, "CryptoPro-GostR3410-94-XchA-ParamSet", "CryptoPro-GostR3410-94-XchA-ParamSet", "1.2.643.2.2.33.1"},
    {NID_R3410_94_XCHB_PARAMSET, "CryptoPro-GostR3410-94-XchB-ParamSet", "CryptoPro-GostR3410-94-XchB-ParamSet", "1.2.643.2.2.33.2"},
    {NID_R3410_94_XCHC_PARAMSET, "CryptoPro-GostR3410-94-XchC-ParamSet", "CryptoPro-GostR3410-94-XchC-ParamSet", "1.2.643.2.2.33.3"},
    {NID_R3410_2001_A_PARAMSET, "CryptoPro-GostR3410-2001-A-ParamSet", "CryptoPro-GostR3410-2001-A-ParamSet", "1.2.643.2.2.35.1"},
    {NID_R3410_2001_B_PARAMSET, "CryptoPro-GostR3410-2001-B-ParamSet", "CryptoPro-GostR3410-2001-B-ParamSet", "1.2.643.2.2.35.2"},
    {NID_R3410_2001_C_PARAMSET, "CryptoPro-GostR3410-2001-C-ParamSet", "CryptoPro-GostR3410-2001-C-ParamSet", "1.2.643.2.2.35.3"},
    {NID_R3410_2001_XCHA_PARAMSET, "CryptoPro-GostR3410-2001-XchA-ParamSet", "CryptoPro-GostR3410-2001-XchA-ParamSet", "1.2.643.2.2.36.0"},
    {NID_R3410_2001_XCHB_PARAMSET, "CryptoPro-GostR3410-2001-XchB-ParamSet", "CryptoPro-GostR3410-2001-XchB-ParamSet", "1.2.643.2.2.36.1"},
    {NID_RUS_HASH_CP, "RUS-HASH-CP", "CryptoPro-GostR3411-94", "1.2.643.2.2.9"},
    {NID_RUS_GAMMAR_CP, "RUS-GAMMAR-CP", "CryptoPro-Gost28147-89", "1.2.643.2.2.21"},
    {NID_GOST28147_MAC_CP, "CryptoPro-Gost28147-89-MAC", "CryptoPro-Gost28147-89-MAC", "1.2.643.2.2.22"},
    {NID_GOST28147_A_PARAMSET, "CryptoPro-Gost28147-89-A-ParamSet", "CryptoPro-Gost28147-89-A-ParamSet", "1.2.643.2.2.31.1"},
    {NID_GOST28147_B_PARAMSET, "CryptoPro-Gost28147-89-B-ParamSet", "CryptoPro-Gost28147-89-B-ParamSet", "1.2.643.2.2.31.2"},
    {NID_GOST28147_C_PARAMSET, "CryptoPro-Gost28147-89-C-ParamSet", "CryptoPro-Gost28147-89-C-ParamSet", "1.2.643.2.2.31.3"},
    {NID_GOST28147_D_PARAMSET, "CryptoPro-Gost28147-89-D-ParamSet", "CryptoPro-Gost28147-89-D-ParamSet", "1.2.643.2.2.31.4"},
    {NID_GOST28147_SIMPLE_A_PARAMSET, "CryptoPro-Gost28147-89-Simple-A-ParamSet", "CryptoPro-Gost28147-89-Simple-A-ParamSet", "1.2.643.2.2.31.6"},
    {NID_GOST28147_SIMPLE_B_PARAMSET, "CryptoPro-Gost28147-89-Simple-B-ParamSet", "CryptoPro-Gost28147-89-Simple-B-ParamSet", "1.2.643.2.2.31.7"},
    {NID_GOST28147_SIMPLE_C_PARAMSET, "CryptoPro-Gost28147-89-Simple-C-ParamSet", "CryptoPro-Gost28147-89-Simple-C-ParamSet", "1.2.643.2.2.31.8"},
    {NID_GOST28147_SIMPLE_D_PARAMSET, "CryptoPro-Gost28147-89-Simple-D-ParamSet", "CryptoPro-Gost28147-89-Simple-D-ParamSet", "1.2.643.2.2.31.9"},

    // Russian name attributes.
    {NID_RU_INN, "INN", "INN", "1.2.643.3.131.1.1"},
    {NID_RNS_FSS, "rnsFSS", "RNS FSS", "1.2.643.3.141.1.1"},
    {NID_KP_FSS, "kpFSS", "KP FSS", "1.2.643.3.141.1.2"},

    // Standard objects that the library numbers above the shared range.
    {NID_CMS3DES_WRAP, "id-alg-CMS3DESwrap", "id-alg-CMS3DESwrap", "1.2.840.113549.1.9.16.3.6"},
    {NID_DH_PUBLIC_NUMBER, "dh-public-number", "X9.42 DH", "1.2.840.10046.2.1"},
    {NID_PRIME256V1, "prime256v1", "prime256v1", "1.2.840.10045.3.1.7"},
    {NID_INHIBIT_ANY_POLICY, "inhibitAnyPolicy", "X509v3 Inhibit Any Policy", "2.5.29.54"},
    {NID_FRESHEST_CRL, "freshestCRL", "X509v3 Freshest CRL", "2.5.29.46"},
    {NID_POLICY_MAPPINGS, "policyMappings", "X509v3 Policy Mappings", "2.5.29.33"},
    {NID_POLICY_CONSTRAINTS, "policyConstraints", "X509v3 Policy Constraints", "2.5.29.36"},
    {NID_NAME_CONSTRAINTS, "nameConstraints", "X509v3 Name Constraints", "2.5.29.30"},
    {NID_AUTHORITY_INFO_ACCESS, "authorityInfoAccess", "Authority Information Access", "1.3.6.1.5.5.7.1.1"},
    {NID_SUBJECT_INFO_ACCESS, "subjectInfoAccess", "Subject Information Access", "1.3.6.1.5.5.7.1.11"},
    {NID_ISSUING_DIST_POINT, "issuingDistributionPoint", "X509v3 Issuing Distribution Point", "2.5.29.28"},
    {NID_HOLD_INSTRUCTION_CODE, "holdInstructionCode", "Hold Instruction Code", "2.5.29.23"},
    {NID_CERTIFICATE_ISSUER, "certificateIssuer", "X509v3 Certificate Issuer", "2.5.29.29"},
    {NID_SUBJECT_DIRECTORY_ATTRIBUTES, "subjectDirectoryAttributes", "X509v3 Subject Directory Attributes", "2.5.29.9"},
    {NID_STREET_ADDRESS, "STREET", "streetAddress", "2.5.4.9"},
    {NID_POSTAL_ADDRESS, "postalAddress", "postalAddress", "2.5.4.16"},
    {NID_GENERATION_QUALIFIER, "generationQualifier", "generationQualifier", "2.5.4.44"},
    {NID_DN_QUALIFIER, "dnQualifier", "dnQualifier", "2.5.4.46"},
    {NID_DOMAIN_COMPONENT, "DC", "domainComponent", "0.9.2342.19200300.100.1.25"},
    {NID_PSEUDONYM, "pseudonym", "pseudonym", "2.5.4.65"},
    {NID_REG_TOKEN, "id-regCtrl-regToken", "id-regCtrl-regToken", "1.3.6.1.5.5.7.5.1.1"},
    {NID_AUTHENTICATOR, "id-regCtrl-authenticator", "id-regCtrl-authenticator", "1.3.6.1.5.5.7.5.1.2"},
    {NID_PKI_PUBLICATION_INFO, "id-regCtrl-pkiPublicationInfo", "id-regCtrl-pkiPublicationInfo", "1.3.6.1.5.5.7.5.1.3"},
    {NID_PKI_ARCHIVE_OPTIONS, "id-regCtrl-pkiArchiveOptions", "id-regCtrl-pkiArchiveOptions", "1.3.6.1.5.5.7.5.1.4"},
    {NID_OLD_CERT_ID, "id-regCtrl-oldCertID", "id-regCtrl-oldCertID", "1.3.6.1.5.5.7.5.1.5"},
    {NID_PROTOCOL_ENCR_KEY, "id-regCtrl-protocolEncrKey", "id-regCtrl-protocolEncrKey", "1.3.6.1.5.5.7.5.1.6"},
    {NID_CMC_STATUS_INFO, "id-cmc-statusInfo", "id-cmc-statusInfo", "1.3.6.1.5.5.7.7.1"},
    {NID_CMC_IDENTIFICATION, "id-cmc-identification", "id-cmc-identification", "1.3.6.1.5.5.7.7.2"},
    {NID_CMC_IDENTITY_PROOF, "id-cmc-identityProof", "id-cmc-identityProof", "1.3.6.1.5.5.7.7.3"},
    {NID_CMC_DATA_RETURN, "id-cmc-dataReturn", "id-cmc-dataReturn", "1.3.6.1.5.5.7.7.4"},
    {NID_CMC_TRANSACTION_ID, "id-cmc-transactionId", "id-cmc-transactionId", "1.3.6.1.5.5.7.7.5"},
    {NID_CMC_SENDER_NONCE, "id-cmc-senderNonce", "id-cmc-senderNonce", "1.3.6.1.5.5.7.7.6"},
    {NID_CMC_RECIPIENT_NONCE, "id-cmc-recipientNonce", "id-cmc-recipientNonce", "1.3.6.1.5.5.7.7.7"},
    {NID_CMC_ADD_EXTENSIONS, "id-cmc-addExtensions", "id-cmc-addExtensions", "1.3.6.1.5.5.7.7.8"},
    {NID_CMC_ENCRYPTED_POP, "id-cmc-encryptedPOP", "id-cmc-encryptedPOP", "1.3.6.1.5.5.7.7.9"},
    {NID_CMC_DECRYPTED_POP, "id-cmc-decryptedPOP", "id-cmc-decryptedPOP", "1.3.6.1.5.5.7.7.10"},
    {NID_CMC_LRA_POP_WITNESS, "id-cmc-lraPOPWitness", "id-cmc-lraPOPWitness", "1.3.6.1.5.5.7.7.11"},
    {NID_CMC_GET_CERT, "id-cmc-getCert", "id-cmc-getCert", "1.3.6.1.5.5.7.7.15"},
    {NID_CMC_GET_CRL, "id-cmc-getCRL", "id-cmc-getCRL", "1.3.6.1.5.5.7.7.16"},
    {NID_CMC_REVOKE_REQUEST, "id-cmc-revokeRequest", "id-cmc-revokeRequest", "1.3.6.1.5.5.7.7.17"},
    {NID_CMC_REG_INFO, "id-cmc-regInfo", "id-cmc-regInfo", "1.3.6.1.5.5.7.7.18"},
    {NID_CMC_RESPONSE_INFO, "id-cmc-responseInfo", "id-cmc-responseInfo", "1.3.6.1.5.5.7.7.19"},
    {NID_CMC_QUERY_PENDING, "id-cmc-queryPending", "id-cmc-queryPending", "1.3.6.1.5.5.7.7.21"},
    {NID_CMC_POP_LINK_RANDOM, "id-cmc-popLinkRandom", "id-cmc-popLinkRandom", "1.3.6.1.5.5.7.7.22"},
    {NID_CMC_POP_LINK_WITNESS, "id-cmc-popLinkWitness", "id-cmc-popLinkWitness", "1.3.6.1.5.5.7.7.23"},
    {NID_CMC_CONFIRM_CERT_ACCEPTANCE, "id-cmc-confirmCertAcceptance", "id-cmc-confirmCertAcceptance", "1.3.6.1.5.5.7.7.24"},
    {NID_CMC_PKI_DATA, "id-cct-PKIData", "id-cct-PKIData", "1.3.6.1.5.5.7.12.2"},
    {NID_CMC_RESPONSE_BODY, "id-cct-PKIResponse", "id-cct-PKIResponse", "1.3.6.1.5.5.7.12.3"},
    {NID_EXTENSION_REQUEST, "extReq", "Extension Request", "1.2.840.113549.1.9.14"},
    {NID_MS_EXT_REQ, "msExtReq", "Microsoft Extension Request", "1.3.6.1.4.1.311.2.1.14"},
    {NID_COMPRESSED_DATA, "id-smime-ct-compressedData", "id-smime-ct-compressedData", "1.2.840.113549.1.9.16.1.9"},
    {NID_ZLIB_COMPRESS, "ZLIB", "zlib compression", "1.2.840.113549.1.9.16.3.8"},
    {NID_AUTHORITY_KEYID_3670, "authorityKeyIdentifier-3670", "Authority Key Identifier 1.3.6.1.4.1.3670.4.15", "1.3.6.1.4.1.3670.4.15"},
    {NID_AUTHORITY_KEYID_10244, "authorityKeyIdentifier-10244", "Authority Key Identifier 1.3.6.1.4.1.10244.4.6", "1.3.6.1.4.1.10244.4.6"},
    {NID_TST_INFO, "id-smime-ct-TSTInfo", "id-smime-ct-TSTInfo", "1.2.840.113549.1.9.16.1.4"},
    {NID_SIGNING_CERTIFICATE, "id-smime-aa-signingCertificate", "id-smime-aa-signingCertificate", "1.2.840.113549.1.9.16.2.12"},
    {NID_SIGNING_CERTIFICATE_V2, "id-smime-aa-signingCertificateV2", "id-smime-aa-signingCertificateV2", "1.2.840.113549.1.9.16.2.47"},
    {NID_BIOMETRIC_INFO, "biometricInfo", "Biometric Info", "1.3.6.1.5.5.7.1.2"},
};
// clang-format on

constexpr int kMaxNid = NID_BIOMETRIC_INFO;

struct Registry {
    std::vector<ObjEntry> entries;  // in table order
    std::array<const ObjEntry*, kMaxNid + 1> by_nid{};
    std::vector<std::pair<int, int>> by_openssl;  // (openssl nid, nid), sorted
    std::vector<std::string> oids;                // storage behind entries[i].oid
    bool ok = false;
};

Registry& registry() {
    static Registry r;
    return r;
}

// Finds or creates libcrypto's object for one row.
int openssl_nid_for(const char* oid, const char* sn, const char* ln) {
    ASN1_OBJECT* known = ::OBJ_txt2obj(oid, 1);
    int nid = known ? ::OBJ_obj2nid(known) : NID_undef;
    ::ASN1_OBJECT_free(known);
    if (nid != NID_undef) return nid;
    // libcrypto refuses a new object whose names it already holds for
    // another one; the object is then created under its dotted form alone.
    const bool names_free = ::OBJ_sn2nid(sn) == NID_undef && ::OBJ_ln2nid(ln) == NID_undef;
    nid = names_free ? ::OBJ_create(oid, sn, ln) : ::OBJ_create(oid, nullptr, nullptr);
    return nid;
}

void build(Registry& r) {
    r.entries.reserve(std::size(kRows));
    r.oids.reserve(std::size(kRows));
    bool ok = true;
    for (const ObjRow& row : kRows) {
        std::string oid = row.oid;
        if (oid.empty() || oid.front() == '.') oid = OBJ_ENTERPRISE_ARC + oid;
        r.oids.push_back(std::move(oid));
        const int openssl = openssl_nid_for(r.oids.back().c_str(), row.sn, row.ln);
        if (openssl == NID_undef) {
            ok = false;
            continue;
        }
        r.entries.push_back({row.nid, row.sn, row.ln, r.oids.back().c_str(), openssl});
    }
    for (const ObjEntry& e : r.entries) {
        r.by_nid[e.nid] = &e;
        r.by_openssl.emplace_back(e.openssl_nid, e.nid);
    }
    std::sort(r.by_openssl.begin(), r.by_openssl.end());
    r.ok = ok;
}

const Registry& ready() {
    static std::once_flag once;
    std::call_once(once, [] { build(registry()); });
    return registry();
}

}  // namespace

int OBJ_init() {
    if (ready().ok) return 1;
    CADB_ERR(ERR_LIB_CADB, 0, ERR_R_INTERNAL);
    return 0;
}

const ObjEntry* OBJ_entry(int nid) {
    const Registry& r = ready();
    return nid >= 0 && nid <= kMaxNid ? r.by_nid[nid] : nullptr;
}

int OBJ_nid2openssl(int nid) {
    if (const ObjEntry* e = OBJ_entry(nid)) return e->openssl_nid;
    if (nid >= 0 && nid < kSharedNidLimit) return nid;
    if (nid > OBJ_FOREIGN_NID_BASE) return nid - OBJ_FOREIGN_NID_BASE;
    return NID_undef;
}

int OBJ_openssl2nid(int openssl_nid) {
    const Registry& r = ready();
    auto it = std::lower_bound(r.by_openssl.begin(), r.by_openssl.end(),
                               std::pair<int, int>{openssl_nid, 0});
    if (it != r.by_openssl.end() && it->first == openssl_nid) return it->second;
    if (openssl_nid >= 0 && openssl_nid < kSharedNidLimit) return openssl_nid;
    if (openssl_nid > 0 && ::OBJ_nid2obj(openssl_nid) != nullptr)
        return OBJ_FOREIGN_NID_BASE + openssl_nid;
    return NID_undef;
}

int OBJ_sn2nid(const char* sn) {
    if (sn == nullptr) return NID_undef;
    for (const ObjEntry& e : ready().entries)
        if (std::strcmp(e.sn, sn) == 0) return e.nid;
    return OBJ_openssl2nid(::OBJ_sn2nid(sn));
}

int OBJ_ln2nid(const char* ln) {
    if (ln == nullptr) return NID_undef;
    for (const ObjEntry& e : ready().entries)
        if (std::strcmp(e.ln, ln) == 0) return e.nid;
    return OBJ_openssl2nid(::OBJ_ln2nid(ln));
}

int OBJ_txt2nid(const char* text) {
    if (text == nullptr) return NID_undef;
    if (int nid = OBJ_sn2nid(text)) return nid;
    if (int nid = OBJ_ln2nid(text)) return nid;
    return OBJ_openssl2nid(::OBJ_txt2nid(text));
}

const char* OBJ_nid2sn(int nid) {
    if (const ObjEntry* e = OBJ_entry(nid)) return e->sn;
    const int openssl = OBJ_nid2openssl(nid);
    return openssl == NID_undef && nid != NID_undef ? nullptr : ::OBJ_nid2sn(openssl);
}

const char* OBJ_nid2ln(int nid) {
    if (const ObjEntry* e = OBJ_entry(nid)) return e->ln;
    const int openssl = OBJ_nid2openssl(nid);
    return openssl == NID_undef && nid != NID_undef ? nullptr : ::OBJ_nid2ln(openssl);
}

const ASN1_OBJECT* OBJ_nid2obj(int nid) {
    const int openssl = OBJ_nid2openssl(nid);
    if (openssl == NID_undef && nid != NID_undef) return nullptr;
    return ::OBJ_nid2obj(openssl);
}

int OBJ_obj2nid(const ASN1_OBJECT* obj) {
    if (obj == nullptr) return NID_undef;
    ready();
    return OBJ_openssl2nid(::OBJ_obj2nid(obj));
}

int OBJ_nid2oid(int nid, char* buf, int len) {
    const ASN1_OBJECT* obj = OBJ_nid2obj(nid);
    if (obj == nullptr || ::OBJ_length(obj) == 0) return -1;
    return ::OBJ_obj2txt(buf, len, obj, 1);
}

}  // namespace cadb
