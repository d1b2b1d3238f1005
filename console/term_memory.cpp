#include <cstring>

#include "console/term.h"

void MemoryTerminal::putRow(int row, const uint16_t* cells) {
    if (row < 0 || row >= 25 || !cells) return;
    std::memcpy(shown[row], cells, sizeof shown[row]);
    ++rowPushes[row];
}

void MemoryTerminal::moveCursor(int x, int y) {
    cursorX = x;
    cursorY = y;
}

int MemoryTerminal::refresh() {
    ++refreshes;
    return 0;
}

// Serves the scripted keys in order; never sleeps.
int MemoryTerminal::readKey(int, int& keyCode) {
    keyCode = 0;
    if (keys.empty()) return goneWhenEmpty ? -1 : 0;
    keyCode = keys.front();
    keys.pop_front();
    return 1;
}

void MemoryTerminal::pushText(const std::string& text) {
    for (unsigned char c : text) keys.push_back(c);
}

std::string MemoryTerminal::rowText(int row) const {
    std::string text;
    if (row < 0 || row >= 25) return text;
    text.reserve(80);
    for (uint16_t cell : shown[row]) text.push_back(static_cast<char>(cell & 0xFF));
    return text;
}
