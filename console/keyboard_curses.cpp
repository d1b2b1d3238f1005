#include "console/keyboard_curses.h"

#include <cstring>

#define NCURSES_NOMACROS
#include <curses.h>

#include "console/term.h"

// Unshifted character of each PC scan code on a US keyboard, or 0.
const unsigned char scanTable[110] = {
    0,   0,   '1', '2', '3', '4', '5', '6', '7', '8', '9', '0', '-',  '=', 0,   9,    // 0x00
    'q', 'w', 'e', 'r', 't', 'y', 'u', 'i', 'o', 'p', '[', ']', 0,    0,   'a', 's',  // 0x10
    'd', 'f', 'g', 'h', 'j', 'k', 'l', ';', '\'', '~', 0,  '/', 'z',  'x', 'c', 'v',  // 0x20
    'b', 'n', 'm', ',', '.', '/', 0,   0,   0,   ' ', 0,   0,   0,    0,   0,   0,    // 0x30
    0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   '-', 0,   0,    0,   '+', 0,    // 0x40
    0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0,    0,   0,   0,    // 0x50
    0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0,    0,                // 0x60
};

int reverseTable[256];
unsigned char keyMapTable[2000][3];

namespace {

constexpr int keyMapSize = 2000;

struct KeySequence {
    const char* sequence;
    int keyCode;
};

// Sequences that terminals send, defined whatever their descriptions say.
// xterm, VTE, tmux, screen and the Linux console number F6..F10 from 17 (16
// is skipped). Shift+F1..F10 arrive as F13..F22: the xterm form, its older
// SS3 form and the Linux console's (which stops at Shift+F8).
const KeySequence keySequences[] = {
    {"\033[1~", KEY_HOME},      {"\033[7~", KEY_HOME},      {"\033[H", KEY_HOME},
    {"\033OH", KEY_HOME},       {"\033[4~", KEY_END},       {"\033[8~", KEY_END},
    {"\033[F", KEY_END},        {"\033OF", KEY_END},        {"\033OM", KEY_ENTER},
    {"\033OP", KEY_F(1)},       {"\033OQ", KEY_F(2)},       {"\033OR", KEY_F(3)},
    {"\033OS", KEY_F(4)},       {"\033[[A", KEY_F(1)},      {"\033[[B", KEY_F(2)},
    {"\033[[C", KEY_F(3)},      {"\033[[D", KEY_F(4)},      {"\033[[E", KEY_F(5)},
    {"\033[11~", KEY_F(1)},     {"\033[12~", KEY_F(2)},     {"\033[13~", KEY_F(3)},
    {"\033[14~", KEY_F(4)},     {"\033[15~", KEY_F(5)},     {"\033[17~", KEY_F(6)},
    {"\033[18~", KEY_F(7)},     {"\033[19~", KEY_F(8)},     {"\033[20~", KEY_F(9)},
    {"\033[21~", KEY_F(10)},    {"\033[23~", KEY_F(11)},    {"\033[24~", KEY_F(12)},
    {"\033[1;2P", KEY_F(13)},   {"\033[1;2Q", KEY_F(14)},   {"\033[1;2R", KEY_F(15)},
    {"\033[1;2S", KEY_F(16)},   {"\033O2P", KEY_F(13)},     {"\033O2Q", KEY_F(14)},
    {"\033O2R", KEY_F(15)},     {"\033O2S", KEY_F(16)},     {"\033[15;2~", KEY_F(17)},
    {"\033[17;2~", KEY_F(18)},  {"\033[18;2~", KEY_F(19)},  {"\033[19;2~", KEY_F(20)},
    {"\033[20;2~", KEY_F(21)},  {"\033[21;2~", KEY_F(22)},  {"\033[25~", KEY_F(13)},
    {"\033[26~", KEY_F(14)},    {"\033[28~", KEY_F(15)},    {"\033[29~", KEY_F(16)},
    {"\033[31~", KEY_F(17)},    {"\033[32~", KEY_F(18)},    {"\033[33~", KEY_F(19)},
    {"\033[34~", KEY_F(20)},
};

struct KeyMapping {
    int keyCode;
    int scanCode;
};

// Keys that carry no character: Enter, Esc (and F10 as Esc), cursor and
// editing keys, Backspace. A resize never arrives as a key: the terminal
// redraws itself.
const KeyMapping plainKeys[] = {
    {13, kcEnter},           {27, kcEsc},           {KEY_F(10), kcEsc},
    {KEY_UP, kcUp},          {KEY_DOWN, kcDown},    {KEY_LEFT, kcLeft},
    {KEY_RIGHT, kcRight},    {KEY_PPAGE, kcPageUp}, {KEY_NPAGE, kcPageDown},
    {KEY_IC, kcInsert},      {KEY_DC, kcDelete},    {KEY_HOME, kcHome},
    {KEY_END, kcEnd},        {KEY_ENTER, kcEnter},  {127, kcBackspace},
    {KEY_BACKSPACE, kcBackspace},
};

// Keys whose PC scan code is not the code the controls test: F10 closes
// like Esc there and F11 and F12 do nothing, but a session sends them as a
// PC keyboard does.
const KeyMapping pcScans[] = {{KEY_F(10), scanF10}, {KEY_F(11), scanF11}, {KEY_F(12), scanF12}};

// The characters a PC keyboard gives with Enter, Esc and Backspace, which
// carry none here.
const KeyMapping pcChars[] = {{13, kcEnter}, {27, kcEsc}, {8, kcBackspace}};

// The key that types a control character with Ctrl: a letter from 1 to 26,
// then backslash, ], 6 and the main minus (reverseTable has no backslash
// and gives the keypad's minus). 27 is Esc and never comes here.
uint32_t ctrlScan(unsigned char c) {
    static constexpr unsigned char rest[] = {0x2B, 0x1B, 0x07, 0x0C};
    if (c >= 1 && c <= 26) return static_cast<uint32_t>(reverseTable['a' + c - 1]);
    if (c >= 28 && c <= 31) return rest[c - 28];
    return 0;
}

}  // namespace

