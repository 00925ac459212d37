#include "platform/module.h"

#include <dlfcn.h>
#include <link.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cstdlib>
#include <memory>

namespace cadb {
namespace {

bool ends_with_nocase(std::string_view s, std::string_view suffix) {
    if (s.size() < suffix.size()) return false;
    return std::equal(suffix.begin(), suffix.end(), s.end() - static_cast<long>(suffix.size()),
                      [](char a, char b) {
                          return std::tolower(static_cast<unsigned char>(a)) ==
                                 std::tolower(static_cast<unsigned char>(b));
                      });
}

// "GorgetA.dll" -> "GorgetA"; a name given with its Linux suffix loses it too.
std::string_view stem(std::string_view name) {
    for (std::string_view suffix : {".dll", ".so"}) {
        if (ends_with_nocase(name, suffix)) return name.substr(0, name.size() - suffix.size());
    }
    return name;
}

// The directory of the shared object (or executable) this code is linked
// into, so that modules installed beside it are found wherever it lives.
std::string own_directory() {
    Dl_info info{};
    link_map* map = nullptr;
    std::string path;
    if (dladdr1(reinterpret_cast<void*>(&module_candidates), &info, reinterpret_cast<void**>(&map),
                RTLD_DL_LINKMAP) != 0 &&
        map != nullptr && map->l_name != nullptr && map->l_name[0] != '\0') {
        path = map->l_name;
    } else {
        // The main program's link map has no name.
        std::array<char, 4096> buf{};
        const ssize_t n = readlink("/proc/self/exe", buf.data(), buf.size() - 1);
        if (n > 0) path.assign(buf.data(), static_cast<std::size_t>(n));
    }
    const auto slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

std::vector<std::string> search_directories() {
    std::vector<std::string> dirs;
    if (std::string own = own_directory(); !own.empty()) dirs.push_back(std::move(own));
    if (const char* env = std::getenv(kModulePathEnv)) {
        std::string_view rest(env);
        while (!rest.empty()) {
            const auto colon = rest.find(':');
            std::string_view dir = rest.substr(0, colon);
            if (!dir.empty()) dirs.emplace_back(dir);
            if (colon == std::string_view::npos) break;
            rest.remove_prefix(colon + 1);
        }
    }
    return dirs;
}

}  // namespace

std::string module_file(const Module& module) {
    link_map* map = nullptr;
    if (!module || dlinfo(module.get(), RTLD_DI_LINKMAP, &map) != 0 || map == nullptr ||
        map->l_name == nullptr || map->l_name[0] == '\0')
        return {};
    std::unique_ptr<char, decltype(&std::free)> resolved(realpath(map->l_name, nullptr), std::free);
    return resolved ? std::string(resolved.get()) : std::string(map->l_name);
}

void ModuleCloser::operator()(void* handle) const {
    if (handle != nullptr) dlclose(handle);
}

std::vector<std::string> module_candidates(std::string_view name) {
    if (name.empty()) return {};
    if (name.find('/') != std::string_view::npos) return {std::string(name)};
    const std::string base(stem(name));
    const std::array<std::string, 2> files{"lib" + base + ".so", base + ".so"};
    std::vector<std::string> out;
    for (const std::string& dir : search_directories()) {
        for (const std::string& file : files) out.push_back(dir + "/" + file);
    }
    out.insert(out.end(), files.begin(), files.end());
    return out;
}

Module module_load(std::string_view name) {
    for (const std::string& candidate : module_candidates(name)) {
        if (void* handle = dlopen(candidate.c_str(), RTLD_NOW | RTLD_LOCAL)) return Module(handle);
    }
    return nullptr;
}

void* module_symbol(const Module& module, const char* entry) {
    if (!module || entry == nullptr) return nullptr;
    return dlsym(module.get(), entry);
}

}  // namespace cadb
