#include "crypto/cadb/buffer_zlib.h"

#include <openssl/crypto.h>
#include <zlib.h>

#include <algorithm>
#include <climits>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "crypto/core/err.h"

namespace cadb {
namespace {

// Work room holding plain bytes: wiped before release. Its memory comes
// from OPENSSL_malloc, so a room that cannot be had is a null block for the
// caller to report, never an exception out of a C function.
class Room {
  public:
    explicit Room(std::size_t n)
        : bytes_(static_cast<unsigned char*>(OPENSSL_malloc(n))), size_(bytes_ ? n : 0) {}
    ~Room() { OPENSSL_clear_free(bytes_, size_); }
    Room(const Room&) = delete;
    Room& operator=(const Room&) = delete;
    bool ok() const { return bytes_ != nullptr; }
    unsigned char* data() { return bytes_; }
    std::size_t size() const { return size_; }
    // Grows to n bytes keeping the first keep; the old block is wiped. False,
    // with the room as it was, when the memory cannot be had.
    bool grow(std::size_t n, std::size_t keep) {
        auto* bigger = static_cast<unsigned char*>(OPENSSL_malloc(n));
        if (bigger == nullptr) return false;
        std::memcpy(bigger, bytes_, keep);
        OPENSSL_clear_free(bytes_, size_);
        bytes_ = bigger;
        size_ = n;
        return true;
    }

