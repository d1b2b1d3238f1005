#include "history/historyview.h"

#include <algorithm>
#include <cctype>
#include <cstring>


namespace {

constexpr int viewRows = screenRows - 1;   // the last row is the view's own
constexpr unsigned char statusAttr = 0x70;

int folded(int c) { return c < 128 ? std::tolower(c) : c; }

}  // namespace

historyView::historyView(const screenHistory& history, const screenFeed& feed) : history_(history), feed_(feed) {
    // It opens with the last lines of the history above the live screen's top half.
    const long long start = std::max<long long>(0, static_cast<long long>(history_.lines().size()) - viewRows / 2);
    topEver_ = history_.dropped() + static_cast<uint64_t>(start);
}

long long historyView::total() const { return static_cast<long long>(history_.lines().size()) + screenRows; }

long long historyView::maxTop() const { return std::max<long long>(0, total() - viewRows); }

long long historyView::top() const {
    const long long t = static_cast<long long>(topEver_) - static_cast<long long>(history_.dropped());
    return std::clamp<long long>(t, 0, maxTop());
}

void historyView::moveTo(long long t) {
    topEver_ = history_.dropped() + static_cast<uint64_t>(std::clamp<long long>(t, 0, maxTop()));
}

const uint16_t* historyView::line(long long i) const {
    const auto& lines = history_.lines();
    const auto n = static_cast<long long>(lines.size());
    if (i < n) return lines[static_cast<size_t>(i)].data();
    return feed_.screen().cells[i - n];
}

std::string historyView::statusText() const {
    if (asking_) return (forward_ ? "/" : "?") + typed_;
    if (!said_.empty()) return said_;
    return "History: line " + std::to_string(top() + 1) + " of " + std::to_string(total()) +
           " - / search - Esc returns";
}

void historyView::draw(uint16_t (&cells)[screenRows][screenCols], int& x, int& y) {
    const long long t = top();
    for (int r = 0; r < viewRows; ++r) {
        const long long i = t + r;
        if (i < total()) std::memcpy(cells[r], line(i), sizeof cells[r]);
        else for (uint16_t& cell : cells[r]) cell = 0x0720;
        if (i == matchLine_ && !pattern_.empty())
            for (int c = matchColumn_; c < matchColumn_ + static_cast<int>(pattern_.size()) && c < screenCols; ++c) {
                // The match in reverse colours.
                const int attr = cells[r][c] >> 8;
                const int swapped = ((attr & 0x07) << 4) | ((attr & 0x70) >> 4);
                cells[r][c] = static_cast<uint16_t>((cells[r][c] & 0xFF) | (swapped << 8));
            }
    }
    const std::string status = statusText();
    std::string padded = status.substr(0, screenCols);
    padded.resize(screenCols, ' ');
    for (int c = 0; c < screenCols; ++c)
        cells[viewRows][c] = static_cast<uint16_t>(static_cast<unsigned char>(padded[c]) | (statusAttr << 8));
    x = static_cast<int>(std::min<size_t>(status.size(), screenCols - 1));
    y = viewRows;
}

// Looks for the pattern from the line after (or before) the match shown, or
// from the top line when there is none, through every line once.
bool historyView::find(bool forward) {
    if (pattern_.empty()) return false;
    const long long n = total();
    const long long from = matchLine_ >= 0 ? matchLine_ : (forward ? top() - 1 : top() + viewRows);
    const int len = static_cast<int>(pattern_.size());
    for (long long step = 1; step <= n; ++step) {
        const long long i = ((forward ? from + step : from - step) % n + n) % n;
        const uint16_t* cells = line(i);
        for (int c = 0; c + len <= screenCols; ++c) {
            int m = 0;
            while (m < len && folded(cells[c + m] & 0xFF) == folded(static_cast<unsigned char>(pattern_[m]))) ++m;
            if (m == len) {
                matchLine_ = i;
                matchColumn_ = c;
                // The match a third of the way down, unless it is in sight.
                if (i < top() || i >= top() + viewRows) moveTo(i - viewRows / 3);
                return true;
            }
        }
    }
    matchLine_ = -1;
    said_ = "Not found: " + pattern_;
    return false;
}

bool historyView::key(const KEY_EVENT_RECORD& k) {
    const uint32_t code = k.wVirtualKeyCode;
    const auto ch = static_cast<unsigned char>(k.uChar.AsciiChar);
    said_.clear();
    if (asking_) {
        if (code == kcEsc) {
            asking_ = false;
        } else if (code == kcEnter) {
            asking_ = false;
            if (!typed_.empty()) pattern_ = typed_;
            matchLine_ = -1;
            find(forward_);
        } else if (code == kcBackspace) {
            if (!typed_.empty()) typed_.pop_back();
        } else if (ch >= 32 && ch != 127 && typed_.size() < screenCols - 2) {
            typed_ += static_cast<char>(ch);
        }
        return true;
    }
    const long long t = top();
    if (code == kcEsc) return false;
    if (code == kcUp) moveTo(t - 1);
    else if (code == kcDown) moveTo(t + 1);
    else if (code == kcPageUp) moveTo(t - (viewRows - 1));
    else if (code == kcPageDown) moveTo(t + (viewRows - 1));
    else if (code == kcHome) moveTo(0);
    else if (code == kcEnd) moveTo(maxTop());
    else if (ch == '/' || ch == '?') {
        asking_ = true;
        forward_ = ch == '/';
        typed_.clear();
    } else if (ch == 'n' || ch == 'N') {
        if (pattern_.empty()) said_ = "No search yet: / or ? first";
        else find(ch == 'n' ? forward_ : !forward_);
    }
    return true;
}
