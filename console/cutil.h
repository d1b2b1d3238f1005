#pragma once
#include <cstdint>
#include <string>

#include "console/keyboard.h"

struct _win_st;

// The 80 x 25 cell screen: a cell is a 16-bit value, low byte the character
// (code page 437), high byte the attribute (fg bits 0-2, intensity bit 3,
// bg bits 4-6, bit 7 ignored on curses).
constexpr int screenCols = 80;
constexpr int screenRows = 25;

// The terminal's picture and cursor: what the program shows, one for the
// terminal as there is one terminal. A session keeps the server's screen in
// a model of its own and puts it here while it is in front; the lists,
// menus and boxes draw here over it.
extern uint16_t screenBuf[screenRows][screenCols];
extern int16_t cursorX;
extern int16_t cursorY;
extern const int colorTable[8];
extern const int compat_table[256];
extern const char brd[7];          // double-line frame set

// A message for one row of width columns (a byte a column): as it is when it
// fits, else with the words before its first path (when they leave room),
// then "...", then as much of its end as fits, so that a long path loses
// its front and keeps the file's name.
std::string fitToRow(const std::string& text, size_t width = screenCols);

// Cell level: change screenBuf only. Writes clip at column 79; a count of zero
// or less writes nothing; rows or columns outside the screen write nothing.
void setChars(int x, int y, unsigned char ch, unsigned char attr, int count);
void copyText(int x, int y, const char* text, unsigned char attr, int count);
void copyChars(int x, int y, const char* chars, int count);
void fillChars(int x, int y, unsigned char ch, int count);
void copyAttrs(int x, int y, const unsigned char* attrs, int count);
void setAttrs(int x, int y, unsigned char attr, int count);
// Copies the w x h rectangle at (x, y) into buffer (w*h*2 bytes: char, attr).
void saveScreenRect(int x, int y, int w, int h, unsigned char* buffer);

// Console level: change the cell screen, then push the touched rows.
int consoleDrawBox(_win_st* window, int x, int y, int w, int h, unsigned char attr, const char* frame);
int consoleFillBox(_win_st* window, int x, int y, int w, int h, unsigned char attr, unsigned char ch);
int consoleTextLine(_win_st* window, int x, int y, const char* text, int length, unsigned char attr);
int consoleTextSet(_win_st* window, int x, int y, const char* chars, int length);
int consoleAttrSet(_win_st* window, int x, int y, const unsigned char* attrs, int length);
int consoleAttrFill(_win_st* window, int x, int y, int length, unsigned char attr);
int consoleCharFill(_win_st* window, int x, int y, int length, unsigned char ch);
int restoreScreenRect(int x, int y, int w, int h, const unsigned char* buffer);
int SetConsoleCursorPosition(_win_st* window, COORD position);
int updateScreen(_win_st* window, int first, int count);

// How one cell reaches curses. In Unicode mode glyph holds the character;
// in native mode acs names a glyph of the terminal's line-drawing set and
// altCharset marks a byte sent with the alternate character set; otherwise
// ch is sent as it is. pair is 0 in monochrome mode, where reverse shows a
// background brighter than its foreground.
struct CursesCell {
    unsigned char ch;
    char32_t glyph;
    char acs;
    int pair;
    bool bold;
    bool altCharset;
    bool reverse;
};
CursesCell translateCell(uint16_t cell);

// Why the terminal cannot carry the program (standard input or output is no
// terminal, TERM is unknown or cannot address the cursor), or "" when it can.
std::string terminalRefusal();

// The display letter (m, a, n or u) that a command-line argument names:
// "-x", "/x" or "--x", whatever follows; 0 for any other argument.
char displayLetter(const char* arg);

// Settles alternateCharset, monochromeMode and unicodeMode from TERM, the
// display letters of the command line (-m, -a, -n, -u) and whether the
// locale's character set is UTF-8. True when Unicode was asked for in a
// locale that is not UTF-8 (the caller then has to switch the locale).
bool chooseDisplayMode(const char* term, int argc, char** argv, bool utf8Locale);

// Terminal start-up and shut-down of the curses program (display mode, curses
// set-up with the colour pairs, the first picture).
void terminalStartup(int argc, char** argv);
void terminalShutdown();
