// What the key-store context's own files share.
#pragma once

#include "crypto/store/pse_ctx.h"

namespace cadb {

// The S-box codes a store may have been made with, in the order a read tries
// them.
inline constexpr int kPseSboxCodeFirst = 31;
inline constexpr int kPseSboxCodeLast = 35;

// The text of a path buffer ("" when empty).
inline const char* pse_ctx_text(const BufferPtr& b) {
    return b && b->data != nullptr ? reinterpret_cast<const char*>(b->data) : "";
}

// The masks as they are stored: encrypted under the context's password when
// it has one, else a clear copy. Null (reported under func) when no masks
// are held or the encryption failed.
BufferPtr pse_ctx_stored_masks(PSE_CTX* ctx, int func);

}  // namespace cadb
