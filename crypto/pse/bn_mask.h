// Masked big numbers: private numbers of GOST keys kept XOR-masked in memory.
//
// OpenSSL's BIGNUM is opaque, so the masked value lives in this record and
// not inside a BIGNUM. Typical use for a private key:
//
//     BN_MASKED* d = BN_MASKED_new();
//     BN_mask(d, clear_bn);             // store; then BN_clear_free(clear_bn)
//     ...
//     BIGNUM* x = BN_unmask_dup(d);     // clear copy for one operation
//     ... use x ...
//     BN_clear_free(x);                 // always wipe the clear copy
//     BN_MASKED_free(d);                // wipes the masked value and mask
//
// The record never holds the clear value: BN_mask masks while copying in and
// BN_unmask_dup unmasks while copying out. A check value of the clear bytes
// catches a damaged record.
#pragma once

#include <openssl/bn.h>

#include <cstdint>
#include <memory>
#include <vector>

namespace cadb {

struct BN_MASKED {
    std::vector<unsigned char> value;  // clear value XOR mask, little-endian
    std::vector<unsigned char> mask;
    bool negative = false;
    std::uint32_t check = 0;  // PSE_crc32 of the clear little-endian bytes
    bool set = false;         // a value has been stored

    BN_MASKED() = default;
    BN_MASKED(const BN_MASKED&) = delete;
    BN_MASKED& operator=(const BN_MASKED&) = delete;
    ~BN_MASKED();
};

// An empty record (nothing stored yet), or null on memory exhaustion (error
// class 11).
BN_MASKED* BN_MASKED_new();
// Wipes and frees; null is ignored.
void BN_MASKED_free(BN_MASKED* m);
// An independent masked copy (its own fresh mask), or null.
BN_MASKED* BN_MASKED_dup(const BN_MASKED* m);

// Stores the value of bn in m under a freshly drawn mask, replacing what m
// held. bn itself is not changed: the caller wipes it. Zero is stored with
// an empty mask. 1, or 0 with error class 1 (null) or 12 (no mask).
int BN_mask(BN_MASKED* m, const BIGNUM* bn);
// A new clear BIGNUM (constant-time flag set) with the stored value; m stays
// masked. Null with error class 1 for a null or empty record, 12 when the
// clear value does not match its check value, 11 when memory runs out. The
// caller releases the result with BN_clear_free.
BIGNUM* BN_unmask_dup(const BN_MASKED* m);

// Owner of a masked number.
struct BnMaskedDeleter {
    void operator()(BN_MASKED* m) const { BN_MASKED_free(m); }
};
using BnMaskedPtr = std::unique_ptr<BN_MASKED, BnMaskedDeleter>;

}  // namespace cadb
