// The key store's secret records as read from a medium: the split master
// key (PSE_load_mkey) and 36-byte protected blocks (PSE_decrypt32), under
// any S-box set. A record that loads yields the key it was built from.
#include <cstdlib>
#include <cstring>
#include <vector>

#include "crypto/pse/pse_secrets.h"
#include "crypto/rus/sbox.h"
#include "fuzz/fuzz_support.h"

namespace cadb::fuzz {
namespace {

using Bytes = std::vector<unsigned char>;

const unsigned char* pick_sbox(Input& in, Bytes& own) {
    const std::uint8_t c = in.byte();
    switch (c % 6) {
        case 0:
            return nullptr;
        case 1:
            return GOSTE_get_test_sbox();
        case 2:
            return GOSTE_get_cp_sbox_A();
        case 3:
            return GOSTH_get_cp_sbox();
        case 4:
            return GOSTE_get_cipher_sbox();
        default:
            own = in.bytes(GOST_SBOX_SIZE);
            return own.data();
    }
}

bool same_key(PSE_KEY32* k, const unsigned char* want) {
    if (PSE_key32_unmask(k) != 1) return false;
    const bool same = std::memcmp(k->key, want, 32) == 0;
    PSE_key32_wipe(k);
    return same;
}

void load_mkey(Input& in, const unsigned char* sbox) {
    const Bytes record = in.rest();
    PSE_KEY32 key{};
    if (PSE_load_mkey(&key, record.data(), record.size(), sbox) != 1) {
        const PSE_KEY32 zero{};
        if (std::memcmp(&key, &zero, sizeof key) != 0) abort();
        return;
    }
    unsigned char master[32] = {};
    for (std::size_t i = PSE_MKEY_HEADER; i < record.size(); ++i)
        master[(i - PSE_MKEY_HEADER) % 32] ^= record[i];
    if (!same_key(&key, master)) abort();
}

// A record built here, then damaged at one fuzzer-chosen byte, must load
// only while undamaged.
void damaged_mkey(Input& in, const unsigned char* sbox) {
    const int shares = 1 + in.byte() % PSE_MKEY_MAX_SHARES;
    const Bytes master = in.bytes(32);
    int len = 0;
    if (PSE_save_mkey(master.data(), shares, nullptr, &len, sbox) != 1) abort();
    Bytes record(static_cast<std::size_t>(len));
    if (PSE_save_mkey(master.data(), shares, record.data(), &len, sbox) != 1) abort();
    const std::size_t at = in.u16() % record.size();
    const unsigned char flip = in.byte();
    record[at] ^= flip;
    PSE_KEY32 key{};
    const int got = PSE_load_mkey(&key, record.data(), record.size(), sbox);
    // A flip in a share changes the master key; only the 32-bit check value
    // stands between it and acceptance, which a fuzzer will not guess.
    if (flip == 0 && (got != 1 || !same_key(&key, master.data()))) abort();
    if (flip != 0 && at < PSE_MKEY_HEADER && got == 1) abort();
    PSE_key32_wipe(&key);
}

void block(Input& in, const unsigned char* sbox) {
    const Bytes kek = in.bytes(32);
    const Bytes data = in.bytes(PSE_BLOCK_SIZE);
    PSE_KEY32 key{};
    if (PSE_key32_load(&key, kek.data()) != 1) abort();
    unsigned char clear[32];
    if (PSE_decrypt32(data.data(), clear, &key, sbox) == 1) {
        unsigned char back[PSE_BLOCK_SIZE];
        if (PSE_encrypt32(clear, back, &key, sbox) != 1) abort();
        if (std::memcmp(back, data.data(), sizeof back) != 0) abort();
    }
    // The other direction always holds.
    unsigned char sealed[PSE_BLOCK_SIZE];
    if (PSE_encrypt32(data.data(), sealed, &key, sbox) != 1) abort();
    if (PSE_decrypt32(sealed, clear, &key, sbox) != 1 || std::memcmp(clear, data.data(), 32) != 0)
        abort();
    PSE_key32_wipe(&key);
}

}  // namespace
}  // namespace cadb::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace cadb::fuzz;
    use_kernel_random();
    Input in(data, size);
    const std::uint8_t choice = in.byte();
    Bytes own_sbox;
    const unsigned char* sbox = pick_sbox(in, own_sbox);
    switch (choice % 3) {
        case 0:
            load_mkey(in, sbox);
            break;
        case 1:
            damaged_mkey(in, sbox);
            break;
        default:
            block(in, sbox);
            break;
    }
    clear_errors();
    return 0;
}
