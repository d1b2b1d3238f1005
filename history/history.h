#pragma once
#include <array>
#include <cstdint>
#include <deque>
#include <map>
#include <string>

#include "screen/savefile.h"
#include "screen/screenfeed.h"
#include "screen/sessionaction.h"

using screenLine = std::array<uint16_t, screenCols>;

// What all the histories of the program may hold together, whatever the
// servers send: 64 MiB of lines, so many lines in all.
constexpr size_t historyBytesMax = size_t{64} << 20;
constexpr size_t historyLinesMax = historyBytesMax / sizeof(screenLine);

// A band of rows that moved up: rows top to bottom of the old screen now
// stand k rows higher, and rows top to top + k - 1 left it.
struct scrollBand {
    int top = 0;
    int bottom = 0;
    int k = 0;   // 0: no scroll
};

// The scroll that turns screen `before` into `after`, found by row hashes:
// a band that moved up by 1 to 24 rows, found by its own rows (at least two
// of them not blank), with at most a few rows above and below it that may
// change as they like. A redraw with unrelated content is no scroll, nor is
// a band that matches only on blank rows.
// Rows of the band below the last written row of `before` were blank: the
// output that scrolled may have filled them first, so they need not match.
// A band known from an earlier scroll bounds the fixed rows: the band may
// grow back to the screen's edges, not shrink (maxTop, minBottom).
struct rowPrints {
    uint64_t hash[screenRows];
    bool blank[screenRows];   // only spaces (in any colour) or nothing
};
scrollBand findScroll(const rowPrints& before, const rowPrints& after, int maxTop = 3, int minBottom = screenRows - 4);
uint64_t rowHash(const uint16_t (&row)[screenCols]);
bool blankRow(const uint16_t (&row)[screenCols]);

// The lines that scrolled off each server screen, oldest first, kept per
// screen id up to a limit of lines (0: none kept), and all of them together
// up to a total: past it, the screen that holds the most lines gives up its
// oldest, so that a busy screen cannot empty a quiet one.
class screenHistory : public screenWatcher {
public:
    // lines: kept per screen (--history=N), at most historyLinesMax.
    explicit screenHistory(screenFeed& feed, size_t lines = 10000);
    ~screenHistory() override;
    screenHistory(const screenHistory&) = delete;
    screenHistory& operator=(const screenHistory&) = delete;

    void setLimit(size_t lines) { limit_ = lines; }
    bool off() const { return limit_ == 0; }
    void setTotal(size_t lines) { total_ = lines; }
    // The history of the screen shown now.
    const std::deque<screenLine>& lines() const;
    // How many lines the current screen's history has dropped at its top
    // since it began (a view keeps its place by it).
    uint64_t dropped() const;
    // Bytes held by all the histories.
    size_t bytes() const;

    void sessionStarted(const remoteScreen& screen, bool resumed) override;
    void rowsChanged(const remoteScreen& screen, const bool (&rows)[screenRows]) override;
    void screenShown(const remoteScreen& screen) override;

private:
    // A screen recently shown, and its row hashes: a scroll may reach us
    // split over several updates, so a new screen is compared with a few of
    // those since the last scroll.
    struct snapshot {
        uint16_t cells[screenRows][screenCols];
        rowPrints prints;
    };
    struct kept {
        std::deque<screenLine> lines;
        uint64_t dropped = 0;
        uint64_t used = 0;   // when it was last shown, to drop the oldest
    };
    static constexpr int recentMax = 4;
    static constexpr size_t screensMax = 32;

    screenFeed& feed_;
    size_t limit_ = 10000;
    size_t total_ = historyLinesMax;
    size_t held_ = 0;   // lines in all the screens
    std::map<uint32_t, kept> screens_;
    uint32_t current_ = 0;
    uint64_t clock_ = 0;
    snapshot recent_[recentMax];
    int recentCount_ = 0;
    rowPrints prints_{};   // of the screen as it stands
    // The band of the last scroll, and the updates since (it is forgotten
    // after a while, when the program may have set another).
    int bandTop_ = 3;
    int bandBottom_ = screenRows - 4;
    int sinceScroll_ = 0;
    // The screen the last scroll started from, and its move.
    rowPrints lastSource_{};
    int lastMove_ = 0;
    void forgetBand() {
        lastMove_ = 0;
        bandTop_ = 3;
        bandBottom_ = screenRows - 4;
        sinceScroll_ = 0;
        recentCount_ = 0;
    }

    kept& currentKept();
    void dropOldest(kept& k);
    void remember(const remoteScreen& screen);
};

// The session menu's "Scroll back" and its shortcut (Alt+F7: the key after
// the session's own): the history view over the session's screen.
class historyViewAction : public sessionAction {
public:
    historyViewAction(const screenHistory& history, const screenFeed& feed) : history_(history), feed_(feed) {}
    std::string menuText() const override { return "Scroll back"; }
    bool takesKey(const KEY_EVENT_RECORD& key) const override;
    after run(sessionControl& session) override;

private:
    const screenHistory& history_;
    const screenFeed& feed_;
};

// "Save history to file": the history of the screen shown and the screen
// itself, as text, in the folder of saved screens:
// <server>-<screen id>-<time>-history.txt, written off the session.
class historySaveAction : public sessionAction {
public:
    historySaveAction(const screenHistory& history, const screenFeed& feed, const saveTarget& target)
        : history_(history), feed_(feed), target_(target) {}
    std::string menuText() const override { return "Save history to file"; }
    after run(sessionControl& session) override;

private:
    const screenHistory& history_;
    const screenFeed& feed_;
    const saveTarget& target_;
};
