// The registration command: calls a module's DllRegisterServer, or with -u its
// DllUnregisterServer, and reports the result.
//   cadb-regsvr [-u] module.so
// The registry written is the one CADB_REGISTRY names (see platform/com).
#include <dlfcn.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/com/interfaces.h"

int main(int argc, char** argv) {
    bool unregister = argc == 3 && std::strcmp(argv[1], "-u") == 0;
    if (argc != 2 + (unregister ? 1 : 0)) {
        std::fprintf(stderr, "usage: %s [-u] module.so\n", argv[0]);
        return 2;
    }
    const char* name = argv[argc - 1];
    // The module records its own path: load it by its full one.
    char full[PATH_MAX];
    if (!realpath(name, full)) {
        std::fprintf(stderr, "%s: %s: no such module\n", argv[0], name);
        return 1;
    }
    void* module = dlopen(full, RTLD_NOW | RTLD_LOCAL);
    if (!module) {
        std::fprintf(stderr, "%s: %s\n", argv[0], dlerror());
        return 1;
    }
    const char* entry = unregister ? "DllUnregisterServer" : "DllRegisterServer";
    auto fn = reinterpret_cast<cadb::com::DllRegisterServerFn>(dlsym(module, entry));
    if (!fn) {
        std::fprintf(stderr, "%s: %s does not export %s\n", argv[0], full, entry);
        dlclose(module);
        return 1;
    }
    const cadb::com::HRESULT hr = fn();
    dlclose(module);
    if (cadb::com::failed(hr)) {
        std::fprintf(stderr, "%s: %s in %s failed: 0x%08X\n", argv[0], entry, full,
                     static_cast<unsigned>(hr));
        return 1;
    }
    std::printf("%s in %s succeeded.\n", entry, full);
    return 0;
}
