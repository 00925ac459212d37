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

enum class Ended { enter, escape, input_closed, full };

// Reads characters up to Enter, Escape, the end of input or max characters,
// each whole character appended to typed and answered by echo(character).
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
    return Ended::full;
}

// Drops trailing bytes of a UTF-8 text until it is at most max bytes of
// whole characters.
void cut_utf8(std::string& text, std::size_t max) {
    if (text.size() <= max) return;
    std::size_t end = max;
    while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) --end;
    text.resize(end);
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
    // Token labels are UTF-8 (PKCS#11); a label cut to the field keeps whole
    // characters.
    std::string utf8;
    if (!console::convert(console::codeset(), kUtf8, typed, utf8)) return 0;
    cut_utf8(utf8, TASSET_LABEL_SIZE);
    std::memcpy(label, utf8.data(), utf8.size());
    label[utf8.size()] = '\0';
    return 1;
}

void Tasset_wait_key() {
    console::KeyReader keys;
    keys.next();
}

}  // namespace cadb
