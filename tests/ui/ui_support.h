#pragma once
#define NCURSES_NOMACROS
#include <curses.h>
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "console/cutil.h"
#include "console/keyboard.h"
#include "console/keyboard_curses.h"
#include "console/term.h"

// A scripted terminal that also keeps a copy of the cell screen each time a
// key is asked for, so tests see what a modal control showed between keys.
class SnapTerminal : public MemoryTerminal {
public:
    std::vector<std::vector<uint16_t>> snaps;

    int readKey(int timeoutMs, INPUT_RECORD& record) override {
        snaps.emplace_back(&screenBuf[0][0], &screenBuf[0][0] + screenRows * screenCols);
        return MemoryTerminal::readKey(timeoutMs, record);
    }
    // Screen as it was when key number i was asked for (the last one is
    // what was left on screen when input ran out).
    const std::vector<uint16_t>& snap(size_t i) const { return snaps.at(i); }
    void keysOf(std::initializer_list<int> codes) {
        for (int c : codes) pushKey(c);
    }
};

// Installs the scripted terminal and the key map, starts from a blank screen.
class UiTest : public ::testing::Test {
protected:
    SnapTerminal term;

    void SetUp() override {
        setTerminal(&term);
        keyboardInputInit(nullptr);
        std::memset(screenBuf, 0, sizeof screenBuf);
    }
    void TearDown() override { setTerminal(nullptr); }

    static unsigned char chAt(int x, int y) { return screenBuf[y][x] & 0xFF; }
    static unsigned char attrAt(int x, int y) { return screenBuf[y][x] >> 8; }
    static unsigned char chAt(const std::vector<uint16_t>& s, int x, int y) {
        return s.at(static_cast<size_t>(y) * screenCols + x) & 0xFF;
    }
    static unsigned char attrAt(const std::vector<uint16_t>& s, int x, int y) {
        return s.at(static_cast<size_t>(y) * screenCols + x) >> 8;
    }
    // n characters of row y from column x.
    static std::string textAt(const std::vector<uint16_t>& s, int x, int y, int n) {
        std::string t;
        for (int i = 0; i < n; ++i) t.push_back(static_cast<char>(chAt(s, x + i, y)));
        return t;
    }
    static std::string textAt(int x, int y, int n) {
        std::string t;
        for (int i = 0; i < n; ++i) t.push_back(static_cast<char>(chAt(x + i, y)));
        return t;
    }
    // Fills the screen with a recognisable pattern.
    static void fillPattern() {
        for (int r = 0; r < screenRows; ++r)
            for (int c = 0; c < screenCols; ++c)
                screenBuf[r][c] = static_cast<uint16_t>(((r * 7 + c) % 64 + 0x21) | ((r + c) % 128) << 8);
    }
    static std::vector<uint16_t> screenCopy() {
        return {&screenBuf[0][0], &screenBuf[0][0] + screenRows * screenCols};
    }
    static KEY_EVENT_RECORD keyOf(int cursesCode) {
        INPUT_RECORD r{};
        makeKeyEvent(cursesCode, &r);
        return r.Event.KeyEvent;
    }
};
