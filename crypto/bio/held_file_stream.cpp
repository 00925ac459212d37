#include "crypto/bio/held_file_stream.h"

#include <openssl/crypto.h>

#include <algorithm>
#include <cstring>

#include "crypto/bio/rutoken_fs.h"

namespace cadb {

void held_wipe(std::vector<unsigned char>& bytes) {
    if (!bytes.empty()) OPENSSL_cleanse(bytes.data(), bytes.size());
    bytes.clear();
    bytes.shrink_to_fit();
}

void held_append(std::vector<unsigned char>& bytes, const void* data, std::size_t n,
                 std::size_t limit) {
    const std::size_t needed = bytes.size() + n;
    if (needed > bytes.capacity()) {
        // Grown by copy, so that no stale copy of the contents stays behind.
        std::vector<unsigned char> grown;
        grown.reserve(std::max(needed, std::min(limit, std::max<std::size_t>(needed, 128) * 2)));
        grown.assign(bytes.begin(), bytes.end());
        held_wipe(bytes);
        bytes.swap(grown);
    }
    const auto* p = static_cast<const unsigned char*>(data);
    bytes.insert(bytes.end(), p, p + n);
}

int held_read(const std::vector<unsigned char>& bytes, std::size_t& pos, char* out, int n) {
    const std::size_t left = bytes.size() - std::min(pos, bytes.size());
    const std::size_t take = std::min(left, static_cast<std::size_t>(n));
    if (take != 0) std::memcpy(out, bytes.data() + pos, take);
    pos += take;
    return static_cast<int>(take);
}

int held_gets(const std::vector<unsigned char>& bytes, std::size_t& pos, char* out, int size,
              bool fold_crlf) {
    int n = 0;
    while (n < size - 1 && pos < bytes.size()) {
        const char c = static_cast<char>(bytes[pos++]);
        out[n++] = c;
        if (c == '\n') break;
    }
    if (fold_crlf && n >= 2 && out[n - 1] == '\n' && out[n - 2] == '\r') {
        out[n - 2] = '\n';
        --n;
    }
    out[n] = '\0';
    return n;
}

BIO_METHOD* held_file_method_new(const char* name, const HeldFileHandlers& h) {
    BIO_METHOD* made = BIO_meth_new(BIO_TYPE_TOKEN_FILE, name);
    if (made == nullptr) return nullptr;
    BIO_meth_set_write(made, h.write);
    BIO_meth_set_read(made, h.read);
    BIO_meth_set_puts(made, h.puts);
    BIO_meth_set_gets(made, h.gets);
    BIO_meth_set_ctrl(made, h.ctrl);
    BIO_meth_set_create(made, h.create);
    BIO_meth_set_destroy(made, h.destroy);
    return made;
}

}  // namespace cadb
