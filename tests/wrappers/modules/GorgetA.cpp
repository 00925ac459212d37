// A stand-in for the dialog library: exports the callbacks the object layer
// binds by name and answers as the script file named by GORGET_STANDIN_SCRIPT
// tells it. Each line of the script is "export=answer;answer;..."; the n-th
// call of an export takes the n-th answer (the last one repeats). Every call
// is appended to the journal named by GORGET_STANDIN_JOURNAL as
// "export|argument|argument...", which is also how the calls are counted:
// the library is loaded and unloaded around each call and keeps no state.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "wrappers/ui_exports.h"

#define EXPORT extern "C" __attribute__((visibility("default")))

namespace {

std::string env(const char* name) {
    const char* v = std::getenv(name);
    return v != nullptr ? v : "";
}

// Numbers as text without std::to_string, whose digit table is a unique
// symbol that would keep the module from ever being unloaded.
std::string num(long v) {
    char buf[24];
    std::snprintf(buf, sizeof buf, "%ld", v);
    return buf;
}

std::string flat(const char* text) {
    std::string out;
    for (const char* p = text; p != nullptr && *p != '\0'; ++p) out += *p == '\n' ? '~' : *p;
    return out;
}

int calls_so_far(const std::string& entry) {
    std::ifstream in(env("GORGET_STANDIN_JOURNAL"));
    int n = 0;
    for (std::string line; std::getline(in, line);)
        if (line == entry || line.rfind(entry + "|", 0) == 0) ++n;
    return n;
}

void journal(const std::string& entry, const std::vector<std::string>& args) {
    const std::string path = env("GORGET_STANDIN_JOURNAL");
    if (path.empty()) return;
    std::ofstream out(path, std::ios::app);
    out << entry;
    for (const std::string& a : args) out << '|' << a;
    out << '\n';
}

// The answer for this call of entry, or fallback when the script has none.
std::string answer(const std::string& entry, const std::string& fallback) {
    std::ifstream in(env("GORGET_STANDIN_SCRIPT"));
    std::vector<std::string> answers;
    for (std::string line; std::getline(in, line);) {
        if (line.rfind(entry + "=", 0) != 0) continue;
        std::stringstream rest(line.substr(entry.size() + 1));
        for (std::string a; std::getline(rest, a, ';');) answers.push_back(a);
        if (!line.empty() && line.back() == ';') answers.emplace_back();
    }
    const int n = calls_so_far(entry);
    if (answers.empty()) return fallback;
    return answers[std::min<std::size_t>(static_cast<std::size_t>(n), answers.size() - 1)];
}

// "#N" stands for N letters 'x'.
std::string expand(const std::string& a) {
    if (a.size() > 1 && a[0] == '#') return std::string(std::strtoul(a.c_str() + 1, nullptr, 10), 'x');
    return a;
}

int text_answer(const char* entry, char* buf, std::int32_t size, const std::string& fallback) {
    const std::string a = answer(entry, fallback);
    journal(entry, {num(size)});
    if (a == "cancel") return entry == std::string("putPassCBK") ? -1 : 0;
    const std::string text = expand(a);
    // Like the real dialogs, the size is not looked at: the caller must bound.
    std::memcpy(buf, text.data(), text.size());
    return static_cast<std::int32_t>(text.size());
}

// A seeding routine that feeds events until the generator is satisfied.
int instant_routine(cadb::GRAND_SEED* record, int needed, cadb::GRAND_CHAR_CB, void*,
                    cadb::GRAND_EVENT_CB event_cb) {
    for (int i = 0; i < 1024; ++i)
        if (event_cb(record) != 0 && i + 1 >= needed) return 1;
    return 0;
}

int identity(int ch, int, int, void*) { return ch; }

}  // namespace

EXPORT std::int32_t Init() {
    const std::string a = answer("Init", "1");
    journal("Init", {});
    return std::atoi(a.c_str());
}

EXPORT std::int32_t Free() {
    journal("Free", {});
    return 0;
}

