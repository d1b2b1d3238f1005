// Batch scripts: what the parser takes and refuses (with the line), and key
// names against the keys a person types in a session.

#include <gtest/gtest.h>

#include <cstring>

#include "batch/keynames.h"
#include "batch/script.h"
#include "client/sessionkeys.h"
#include "console/keyboard_curses.h"
#include "peer_util.h"

namespace {

struct scriptCase {
    const char* text;
    int errorLine;          // 0: the script is taken
    const char* errorPart;  // part of the error, or of nothing
};

const scriptCase scriptCases[] = {
    {"# only a comment\n\n   \r\n", 0, ""},
    {"wait \"a \\\"b\\\" \\\\\" row 3 timeout 2.5 # trailing\n", 0, ""},
    {"wait now /x\\/y/ timeout 1\nwait gone \"z\"\nwait still 200\n", 0, ""},
    {"key Enter ctrl+c Shift+Tab Alt+F4 F12 a\ntype \"ls -l\"\npace 20\n", 0, ""},
    {"screen 3\nscreen \"Log\"\nsave \"a.json\"\necho \"x\"\nexpect \"ok\" row 0 else 7 \"no\"\nexit 0\n", 0, ""},
    {"key Shift+F3 Shift+F4 shift+f5 Ctrl+Alt+Esc\nsend Alt+F1 Shift+F2 Alt+F6 Shift+F7 Ctrl+Alt+Esc x\n", 0, ""},
    {"wait \"login:\" or /[#$] $/ or \"x\" row 2 timeout 10\nwait now \"a\" or \"b\"\n", 0, ""},
    {"print /v([0-9]+)/ row 2\nprint /x/\nprint row 24\n", 0, ""},
    {"if \"a\" row 3\necho \"x\"\nelse\necho \"y\"\nend\nif /b/\nend\n", 0, ""},
    {"save \"{server}-{host}-{screen}-{time}.txt\"\n", 0, ""},
    {"echo \"x\"\nfrobnicate\n", 2, "unknown command"},
    {"key Shift+F1\n", 1, "session menu"},
    {"key Alt+F7\n", 1, "send F7"},
    {"wait gone \"a\" or \"b\"\n", 1, "unexpected 'or'"},
    {"wait \"a\" or\n", 1, "missing"},
    {"print \"x\"\n", 1, "print takes"},
    {"print row 25\n", 1, "row"},
    {"print\n", 1, "missing"},
    {"if \"a\"\necho \"x\"\n", 1, "if without its end"},
    {"echo \"x\"\nelse\n", 2, "else without its if"},
    {"end\n", 1, "end without its if"},
    {"if \"a\"\nif \"b\"\nend\nend\n", 2, "inside an if"},
    {"if \"a\"\nelse\nelse\nend\n", 3, "a second else"},
    {"save \"{user}.txt\"\n", 1, "unknown '{user}'"},
    {"wait \"open\n", 1, "closing"},
    {"wait /[/\n", 1, "bad regular expression"},
    {"wait /(a)\\1/\nwait /(?=a)/\n", 1, "invalid escape sequence: \\1"},
    {"wait /a/\nwait /(?<!a)b/\n", 2, "invalid perl operator"},
    {"wait \"\"\n", 1, "empty"},
    {"wait \"a\" row 25\n", 1, "row"},
    {"wait \"a\" timeout 0\n", 1, "timeout"},
    {"wait \"a\" timeout 1 timeout 2\n", 1, "unexpected"},
    {"wait now still 5\n", 1, "makes no sense"},
    {"wait still\n", 1, "missing"},
    {"\n\nkey Enter Hyper+x\n", 3, "unknown key"},
    {"key Alt+F1\n", 1, "session menu"},
    {"key Alt+F2\n", 1, "ends the session"},
    {"key Ctrl+Ctrl+a\n", 1, "twice"},
    {"key \"Enter\"\n", 1, "without quotes"},
    {"key\n", 1, "missing"},
    {"type \"a\\tb\"\n", 1, "escape"},
    {"type bare\n", 1, "double quotes"},
    {"pace -1\n", 1, "whole number"},
    {"screen 0\n", 1, "screen"},
    {"save \"shot.png\"\n", 1, ".txt"},
    {"exit 256\n", 1, "exit code"},
    {"expect \"a\" 3 \"m\"\n", 1, "else"},
    {"expect \"a\" else 0 \"m\"\n", 1, "exit code"},
    {"echo \"a\"\"b\"\n", 1, "blank must follow"},
    {"\"wait\"\n", 1, "begins with a command"},
};

}  // namespace

