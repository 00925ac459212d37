// Speed of enrolment's core step: a GOST R 34.10-2001 key generated into an
// open key store and a signed PKCS#10 request made from it (the request is
// read back and its signature checked, as PKCS10_make does).
#include <benchmark/benchmark.h>
#include <openssl/x509.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "crypto/core/objects.h"
#include "crypto/engine/engine.h"
#include "crypto/store/pse_ctx.h"
#include "crypto/x509/pkcs10.h"
#include "tests/support/kernel_random.h"

namespace {

namespace fs = std::filesystem;

struct CtxDeleter {
    void operator()(cadb::PSE_CTX* c) const { cadb::PSE_CTX_free(c); }
};
using CtxPtr = std::unique_ptr<cadb::PSE_CTX, CtxDeleter>;

// A store written to a drive folder and opened again, removed afterwards.
class OpenStore {
  public:
    OpenStore() : root_(fs::temp_directory_path() / ("keys-bench-" + std::to_string(getpid()))) {
        fs::remove_all(root_);
        fs::create_directories(root_);
        setenv("CADB_DRIVE_A", root_.c_str(), 1);
        CtxPtr made(cadb::PSE_CTX_new());
        cadb::PSE_CTX_set_path(made.get(), "a:\\store", 0);
        cadb::PSE_CTX_create(made.get());
        cadb::PSE_CTX_write(made.get());
        ctx_.reset(cadb::PSE_CTX_new());
        cadb::PSE_CTX_set_path(ctx_.get(), "a:\\store", 0);
        cadb::PSE_CTX_read(ctx_.get());
    }
    ~OpenStore() { fs::remove_all(root_); }
    cadb::PSE* pse() const { return cadb::PSE_CTX_get_pse(ctx_.get()); }

  private:
    fs::path root_;
    CtxPtr ctx_;
};

void BM_GostKeyAndRequest(benchmark::State& state) {
    cadb::ENGINE_load_cadb();
    cadb::testing::KernelRandom source;
    OpenStore store;
    if (store.pse() == nullptr) {
        state.SkipWithError("no store");
        return;
    }
    X509_NAME* name = X509_NAME_new();
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_UTF8,
                               reinterpret_cast<const unsigned char*>("Bench"), -1, -1, 0);
    const int type = static_cast<int>(state.range(0));
    for (auto _ : state) {
        cadb::PKEY* key = cadb::PKEY_generate(type, 0, nullptr, nullptr, store.pse());
        cadb::PKCS10* p10 = key != nullptr
                                ? cadb::PKCS10_make(name, key, nullptr, 0, nullptr, nullptr, 0)
                                : nullptr;
        if (p10 == nullptr) state.SkipWithError("failed");
        cadb::PKCS10_free(p10);
        cadb::PKEY_free(key);
    }
    X509_NAME_free(name);
}
BENCHMARK(BM_GostKeyAndRequest)
    ->Arg(cadb::NID_ECR3410_CP)
    ->Arg(cadb::NID_ECR3410)
    ->Unit(benchmark::kMicrosecond);

// The two halves apart: the key alone, and the request from one key.
void BM_GostKeyInStore(benchmark::State& state) {
    cadb::ENGINE_load_cadb();
    cadb::testing::KernelRandom source;
    OpenStore store;
    for (auto _ : state) {
        cadb::PKEY* key =
            cadb::PKEY_generate(cadb::NID_ECR3410_CP, 0, nullptr, nullptr, store.pse());
        if (key == nullptr) state.SkipWithError("failed");
        cadb::PKEY_free(key);
    }
}
BENCHMARK(BM_GostKeyInStore)->Unit(benchmark::kMicrosecond);

void BM_RequestFromKey(benchmark::State& state) {
    cadb::ENGINE_load_cadb();
    cadb::testing::KernelRandom source;
    OpenStore store;
    cadb::PKEY* key = cadb::PKEY_generate(cadb::NID_ECR3410_CP, 0, nullptr, nullptr, store.pse());
    X509_NAME* name = X509_NAME_new();
    for (auto _ : state) {
        cadb::PKCS10* p10 = cadb::PKCS10_make(name, key, nullptr, 0, nullptr, nullptr, 0);
        if (p10 == nullptr) state.SkipWithError("failed");
        cadb::PKCS10_free(p10);
    }
    X509_NAME_free(name);
    cadb::PKEY_free(key);
}
BENCHMARK(BM_RequestFromKey)->Unit(benchmark::kMicrosecond);

}  // namespace
