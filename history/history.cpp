#include "history/history.h"

#include <algorithm>
#include <cstring>
#include <ctime>

#include "history/historyview.h"
#include "screen/formats.h"
#include "screen/sessioncontrol.h"

namespace {

constexpr int fixedMax = 3;   // rows above or below the band that may stay put
constexpr int bandMemory = 8;   // updates without a scroll before its band is forgotten

const std::deque<screenLine> noLines;

}  // namespace

uint64_t rowHash(const uint16_t (&row)[screenCols]) {
    // Four cells a step, each step a multiply: a row costs 20 of them.
    static_assert(screenCols % 4 == 0);
    uint64_t h = 0xcbf29ce484222325ULL;
    for (int c = 0; c < screenCols; c += 4) {
        uint64_t cells;
        std::memcpy(&cells, &row[c], sizeof cells);
        h = (h ^ cells) * 0x9E3779B97F4A7C15ULL;
        h ^= h >> 29;
    }
    return h;
}

bool blankRow(const uint16_t (&row)[screenCols]) {
    for (const uint16_t cell : row)
        if ((cell & 0xFF) != ' ' && (cell & 0xFF) != 0) return false;
    return true;
}

scrollBand findScroll(const rowPrints& before, const rowPrints& after, int maxTop, int minBottom) {
    // The band is found by its own rows: from each top it may have, the rows
    // that stand k higher than before, as far down as they go. Rows above and
    // below it (a clock, a header, progress lines) may change freely.
    // A band that moved as a whole first; then one whose blank rows at the
    // bottom were written before it moved. The smallest move wins; for one
    // move, the widest band.
    for (const bool filled : {false, true})
        for (int k = 1; k < screenRows; ++k) {
            scrollBand best;
            for (int top = 0; top <= std::min(fixedMax, maxTop); ++top) {
                int r = top;
                int content = 0;
                while (r + k < screenRows && after.hash[r] == before.hash[r + k]) content += !after.blank[r++];
                int bottom = r - 1 + k;
                if (filled) {
                    // Blank rows of the band below its last written one may
                    // have been filled before it moved.
                    int b = r + k;
                    while (b < screenRows && before.blank[b]) ++b;
                    if (b == r + k) continue;   // the first pass tried it
                    bottom = b - 1;
                }
                // Two rows with something on them: a match of blanks, or of
                // one repeated line, is no scroll.
                if (content < 2 || bottom < minBottom) continue;
                if (best.k == 0 || bottom - top > best.bottom - best.top) best = {top, bottom, k};
            }
            if (best.k) return best;
        }
    return {};
}

screenHistory::screenHistory(screenFeed& feed, size_t lines) : feed_(feed), limit_(lines) { feed_.subscribe(this); }

screenHistory::~screenHistory() { feed_.unsubscribe(this); }

screenHistory::kept& screenHistory::currentKept() {
    kept& k = screens_[current_];
    k.used = ++clock_;
    if (screens_.size() > screensMax) {
        auto oldest = screens_.begin();
        for (auto it = screens_.begin(); it != screens_.end(); ++it)
            if (it->second.used < oldest->second.used) oldest = it;
        held_ -= oldest->second.lines.size();
        screens_.erase(oldest);
    }
    return screens_[current_];
}

void screenHistory::dropOldest(kept& k) {
    k.lines.pop_front();
    ++k.dropped;
    --held_;
}

const std::deque<screenLine>& screenHistory::lines() const {
    const auto it = screens_.find(current_);
    return it == screens_.end() ? noLines : it->second.lines;
}

uint64_t screenHistory::dropped() const {
    const auto it = screens_.find(current_);
    return it == screens_.end() ? 0 : it->second.dropped;
}

size_t screenHistory::bytes() const {
    size_t n = 0;
    for (const auto& [id, k] : screens_) n += k.lines.size() * sizeof(screenLine);
    return n;
}

void screenHistory::sessionStarted(const remoteScreen& screen, bool resumed) {
    forgetBand();
    for (int r = 0; r < screenRows; ++r) {
        prints_.hash[r] = rowHash(screen.cells[r]);
        prints_.blank[r] = blankRow(screen.cells[r]);
    }
    if (!resumed) {
        screens_.clear();
        held_ = 0;
    }
    current_ = screen.screenId;
}