TEST(BatchScript, TakesGoodScriptsAndNamesTheLineOfAnError) {
    keyboardInputInit(nullptr);
    for (const scriptCase& c : scriptCases) {
        const parsedScript p = parseScript(c.text);
        const scriptProblem first = p.errors.empty() ? scriptProblem{0, ""} : p.errors[0];
        EXPECT_EQ(first.line, c.errorLine) << c.text << " -> " << first.what;
        EXPECT_NE(first.what.find(c.errorPart), std::string::npos) << c.text << " -> " << first.what;
        if (c.errorLine) {
            EXPECT_TRUE(p.commands.empty()) << c.text;
        }
    }
    const parsedScript p = parseScript("wait \"a \\\"b\\\" \\\\\" row 3 timeout 2.5\nwait now /x\\/y/\n");
    ASSERT_EQ(p.commands.size(), 2u);
    EXPECT_EQ(p.commands[0].what.text, "a \"b\" \\");
    EXPECT_EQ(p.commands[0].row, 3);
    EXPECT_EQ(p.commands[0].timeoutMs, 2500);
    EXPECT_TRUE(p.commands[1].now);
    EXPECT_TRUE(p.commands[1].what.foundIn("0x/y1"));
    EXPECT_FALSE(p.commands[1].what.foundIn("x\\/y"));
    // Every error is told, up to 20.
    std::string bad;
    for (int i = 0; i < 25; ++i) bad += "frob\n";
    const parsedScript many = parseScript("echo \"ok\"\n" + bad);
    ASSERT_EQ(many.errors.size(), scriptMaxErrors);
    EXPECT_EQ(many.errors[1].line, 3);
}

// Each key name gives the key word of the key a person types on the
// terminal (its curses code); the Alt shortcuts the same shortcut.
TEST(BatchScript, KeyNamesSendWhatTypedKeysSend) {
    using namespace peer;
    keyboardInputInit(nullptr);
    const std::pair<const char*, int> typed[] = {
        {"Enter", keyEnter}, {"Esc", keyEsc},   {"Tab", '\t'},     {"Backspace", 127}, {"Up", keyUp},
        {"Down", keyDown},   {"Left", 0404},    {"Right", 0405},   {"Home", keyHome},  {"End", keyEnd},
        {"PgUp", 0523},      {"PgDn", 0522},    {"Ins", 0513},     {"Del", 0512},      {"F1", keyF(1)},
        {"F5", keyF(5)},     {"F9", keyF(9)},   {"F10", keyF(10)}, {"F11", keyF(11)},  {"F12", keyF(12)},
        {"a", 'a'},          {"Shift+q", 'Q'},  {"Ctrl+a", 1},     {"ctrl+Z", 26},     {"Alt+F3", shiftF(3)},
        {"Alt+F4", shiftF(4)}, {"Alt+F5", shiftF(5)}, {"Shift+F3", shiftF(3)}, {"Shift+F4", shiftF(4)},
    };
    for (const auto& [name, code] : typed) {
        INPUT_RECORD batch{}, person{};
        std::string why;
        ASSERT_TRUE(batchKeyEvent(name, batch, why)) << name << ": " << why;
        makeKeyEvent(code, &person);
        const KEY_EVENT_RECORD& b = batch.Event.KeyEvent;
        const KEY_EVENT_RECORD& p = person.Event.KeyEvent;
        EXPECT_EQ(sessionKeyWord(b), sessionKeyWord(p)) << name;
        EXPECT_EQ(b.dwControlKeyState & ksSessionAlt, p.dwControlKeyState & ksSessionAlt) << name;
        if (b.dwControlKeyState & ksSessionAlt) {
            EXPECT_EQ(b.wVirtualKeyCode, p.wVirtualKeyCode) << name;
        }
    }
    // send: the key word of the key, never a shortcut.
    for (const char* name : {"Alt+F1", "Shift+F4", "Ctrl+Alt+Esc"}) {
        INPUT_RECORD sent{}, plain{};
        std::string why;
        ASSERT_TRUE(batchKeyEvent(name, sent, why, true)) << name << ": " << why;
        ASSERT_TRUE(batchKeyEvent(std::strrchr(name, '+') + 1, plain, why, true));
        EXPECT_EQ(sent.Event.KeyEvent.dwControlKeyState & ksSessionAlt, 0u) << name;
        EXPECT_EQ(sessionKeyWord(sent.Event.KeyEvent) & 0x7FFF, sessionKeyWord(plain.Event.KeyEvent)) << name;
    }
}
