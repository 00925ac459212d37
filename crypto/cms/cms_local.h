// What the message context's files share inside the library.
#pragma once

#include "crypto/cms/cms.h"
#include "crypto/pkcs7/p7_err.h"
#include "crypto/pkcs7/pkcs7.h"

namespace cadb {

// Drops the records collected from a read message.
void cms_drop_records(CMS* cms);
// Frees the engine's chain of the context.
void cms_close_chain(CMS* cms);
// Collects the signer records of a signed or signed-and-enveloped message
// without verifying them.
int CMS_collect_signatures(CMS* cms);
// A signer record of one signer: identifier, signing time and comment, and
// for an issuer-and-serial signer its certificate among certs. Null on
// failure.
CMS_SIGNATURE* cms_signature_of(const PKCS7_SIGNER_INFO* si, STACK_OF(X509) * certs);

// Content that came out of a decryption (enveloped, signed-and-enveloped
// and encrypted messages) is secret; content read in the clear is not.
bool cms_content_is_secret(const CMS* cms);
// Frees the content stream, wiped first when it is secret.
void cms_free_content(CMS* cms);

// Opens the decoding chain of a read message (a detached signed message
// over its fed content); with a key for enveloped data.
bool cms_open_chain(CMS* cms, int func, EVP_PKEY* key, X509* cert);
// Opens the chain of a read signed message and saves its content.
int cms_open_signed(CMS* cms, int func);

// Chunks of the content read: from 1,024 bytes doubling to at most 1 MiB.
constexpr int CMS_CHUNK_FIRST = 1024;
constexpr int CMS_CHUNK_MAX = 1048576;
int cms_next_chunk(int size);

}  // namespace cadb
