#include "batch/runner.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "batch/scriptterminal.h"
#include "screen/formats.h"
#include "screen/json.h"
#include "screen/savefile.h"
#include "screen/sessioncontrol.h"

namespace {

// Keys queued ahead of the session at most: the rest wait for room.
constexpr size_t keysAhead = 64;

}  // namespace

batchRunner::batchRunner(screenFeed& feed, sessionControl& session, const scriptTerminal& term,
                         const std::vector<scriptCommand>& commands, batchOutput& out)
    : feed_(feed), session_(session), term_(term), commands_(commands), out_(out) {
    feed_.subscribe(this);
}

batchRunner::~batchRunner() { feed_.unsubscribe(this); }

// The session takes keys between changes: when it has taken the last one
// given, the screen as it stands is the one before their answer.
void batchRunner::noteKeysTaken() {
    if (!keysOut_ || session_.keysQueued() > 0) return;
    keysOut_ = false;
    seqAtLastKey_ = seq_;
}

void batchRunner::changed() {
    noteKeysTaken();
    ++seq_;
    lastChange_ = Clock::now();
    step();
}

void batchRunner::screenShown(const remoteScreen& screen) {
    out_.event("screen", {{"id", std::to_string(screen.screenId)}, {"name", jsonGlyphs(screen.screenName)}});
    changed();
}

const std::string& batchRunner::shown() {
    if (cacheSeq_ != seq_) {
        shownCache_ = screenText(feed_.screen());
        cacheSeq_ = seq_;
    }
    return shownCache_;
}

std::string batchRunner::shownRow(int row) {
    const std::string& all = shown();
    size_t at = 0;
    for (int r = 0; r < row && at != std::string::npos; ++r) {
        at = all.find('\n', at);
        if (at != std::string::npos) ++at;
    }
    if (at == std::string::npos) return "";
    return all.substr(at, all.find('\n', at) - at);
}

// A regular expression is tried on each row, so that ^ and $ are a row's
// ends (rows without their trailing blanks); first takes what it found in
// the first row where it matches.
bool batchRunner::found(const screenPattern& what, int row, std::string* first) {
    if (row >= 0) return first ? scriptRegexFirst(*what.regex, shownRow(row), *first) : what.foundIn(shownRow(row));
    if (!what.regex) return what.foundIn(shown());
    for (int r = 0; r < screenRows; ++r)
        if (first ? scriptRegexFirst(*what.regex, shownRow(r), *first) : what.foundIn(shownRow(r))) return true;
    return false;
}

bool batchRunner::onScreen(const scriptCommand& c) { return found(c.what, c.row); }

// Which of a wait's patterns the screen shows, from 1; 0 none.
size_t batchRunner::alternativeShown(const scriptCommand& c) {
    if (found(c.what, c.row)) return 1;
    for (size_t i = 0; i < c.orElse.size(); ++i)
        if (found(c.orElse[i], c.row)) return i + 2;
    return 0;
}

// One line: what the pattern found (empty when nothing), or the row.
void batchRunner::printFound(const scriptCommand& c) {
    std::string text;
    if (!c.what.regex) text = shownRow(c.row);
    else found(c.what, c.row, &text);
    out_.say(text, "print");
}

std::string batchRunner::where(const scriptCommand& c) const {
    return (scriptName_.empty() ? std::string("line ") : scriptName_ + ":") + std::to_string(c.line) + ": ";
}

bool batchRunner::timedOut(const scriptCommand& c) const { return Clock::now() - begunAt_ >= std::chrono::milliseconds(c.timeoutMs); }

batchRunner::Clock::time_point batchRunner::commandDueAt() const {
    if (!begun_ || next_ >= commands_.size()) return Clock::time_point::max();
    const scriptCommand& c = commands_[next_];
    switch (c.kind) {
    case cmdKind::wait:
    case cmdKind::waitGone:
    case cmdKind::screen:
        return begunAt_ + std::chrono::milliseconds(c.timeoutMs);
    case cmdKind::waitStill:
        return std::min(begunAt_ + std::chrono::milliseconds(c.timeoutMs),
                        std::max(lastChange_, begunAt_) + std::chrono::milliseconds(c.ms));
    case cmdKind::key:
    case cmdKind::type:
        if (pace_ > 0 && keysQueued_ < c.keys.size() && session_.keysQueued() == 0) return nextKeyAt_;
        return Clock::time_point::max();
    default:
        return Clock::time_point::max();
    }
}

long long batchRunner::dueInMs() const {
    if (finished_) return -1;
    const Clock::time_point due = std::min(endAt_, commandDueAt());
    if (due == Clock::time_point::max()) return -1;
    // Rounded up: a wait that ends a little early would only wake once more.
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(due - Clock::now()).count();
    return left > 0 ? left : 0;
}

void batchRunner::step() {
    while (!finished_) {
        if (Clock::now() >= endAt_) return finish(endCode_, endWhy_);
        if (term_.dialogAsked) return finish(2, "a dialog asked for an answer, which batch mode cannot give");
        if (next_ >= commands_.size()) return finish(0, "");
        const scriptCommand& c = commands_[next_];
        if (!begun_) {
            begun_ = true;
            begunAt_ = Clock::now();
            keysQueued_ = 0;
            wantedScreen_ = 0;
        }
        said_.clear();
        goTo_ = 0;
        if (!advance(c)) return;
        if (finished_) return;
        const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - begunAt_).count();
        said_.insert(said_.begin(), {{"line", std::to_string(c.line)}, {"command", jsonString(commandName(c.kind))},
                                     {"result", "\"ok\""}, {"ms", std::to_string(took)}});
        out_.event("command", said_);
        // After keys, what the screen showed once the session had taken the
        // last one is the old screen: changes since may be their answer.
        const bool keys = c.kind == cmdKind::key || c.kind == cmdKind::type || c.kind == cmdKind::send;
        seqBefore_ = keys ? seqAtLastKey_ : seq_;
        begun_ = false;
        next_ = goTo_ ? goTo_ : next_ + 1;
    }
}

