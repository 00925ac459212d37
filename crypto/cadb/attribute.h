// The attribute list: names and request attributes split into plain
// (type, text) nodes for the object layer, and the small value helpers
// beside it.
#pragma once

#include <openssl/asn1.h>
#include <openssl/x509.h>

#include "crypto/cadb/buffer.h"

namespace cadb {

// One node of a singly linked list owned by its head.
struct ATTRIBUTE {
    int nid;          // attribute type
    char* text;       // value as NUL-terminated local text, owned
    int length;       // text length in bytes
    int string_type;  // ASN.1 universal tag of the value
    ATTRIBUTE* next;
};

// Appends a node (len <= 0: strlen) at the end of *head, setting *head when
// the list was empty. Returns the node, or null with the list unchanged.
ATTRIBUTE* ATTRIBUTE_add(ATTRIBUTE** head, int nid, const char* text, int len, int string_type);
// Frees every node. Null accepted.
void ATTRIBUTE_free(ATTRIBUTE* head);

// One node per name entry, in order; null for an empty or missing name.
ATTRIBUTE* X509_NAME_split(const X509_NAME* name);

// One node per printable request attribute; an extension request (253, or
// 257) is decoded into *extensions instead, replacing what it held (the
// last one wins). Attributes without value bytes are skipped.
ATTRIBUTE* X509_ATTRIBUTES_split(const STACK_OF(X509_ATTRIBUTE) * attributes,
                                 STACK_OF(X509_EXTENSION) * *extensions);
// X509_ATTRIBUTES_split into *out, telling a failure (false, with its error
// on the queue) from attributes with nothing printable (true, *out null).
bool attributes_split(const STACK_OF(X509_ATTRIBUTE) * attributes,
                      STACK_OF(X509_EXTENSION) * *extensions, ATTRIBUTE** out);

// The printable text of a string value.
BUFFER* ASN1_STRING_get_text(const ASN1_STRING* s);
// A copy of the raw bytes (serial numbers, key identifiers).
BUFFER* ASN1_STRING_get_bytes(const ASN1_STRING* s);

// Bit i of the mask is bit i of the string (bit 0 first), for i below
// 8 x min(byte length, 4). 0 for null.
int KEY_USAGE_bits(const ASN1_BIT_STRING* bits);

}  // namespace cadb
