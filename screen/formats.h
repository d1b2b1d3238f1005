#pragma once
#include <string>

#include "screen/screenfeed.h"

// The remote screen as a file for a ticket: text, and a page with colours.

// The 24-bit colour of each of the 16 colours of the PC text palette, as
// "#rrggbb", in the PC's order (blue is 1, red is 4).
extern const char* const pcPalette[16];

// The text as a JSON string, quotes included: UTF-8 passes as it is,
// control characters are escaped, and bytes that are no UTF-8 character
// become U+FFFD.
std::string jsonString(const std::string& text);

// One row of cells as UTF-8, each code page 437 character as its glyph,
// blanks at the end trimmed, without a line end.
std::string lineText(const uint16_t* cells);

// 25 lines of UTF-8, each code page 437 character as its glyph, blanks at
// line ends trimmed, each line ended by LF.
std::string screenText(const remoteScreen& screen);

// One self-contained page (no scripts, no outside files) that shows the
// 80 x 25 screen in its colours as text that can be selected.
std::string screenHtml(const remoteScreen& screen);

// Saves the screen as NAME.txt and NAME.html in the save folder, NAME being
// <server>-<screen id>-<time>. What the status row should say: where the
// files went, or why they did not.
std::string saveScreenshot(const remoteScreen& screen);
