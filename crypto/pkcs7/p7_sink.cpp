// The stream that collects a message's content when the caller gives none
// (compressed data: always, passing it on to the caller's stream).
// The stock memory stream grows by a third and wipes every block it leaves,
// so a large content is copied and wiped many times over; this one doubles
// its room, wipes what it leaves once, and answers the memory stream's
// "where are the bytes" request, so PKCS7_DATASIGN reads either alike.
#include <openssl/bio.h>
#include <openssl/crypto.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <new>
#include <vector>

#include "crypto/pkcs7/p7_local.h"

namespace cadb {
namespace {

struct Sink {
    std::vector<unsigned char> bytes;
    std::size_t length = 0;

    ~Sink() { OPENSSL_cleanse(bytes.data(), bytes.size()); }

    bool append(const unsigned char* data, std::size_t n) {
        if (n > static_cast<std::size_t>(INT_MAX) - length) return false;
        if (length + n > bytes.size()) {
            std::vector<unsigned char> room;
            try {
                room.resize(std::max<std::size_t>(2 * bytes.size(),
                                                  std::max<std::size_t>(length + n, 4096)));
            } catch (const std::bad_alloc&) {
                return false;
            }
            std::copy_n(bytes.data(), length, room.data());
            OPENSSL_cleanse(bytes.data(), bytes.size());
            bytes.swap(room);
        }
        std::memcpy(bytes.data() + length, data, n);
        length += n;
        return true;
    }
};

Sink* sink_of(BIO* b) { return static_cast<Sink*>(BIO_get_data(b)); }

int sink_create(BIO* b) {
    Sink* s = new (std::nothrow) Sink;
    if (s == nullptr) return 0;
    BIO_set_data(b, s);
    BIO_set_init(b, 1);
    return 1;
}

int sink_destroy(BIO* b) {
    delete sink_of(b);
    BIO_set_data(b, nullptr);
    return 1;
}

// A stream after the sink in a chain receives every byte as well.
int sink_write(BIO* b, const char* data, int n) {
    if (n <= 0) return 0;
    Sink* s = sink_of(b);
    if (s == nullptr ||
        !s->append(reinterpret_cast<const unsigned char*>(data), static_cast<std::size_t>(n)))
        return -1;
    BIO* next = BIO_next(b);
    if (next != nullptr && BIO_write(next, data, n) != n) return -1;
    return n;
}

long sink_ctrl(BIO* b, int cmd, long, void* ptr) {
    Sink* s = sink_of(b);
    switch (cmd) {
        case BIO_CTRL_INFO:  // BIO_get_mem_data
            if (ptr != nullptr)
                *static_cast<char**>(ptr) = reinterpret_cast<char*>(s->bytes.data());
            return static_cast<long>(s->length);
        case BIO_CTRL_RESET:
            OPENSSL_cleanse(s->bytes.data(), s->length);
            s->length = 0;
            return 1;
        case BIO_CTRL_FLUSH:
            return BIO_next(b) != nullptr ? BIO_flush(BIO_next(b)) : 1;
        default:
            return 0;
    }
}

BIO_METHOD* make_method() {
    BIO_METHOD* m = BIO_meth_new(BIO_TYPE_MEM, "message content sink");
    if (m == nullptr) return nullptr;
    BIO_meth_set_create(m, sink_create);
    BIO_meth_set_destroy(m, sink_destroy);
    BIO_meth_set_write(m, sink_write);
    BIO_meth_set_ctrl(m, sink_ctrl);
    return m;
}

}  // namespace

BIO* p7_new_sink() {
    static BIO_METHOD* const method = make_method();
    return method != nullptr ? BIO_new(method) : nullptr;
}

}  // namespace cadb
