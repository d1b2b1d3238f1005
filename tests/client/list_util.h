#pragma once
// Helpers of the list screen and configuration file tests: a memory terminal
// driven by a key script that keeps a picture of every screen it showed, a
// temporary folder taken as the program's own, and the texts a saved
// configuration file holds.

#include <stdlib.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <system_error>
#include <vector>

#include <gtest/gtest.h>

#define NCURSES_NOMACROS
#include <curses.h>

#include "client/srvlist.h"
#include "console/global.h"
#include "console/keyboard.h"
#include "console/keyboard_curses.h"
#include "console/term.h"
#include "crypto/rc4.h"
#include "tests/crypto/hex_util.h"

namespace lists {

// A memory terminal that keeps a picture of the whole screen each time the
// program asks for a key, so that dialogs shown in between can be checked.
class ScriptTerminal : public MemoryTerminal {
public:
    std::vector<std::string> screens;
    std::vector<std::vector<uint16_t>> cells;   // the same pictures, cell by cell

    int readKey(int timeoutMs, INPUT_RECORD& record) override
    {
        std::string s;
        for (int r = 0; r < 25; ++r) s += rowText(r) + "\n";
        screens.push_back(s);
        cells.emplace_back(&shown[0][0], &shown[0][0] + 25 * 80);
        return MemoryTerminal::readKey(timeoutMs, record);
    }
    // The attribute of the first cell of text in the first picture holding
    // it, or -1 when no picture held it.
    int attrOf(const std::string& text) const
    {
        int i = firstShown(text);
        if (i < 0) return -1;
        size_t at = screens[static_cast<size_t>(i)].find(text);
        size_t row = at / 81, col = at % 81;
        // Tests may clear screens; cells then holds older pictures in front.
        size_t picture = cells.size() - screens.size() + static_cast<size_t>(i);
        return cells[picture][row * 80 + col] >> 8;
    }
    // Index of the first picture holding text, or -1.
    int firstShown(const std::string& text) const
    {
        for (size_t i = 0; i < screens.size(); ++i)
            if (screens[i].find(text) != std::string::npos) return static_cast<int>(i);
        return -1;
    }
    // The text field of the first input box (10,10) that showed the prompt,
    // all 58 cells of it; "" when no box showed the prompt.
    std::string fieldWhile(const std::string& prompt) const
    {
        int i = firstShown(prompt);
        if (i < 0) return "";
        return screens[static_cast<size_t>(i)].substr(12 * 81 + 11, 58);
    }
    // The same field without its trailing blanks; "<not shown>" when no box
    // showed the prompt, so that an empty field can be told from no box.
    std::string trimmedFieldWhile(const std::string& prompt) const
    {
        if (firstShown(prompt) < 0) return "<not shown>";
        std::string field = fieldWhile(prompt);
        return field.substr(0, field.find_last_not_of(' ') + 1);
    }
    // The trimmed field of the input box in the picture right after the
    // first one holding text: the box shown again after a refusal.
    std::string fieldAfter(const std::string& text) const
    {
        const int i = firstShown(text);
        if (i < 0 || static_cast<size_t>(i) + 1 >= screens.size()) return "<not shown>";
        std::string field = screens[static_cast<size_t>(i) + 1].substr(12 * 81 + 11, 58);
        return field.substr(0, field.find_last_not_of(' ') + 1);
    }
    // Types the text into the current box, then Enter unless told otherwise.
    void type(const std::string& text, bool enter = true)
    {
        pushText(text);
        if (enter) pushKey(13);
    }
    // n times Delete.
    void erase(int n)
    {
        for (int i = 0; i < n; ++i) pushKey(KEY_DC);
    }
};

// The base of the list screen fixtures: a List of Info entries shown on a
// ScriptTerminal.
template <class List, class Info>
class ListScreenTest : public ::testing::Test {
protected:
    ScriptTerminal term;
    List list;

    void SetUp() override
    {
        setTerminal(&term);
        keyboardInputInit(nullptr);
        list.init(nullptr);
    }
    void TearDown() override { setTerminal(nullptr); }

    // Adds an entry as the configuration reader would.
    void add(const char* value)
    {
        std::string v = value;
        ASSERT_EQ(list.parse(v.data()), 0);
    }
    // Runs the list until the script ends (which reads as Esc).
    int run() { return list.execute(); }
    Info* entry(int i) { return static_cast<Info*>(list.getItem(i)->data); }
    std::string text(int i) { return list.getItem(i)->text; }
};

// A temporary folder that the program takes as its own: it keeps its
// configuration file there. For the SetUp and TearDown of a fixture.
class ProgramFolder {
protected:
    std::filesystem::path dir;

    // Makes the folder and starts without a master password; false when the
    // folder cannot be made.
    bool makeFolder()
    {
        char tmpl[] = "/tmp/quorcliXXXXXX";
        if (!mkdtemp(tmpl)) return false;
        dir = tmpl;
        setGlobalString(&modulePath, (dir.string() + "/").c_str());
        return true;
    }
    // Forgets the folder, and removes it with all in it (even where a test
    // took the owner's rights away).
    void removeFolder()
    {
        setGlobalString(&modulePath, nullptr);
        setGlobalString(&startupConfig, nullptr);
        std::error_code ec;
        std::filesystem::permissions(dir, std::filesystem::perms::owner_all, ec);
        std::filesystem::remove_all(dir, ec);
    }

    std::filesystem::path cfg() const { return dir / "quorcli.cfg"; }
    // Writes the bytes to the configuration file or to p.
    void writeFile(const std::string& bytes, const std::filesystem::path& p = {}) const
    {
        std::ofstream out(p.empty() ? cfg() : p, std::ios::binary);
        out << bytes;
    }
    // The bytes of the configuration file or of p ("" when it cannot be read).
    std::string readFile(const std::filesystem::path& p = {}) const
    {
        std::ifstream in(p.empty() ? cfg() : p, std::ios::binary);
        std::stringstream ss;
        ss << in.rdbuf();
        return ss.str();
    }
};

// The first lines of the two sections of a saved configuration file.
const std::string serverHeader = "; QUORVEX servers (hostname:port,description,password)\r\n";
const std::string proxyHeader = "\r\n; Proxy servers (user:pass@proxyhostname:port,description)\r\n";

// The stored-password field a file holds for `clear` under `master`.
inline std::string storedField(const char* clear, const char* master)
{
    serverInfo s;
    s.setPassword(clear);
    rc4Cipher c;
    c.setKey(master);
    c.crypt(s.password, storedPasswordLen, 0);
    return hex(s.password, storedPasswordLen);
}

}  // namespace lists
