// Speed of starting and stopping the library (string tables, the engine's
// look-up, the board walk and the start-up self tests), of counting one more
// user, and of turning a queued error into its text.
#include <benchmark/benchmark.h>

#include "crypto/cadb/err_str.h"
#include "crypto/core/err.h"
#include "crypto/core/err_str.h"
#include "crypto/init/init.h"

namespace cadb {
namespace {

void BM_StartAndStop(benchmark::State& state) {
    for (auto _ : state) {
        if (CADB_init() != 1) {
            state.SkipWithError("start-up failed");
            return;
        }
        CADB_cleanup();
    }
}
BENCHMARK(BM_StartAndStop)->Unit(benchmark::kMicrosecond);

void BM_OneMoreUser(benchmark::State& state) {
    if (CADB_init() != 1) {
        state.SkipWithError("start-up failed");
        return;
    }
    for (auto _ : state) {
        CADB_init();
        CADB_cleanup();
    }
    CADB_cleanup();
}
BENCHMARK(BM_OneMoreUser);

void BM_ErrorString(benchmark::State& state) {
    ERR_load_cadb_strings();
    char buf[ERR_STRING_BUF_SIZE];
    const unsigned long e = ERR_pack_code(ERR_LIB_PSE, 104, 100);
    for (auto _ : state) benchmark::DoNotOptimize(ERR_error_string(e, buf));
}
BENCHMARK(BM_ErrorString);

}  // namespace
}  // namespace cadb