  private:
    unsigned char* bytes_;
    std::size_t size_;
};

// zlib's own state (its window and hash tables) holds the plain bytes it
// passes over; zlib frees it unwiped, so its memory comes from here. Each
// block starts with its size, for the wipe at release.
constexpr std::size_t kHeader = alignof(std::max_align_t);

voidpf wiping_alloc(voidpf, uInt items, uInt size) {
    const std::size_t n = static_cast<std::size_t>(items) * size;
    if (size != 0 && n / size != items) return Z_NULL;
    auto* block = static_cast<unsigned char*>(OPENSSL_malloc(n + kHeader));
    if (block == nullptr) return Z_NULL;
    std::memcpy(block, &n, sizeof n);
    return block + kHeader;
}

void wiping_free(voidpf, voidpf address) {
    if (address == Z_NULL) return;
    auto* block = static_cast<unsigned char*>(address) - kHeader;
    std::size_t n = 0;
    std::memcpy(&n, block, sizeof n);
    OPENSSL_clear_free(block, n + kHeader);
}

void use_wiping_memory(z_stream& z) {
    z.zalloc = wiping_alloc;
    z.zfree = wiping_free;
    z.opaque = Z_NULL;
}

// compress2 over a stream whose memory is wiped: the same bytes, Z_OK, or
// Z_BUF_ERROR when the room is too small.
int deflate_into(unsigned char* out, uLongf* out_len, const Bytef* in, uLong in_len, int level) {
    z_stream z{};
    use_wiping_memory(z);
    const int init = deflateInit(&z, level);
    if (init != Z_OK) return init;
    z.next_in = const_cast<Bytef*>(in);
    z.avail_in = static_cast<uInt>(in_len);
    z.next_out = out;
    z.avail_out = static_cast<uInt>(*out_len);
    const int r = deflate(&z, Z_FINISH);
    *out_len = z.total_out;
    deflateEnd(&z);
    if (r == Z_STREAM_END) return Z_OK;
    return r == Z_OK || r == Z_BUF_ERROR ? Z_BUF_ERROR : r;
}

}  // namespace

BUFFER* BUFFER_compress(const void* bytes, int len, int level) {
    if (bytes == nullptr || len < 0) {
        CADB_ERR(ERR_LIB_BUF_, BUF_F_BUFFER_COMPRESS, ERR_R_NULL_PARAMETER);
        return nullptr;
    }
    if (level < 0 || level > 9) level = Z_DEFAULT_COMPRESSION;
    std::int64_t room = (static_cast<std::int64_t>(len) + 99) / 100 + len + 12;
    for (;;) {
        if (room >= INT_MAX) {
            CADB_ERR(ERR_LIB_BUF_, BUF_F_BUFFER_COMPRESS, ERR_R_INTERNAL);
            return nullptr;
        }
        Room out(static_cast<std::size_t>(room));
        if (!out.ok()) {
            CADB_ERR(ERR_LIB_BUF_, BUF_F_BUFFER_COMPRESS, ERR_R_MALLOC);
            return nullptr;
        }
        uLongf out_len = static_cast<uLongf>(room);
        const int r = deflate_into(out.data(), &out_len, static_cast<const Bytef*>(bytes),
                                   static_cast<uLong>(len), level);
        if (r == Z_OK) {
            BUFFER* result = BUFFER_fill(out.data(), static_cast<int>(out_len));
            if (result == nullptr) CADB_ERR(ERR_LIB_BUF_, BUF_F_BUFFER_COMPRESS, ERR_R_MALLOC);
            return result;
        }
        if (r != Z_BUF_ERROR) {
            CADB_ERR(ERR_LIB_BUF_, BUF_F_BUFFER_COMPRESS, ERR_R_INTERNAL);
            return nullptr;
        }
        room += len;
    }
}

BUFFER* BUFFER_uncompress(const void* bytes, int len, int hint, int max_len) {
    if (bytes == nullptr || len <= 0) {
        CADB_ERR(ERR_LIB_BUF_, BUF_F_BUFFER_UNCOMPRESS, ERR_R_NULL_PARAMETER);
        return nullptr;
    }
    const std::int64_t limit = max_len > 0 ? max_len : INT_MAX - 1;
    // The room follows the output: it starts at hint x len and the multiplier
    // doubles each time the room fills, so a short stream that inflates to
    // little costs little, whatever the limit.
    std::int64_t multiplier = hint > 0 ? hint : 4;
    Room out(static_cast<std::size_t>(std::min<std::int64_t>(multiplier * len, limit)));
    if (!out.ok()) {
        CADB_ERR(ERR_LIB_BUF_, BUF_F_BUFFER_UNCOMPRESS, ERR_R_MALLOC);
        return nullptr;
    }

    z_stream z{};
    use_wiping_memory(z);
    if (inflateInit(&z) != Z_OK) {
        CADB_ERR(ERR_LIB_BUF_, BUF_F_BUFFER_UNCOMPRESS, ERR_R_MALLOC);
        return nullptr;
    }
    z.next_in = static_cast<Bytef*>(const_cast<void*>(bytes));
    z.avail_in = static_cast<uInt>(len);
    int r = Z_OK;
    bool room_refused = false;
    for (;;) {
        z.next_out = out.data() + z.total_out;
        z.avail_out = static_cast<uInt>(out.size() - z.total_out);
        r = inflate(&z, Z_FINISH);
        if (r == Z_STREAM_END) break;
        // More output room is the only thing that can help: input that ran
        // out before the end of the stream is a damaged stream.
        if ((r != Z_BUF_ERROR && r != Z_OK) || z.avail_out != 0 ||
            static_cast<std::int64_t>(out.size()) >= limit)
            break;
        multiplier *= 2;
        if (!out.grow(static_cast<std::size_t>(std::min<std::int64_t>(multiplier * len, limit)),
                      z.total_out)) {
            room_refused = true;
            break;
        }
    }
    const std::size_t produced = z.total_out;
    inflateEnd(&z);
    if (r != Z_STREAM_END) {
        CADB_ERR(ERR_LIB_BUF_, BUF_F_BUFFER_UNCOMPRESS,
                 room_refused ? ERR_R_MALLOC : ERR_R_INTERNAL);
        return nullptr;
    }
    BUFFER* result = BUFFER_fill(out.data(), static_cast<int>(produced));
    if (result == nullptr) CADB_ERR(ERR_LIB_BUF_, BUF_F_BUFFER_UNCOMPRESS, ERR_R_MALLOC);
    return result;
}

}  // namespace cadb