void screenHistory::screenShown(const remoteScreen& screen) {
    // Another screen's rows are no scroll of this one's.
    if (screen.screenId != current_) forgetBand();
    current_ = screen.screenId;
}

void screenHistory::remember(const remoteScreen& screen) {
    if (recentCount_ == recentMax) {
        for (int i = 1; i < recentMax; ++i) recent_[i - 1] = recent_[i];
        --recentCount_;
    }
    snapshot& s = recent_[recentCount_++];
    std::memcpy(s.cells, screen.cells, sizeof s.cells);
    s.prints = prints_;
}

void screenHistory::rowsChanged(const remoteScreen& screen, const bool (&rows)[screenRows]) {
    if (limit_ == 0) return;
    // Only the rows that changed are hashed again.
    for (int r = 0; r < screenRows; ++r)
        if (rows[r]) {
            prints_.hash[r] = rowHash(screen.cells[r]);
            prints_.blank[r] = blankRow(screen.cells[r]);
        }
    if (++sinceScroll_ > bandMemory) {
        bandTop_ = 3;
        bandBottom_ = screenRows - 4;
    }
    // A scroll painted in parts: the top of the band in one update, the rest
    // in the next. Against the screen before the scroll, the whole is the
    // same move as the half, whose lines are kept already; against the half
    // screen it would pass for a move of its own.
    if (lastMove_ && findScroll(lastSource_, prints_, bandTop_, bandBottom_).k == lastMove_) {
        recentCount_ = 0;
        remember(screen);
        return;
    }
    // The oldest screen since the last scroll first: against a screen
    // that an update left half done, the rest of that update could pass
    // for a scroll of its own.
    for (int i = 0; i < recentCount_; ++i) {
        const scrollBand band = findScroll(recent_[i].prints, prints_, bandTop_, bandBottom_);
        if (band.k == 0) continue;
        bandTop_ = band.top;
        bandBottom_ = band.bottom;
        sinceScroll_ = 0;
        kept& k = currentKept();
        for (int r = band.top; r < band.top + band.k; ++r) {
            screenLine line;
            std::memcpy(line.data(), recent_[i].cells[r], sizeof(line));
            k.lines.push_back(line);
            ++held_;
        }
        while (k.lines.size() > limit_) dropOldest(k);
        while (held_ > total_) {
            kept* most = &k;
            for (auto& [id, other] : screens_)
                if (other.lines.size() > most->lines.size()) most = &other;
            dropOldest(*most);
        }
        lastSource_ = recent_[i].prints;
        lastMove_ = band.k;
        // What came before this scroll can no longer be the start of one.
        recentCount_ = 0;
        break;
    }
    remember(screen);
}

namespace {

// The history's text (its lines, then the screen as it is) and its file.
std::string historyText(const screenHistory& history, const remoteScreen& screen) {
    std::string text;
    for (const screenLine& line : history.lines()) text += lineText(line.data()) + '\n';
    return text + screenText(screen);
}

std::string saveHistoryText(const std::string& text, const remoteScreen& screen, const saveTarget& target) {
    std::string error;
    const std::string path = saveNewFiles(
        target, savedFileBase(screen.server, std::time(nullptr), screen.screenId) + "-history", {{".txt", text}}, error);
    if (path.empty()) return "History not saved: " + error;
    return "History saved: " + path + ".txt";
}

}  // namespace


bool historyViewAction::takesKey(const KEY_EVENT_RECORD& key) const {
    return (key.dwControlKeyState & ksSessionAlt) != 0 && key.wVirtualKeyCode == kcF7;
}

sessionAction::after historyViewAction::run(sessionControl& session) {
    if (history_.off()) {
        session.statusLine("The history is off (--history=0)");
        return after::closeMenu;
    }
    session.openMode(std::make_unique<historyView>(history_, feed_));
    return after::closeMenu;
}

sessionAction::after historySaveAction::run(sessionControl& session) {
    // The text is taken here, where the history is kept; the disk gets it off the session.
    saveOffSession(session, [text = historyText(history_, feed_.screen()), shot = feed_.screen(), target = target_] {
        return saveHistoryText(text, shot, target);
    });
    return after::closeMenu;
}
