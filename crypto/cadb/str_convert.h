// Text between the local code page (1251), UTF-8 and BMPString, the type and
// bytes of directory-string values made from local text, and the password
// encodings of stored secrets.
#pragma once

#include <openssl/asn1.h>
#include <openssl/x509.h>

namespace cadb {

// Library 11 (X.509) function codes of the conversions.
enum StrFunc : int {
    X509_F_STR_CONVERT = 193,
    X509_F_X509_NAME_ENTRY_CHOOSE_TYPE = 194,
    X509_F_X509_NAME_ENTRY_ENCODE_TEXT = 195,
    X509_F_X509_NAME_ENTRY_SET_TEXT = 196,
    X509_F_X509_ATTRIBUTES_ADD_TEXT = 135,
};

// Conversions into new text (free with OPENSSL_free; OPENSSL_clear_free for
// secrets) followed by a zero, two zero bytes for BMP results. len < 0:
// strlen (for BMP input: up to the first zero character). *out_len, when
// given, receives the converted length. Null, with an error, when a byte
// sequence is not valid in its code page or a character has no place in
// the target.
char* STR_local_to_utf8(const char* text, int len, int* out_len);
char* STR_utf8_to_local(const char* text, int len, int* out_len);
char* STR_bmp_to_utf8(const char* text, int len, int* out_len);
char* STR_utf8_to_bmp(const char* text, int len, int* out_len);
char* STR_bmp_to_local(const char* text, int len, int* out_len);
char* STR_local_to_bmp(const char* text, int len, int* out_len);
// A copy (len < 1: strlen).
char* STR_copy(const char* text, int len, int* out_len);

// Passwords typed in the local code page protect stored data as UTF-8
// (PASSWD_encode, in passwd.h); a stored password reads back as it is; the
// BMPString form serves PKCS#12-style consumers.
char* PASSWD_decode(const char* passwd, int len, int* out_len);
char* PASSWD_to_bmp(const char* passwd, int len, int* out_len);
// Name text kept as UTF-8 shown in the local code page.
char* STR_decode_name(const char* text, int len, int* out_len);

// Flags of the type choice.
enum NameEntryFlag : int {
    NAME_ENTRY_KEEP_TYPE = 0x1,   // the caller's type must fit, never changed
    NAME_ENTRY_NO_T61 = 0x4,      // general list 19, 30, 12 instead of 19, 20, 30, 12, 28
    NAME_ENTRY_ANY_LENGTH = 0x10, // the attribute's length bounds are not applied
};

// The directory-string type for local text of attribute `nid`: the caller's
// *type stays when it is in the attribute's list and fits; otherwise the
// first type of the list that the text fits (unless NAME_ENTRY_KEEP_TYPE).
// 1 with *type set, or 0 (length outside the bounds, attribute outside the
// table, no type fits).
int X509_NAME_ENTRY_choose_type(int nid, int* type, const char* text, int len, int flags);

// The type when the local text fits it, else 0. PrintableString and
// IA5String by their character sets; T61String and VisibleString take
// printable ASCII (local letters in a T61String would be misread by every
// peer); UTF8String and BMPString any text that converts.
int X509_NAME_ENTRY_check_type(const char* text, int len, int type);

// The bytes of local text as a value of `type`: UTF8String, BMPString and
// UniversalString converted from the local code page, the narrow types copied when the text
// fits them; other types refused. *len in: the text length (0 or less:
// strlen); out: the byte count. New memory (OPENSSL_free), or null.
unsigned char* X509_NAME_ENTRY_encode_text(const char* text, int* len, int type);

// Sets the string's type and bytes from local text. 1/0 (s unchanged).
int X509_NAME_ENTRY_set_text(ASN1_STRING* s, const char* text, int len, int type);

// Appends to *attributes (made when null) one attribute of type `nid` whose
// SET holds one string made from local text (len 0: strlen) by the type
// choice above, under `flags`; *type in: the wished type, out: the type
// used. 1/0 (*attributes unchanged).
int X509_ATTRIBUTES_add_text(STACK_OF(X509_ATTRIBUTE) * *attributes, int nid, const char* text,
                             int len, int* type, int flags);

}  // namespace cadb
