// A 32-byte key kept XOR-masked in memory while idle, with a check value of
// the clear key so that a damaged or wrongly unmasked key is caught before
// it is used.
#pragma once

#include <cstdint>

namespace cadb {

// Flag bits of PSE_KEY32::flags.
constexpr std::uint32_t PSE_KEY32_NO_MASK = 1;  // masking disabled for this record
constexpr std::uint32_t PSE_KEY32_MASKED = 4;   // key currently holds key XOR mask

// An all-zero record is empty. The mask lives inside the record: a masked
// key is only useful together with its mask, and keeping both in one block
// spares an allocation that could fail in the middle of an operation.
struct PSE_KEY32 {
    unsigned char key[32];   // key XOR mask while masked, else the clear key
    std::uint32_t check;     // PSE_crc32 of the clear key
    unsigned char mask[32];  // valid once has_mask is set
    std::uint32_t has_mask;
    std::uint32_t mask_time;  // seconds, when the mask was last drawn
    std::uint32_t flags;
};

// Masks a clear record. A record already masked, or with masking disabled,
// is left as it is. The mask is drawn on first use and redrawn when more
// than one second has passed since the last draw. 0 with error class 12 for
// null or when no mask can be drawn.
int PSE_key32_mask(PSE_KEY32* k);
// Removes the mask and verifies the clear key against its check value. On a
// mismatch the record is left clear for the caller to wipe: 0, error class
// 12. Null: 0, error class 12. A record with masking disabled succeeds as is.
int PSE_key32_unmask(PSE_KEY32* k);
// As above, but null is simply 0 with no error recorded.
int PSE_key32_mask_checked(PSE_KEY32* k);
int PSE_key32_unmask_checked(PSE_KEY32* k);
// Stores the check value of a clear record; a masked record is unchanged.
void PSE_key32_set_crc(PSE_KEY32* k);
// 1 when the record is masked or its clear key matches its check value.
int PSE_key32_check(const PSE_KEY32* k);
// Zeroes the record, mask included. Null is ignored.
void PSE_key32_wipe(PSE_KEY32* k);
// Loads 32 clear bytes: stores them with their check value and masks them.
// The record's flags are kept (masking stays disabled where it was).
int PSE_key32_load(PSE_KEY32* k, const unsigned char key[32]);

}  // namespace cadb