bool batchRunner::advance(const scriptCommand& c) {
    const bool live = feed_.live();
    switch (c.kind) {
    case cmdKind::wait:
        if (!live || (!c.now && seq_ <= seqBefore_)) break;
        if (const size_t shown = alternativeShown(c)) {
            said_.emplace_back("matched", std::to_string(shown));
            return true;
        }
        break;
    case cmdKind::waitGone:
        if (live && !onScreen(c)) return true;
        break;
    case cmdKind::waitStill:
        if (live && Clock::now() - std::max(lastChange_, begunAt_) >= std::chrono::milliseconds(c.ms)) return true;
        break;
    case cmdKind::key:
    case cmdKind::type:
    case cmdKind::send:
        return live && keysDone(c);
    case cmdKind::pace:
        pace_ = c.ms;
        return true;
    case cmdKind::screen:
        if (live && selectScreen(c)) return true;
        if (finished_) return false;
        break;
    case cmdKind::save:
        if (!live) return false;
        saveScreen(c);
        return !finished_;
    case cmdKind::echo:
        out_.say(c.text);
        return true;
    case cmdKind::exit:
        finish(c.code, "");
        return false;
    case cmdKind::expect:
        if (!live) return false;
        if (onScreen(c)) return true;
        finish(c.code, where(c) + c.text);
        return false;
    case cmdKind::print:
        if (!live) return false;
        printFound(c);
        return true;
    case cmdKind::ifScreen: {
        if (!live) return false;
        const bool shown = onScreen(c);
        if (!shown) goTo_ = c.jump;
        said_.emplace_back("branch", shown ? "\"if\"" : "\"else\"");
        return true;
    }
    case cmdKind::jump:
        goTo_ = c.jump;
        return true;
    }
    if (timedOut(c)) {
        std::string what = commandName(c.kind);
        if (c.kind == cmdKind::wait || c.kind == cmdKind::waitGone)
            what += c.what.regex ? " /" + c.what.text + "/" : " \"" + c.what.text + "\"";
        for (const screenPattern& p : c.orElse) what += p.regex ? " or /" + p.text + "/" : " or \"" + p.text + "\"";
        finish(1, where(c) + what + " timed out after " + secondsText(c.timeoutMs), true);
    }
    return false;
}

// Gives the command's keys to the session, all at once or one per pace, a
// bounded number ahead of it; done once the session has taken them all.
bool batchRunner::keysDone(const scriptCommand& c) {
    const size_t waiting = session_.keysQueued();
    if (pace_ > 0) {
        if (keysQueued_ < c.keys.size() && waiting == 0 && Clock::now() >= nextKeyAt_) {
            typeKey(c.keys[keysQueued_++]);
            nextKeyAt_ = Clock::now() + std::chrono::milliseconds(pace_);
        }
    } else {
        for (size_t room = waiting < keysAhead ? keysAhead - waiting : 0; room > 0 && keysQueued_ < c.keys.size(); --room)
            typeKey(c.keys[keysQueued_++]);
    }
    return keysQueued_ == c.keys.size() && session_.keysQueued() == 0;
}

void batchRunner::typeKey(const INPUT_RECORD& key) {
    session_.sendKey(key);
    keysOut_ = true;
}

// Asks the server for the screen once; done when it shows it.
bool batchRunner::selectScreen(const scriptCommand& c) {
    if (wantedScreen_ == 0) {
        wantedScreen_ = c.screenId ? c.screenId : session_.findScreenByName(c.text);
        if (wantedScreen_ == 0 || !session_.findScreen(wantedScreen_)) {
            finish(2, where(c) + "the server has no screen " +
                          (c.screenId ? std::to_string(c.screenId) : "\"" + c.text + "\""));
            return false;
        }
        if (feed_.screen().screenId != wantedScreen_) session_.selectScreen(wantedScreen_);
    }
    return feed_.screen().screenId == wantedScreen_;
}

// Writes the screen over the file, made anew for its owner alone.
void batchRunner::saveScreen(const scriptCommand& c) {
    const std::string path = saveFileName(c.text, naming_, feed_.screen().screenId, std::time(nullptr));
    said_.emplace_back("file", jsonString(path));
    screenFormat format = screenFormat::text;
    screenFormatOf(path, format);
    const std::string body = screenAs(feed_.screen(), format);
    std::remove(path.c_str());
    FILE* f = openNewFile(path);
    bool ok = f && std::fwrite(body.data(), 1, body.size(), f) == body.size();
    if (f && std::fclose(f) != 0) ok = false;
    if (!ok) {
        const int error = errno ? errno : EIO;
        if (f) std::remove(path.c_str());
        finish(2, where(c) + "cannot write " + path + ": " + std::strerror(error));
    }
}

void batchRunner::finish(int code, const std::string& message, bool withScreen) {
    if (finished_) return;
    finished_ = true;
    code_ = code;
    message_ = message;
    if (!message.empty()) out_.complain(message);
    if (withScreen) out_.toStderr(shown());
    session_.endSession();
}
