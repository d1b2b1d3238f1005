#pragma once
#include <string>
#include <string_view>

#include "screen/asciicast.h"
#include "wall/wallscreen.h"

// The asciicast (version 2) lines of a console's recording, drawn as the
// screen layer draws them for recordings.
using wallTerminal = castTerminal;

// The output that brings a terminal showing `shown` to the screen `to`, for
// the rows in the mask, or every cell of every row when all; updates shown.
std::string wallDrawChanges(wallTerminal& shown, const remoteScreen& to, uint32_t rows, bool all = false);
// The header line, without its newline, titled with the description.
std::string wallCastHeader(std::string_view description, long long timestamp);
// One event line, with its newline: [seconds, "o" or "m", data].
std::string wallCastEvent(double seconds, char type, std::string_view data);
