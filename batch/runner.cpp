#include "batch/runner.h"

#include <cstdio>

#include "client/cmain.h"
#include "client/scrlist.h"
#include "console/cp437.h"
#include "console/keyhold.h"
#include "screen/savefile.h"
#include "screen/formats.h"

namespace {

// Keys queued ahead of the session at most: the rest wait for room.
constexpr size_t keysAhead = 64;

const char* commandName(cmdKind k) {
    switch (k) {
    case cmdKind::wait: return "wait";
    case cmdKind::waitGone: return "wait gone";
    case cmdKind::waitStill: return "wait still";
    case cmdKind::key: return "key";
    case cmdKind::type: return "type";
    case cmdKind::pace: return "pace";
    case cmdKind::screen: return "screen";
    case cmdKind::save: return "save";
    case cmdKind::echo: return "echo";
    case cmdKind::exit: return "exit";
    case cmdKind::expect: return "expect";
    }
    return "";
}

// The session's end key, as the operator would press it.
INPUT_RECORD endKey() {
    INPUT_RECORD r{};
    r.EventType = KEY_EVENT;
    r.Event.KeyEvent.bKeyDown = 1;
    r.Event.KeyEvent.wVirtualKeyCode = kcF2;
    r.Event.KeyEvent.wVirtualScanCode = 0x3C;
    r.Event.KeyEvent.dwControlKeyState = ksSessionAlt;
    return r;
}

}  // namespace

int batchTerminal::readKey(int timeoutMs, INPUT_RECORD& record) {
    if (keys.empty() && timeoutMs != 0) {
        dialogAsked = true;
        return -1;
    }
    const int got = MemoryTerminal::readKey(timeoutMs, record);
    if (got == 1 && seq) seqAtLastKey = *seq;
    return got;
}

batchRunner::batchRunner(consoleMain& app, batchTerminal& term, const std::vector<scriptCommand>& commands,
                         batchOutput& out)
    : app_(app), term_(term), commands_(commands), out_(out) {
    app_.feed.subscribe(this);
    term_.seq = &seq_;
}

batchRunner::~batchRunner() {
    term_.seq = nullptr;
    app_.feed.unsubscribe(this);
}

void batchRunner::changed() {
    ++seq_;
    lastChange_ = Clock::now();
    step();
}

void batchRunner::screenShown(const remoteScreen& screen) {
    out_.event("screen", {{"id", std::to_string(screen.screenId)}, {"name", jsonString(cp437Text(screen.screenName))}});
    changed();
}

