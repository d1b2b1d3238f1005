// Script regular expressions on Windows, where RE2 is not to be had: the
// pattern is read with RE2's syntax and rewritten for std::regex
// (ECMAScript). What RE2 refuses is refused with RE2's words; what
// std::regex cannot match the same way (Unicode classes, flag groups,
// letters beyond ASCII inside brackets) is refused with a word about this
// build; and so is a repeated group that holds a repetition or an
// alternative, the shape on which a backtracking matcher can take time
// that doubles with every letter of the screen.
#include <cstdint>
#include <regex>
#include <vector>

#include "batch/script.h"

class scriptRegex {
public:
    explicit scriptRegex(const std::string& ecma) : re(ecma, std::regex::ECMAScript) {}
    std::regex re;
};

namespace {

constexpr int maxRepeat = 1000;   // RE2's largest {n,m}
constexpr uint32_t maxCodePoint = 0x10FFFF;

struct refused {
    std::string why;
};

bool isDigit(char c) { return c >= '0' && c <= '9'; }
bool isOctal(char c) { return c >= '0' && c <= '7'; }
bool isWordChar(char c) { return isDigit(c) || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_'; }
int hexValue(char c) {
    if (isDigit(c)) return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

std::string hexByte(unsigned char b) {
    static const char digits[] = "0123456789abcdef";
    return std::string("\\x") + digits[b >> 4] + digits[b & 15];
}

// One character as ECMAScript matches it in UTF-8 text: letters and digits
// as they are, other ASCII as a hex escape, anything beyond as its bytes,
// grouped so that a repetition takes the whole character.
std::string literal(uint32_t cp) {
    if (cp < 0x80) return isWordChar(static_cast<char>(cp)) ? std::string(1, static_cast<char>(cp)) : hexByte(static_cast<unsigned char>(cp));
    unsigned char b[4];
    int n = 0;
    if (cp < 0x800) {
        b[n++] = static_cast<unsigned char>(0xC0 | (cp >> 6));
    } else if (cp < 0x10000) {
        b[n++] = static_cast<unsigned char>(0xE0 | (cp >> 12));
        b[n++] = static_cast<unsigned char>(0x80 | ((cp >> 6) & 0x3F));
    } else {
        b[n++] = static_cast<unsigned char>(0xF0 | (cp >> 18));
        b[n++] = static_cast<unsigned char>(0x80 | ((cp >> 12) & 0x3F));
        b[n++] = static_cast<unsigned char>(0x80 | ((cp >> 6) & 0x3F));
    }
    b[n++] = static_cast<unsigned char>(0x80 | (cp & 0x3F));
    std::string out = "(?:";
    for (int k = 0; k < n; ++k) out += hexByte(b[k]);
    return out + ")";
}

class translator {
public:
    explicit translator(const std::string& pattern) : p_(pattern) {}

    std::string run() {
        groups_.push_back({});
        while (i_ < p_.size()) step();
        if (groups_.size() > 1) fail("missing ): " + p_);
        return out_;
    }

private:
    // An open group: whether it holds a repetition or an alternative.
    struct group {
        bool busy = false;
    };
    const std::string& p_;
    size_t i_ = 0;
    std::string out_;
    std::vector<group> groups_;
    bool atom_ = false;        // something a repetition may follow was just written
    bool busyAtom_ = false;    // ... and it is a group that holds a repetition or an alternative
    bool repeated_ = false;    // a repetition was just written

    [[noreturn]] static void fail(const std::string& why) { throw refused{why}; }
    [[noreturn]] void notHere(const std::string& what) { fail(what + " is not taken by the Windows build"); }

    void put(const std::string& text, bool atom) {
        out_ += text;
        atom_ = atom;
        busyAtom_ = false;
        repeated_ = false;
    }

    void step() {
        const char c = p_[i_];
        switch (c) {
        case '\\': return put(escape(false), escapeIsAtom());
        case '[': return put(bracket(), true);
        case '(': return openGroup();
        case ')': return closeGroup();
        case '|':
            ++i_;
            groups_.back().busy = true;
            return put("|", false);
        case '*': case '+': case '?': return repetition();
        case '{':
            if (repeatSize()) return repetition();
            ++i_;
            return put(literal('{'), true);
        case '^': case '$': case '.':
            ++i_;
            return put(std::string(1, c), c == '.');
        default: return put(literal(character()), true);
        }
    }

    // The character at i_ (UTF-8 read whole), and past it.
    uint32_t character() {
        const unsigned char b = static_cast<unsigned char>(p_[i_++]);
        if (b < 0x80) return b;
        const int more = b >= 0xF0 ? 3 : b >= 0xE0 ? 2 : b >= 0xC0 ? 1 : -1;
        if (more < 0 || i_ + static_cast<size_t>(more) > p_.size()) fail("invalid UTF-8");
        uint32_t cp = b & (0x3F >> more);
        for (int k = 0; k < more; ++k) {
            const unsigned char n = static_cast<unsigned char>(p_[i_++]);
            if ((n & 0xC0) != 0x80) fail("invalid UTF-8");
            cp = (cp << 6) | (n & 0x3F);
        }
        return cp;
    }

    bool escapeIsAtom() const {
        // \A, \z, \b and \B are places, not characters.
        const char n = i_ + 1 < p_.size() ? p_[i_ + 1] : 0;
        return n != 'A' && n != 'z' && n != 'b' && n != 'B';
    }

    // A backslash escape at i_, as ECMAScript writes it; inBracket: inside [...].
    std::string escape(bool inBracket) {
        const size_t at = i_++;
        if (i_ >= p_.size()) fail("trailing \\");
        const char c = p_[i_++];
        auto bad = [&] { fail("invalid escape sequence: " + p_.substr(at, i_ - at)); };
        if (isOctal(c) && (c == '0' || (i_ < p_.size() && isOctal(p_[i_])))) {
            uint32_t v = static_cast<uint32_t>(c - '0');
            for (int k = 0; k < 2 && i_ < p_.size() && isOctal(p_[i_]); ++k) v = v * 8 + static_cast<uint32_t>(p_[i_++] - '0');
            return literalIn(v, inBracket);
        }
        switch (c) {
        case 'x': return literalIn(hexEscape(at), inBracket);
        case 'a': return literalIn(7, inBracket);
        case 'f': return literalIn(12, inBracket);
        case 'n': return literalIn(10, inBracket);
        case 'r': return literalIn(13, inBracket);
        case 't': return literalIn(9, inBracket);
        case 'v': return literalIn(11, inBracket);
        case 'd': case 'D': case 's': case 'S': case 'w': case 'W': return std::string("\\") + c;
        case 'b': case 'B':
            if (inBracket) bad();
            return std::string("\\") + c;
        case 'A':
            if (inBracket) bad();
            return "^";
        case 'z':
            if (inBracket) bad();
            return "$";
        case 'Q':
            if (inBracket) bad();
            return quoted();
        case 'p': case 'P': notHere("a Unicode class (\\p, \\P)");
        case 'C': notHere("\\C");
        default: break;
        }
        if (static_cast<unsigned char>(c) >= 0x80 || isWordChar(c)) bad();
        return literalIn(static_cast<unsigned char>(c), inBracket);
    }

    std::string literalIn(uint32_t cp, bool inBracket) {
        if (inBracket && cp >= 0x80) notHere("a character beyond ASCII inside [...]");
        return inBracket ? hexByte(static_cast<unsigned char>(cp)) : literal(cp);
    }

    // \xHH or \x{H...}; i_ is past the x.
    uint32_t hexEscape(size_t at) {
        auto bad = [&] { fail("invalid escape sequence: " + p_.substr(at, i_ - at)); };
        uint32_t v = 0;
        if (i_ < p_.size() && p_[i_] == '{') {
            ++i_;
            int digits = 0;
            while (i_ < p_.size() && hexValue(p_[i_]) >= 0) {
                v = v * 16 + static_cast<uint32_t>(hexValue(p_[i_++]));
                if (v > maxCodePoint) bad();
                ++digits;
            }
            if (i_ >= p_.size() || p_[i_] != '}' || digits == 0) bad();
            ++i_;
            return v;
        }
        for (int k = 0; k < 2; ++k) {
            if (i_ >= p_.size() || hexValue(p_[i_]) < 0) bad();
            v = v * 16 + static_cast<uint32_t>(hexValue(p_[i_++]));
        }
        return v;
    }

    // \Q...\E: the text between as it is; i_ is past the Q.
    std::string quoted() {
        std::string out;
        while (i_ < p_.size()) {
            if (p_.compare(i_, 2, "\\E") == 0) {
                i_ += 2;
                break;
            }
            out += literal(character());
        }
        return out.empty() ? "(?:)" : "(?:" + out + ")";
    }

    // A bracket expression at i_, rewritten member by member.
    std::string bracket() {
        const size_t at = i_++;
        std::string out = "[";
        if (i_ < p_.size() && p_[i_] == '^') {
            out += '^';
            ++i_;
        }
        bool first = true;
        for (;;) {
            if (i_ >= p_.size()) fail("missing ]: " + p_.substr(at));
            if (p_[i_] == ']' && !first) break;
            first = false;
            if (p_.compare(i_, 2, "[:") == 0) {
                out += namedClass();
                continue;
            }
            const size_t from = i_;
            std::string lo;
            const uint32_t low = member(lo);
            if (i_ + 1 < p_.size() && p_[i_] == '-' && p_[i_ + 1] != ']') {
                ++i_;
                std::string hi;
                const uint32_t high = member(hi);
                if (low == UINT32_MAX || high == UINT32_MAX || high < low)
                    fail("invalid character class range: " + p_.substr(from, i_ - from));
                out += lo + "-" + hi;
            } else {
                out += lo;
            }
        }
        ++i_;
        return out + "]";
    }

    // One member of a bracket: its ECMAScript text, and its character
    // (UINT32_MAX for a class such as \d, which cannot end a range).
    uint32_t member(std::string& text) {
        if (p_[i_] == '\\') {
            const char n = i_ + 1 < p_.size() ? p_[i_ + 1] : 0;
            const bool isClass = n == 'd' || n == 'D' || n == 's' || n == 'S' || n == 'w' || n == 'W';
            text = escape(true);
            if (isClass) return UINT32_MAX;
            // The escape's character, read back from its \xHH form.
            return static_cast<uint32_t>(hexValue(text[2]) * 16 + hexValue(text[3]));
        }
        const uint32_t cp = character();
        text = literalIn(cp, true);
        return cp;
    }

    // [:name:] inside a bracket.
    std::string namedClass() {
        const size_t end = p_.find(":]", i_ + 2);
        if (end == std::string::npos) fail("missing ]: " + p_.substr(i_));
        const std::string name = p_.substr(i_ + 2, end - i_ - 2);
        i_ = end + 2;
        static const char* const names[] = {"alnum", "alpha", "blank", "cntrl", "digit", "graph",
                                            "lower", "print", "punct", "space", "upper", "xdigit"};
        if (name == "ascii") return "\\x00-\\x7f";
        if (name == "word") return "\\w";
        for (const char* n : names)
            if (name == n) return "[:" + name + ":]";
        if (!name.empty() && name[0] == '^') notHere("a negated class [:^...:]");
        fail("invalid character class range: [:" + name + ":]");
    }

    void openGroup() {
        const size_t at = i_++;
        std::string open = "(";
        if (i_ < p_.size() && p_[i_] == '?') {
            if (p_.compare(i_, 2, "?:") == 0) {
                open = "(?:";
                i_ += 2;
            } else if (p_.compare(i_, 3, "?P<") == 0) {
                const size_t close = p_.find('>', i_);
                if (close == std::string::npos) fail("invalid named capture group: " + p_.substr(at));
                i_ = close + 1;
            } else if (i_ + 1 < p_.size() && (p_[i_ + 1] == '=' || p_[i_ + 1] == '!' || p_[i_ + 1] == '<' || p_[i_ + 1] == 'P')) {
                fail("invalid perl operator: " + p_.substr(at, 3));
            } else {
                notHere("a flag group (?flags)");
            }
        }
        groups_.push_back({});
        put(open, false);
    }

    void closeGroup() {
        if (groups_.size() < 2) fail("unexpected ): " + p_);
        const bool busy = groups_.back().busy;
        groups_.pop_back();
        if (busy) groups_.back().busy = true;
        ++i_;
        put(")", true);
        busyAtom_ = busy;
    }

    // Whether {n}, {n,} or {n,m} starts at i_ (otherwise '{' is a letter).
    bool repeatSize() const {
        size_t k = i_ + 1;
        const size_t digits = k;
        while (k < p_.size() && isDigit(p_[k])) ++k;
        if (k == digits) return false;
        if (k < p_.size() && p_[k] == ',') {
            ++k;
            while (k < p_.size() && isDigit(p_[k])) ++k;
        }
        return k < p_.size() && p_[k] == '}';
    }

    void repetition() {
        const size_t at = i_;
        long most = -1;   // -1: without bound
        if (p_[i_] == '{') {
            const size_t close = p_.find('}', i_);
            const std::string inside = p_.substr(i_ + 1, close - i_ - 1);
            const size_t comma = inside.find(',');
            const long least = std::stol(inside.substr(0, std::min<size_t>(comma, 9)));
            most = comma == std::string::npos ? least : comma + 1 == inside.size() ? -1 : std::stol(inside.substr(comma + 1, 9));
            i_ = close + 1;
            if (least > maxRepeat || most > maxRepeat || (most >= 0 && most < least))
                fail("invalid repetition size: " + p_.substr(at, i_ - at));
        } else {
            most = p_[i_] == '?' ? 1 : -1;
            ++i_;
        }
        if (repeated_) fail("bad repetition operator: " + p_.substr(at - 1, i_ - at + 1));
        if (!atom_) fail("no argument for repetition operator: " + p_.substr(at, i_ - at));
        if (busyAtom_ && most != 0 && most != 1)
            fail("a repeated group that holds a repetition or an alternative can take time without bound; "
                 "the Windows build does not take it");
        std::string op = p_.substr(at, i_ - at);
        if (i_ < p_.size() && p_[i_] == '?') op += p_[i_++];   // not greedy
        out_ += op;
        groups_.back().busy = true;
        atom_ = false;
        busyAtom_ = false;
        repeated_ = true;
    }
};

}  // namespace

std::shared_ptr<const scriptRegex> compileScriptRegex(const std::string& pattern, std::string& why) {
    try {
        return std::make_shared<const scriptRegex>(translator(pattern).run());
    } catch (const refused& r) {
        why = r.why;
    } catch (const std::regex_error& e) {
        why = e.what();
    }
    return nullptr;
}

bool scriptRegexFound(const scriptRegex& regex, const std::string& text) { return std::regex_search(text, regex.re); }

bool scriptRegexFirst(const scriptRegex& regex, const std::string& text, std::string& found) {
    std::smatch m;
    if (!std::regex_search(text, m, regex.re)) return false;
    found = m.size() > 1 ? m[1].str() : m[0].str();
    return true;
}
