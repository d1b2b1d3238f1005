// Names of saved files: whatever bytes a description holds, what comes out
// can be a file name on Linux and on Windows.

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "console/cp437.h"
#include "screen/savefile.h"

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
