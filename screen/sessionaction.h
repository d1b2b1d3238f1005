#pragma once
#include <string>

#include "console/keyboard.h"

class sessionControl;

// One command of the session menu or of a session shortcut key. The session
// has its own; each consumer of the screen offers its own through this, and
// the program puts them into the session's list when it starts.
class sessionAction {
public:
    virtual ~sessionAction() = default;

    // Its item in the session menu as it reads now; "" when it has none.
    virtual std::string menuText() const { return ""; }
    // Whether this key, typed in a session, runs it.
    virtual bool takesKey(const KEY_EVENT_RECORD& key) const { return false; }

    // What the session menu does once the action has run.
    enum class after { closeMenu, keepMenu };
    virtual after run(sessionControl& session) = 0;
};
