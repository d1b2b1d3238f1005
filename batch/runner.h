#pragma once
#include <chrono>
#include <string>
#include <vector>

#include "batch/output.h"
#include "batch/script.h"
#include "screen/screenfeed.h"
#include "console/term.h"

class consoleMain;

// The terminal of a batch run: nothing is shown, keys come from the script.
// A dialog that waits for a key finds none and reads the terminal as gone;
// that it asked is remembered, for the run ends with an error then.
class batchTerminal : public MemoryTerminal {
public:
    batchTerminal() { goneWhenEmpty = false; }
    bool dialogAsked = false;
    // The count of screen changes (seq) as the session took the last key.
    const unsigned long long* seq = nullptr;
    unsigned long long seqAtLastKey = 0;
    int readKey(int timeoutMs, INPUT_RECORD& record) override;
    bool utf8Keys() const override { return true; }
};

// Runs the script's commands against the session's screen as it changes.
// It watches the feed (every change and the session loop's ticks) and types
// by queuing key events on the batch terminal, so that the session handles
// them as typed keys. When the script is done or fails, it queues the
// session's end key and keeps the exit status.
class batchRunner : public screenWatcher {
public:
    batchRunner(consoleMain& app, batchTerminal& term, const std::vector<scriptCommand>& commands, batchOutput& out);
    ~batchRunner() override;
    batchRunner(const batchRunner&) = delete;
    batchRunner& operator=(const batchRunner&) = delete;

    bool finished() const { return finished_; }
    int exitCode() const { return code_; }
    const std::string& message() const { return message_; }

    void rowsChanged(const remoteScreen&, const bool (&)[screenRows]) override { changed(); }
    void cursorMoved(const remoteScreen&) override { changed(); }
    void screenShown(const remoteScreen& screen) override;
    void tick() override { step(); }

private:
    using Clock = std::chrono::steady_clock;
    consoleMain& app_;
    batchTerminal& term_;
    const std::vector<scriptCommand>& commands_;
    batchOutput& out_;
    size_t next_ = 0;            // the command running
    bool begun_ = false;         // whether it has begun
    Clock::time_point begunAt_{};
    unsigned long long seq_ = 0;        // changes of the screen so far
    unsigned long long seqBefore_ = 0;  // ... when the previous command ended
    Clock::time_point lastChange_ = Clock::now();
    size_t keysQueued_ = 0;
    Clock::time_point nextKeyAt_{};
    long long pace_ = 0;
    uint32_t wantedScreen_ = 0;
    bool finished_ = false;
    int code_ = 0;
    std::string message_;
    std::string shownCache_;
    unsigned long long cacheSeq_ = ~0ull;

    void changed();
    void step();
    bool advance(const scriptCommand& c);   // true when the command is done
    bool timedOut(const scriptCommand& c) const;
    bool keysDone(const scriptCommand& c);
    bool selectScreen(const scriptCommand& c);
    const std::string& shown();
    std::string shownRow(int row);
    bool onScreen(const scriptCommand& c);
    void saveScreen(const scriptCommand& c);
    void finish(int code, const std::string& message, bool withScreen = false);
};
