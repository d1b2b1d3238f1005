#pragma once
#include <string>

#include "programs/main_startup.h"
#include "history/history.h"
#include "record/asciicast.h"
#include "record/screenshot.h"
#include "screen/savefile.h"
#include "share/webshare.h"

class consoleMain;

// The parts of the interactive program that keep or show the session's
// screen (screenshots, recordings, the history and its view, the share),
// made from the command line's options: each watches the session's feed,
// and their items follow the session's own in the session menu. They stay
// with the session for its whole life.
class sessionParts {
public:
    sessionParts(consoleMain& app, const programOptions& options);
    ~sessionParts();
    sessionParts(const sessionParts&) = delete;
    sessionParts& operator=(const sessionParts&) = delete;

    // The share of the whole run (--share), when asked for: "" when it
    // started or was not asked for, else why it could not.
    std::string startShare() { return share_.startForRun(); }

private:
    consoleMain& app_;
    saveTarget save_;
    castRecorder recorder_;
    screenHistory history_;
    webShare share_;
    screenshotAction screenshot_;
    recordAction record_;
    historyViewAction historyView_;
    historySaveAction historySave_;
    shareAction shareItem_;
    shareAddressAction shareAddress_;
};