EXPORT std::int32_t dirOperationCBK(const char* caption, cadb::UIDirRecord* record) {
    const std::string a = answer("dirOperationCBK", "");
    journal("dirOperationCBK", {flat(caption)});
    if (record == nullptr || a.empty() || a == "cancel") return 0;
    const auto comma = a.rfind(',');
    const std::string path = expand(a.substr(0, comma));
    std::memset(record->path, 0, sizeof record->path);
    std::memcpy(record->path, path.data(), std::min(path.size(), sizeof record->path));
    record->type = comma == std::string::npos ? 0 : std::atoi(a.c_str() + comma + 1);
    return static_cast<std::int32_t>(path.size());
}

EXPORT std::int32_t getPassCBK(char* buf, std::int32_t size, std::int32_t, const char*) {
    return text_answer("getPassCBK", buf, size, "cancel");
}
EXPORT std::int32_t putPassCBK(char* buf, std::int32_t size, std::int32_t, const char*) {
    return text_answer("putPassCBK", buf, size, "cancel");
}
EXPORT std::int32_t getPass_eTokenCBK(char* buf, std::int32_t size, std::int32_t, void*) {
    return text_answer("getPass_eTokenCBK", buf, size, "cancel");
}
EXPORT std::int32_t getPass_ruTokenCBK(char* buf, std::int32_t size, std::int32_t, void*) {
    return text_answer("getPass_ruTokenCBK", buf, size, "cancel");
}
EXPORT std::int32_t getPass_pkcs11CBK(char* buf, std::int32_t size, std::int32_t, void*) {
    return text_answer("getPass_pkcs11CBK", buf, size, "cancel");
}

EXPORT std::int32_t getProgressCBK(std::int32_t a, std::int32_t b, std::int32_t c) {
    journal("getProgressCBK", {num(a), num(b), num(c)});
    return 0;
}

EXPORT std::int32_t rndInitCBK_Vambrace32(cadb::UIRegisterSeedRoutine reg,
                                          cadb::UIStartSeeding seed) {
    const std::string a = answer("rndInitCBK_Vambrace32", "1");
    journal("rndInitCBK_Vambrace32", {});
    if (a == "0") return 0;
    reg(instant_routine);
    return seed(nullptr, nullptr, nullptr, identity, nullptr) != 0 ? 1 : 0;
}

EXPORT std::int32_t getSShareCBK(std::int32_t, std::int32_t* threshold, std::int32_t* count) {
    const std::string a = answer("getSShareCBK", "cancel");
    journal("getSShareCBK", {});
    if (a == "cancel") return 0;  // as the real dialog: outputs untouched, still 0
    if (a == "fail") return 1;
    const auto comma = a.find(',');
    *threshold = std::atoi(a.c_str());
    *count = comma == std::string::npos ? 0 : std::atoi(a.c_str() + comma + 1);
    return 0;
}

// The variant built with GORGET_STANDIN_LACKS_ACCEPT stands for a library of
// an older release.
#ifndef GORGET_STANDIN_LACKS_ACCEPT
EXPORT std::int32_t acceptPKCS7CBK(char**, std::int32_t count, char**) {
    const std::string a = answer("acceptPKCS7CBK", "0");
    journal("acceptPKCS7CBK", {num(count)});
    return std::atoi(a.c_str());
}
#endif

EXPORT std::int32_t devReqReady(const char* path, std::int32_t) {
    const std::string a = answer("devReqReady", "0");
    journal("devReqReady", {flat(path)});
    return std::atoi(a.c_str());
}

// Strings: "S<id>", with the fields the real table's texts carry.
EXPORT std::int32_t GorgetLoadString(std::uint32_t id, char* buf, std::int32_t size) {
    if (answer("GorgetLoadString", "") == "none" || size <= 0) return 0;
    std::string text = "S" + num(static_cast<long>(id));
    switch (id) {
        case 40: case 51: case 57: case 69: case 73: text += " %d"; break;
        case 67: text += " %d %s"; break;
        default: break;
    }
    std::snprintf(buf, static_cast<std::size_t>(size), "%s", text.c_str());
    return static_cast<std::int32_t>(std::strlen(buf));
}

EXPORT std::int32_t MessageBoxA(void*, const char* text, const char* caption, std::uint32_t type) {
    const bool yes_no = (type & 0x0F) == cadb::MB_YESNO;
    const std::string a = answer("MessageBoxA", yes_no ? "7" : "1");
    journal("MessageBoxA", {flat(caption), flat(text), num(type)});
    return std::atoi(a.c_str());
}
