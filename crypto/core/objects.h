// The object-number registry. The library's API speaks its own object
// numbers (the numbering of the original toolkit); libcrypto numbers the same
// objects differently above 170. Every number that crosses into or out of
// libcrypto is translated here, and nowhere else.
#pragma once

#include <openssl/asn1.h>
#include <openssl/objects.h>

namespace cadb {

// The private enterprise arc under which the system's own algorithms live.
inline constexpr const char* OBJ_ENTERPRISE_ARC = "1.3.6.1.4.1.58203";

// libcrypto objects the registry has no number for are seen by the library
// as this base plus libcrypto's number, so that no number is ever lost.
inline constexpr int OBJ_FOREIGN_NID_BASE = 100000;

// The library's own object numbers above libcrypto's common range.
enum ObjNid : int {
    NID_HALBERD = 171,
    NID_RUS_CHANGE = 172,
    NID_RUS_GAMMA = 173,
    NID_RUS_GAMMAR = 174,
    NID_RUS_MAC = 175,
    NID_RUS_HASH = 176,
    NID_R3410 = 177,
    NID_R3410_R3411 = 178,
    NID_PBE_R3411_GOST = 179,
    NID_HMAC_R3411 = 180,
    NID_ECR3410 = 181,
    NID_ECR3410_R3411 = 182,
    NID_GOST_WRAP = 183,
    NID_CMS3DES_WRAP = 186,
    NID_DH_PUBLIC_NUMBER = 188,
    NID_PRIME256V1 = 191,
    NID_R3410_ESDH = 195,
    NID_ECDH_STD_R3411KDF = 196,
    NID_ECDH_COFACTOR_R3411KDF = 197,
    NID_INHIBIT_ANY_POLICY = 200,
    NID_FRESHEST_CRL = 201,
    NID_POLICY_MAPPINGS = 202,
    NID_POLICY_CONSTRAINTS = 203,
    NID_NAME_CONSTRAINTS = 204,
    NID_AUTHORITY_INFO_ACCESS = 206,
    NID_SUBJECT_INFO_ACCESS = 207,
    NID_ISSUING_DIST_POINT = 213,
    NID_HOLD_INSTRUCTION_CODE = 214,
    NID_CERTIFICATE_ISSUER = 215,
    NID_SUBJECT_DIRECTORY_ATTRIBUTES = 220,
    NID_STREET_ADDRESS = 221,
    NID_POSTAL_ADDRESS = 222,
    NID_PSEUDONYM = 223,
    NID_REG_TOKEN = 225,
    NID_AUTHENTICATOR = 226,
    NID_PKI_PUBLICATION_INFO = 227,
    NID_PKI_ARCHIVE_OPTIONS = 228,
    NID_OLD_CERT_ID = 229,
    NID_PROTOCOL_ENCR_KEY = 230,
    NID_CMC_STATUS_INFO = 231,
    NID_CMC_IDENTIFICATION = 232,
    NID_CMC_IDENTITY_PROOF = 233,
    NID_CMC_DATA_RETURN = 234,
    NID_CMC_TRANSACTION_ID = 235,
    NID_CMC_SENDER_NONCE = 236,
    NID_CMC_RECIPIENT_NONCE = 237,
    NID_CMC_ADD_EXTENSIONS = 238,
    NID_CMC_ENCRYPTED_POP = 239,
    NID_CMC_DECRYPTED_POP = 240,
    NID_CMC_LRA_POP_WITNESS = 241,
    NID_CMC_GET_CERT = 242,
    NID_CMC_GET_CRL = 243,
    NID_CMC_REVOKE_REQUEST = 244,
    NID_CMC_REG_INFO = 245,
    NID_CMC_RESPONSE_INFO = 246,
    NID_CMC_QUERY_PENDING = 247,
    NID_CMC_POP_LINK_RANDOM = 248,
    NID_CMC_POP_LINK_WITNESS = 249,
    NID_CMC_CONFIRM_CERT_ACCEPTANCE = 250,
    NID_CMC_PKI_DATA = 251,
    NID_CMC_RESPONSE_BODY = 252,
    NID_EXTENSION_REQUEST = 253,
    NID_MS_EXT_REQ = 257,
    NID_COMPRESSED_DATA = 261,
    NID_ZLIB_COMPRESS = 262,
    NID_CRYPTOPRO = 263,
    NID_CRYPTOPRO_HASHES = 264,
    NID_CRYPTOPRO_ENCRYPTS = 265,
    NID_CRYPTOPRO_SIGNS = 266,
    NID_CRYPTOPRO_EXCHANGES = 267,
    NID_CRYPTOPRO_EXTENSIONS = 268,
    NID_CRYPTOPRO_ECC_SIGNS = 269,
    NID_CRYPTOPRO_ECC_EXCHANGES = 270,
    NID_ECR3410_CP = 271,
    NID_R3410_CP = 272,
    NID_R3411_WITH_ECR3410_CP = 273,
    NID_R3411_WITH_R3410_CP = 274,
    NID_R3411_CP_PARAMSET = 275,
    NID_R3410_94_A_PARAMSET = 276,
    NID_R3410_94_B_PARAMSET = 277,
    NID_R3410_94_C_PARAMSET = 278,
    NID_R3410_94_D_PARAMSET = 279,
    NID_R3410_94_XCHA_PARAMSET = 280,
    NID_R3410_94_XCHB_PARAMSET = 281,
    NID_R3410_94_XCHC_PARAMSET = 282,
    NID_R3410_2001_A_PARAMSET = 283,
    NID_R3410_2001_B_PARAMSET = 284,
    NID_R3410_2001_C_PARAMSET = 285,
    NID_R3410_2001_XCHA_PARAMSET = 286,
    NID_R3410_2001_XCHB_PARAMSET = 287,
    NID_RUS_HASH_CP = 288,
    NID_RUS_GAMMAR_CP = 289,
    NID_GOST28147_MAC_CP = 290,
    NID_GOST28147_A_PARAMSET = 291,
    NID_GOST28147_B_PARAMSET = 292,
    NID_GOST28147_C_PARAMSET = 293,
    NID_GOST28147_D_PARAMSET = 294,
    NID_GOST28147_SIMPLE_A_PARAMSET = 295,
    NID_GOST28147_SIMPLE_B_PARAMSET = 296,
    NID_GOST28147_SIMPLE_C_PARAMSET = 297,
    NID_GOST28147_SIMPLE_D_PARAMSET = 298,
    NID_AUTHORITY_KEYID_3670 = 304,
    NID_AUTHORITY_KEYID_10244 = 306,
    NID_ECDH = 307,
    NID_TST_INFO = 309,
    NID_SIGNING_CERTIFICATE = 310,
    NID_PUBLIC_KEY = 327,
    NID_GOST28147_CFB = 329,
    NID_GOST28147_WRAP = 330,
    NID_PBE_R3411_GOST28147 = 331,
    NID_SIGNING_CERTIFICATE_V2 = 332,
    NID_SIGNATURE_COMMENT = 333,
    NID_RU_INN = 334,
    NID_GENERATION_QUALIFIER = 335,
    NID_DN_QUALIFIER = 336,
    NID_DOMAIN_COMPONENT = 337,
    NID_RNS_FSS = 338,
    NID_KP_FSS = 339,
    NID_BIOMETRIC_INFO = 340,
};

// One registered object.
struct ObjEntry {
    int nid;          // the library's number
    const char* sn;   // short name
    const char* ln;   // long name
    const char* oid;  // dotted form, the enterprise arc written out
    int openssl_nid;  // libcrypto's number for the same object
};

// Registers every object with libcrypto (reusing the objects it knows,
// creating the others). Idempotent and safe from any thread; every other
// function here calls it first. 1 on success, 0 when an object could not be
// created.
int OBJ_init();

// Translation at the libcrypto boundary. Numbers below 171 are shared;
// NID_undef (0) maps to itself; anything else unknown maps to NID_undef.
int OBJ_nid2openssl(int nid);
int OBJ_openssl2nid(int openssl_nid);

// The registry entry of a number, or nullptr.
const ObjEntry* OBJ_entry(int nid);

// Look-ups in the library's numbering. libcrypto's macros that expand to
// OBJ_nid2sn (EVP_get_digestbynid, EVP_get_cipherbynid) therefore take the
// library's numbers when used inside this namespace; the records are entered
// under the library's names as well, so they resolve. Names are the registry's own short
// and long names first, then every name libcrypto knows for the object.
int OBJ_sn2nid(const char* sn);
int OBJ_ln2nid(const char* ln);
// A short name, long name or dotted OID.
int OBJ_txt2nid(const char* text);
const char* OBJ_nid2sn(int nid);
const char* OBJ_nid2ln(int nid);
// libcrypto's shared object (never freed by the caller), or nullptr.
const ASN1_OBJECT* OBJ_nid2obj(int nid);
int OBJ_obj2nid(const ASN1_OBJECT* obj);
// Writes the dotted form into buf (at most len bytes with the terminating
// zero); returns the full length as OBJ_obj2txt does, or -1.
int OBJ_nid2oid(int nid, char* buf, int len);

}  // namespace cadb
