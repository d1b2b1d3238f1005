#pragma once
#include <string>

#include "screen/savefile.h"
#include "screen/screenfeed.h"
#include "screen/sessionaction.h"

// Saves the screen as NAME.txt and NAME.html in the save folder, NAME being
// <server>-<screen id>-<time>. What the status row should say: where the
// files went, or why they did not.
std::string saveScreenshot(const remoteScreen& screen, const saveTarget& target);

// The session menu's "Save screen to file": the server's picture as it
// stands, without the menu over it.
class screenshotAction : public sessionAction {
public:
    screenshotAction(const screenFeed& feed, const saveTarget& target) : feed_(feed), target_(target) {}
    std::string menuText() const override { return "Save screen to file"; }
    after run(sessionControl& session) override;

private:
    const screenFeed& feed_;
    const saveTarget& target_;
};
