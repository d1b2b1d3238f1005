#pragma once
#include <cstdint>
#include <string>
#include <string_view>

#include "console/cutil.h"

// The remote screen of one console of the wall, as its session last painted
// it. The wall's pieces (the hub, the log folder writer) take this plain
// struct so that they know no session type: whoever drives them fills it
// from the session's feed.
struct wallScreen {
    uint16_t cells[screenRows][screenCols] = {};   // low byte the character (code page 437), high byte the attribute
    int cursorX = 0;
    int cursorY = 0;
    uint32_t screenId = 0;
    std::string screenName;    // the server's bytes, code page 437
    std::string description;   // the server entry's description, code page 437
};

// A mask of rows: bit r for row r.
constexpr uint32_t wallAllRows = (1u << screenRows) - 1;

// The 16 colours of the PC text palette as "#rrggbb", blue is 1, red is 4.
// (The same table as the screenshots'; the wall keeps a copy so that it
// needs none of the recording code.)
extern const char* const wallPalette[16];

// UTF-8 text as a JSON string, quotes included: control characters
// escaped, bytes that are no UTF-8 character as U+FFFD. (The screenshots'
// jsonString, copied.)
void wallJson(std::string& out, std::string_view utf8);
// Code page 437 bytes (a screen name, a description) as a JSON string of
// their glyphs, at most max bytes of them.
void wallJsonCp437(std::string& out, std::string_view bytes, size_t max = 256);

// One row of cells as UTF-8 glyphs, blanks at its end trimmed.
std::string wallRowText(const uint16_t* cells);

// A description made a safe folder name: separators, wildcards, quotes,
// controls and a leading dot become '_', bytes from 0x80 up their glyphs;
// at most 80 bytes, never a glyph cut; "_" for nothing. (The rule of the
// saved files' names, on Linux.)
std::string wallSafeName(std::string_view description);
