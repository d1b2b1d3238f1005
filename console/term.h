#pragma once
#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "console/keyboard.h"

class heldKeys;

// Where the cell screen is shown and where keys come from. The program uses
// the curses terminal; tests use the in-memory one with a scripted key queue.
class Terminal {
public:
    virtual ~Terminal() = default;
    // Show one row (0..24) of 80 cells (low byte character, high byte attribute).
    virtual void putRow(int row, const uint16_t* cells) = 0;
    virtual void moveCursor(int x, int y) = 0;
    virtual int refresh() = 0;
    // Waits up to timeoutMs (0: just look, -1: no limit) for a key.
    // 1 with the key's event in record; 0 nothing yet; -1 input is gone.
    virtual int readKey(int timeoutMs, INPUT_RECORD& record) = 0;
    // Descriptor that becomes readable when a key may be waiting, or -1.
    virtual int inputFd() const { return -1; }
    // True when keys may come at any time to a terminal that has no
    // descriptor to wait on, so that a wait has to ask it often; false where
    // a descriptor tells, and where every key there will be is pending
    // already (a script's terminal).
    virtual bool needsAsking() const { return inputFd() < 0; }
    // True when keys are already buffered inside the terminal layer, or a
    // change of the terminal's size waits to be shown (the next readKey does).
    virtual bool keyPending() const { return false; }
    // Teaches the terminal an escape sequence for a key code (curses only).
    virtual void defineKey(const char* sequence, int keyCode) {}
    // True when the terminal's Backspace key sends byte 8 (^H).
    virtual bool backspaceIsCtrlH() const { return false; }
    // The title of the window the picture is in, where it has one.
    virtual void setTitle(const char* title) {}
    // On for the length of a session: the keys that the terminal driver
    // keeps for itself (interrupt, quit, suspend, flow control, literal
    // next) come as their characters, for the remote machine.
    virtual void rawKeys(bool on) {}
    // True when typed characters beyond ASCII come as UTF-8 bytes.
    virtual bool utf8Keys() const { return false; }
    // Puts text on the clipboard of the terminal, where it says how (its
    // description's Ms: xterm's OSC 52); false where it cannot.
    virtual bool copyText(const std::string& text) { return false; }

    // The held keys of the session in front, which key readers hand out
    // before the terminal's own (null: none; not owned).
    heldKeys* held() const { return held_; }
    void holdFrom(heldKeys* keys) { held_ = keys; }

private:
    heldKeys* held_ = nullptr;
};

Terminal* terminal();              // the active terminal (never null)
void setTerminal(Terminal* t);     // null restores a do-nothing terminal

// In-memory terminal for tests: records what was shown, serves scripted keys.
class MemoryTerminal : public Terminal {
public:
    uint16_t shown[25][80] = {};   // rows as last pushed
    int cursorX = 0, cursorY = 0;
    int refreshes = 0;
    int rowPushes[25] = {};
    std::vector<std::string> titles; // every title set, in order
    std::deque<INPUT_RECORD> keys; // key events still to come
    bool goneWhenEmpty = true;     // an empty script reads as end of input
    bool utf8Input = false;        // what utf8Keys() says

    void putRow(int row, const uint16_t* cells) override;
    void moveCursor(int x, int y) override;
    int refresh() override;
    int readKey(int timeoutMs, INPUT_RECORD& record) override;
    bool keyPending() const override { return !keys.empty(); }
    void setTitle(const char* title) override { titles.emplace_back(title ? title : ""); }
    bool utf8Keys() const override { return utf8Input; }

    // A key by the backend's key code (makeKeyEvent), a ready-made event, or
    // the characters of a text.
    void pushKey(int code);
    void pushRecord(const INPUT_RECORD& record) { keys.push_back(record); }
    void pushText(const std::string& text);
    // Characters of a shown row (80 bytes, as stored).
    std::string rowText(int row) const;
};
