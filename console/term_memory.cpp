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
// An empty record stands for a key code of 0, which is read but not reported.
int MemoryTerminal::readKey(int, INPUT_RECORD& record) {
    if (keys.empty()) return goneWhenEmpty ? -1 : 0;
    const INPUT_RECORD next = keys.front();
    keys.pop_front();
    if (next.EventType == 0) return 0;
    record = next;
    return 1;
}

void MemoryTerminal::pushKey(int code) {
    INPUT_RECORD record{};
    if (code > 0) makeKeyEvent(code, &record);
    keys.push_back(record);
}

void MemoryTerminal::pushText(const std::string& text) {
    for (unsigned char c : text) pushKey(c);
}

std::string MemoryTerminal::rowText(int row) const {
    std::string text;
    if (row < 0 || row >= 25) return text;
    text.reserve(80);
    for (uint16_t cell : shown[row]) text.push_back(static_cast<char>(cell & 0xFF));
    return text;
}
