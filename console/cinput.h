#pragma once
#include <cstdint>

#include "console/ccontrol.h"

// A framed prompt with a one-line text field that edits the caller's buffer
// in place; mode 1 masks the text for passwords.
class consoleInputBox : public consoleControl {
public:
    char* buffer = nullptr;     // not owned; holds maxLen + 1 bytes
    char* prompt = nullptr;     // owned copy
    int32_t maxLen = 0;
    int32_t caret = 0;
    int32_t length = 0;
    int32_t scroll = 0;
    int32_t mode = 0;
    unsigned char color = 0x1E;

    explicit consoleInputBox(int32_t nmode = 0);
    ~consoleInputBox() override;
    using consoleControl::init;
    virtual int init(_win_st* win, int nx, int ny, int nw, const char* nprompt, char* nbuffer,
                     int nmaxLen, unsigned char ncolor);
    int onKey(KEY_EVENT_RECORD& key) override;
    void recalcSize() override;
    void draw() override;

    void moveCaret(int delta);
    void insertChar(char c);
    void deleteChar();
};

// A framed message with one or two selectable lines under it. A text of
// several lines ('\n' between them) shows each on a row of its own, up to
// 12 after the first. Returns 2 when Enter was pressed on the first line,
// else 1.
int messageBox(_win_st* window, unsigned char titleColor, const char* text, const char* line1,
               const char* line2 = nullptr);
