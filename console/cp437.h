#pragma once

// Unicode glyph of each code page 437 character code (0x00 as a blank).
extern const char32_t cp437Unicode[256];

// Name of the terminal line-drawing character (the VT100 letter curses
// indexes its ACS map with, 'q' for the horizontal line) that shows the code
// page 437 glyph, or 0 when the line-drawing set has none for it.
char cp437AcsName(unsigned char code);
