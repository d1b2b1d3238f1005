// Names of saved files: whatever bytes a description holds, what comes out
// can be a file name on Linux and on Windows.

#include <gtest/gtest.h>

#include <cstring>
#include <future>
#include <mutex>
#include <thread>
#include <vector>
#include <string>

#include "console/cp437.h"
#include "screen/savefile.h"
#include "screen/sessioncontrol.h"

namespace {

// No separator, drive colon, wildcard, quote or control byte; not empty, at
// most 80 bytes, no dot first, no dot or blank last, and UTF-8 throughout.
void expectSafe(const std::string& name, const std::string& from) {
    EXPECT_FALSE(name.empty()) << from;
    EXPECT_LE(name.size(), 80u) << from;
    EXPECT_NE(name.front(), '.') << from;
    EXPECT_TRUE(name.back() != '.' && name.back() != ' ') << from;
    std::string_view rest = name;
    while (!rest.empty()) {
        char32_t c = 0;
        const size_t n = utf8Next(rest, c);
        ASSERT_GT(n, 0u) << "broken UTF-8 in " << name;
        EXPECT_TRUE(c >= 32 && c != 127 && (c > 127 || !std::strchr("/\\:*?\"<>|", static_cast<int>(c)))) << from;
        rest.remove_prefix(n);
    }
}

}  // namespace

TEST(SafeFileName, EveryByteGivesANameBothSystemsTake) {
    for (int b = 0; b < 256; ++b) {
        const std::string one(1, static_cast<char>(b));
        expectSafe(safeFileName(one), "byte " + std::to_string(b));
        expectSafe(safeFileName("a" + one + "b"), "byte " + std::to_string(b) + " inside");
    }
    // A glyph of two bytes is never cut at the 80-byte limit.
    expectSafe(safeFileName(std::string(79, 'x') + "\x82"), "a glyph at the limit");
    EXPECT_EQ(safeFileName(std::string(79, 'x') + "\x82"), std::string(79, 'x'));
}

TEST(SafeFileName, PlainTextStaysAndTheRulesReplaceWithUnderscore) {
    const struct {
        const char* text;
        const char* name;
    } cases[] = {
        {"Rack 12 - node 3", "Rack_12_-_node_3"}, {"a/b\\c:d", "a_b_c_d"}, {".hidden", "_hidden"},
        {"end.", "end_"},                         {"..", "__"},           {"", "_"},
        {"tab\there", "tab_here"},                {"caf\x82", "caf\xc3\xa9"},
    };
    for (const auto& c : cases) EXPECT_EQ(safeFileName(c.text), c.name) << c.text;
}

// A file the operator asked for is written on a thread of its own: the
// session goes on while the disk takes its time, and hears how it went on
// its own thread, through what it hands back.
TEST(SaveOffSession, TheSessionGoesOnWhileTheDiskIsSlow) {
    struct control final : sessionControl {
        std::vector<std::function<void()>> handed;
        std::mutex mutex;
        std::string said;
        void sendKey(const INPUT_RECORD&) override {}
        void sendRawKey(uint16_t) override {}
        size_t keysQueued() const override { return 0; }
        bool selectScreen(uint32_t) override { return false; }
        const char* findScreen(uint32_t) const override { return nullptr; }
        uint32_t findScreenByName(std::string_view) const override { return 0; }
        void endSession() override {}
        void statusLine(const std::string& text) override { said = text; }
        void messageBox(const char*) override {}
        void openMode(std::unique_ptr<screenMode>) override {}
        std::function<void(std::function<void()>)> handBack() override {
            return [this](std::function<void()> call) {
                std::lock_guard<std::mutex> lock(mutex);
                handed.push_back(std::move(call));
            };
        }
    } session;
    std::promise<void> diskDone;
    saveOffSession(session, [done = diskDone.get_future().share()] {
        done.wait();   // the disk holds the writer, not the caller
        return std::string("Screen saved: x.txt");
    });
    EXPECT_EQ(session.said, "");
    diskDone.set_value();
    for (int i = 0; i < 1000; ++i) {
        std::lock_guard<std::mutex> lock(session.mutex);
        if (!session.handed.empty()) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    std::lock_guard<std::mutex> lock(session.mutex);
    ASSERT_EQ(session.handed.size(), 1u);
    EXPECT_EQ(session.said, "") << "said on the writer's thread";
    session.handed[0]();
    EXPECT_EQ(session.said, "Screen saved: x.txt");
}
