// The batch runner through the session's control: a fake session that keeps
// what the runner asks of it, and a feed the test paints.

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <ctime>
#include <functional>
#include <regex>
#include <string>
#include <vector>

#include "batch/runner.h"
#include "batch/scriptterminal.h"
#include "console/keyboard_curses.h"
#include "screen/sessioncontrol.h"

namespace {

class fakeSession : public sessionControl {
public:
    std::vector<INPUT_RECORD> keys;   // typed, in order
    size_t taken = 0;                 // of those, how many the session took
    std::vector<uint32_t> selected;
    bool ended = false;

    void sendKey(const INPUT_RECORD& key) override { keys.push_back(key); }
    void sendRawKey(uint16_t) override {}
    size_t keysQueued() const override { return keys.size() - taken; }
    bool selectScreen(uint32_t id) override {
        selected.push_back(id);
        return true;
    }
    const char* findScreen(uint32_t id) const override { return id == 7 ? "Logs" : nullptr; }
    uint32_t findScreenByName(std::string_view shown) const override { return shown == "Logs" ? 7 : 0; }
    void endSession() override { ended = true; }
    void statusLine(const std::string&) override {}
    void messageBox(const char*) override {}
    void openMode(std::unique_ptr<screenMode>) override {}
};

struct runnerCase {
    const char* what;
    std::string script;
    // What the server and the session do meanwhile; each step ends with a tick.
    std::function<void(screenFeed& feed, fakeSession& session)> serve;
    int exitCode;
    size_t keysTyped;
    std::vector<uint32_t> selected;
};

// The screen with text on its top row, as the session paints it.
void show(screenFeed& feed, const char* text) {
    uint16_t cells[screenRows][screenCols] = {};
    for (size_t i = 0; i < std::strlen(text); ++i) cells[0][i] = static_cast<uint16_t>(0x0700 | text[i]);
    bool rows[screenRows] = {true};
    feed.painted(cells, rows, 0, 0);
}

const runnerCase runnerCases[] = {
    {"a change counts as the answer once the session has taken the keys",
     "wait \"ready\"\nkey Enter\nwait \"done\"\nexpect \"second\" else 9 \"too early\"\n",
     [](screenFeed& feed, fakeSession& s) {
         show(feed, "ready");
         show(feed, "done first");   // while the key is still queued
         s.taken = s.keys.size();
         feed.tick();
         show(feed, "done second");
     },
     0, 1, {}},
    {"an answer that comes right after the session took the keys counts",
     "key Enter\nwait \"done\"\n",
     [](screenFeed& feed, fakeSession& s) {
         show(feed, "prompt");
         s.taken = s.keys.size();
         show(feed, "done");
     },
     0, 1, {}},
    {"paced keys go one at a time as the session takes them", "pace 1\ntype \"ab\"\n",
     [](screenFeed& feed, fakeSession& s) {
         show(feed, "prompt");
         EXPECT_EQ(s.keys.size(), 1u) << "the second key waits for the first";
         const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
         while (s.keys.size() < 2 && std::chrono::steady_clock::now() < until) {
             s.taken = s.keys.size();
             feed.tick();
         }
         s.taken = s.keys.size();
     },
     0, 2, {}},
    {"a long text waits for room ahead of the session", "type \"" + std::string(200, 'a') + "\"\n",
     [](screenFeed& feed, fakeSession& s) {
         show(feed, "prompt");
         EXPECT_LT(s.keys.size(), 200u) << "all keys were queued at once";
         for (int i = 0; i < 10 && s.keys.size() < 200; ++i) {
             s.taken = s.keys.size();
             feed.tick();
         }
         s.taken = s.keys.size();
     },
     0, 200, {}},
    {"a screen the session shows already is not asked for", "screen \"Logs\"\n",
     [](screenFeed& feed, fakeSession&) {
         feed.shown(7, "Logs");
         show(feed, "logs");
     },
     0, 0, {}},
    {"a screen by name is asked for once and waited for", "screen \"Logs\"\n",
     [](screenFeed& feed, fakeSession&) {
         show(feed, "console");
         feed.tick();
         feed.shown(7, "Logs");
     },
     0, 0, {7}},
    {"a screen the server does not list ends the run", "screen \"Nope\"\n",
     [](screenFeed& feed, fakeSession&) { show(feed, "console"); }, 2, 0, {}},
    {"so does a screen id it does not list, at once", "screen 9\n",
     [](screenFeed& feed, fakeSession&) { show(feed, "console"); }, 2, 0, {}},
};

}  // namespace

TEST(BatchRunner, DrivesTheSessionThroughItsControl) {
    keyboardInputInit(nullptr);   // typed characters become key events
    for (const runnerCase& c : runnerCases) {
        SCOPED_TRACE(c.what);
        const parsedScript script = parseScript(c.script);
        ASSERT_TRUE(script.errors.empty()) << script.errors[0].what;
        screenFeed feed;
        fakeSession session;
        scriptTerminal term;
        batchOutput out;
        batchRunner runner(feed, session, term, script.commands, out);
        feed.started("test", false);
        c.serve(feed, session);
        feed.tick();
        EXPECT_TRUE(runner.finished());
        EXPECT_TRUE(session.ended) << "the run ends its session";
        EXPECT_EQ(runner.exitCode(), c.exitCode) << runner.message();
        EXPECT_EQ(session.keys.size(), c.keysTyped);
        EXPECT_EQ(session.selected, c.selected);
    }
}

// The names saves write: fields replaced; with several servers, the server
// before the extension unless the name holds it.
TEST(BatchRunner, NamesSavedFilesForTheirServer) {
    const saveNaming one{"Rack_1", "10.0.0.1", false}, several{"Rack_1", "10.0.0.1", true};
    const struct {
        const char* pattern;
        const saveNaming& naming;
        const char* want;   // a regular expression
    } cases[] = {
        {"out.txt", one, "out\\.txt"},
        {"out.txt", several, "out-Rack_1\\.txt"},
        {"{host}-{screen}.json", several, "10\\.0\\.0\\.1-3-Rack_1\\.json"},
        {"{server}/{time}.html", several, "Rack_1/[0-9]{8}-[0-9]{6}\\.html"},
        {"a.b{x}.txt", one, "a\\.b\\{x\\}\\.txt"},
    };
    for (const auto& c : cases)
        EXPECT_TRUE(std::regex_match(saveFileName(c.pattern, c.naming, 3, std::time(nullptr)), std::regex(c.want)))
            << c.pattern << " -> " << saveFileName(c.pattern, c.naming, 3, std::time(nullptr));
}
