#pragma once
#include <string>
#include <string_view>

#include "wall/wallscreen.h"

// The asciicast (version 2) lines of a console's recording. The drawing is
// the recordings' (castRecorder's header, drawChanges and marker), copied
// here since the wall may not use the recording layer; the two are to become
// one in the screen layer.
struct wallTerminal {
    uint16_t cells[screenRows][screenCols] = {};
    int x = -1, y = -1;   // -1: unknown
    int attr = -1;
};

// The output that brings a terminal showing `shown` to the screen `to`, for
// the rows in the mask, or every cell of every row when all; updates shown.
std::string wallDrawChanges(wallTerminal& shown, const remoteScreen& to, uint32_t rows, bool all = false);
// The header line, without its newline, titled with the description.
std::string wallCastHeader(std::string_view description, long long timestamp);
// One event line, with its newline: [seconds, "o" or "m", data].
std::string wallCastEvent(double seconds, char type, std::string_view data);
