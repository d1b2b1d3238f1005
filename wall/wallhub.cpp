#include "wall/wallhub.h"

#include <algorithm>
#include <cstring>
#include <utility>
#include <memory>

#include "screen/formats.h"
#include "screen/json.h"

namespace {

// A viewer gets at most one message in this time: with hundreds of
// consoles changing, their changes go out together, not one by one.
constexpr auto messageGap = std::chrono::milliseconds(100);

const char* stateName(wallState s) {
    switch (s) {
    case wallState::live: return "live";
    case wallState::linkLost: return "lost";
    case wallState::passwordRefused: return "refused";
    case wallState::failed: return "failed";
    case wallState::ended: return "ended";
    default: return "connecting";
    }
}

long long msBetween(wallHub::clock::time_point from, wallHub::clock::time_point to) {
    return std::max<long long>(0, std::chrono::duration_cast<std::chrono::milliseconds>(to - from).count());
}

std::string bounded(std::string_view text) { return std::string(text.substr(0, wallHub::textMax)); }

}  // namespace

wallHub::wallHub(const std::vector<std::string>& descriptions, std::function<clock::time_point()> now)
    : now_(std::move(now)), consoles_(descriptions.size()) {
    for (size_t i = 0; i < descriptions.size(); ++i) consoles_[i].description = bounded(descriptions[i]);
}

void wallHub::mark(consoleState& c, uint32_t bits) {
    for (int s = 0; s < maxViewers; ++s)
        if (used_[s]) c.dirty[s] |= bits;
    changed_.notify_all();
}

void wallHub::setRows(int index, const remoteScreen& screen, uint32_t rows) {
    if (index < 0 || index >= size()) return;
    std::lock_guard<std::mutex> lock(mutex_);
    consoleState& c = consoles_[index];
    uint32_t changed = 0;
    for (int r = 0; r < screenRows; ++r) {
        if (!(rows & (1u << r)) || std::memcmp(c.cells[r], screen.cells[r], sizeof c.cells[r]) == 0) continue;
        std::memcpy(c.cells[r], screen.cells[r], sizeof c.cells[r]);
        changed |= 1u << r;
    }
    if (!changed) return;
    c.changedAt = now_();
    c.changed = true;
    mark(c, changed);
}

void wallHub::setName(int index, std::string_view name) {
    if (index < 0 || index >= size()) return;
    std::lock_guard<std::mutex> lock(mutex_);
    consoleState& c = consoles_[index];
    if (c.name == name.substr(0, textMax)) return;
    c.name = bounded(name);
    mark(c, nameBit);
}

void wallHub::setState(int index, wallState state, clock::time_point retryAt, std::string_view reason) {
    if (index < 0 || index >= size()) return;
    std::lock_guard<std::mutex> lock(mutex_);
    consoleState& c = consoles_[index];
    c.state = state;
    c.retryAt = retryAt;
    c.reason = state == wallState::failed ? bounded(reason) : std::string();
    mark(c, stateBit);
}

void wallHub::setLogNote(int index, std::string_view note) {
    if (index < 0 || index >= size()) return;
    std::lock_guard<std::mutex> lock(mutex_);
    consoleState& c = consoles_[index];
    if (c.note == note.substr(0, textMax)) return;
    c.note = bounded(note);
    mark(c, noteBit);
}

int wallHub::join() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (finished_) return -1;
    for (int s = 0; s < maxViewers; ++s) {
        if (used_[s]) continue;
        used_[s] = full_[s] = true;
        sent_[s] = {};
        for (consoleState& c : consoles_) c.dirty[s] = everything;
        return s;
    }
    return -1;
}

