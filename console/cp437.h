#pragma once
#include <string>

// Unicode glyph of each code page 437 character code (0x00 as a blank).
extern const char32_t cp437Unicode[256];

// Appends the UTF-8 bytes of a code point of the Basic Multilingual Plane.
void appendUtf8(std::string& out, char32_t c);

// Name of the terminal line-drawing character (the VT100 letter curses
// indexes its ACS map with, 'q' for the horizontal line) that shows the code
// page 437 glyph, or 0 when the line-drawing set has none for it.
char cp437AcsName(unsigned char code);

// The code page 437 character of a typed Unicode character: ASCII from 32 to
// 126 as it is, the letters and symbols from 128 up; -1 for anything else
// (the glyphs of the control range are not typed characters).
int cp437FromUnicode(char32_t codePoint);

// Collects the bytes of one UTF-8 character, as a terminal sends a key
// beyond ASCII; never holds more than one character.
class utf8Reader {
public:
    // 1: a character is complete (in codePoint); 0: more bytes must come;
    // -1: the bytes cannot be a character and are dropped. A lead byte in
    // the middle of a character drops what came before it.
    int feed(unsigned char byte, char32_t& codePoint);
    void reset() { need_ = 0; }

private:
    char32_t value_ = 0;
    char32_t least_ = 0;   // the smallest code point of this length: no overlong forms
    int need_ = 0;         // continuation bytes still to come
};
