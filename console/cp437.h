#pragma once
#include <string>
#include <string_view>

// Unicode glyph of each code page 437 character code (0x00 as a blank).
extern const char32_t cp437Unicode[256];

// Appends the UTF-8 bytes of a code point of the Basic Multilingual Plane.
void appendUtf8(std::string& out, char32_t c);

// Appends the glyph of a code page 437 character as UTF-8.
inline void appendCp437(std::string& out, unsigned char code) { appendUtf8(out, cp437Unicode[code]); }

// Text a server or the configuration chose (a screen name, a description),
// which is code page 437, as UTF-8 with each byte its glyph, as the screen
// shows it: whatever the bytes, never a control character or broken UTF-8.
std::string cp437Text(std::string_view bytes);

// UTF-8 text (a file name made of glyphs) for the cell screen: each
// character that the code page has as its code, any other as '?'; bytes
// that are no UTF-8 character stay as they are.
std::string cp437FromUtf8(std::string_view text);

// The length of the UTF-8 character at the start of text, with its code
// point; 0 when the bytes there are none (a stray or cut sequence, an
// overlong form, a surrogate).
size_t utf8Next(std::string_view text, char32_t& codePoint);

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
