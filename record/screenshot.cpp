#include "record/screenshot.h"

#include "screen/formats.h"
#include "screen/sessioncontrol.h"

std::string saveScreenshot(const remoteScreen& screen, const saveTarget& target) {
    std::string error;
    const std::string path = saveNewFiles(target, savedFileBase(screen.server, std::time(nullptr), screen.screenId),
                                          {{".txt", screenText(screen)}, {".html", screenHtml(screen)}}, error);
    if (path.empty()) return "Screen not saved: " + error;
    return "Screen saved: " + path + ".txt, .html";
}

sessionAction::after screenshotAction::run(sessionControl& session) {
    session.catchUp();
    saveOffSession(session, [shot = feed_.screen(), target = target_] { return saveScreenshot(shot, target); });
    return after::closeMenu;
}
