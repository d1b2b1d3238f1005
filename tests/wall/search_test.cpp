#include <gtest/gtest.h>

#include "tests/wall/wall_util.h"
#include "wall/wallpage.h"
#include "wall/wallsearch.h"

namespace {

struct console {
    std::string description;
    uint16_t cells[screenRows][screenCols] = {};
    std::vector<std::string> history;   // newest first
    size_t read = 0;                    // history lines the search asked for
};

bool search(std::string_view query, std::vector<console>& consoles, std::string& json) {
    std::vector<wallSearchConsole> in;
    for (size_t i = 0; i < consoles.size(); ++i) {
        console& c = consoles[i];
        in.push_back({static_cast<int>(i), c.description, c.cells, [&c](const auto& line) {
                          for (const std::string& l : c.history)
                              if (++c.read, !line(l)) return;
                      }});
    }
    return wallSearch(query, in, json);
}

}  // namespace

TEST(wallSearch, takesOneToTwoHundredFiftySixCharactersOfUtf8) {
    std::string twoBytes;
    for (int i = 0; i < 256; ++i) twoBytes += "\xc3\xa9";
    const struct { std::string query; bool taken; } rows[] = {
        {"", false}, {std::string(256, 'a'), true}, {std::string(257, 'a'), false},
        {twoBytes, true}, {twoBytes + "e", false}, {"ok\xff", false},
    };
    for (const auto& row : rows) {
        std::vector<console> none;
        std::string json;
        EXPECT_EQ(search(row.query, none, json), row.taken) << row.query.size();
        EXPECT_EQ(json.find("\"error\":") != std::string::npos, !row.taken);
    }
}

TEST(wallSearch, foldsTheLettersOfTheCodePage) {
    const struct { const char* row; const char* query; bool found; } rows[] = {
        {"Kernel PANIC - not syncing", "kernel panic", true},
        {"\x90" "CRAN", "\xc3\xa9" "cran", true},   // code page 437 0x90 is E acute
        {"\xe4=1", "\xcf\x83=1", true},             // capital sigma, small sigma
        {"panic", "panik", false},
        {"abc", "ABCD", false},
    };
    for (const auto& row : rows) {
        std::vector<console> one(1);
        putRow(one[0].cells, 7, row.row);
        std::string json;
        ASSERT_TRUE(search(row.query, one, json));
        EXPECT_EQ(countOf(json, "{\"i\":0"), row.found ? 1u : 0u) << row.row;
    }
}

TEST(wallSearch, listsScreenThenHistoryNewestFirstInDescriptionOrder) {
    std::vector<console> consoles(2);
    consoles[0].description = "b-node";
    putRow(consoles[0].cells, 3, "boot on screen");
    consoles[0].history = {"boot newer", "nothing", "boot older"};
    consoles[1].description = "a-node";
    consoles[1].history = {"reboot \xff here"};
    std::string json;
    ASSERT_TRUE(search("BOOT", consoles, json));
    const size_t a = json.find("a-node"), b = json.find("b-node"), screen = json.find("boot on screen"),
                 newer = json.find("boot newer"), older = json.find("boot older");
    EXPECT_LT(a, b);
    EXPECT_LT(b, screen);
    EXPECT_LT(screen, newer);
    EXPECT_LT(newer, older);
    EXPECT_EQ(json.find("nothing"), std::string::npos);
    EXPECT_NE(json.find("reboot \\ufffd here"), std::string::npos);
}

TEST(wallSearch, stopsAtTwentyLinesAConsoleAndFiveHundredInAll) {
    std::vector<console> consoles(30);
    for (size_t i = 0; i < consoles.size(); ++i) {
        consoles[i].description = "node " + std::to_string(100 + i);
        consoles[i].history.assign(100, "a hit");
    }
    std::string json;
    ASSERT_TRUE(search("hit", consoles, json));
    const size_t listed = wallLinesMax / wallLinesPerConsole;
    EXPECT_EQ(countOf(json, "a hit"), wallLinesMax);
    EXPECT_EQ(countOf(json, "\"more\":true"), listed - 1);   // the last one stopped at the total
    EXPECT_NE(json.find("\"cut\":true"), std::string::npos);
    for (size_t i = 0; i < consoles.size(); ++i)
        EXPECT_EQ(consoles[i].read, i + 1 < listed ? wallLinesPerConsole + 1 : i < listed ? wallLinesPerConsole : 0) << i;
}

TEST(wallSearch, looksAtTheFirstFourKibibytesOfALine) {
    std::vector<console> one(1);
    one[0].history = {std::string(5000, 'x') + "needle", std::string(100, 'x') + "needle"};
    std::string json;
    ASSERT_TRUE(search("needle", one, json));
    EXPECT_EQ(countOf(json, "xneedle"), 1u);
}

TEST(wallSearch, queryValuesAreDecoded) {
    const struct { const char* query; bool found; const char* value; } rows[] = {
        {"q=a+b%20c", true, "a b c"}, {"x=1&q=%E2%82%ac", true, "\xe2\x82\xac"}, {"q=", true, ""},
        {"q=%zz", false, ""}, {"q=%4", false, ""}, {"qq=1&x", false, ""},
    };
    for (const auto& row : rows) {
        std::string value;
        EXPECT_EQ(wallQueryValue(row.query, "q", value), row.found) << row.query;
        EXPECT_EQ(row.found ? value : "", row.value);
    }
}

TEST(wallPage, pathsAreTheWallAndEachConsole) {
    const struct { const char* tail; bool page; } rows[] = {
        {"", true}, {"console/0/", true}, {"console/2/", true}, {"console/3/", false}, {"console/01/", false},
        {"console//", false}, {"console/1", false}, {"console/1/x", false}, {"events", false},
    };
    for (const auto& row : rows) EXPECT_EQ(wallPagePath(row.tail, 3), row.page) << row.tail;
}
