// Speed of opening and rewriting a key store on a disk drive: a protected
// store's time is mostly the masks password's key derivation; a clear one
// shows the file work and the S-box search.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "crypto/core/objects.h"
#include "crypto/store/pse_ctx.h"
#include "tests/support/kernel_random.h"

namespace {

namespace fs = std::filesystem;

struct CtxDeleter {
    void operator()(cadb::PSE_CTX* c) const { cadb::PSE_CTX_free(c); }
};
using CtxPtr = std::unique_ptr<cadb::PSE_CTX, CtxDeleter>;

// A drive folder holding one store, removed afterwards.
class BenchStore {
  public:
    BenchStore(const char* password, int sbox_code)
        : root_(fs::temp_directory_path() / ("psectx-bench-" + std::to_string(getpid()))) {
        fs::remove_all(root_);
        fs::create_directories(root_);
        setenv("CADB_DRIVE_A", root_.c_str(), 1);
        CtxPtr ctx(cadb::PSE_CTX_new());
        cadb::PSE_CTX_set_path(ctx.get(), kPath, 0);
        cadb::PSE_CTX_set_sbox_code(ctx.get(), sbox_code);
        cadb::PSE_CTX_create(ctx.get());
        if (password != nullptr) cadb::PSE_CTX_set_password(ctx.get(), password, 0);
        cadb::PSE_CTX_write(ctx.get());
    }
    ~BenchStore() { fs::remove_all(root_); }
    static constexpr const char* kPath = "a:\\store";

  private:
    fs::path root_;
};

void BM_OpenStore(benchmark::State& state) {
    cadb::OBJ_init();
    cadb::testing::KernelRandom source;
    const bool protect = state.range(0) != 0;
    BenchStore store(protect ? "password" : nullptr, static_cast<int>(state.range(1)));
    for (auto _ : state) {
        CtxPtr ctx(cadb::PSE_CTX_new());
        cadb::PSE_CTX_set_path(ctx.get(), BenchStore::kPath, 0);
        if (protect) cadb::PSE_CTX_set_password(ctx.get(), "password", 0);
        if (!cadb::PSE_CTX_read(ctx.get())) state.SkipWithError("read failed");
    }
}
BENCHMARK(BM_OpenStore)->Args({1, 31})->Args({0, 31})->Args({0, 35})->Unit(benchmark::kMillisecond);

void BM_WriteStore(benchmark::State& state) {
    cadb::OBJ_init();
    cadb::testing::KernelRandom source;
    BenchStore store(nullptr, 31);
    CtxPtr ctx(cadb::PSE_CTX_new());
    cadb::PSE_CTX_set_path(ctx.get(), BenchStore::kPath, 0);
    cadb::PSE_CTX_read(ctx.get());
    if (state.range(0) != 0) cadb::PSE_CTX_set_password(ctx.get(), "password", 0);
    for (auto _ : state) {
        if (!cadb::PSE_CTX_write(ctx.get())) state.SkipWithError("write failed");
    }
}
BENCHMARK(BM_WriteStore)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

}  // namespace
