#pragma once

#include <string>

// The window title of the curses terminal: set the way terminfo tells (its
// status line, or the xterm title sequence on an xterm-like terminal), and
// the title that was there before put back at the end where the terminal
// keeps a stack of titles (xterm-like ones).

// What goes between the terminal's start and end of a title for the text:
// printable ASCII as it is, every other byte as its code page 437 glyph in
// UTF-8 when utf8, or as '?' otherwise, so that no byte of a description
// ends the title or starts a control sequence.
std::string terminalTitleText(const char* title, bool utf8);

// Puts text on the terminal's clipboard through its description's Ms
// (xterm's OSC 52, the text in Base64); false on a terminal without it.
bool copyToTerminalClipboard(const std::string& text);

// Sets the title; nothing on a terminal that has none.
void setTerminalTitle(const char* title);
// Puts back the title that the first setTerminalTitle replaced, where the
// terminal allows it; after the terminal has been given back.
void restoreTerminalTitle();
