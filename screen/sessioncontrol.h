#pragma once
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "console/keyboard.h"

class screenMode;

// What a menu item, a script or any other part of the program may ask of
// the session it belongs to. The session implements it, one per session;
// nothing else reaches into the session.
class sessionControl {
public:
    virtual ~sessionControl() = default;

    // A key as the operator types it: queued, and handled in its turn by
    // the session's own key handling, its shortcuts included.
    virtual void sendKey(const INPUT_RECORD& key) = 0;
    // A key word (PC scan code and character) straight to the server.
    virtual void sendRawKey(uint16_t word) = 0;
    // Keys given to sendKey that the session has not taken yet.
    virtual size_t keysQueued() const = 0;

    // Asks the server to show screen id; false when it shows it already.
    virtual bool selectScreen(uint32_t id) = 0;
    // The server's screen list as it last sent it: the name (its bytes) of
    // screen id, null when not listed; the id of the first screen whose
    // name shows as `shown` (glyphs as UTF-8), 0 when none.
    virtual const char* findScreen(uint32_t id) const = 0;
    virtual uint32_t findScreenByName(std::string_view shown) const = 0;

    // Takes onto the screen what the server has sent while the session stood
    // still (a menu was open), so that the screen is the live one.
    virtual void catchUp() {}

    // Ends the session; keys still queued are dropped.
    virtual void endSession() = 0;

    // A line on the status row for a few seconds (UTF-8).
    virtual void statusLine(const std::string& text) = 0;
    // A message box that waits for the operator.
    virtual void messageBox(const char* text) = 0;
    // Puts a mode over the session's screen (at most one at a time), once
    // the key at hand has been handled.
    virtual void openMode(std::unique_ptr<screenMode> mode) = 0;
    // A way for another thread to hand a call back to the session's thread
    // (it runs there when the session's wait next turns, and is dropped once
    // the wait is gone); taken on the session's thread. Null where the
    // session has none: the work is then done at once.
    virtual std::function<void(std::function<void()>)> handBack() { return nullptr; }
};
