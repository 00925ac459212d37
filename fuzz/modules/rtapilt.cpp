// A ruToken vendor library whose every answer comes from a script: the
// harness hands it the fuzzer's bytes (fuzzScript), each entry takes its
// return code and output from the next bytes, and a spent script fails every
// call, so that no enumeration of the driver can go on for ever. The library
// keeps what it reported (fuzzReported) so that the harness can hold the
// driver to it.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "platform/vendor/token_fs_api.h"

using cadb::vendor::TokenFsInfo;
using cadb::vendor::TokenRv;

namespace {

const unsigned char* g_p = nullptr;
std::size_t g_n = 0;

// What the driver was told, for the harness's checks.
struct Reported {
    std::uint32_t file_size;  // the size the last file-info call reported
    std::uint32_t lies;       // read counts past the length asked for
    std::uint32_t overreach;  // reads asked past the reported size
};
Reported g_reported{};

int g_handle = 0;  // every handle points here

std::uint8_t byte() {
    if (g_n == 0) return 0;
    --g_n;
    return *g_p++;
}

std::uint32_t u32() {
    std::uint32_t v = 0;
    for (int i = 0; i < 4; ++i) v |= static_cast<std::uint32_t>(byte()) << (8 * i);
    return v;
}

// Mostly success; the top of the byte range picks a failure the driver must
// tell apart. A spent script fails.
TokenRv rv() {
    if (g_n == 0) return cadb::vendor::kTokenGeneral;
    static constexpr TokenRv kFailures[] = {
        cadb::vendor::kTokenNoMoreItems, cadb::vendor::kTokenNotFound,
        cadb::vendor::kRuTokenLoginNeeded, cadb::vendor::kTokenExists,
        cadb::vendor::kTokenGeneral,     cadb::vendor::kTokenPinRefused,
        0x00000001,  // a warning: not a failure
        cadb::vendor::kTokenNoSpace,
    };
    const std::uint8_t b = byte();
    return b < 0xF8 ? cadb::vendor::kTokenOk : kFailures[b - 0xF8];
}

TokenRv handle(void** out) {
    const TokenRv r = rv();
    if (out != nullptr) *out = &g_handle;
    return r;
}

// A text of the script's length, cut to size, not always zero-terminated.
TokenRv text(char* out, std::uint32_t size) {
    const TokenRv r = rv();
    const std::size_t n = std::min<std::size_t>(byte(), size);
    for (std::size_t i = 0; i < n; ++i) out[i] = static_cast<char>(byte());
    if (n < size && (byte() & 1)) out[n] = '\0';
    return r;
}

TokenRv info(TokenFsInfo* out) {
    const TokenRv r = rv();
    if (out == nullptr) return r;
    out->id = static_cast<std::uint16_t>(byte() | byte() << 8);
    out->is_directory = byte() & 1;
    out->attributes = u32();
    out->size = u32();
    g_reported.file_size = out->size;
    return r;
}

}  // namespace

#define EXPORT extern "C" __attribute__((visibility("default")))

EXPORT void fuzzScript(const unsigned char* data, std::size_t size) {
    g_p = data;
    g_n = size;
    g_reported = {};
}
EXPORT void fuzzReported(std::uint32_t* file_size, std::uint32_t* lies, std::uint32_t* overreach) {
    *file_size = g_reported.file_size;
    *lies = g_reported.lies;
    *overreach = g_reported.overreach;
}

EXPORT TokenRv rtlOpenReadersEnum(void** readers) { return handle(readers); }
EXPORT TokenRv rtlGetNextReader_A(void*, char* name, std::uint32_t size, int* has_token) {
    const TokenRv r = text(name, size);
    *has_token = byte() & 1;
    return r;
}
EXPORT TokenRv rtlCloseReadersEnum(void*) { return 0; }
EXPORT TokenRv rtlBindToken_A(const char*, void** token) { return handle(token); }
EXPORT TokenRv rtlUnbindToken(void*) { return 0; }
EXPORT TokenRv rtlLoginToken_A(void*, const char*) { return rv(); }
EXPORT TokenRv rtlLogoutToken(void*) { return 0; }
EXPORT TokenRv rtlChangeTokenPin_A(void*, const char*, const char*) { return rv(); }
EXPORT TokenRv rtlGetTokenPinMaxLength(void*, std::uint32_t* n) {
    const TokenRv r = rv();
    *n = u32();
    return r;
}
EXPORT TokenRv rtlGetTokenPinMinLength(void*, std::uint32_t* n) {
    const TokenRv r = rv();
    *n = u32();
    return r;
}
EXPORT TokenRv rtlGetTokenLabel_A(void*, char* t, std::uint32_t size) { return text(t, size); }
EXPORT TokenRv rtlGetTokenID_A(void*, char* t, std::uint32_t size) { return text(t, size); }
EXPORT TokenRv rtlOpenRootDir(void*, void** dir) { return handle(dir); }
EXPORT TokenRv rtlCreateDir(void*, std::uint16_t, void** child) { return handle(child); }
EXPORT TokenRv rtlOpenDir(void*, std::uint16_t, void** child) { return handle(child); }
EXPORT TokenRv rtlGetDirInfo(void*, TokenFsInfo* i) { return info(i); }
EXPORT TokenRv rtlDeleteDir(void*, std::uint16_t) { return rv(); }
EXPORT TokenRv rtlCloseDir(void*) { return 0; }
EXPORT TokenRv rtlOpenDirEnum(void*, void** items) { return handle(items); }
EXPORT TokenRv rtlGetNextDir(void*, TokenFsInfo* i) { return info(i); }
EXPORT TokenRv rtlCloseDirEnum(void*) { return 0; }
EXPORT TokenRv rtlOpenFilesEnum(void*, void** items) { return handle(items); }
EXPORT TokenRv rtlGetNextFile(void*, TokenFsInfo* i) { return info(i); }
EXPORT TokenRv rtlCloseFilesEnum(void*) { return 0; }
EXPORT TokenRv rtlOpenFile(void*, std::uint16_t, void** file) { return handle(file); }
EXPORT TokenRv rtlCreateFile(void*, std::uint16_t, std::uint32_t, std::uint32_t, void** file) {
    return handle(file);
}
// Writes at most the length asked for, but may report any count. Only a
// count that a successful call claims is a lie: a failed call's count means
// nothing, and the driver may log in and repeat it.
EXPORT TokenRv rtlReadFile(void*, std::uint32_t offset, void* buffer, std::uint32_t length,
                           std::uint32_t* done) {
    const TokenRv r = rv();
    if (static_cast<std::uint64_t>(offset) + length > (g_reported.file_size & 0xFFFF))
        ++g_reported.overreach;
    const std::uint32_t said = (byte() & 1) ? u32() : std::min<std::uint32_t>(length, byte() + 1);
    if (!cadb::vendor::token_failed(r) && said > length) ++g_reported.lies;
    const std::uint32_t n = std::min(said, length);
    for (std::uint32_t i = 0; i < n; ++i) static_cast<unsigned char*>(buffer)[i] = byte();
    *done = said;
    return r;
}
EXPORT TokenRv rtlWriteFile(void*, std::uint32_t, const void*, std::uint32_t) { return rv(); }
EXPORT TokenRv rtlDeleteFile(void*) { return rv(); }
EXPORT TokenRv rtlGetFileInfo(void*, TokenFsInfo* i) { return info(i); }
EXPORT TokenRv rtlCloseFile(void*) { return 0; }
