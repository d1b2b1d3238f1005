#include <chrono>
#include <map>
#include <string>
#include <tuple>
#include <vector>

#include <gtest/gtest.h>

#define NCURSES_NOMACROS
#include <curses.h>

#include "console/global.h"
#include "console/keyboard.h"
#include "console/keyboard_curses.h"
#include "console/term.h"

namespace {

using Info = std::tuple<int, int, int>;  // scan code, character, state

Info info(int code) {
    int scan = -1, ch = -1, state = -1;
    getKeyInfo(code, &scan, &ch, &state);
    return {scan, ch, state};
}

// What every curses key code must produce, written from the key tables.
std::map<int, Info> expectedKeys() {
    std::map<int, Info> m;
    auto keys = [&m](int scan, const std::string& chars) {
        for (unsigned char c : chars) m[c] = {scan++, c, 0};
    };
    keys(0x02, "1234567890");
    keys(0x0D, "=");
    keys(0x0F, "\t");
    keys(0x10, "qwertyuiop[]");
    keys(0x1E, "asdfghjkl;'~");
    keys(0x2C, "zxcvbnm,./");
    keys(0x39, " ");
    keys(0x4A, "-");
    keys(0x4E, "+");
    const std::pair<int, int> plain[] = {
        {13, 0x1C},        {27, 0x01},         {KEY_F(10), 0x01}, {KEY_UP, 0x48},
        {KEY_DOWN, 0x50},  {KEY_LEFT, 0x4B},   {KEY_RIGHT, 0x4D}, {KEY_PPAGE, 0x49},
        {KEY_NPAGE, 0x51}, {KEY_IC, 0x52},     {KEY_DC, 0x53},    {KEY_HOME, 0x47},
        {KEY_END, 0x4F},   {KEY_ENTER, 0x1C},  {127, 0x0E},       {KEY_BACKSPACE, 0x0E},
    };
    for (auto [code, scan] : plain) m[code] = {scan, 0, 0};
    for (int n = 0; n < 9; ++n) m[KEY_F(1 + n)] = {0x3B + n, 0, 0};
    for (int n = 0; n < 10; ++n) m[KEY_F(13 + n)] = {0x3B + n, 0, 6};
    return m;
}

// Records the escape sequences the keyboard set-up teaches the terminal.
class RecordingTerminal : public MemoryTerminal {
public:
    std::map<std::string, int> defined;
    void defineKey(const char* sequence, int keyCode) override { defined[sequence] = keyCode; }
};

class KeyboardTest : public ::testing::Test {
protected:
    MemoryTerminal term;
    void SetUp() override {
        EXIT = 0;
        setTerminal(&term);
        keyboardInputInit(nullptr);
    }
    void TearDown() override {
        EXIT = 0;
        setTerminal(nullptr);
    }
};

TEST_F(KeyboardTest, EveryKeyCodeMapsAsTheTablesSay) {
    const auto expected = expectedKeys();
    for (int code = 0; code < 2000; ++code) {
        Info want{0, 0, 0};
        if (auto it = expected.find(code); it != expected.end()) want = it->second;
        else if (code < 256) want = {0, code, 0};
        EXPECT_EQ(info(code), want) << "key code " << code;
    }
    EXPECT_EQ(info(-5), Info(0, 0, 0));
    EXPECT_EQ(info(2000), Info(0, 0, 0));
}

TEST_F(KeyboardTest, KeysOperatorsNotice) {
    EXPECT_EQ(info(13), Info(0x1C, 0, 0));        // Enter never carries 13
    EXPECT_EQ(info('A'), Info(0, 'A', 0));
    EXPECT_EQ(info('a'), Info(0x1E, 'a', 0));
    EXPECT_EQ(info('-'), Info(0x4A, '-', 0));     // keypad minus wins over the top row
    EXPECT_EQ(info('/'), Info(0x35, '/', 0));
    EXPECT_EQ(info('+'), Info(0x4E, '+', 0));
    EXPECT_EQ(info('\\'), Info(0, '\\', 0));
    EXPECT_EQ(info(1), Info(0, 1, 0));            // Ctrl+A
    EXPECT_EQ(info(0xE9), Info(0, 0xE9, 0));
    EXPECT_EQ(info(KEY_F(13)), Info(0x3B, 0, 6)); // Shift+F1
    EXPECT_EQ(info(KEY_F(1)), Info(0x3B, 0, 0));
    EXPECT_EQ(info(KEY_F(10)), Info(0x01, 0, 0)); // F10 closes like Esc
    EXPECT_EQ(info(KEY_F(11)), Info(0, 0, 0));
    EXPECT_EQ(info(KEY_F(12)), Info(0, 0, 0));
    EXPECT_EQ(info(KEY_RESIZE), Info(0, 0, 0));
}

TEST_F(KeyboardTest, MapKeyIgnoresCodesOutsideTheTableAndInitClears) {
    mapKey(0, 0x10, 'x', 0);
    mapKey(2000, 0x10, 'x', 0);
    mapKey(-1, 0x10, 'x', 0);
    EXPECT_EQ(info(0), Info(0, 0, 0));
    mapKey(500, 0x33, 'k', 2);
    EXPECT_EQ(info(500), Info(0x33, 'k', 2));
    mapKey(500, 0, 'k', 2);  // scan code 0 counts as absent
    EXPECT_EQ(info(500), Info(0, 0, 0));
    initKeyMap();
    EXPECT_EQ(info(13), Info(0, 13, 0));
    EXPECT_EQ(info('a'), Info(0x1E, 'a', 0));
}

TEST_F(KeyboardTest, SetUpTeachesTheTerminalItsSequences) {
    RecordingTerminal rec;
    setTerminal(&rec);
    keyboardInputInit(nullptr);
    EXPECT_EQ(rec.defined.size(), 52u);
    const std::pair<const char*, int> sequences[] = {
        {"\033[1~", KEY_HOME},    {"\033OH", KEY_HOME},     {"\033[4~", KEY_END},     {"\033OF", KEY_END},
        {"\033OM", KEY_ENTER},    {"\033OP", KEY_F(1)},     {"\033OS", KEY_F(4)},     {"\033[[A", KEY_F(1)},
        {"\033[[E", KEY_F(5)},    {"\033[11~", KEY_F(1)},   {"\033[15~", KEY_F(5)},   {"\033[17~", KEY_F(6)},
        {"\033[20~", KEY_F(9)},   {"\033[21~", KEY_F(10)},  {"\033[24~", KEY_F(12)},  {"\033[1;2P", KEY_F(13)},
        {"\033[1;2S", KEY_F(16)}, {"\033O2P", KEY_F(13)},   {"\033[15;2~", KEY_F(17)}, {"\033[17;2~", KEY_F(18)},
        {"\033[21;2~", KEY_F(22)}, {"\033[25~", KEY_F(13)}, {"\033[28~", KEY_F(15)},  {"\033[34~", KEY_F(20)},
    };
    for (auto [sequence, code] : sequences) EXPECT_EQ(rec.defined[sequence], code) << sequence + 1;
    EXPECT_EQ(rec.defined.count("\033[16~"), 0u);  // no terminal sends it
}

// A terminal whose Backspace key sends ^H.
class CtrlHTerminal : public MemoryTerminal {
public:
    bool backspaceIsCtrlH() const override { return true; }
};

TEST_F(KeyboardTest, ByteEightIsBackspaceWhereTheTerminalSaysSo) {
    EXPECT_EQ(info(8), Info(0, 8, 0));  // elsewhere it is Ctrl+H
    CtrlHTerminal ctrlH;
    setTerminal(&ctrlH);
    keyboardInputInit(nullptr);
    EXPECT_EQ(info(8), Info(kcBackspace, 0, 0));
    EXPECT_EQ(info(127), Info(kcBackspace, 0, 0));
}

TEST_F(KeyboardTest, GetKeyFillsRecordsFromScriptedKeys) {
    term.pushKey(13);
    term.pushText("Aa");
    term.pushKey(0);
    term.pushKey(KEY_F(13));
    INPUT_RECORD r{};
    ASSERT_EQ(getKey(nullptr, &r), 1);
    EXPECT_EQ(r.EventType, KEY_EVENT);
    EXPECT_EQ(r.Event.KeyEvent.bKeyDown, 1);
    EXPECT_EQ(r.Event.KeyEvent.wVirtualKeyCode, kcEnter);
    EXPECT_EQ(r.Event.KeyEvent.wVirtualScanCode, kcEnter);
    EXPECT_EQ(r.Event.KeyEvent.uChar.AsciiChar, 0);
    ASSERT_EQ(getKey(nullptr, &r), 1);
    EXPECT_EQ(r.Event.KeyEvent.wVirtualKeyCode, 0u);
    EXPECT_EQ(r.Event.KeyEvent.uChar.AsciiChar, 'A');
    ASSERT_EQ(getKey(nullptr, &r), 1);
    EXPECT_EQ(r.Event.KeyEvent.wVirtualKeyCode, 0x1Eu);
    EXPECT_EQ(r.Event.KeyEvent.uChar.AsciiChar, 'a');

    // A key code of 0 is not reported; the record keeps what it had.
    EXPECT_EQ(getKey(nullptr, &r), 0);
    EXPECT_EQ(r.Event.KeyEvent.uChar.AsciiChar, 'a');
    ASSERT_EQ(getKey(nullptr, &r), 1);
    EXPECT_EQ(r.Event.KeyEvent.wVirtualKeyCode, kcF1);
    EXPECT_EQ(r.Event.KeyEvent.dwControlKeyState, ksShiftedFunction);

    EXPECT_EQ(getKey(nullptr, &r), 0);
    EXPECT_EQ(r.Event.KeyEvent.wVirtualKeyCode, kcF1);
    term.goneWhenEmpty = false;
    EXPECT_EQ(getKey(nullptr, &r), 0);
}

TEST_F(KeyboardTest, WaitKeyReportsKeysTimeoutsAndGoneInput) {
    INPUT_RECORD r{};
    term.pushKey(KEY_UP);
    EXPECT_EQ(waitKey(nullptr, &r, -1), 1);
    EXPECT_EQ(r.Event.KeyEvent.wVirtualKeyCode, kcUp);
    term.pushKey(0);  // skipped, not reported
    term.pushKey('x');
    EXPECT_EQ(waitKey(nullptr, &r, 1000), 1);
    EXPECT_EQ(r.Event.KeyEvent.uChar.AsciiChar, 'x');

    EXPECT_EQ(waitKey(nullptr, &r, -1), -1);  // script used up: input gone
    term.goneWhenEmpty = false;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(waitKey(nullptr, &r, -1), 0);   // scripted input cannot block
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));

    term.pushKey('y');
    EXIT = 1;
    EXPECT_EQ(waitKey(nullptr, &r, -1), -1);  // a termination request wins
    EXPECT_EQ(term.keys.size(), 1u);
    EXIT = 0;

    setTerminal(nullptr);  // no terminal at all: nothing to wait for
    EXPECT_EQ(waitKey(nullptr, &r, -1), -1);
    EXPECT_EQ(getKey(nullptr, &r), 0);
}

