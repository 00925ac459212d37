// Speed of whole-file input and output on a drive path: the atomic replace
// (temporary file, fsync, rename, directory fsync) against the plain read,
// for a key-store state record and a certificate-sized file.
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <filesystem>
#include <string>
#include <vector>

#include "crypto/store/media_io.h"

namespace {

using namespace cadb;

// Drive q: in a scratch folder of the benchmark's own for the run.
class ScratchDrive {
  public:
    ScratchDrive() {
        char tmpl[] = "/tmp/cadb-media-bench-XXXXXX";
        dir_ = mkdtemp(tmpl);
        setenv("CADB_DRIVE_Q", dir_.c_str(), 1);
    }
    ~ScratchDrive() { std::filesystem::remove_all(dir_); }

  private:
    std::string dir_;
};

void BM_WriteFile(benchmark::State& state) {
    ScratchDrive drive;
    const std::vector<char> data(static_cast<std::size_t>(state.range(0)), 0x5a);
    for (auto _ : state) {
        if (CADB_write_file_plain("q:\\pse\\rand.opq", data.data(),
                                  static_cast<int>(data.size())) != state.range(0))
            state.SkipWithError("write failed");
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * state.range(0));
}
BENCHMARK(BM_WriteFile)->Arg(36)->Arg(4096)->UseRealTime();

void BM_ReadFile(benchmark::State& state) {
    ScratchDrive drive;
    std::vector<char> data(static_cast<std::size_t>(state.range(0)), 0x5a);
    CADB_write_file_plain("q:\\pse\\rand.opq", data.data(), static_cast<int>(data.size()));
    for (auto _ : state) {
        if (CADB_read_file_plain("q:\\pse\\rand.opq", data.data(), static_cast<int>(data.size())) !=
            state.range(0))
            state.SkipWithError("read failed");
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * state.range(0));
}
BENCHMARK(BM_ReadFile)->Arg(36)->Arg(4096);

}  // namespace
