// Speed of whole-file round trips through the ruToken driver over its
// stand-in library (a token file system kept in a temporary directory): the
// driver's own cost is binding, login and the wiped buffers; the rest is the
// stand-in's file I/O.
#include <benchmark/benchmark.h>
#include <dlfcn.h>
#include <openssl/pem.h>
#include <stdlib.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "crypto/bio/rutoken.h"
#include "crypto/store/media_io.h"

namespace {

namespace fs = std::filesystem;

int pin_cb(char* buf, int size, int, void*) {
    if (size < 5) return -1;
    std::memcpy(buf, "1234", 5);
    return 4;
}

void BM_RuTokenWriteRead(benchmark::State& state) {
    setenv("CADB_MODULE_PATH", CADB_TEST_MODULES_DIR, 1);
    void* sim = dlopen(CADB_TEST_MODULES_DIR "/librtapilt.so", RTLD_NOW);
    auto configure =
        sim ? reinterpret_cast<void (*)(const char*, const char*)>(dlsym(sim, "simConfigure"))
            : nullptr;
    std::string tmpl = (fs::temp_directory_path() / "cadb-token-bench-XXXXXX").string();
    if (configure == nullptr || mkdtemp(tmpl.data()) == nullptr) {
        state.SkipWithError("no stand-in library");
        return;
    }
    fs::create_directories(fs::path(tmpl) / "Aktiv Co. ruToken 0" / "token");
    configure(tmpl.c_str(), "1234");
    cadb::RUTOKEN_set_passwd_cb(pin_cb);
    if (cadb::RUTOKEN_load() != 1) {
        state.SkipWithError("driver did not load");
        return;
    }
    const std::vector<char> data(static_cast<std::size_t>(state.range(0)), 'k');
    std::vector<char> back(data.size());
    const int n = static_cast<int>(data.size());
    for (auto _ : state) {
        if (cadb::CADB_write_file_plain("ruToken:0001\\0002", data.data(), n) != n ||
            cadb::CADB_read_file_plain("ruToken:0001\\0002", back.data(), n) != n) {
            state.SkipWithError("round trip failed");
            break;
        }
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * n * 2);
    cadb::RUTOKEN_unload();
    cadb::RUTOKEN_set_passwd_cb(nullptr);
    fs::remove_all(tmpl);
    dlclose(sim);
}
BENCHMARK(BM_RuTokenWriteRead)->Arg(256)->Arg(4096)->Arg(65535)->Unit(benchmark::kMicrosecond);

}  // namespace
