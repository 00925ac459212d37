// Modules by name. The system names its plug-in libraries as on Windows
// ("GorgetA.dll", "jcPKCS11", "sccrptn.dll"); here each name maps to a shared
// object, lib<name>.so and then <name>.so, looked for first in the directory
// of the library that holds this code, then in the directories listed in
// CADB_MODULE_PATH (colon-separated), then through the system loader. A name
// containing '/' is a file-system path and is loaded as it stands.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace cadb {

inline constexpr const char* kModulePathEnv = "CADB_MODULE_PATH";

struct ModuleCloser {
    void operator()(void* handle) const;
};
// A loaded module; unloaded when the owner goes.
using Module = std::unique_ptr<void, ModuleCloser>;

// Loads the module, or returns null when no candidate loads.
Module module_load(std::string_view name);

// The candidates module_load tries, in order: file paths first, then the bare
// file names handed to the system loader.
std::vector<std::string> module_candidates(std::string_view name);

// The file the module was loaded from, its links resolved, so that one
// module reached under several names is known as one; empty when unknown.
std::string module_file(const Module& module);

// The address of an exported entry, or null.
void* module_symbol(const Module& module, const char* entry);

// Resolves an entry into a function pointer of the caller's type; false when
// the module does not export it.
template <class Fn>
bool module_entry(const Module& module, const char* entry, Fn& out) {
    void* address = module_symbol(module, entry);
    out = reinterpret_cast<Fn>(address);
    return address != nullptr;
}

}  // namespace cadb
