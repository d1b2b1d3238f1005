#pragma once
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "wall/wallscreen.h"

// The console wall's state for its pages: the latest screen, name and state
// of every console, between the sessions' thread (which writes it) and the
// web server's threads (which read it), under one lock. Each viewer of the
// wall has a slot that records which consoles, and which of their rows,
// changed since it was last sent: a slow viewer gets the latest state, never
// a queue, and no session ever waits for a viewer.
//
// The stream a viewer gets (one JSON object a message, each one SSE "data:"
// line, since no text in it holds a control character):
//
//   {"f":1,"c":[CONSOLE,...]}   the first message of a stream: every console,
//                               all of it; the page drops what it had
//   {"c":[CONSOLE,...]}         then what changed, consoles that did not left out
//
//   CONSOLE = {"i":N, ...} with what changed of console N (0 to size()-1,
//   the N of the page console/N/):
//     "d":"TEXT"    its description                  (first message only)
//     "s":"STATE"   connecting, live, lost, refused, failed or ended
//     "w":MS        with "lost": the next attempt is MS ms from now
//     "e":"TEXT"    with "failed": the reason, in words
//     "n":"TEXT"    its screen's name
//     "l":"TEXT"    what its log folder says ("" when nothing is wrong)
//     "r":[[ROW,"TEXT",[ATTR,COUNT,...]],...]
//                   rows 0-24: TEXT the row's glyphs with blanks at its end
//                   left out, then runs of one attribute (bits 0-3 the
//                   foreground, 4-6 the background) covering the 80 cells
//     "a":MS        its screen last changed MS ms ago (with "r", and on
//                   the first message when it ever changed)
//
// Times go as durations from when the message was made, so the page needs
// no clock of ours. Names and descriptions are code page 437 glyphs.
//
// Integration: the wall program makes one hub with the consoles'
// descriptions; each session's watcher calls setRows / setName / setState
// (the feed's rows, screen shown, connecting and end events), and the log
// writer's notes go to setLogNote. The web server's stream handler does
// join / next / leave as share's stream does (a comment line when next
// gives ""), and counts the console pages' streams among the 16.
enum class wallState : uint8_t { connecting, live, linkLost, passwordRefused, failed, ended };

class wallHub {
public:
    using clock = std::chrono::steady_clock;
    static constexpr int maxViewers = 16;
    // Longest name, reason, note and description kept, in bytes.
    static constexpr size_t textMax = 256;

    // One console for each description, numbered in that order. now is the
    // clock (tests give their own).
    explicit wallHub(const std::vector<std::string>& descriptions,
                     std::function<clock::time_point()> now = clock::now);
    int size() const { return static_cast<int>(consoles_.size()); }

    // The sessions' side: quick, never waits for a viewer. A console out
    // of range is ignored. rows: bit r for row r; rows that did not really
    // change are not sent.
    void setRows(int console, const remoteScreen& screen, uint32_t rows = wallAllRows);
    void setName(int console, std::string_view name);
    // retryAt: with linkLost, when the next attempt starts; reason: with
    // failed, why (UTF-8).
    void setState(int console, wallState state, clock::time_point retryAt = {}, std::string_view reason = {});
    void setLogNote(int console, std::string_view note);

    // The web server's side, as shareHub's: a slot for a new viewer, whose
    // first message is the whole wall, or -1 when there are maxViewers.
    int join();
    // Waits at most wait for the slot to have something: true with the
    // message ("" when nothing came in that time), false when the viewer
    // must stop. A slot gets at most one message in 100 ms: what changes
    // meanwhile goes out together.
    bool next(int slot, std::string& message, std::chrono::milliseconds wait);
    void leave(int slot);
    void finish();
    int viewers();

    // A console's screen as it stands, for a search; false when out of range.
    bool copyScreen(int console, uint16_t (&cells)[screenRows][screenCols]);
    const std::string& description(int console) const { return consoles_.at(console).description; }

private:
    // What changed for a viewer: bits 0-24 the rows, then these.
    static constexpr uint32_t nameBit = 1u << 25, stateBit = 1u << 26, noteBit = 1u << 27, descriptionBit = 1u << 28;
    static constexpr uint32_t everything = wallAllRows | nameBit | stateBit | noteBit | descriptionBit;

    struct consoleState {
        std::string description;   // fixed at construction, read without the lock
        uint16_t cells[screenRows][screenCols] = {};
        std::string name, reason, note;
        wallState state = wallState::connecting;
        clock::time_point retryAt{}, changedAt{};
        bool changed = false;   // changedAt is known
        uint32_t dirty[maxViewers] = {};
    };
    // A console's part of a message, copied under the lock and written out
    // after it.
    struct part {
        int index;
        uint32_t what;
        const consoleState* from;   // its fixed description only
        uint16_t cells[screenRows][screenCols];
        std::string name, reason, note;
        wallState state;
        long long retryMs, ageMs;   // ageMs -1: never changed
    };

    std::function<clock::time_point()> now_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<consoleState> consoles_;
    bool used_[maxViewers] = {};
    bool full_[maxViewers] = {};   // the slot's next message is the first
    std::chrono::steady_clock::time_point sent_[maxViewers] = {};   // its last message
    bool finished_ = false;

    void mark(consoleState& c, uint32_t bits);
    static void write(std::string& out, const part& p);
};
