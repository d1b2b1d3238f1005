#pragma once
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "wall/wallcast.h"
#include "wall/wallscreen.h"

// --log-dir: every console of the wall kept on disk, under
// DIR/<safe description>/ (safeFileName; "-2", "-3", ... for a name taken),
// per local day:
//   YYYY-MM-DD.cast            the recording (asciicast v2): the whole screen
//                              first, then each change, screen switches as
//                              markers ("-2", "-3", ... when the wall starts
//                              again that day: a recording is never appended to)
//   YYYY-MM-DD-screen-ID.txt   the history of screen ID: lines as they
//                              scroll off, appended (past 64 screens a day,
//                              the others' lines in YYYY-MM-DD-screen-other.txt)
// Folders are made 0700 and files 0600; nothing in DIR is opened through a
// link. The files of a console hold at most limitBytes: the oldest days are
// removed first, and when today's files alone reach it the console's log
// stops until the next day, which note() says.
//
// The calls come from the sessions' thread and never wait for the disk:
// they queue what to write (at most bufferBytes a console) for a writer
// thread. A console whose queue is full loses what comes after, its note
// says so, and its recording takes up again with the whole screen and a
// marker once the writer has caught up.
//
// Integration: the wall program makes one wallLog for --log-dir (the limit
// from --log-limit=MB, 1,000,000 bytes a MB), add()s each console before
// its session starts, and drives it from each session's feed
// (sessionStarted / rowsChanged, cursor moves included / screenShown /
// sessionEnded) and from the history (linesScrolled, oldest first, with the
// screen id they left). noted() goes to wallHub::setLogNote. Each console
// holds up to three descriptors: its folder, its recording and the history
// file of the screen shown.
constexpr long long wallLogLimitMbDefault = 100;

struct wallLogOptions {
    std::string dir;
    long long limitBytes = wallLogLimitMbDefault * 1000000;
    size_t bufferBytes = 256 * 1024;
    // The clock that sets the days and the recordings' times.
    std::function<std::chrono::system_clock::time_point()> now = std::chrono::system_clock::now;
    // A console's note changed ("" when its log is fine again); called on
    // either thread, never under the log's lock.
    std::function<void(int console, const std::string& note)> noted;
};

class wallLog {
public:
    // The log in options.dir, which is made (0700) when missing; null, with
    // why in error, when it cannot be opened.
    static std::unique_ptr<wallLog> open(wallLogOptions options, std::string& error);
    // Writes what is queued, then closes every file.
    ~wallLog();
    wallLog(const wallLog&) = delete;
    wallLog& operator=(const wallLog&) = delete;

    // A console; its number for the calls below. Two consoles of one
    // description get "NAME", "NAME-2", ...
    int add(std::string_view description);
    // The folder of a console's files.
    std::string folder(int console) const;

    void sessionStarted(int console, const remoteScreen& screen, bool resumed);
    void rowsChanged(int console, const remoteScreen& screen, uint32_t rows);
    void screenShown(int console, const remoteScreen& screen);
    // count lines of 80 cells that scrolled off screen screenId, oldest first.
    void linesScrolled(int console, uint32_t screenId, const uint16_t (*lines)[screenCols], size_t count);
    void sessionEnded(int console, std::string_view why = "session ended");

    // What a console's tile should say of its log; "" when all is well.
    std::string note(int console);
    // Waits until everything queued so far is written.
    void flush();

private:
    using timePoint = std::chrono::system_clock::time_point;
    struct consoleLog;
    struct event {
        enum class kind : uint8_t { started, resumed, resync, changed, shown, scrolled, ended };
        event(consoleLog* c, kind k, timePoint t) : to(c), what(k), at(t) {}
        consoleLog* to;
        kind what;
        timePoint at;
        uint32_t rows = 0;   // changed: the mask; scrolled: how many lines
        int x = 0, y = 0;
        uint32_t screenId = 0;
        std::string text;    // the screen's name, or why it ended
        std::vector<uint16_t> cells;   // the rows in the mask, or the lines
        size_t cost() const { return sizeof(event) + text.size() + cells.size() * sizeof(uint16_t); }
    };
    // One console. The first part is the sessions' side, under mutex_; the
    // rest only the writer thread touches.
    struct consoleLog {
        int index = 0;
        std::string description, name;
        size_t pending = 0;        // bytes queued
        bool paused = false;       // the queue was full
        std::string writerNote;    // what the writer says (a limit, an error), from diskNote
        std::string said;          // the note as last told

        int dir = -1, cast = -1, txt = -1;
        std::string day;           // of the files open or to open
        std::string castName, txtName;
        std::set<uint32_t> screens;   // with a history file today
        timePoint castStart{};
        double lastSeconds = 0;
        std::map<std::string, long long> days;   // bytes a day on disk
        long long total = 0;
        bool stopped = false;      // for the rest of the day
        std::string diskNote;      // why
        bool drawn = false;        // the recording holds the whole screen
        bool live = false;
        remoteScreen model;
        wallTerminal shown;
    };

    explicit wallLog(wallLogOptions options, int root);
    consoleLog* find(int index);
    void push(consoleLog& c, event e, const remoteScreen* screen);
    std::string noteOf(const consoleLog& c) const;
    void tell(std::vector<std::pair<int, std::string>>& notes);
    void run();

    // The writer thread's part (walllog.cpp).
    void apply(consoleLog& c, const event& e);
    void newDay(consoleLog& c, const std::string& day);
    bool openFolder(consoleLog& c);
    bool openCast(consoleLog& c, timePoint at);
    void record(consoleLog& c, timePoint at, char type, const std::string& data);
    void drawAll(consoleLog& c, timePoint at);
    void history(consoleLog& c, const event& e);
    bool put(consoleLog& c, int fd, const std::string& name, const std::string& data);
    bool removeOldestDay(consoleLog& c);
    void stop(consoleLog& c, std::string why);
    const std::string& dayOf(timePoint at);
    std::string path(const consoleLog& c, const std::string& file) const;

    wallLogOptions options_;
    int root_;
    mutable std::mutex mutex_;
    std::condition_variable queued_, idle_;
    std::deque<event> queue_;
    std::deque<consoleLog> consoles_;
    bool busy_ = false, stopping_ = false;
    // The local day the writer last worked out, and when it begins and ends.
    std::string day_;
    timePoint dayFrom_{}, dayTo_{};
    std::thread writer_;
};
