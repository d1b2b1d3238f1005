#pragma once
#include <cstdint>
#include <string>

#include "console/cutil.h"

// The remote screen as the server last painted it: never the client's own
// menus, prompts or notices over it.
struct remoteScreen {
    uint16_t cells[screenRows][screenCols] = {};   // low byte the character, high byte the attribute
    int cursorX = 0;
    int cursorY = 0;
    uint32_t screenId = 0;
    // Both as their bytes (code page 437); cp437Text shows them as UTF-8.
    std::string screenName;
    std::string server;   // the description of the server entry
};
