#include "programs/main_parts.h"

#include <algorithm>

#include "client/cfgplace.h"
#include "client/cmain.h"

sessionParts::sessionParts(consoleMain& app, const programOptions& options)
    : app_(app), save_{options.saveDir, cfgUserDataFolder}, recorder_(app.session.feed, save_, options.record),
      history_(app.session.feed, options.historyLines), share_(app.session.feed, options.share), screenshot_(app.session.feed, save_),
      record_(recorder_), historyView_(history_, app.session.feed), historySave_(history_, app.session.feed, save_),
      shareItem_(share_), shareAddress_(share_) {
    app_.actions = {&screenshot_, &record_, &historyView_, &historySave_, &shareItem_, &shareAddress_};
}

sessionParts::~sessionParts() {
    std::erase_if(app_.actions, [this](sessionAction* a) {
        return a == &screenshot_ || a == &record_ || a == &historyView_ || a == &historySave_ || a == &shareItem_ ||
               a == &shareAddress_;
    });
}
