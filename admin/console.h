// The console under the program's prompts: keys read one at a time without
// the terminal's line editing or echo, and text moved between the
// terminal's encoding and the encodings the library keeps.
#pragma once

#include <cstddef>
#include <cstdio>
#include <string>
#include <string_view>

namespace cadb::console {

// The terminal's encoding as iconv names it (the locale's character set;
// "ASCII" in the C locale).
const char* codeset();
// True when the terminal's encoding is UTF-8, whose characters take several
// bytes.
bool codeset_is_utf8();

// Keys from standard input. On a terminal, line editing and echo are off for
// the reader's life and restored after; otherwise the bytes are read as they
// come, so scripts and tests can pipe the answers in.
class KeyReader {
  public:
    KeyReader();
    ~KeyReader();
    KeyReader(const KeyReader&) = delete;
    KeyReader& operator=(const KeyReader&) = delete;
    // The next byte, or -1 at the end of input or on a read error. A line
    // feed right after a carriage return is part of that line's end (lines
    // piped from a DOS text), even when the next prompt reads it.
    int next();
    // The bytes that complete a character begun by lead in the terminal's
    // encoding, appended to out; false when input ends first.
    bool rest_of_character(unsigned char lead, std::string& out);

  private:
    bool restore_ = false;
    unsigned char saved_[64];  // the terminal's settings (struct termios)
};

// Text from one encoding to another; false when it does not convert. The
// converted bytes replace out (whose old bytes are wiped).
bool convert(const char* from, const char* to, std::string_view in, std::string& out);
// Writes UTF-8 text to out in the terminal's encoding; characters the
// terminal cannot show come out as '?'.
void print_utf8(FILE* out, std::string_view text);

// Wipes a string's bytes.
void wipe(std::string& s);

}  // namespace cadb::console
