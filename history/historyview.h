#pragma once
#include <cstdint>
#include <string>

#include "console/keyboard.h"
#include "history/history.h"
#include "screen/screenmode.h"

// The history view: the history of the screen shown, above the live
// screen, paged with the usual keys and searched with / and ?. A mode of
// the session's screen; the session goes on under it.
class historyView : public screenMode {
public:
    historyView(const screenHistory& history, const screenFeed& feed);

    // Every row, for the place and the lines as they are now.
    void draw(uint16_t (&cells)[screenRows][screenCols], int& x, int& y) override;
    // One key; false when the view closes (Esc).
    bool key(const KEY_EVENT_RECORD& key) override;

    // The text of the status row.
    std::string statusText() const;
    // The first line shown, counted from the oldest line kept (0-based).
    long long top() const;
    long long total() const;

private:
    const screenHistory& history_;
    const screenFeed& feed_;
    // The first line shown, counted from the first line the history ever
    // had: a place that stays when old lines are dropped.
    uint64_t topEver_;
    // Search: the text looked for, the line and column of the match shown
    // (-1: none), and the text being typed after / or ? while asked.
    std::string pattern_;
    bool forward_ = true;
    long long matchLine_ = -1;
    int matchColumn_ = 0;
    bool asking_ = false;
    std::string typed_;
    std::string said_;   // a word for the status row until the next key

    const uint16_t* line(long long i) const;
    long long maxTop() const;
    void moveTo(long long top);
    bool find(bool forward);
};