void initKeyMap() {
    std::memset(keyMapTable, 0, sizeof keyMapTable);
    std::memset(reverseTable, 0, sizeof reverseTable);
    // Ascending order: where a character appears twice the higher code wins.
    for (int scan = 0; scan < static_cast<int>(sizeof scanTable); ++scan)
        if (scanTable[scan]) reverseTable[scanTable[scan]] = scan;
}

void mapKey(int keyCode, int scanCode, int character, int state) {
    if (keyCode < 1 || keyCode >= keyMapSize) return;
    keyMapTable[keyCode][0] = static_cast<unsigned char>(scanCode);
    keyMapTable[keyCode][1] = static_cast<unsigned char>(character);
    keyMapTable[keyCode][2] = static_cast<unsigned char>(state);
}

void getKeyInfo(int keyCode, int* scanCode, int* character, int* state) {
    int scan = 0, ch = 0, st = 0;
    if (keyCode >= 1 && keyCode < keyMapSize && keyMapTable[keyCode][0] != 0) {
        scan = keyMapTable[keyCode][0];
        ch = keyMapTable[keyCode][1];
        st = keyMapTable[keyCode][2];
    } else if (keyCode >= 0 && keyCode < 256) {
        ch = keyCode;
        scan = reverseTable[keyCode];
    }
    if (scanCode) *scanCode = scan;
    if (character) *character = ch;
    if (state) *state = st;
}

void keyboardInputInit(_win_st*) {
    initKeyMap();
    for (const KeySequence& k : keySequences) terminal()->defineKey(k.sequence, k.keyCode);
    for (const KeyMapping& k : plainKeys) mapKey(k.keyCode, k.scanCode, 0, 0);
    // Where Backspace sends ^H, byte 8 is that key, not Ctrl+H.
    if (terminal()->backspaceIsCtrlH()) mapKey(8, kcBackspace, 0, 0);
    for (int n = 0; n < 10; ++n) mapKey(KEY_F(13 + n), kcF1 + n, 0, ksShiftedFunction);
    for (int n = 0; n < 9; ++n) mapKey(KEY_F(1 + n), kcF1 + n, 0, 0);
}

void makeKeyEvent(int keyCode, INPUT_RECORD* record) {
    if (!record) return;
    int scan = 0, ch = 0, state = 0;
    getKeyInfo(keyCode, &scan, &ch, &state);
    *record = INPUT_RECORD{};
    record->EventType = KEY_EVENT;
    KEY_EVENT_RECORD& key = record->Event.KeyEvent;
    key.bKeyDown = 1;
    key.wVirtualKeyCode = static_cast<uint32_t>(scan);
    key.wVirtualScanCode = static_cast<uint32_t>(scan);
    for (const KeyMapping& k : pcScans)
        if (k.keyCode == keyCode) key.wVirtualScanCode = static_cast<uint32_t>(k.scanCode);
    key.dwControlKeyState = static_cast<uint32_t>(state);
    key.uChar.AsciiChar = static_cast<char>(ch);
}


KEY_EVENT_RECORD pcKeyEvent(const KEY_EVENT_RECORD& key) {
    KEY_EVENT_RECORD pc = key;
    const auto c = static_cast<unsigned char>(key.uChar.AsciiChar);
    if (c == 0) {
        for (const KeyMapping& k : pcChars)
            if (key.wVirtualScanCode == static_cast<uint32_t>(k.scanCode)) pc.uChar.AsciiChar = static_cast<char>(k.keyCode);
    } else if (c < 32 && key.wVirtualScanCode == 0) {
        pc.wVirtualScanCode = ctrlScan(c);
        pc.dwControlKeyState |= ksLeftCtrl;
    }
    return pc;
}
