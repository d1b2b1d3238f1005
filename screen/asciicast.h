#pragma once
#include <cstdint>
#include <string>
#include <string_view>

#include "screen/remotescreen.h"

// Drawing a remote screen as asciicast (version 2) output, for recordings
// of a session and the console wall's logs alike.

// What a terminal replaying the output shows so far.
struct castTerminal {
    uint16_t cells[screenRows][screenCols] = {};
    int x = -1, y = -1;   // -1: unknown
    int attr = -1;
};

// The output that brings a terminal showing `shown` to the screen `to`: the
// rows flagged in `rows`, or every cell of every row when rows is null (a
// first picture); updates shown.
std::string castDrawChanges(castTerminal& shown, const remoteScreen& to, const bool* rows);
// The header line, without its newline, titled with the description (its
// glyphs as UTF-8), with the PC palette as the theme.
std::string castHeader(std::string_view description, long long timestamp);
