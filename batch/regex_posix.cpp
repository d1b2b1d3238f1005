// Script regular expressions on Linux: RE2, whose matching takes time in
// proportion to the text whatever the pattern, so that a wait's timeout
// holds on any screen a server shows.
#include <re2/re2.h>

#include "batch/script.h"

class scriptRegex {
public:
    explicit scriptRegex(const std::string& pattern) : re(pattern, options()) {}
    RE2 re;

private:
    static RE2::Options options() {
        RE2::Options o;
        o.set_log_errors(false);   // the script error says it
        return o;
    }
};

std::shared_ptr<const scriptRegex> compileScriptRegex(const std::string& pattern, std::string& why) {
    auto regex = std::make_shared<const scriptRegex>(pattern);
    if (regex->re.ok()) return regex;
    why = regex->re.error();
    return nullptr;
}

bool scriptRegexFound(const scriptRegex& regex, const std::string& text) { return RE2::PartialMatch(text, regex.re); }

bool scriptRegexFirst(const scriptRegex& regex, const std::string& text, std::string& found) {
    re2::StringPiece parts[2];
    const int n = regex.re.NumberOfCapturingGroups() > 0 ? 2 : 1;
    if (!regex.re.Match(text, 0, text.size(), RE2::UNANCHORED, parts, n)) return false;
    found.assign(parts[n - 1].data() ? parts[n - 1].data() : "", parts[n - 1].size());
    return true;
}
