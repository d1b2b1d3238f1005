#include "net/sutil.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

// A writable copy of a literal, for the functions that work in place.
struct Buf {
    explicit Buf(const std::string& s) : text(s.begin(), s.end()) { text.push_back('\0'); }
    char* get() { return text.data(); }
    std::vector<char> text;
};

std::string stripped(const std::string& s) { Buf b(s); return strip(b.get()); }
std::string strippedD(const std::string& s) { Buf b(s); return stripD(b.get()); }
int toInt(const std::string& s) { Buf b(s); return stoi(b.get()); }
int toHex(const std::string& s) { Buf b(s); return stoih(b.get()); }

std::string value(const char* line, char marker, int maxLen) {
    std::vector<char> out(static_cast<size_t>(maxLen < 0 ? 0 : maxLen) + 1, 'X');
    return getValue(line, out.data(), marker, maxLen);
}

std::string variable(const char* line, char marker, int maxLen) {
    std::vector<char> out(static_cast<size_t>(maxLen < 0 ? 0 : maxLen) + 1, 'X');
    return getVariable(line, out.data(), marker, maxLen);
}

} // namespace

TEST(Strip, TrimsBlanksOnlyAtBothEnds) {
    EXPECT_EQ(stripped(""), "");
    EXPECT_EQ(stripped("    "), "");
    EXPECT_EQ(stripped("\tx \r\n"), "x");
    EXPECT_EQ(stripped("\x01 a b \x1f"), "a b");
    EXPECT_EQ(stripped("\xA0x\xA0"), "\xA0x\xA0");
    EXPECT_EQ(strip(nullptr), nullptr);
    Buf b("  abc  ");
    EXPECT_EQ(strip(b.get()), b.get());
}

TEST(Strip, DigitsToo) {
    EXPECT_EQ(strippedD("  12ab34  "), "ab");
    EXPECT_EQ(strippedD("12345"), "");
    EXPECT_EQ(strippedD("1 a2b 3"), "a2b");
    EXPECT_EQ(stripD(nullptr), nullptr);
}

TEST(GetValue, TextAfterFirstMarkerTrimmed) {
    EXPECT_EQ(value("server = a:1,b\r\n", '=', 4000), "a:1,b");
    EXPECT_EQ(value("k=a=b", '=', 4000), "a=b");
    EXPECT_EQ(value("no marker here", '=', 4000), "");
}

TEST(GetValue, CutsBeforeTrimming) {
    EXPECT_EQ(value("k= abcdef", '=', 4), "abc");
    EXPECT_EQ(value("k=ab", '=', 0), "");
    EXPECT_EQ(value("k=ab", '=', -3), "");
}

TEST(GetValue, NullsAndNulMarker) {
    char out[8] = "keep";
    EXPECT_STREQ(getValue(nullptr, out, '=', 7), "keep");
    EXPECT_EQ(getValue("a=b", nullptr, '=', 7), nullptr);
    // A NUL marker never lies inside the text: nothing after it may be read.
    EXPECT_EQ(value("abc", '\0', 7), "");
}

TEST(GetVariable, NameBeforeMarker) {
    EXPECT_EQ(variable("  server = x ", '=', 100), "server");
    EXPECT_EQ(variable("  bare  ", '=', 100), "bare");
    EXPECT_EQ(variable(" longname=x", '=', 4), "long");
    EXPECT_EQ(variable(nullptr, '=', 10), "");
    EXPECT_EQ(getVariable("a=b", nullptr, '=', 10), nullptr);
}

TEST(NewVariable, HeapNameOrNull) {
    char* v = newVariable("  proxy =x", '=');
    ASSERT_NE(v, nullptr);
    EXPECT_STREQ(v, "proxy");
    std::free(v);
    EXPECT_EQ(newVariable("no marker", '='), nullptr);
    EXPECT_EQ(newVariable(nullptr, '='), nullptr);
    v = newVariable("=x", '=');
    ASSERT_NE(v, nullptr);
    EXPECT_STREQ(v, "");
    std::free(v);
}

TEST(IsVariable, PrefixAfterBlanks) {
    EXPECT_EQ(isVariable("proxy", "   proxy=x", '='), 1);
    EXPECT_EQ(isVariable("proxy", "; proxy", '='), 0);
    EXPECT_EQ(isVariable("server", "server", '='), 1);
    EXPECT_EQ(isVariable("server", "\tserver =x", '='), 1);
    EXPECT_EQ(isVariable("server", "serverX=1", '='), 1);
    EXPECT_EQ(isVariable("server", "serv", '='), 0);
    EXPECT_EQ(isVariable(nullptr, "x", '='), 0);
    EXPECT_EQ(isVariable("x", nullptr, '='), 0);
}

