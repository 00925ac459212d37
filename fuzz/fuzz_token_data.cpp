// What a token vendor library hands back to the ruToken driver (reader
// names, directory and file records, file sizes, read counts), scripted by
// the fuzzer through the stand-in library fuzz/modules/rtapilt.cpp. A stream
// that opens holds exactly the size the library reported, read by counts no
// larger than asked; listings end and report only 16-bit names and sizes.
// The eToken driver shares this code over another library's names.
#include <dlfcn.h>
#include <openssl/bio.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "crypto/bio/media_driver.h"
#include "crypto/bio/rutoken.h"
#include "crypto/bio/rutoken_fs.h"
#include "fuzz/fuzz_support.h"

// Set by fuzz/CMakeLists.txt: where the stand-in libraries are built.
#ifndef CADB_FUZZ_MODULES_DIR
#define CADB_FUZZ_MODULES_DIR "fuzz/modules"
#endif

namespace cadb::fuzz {
namespace {

using ScriptFn = void (*)(const unsigned char*, std::size_t);
using ReportedFn = void (*)(std::uint32_t*, std::uint32_t*, std::uint32_t*);

struct StandIn {
    ScriptFn script = nullptr;
    ReportedFn reported = nullptr;
};

// Loads the driver over the stand-in once; the harness then reaches the
// same loaded copy for its script.
const StandIn& stand_in() {
    static const StandIn s = [] {
        StandIn out;
        setenv("CADB_MODULE_PATH", CADB_FUZZ_MODULES_DIR, 1);
        if (!RUTOKEN_load()) abort();
        void* h = dlopen(CADB_FUZZ_MODULES_DIR "/librtapilt.so", RTLD_NOW | RTLD_NOLOAD);
        if (h == nullptr) abort();
        out.script = reinterpret_cast<ScriptFn>(dlsym(h, "fuzzScript"));
        out.reported = reinterpret_cast<ReportedFn>(dlsym(h, "fuzzReported"));
        if (out.script == nullptr || out.reported == nullptr) abort();
        return out;
    }();
    return s;
}

constexpr const char* kPaths[] = {
    "ruToken:0001",  "ruToken:f0010002", "Aktiv Co. ruToken 1:0001\\0002",
    "ruToken:",      "ruToken 7:f001",   "ruToken:00010002000300040005",
};

void read_file(const char* path) {
    BIO* bio = BIO_new(BIO_s_rutoken());
    if (bio == nullptr) return;
    BIO_ctrl(bio, BIO_C_SET_TOKEN_PIN, 0, const_cast<char*>("12345678"));
    const long opened = BIO_ctrl(bio, BIO_C_SET_FILENAME, BIO_FP_READ, const_cast<char*>(path));
    std::uint32_t size = 0, lies = 0, overreach = 0;
    stand_in().reported(&size, &lies, &overreach);
    if (opened == 1) {
        // Success on a count the library could not have filled, or after
        // reads past the file, is success on inconsistent data.
        if (lies != 0 || overreach != 0) abort();
        if (token_fs_open_size(bio) != static_cast<long>(size & 0xFFFF)) abort();
        std::vector<char> buf(0x10000 + 16);
        long total = 0;
        int n = 0;
        while ((n = BIO_read(bio, buf.data(), 4096)) > 0) total += n;
        if (total != static_cast<long>(size & 0xFFFF)) abort();
    }
    BIO_free(bio);
}

void write_file(const char* path, const std::vector<unsigned char>& data) {
    BIO* bio = BIO_new(BIO_s_rutoken());
    if (bio == nullptr) return;
    BIO_ctrl(bio, BIO_C_SET_TOKEN_PIN, 0, const_cast<char*>("12345678"));
    if (BIO_ctrl(bio, BIO_C_SET_FILENAME, BIO_FP_READ | BIO_FP_WRITE, const_cast<char*>(path)) ==
        1) {
        BIO_write(bio, data.data(), static_cast<int>(std::min<std::size_t>(data.size(), 64)));
        BIO_flush(bio);
    }
    BIO_free(bio);
}

struct Listing {
    long entries = 0;
};

int on_entry(const BIO_MEDIA_ENTRY* e, void* arg) {
    auto* l = static_cast<Listing*>(arg);
    // Names are the 16-bit identifier as four hex digits; sizes 16-bit.
    if (e->name == nullptr || std::strlen(e->name) != 4 || e->size < 0 || e->size > 0xFFFF) abort();
    if (e->is_directory && e->size != 0) abort();
    // One directory and one file enumeration, each at most one entry per
    // identifier.
    if (++l->entries > 2 * 0x10000) abort();
    return 1;
}

}  // namespace
}  // namespace cadb::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace cadb;
    using namespace cadb::fuzz;
    const StandIn& s = stand_in();
    Input in(data, size);
    const std::uint8_t choice = in.byte();
    const char* path = kPaths[(choice >> 2) % (sizeof(kPaths) / sizeof(kPaths[0]))];
    const std::vector<unsigned char> script = in.rest();
    s.script(script.data(), script.size());
    const BIO_MEDIA_DRIVER* d = BIO_media_driver_of(path);
    switch (choice & 3) {
        case 0:
            read_file(path);
            break;
        case 1:
            write_file(path, script);
            break;
        case 2: {
            Listing l;
            if (d != nullptr && d->list_dir != nullptr) d->list_dir(path, on_entry, &l);
            break;
        }
        default:
            if (d != nullptr) {
                d->token_present(path);
                d->exists(path);
                d->is_directory(path);
            }
            break;
    }
    s.script(nullptr, 0);
    clear_errors();
    return 0;
}
