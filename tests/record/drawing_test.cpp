// The output of a recording, replayed: a terminal that showed one screen and
// takes what drawChanges wrote for the next shows the next, cells, colours
// and cursor, whichever rows are said to have changed.

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <random>
#include <string>
#include <string_view>

#include "console/cp437.h"
#include "record/asciicast.h"

namespace {

// Just what a recording uses of a terminal: cursor moves, erase, the
// colours after a reset, and UTF-8 glyphs written at the cursor.
struct replayTerminal {
    uint16_t cells[screenRows][screenCols] = {};
    int x = 0, y = 0;
    int attr = 0x07;

    void play(std::string_view out) {
        static const std::map<char32_t, unsigned char> codes = [] {
            std::map<char32_t, unsigned char> m;
            for (int c = 255; c >= 1; --c) m[cp437Unicode[c]] = static_cast<unsigned char>(c);
            return m;
        }();
        while (!out.empty()) {
            if (out[0] == '\x1b') {
                const size_t end = out.find_first_of("HJm");
                control(std::string(out.substr(2, end - 2)), out[end]);
                out.remove_prefix(end + 1);
                continue;
            }
            char32_t c = 0;
            const size_t n = utf8Next(out, c);
            ASSERT_GT(n, 0u);
            ASSERT_TRUE(x < screenCols && y < screenRows) << "written past the screen";
            cells[y][x++] = static_cast<uint16_t>(codes.at(c) | attr << 8);
            out.remove_prefix(n);
        }
    }
    void control(const std::string& args, char final) {
        if (final == 'J') return;
        int a = 0, b = 0, c = 0;
        if (final == 'H') {
            std::sscanf(args.c_str(), "%d;%d", &a, &b);
            y = a - 1;
            x = b - 1;
        } else if (std::sscanf(args.c_str(), "0;%d;%d", &a, &c) == 2) {
            // ANSI colour numbers are PC ones with bits 0 and 2 swapped.
            const auto pc = [](int ansi) { return (ansi & 2) | ((ansi & 1) << 2) | ((ansi & 4) >> 2); };
            const int fg = a >= 90 ? 8 | pc(a - 90) : pc(a - 30);
            attr = fg | pc(c - 40) << 4;
        }
    }
};

// A screen of random glyphs (no 0, which shows as a blank) in random
// colours without blink.
void randomScreen(remoteScreen& s, std::mt19937& rng) {
    for (auto& row : s.cells)
        for (uint16_t& cell : row) cell = static_cast<uint16_t>((1 + rng() % 255) | (rng() % 128) << 8);
    s.cursorX = static_cast<int>(rng() % screenCols);
    s.cursorY = static_cast<int>(rng() % screenRows);
}

}  // namespace

TEST(RecordingReplay, WhatIsDrawnBringsTheTerminalToTheNewScreen) {
    const struct {
        const char* what;
        int changes;   // cells changed per changed row; 0: a whole new screen
        bool allRows;  // drawn as every row (the start of a recording)
    } cases[] = {
        {"the whole screen, from nothing", 0, true},
        {"a few cells of some rows", 3, false},
        {"many cells of some rows", 40, false},
        {"a new screen, rows said to have changed", 0, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        std::mt19937 rng(7);
        for (int round = 0; round < 20; ++round) {
            remoteScreen before;
            randomScreen(before, rng);
            remoteScreen after = before;
            bool rows[screenRows] = {};
            for (int r = 0; r < screenRows; ++r) {
                rows[r] = c.allRows || rng() % 3 == 0;
                for (int i = 0; rows[r] && i < (c.changes ? c.changes : screenCols); ++i) {
                    const int col = c.changes ? static_cast<int>(rng() % screenCols) : i;
                    after.cells[r][col] = static_cast<uint16_t>((1 + rng() % 255) | (rng() % 128) << 8);
                }
            }
            after.cursorX = static_cast<int>(rng() % screenCols);
            after.cursorY = static_cast<int>(rng() % screenRows);
            replayTerminal term;
            castRecorder::terminalState shown;
            if (!c.allRows) {
                term.play(castRecorder::drawChanges(shown, before, nullptr));
                ASSERT_EQ(std::memcmp(term.cells, before.cells, sizeof term.cells), 0);
            }
            term.play(castRecorder::drawChanges(shown, after, c.allRows ? nullptr : rows));
            EXPECT_EQ(std::memcmp(term.cells, after.cells, sizeof term.cells), 0) << "round " << round;
            EXPECT_EQ(term.x, after.cursorX);
            EXPECT_EQ(term.y, after.cursorY);
        }
    }
}
