#include "enrol/transaction_id.h"

#include "platform/codepage.h"
#include "wrappers/tbuffer.h"

namespace cadb::enrol {

namespace {

bool is_text_byte(unsigned char c) { return c != 0x00 && c != 0x98; }

// Enough rounds that a working generator never runs out of them (each byte
// is refused with probability 2/256).
constexpr int kMaxRounds = 16;

}  // namespace

std::optional<std::string> InternalTidBytes(const RandomDraw& draw) {
    std::string out;
    out.reserve(kInternalTidBytes);
    for (int round = 0; round < kMaxRounds && out.size() < kInternalTidBytes; ++round) {
        const int wanted = static_cast<int>(kInternalTidBytes - out.size());
        const std::optional<std::string> bytes = draw(wanted);
        if (!bytes || bytes->size() != static_cast<std::size_t>(wanted)) return std::nullopt;
        for (char c : *bytes)
            if (is_text_byte(static_cast<unsigned char>(c))) out += c;
    }
    if (out.size() != kInternalTidBytes) return std::nullopt;
    return out;
}

std::optional<std::u16string> MakeInternalTid() {
    const std::optional<std::string> bytes =
        InternalTidBytes([](int n) -> std::optional<std::string> {
            TBuffer random;
            if (!random.setRandom(n) || random.getLength() != n) return std::nullopt;
            return std::string(reinterpret_cast<const char*>(random.getData()),
                               static_cast<std::size_t>(n));
        });
    if (!bytes) return std::nullopt;
    // Every character of code page 1251 is one UTF-16 unit.
    unsigned char units[2 * kInternalTidBytes];
    const long n = codepage_convert(
        kLocalCodePage, kBmp,
        {reinterpret_cast<const unsigned char*>(bytes->data()), bytes->size()}, units);
    if (n != static_cast<long>(sizeof units)) return std::nullopt;
    std::u16string out;
    for (std::size_t i = 0; i < sizeof units; i += 2)
        out += static_cast<char16_t>((units[i] << 8) | units[i + 1]);
    return out;
}

}  // namespace cadb::enrol
