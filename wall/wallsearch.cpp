#include "wall/wallsearch.h"

#include <algorithm>

#include "console/cp437.h"
#include "screen/formats.h"
#include "screen/json.h"

namespace {

constexpr size_t lineBytesMax = 4096;

// Capitals to small letters, for the letters code page 437 holds: ASCII,
// Latin-1 (not the multiplication sign) and Greek (not the final sigma's gap).
char32_t fold(char32_t c) {
    if ((c >= 'A' && c <= 'Z') || (c >= 0xC0 && c <= 0xDE && c != 0xD7) || (c >= 0x391 && c <= 0x3A9 && c != 0x3A2))
        return c + 0x20;
    return c;
}

// The query as a Knuth-Morris-Pratt automaton over folded characters: a
// line is read once, whatever the query.
class finder {
public:
    explicit finder(std::vector<char32_t> query) : q_(std::move(query)), back_(q_.size(), 0) {
        for (size_t i = 1, k = 0; i < q_.size(); ++i) {
            while (k > 0 && q_[i] != q_[k]) k = back_[k - 1];
            if (q_[i] == q_[k]) ++k;
            back_[i] = k;
        }
    }
    // next(c) gives the line's characters one by one, false at its end.
    template <class Next>
    bool in(Next next) const {
        size_t k = 0;
        char32_t c;
        while (next(c)) {
            c = fold(c);
            while (k > 0 && c != q_[k]) k = back_[k - 1];
            if (c == q_[k] && ++k == q_.size()) return true;
        }
        return false;
    }
    bool inRow(const uint16_t* cells) const {
        int col = 0;
        return in([&](char32_t& c) {
            if (col == screenCols) return false;
            c = cp437Unicode[cells[col++] & 0xFF];
            return true;
        });
    }
    bool inText(std::string_view text) const {
        text = text.substr(0, lineBytesMax);
        return in([&](char32_t& c) {
            if (text.empty()) return false;
            const size_t n = utf8Next(text, c);
            if (n == 0) c = 0xFFFD;
            text.remove_prefix(n ? n : 1);
            return true;
        });
    }

private:
    std::vector<char32_t> q_;
    std::vector<size_t> back_;
};

bool refuse(std::string& json, const char* why) {
    json = "{\"error\":";
    json += jsonString(why);
    json += '}';
    return false;
}

}  // namespace

bool wallSearch(std::string_view query, const std::vector<wallSearchConsole>& consoles, std::string& json) {
    std::vector<char32_t> folded;
    for (std::string_view rest = query; !rest.empty();) {
        char32_t c = 0;
        const size_t n = utf8Next(rest, c);
        if (n == 0) return refuse(json, "the text is not UTF-8");
        if (folded.size() == wallQueryMax) return refuse(json, "the text is longer than 256 characters");
        folded.push_back(fold(c));
        rest.remove_prefix(n);
    }
    if (folded.empty()) return refuse(json, "no text to look for");
    const finder find(std::move(folded));

    std::vector<const wallSearchConsole*> order;
    for (const wallSearchConsole& c : consoles) order.push_back(&c);
    std::stable_sort(order.begin(), order.end(),
                     [](const auto* a, const auto* b) { return a->description < b->description; });

    json = "{\"q\":";
    json += jsonString(query.substr(0, lineBytesMax));
    json += ",\"c\":[";
    size_t total = 0;
    bool firstConsole = true;
    for (const wallSearchConsole* c : order) {
        if (total == wallLinesMax) break;
        std::vector<std::string> lines;
        bool more = false;
        // Takes a matching line; false once this console, or the search, has enough.
        const auto take = [&](std::string text) {
            if (lines.size() == wallLinesPerConsole) {
                more = true;
                return false;
            }
            lines.push_back(std::move(text));
            return ++total < wallLinesMax;
        };
        bool going = true;
        for (int r = 0; c->cells && going && r < screenRows; ++r)
            if (find.inRow(c->cells[r])) going = take(lineText(c->cells[r]));
        if (going && c->history)
            c->history([&](std::string_view line) {
                return !find.inText(line) || take(std::string(line.substr(0, lineBytesMax)));
            });
        if (lines.empty()) continue;
        json += firstConsole ? "{\"i\":" : ",{\"i\":";
        firstConsole = false;
        json += std::to_string(c->index) + ",\"d\":";
        json += jsonGlyphs(c->description);
        json += ",\"m\":[";
        for (size_t i = 0; i < lines.size(); ++i) {
            if (i) json += ',';
            json += jsonString(lines[i]);
        }
        json += more ? "],\"more\":true}" : "]}";
    }
    json += total == wallLinesMax ? "],\"cut\":true}" : "]}";
    return true;
}

bool wallQueryValue(std::string_view query, std::string_view key, std::string& value) {
    const auto hex = [](char h) {
        return h >= '0' && h <= '9' ? h - '0' : h >= 'a' && h <= 'f' ? h - 'a' + 10 : h >= 'A' && h <= 'F' ? h - 'A' + 10 : -1;
    };
    while (!query.empty()) {
        const size_t amp = query.find('&');
        const std::string_view pair = query.substr(0, amp);
        query.remove_prefix(amp == std::string_view::npos ? query.size() : amp + 1);
        const size_t eq = pair.find('=');
        if (pair.substr(0, eq) != key || eq == std::string_view::npos) continue;
        value.clear();
        for (size_t i = eq + 1; i < pair.size(); ++i) {
            if (pair[i] == '+') {
                value += ' ';
            } else if (pair[i] != '%') {
                value += pair[i];
            } else {
                if (i + 2 >= pair.size()) return false;
                const int hi = hex(pair[i + 1]), lo = hex(pair[i + 2]);
                if (hi < 0 || lo < 0) return false;
                value += static_cast<char>(hi * 16 + lo);
                i += 2;
            }
        }
        return true;
    }
    return false;
}