// A terminal whose waits end early without a key, as a signal ends poll().
class InterruptedTerminal : public MemoryTerminal {
public:
    int interruptions = 0;
    int calls = 0;
    int inputFd() const override { return 0; }
    int readKey(int timeoutMs, INPUT_RECORD& record) override {
        ++calls;
        if (interruptions > 0) {
            --interruptions;
            return 0;
        }
        return MemoryTerminal::readKey(timeoutMs, record);
    }
};

TEST_F(KeyboardTest, WaitKeyKeepsWaitingAfterAnInterruptedWait) {
    InterruptedTerminal it;
    it.goneWhenEmpty = false;
    setTerminal(&it);
    it.interruptions = 3;
    it.pushKey(KEY_DOWN);
    INPUT_RECORD r{};
    EXPECT_EQ(waitKey(nullptr, &r, -1), 1);
    EXPECT_EQ(r.Event.KeyEvent.wVirtualKeyCode, kcDown);
    EXPECT_EQ(it.calls, 4);

    // A bounded wait ends when its time is up even if waits keep ending early.
    it.interruptions = 1 << 30;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(waitKey(nullptr, &r, 30), 0);
    const auto took = std::chrono::steady_clock::now() - start;
    EXPECT_GE(took, std::chrono::milliseconds(30));
    EXPECT_LT(took, std::chrono::seconds(2));
}

