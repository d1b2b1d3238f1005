// The history of each screen against screens that scroll as a real terminal's
// do: random text, random moves, a few fixed rows above and below, and
// updates that reach the client in pieces.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "screen/screenfeed.h"
#include "history/history.h"

namespace {

struct terminalModel {
    std::vector<std::string> lines;   // every line ever printed in the band, in order
    int fixedTop = 0, fixedBottom = 0;
    uint16_t cells[screenRows][screenCols] = {};
    int printed = 0;

    static void put(uint16_t (&row)[screenCols], const std::string& text, uint16_t attr) {
        for (int c = 0; c < screenCols; ++c)
            row[c] = static_cast<uint16_t>((c < static_cast<int>(text.size()) ? text[c] : ' ') | attr << 8);
    }
    // Prints n lines at the bottom of the band, scrolling it up.
    void print(int n, std::mt19937& rng) {
        const int top = fixedTop, bottom = screenRows - 1 - fixedBottom;
        for (int i = 0; i < n; ++i) {
            for (int r = top; r < bottom; ++r) std::memcpy(cells[r], cells[r + 1], sizeof cells[r]);
            // Now and then a blank (not two in a row: a band needs two
            // rows with something on them) or a repeated line, as logs have them.
            const unsigned kind = rng() % 10;
            const bool blank = kind == 0 && !lines.empty() && !lines.back().empty();
            std::string text = blank ? "" : kind == 1 ? "=====" : "line " + std::to_string(++printed) + " " +
                                                                    std::to_string(rng() % 100000);
            put(cells[bottom], text, static_cast<uint16_t>(1 + rng() % 15));
            lines.push_back(text);
        }
    }
};

std::string text(const uint16_t* cells) {
    std::string s;
    for (int c = 0; c < screenCols; ++c) s += static_cast<char>(cells[c] & 0xFF);
    return s.substr(0, s.find_last_not_of(' ') + 1);
}

void paint(screenFeed& feed, const uint16_t (&cells)[screenRows][screenCols], int from, int to) {
    bool rows[screenRows] = {};
    for (int r = from; r < to; ++r) rows[r] = true;
    // The feed takes the rows it is told of from a cell screen that holds
    // the rest as before.
    static uint16_t shown[screenRows][screenCols];
    for (int r = from; r < to; ++r) std::memcpy(shown[r], cells[r], sizeof shown[r]);
    feed.painted(shown, rows, 0, 0);
}

// Random output of 1 to 60 lines, with 0 to 2 fixed rows at top and bottom,
// reaching the client as one update or as several (each a scroll that
// leaves a few rows of the band in sight): the history must hold exactly
// the lines that left the band, in order. Each row a way servers paint:
// with a clock in the first and last rows, a scroll's top rows first.
const struct paintCase {
    const char* name;
    bool clock, split;
} paintCases[] = {{"fixed rows", false, false}, {"a clock", true, false}, {"split", false, true}, {"both", true, true}};

TEST(ScreenHistory, KeepsExactlyTheLinesThatScrolledOff) {
    for (const paintCase& pc : paintCases)
    for (unsigned seed = 1; seed <= 40; ++seed) {
        std::mt19937 rng(seed);
        screenFeed feed;
        screenHistory history(feed);
        terminalModel t;
        t.fixedTop = static_cast<int>(rng() % 3) + pc.clock;
        t.fixedBottom = static_cast<int>(rng() % 3) + pc.clock;
        for (int r = 0; r < t.fixedTop; ++r) terminalModel::put(t.cells[r], "TITLE " + std::to_string(r), 0x1F);
        for (int r = screenRows - t.fixedBottom; r < screenRows; ++r)
            terminalModel::put(t.cells[r], "STATUS " + std::to_string(r), 0x70);
        int tick = 0;
        const auto update = [&](int from, int to) {
            if (pc.clock) {
                terminalModel::put(t.cells[0], "UP " + std::to_string(++tick), 0x1F);
                terminalModel::put(t.cells[screenRows - 1], "12:00:" + std::to_string(tick), 0x70);
                paint(feed, t.cells, 0, 1);
                paint(feed, t.cells, screenRows - 1, screenRows);
            }
            paint(feed, t.cells, from, to);
        };
        const int band = screenRows - t.fixedTop - t.fixedBottom;
        feed.started("test", false);
        t.print(band, rng);   // a full band before the first update
        paint(feed, t.cells, 0, screenRows);
        const size_t before = t.lines.size() - static_cast<size_t>(band);
        for (int output = 0; output < 40; ++output) {
            for (int left = 1 + static_cast<int>(rng() % 60); left > 0;) {
                // At least five rows of the band stay in sight, as a server
                // that keeps up shows them.
                const int step = std::min(left, 1 + static_cast<int>(rng() % (band - 5)));
                t.print(step, rng);
                if (pc.split) update(0, t.fixedTop + 1 + static_cast<int>(rng() % step));
                update(0, screenRows);
                left -= step;
            }
        }
        // Every line printed and no longer in the band, from the first
        // that left it.
        const size_t left = t.lines.size() - static_cast<size_t>(band);
        ASSERT_EQ(history.lines().size(), left - before) << pc.name << " seed " << seed;
        for (size_t i = 0; i < history.lines().size(); ++i)
            ASSERT_EQ(text(history.lines()[i].data()), t.lines[before + i]) << pc.name << " seed " << seed << " line " << i;
    }
}

// A redraw with unrelated content, a blank screen, and a limit: nothing is
// added that did not scroll, and the limit holds.
TEST(ScreenHistory, UnrelatedRedrawsAddNothingAndTheLimitHolds) {
    std::mt19937 rng(9);
    screenFeed feed;
    screenHistory history(feed);
    feed.started("test", false);
    history.setLimit(30);
    terminalModel t;
    for (int i = 0; i < 40; ++i) {
        t.print(25, rng);   // a whole new screen each time: no line in common
        paint(feed, t.cells, 0, screenRows);
        terminalModel::put(t.cells[screenRows - 1], "12:00:" + std::to_string(i), 0x70);
        paint(feed, t.cells, screenRows - 1, screenRows);   // and a clock that ticks
    }
    EXPECT_EQ(history.lines().size(), 0u);
    uint16_t blank[screenRows][screenCols] = {};
    paint(feed, blank, 0, screenRows);
    paint(feed, blank, 0, screenRows);
    EXPECT_EQ(history.lines().size(), 0u);
    for (int i = 0; i < 20; ++i) {
        t.print(3, rng);
        paint(feed, t.cells, 0, screenRows);
    }
    EXPECT_EQ(history.lines().size(), 30u);
    EXPECT_EQ(history.dropped(), 60u - 30u);
    EXPECT_LE(history.bytes(), 30 * sizeof(screenLine));
}

// Past the total of all screens, the screen that holds the most lines gives
// up its oldest: a busy screen cannot empty a quiet one.
TEST(ScreenHistory, TheFullestScreenGivesUpLinesFirst) {
    std::mt19937 rng(5);
    screenFeed feed;
    screenHistory history(feed);
    feed.started("test", false);
    history.setTotal(100);
    terminalModel quiet, busy;
    const auto scroll = [&](uint32_t id, terminalModel& t, int updates) {
        feed.shown(id, "");
        for (int i = 0; i <= updates; ++i) {
            t.print(3, rng);
            paint(feed, t.cells, 0, screenRows);
        }
    };
    scroll(1, quiet, 10);
    scroll(2, busy, 50);
    EXPECT_EQ(history.lines().size(), 70u);
    EXPECT_EQ(text(history.lines().back().data()), busy.lines[busy.lines.size() - screenRows - 1]);
    scroll(1, quiet, 0);
    EXPECT_EQ(history.lines().size(), 30u);
}

}  // namespace
