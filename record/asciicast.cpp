#include "record/asciicast.h"

#include <cerrno>
#include <cstring>
#include <ctime>

#include "console/cp437.h"
#include "screen/asciicast.h"
#include "screen/formats.h"
#include "screen/json.h"
#include "screen/sessioncontrol.h"

castRecorder::castRecorder(screenFeed& feed, const saveTarget& target, recordOptions options)
    : feed_(feed), target_(target), options_(options) {
    feed_.subscribe(this);
}

// What was recorded is written whole before the program goes on.
castRecorder::~castRecorder() {
    feed_.unsubscribe(this);
    close();
}

std::string castRecorder::headerLine(const std::string& server, long long timestamp) {
    return castHeader(server, timestamp);
}

std::string castRecorder::drawChanges(terminalState& shown, const remoteScreen& to, const bool* rows) {
    return castDrawChanges(shown, to, rows);
}

std::string castRecorder::open(const remoteScreen& screen) {
    close();
    if (closing_.size() >= 4) return "Not recording: the disk has not yet taken the recordings before";
    std::string error;
    newFiles files;
    const std::time_t now = std::time(nullptr);
    if (!files.createSaved(target_, savedFileBase(screen.server, now), {".cast"}, error)) return "Not recording: " + error;
    // The file is ours from here; newFiles would remove it on leaving.
    file_ = std::make_unique<queuedFile>(files.file(0), unwrittenLimit);
    path_ = files.path() + ".cast";
    files.release();
    started_ = Clock::now();
    drawn_ = false;
    written_ = 0;
    shown_ = terminalState{};
    const std::string why = write(headerLine(screen.server, static_cast<long long>(now)) + "\n");
    if (!why.empty()) {
        close();
        return "Not recording" + why;
    }
    if (screen.screenId) screenShown(screen);
    if (feed_.live()) drawAll(screen);
    return "Recording to " + path_;
}

// The writer goes on with what it has queued, without holding the session up.
void castRecorder::close() {
    if (!file_) return;
    file_->finish();
    closing_.push_back(std::move(file_));
}

// One whole line or none, so that a file cut at the limit still plays;
// "" when written, else why not.
std::string castRecorder::write(const std::string& line) {
    if (written_ + static_cast<long long>(line.size()) > options_.limitMb * 1000000LL)
        return " at " + std::to_string(options_.limitMb) + " MB (--record-limit): " + path_;
    if (const int error = file_->failure()) return ": cannot write " + path_ + ": " + std::strerror(error);
    if (!file_->write(line))
        return ": the disk fell " + std::to_string(file_->capacity() / 1000000) + " MB behind: " + path_;
    written_ += static_cast<long long>(line.size());
    return "";
}

void castRecorder::event(const char* type, const std::string& data) {
    if (!file_) return;
    const double at = std::chrono::duration<double>(Clock::now() - started_).count();
    char time[32];
    std::snprintf(time, sizeof time, "[%.6f, \"%s\", ", at, type);
    std::string line = time;
    line += jsonString(data);
    line += "]\n";
    const std::string why = write(line);
    if (!why.empty()) {
        // Said once; the recording ends, the session goes on.
        feed_.say("Recording stopped" + why);
        close();
    }
}

void castRecorder::drawAll(const remoteScreen& screen) {
    shown_ = terminalState{};
    event("o", "\x1b[0m\x1b[2J" + drawChanges(shown_, screen, nullptr));
    drawn_ = true;
}

std::string castRecorder::start() {
    if (file_) return "Recording to " + path_;
    return open(feed_.screen());
}

std::string castRecorder::stop() {
    if (!file_) return "Not recording";
    const std::string said = "Recording saved: " + path_;
    close();
    return said;
}

void castRecorder::sessionStarted(const remoteScreen& screen, bool resumed) {
    if (resumed && file_) return;   // the same recording goes on
    close();
    if (options_.everySession) {
        const std::string said = open(screen);
        if (!file_) feed_.say(said);
    }
}

void castRecorder::rowsChanged(const remoteScreen& screen, const bool (&rows)[screenRows]) {
    if (!file_) return;
    if (!drawn_) {
        drawAll(screen);
        return;
    }
    const std::string out = drawChanges(shown_, screen, rows);
    if (!out.empty()) event("o", out);
}

void castRecorder::cursorMoved(const remoteScreen& screen) { rowsChanged(screen, {}); }

std::string castRecorder::marker(const remoteScreen& screen) {
    return "screen " + std::to_string(screen.screenId) + ": " + cp437Text(screen.screenName);
}

void castRecorder::screenShown(const remoteScreen& screen) { event("m", marker(screen)); }

void castRecorder::sessionEnded(const remoteScreen&, const sessionEnding& how) {
    if (how.reason != endReason::linkLostRetrying) close();   // else kept open for the reconnection
}

// A failed write is said within a second, also while nothing is recorded.
void castRecorder::tick() {
    std::erase_if(closing_, [](const std::unique_ptr<queuedFile>& f) { return f->finished(); });
    if (!file_) return;
    if (const int error = file_->failure()) {
        feed_.say("Recording stopped: cannot write " + path_ + ": " + std::strerror(error));
        close();
    }
}

std::string recordAction::menuText() const { return recorder_.recording() ? "Record session: on" : "Record session: off"; }

sessionAction::after recordAction::run(sessionControl& session) {
    session.statusLine(recorder_.recording() ? recorder_.stop() : recorder_.start());
    return after::keepMenu;
}
