#include "batch/keynames.h"

#include <cctype>
#include <cstring>
#include <utility>

#include "net/sutil.h"

namespace {

// Keys that carry no character of their own, or one that a PC keyboard
// gives beside its scan code. code: what the session's shortcuts compare
// (the build's key code); 0 where no shortcut looks at it.
struct namedKey {
    const char* name;
    uint32_t code;
    uint32_t scan;
    char ch;
};

const namedKey namedKeys[] = {
    {"Enter", kcEnter, 0x1C, 13}, {"Esc", kcEsc, 0x01, 27},     {"Tab", 0, 0x0F, 9},
    {"Backspace", kcBackspace, 0x0E, 8},                         {"Up", kcUp, 0x48, 0},
    {"Down", kcDown, 0x50, 0},    {"Left", kcLeft, 0x4B, 0},     {"Right", kcRight, 0x4D, 0},
    {"Home", kcHome, 0x47, 0},    {"End", kcEnd, 0x4F, 0},       {"PgUp", kcPageUp, 0x49, 0},
    {"PgDn", kcPageDown, 0x51, 0}, {"Ins", kcInsert, 0x52, 0},   {"Del", kcDelete, 0x53, 0},
    {"F1", kcF1, 0x3B, 0},        {"F2", kcF2, 0x3C, 0},         {"F3", kcF3, 0x3D, 0},
    {"F4", kcF4, 0x3E, 0},        {"F5", kcF5, 0x3F, 0},         {"F6", kcF6, 0x40, 0},
    {"F7", kcF7, 0x41, 0},           {"F8", 0, 0x42, 0},            {"F9", 0, 0x43, 0},
    {"F10", 0, scanF10, 0},       {"F11", 0, scanF11, 0},        {"F12", 0, scanF12, 0},
};

// PC scan codes of the letters a to z.
constexpr unsigned char letterScans[26] = {0x1E, 0x30, 0x2E, 0x20, 0x12, 0x21, 0x22, 0x23, 0x17,
                                           0x24, 0x25, 0x26, 0x32, 0x31, 0x18, 0x19, 0x10, 0x13,
                                           0x1F, 0x14, 0x16, 0x2F, 0x11, 0x2D, 0x15, 0x2C};

// The session's shortcuts that would open a view or end the session.
struct refusedKey {
    uint32_t code;
    const char* why;
};
const refusedKey refusedAltKeys[] = {
    {kcF1, "opens the session menu, which batch mode does not show"},
    {kcF2, "ends the session: end the script (exit) instead"},
    {kcF6, "shows the screen's name, which batch mode does not show"},
    {kcF7, "opens the history view, which batch mode does not show"},
};

// The function keys whose Shift (a terminal's) or Alt (the Windows
// console's) is the session's shortcut.
bool isShortcutKey(uint32_t code) { return code >= kcF1 && code <= kcF7; }

INPUT_RECORD keyRecord(uint32_t code, uint32_t scan, char ch, uint32_t state) {
    INPUT_RECORD r{};
    r.EventType = KEY_EVENT;
    r.Event.KeyEvent.bKeyDown = 1;
    r.Event.KeyEvent.wVirtualKeyCode = code ? code : scan;
    r.Event.KeyEvent.wVirtualScanCode = scan;
    r.Event.KeyEvent.uChar.AsciiChar = ch;
    r.Event.KeyEvent.dwControlKeyState = state;
    return r;
}

}  // namespace

INPUT_RECORD typedKeyEvent(unsigned char c) {
    INPUT_RECORD r{};
    makeKeyEvent(c, &r);
    return r;
}

bool batchKeyEvent(const std::string& name, INPUT_RECORD& record, std::string& why, bool literal) {
    bool shift = false, ctrl = false, alt = false;
    std::string rest = name;
    for (;;) {
        bool* flag = nullptr;
        size_t len = 0;
        for (auto [prefix, f] : {std::pair{"Shift+", &shift}, {"Ctrl+", &ctrl}, {"Alt+", &alt}})
            if (rest.size() > std::strlen(prefix) && memicmpFolded(rest.c_str(), prefix, static_cast<int>(std::strlen(prefix))) == 0) {
                flag = f;
                len = std::strlen(prefix);
            }
        if (!flag) break;
        if (*flag) {
            why = "'" + name + "' names a modifier twice";
            return false;
        }
        *flag = true;
        rest.erase(0, len);
    }
    if (rest.size() == 1 && std::isalpha(static_cast<unsigned char>(rest[0]))) {
        const char lower = static_cast<char>(std::tolower(static_cast<unsigned char>(rest[0])));
        const uint32_t scan = letterScans[lower - 'a'];
        const uint32_t state = (ctrl ? uint32_t{ksLeftCtrl} : 0u) | (alt && !literal ? uint32_t{ksSessionAlt} : 0u);
        if (ctrl) record = keyRecord(0, scan, alt ? 0 : static_cast<char>(lower - 'a' + 1), state);
        else if (alt) record = keyRecord(0, scan, 0, state);
        else record = typedKeyEvent(static_cast<unsigned char>(shift ? lower - 'a' + 'A' : lower));
        return true;
    }
    for (const namedKey& k : namedKeys) {
        if (stricmpWhole(rest.c_str(), k.name) != 0) continue;
        const bool shortcut = !literal && (alt || (shift && isShortcutKey(k.code)));
        if (shortcut)
            for (const refusedKey& r : refusedAltKeys)
                if (k.code == r.code) {
                    why = "'" + name + "' " + r.why + "; send " + k.name + " sends the key to the server";
                    return false;
                }
        char ch = k.ch;
        if (alt || (shift && k.scan == 0x0F)) ch = 0;   // a PC keyboard gives no character with these
        else if (ctrl && k.ch == 13) ch = 10;
        else if (ctrl && k.ch == 8) ch = 127;
        record = keyRecord(k.code, k.scan, ch, (ctrl ? uint32_t{ksLeftCtrl} : 0u) | (shortcut ? uint32_t{ksSessionAlt} : 0u));
        return true;
    }
    why = "unknown key '" + name + "'";
    return false;
}