TEST(IsVariable, LineShorterThanName) {
    // The line sits in a buffer of exactly its size, so the sanitizer build would see a
    // comparison that ran past its terminator.
    char* line = static_cast<char*>(std::malloc(3));
    std::memcpy(line, "pr", 3);
    EXPECT_EQ(isVariable("proxy", line, '='), 0);
    std::free(line);
}

TEST(Compare, MemicmpRules) {
    EXPECT_EQ(memicmpExact("abc", "abd", 3), -1);
    EXPECT_EQ(memicmpExact("abX", "abY", 2), 0);
    EXPECT_EQ(memicmpExact("a", "b", 0), 0);
    EXPECT_EQ(memicmpExact("a", "A", 1), 1);
    // Signed bytes: 0x80 sorts before 'a'.
    EXPECT_EQ(memicmpExact("\x80", "a", 1), -1);
    EXPECT_EQ(memicmpFolded("Server", "sERVER", 6), 0);
    EXPECT_EQ(memicmpFolded("[", "a", 1), -1); // '[' (0x5B) against 'a', not 'A'
    EXPECT_EQ(memicmpFolded("B", "a", 1), 1);
#if defined(_WIN32) || defined(QUOR_WINDOWS_RULES)
    EXPECT_EQ(sutilMemicmp("Proxy", "proxy", 5), 0);
    EXPECT_EQ(isVariable("proxy", "  PROXY=x", '='), 1);
#else
    EXPECT_EQ(sutilMemicmp("Proxy", "proxy", 5), -1);
    EXPECT_EQ(isVariable("proxy", "  PROXY=x", '='), 0);
#endif
}

TEST(Compare, StricmpPrefixEqual) {
    EXPECT_EQ(stricmpPrefix("abc", "ABC"), 0);
    EXPECT_EQ(stricmpPrefix("abc", "abcdef"), 0);
    EXPECT_EQ(stricmpPrefix("abcdef", "abc"), 0);
    EXPECT_EQ(stricmpPrefix("", ""), -1);
    EXPECT_EQ(stricmpPrefix("", "a"), -1);
    EXPECT_EQ(stricmpPrefix("b", "a"), 1);
    EXPECT_EQ(stricmpPrefix("A", "c"), -2);
    EXPECT_EQ(stricmpPrefix("[", "a"), '[' - 'a');
    EXPECT_EQ(stricmpPrefix("\xff", "a"), -1 - 'a');
}

TEST(Compare, StricmpWholeComparesTerminators) {
    EXPECT_EQ(stricmpWhole("abc", "ABC"), 0);
    EXPECT_EQ(stricmpWhole("abc", "abcdef"), -1);
    EXPECT_EQ(stricmpWhole("abcdef", "abc"), 1);
    EXPECT_EQ(stricmpWhole("", ""), 0);
    EXPECT_EQ(stricmpWhole("b", "A"), 1);
#if defined(_WIN32) || defined(QUOR_WINDOWS_RULES)
    EXPECT_EQ(sutilStricmp("", ""), 0);
#else
    EXPECT_EQ(sutilStricmp("", ""), -1);
    EXPECT_EQ(sutilStricmp("--dir", "--direct"), 0);
#endif
}

TEST(Compare, StrcmpinSecondMinusFirst) {
    EXPECT_EQ(strcmpin("Alpha - x", "alp", 3), 0);
    EXPECT_LT(strcmpin("beta", "alp", 3), 0);
    EXPECT_GT(strcmpin("alp", "beta", 3), 0);
    EXPECT_EQ(strcmpin("abcd", "abce", 3), 0);
    EXPECT_EQ(strcmpin("abcd", "abce", 4), 'e' - 'd');
    // One text ends first: the terminator counts as 0.
    EXPECT_EQ(strcmpin("ab", "abc", 5), 'c');
    EXPECT_EQ(strcmpin("abc", "ab", 5), -'c');
    // Unsigned bytes, unlike sutilStricmp.
    EXPECT_EQ(strcmpin("a", "\xff", 1), 0xff - 'a');
    EXPECT_EQ(strcmpin("a", "b", 0), 0);
    EXPECT_EQ(strcmpin("a", "b", -1), 0);
    EXPECT_EQ(strcmpin(nullptr, "b", 1), 0);
}

