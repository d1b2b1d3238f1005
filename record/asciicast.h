#pragma once
#include <chrono>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "record/queuedfile.h"

#include "screen/asciicast.h"
#include "screen/savefile.h"
#include "screen/screenfeed.h"
#include "screen/sessionaction.h"

// Records sessions as asciicast (version 2) files that terminal-recording
// players replay: a header line, then one event line per change of the
// remote screen, drawn with cursor moves, colours and UTF-8 glyphs. Keys are
// never recorded: they can be passwords.
struct recordOptions {
    bool everySession = false;   // --record: every session of the run is recorded
    long limitMb = 1000;         // --record-limit: a recording stops at this size (1 MB = 1,000,000 bytes)
};

class castRecorder : public screenWatcher {
public:
    // Bytes a recording may have waiting for the disk: past them it stops.
    static constexpr size_t unwrittenLimit = 4000000;

    castRecorder(screenFeed& feed, const saveTarget& target, recordOptions options);
    ~castRecorder() override;
    castRecorder(const castRecorder&) = delete;
    castRecorder& operator=(const castRecorder&) = delete;

    bool recording() const { return file_ != nullptr; }
    // Starts or stops recording the session that runs; what the status row
    // should say.
    std::string start();
    std::string stop();

    void sessionStarted(const remoteScreen& screen, bool resumed) override;
    void rowsChanged(const remoteScreen& screen, const bool (&rows)[screenRows]) override;
    void cursorMoved(const remoteScreen& screen) override;
    void screenShown(const remoteScreen& screen) override;
    void sessionEnded(const remoteScreen& screen, const sessionEnding& how) override;
    void tick() override;

    // The output that brings a terminal showing `shown` (cursor at
    // shownX, shownY; -1 unknown; colour attribute shownAttr, -1 unknown) to
    // the screen `to`, for the rows marked; every row when all. Updates the
    // shown state.
    using terminalState = castTerminal;
    static std::string drawChanges(terminalState& shown, const remoteScreen& to, const bool* rows);
    // The header line (without its newline), titled with the server's
    // description as shown.
    static std::string headerLine(const std::string& server, long long timestamp);
    // The text of the marker of a screen shown: its id and name as shown.
    static std::string marker(const remoteScreen& screen);

private:
    using Clock = std::chrono::steady_clock;
    screenFeed& feed_;
    const saveTarget& target_;
    const recordOptions options_;
    std::unique_ptr<queuedFile> file_;
    // Recordings that ended, still being written: a few at most.
    std::vector<std::unique_ptr<queuedFile>> closing_;
    std::string path_;
    Clock::time_point started_{};
    long long written_ = 0;   // bytes in the file, against the limit
    bool drawn_ = false;   // the whole screen has been drawn once
    terminalState shown_;

    std::string open(const remoteScreen& screen);
    void close();
    void event(const char* type, const std::string& data);
    std::string write(const std::string& line);
    void drawAll(const remoteScreen& screen);
};

// The session menu's "Record session: off/on", which starts or stops
// recording the session that runs; the menu stays, showing the new state.
class recordAction : public sessionAction {
public:
    explicit recordAction(castRecorder& recorder) : recorder_(recorder) {}
    std::string menuText() const override;
    after run(sessionControl& session) override;

private:
    castRecorder& recorder_;
};
