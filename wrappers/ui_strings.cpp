// The dialog library as a string module and as the shower of message boxes.
#include <array>
#include <cstring>

#include "platform/no_destructor.h"
#include "wrappers/log.h"
#include "wrappers/ui_binding.h"

namespace cadb {
namespace {

constexpr int kStringBuffer = 2048;

struct StringModule {
    std::string name;
    Module module;
};

// The dialog library goes with LoadUIString(nullptr), never with a
// destructor at exit.
StringModule& cached() {
    static NoDestructor<StringModule> m;
    return *m;
}

}  // namespace

std::string LoadUIString(const char* libraryName, int id) {
    StringModule& cache = cached();
    if (libraryName == nullptr) {
        cache.module.reset();
        cache.name.clear();
        return {};
    }
    if (!cache.module || cache.name != libraryName) {
        cache.module.reset();
        cache.name = libraryName;
        cache.module = module_load(libraryName);
    }
    UI_GorgetLoadString fn = nullptr;
    if (!cache.module || id < 0 || !module_entry(cache.module, "GorgetLoadString", fn)) return {};
    std::array<char, kStringBuffer> buf{};
    const int n = fn(static_cast<std::uint32_t>(id), buf.data(), static_cast<int>(buf.size()));
    if (n <= 0) return {};
    buf.back() = '\0';
    return std::string(buf.data(), strnlen(buf.data(), buf.size()));
}

std::string UIString(int id) { return LoadUIString(kUILibraryName, id); }

int UIMessageBox(const std::string& text, const std::string& caption, unsigned type) {
    const int fallback = (type & 0x0F) == MB_YESNO ? IDNO : IDOK;
    Module module = module_load(kUILibraryName);
    UI_MessageBoxA fn = nullptr;
    if (!module || !module_entry(module, "MessageBoxA", fn)) {
        LogMessage("MessageBox [%s] %s (no dialog library: answered %d)", caption.c_str(),
                   text.c_str(), fallback);
        return fallback;
    }
    return fn(nullptr, text.c_str(), caption.c_str(), type);
}

std::string UIFormat(std::string_view format, std::initializer_list<std::string> args) {
    std::string out;
    auto next = args.begin();
    for (std::size_t i = 0; i < format.size(); ++i) {
        const char c = format[i];
        if (c != '%' || i + 1 == format.size()) {
            out += c;
            continue;
        }
        const std::string_view rest = format.substr(i + 1);
        std::size_t field = 0;
        if (rest.starts_with("%")) {
            out += '%';
            i += 1;
            continue;
        }
        if (rest.starts_with("d") || rest.starts_with("s")) field = 1;
        else if (rest.starts_with("li") || rest.starts_with("ld")) field = 2;
        if (field == 0) {
            out += c;
            continue;
        }
        if (next != args.end()) out += *next++;
        i += field;
    }
    return out;
}

}  // namespace cadb
