// Point decoders on every built-in curve: octet form (plain and compressed),
// x || y little-endian, and hexadecimal text. A decoded point encodes and
// decodes back to itself (compressed too when it lies on the curve), and
// key agreement takes a peer point only when it lies on the curve.
#include <cstdlib>
#include <string>
#include <vector>

#include "crypto/ecgost/ec.h"
#include "crypto/ecgost/ecgost.h"
#include "fuzz/fuzz_support.h"

namespace cadb::fuzz {
namespace {

using Bytes = std::vector<unsigned char>;

ECURVE* curve_for(int code) {
    static ECURVE* curves[7] = {};
    ECURVE*& c = curves[code - 11];
    if (c == nullptr) c = ECURVE_new_by_code(code);
    return c;
}

void check_octets(ECURVE* c, const ECPOINT* pt) {
    // The decoders leave the curve equation to the validity tests, and only a
    // point on the curve has a compressed form that names it.
    const bool on_curve = ECPOINT_lies(pt) == 1;
    for (int compressed : {0, 1}) {
        if (compressed && !on_curve) continue;
        const std::size_t n = ECPOINT_point2bin(pt, compressed, nullptr, 0);
        if (n == 0) continue;
        Bytes out(n);
        if (ECPOINT_point2bin(pt, compressed, out.data(), out.size()) != n) abort();
        ECPOINT* back = ECPOINT_bi2point(c, out.data(), out.size(), nullptr);
        if (back == nullptr || ECPOINT_cmp(back, pt) != 0) abort();
        ECPOINT_free(back);
    }
}

// Agreement with a peer point from outside: accepted only when the point is
// a valid public key of the curve.
void agree(int code, ECURVE* c, const Bytes& peer, int mode) {
    static ECDH* contexts[7][2] = {};
    ECDH*& dh = contexts[code - 11][mode == ECDH_COFACTOR_COMPATIBLE];
    if (dh == nullptr) {
        dh = ECGOST_DH_init(c, mode);
        if (dh == nullptr || ECDH_generate_key(dh) != 1) abort();
    }
    if (ECGOST_DH_compute_key(dh, peer.data(), peer.size()) != 1) return;
    ECPOINT* pt = ECPOINT_bi2point(c, peer.data(), peer.size(), nullptr);
    if (pt == nullptr || ECPOINT_lies(pt) != 1) abort();
    ECPOINT_free(pt);
}

}  // namespace
}  // namespace cadb::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace cadb;
    using namespace cadb::fuzz;
    use_kernel_random();
    Input in(data, size);
    const std::uint8_t choice = in.byte();
    const int code = 11 + choice % 7;
    ECURVE* c = curve_for(code);
    if (c == nullptr) abort();
    const Bytes rest = in.rest();
    ECPOINT* pt = nullptr;
    switch ((choice >> 3) % 6) {
        case 0:
            pt = ECPOINT_bi2point(c, rest.data(), rest.size(), nullptr);
            break;
        case 1:
            pt = ECPOINT_le2point(c, rest.data(), rest.size(), nullptr);
            break;
        case 2: {
            const std::string hex(rest.begin(), rest.end());
            pt = ECPOINT_hex2point(c, hex.c_str(), nullptr);
            break;
        }
        case 3:
            agree(code, c, rest, ECDH_COFACTOR_NONE);
            break;
        case 4:
            agree(code, c, rest, ECDH_COFACTOR_COMPATIBLE);
            break;
        default: {
            // Decoding onto a point of the curve that already holds a value.
            ECPOINT* target = ECPOINT_dup(c->P.get());
            if (target == nullptr) abort();
            pt = ECPOINT_bi2point(c, rest.data(), rest.size(), target);
            if (pt == nullptr)
                ECPOINT_free(target);
            else if (pt != target)
                abort();
            break;
        }
    }
    if (pt != nullptr) {
        check_octets(c, pt);
        ECPOINT_free(pt);
    }
    clear_errors();
    return 0;
}
