#pragma once
#include <chrono>
#include <string>
#include <utility>
#include <vector>

#include "batch/output.h"
#include "batch/script.h"
#include "screen/screenfeed.h"

class scriptTerminal;
class sessionControl;

// Runs the script's commands against the session's screen as it changes.
// It watches the feed (every change and the session loop's ticks) and acts
// through the session's control: its keys go as typed keys, which the
// session handles as the operator's. When the script is done or fails, it
// ends the session and keeps the exit status.
class batchRunner : public screenWatcher {
public:
    batchRunner(screenFeed& feed, sessionControl& session, const scriptTerminal& term,
                const std::vector<scriptCommand>& commands, batchOutput& out);
    ~batchRunner() override;
    batchRunner(const batchRunner&) = delete;
    batchRunner& operator=(const batchRunner&) = delete;

    // What runtime errors name (FILE:LINE:) and what saved files' names say.
    void describeRun(std::string scriptName, saveNaming naming) {
        scriptName_ = std::move(scriptName);
        naming_ = std::move(naming);
    }

    // Ends the run at `at` with `code`, and `why` said, whatever it is
    // doing then.
    void endAt(std::chrono::steady_clock::time_point at, int code, std::string why) {
        endAt_ = at;
        endCode_ = code;
        endWhy_ = std::move(why);
    }

    bool finished() const { return finished_; }
    int exitCode() const { return code_; }
    const std::string& message() const { return message_; }

    void rowsChanged(const remoteScreen&, const bool (&)[screenRows]) override { changed(); }
    void cursorMoved(const remoteScreen&) override { changed(); }
    void screenShown(const remoteScreen& screen) override;
    void tick() override {
        noteKeysTaken();
        step();
    }
    // The next timer: the run's end, or the command's (its timeout, the
    // end of a still wait, the next key at the script's pace).
    long long dueInMs() const override;

private:
    using Clock = std::chrono::steady_clock;
    screenFeed& feed_;
    sessionControl& session_;
    const scriptTerminal& term_;
    const std::vector<scriptCommand>& commands_;
    batchOutput& out_;
    size_t next_ = 0;            // the command running
    bool begun_ = false;         // whether it has begun
    Clock::time_point begunAt_{};
    unsigned long long seq_ = 0;        // changes of the screen so far
    unsigned long long seqBefore_ = 0;  // ... when the previous command ended
    // Keys given to the session that it has not all taken yet, and the
    // changes so far when it took the last.
    bool keysOut_ = false;
    unsigned long long seqAtLastKey_ = 0;
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
    std::string scriptName_;
    saveNaming naming_;
    Clock::time_point endAt_ = Clock::time_point::max();
    int endCode_ = 0;
    std::string endWhy_;
    size_t goTo_ = 0;                  // the command after this one, when not the next
    std::vector<std::pair<const char*, std::string>> said_;   // what its command event adds

    void changed();
    void noteKeysTaken();
    Clock::time_point commandDueAt() const;   // max when none
    void step();
    bool advance(const scriptCommand& c);   // true when the command is done
    bool timedOut(const scriptCommand& c) const;
    bool keysDone(const scriptCommand& c);
    void typeKey(const INPUT_RECORD& key);
    bool selectScreen(const scriptCommand& c);
    const std::string& shown();
    std::string shownRow(int row);
    bool found(const screenPattern& what, int row, std::string* first = nullptr);
    bool onScreen(const scriptCommand& c);
    size_t alternativeShown(const scriptCommand& c);
    void printFound(const scriptCommand& c);
    std::string where(const scriptCommand& c) const;
    void saveScreen(const scriptCommand& c);
    void finish(int code, const std::string& message, bool withScreen = false);
};
