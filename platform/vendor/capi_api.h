// The part of the Windows CryptoAPI that signing through a provider calls:
// a hash object made on a provider handle, its value installed as it
// stands, and the signature of that value with the provider's key. The
// entries are looked up by name in "advapi32.dll". Shared by the library
// and the stand-in provider the tests build.
//
// Every entry returns nonzero for success. Signatures come back with their
// bytes in little-endian order.
#pragma once

#include <cstdint>

namespace cadb::vendor {

using HCRYPTPROV = std::uintptr_t;
using HCRYPTHASH = std::uintptr_t;
using HCRYPTKEY = std::uintptr_t;
using ALG_ID = std::uint32_t;
using CapiBool = int;

inline constexpr ALG_ID kCalgMd5 = 0x8003;
inline constexpr ALG_ID kCalgSha1 = 0x8004;
inline constexpr ALG_ID kCalgSsl3Shamd5 = 0x8008;
inline constexpr ALG_ID kCalgGostLibrary = 0x8033;
inline constexpr ALG_ID kCalgGostCryptoPro = 0x801E;
// CryptSetHashParam: install the hash value.
inline constexpr std::uint32_t kHpHashVal = 2;
// Which of a container's two keys: exchange or signature.
inline constexpr std::uint32_t kAtKeyExchange = 1;
inline constexpr std::uint32_t kAtSignature = 2;

using CryptCreateHash_t = CapiBool (*)(HCRYPTPROV prov, ALG_ID alg, HCRYPTKEY key,
                                       std::uint32_t flags, HCRYPTHASH* hash);
using CryptSetHashParam_t = CapiBool (*)(HCRYPTHASH hash, std::uint32_t param,
                                         const unsigned char* data, std::uint32_t flags);
// With a null signature buffer: the length the signature needs.
using CryptSignHashA_t = CapiBool (*)(HCRYPTHASH hash, std::uint32_t key_spec,
                                      const char* description, std::uint32_t flags,
                                      unsigned char* signature, std::uint32_t* length);
using CryptDestroyHash_t = CapiBool (*)(HCRYPTHASH hash);

#define CADB_CAPI_ENTRIES(X) \
    X(CryptCreateHash)       \
    X(CryptSetHashParam)     \
    X(CryptSignHashA)        \
    X(CryptDestroyHash)

}  // namespace cadb::vendor
