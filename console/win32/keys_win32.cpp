// Key events made from key codes, for scripted input on the Windows build:
// a character types that character, keyVirtual + a virtual-key code presses
// that key without one, as the console would report them.

#include "console/keyboard.h"

namespace {

// The key that types a character on a US keyboard, without Shift.
WORD virtualKeyOf(unsigned char c) {
    if (c >= 'a' && c <= 'z') return static_cast<WORD>('A' + (c - 'a'));
    if ((c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')) return c;
    switch (c) {
    case ' ': return VK_SPACE;
    case '\r': return VK_RETURN;
    case 27: return VK_ESCAPE;
    case 8: return VK_BACK;
    case '\t': return VK_TAB;
    default: return 0;
    }
}

}  // namespace

void makeKeyEvent(int keyCode, INPUT_RECORD* record) {
    if (!record) return;
    *record = INPUT_RECORD{};
    record->EventType = KEY_EVENT;
    KEY_EVENT_RECORD& key = record->Event.KeyEvent;
    key.bKeyDown = TRUE;
    key.wRepeatCount = 1;
    if (keyCode >= keyVirtual) {
        key.wVirtualKeyCode = static_cast<WORD>(keyCode - keyVirtual);
    } else {
        const auto c = static_cast<unsigned char>(keyCode);
        key.uChar.AsciiChar = static_cast<CHAR>(c);
        key.wVirtualKeyCode = virtualKeyOf(c);
        if (c >= 'A' && c <= 'Z') key.dwControlKeyState = SHIFT_PRESSED;
    }
    key.wVirtualScanCode = static_cast<WORD>(MapVirtualKeyA(key.wVirtualKeyCode, MAPVK_VK_TO_VSC));
}

// The console's records already carry what a PC keyboard reports.
KEY_EVENT_RECORD pcKeyEvent(const KEY_EVENT_RECORD& key) { return key; }