TEST_F(KeyboardTest, MadeEventsAndEscEvent) {
    INPUT_RECORD r{};
    makeKeyEvent(KEY_BACKSPACE, &r);
    EXPECT_EQ(r.EventType, KEY_EVENT);
    EXPECT_EQ(r.Event.KeyEvent.wVirtualKeyCode, kcBackspace);
    EXPECT_EQ(r.Event.KeyEvent.uChar.AsciiChar, 0);
    makeKeyEvent('9', &r);
    EXPECT_EQ(r.Event.KeyEvent.wVirtualKeyCode, 0x0Au);
    EXPECT_EQ(r.Event.KeyEvent.uChar.AsciiChar, '9');
    makeKeyEvent(KEY_F(22), &r);
    EXPECT_EQ(r.Event.KeyEvent.wVirtualKeyCode, 0x44u);
    EXPECT_EQ(r.Event.KeyEvent.dwControlKeyState, 6u);

    const INPUT_RECORD esc = escEvent();
    EXPECT_EQ(esc.EventType, KEY_EVENT);
    EXPECT_EQ(esc.Event.KeyEvent.bKeyDown, 1);
    EXPECT_EQ(esc.Event.KeyEvent.wVirtualKeyCode, kcEsc);
    EXPECT_EQ(esc.Event.KeyEvent.uChar.AsciiChar, 0);
    EXPECT_EQ(esc.Event.KeyEvent.dwControlKeyState, 0u);
}

}  // namespace
