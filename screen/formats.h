#pragma once
#include <string>

#include "screen/screenfeed.h"

// The remote screen written out: text, a page with colours, and JSON.

// The 24-bit colour of each of the 16 colours of the PC text palette, as
// "#rrggbb", in the PC's order (blue is 1, red is 4).
extern const char* const pcPalette[16];

// One row of cells as UTF-8, each code page 437 character as its glyph,
// blanks at the end trimmed, without a line end.
std::string lineText(const uint16_t* cells);

// 25 lines of UTF-8, each code page 437 character as its glyph, blanks at
// line ends trimmed, each line ended by LF.
std::string screenText(const remoteScreen& screen);

// One self-contained page (no scripts, no outside files) that shows the
// 80 x 25 screen in its colours as text that can be selected.
std::string screenHtml(const remoteScreen& screen);

// The screen as one JSON object: server, screen id and name, cursor, the
// rows as text and each row's colours as runs of one attribute.
std::string screenJson(const remoteScreen& screen);

// The formats a screen is saved in, named by the file's extension.
enum class screenFormat { text, html, json };
struct screenFormatName {
    const char* extension;
    screenFormat format;
};
extern const screenFormatName screenFormats[3];
// The extensions as a list for a message: ".txt, .html or .json".
extern const char* const screenFormatList;
// The format the file's name ends in; false when none.
bool screenFormatOf(const std::string& path, screenFormat& format);
// The screen in a format, as the file's whole content.
std::string screenAs(const remoteScreen& screen, screenFormat format);