bool wallHub::next(int slot, std::string& message, std::chrono::milliseconds wait) {
    message.clear();
    if (slot < 0 || slot >= maxViewers) return false;
    std::vector<std::unique_ptr<part>> parts;
    bool full;
    {
        std::unique_lock<std::mutex> lock(mutex_);
        const auto pending = [&] {
            return std::any_of(consoles_.begin(), consoles_.end(), [&](const consoleState& c) { return c.dirty[slot] != 0; });
        };
        changed_.wait_for(lock, wait, [&] { return finished_ || pending(); });
        if (!pending()) return !finished_;
        // What comes before the gap runs out goes in the same message.
        changed_.wait_until(lock, sent_[slot] + messageGap, [&] { return finished_; });
        sent_[slot] = std::chrono::steady_clock::now();
        const clock::time_point now = now_();
        for (size_t i = 0; i < consoles_.size(); ++i) {
            consoleState& c = consoles_[i];
            const uint32_t what = std::exchange(c.dirty[slot], 0);
            if (!what) continue;
            auto p = std::make_unique<part>();
            p->index = static_cast<int>(i);
            p->what = what;
            p->from = &c;
            for (int r = 0; r < screenRows; ++r)
                if (what & (1u << r)) std::memcpy(p->cells[r], c.cells[r], sizeof c.cells[r]);
            if (what & nameBit) p->name = c.name;
            if (what & noteBit) p->note = c.note;
            p->reason = c.reason;
            p->state = c.state;
            p->retryMs = msBetween(now, c.retryAt);
            p->ageMs = c.changed ? msBetween(c.changedAt, now) : -1;
            parts.push_back(std::move(p));
        }
        full = std::exchange(full_[slot], false);
    }
    message = full ? "{\"f\":1,\"c\":[" : "{\"c\":[";
    for (size_t i = 0; i < parts.size(); ++i) {
        if (i) message += ',';
        write(message, *parts[i]);
    }
    message += "]}";
    return true;
}

void wallHub::write(std::string& out, const part& p) {
    out += "{\"i\":" + std::to_string(p.index);
    if (p.what & descriptionBit) {
        out += ",\"d\":";
        out += jsonGlyphs(p.from->description);
    }
    if (p.what & stateBit) {
        out += ",\"s\":\"";
        out += stateName(p.state);
        out += '"';
        if (p.state == wallState::linkLost) out += ",\"w\":" + std::to_string(p.retryMs);
        if (p.state == wallState::failed) {
            out += ",\"e\":";
            out += jsonString(p.reason);
        }
    }
    if (p.what & nameBit) {
        out += ",\"n\":";
        out += jsonGlyphs(p.name);
    }
    if (p.what & noteBit) {
        out += ",\"l\":";
        out += jsonString(p.note);
    }
    if (p.what & wallAllRows) {
        out += ",\"r\":[";
        bool first = true;
        for (int r = 0; r < screenRows; ++r) {
            if (!(p.what & (1u << r))) continue;
            out += first ? "[" : ",[";
            first = false;
            out += std::to_string(r) + ",";
            out += jsonString(lineText(p.cells[r]));
            out += ",[";
            for (int c = 0; c < screenCols;) {
                const int attr = (p.cells[r][c] >> 8) & 0x7F;   // blink is not shown
                int end = c + 1;
                while (end < screenCols && ((p.cells[r][end] >> 8) & 0x7F) == attr) ++end;
                out += (c ? "," : "") + std::to_string(attr) + "," + std::to_string(end - c);
                c = end;
            }
            out += "]]";
        }
        out += ']';
    }
    if (p.ageMs >= 0 && (p.what & (wallAllRows | descriptionBit))) out += ",\"a\":" + std::to_string(p.ageMs);
    out += '}';
}

void wallHub::leave(int slot) {
    if (slot < 0 || slot >= maxViewers) return;
    std::lock_guard<std::mutex> lock(mutex_);
    used_[slot] = full_[slot] = false;
    for (consoleState& c : consoles_) c.dirty[slot] = 0;
}

void wallHub::finish() {
    std::lock_guard<std::mutex> lock(mutex_);
    finished_ = true;
    changed_.notify_all();
}

int wallHub::viewers() {
    std::lock_guard<std::mutex> lock(mutex_);
    return static_cast<int>(std::count(std::begin(used_), std::end(used_), true));
}

bool wallHub::copyScreen(int index, uint16_t (&cells)[screenRows][screenCols]) {
    if (index < 0 || index >= size()) return false;
    std::lock_guard<std::mutex> lock(mutex_);
    std::memcpy(cells, consoles_[index].cells, sizeof cells);
    return true;
}
