#include "client/build.h"

const buildProfile linuxProfile = {
    "ZEV Telvane/IP v.1.7",
    "Quorvex Client v.1.7 - disconnected",
    "%s (%s:%d) - Quorvex Client v.1.7",
    false,
    false,
    "Shift+F2",
    "quorcli v.1.7",
    true,
    "Shift",
    0x2A00,
    "$XDG_DATA_HOME/quorcli\n(~/.local/share/quorcli)",
};

const buildProfile windowsProfile = {
    "ZEV Telvane/IP v.1.73",
    "Quorvex Client v.1.73 - disconnected",
    "%s (%s:%d) - Quorvex Client v.1.73",
    true,
    true,
    "Alt+F2",
    "quorcli v.1.73",
    false,
    "Alt",
    0x3800,
    "%LOCALAPPDATA%\\quorcli",
};

namespace {
const buildProfile* chosen = nullptr;
}

const buildProfile& thisBuild() { return chosen ? *chosen : nativeBuild(); }

void useBuildProfile(const buildProfile* profile) { chosen = profile; }
