#include "admin/console.h"

#include <langinfo.h>
#include <openssl/crypto.h>
#include <strings.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

#include "platform/codepage.h"

namespace cadb::console {

static_assert(sizeof(termios) <= 64, "the saved terminal settings must fit");

const char* codeset() {
    const char* name = nl_langinfo(CODESET);
    if (name == nullptr || *name == '\0' || std::strcmp(name, "ANSI_X3.4-1968") == 0)
        return "ASCII";
    return name;
}

bool codeset_is_utf8() {
    const char* name = codeset();
    return strcasecmp(name, "UTF-8") == 0 || strcasecmp(name, "UTF8") == 0;
}

KeyReader::KeyReader() {
    if (isatty(STDIN_FILENO) == 0) return;
    termios t{};
    if (tcgetattr(STDIN_FILENO, &t) != 0) return;
    std::memcpy(saved_, &t, sizeof t);
    // Keys one at a time, no echo; signals stay, so Ctrl-C still ends the
    // program.
    t.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO);
    t.c_cc[VMIN] = 1;
    t.c_cc[VTIME] = 0;
    if (tcsetattr(STDIN_FILENO, TCSAFLUSH, &t) == 0) restore_ = true;
}

KeyReader::~KeyReader() {
    if (!restore_) return;
    termios t{};
    std::memcpy(&t, saved_, sizeof t);
    tcsetattr(STDIN_FILENO, TCSAFLUSH, &t);
}

int KeyReader::next() {
    // Standard input is one for the process, so is the byte read before.
    static bool after_carriage_return = false;
    unsigned char c = 0;
    for (;;) {
        const ssize_t n = read(STDIN_FILENO, &c, 1);
        if (n == 1) {
            const bool line_feed_of_last_line = after_carriage_return && c == '\n';
            after_carriage_return = c == '\r';
            if (line_feed_of_last_line) continue;
            return c;
        }
        if (n < 0 && errno == EINTR) continue;
        after_carriage_return = false;
        return -1;
    }
}

bool KeyReader::rest_of_character(unsigned char lead, std::string& out) {
    if (!codeset_is_utf8() || lead < 0xC0) return true;
    const int more = lead >= 0xF0 ? 3 : lead >= 0xE0 ? 2 : 1;
    for (int i = 0; i < more; ++i) {
        const int c = next();
        if (c < 0) return false;
        out.push_back(static_cast<char>(c));
    }
    return true;
}

void wipe(std::string& s) {
    if (!s.empty()) OPENSSL_cleanse(s.data(), s.size());
    s.clear();
}

bool convert(const char* from, const char* to, std::string_view in, std::string& out) {
    wipe(out);
    if (in.empty()) return true;
    // Four bytes a character covers every encoding the program meets.
    std::vector<unsigned char> room(in.size() * 4 + 4);
    const long n = codepage_convert(from, to, {reinterpret_cast<const unsigned char*>(in.data()), in.size()},
                                    {room.data(), room.size()});
    bool ok = n >= 0;
    if (ok) out.assign(reinterpret_cast<const char*>(room.data()), static_cast<std::size_t>(n));
    OPENSSL_cleanse(room.data(), room.size());
    return ok;
}

void print_utf8(FILE* out, std::string_view text) {
    if (codeset_is_utf8()) {
        std::fwrite(text.data(), 1, text.size(), out);
        return;
    }
    std::string shown;
    if (convert(kUtf8, codeset(), text, shown)) {
        std::fwrite(shown.data(), 1, shown.size(), out);
        return;
    }
    // Character by character, so one that the terminal lacks spoils nothing
    // else.
    std::size_t i = 0;
    while (i < text.size()) {
        const auto lead = static_cast<unsigned char>(text[i]);
        std::size_t len = lead < 0x80 ? 1 : lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 1;
        if (i + len > text.size()) len = text.size() - i;
        std::string one;
        if (convert(kUtf8, codeset(), text.substr(i, len), one))
            std::fwrite(one.data(), 1, one.size(), out);
        else
            std::fputc('?', out);
        i += len;
    }
}

}  // namespace cadb::console
