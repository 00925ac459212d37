// The console prompts for PINs and the token label.

#include <openssl/crypto.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "admin/console.h"
#include "admin/tasset.h"
#include "platform/codepage.h"

namespace cadb {
namespace {

constexpr int kEnter = 13;
constexpr int kNewLine = 10;
constexpr int kEscape = 27;

enum class Ended { enter, escape, input_closed, too_long };

// Keys up to the end of the line, dropped: the rest of an answer that was too
// long must not become the next answer.
void drop_rest_of_line(console::KeyReader& keys) {
    for (int c = keys.next(); c >= 0 && c != kEnter && c != kNewLine; c = keys.next()) {
    }
}

// Reads characters up to Enter, Escape or the end of input, each whole
// character appended to typed and answered by echo(character). An answer of
// more than max characters is too long: the rest of its line is read and
// dropped, and it ends too_long.
template <class Echo>
Ended read_characters(console::KeyReader& keys, std::string& typed, int max, Echo echo) {
    // Room for every byte the characters can take, so the secret is never
    // left behind in a buffer the string outgrew.
    typed.reserve(static_cast<std::size_t>(max) * 4 + 4);
    int count = 0;
    while (count < max) {
        const int c = keys.next();
        if (c < 0) return Ended::input_closed;
        if (c == kEnter || c == kNewLine) return Ended::enter;
        if (c == kEscape) return Ended::escape;
        std::string one(1, static_cast<char>(c));
        const bool whole = keys.rest_of_character(static_cast<unsigned char>(c), one);
        typed += one;
        console::wipe(one);
        if (!whole) return Ended::input_closed;
        echo(typed.data() + typed.size() - 1);
        ++count;
    }
    const int c = keys.next();
    if (c < 0) return Ended::input_closed;
    if (c == kEnter || c == kNewLine) return Ended::enter;
    if (c == kEscape) return Ended::escape;
    drop_rest_of_line(keys);
    return Ended::too_long;
}

// Tells the user why the answer was refused.
void say_too_long(const char* what) {
    std::printf("Too long: at most %s.\n", what);
    std::fflush(stdout);
}

}  // namespace

int Tasset_get_pin(char* buf, int size, int rwflag, void* /*arg*/) {
    if (buf == nullptr || size < 0) return -1;
    // Echo goes off before the prompt shows, so no key typed ahead is seen.
    console::KeyReader keys;
    std::fputs(rwflag == 1 ? "Enter SO PIN: " : "Enter user PIN: ", stdout);
    std::fflush(stdout);
    std::string typed;
    const Ended ended = read_characters(keys, typed, size, [](const char*) {
        std::fputc('*', stdout);
        std::fflush(stdout);
    });
    std::fputs("\n", stdout);
    std::fflush(stdout);
    if (ended == Ended::escape) {
        console::wipe(typed);
        return 0;
    }
    if (ended == Ended::too_long) {
        console::wipe(typed);
        say_too_long((std::to_string(size) + " characters").c_str());
        return -1;
    }
    // The PIN goes on in the system's narrow code page; the library encodes
    // it for the token from there.
    std::string narrow;
    const bool ok = console::convert(console::codeset(), kLocalCodePage, typed, narrow);
    console::wipe(typed);
    if (!ok || narrow.size() > static_cast<std::size_t>(size)) {
        console::wipe(narrow);
        return -1;
    }
    std::memcpy(buf, narrow.data(), narrow.size());
    const int n = static_cast<int>(narrow.size());
    console::wipe(narrow);
    return n;
}

int Tasset_get_label(char* label) {
    if (label == nullptr) return 0;
    label[0] = '\0';
    console::KeyReader keys;
    std::fputs("Enter token label: ", stdout);
    std::fflush(stdout);
    std::string typed;
    std::size_t shown = 0;
    const Ended ended = read_characters(keys, typed, TASSET_LABEL_SIZE, [&](const char*) {
        // The character just completed, echoed as typed.
        std::fwrite(typed.data() + shown, 1, typed.size() - shown, stdout);
        std::fflush(stdout);
        shown = typed.size();
    });
    if (ended == Ended::escape) {
        std::fputs("\n", stdout);
        return 0;
    }
    std::fputs("\n", stdout);
    std::fflush(stdout);
    if (ended == Ended::too_long) {
        say_too_long("32 characters");
        return 0;
    }
    // Token labels are UTF-8 (PKCS#11) in a field of 32 bytes: a label that
    // takes more is refused, not cut.
    std::string utf8;
    if (!console::convert(console::codeset(), kUtf8, typed, utf8)) return 0;
    // The label goes on as a C string: a zero byte in it would cut it short
    // without a word.
    if (utf8.find('\0') != std::string::npos) return 0;
    if (utf8.size() > TASSET_LABEL_SIZE) {
        say_too_long("32 bytes in UTF-8");
        return 0;
    }
    std::memcpy(label, utf8.data(), utf8.size());
    label[utf8.size()] = '\0';
    return 1;
}

void Tasset_wait_key() {
    console::KeyReader keys;
    keys.next();
}

}  // namespace cadb
