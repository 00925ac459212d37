#include "crypto/core/err.h"

#include <openssl/err.h>

#include <deque>
#include <mutex>
#include <set>
#include <string>

namespace cadb {
namespace {

constexpr std::size_t kMaxRecords = 16;

struct ErrRecord {
    unsigned long code;
    const char* file;
    int line;
    // Marks set on this record and not yet popped: each pop undoes one set,
    // so a mark and pop nested inside another on the same record leave the
    // outer one standing.
    int marks;
};

struct ErrState {
    std::deque<ErrRecord> records;
    int error_class = 0;
    unsigned long last_rv = 0;
    int last_rv_kind = 0;
};

ErrState& state() {
    thread_local ErrState s;
    return s;
}

// libcrypto frees the file names of its entries when its queue is cleared
// or a slot is reused, so a moved entry points at a copy kept for the life
// of the process: there are only as many as libcrypto has source files.
const char* kept_file_name(const char* file) {
    if (file == nullptr || *file == '\0') return "";
    static std::mutex guard;
    static auto& names = *new std::set<std::string, std::less<>>;
    const std::lock_guard hold(guard);
    return names.emplace(file).first->c_str();
}

}  // namespace

void ERR_put_error(int lib, int func, int reason, const char* file, int line) {
    auto& q = state().records;
    if (q.size() == kMaxRecords) q.pop_front();
    q.push_back({ERR_pack_code(lib, func, reason), file ? file : "", line, 0});
}

unsigned long ERR_get_error_line(const char** file, int* line) {
    auto& q = state().records;
    if (q.empty()) return 0;
    const ErrRecord r = q.front();
    q.pop_front();
    if (file) *file = r.file;
    if (line) *line = r.line;
    return r.code;
}

unsigned long ERR_get_error() { return ERR_get_error_line(nullptr, nullptr); }

unsigned long ERR_peek_error() {
    auto& q = state().records;
    return q.empty() ? 0 : q.front().code;
}

unsigned long ERR_peek_last_error() {
    auto& q = state().records;
    return q.empty() ? 0 : q.back().code;
}

void ERR_clear_error() { state().records.clear(); }

int ERR_set_mark() {
    auto& q = state().records;
    if (q.empty()) return 0;
    ++q.back().marks;
    return 1;
}

int ERR_pop_to_mark() {
    auto& q = state().records;
    while (!q.empty() && q.back().marks == 0) q.pop_back();
    if (q.empty()) return 0;
    --q.back().marks;
    return 1;
}

int ERR_clear_last_mark() {
    auto& q = state().records;
    for (auto it = q.rbegin(); it != q.rend(); ++it) {
        if (it->marks != 0) {
            --it->marks;
            return 1;
        }
    }
    return 0;
}

void ERR_remove_state() { state() = ErrState{}; }

void ERR_set_last_error(int error_class) { state().error_class = error_class; }

int ERR_get_last_error() { return state().error_class; }

void ERR_set_last_rv(unsigned long code, int kind) {
    auto& s = state();
    if (s.last_rv != 0) return;
    s.last_rv = code;
    s.last_rv_kind = kind;
}

void ERR_reset_last_rv(unsigned long code, int kind) {
    auto& s = state();
    s.last_rv = code;
    s.last_rv_kind = kind;
}

unsigned long ERR_get_last_rv() { return state().last_rv; }

int ERR_get_last_rv_kind() { return state().last_rv_kind; }

void ERR_move_openssl_errors(int lib, int func) {
    const char* file = nullptr;
    int line = 0;
    while (unsigned long e = ::ERR_get_error_all(&file, &line, nullptr, nullptr, nullptr)) {
        ERR_put_error(ERR_LIB_OPENSSL, ::ERR_GET_LIB(e) & 0xFFF, ::ERR_GET_REASON(e),
                      kept_file_name(file), line);
    }
    ERR_put_error(lib, func, ERR_LIB_OPENSSL, __FILE__, __LINE__);
}

}  // namespace cadb
