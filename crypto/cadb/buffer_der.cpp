#include "crypto/cadb/buffer_der.h"

#include <openssl/crypto.h>
#include <openssl/objects.h>

#include <algorithm>
#include <cstring>

#include "crypto/core/objects.h"

namespace cadb {

SecureBytes& SecureBytes::operator=(SecureBytes&& o) noexcept {
    if (this != &o) {
        wipe();
        v_ = std::move(o.v_);
    }
    return *this;
}

void SecureBytes::wipe() {
    if (!v_.empty()) OPENSSL_cleanse(v_.data(), v_.size());
    v_.clear();
}

void SecureBytes::reserve_for(std::size_t n) {
    if (v_.size() + n <= v_.capacity()) return;
    std::vector<unsigned char> bigger;
    bigger.reserve(std::max(v_.size() + n, 2 * v_.capacity()));
    bigger.assign(v_.begin(), v_.end());
    OPENSSL_cleanse(v_.data(), v_.size());
    v_.swap(bigger);
}

void SecureBytes::append(std::span<const unsigned char> b) {
    reserve_for(b.size());
    v_.insert(v_.end(), b.begin(), b.end());
}

std::span<unsigned char> SecureBytes::extend(std::size_t n) {
    reserve_for(n);
    const std::size_t at = v_.size();
    v_.resize(at + n);
    return {v_.data() + at, n};
}

void SecureBytes::resize_down(std::size_t n) {
    if (n >= v_.size()) return;
    OPENSSL_cleanse(v_.data() + n, v_.size() - n);
    v_.resize(n);
}

bool der_put(SecureBytes& out, unsigned char tag, std::span<const unsigned char> content) {
    const std::size_t n = content.size();
    if (n > 0x7FFFFFFF) return false;
    out.append_byte(tag);
    if (n < 0x80) {
        out.append_byte(static_cast<unsigned char>(n));
    } else {
        unsigned char len[4];
        int k = 0;
        for (std::size_t v = n; v != 0; v >>= 8) len[k++] = static_cast<unsigned char>(v);
        out.append_byte(static_cast<unsigned char>(0x80 | k));
        while (k > 0) out.append_byte(len[--k]);
    }
    out.append(content);
    return true;
}

std::span<const unsigned char> der_oid(int nid) {
    const ASN1_OBJECT* obj = OBJ_nid2obj(nid);
    if (obj == nullptr) return {};
    const int n = OBJ_length(obj);
    if (n <= 0) return {};
    return {OBJ_get0_data(obj), static_cast<std::size_t>(n)};
}

std::optional<DerItem> der_get(std::span<const unsigned char>& in) {
    if (in.size() < 2) return std::nullopt;
    const unsigned char tag = in[0];
    if ((tag & 0x1F) == 0x1F) return std::nullopt;
    std::size_t pos = 2;
    std::size_t len = in[1];
    if (len & 0x80) {
        const std::size_t k = len & 0x7F;
        // Indefinite lengths are not DER; more than four length bytes never
        // describe anything this format holds.
        if (k == 0 || k > 4 || in.size() < 2 + k) return std::nullopt;
        len = 0;
        for (std::size_t i = 0; i < k; ++i) len = (len << 8) | in[2 + i];
        if (len < 0x80 || in[2] == 0) return std::nullopt;  // not the shortest form
        pos += k;
    }
    if (len > in.size() - pos) return std::nullopt;
    DerItem item{tag, in.subspan(pos, len)};
    in = in.subspan(pos + len);
    return item;
}

std::optional<std::span<const unsigned char>> der_get(std::span<const unsigned char>& in,
                                                      unsigned char tag) {
    std::span<const unsigned char> rest = in;
    auto item = der_get(rest);
    if (!item || item->tag != tag) return std::nullopt;
    in = rest;
    return item->content;
}

}  // namespace cadb
