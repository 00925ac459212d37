#include "crypto/core/err_str.h"

#include <unistd.h>

#include <cstdio>
#include <mutex>
#include <shared_mutex>
#include <string>
#include <unordered_map>

namespace cadb {
namespace {

struct StringTables {
    std::shared_mutex lock;
    std::unordered_map<unsigned long, const char*> texts;
    // Advanced by every ERR_free_strings; a loader whose flag holds the
    // current value has loaded since the last free.
    unsigned generation = 1;
};

StringTables& tables() {
    static StringTables t;
    return t;
}

// Caller holds the lock for writing.
void insert_locked(StringTables& t, int lib, std::span<const ERR_STRING_DATA> entries) {
    const unsigned long lib_bits = ERR_pack_code(lib, 0, 0);
    for (const ERR_STRING_DATA& d : entries) t.texts[d.error | lib_bits] = d.string;
}

const char* find(unsigned long code) {
    StringTables& t = tables();
    std::shared_lock g(t.lock);
    const auto it = t.texts.find(code);
    return it == t.texts.end() ? nullptr : it->second;
}

}  // namespace

void ERR_load_strings(int lib, std::span<const ERR_STRING_DATA> entries) {
    StringTables& t = tables();
    std::unique_lock g(t.lock);
    insert_locked(t, lib, entries);
}

int ERR_load_strings_once(ERR_LOAD_FLAG& flag, std::initializer_list<ERR_STRING_TABLE> list) {
    StringTables& t = tables();
    std::unique_lock g(t.lock);
    if (flag.loaded_in == t.generation) return 0;
    for (const ERR_STRING_TABLE& table : list) insert_locked(t, table.lib, table.entries);
    flag.loaded_in = t.generation;
    return 1;
}

void ERR_free_strings() {
    StringTables& t = tables();
    std::unique_lock g(t.lock);
    t.texts.clear();
    ++t.generation;
}

const char* ERR_lib_error_string(unsigned long e) {
    return find(ERR_pack_code(ERR_code_lib(e), 0, 0));
}

const char* ERR_func_error_string(unsigned long e) {
    if (ERR_code_lib(e) == ERR_LIB_OPENSSL)
        return ::ERR_lib_error_string(ERR_PACK(ERR_code_func(e), 0, 0));
    return find(ERR_pack_code(ERR_code_lib(e), ERR_code_func(e), 0));
}

const char* ERR_reason_error_string(unsigned long e) {
    const int lib = ERR_code_lib(e);
    const int reason = ERR_code_reason(e);
    if (lib == ERR_LIB_OPENSSL)
        return ::ERR_reason_error_string(ERR_PACK(ERR_code_func(e), 0, reason));
    if (const char* s = find(ERR_pack_code(lib, 0, reason))) return s;
    return find(ERR_pack_code(0, 0, reason));
}

void ERR_error_string_n(unsigned long e, char* buf, std::size_t len) {
    if (buf == nullptr || len == 0) return;
    char lib_buf[24];
    char func_buf[24];
    char reason_buf[24];
    const char* ls = ERR_lib_error_string(e);
    const char* fs = ERR_func_error_string(e);
    const char* rs = ERR_reason_error_string(e);
    if (ls == nullptr) {
        std::snprintf(lib_buf, sizeof lib_buf, "lib(%d)", ERR_code_lib(e));
        ls = lib_buf;
    }
    if (fs == nullptr) {
        std::snprintf(func_buf, sizeof func_buf, "func(%d)", ERR_code_func(e));
        fs = func_buf;
    }
    if (rs == nullptr) {
        std::snprintf(reason_buf, sizeof reason_buf, "reason(%d)", ERR_code_reason(e));
        rs = reason_buf;
    }
    std::snprintf(buf, len, "error:%08lX:%s:%s:%s", e, ls, fs, rs);
}

char* ERR_error_string(unsigned long e, char* buf) {
    thread_local char own[ERR_STRING_BUF_SIZE];
    char* out = buf != nullptr ? buf : own;
    ERR_error_string_n(e, out, ERR_STRING_BUF_SIZE);
    return out;
}

namespace {

template <typename Write>
void print_errors(Write write) {
    const unsigned long thread = static_cast<unsigned long>(::gettid());
    char text[ERR_STRING_BUF_SIZE];
    const char* file = nullptr;
    int line = 0;
    while (const unsigned long e = ERR_get_error_line(&file, &line)) {
        ERR_error_string_n(e, text, sizeof text);
        std::string out = std::to_string(thread);
        out += ':';
        out += text;
        out += ':';
        out += file != nullptr ? file : "";
        out += ':';
        out += std::to_string(line);
        out += '\n';
        write(out);
    }
}

}  // namespace

void ERR_print_errors(BIO* bp) {
    if (bp == nullptr) return;
    print_errors(
        [bp](const std::string& s) { BIO_write(bp, s.data(), static_cast<int>(s.size())); });
}

void ERR_print_errors_fp(FILE* fp) {
    if (fp == nullptr) return;
    print_errors([fp](const std::string& s) { std::fwrite(s.data(), 1, s.size(), fp); });
}

}  // namespace cadb
