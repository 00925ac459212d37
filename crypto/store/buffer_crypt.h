// The password-encrypted buffer: a PKCS#7 encryptedData message around a
// digestedData message (optionally inside a compressedData message) around
// the data. It is the on-medium form of the key store's protected files, so
// its bytes are fixed:
//
//   ContentInfo { encryptedData,
//     [0] EncryptedData { version 1,
//       EncryptedContentInfo { digestedData | compressedData,
//         AlgorithmIdentifier { cipher, OCTET STRING iv (8 bytes) },
//         [0] IMPLICIT encrypted DER of the inner message } } }
//   ContentInfo { compressedData,
//     [0] CompressedData { version 0, AlgorithmIdentifier { zlibCompress },
//       SEQUENCE { digestedData, [0] IMPLICIT zlib stream of the digested message } } }
//   ContentInfo { digestedData,
//     [0] DigestedData { version 0, AlgorithmIdentifier { RUS-HASH, NULL },
//       ContentInfo { data, [0] OCTET STRING data }, OCTET STRING digest } }
//
// The key is PBKDF2 over the password with eight zero bytes of salt: HMAC
// over GOST R 34.11-94 for RUS-GAMMAR (32-byte key), over SHA-1 for
// DES-EDE3-CBC (24-byte key). Nothing about the password is stored.
#pragma once

#include "crypto/cadb/buffer.h"

namespace cadb {

inline constexpr int kPasswdDefaultIterations = 2048;

// data_len and passwd_len <= 0: strlen. A cipher other than 44 (DES-EDE3-CBC)
// or 174 (RUS-GAMMAR) is taken as 174; iterations <= 0 as 2048. out_form 2
// gives PEM ("PKCS7"), any other DER. Unless raw_passwd is set a non-empty
// password is first converted to the stored password encoding.
BUFFER* BUFFER_encrypt(const void* data, int data_len, int cipher_nid, const char* passwd,
                       int passwd_len, int iterations, int compress, int out_form, int raw_passwd);

// The library's number of the outer message type of data (DER, PEM or bare
// base64, as BUFFER_decrypt reads them): 26 for encrypted data; 0 when the
// data is no message at all.
int BUFFER_message_type(const void* data, int data_len);

// The data of a message made by BUFFER_encrypt (DER, PEM or bare base64).
// Unless raw_passwd is set the converted password is tried first, then the
// password as typed.
BUFFER* BUFFER_decrypt(const void* data, int data_len, const char* passwd, int passwd_len,
                       int iterations, int raw_passwd);

}  // namespace cadb
