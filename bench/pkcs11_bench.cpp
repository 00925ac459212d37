// Speed of the PKCS#11 layer's own work: path parsing, template building, a
// registry hit, and an object read on a SoftHSM2 token (when installed) made
// in a temporary directory for the run.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

#include "crypto/pkcs11/pkcs11_obj.h"

namespace {

using namespace cadb;

void BM_PathParse(benchmark::State& state) {
    std::string module;
    int index = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(
            PKCS11_path_parse("pkcs112:/rtPKCS11ECP/keys/key1", &module, &index));
    }
}
BENCHMARK(BM_PathParse);

void BM_PrivateKeyTemplate(benchmark::State& state) {
    for (auto _ : state) {
        PKCS11_TEMPLATE* t = PKCS11_TEMPLATE_private_key(PKCS11_KEY_STORED);
        PKCS11_TEMPLATE_add_text(t, CKA_ID, "keys\\00000001.key");
        PKCS11_TEMPLATE_add_gost_params(t, 284);
        benchmark::DoNotOptimize(t->data());
        PKCS11_TEMPLATE_free(t);
    }
}
BENCHMARK(BM_PrivateKeyTemplate);

// The run's token folder, removed when the run ends.
struct TokenDir {
    std::filesystem::path root;
    ~TokenDir() {
        if (!root.empty()) std::filesystem::remove_all(root);
    }
};

// A token of the run's own; false when SoftHSM2 is not installed.
bool softhsm_token() {
    static TokenDir dir;
    static const bool ready = [] {
        if (!std::filesystem::exists("/usr/lib/softhsm/libsofthsm2.so")) return false;
        char templ[] = "/tmp/cadb-bench-XXXXXX";
        if (mkdtemp(templ) == nullptr) return false;
        dir.root = templ;
        const std::filesystem::path& root = dir.root;
        std::filesystem::create_directory(root / "tokens");
        std::ofstream(root / "softhsm2.conf")
            << "directories.tokendir = " << (root / "tokens").string() << "\n";
        setenv("SOFTHSM2_CONF", (root / "softhsm2.conf").c_str(), 1);
        setenv("CADB_MODULE_PATH", "/usr/lib/softhsm", 1);
        return std::system(
                   "softhsm2-util --init-token --free --label bench --pin 1234 "
                   "--so-pin 12345678 >/dev/null") == 0;
    }();
    return ready;
}

int bench_pin(char* buf, int size, int, void*) {
    if (size < 4) return -1;
    std::memcpy(buf, "1234", 4);
    return 4;
}

void BM_RegistryHit(benchmark::State& state) {
    if (!softhsm_token()) return state.SkipWithError("SoftHSM2 is not installed");
    PKCS11_MODULE* held = PKCS11_MODULE_get_by_name("softhsm2");
    for (auto _ : state) PKCS11_MODULE_free(PKCS11_MODULE_get_by_name("softhsm2"));
    PKCS11_MODULE_free(held);
}
BENCHMARK(BM_RegistryHit);

// Open a context, find a data object by label and read its value: the steps
// a key-store read makes per member file.
void BM_OpenFindRead(benchmark::State& state) {
    if (!softhsm_token()) return state.SkipWithError("SoftHSM2 is not installed");
    PKCS11_set_passwd_cb(bench_pin);
    std::string value(static_cast<std::size_t>(state.range(0)), 'v');
    {
        PKCS11_OBJ* ctx = PKCS11_OBJ_new();
        PKCS11_OBJ_set_path(ctx, "pkcs11:\\softhsm2");
        PKCS11_TEMPLATE* t = PKCS11_TEMPLATE_data();
        PKCS11_TEMPLATE_add_text(t, CKA_LABEL, "bench");
        PKCS11_TEMPLATE_add(t, CKA_VALUE, value.data(), value.size());
        if (!PKCS11_OBJ_open(ctx) || !PKCS11_OBJ_login(ctx, 0) || !PKCS11_OBJ_create(ctx, t)) {
            state.SkipWithError("token refused the object");
        }
        PKCS11_TEMPLATE_free(t);
        PKCS11_OBJ_free(ctx);
    }
    PKCS11_TEMPLATE* search = PKCS11_TEMPLATE_data();
    PKCS11_TEMPLATE_add_text(search, CKA_LABEL, "bench");
    for (auto _ : state) {
        PKCS11_OBJ* ctx = PKCS11_OBJ_new();
        PKCS11_OBJ_set_path(ctx, "pkcs11:\\softhsm2");
        CK_ULONG len = value.size();
        if (!PKCS11_OBJ_open(ctx) || !PKCS11_OBJ_login(ctx, 0) ||
            !PKCS11_OBJ_find_first(ctx, search) ||
            !PKCS11_OBJ_get_attribute(ctx, CKA_VALUE, value.data(), &len)) {
            state.SkipWithError("read failed");
        }
        PKCS11_OBJ_free(ctx);
    }
    PKCS11_TEMPLATE_free(search);
    state.SetBytesProcessed(int64_t(state.iterations()) * state.range(0));
}
BENCHMARK(BM_OpenFindRead)->Arg(64)->Arg(4096);

}  // namespace