TEST(Numbers, DecimalAndHexForms) {
    EXPECT_EQ(toInt("42"), 42);
    EXPECT_EQ(toInt(" -7 "), -7);
    EXPECT_EQ(toInt("$1F"), 31);
    EXPECT_EQ(toInt("0x1f"), 31);
    EXPECT_EQ(toInt("12ab"), 12);
    EXPECT_EQ(toInt("$"), 0);
    EXPECT_EQ(toInt("0x"), 0);
    EXPECT_EQ(toInt("abc"), 0);
    EXPECT_EQ(toInt("010"), 10);
    EXPECT_EQ(stoi(nullptr), 0);
    EXPECT_EQ(toHex("10"), 16);
    EXPECT_EQ(toHex("$ff"), 255);
    EXPECT_EQ(toHex("0xAb"), 171);
}

TEST(Numbers, RewritesArgument) {
    Buf b("  $1F  ");
    EXPECT_EQ(stoi(b.get()), 31);
    EXPECT_STREQ(b.get(), "1F");
}

TEST(Numbers, OverflowSaturates) {
    EXPECT_EQ(toInt("2147483647"), 2147483647);
    EXPECT_EQ(toInt("2147483648"), 2147483647);
    EXPECT_EQ(toInt("-2147483648"), -2147483647 - 1);
    EXPECT_EQ(toInt("99999999999999999999999999"), 2147483647);
    EXPECT_EQ(toInt("$FFFFFFFF"), -1);
    EXPECT_EQ(toInt("$7FFFFFFF"), 2147483647);
    EXPECT_EQ(toInt("$123456789ABCDEF"), -1);
}

TEST(Strndup, ExactLength) {
    char* s = strndup("ab\0cd", 5);
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(std::memcmp(s, "ab\0cd\0", 6), 0);
    std::free(s);
    s = strndup("xyz", 0);
    ASSERT_NE(s, nullptr);
    EXPECT_STREQ(s, "");
    std::free(s);
    EXPECT_EQ(strndup("xyz", -1), nullptr);
    EXPECT_EQ(strndup(nullptr, 3), nullptr);
}

TEST(MultiValue, BlankSeparated) {
    char text[] = "a  b\tc";
    MultiValue mv(text, 0);
    char v[16];
    ASSERT_EQ(mv.available(), 1);
    EXPECT_STREQ(mv.getNextValue(v, 15), "a");
    EXPECT_STREQ(mv.getNextValue(v, 15), "b");
    EXPECT_EQ(mv.available(), 1);
    EXPECT_STREQ(mv.getNextValue(v, 15), "c");
    EXPECT_EQ(mv.available(), 0);
    // At the end: empty values and the cursor stays on the terminator.
    EXPECT_STREQ(mv.getNextValue(v, 15), "");
    EXPECT_EQ(mv.offs, text + 6);
    mv.reset();
    EXPECT_STREQ(mv.getNextValue(v, 15), "a");
}

TEST(MultiValue, MarkerKeepsTrailingBlanksAndEmptyValues) {
    char text[] = " a ,b,,longvalue";
    MultiValue mv(text, ',');
    char v[8];
    EXPECT_STREQ(mv.getNextValue(v, 7), "a ");
    EXPECT_STREQ(mv.getRest(v, 7), "b,,long");
    EXPECT_STREQ(mv.getNextValue(v, 7), "b");
    EXPECT_STREQ(mv.getNextValue(v, 7), "");
    EXPECT_STREQ(mv.getNextValue(v, 4), "long");
    EXPECT_EQ(mv.available(), 0);
    EXPECT_STREQ(mv.getRest(v, 7), "");
}

TEST(MultiValue, NullTextAndBuffers) {
    MultiValue mv(nullptr, ',');
    EXPECT_EQ(mv.len, 0);
    EXPECT_EQ(mv.available(), 0);
    char v[4] = "zz";
    EXPECT_STREQ(mv.getNextValue(v, 3), "");
    std::strcpy(v, "zz");
    EXPECT_STREQ(mv.getRest(v, 3), "zz");
    EXPECT_EQ(mv.getNextValue(nullptr, 3), nullptr);
}

// Server patterns of batch runs: the whole description, letters folded.
TEST(GlobMatch, WholeTextWithStarAndQuestionMark) {
    const struct {
        const char* pattern;
        const char* text;
        bool match;
    } cases[] = {
        {"rack*", "Rack 12 node 3", true},   {"*node ?", "rack 1 node 7", true},   {"*node ?", "rack 1 node 17", false},
        {"r*k*3", "rack 12 node 3", true},   {"r*k*3", "rack 12 node 4", false},   {"*", "", true},
        {"?", "", false},                    {"a**b", "ab", true},                 {"abc", "ab", false},
        {"ab", "abc", false},                {"*a*a*a", "aaa", true},              {"*a*a*a", "aa", false},
        {"\xc9*", "\xe9t\xe9", false},
    };
    for (const auto& c : cases) EXPECT_EQ(globMatch(c.pattern, c.text), c.match) << c.pattern << " / " << c.text;
}