const std::string& batchRunner::shown() {
    if (cacheSeq_ != seq_) {
        shownCache_ = screenText(app_.feed.screen());
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
// ends (rows without their trailing blanks).
bool batchRunner::onScreen(const scriptCommand& c) {
    if (c.row >= 0) return c.what.foundIn(shownRow(c.row));
    if (!c.what.regex) return c.what.foundIn(shown());
    for (int r = 0; r < screenRows; ++r)
        if (c.what.foundIn(shownRow(r))) return true;
    return false;
}

bool batchRunner::timedOut(const scriptCommand& c) const { return Clock::now() - begunAt_ >= std::chrono::milliseconds(c.timeoutMs); }

void batchRunner::step() {
    while (!finished_) {
        if (term_.dialogAsked) return finish(2, "a dialog asked for an answer, which batch mode cannot give");
        if (next_ >= commands_.size()) return finish(0, "");
        const scriptCommand& c = commands_[next_];
        if (!begun_) {
            begun_ = true;
            begunAt_ = Clock::now();
            keysQueued_ = 0;
            wantedScreen_ = 0;
        }
        if (!advance(c)) return;
        if (finished_) return;
        const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - begunAt_).count();
        out_.event("command", {{"line", std::to_string(c.line)}, {"command", jsonString(commandName(c.kind))},
                               {"result", "\"ok\""}, {"ms", std::to_string(took)}});
        // After keys, what the screen showed once the session had taken the
        // last one is the old screen: changes since may be their answer.
        seqBefore_ = c.kind == cmdKind::key || c.kind == cmdKind::type ? term_.seqAtLastKey : seq_;
        begun_ = false;
        ++next_;
    }
}

bool batchRunner::advance(const scriptCommand& c) {
    const bool live = app_.feed.live();
    const std::string where = "line " + std::to_string(c.line) + ": ";
    switch (c.kind) {
    case cmdKind::wait:
        if (live && (c.now || seq_ > seqBefore_) && onScreen(c)) return true;
        break;
    case cmdKind::waitGone:
        if (live && !onScreen(c)) return true;
        break;
    case cmdKind::waitStill:
        if (live && Clock::now() - std::max(lastChange_, begunAt_) >= std::chrono::milliseconds(c.ms)) return true;
        break;
    case cmdKind::key:
    case cmdKind::type:
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
        finish(c.code, where + c.text);
        return false;
    }
    if (timedOut(c)) {
        std::string what = commandName(c.kind);
        if (c.kind == cmdKind::wait || c.kind == cmdKind::waitGone)
            what += c.what.regex ? " /" + c.what.text + "/" : " \"" + c.what.text + "\"";
        finish(1, where + what + " timed out after " + secondsText(c.timeoutMs), true);
    }
    return false;
}

// Queues the command's keys, all at once or one per pace, a bounded number
// ahead of the session; done once the session has taken them all.
bool batchRunner::keysDone(const scriptCommand& c) {
    const size_t waiting = term_.keys.size() + static_cast<size_t>(heldKeyCount());
    if (pace_ > 0) {
        if (keysQueued_ < c.keys.size() && waiting == 0 && Clock::now() >= nextKeyAt_) {
            term_.pushRecord(c.keys[keysQueued_++]);
            nextKeyAt_ = Clock::now() + std::chrono::milliseconds(pace_);
        }
    } else {
        for (size_t room = waiting < keysAhead ? keysAhead - waiting : 0; room > 0 && keysQueued_ < c.keys.size(); --room)
            term_.pushRecord(c.keys[keysQueued_++]);
    }
    return keysQueued_ == c.keys.size() && term_.keys.empty() && heldKeyCount() == 0;
}

// Asks the server for the screen once; done when it shows it.
bool batchRunner::selectScreen(const scriptCommand& c) {
    if (wantedScreen_ == 0) {
        wantedScreen_ = c.screenId;
        for (serverScreen* s = screens.getNext(nullptr); s && !wantedScreen_; s = screens.getNext(s))
            if (c.text == cp437Text(s->getName())) wantedScreen_ = s->getId();
        if (wantedScreen_ == 0) {
            finish(2, "line " + std::to_string(c.line) + ": the server has no screen \"" + c.text + "\"");
            return false;
        }
        if (app_.feed.screen().screenId != wantedScreen_ && app_.outbox)
            ::selectScreen(wantedScreen_, app_.currentScreenId, app_.previousScreenId, *app_.outbox);
    }
    return app_.feed.screen().screenId == wantedScreen_;
}

// Writes the screen over the file, made anew for its owner alone.
void batchRunner::saveScreen(const scriptCommand& c) {
    const remoteScreen& s = app_.feed.screen();
    const std::string& path = c.text;
    const std::string ext = path.substr(path.rfind('.'));
    const std::string body = ext == ".txt" ? screenText(s) : ext == ".html" ? screenHtml(s) : screenJson(s) + "\n";
    std::remove(path.c_str());
    FILE* f = openNewFile(path);
    bool ok = f && std::fwrite(body.data(), 1, body.size(), f) == body.size();
    if (f && std::fclose(f) != 0) ok = false;
    if (!ok) {
        if (f) std::remove(path.c_str());
        finish(2, "line " + std::to_string(c.line) + ": cannot write " + path);
    }
}

void batchRunner::finish(int code, const std::string& message, bool withScreen) {
    if (finished_) return;
    finished_ = true;
    code_ = code;
    message_ = message;
    if (!message.empty()) out_.complain(message);
    if (withScreen) out_.toStderr(shown());
    term_.keys.clear();
    dropHeldKeys();
    term_.pushRecord(endKey());
}
