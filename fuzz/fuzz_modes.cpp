// Differential harness of the cipher modes, the MAC and the hash: the data
// in one call must give the same bytes as the data cut at the fuzzer's
// points, and every cipher mode must decrypt what it encrypted.
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "crypto/rus/gosth.h"
#include "crypto/rus/modes.h"
#include "fuzz/fuzz_support.h"

namespace cadb::fuzz {
namespace {

using Bytes = std::vector<unsigned char>;

enum Kind { Counter, Cfb, MeshedCfb, Ecb, Cbc, Mac, Hash, HashCp, kKinds };

struct Case {
    Kind kind;
    Bytes key, iv, own_sbox;
    const unsigned char* sbox = nullptr;
    std::vector<long> cuts;  // piece lengths; their sum is the data length
    Bytes data;
};

const unsigned char* pick_sbox(Input& in, Bytes& own) {
    switch (in.byte() % 4) {
        case 0:
            return nullptr;
        case 1:
            return GOSTE_get_cp_sbox_B();
        case 2:
            return GOSTE_get_test_sbox();
        default:
            own = in.bytes(GOST_SBOX_SIZE);
            return own.data();
    }
}

Case read_case(Input& in) {
    Case c;
    c.kind = static_cast<Kind>(in.byte() % kKinds);
    c.key = in.bytes(32);
    c.iv = in.bytes(8);
    c.sbox = pick_sbox(in, c.own_sbox);
    const int ncuts = in.byte() % 16;
    std::vector<std::size_t> points;
    for (int i = 0; i < ncuts; ++i) points.push_back(in.u16());
    c.data = in.rest();
    // Block modes take whole blocks only.
    if (c.kind == Ecb || c.kind == Cbc) c.data.resize(c.data.size() / 8 * 8);
    const std::size_t n = c.data.size();
    for (auto& p : points) {
        p = n == 0 ? 0 : p % (n + 1);
        if (c.kind == Ecb || c.kind == Cbc) p = p / 8 * 8;
    }
    points.push_back(0);
    points.push_back(n);
    std::sort(points.begin(), points.end());
    for (std::size_t i = 1; i < points.size(); ++i)
        if (points[i] > points[i - 1])
            c.cuts.push_back(static_cast<long>(points[i] - points[i - 1]));
    return c;
}

void init_cipher(GOSTE& ctx, const Case& c, int direction) {
    int ok = 0;
    switch (c.kind) {
        case Counter:
            ok = GOSTE_gamma_init(&ctx, c.key.data(), c.iv.data(), c.sbox);
            break;
        case Cfb:
            ok = GOSTE_gamma_fb_init(&ctx, c.key.data(), c.iv.data(), c.sbox);
            break;
        case MeshedCfb:
            ok = GOSTE_gamma_fb_cp_init(&ctx, c.key.data(), c.iv.data(), c.sbox);
            break;
        case Ecb:
        case Cbc:
            ctx.mode = c.kind == Ecb ? GOSTE_MODE_ECB : GOSTE_MODE_CBC;
            ok = GOSTE_ss_init(&ctx, direction, c.key.data(), c.sbox);
            std::memcpy(&ctx.N1, c.iv.data(), 4);
            std::memcpy(&ctx.N2, c.iv.data() + 4, 4);
            break;
        default:
            abort();
    }
    if (ok != 1) abort();
    ctx.direction = direction;
}

Bytes cipher(const Case& c, const Bytes& in, const std::vector<long>& pieces, int direction) {
    GOSTE ctx;
    init_cipher(ctx, c, direction);
    Bytes out(in.size());
    long off = 0;
    for (long n : pieces) {
        if (GOSTE_process(&ctx, in.data() + off, out.data() + off, n) != n) abort();
        off += n;
    }
    return out;
}

Bytes mac(const Case& c, const std::vector<long>& pieces) {
    GOSTE ctx;
    if (GOSTE_mac_init_iv(&ctx, c.key.data(), c.iv.data(), c.sbox) != 1) abort();
    long off = 0;
    for (long n : pieces) {
        if (GOSTE_mac_update(&ctx, c.data.data() + off, nullptr, n) != n) abort();
        off += n;
    }
    Bytes out(4);
    if (GOSTE_mac_final(&ctx, out.data(), 32) != 4) abort();
    return out;
}

Bytes hash(const Case& c, const std::vector<long>& pieces) {
    GOSTH* h = GOSTH_new();
    if (h == nullptr) abort();
    const int ok = c.kind == Hash ? GOSTH_init(h, c.key.data(), c.sbox)
                                  : GOSTH_init_cp(h, c.key.data(), c.sbox);
    if (ok != 1) abort();
    long off = 0;
    for (long n : pieces) {
        if (GOSTH_update(h, c.data.data() + off, n) != n) abort();
        off += n;
    }
    Bytes out(32);
    if (GOSTH_final(h, out.data()) != 32) abort();
    GOSTH_free(h);
    return out;
}

void run(const Case& c) {
    const long n = static_cast<long>(c.data.size());
    const std::vector<long> whole = n > 0 ? std::vector<long>{n} : std::vector<long>{};
    switch (c.kind) {
        case Mac:
            if (n > 0 && mac(c, whole) != mac(c, c.cuts)) abort();
            break;
        case Hash:
        case HashCp:
            if (hash(c, whole) != hash(c, c.cuts)) abort();
            break;
        default: {
            if (n == 0) break;
            const Bytes one = cipher(c, c.data, whole, 1);
            if (cipher(c, c.data, c.cuts, 1) != one) abort();
            const int back = c.kind == Counter ? 1 : 0;
            if (cipher(c, one, c.cuts, back) != c.data) abort();
            break;
        }
    }
}

}  // namespace
}  // namespace cadb::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace cadb::fuzz;
    use_kernel_random();
    Input in(data, size);
    run(read_case(in));
    clear_errors();
    return 0;
}
