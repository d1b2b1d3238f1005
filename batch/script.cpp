#include "batch/script.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "batch/keynames.h"
#include "screen/formats.h"
#include "screen/savefile.h"

namespace {

// One word of a line: a bare word, a quoted text or a /regex/.
struct token {
    enum { word, quoted, regex } type = word;
    std::string text;
};

struct scriptError {
    std::string what;
};

[[noreturn]] void fail(std::string what) { throw scriptError{std::move(what)}; }

bool isBlank(char c) { return c == ' ' || c == '\t'; }

// The tokens of one line, up to a '#' that begins a word.
std::vector<token> tokenize(const std::string& line) {
    std::vector<token> out;
    size_t i = 0;
    while (i < line.size()) {
        if (isBlank(line[i])) {
            ++i;
            continue;
        }
        if (line[i] == '#') break;
        token t;
        if (line[i] == '"' || line[i] == '/') {
            const char end = line[i];
            t.type = end == '"' ? token::quoted : token::regex;
            bool closed = false;
            for (++i; i < line.size(); ++i) {
                const char c = line[i];
                if (c == end) {
                    closed = true;
                    ++i;
                    break;
                }
                if (c == '\\' && i + 1 < line.size()) {
                    const char n = line[i + 1];
                    if (end == '"' && n != '"' && n != '\\')
                        fail(std::string("unknown escape '\\") + n + "' (only \\\" and \\\\)");
                    if (end == '/' && n != '/') t.text += c;   // the regex keeps its own escapes
                    t.text += n;
                    ++i;
                    continue;
                }
                if (end == '"' && c == '\\') fail("text ends with a lone '\\'");
                t.text += c;
            }
            if (!closed) fail(end == '"' ? "text without its closing '\"'" : "regular expression without its closing '/'");
            if (i < line.size() && !isBlank(line[i]) && line[i] != '#') fail("a blank must follow " + std::string(1, end) + t.text + end);
        } else {
            while (i < line.size() && !isBlank(line[i])) t.text += line[i++];
        }
        out.push_back(std::move(t));
    }
    return out;
}

// Reads the tokens of one command from left to right.
class reader {
public:
    explicit reader(std::vector<token> t) : t_(std::move(t)) {}
    bool done() const { return at_ >= t_.size(); }
    bool nextIs(const char* word) const { return !done() && t_[at_].type == token::word && t_[at_].text == word; }
    const token& take(const char* what) {
        if (done()) fail(std::string("missing ") + what);
        return t_[at_++];
    }
    std::string quoted(const char* what) {
        const token& t = take(what);
        if (t.type != token::quoted) fail(std::string("expected ") + what + " in double quotes, not '" + t.text + "'");
        return t.text;
    }
    long long number(const char* what, long long lo, long long hi) {
        const token& t = take(what);
        char* end = nullptr;
        errno = 0;
        const long long v = t.type == token::word && !t.text.empty() ? std::strtoll(t.text.c_str(), &end, 10) : 0;
        if (t.type != token::word || t.text.empty() || *end || errno || v < lo || v > hi)
            fail(std::string(what) + " must be a whole number from " + std::to_string(lo) + " to " + std::to_string(hi) +
                 ", not '" + t.text + "'");
        return v;
    }
    // Seconds, with a fraction if wanted, as milliseconds.
    long long seconds(const char* what) {
        const token& t = take(what);
        char* end = nullptr;
        const double v = t.type == token::word && !t.text.empty() ? std::strtod(t.text.c_str(), &end) : -1;
        if (t.type != token::word || t.text.empty() || *end || !(v > 0) || v > 86400)
            fail(std::string(what) + " must be seconds above 0, at most 86400, not '" + t.text + "'");
        return static_cast<long long>(v * 1000 + 0.5);
    }
    screenPattern pattern() {
        const token& t = take("the text to look for");
        screenPattern p;
        p.text = t.text;
        if (t.type == token::regex) {
            std::string why;
            p.regex = compileScriptRegex(t.text, why);
            if (!p.regex) fail("bad regular expression /" + t.text + "/: " + why);
        } else if (t.type != token::quoted) {
            fail("expected \"TEXT\" or /REGEX/, not '" + t.text + "'");
        } else if (t.text.empty()) {
            fail("the text to look for is empty");
        }
        return p;
    }
    void end() {
        if (!done()) fail("unexpected '" + t_[at_].text + "'");
    }

private:
    std::vector<token> t_;
    size_t at_ = 0;
};

// The options after a wait's pattern: row N, timeout S, in any order, once each.
void waitOptions(reader& r, scriptCommand& c, bool rowAllowed) {
    bool row = false, timeout = false;
    while (!r.done()) {
        if (rowAllowed && r.nextIs("row") && !row) {
            r.take("row");
            c.row = static_cast<int>(r.number("the row", 0, 24));
            row = true;
        } else if (r.nextIs("timeout") && !timeout) {
            r.take("timeout");
            c.timeoutMs = r.seconds("the timeout");
            timeout = true;
        } else {
            r.end();
        }
    }
}

void parseWait(reader& r, scriptCommand& c) {
    if (r.nextIs("now")) {
        r.take("now");
        c.now = true;
    }
    if (r.nextIs("still")) {
        if (c.now) fail("'wait now still' makes no sense");
        r.take("still");
        c.kind = cmdKind::waitStill;
        c.ms = r.number("the milliseconds", 1, 3600000);
        waitOptions(r, c, false);
        return;
    }
    if (r.nextIs("gone")) {
        r.take("gone");
        c.kind = cmdKind::waitGone;
    }
    c.what = r.pattern();
    while (c.kind == cmdKind::wait && r.nextIs("or")) {
        r.take("or");
        c.orElse.push_back(r.pattern());
    }
    waitOptions(r, c, true);
}

void parseKeys(reader& r, scriptCommand& c, bool literal) {
    while (!r.done()) {
        const token& t = r.take("a key");
        if (t.type != token::word) fail("key names go without quotes: '" + t.text + "'");
        INPUT_RECORD rec{};
        std::string why;
        if (!batchKeyEvent(t.text, rec, why, literal)) fail(why);
        c.keys.push_back(rec);
    }
    if (c.keys.empty()) fail("missing a key name");
}

void parseKey(reader& r, scriptCommand& c) { parseKeys(r, c, false); }
void parseSend(reader& r, scriptCommand& c) { parseKeys(r, c, true); }

void optionalRow(reader& r, scriptCommand& c) {
    if (!r.nextIs("row")) return;
    r.take("row");
    c.row = static_cast<int>(r.number("the row", 0, 24));
}

// print /REGEX/ [row N] or print row N.
void parsePrint(reader& r, scriptCommand& c) {
    if (!r.nextIs("row")) {
        c.what = r.pattern();
        if (!c.what.regex) fail("print takes /REGEX/ or row N");
    }
    optionalRow(r, c);
    if (!c.what.regex && c.row < 0) fail("print takes /REGEX/ or row N");
}

void parseIf(reader& r, scriptCommand& c) {
    c.what = r.pattern();
    optionalRow(r, c);
}

void parseNothing(reader&, scriptCommand&) {}

void parseType(reader& r, scriptCommand& c) {
    c.text = r.quoted("the text");
    for (unsigned char ch : c.text)
        if (ch < 32 && ch != '\t') fail("the text holds a control character");
    for (unsigned char ch : c.text) c.keys.push_back(typedKeyEvent(ch));
}

void parsePace(reader& r, scriptCommand& c) { c.ms = r.number("the milliseconds", 0, 60000); }

void parseScreen(reader& r, scriptCommand& c) {
    const token& t = r.take("a screen id or \"NAME\"");
    if (t.type == token::quoted) {
        if (t.text.empty()) fail("the screen name is empty");
        c.text = t.text;
    } else {
        char* end = nullptr;
        const unsigned long v = t.type == token::word && !t.text.empty() ? std::strtoul(t.text.c_str(), &end, 10) : 0;
        if (t.type != token::word || t.text.empty() || *end || v == 0 || v > 0xFFFFFFFFul || t.text[0] == '-')
            fail("the screen must be an id above 0 or a \"NAME\", not '" + t.text + "'");
        c.screenId = static_cast<uint32_t>(v);
    }
    c.timeoutMs = 30000;
}

const char* const nameFields[] = {"{server}", "{host}", "{screen}", "{time}"};

void parseSave(reader& r, scriptCommand& c) {
    c.text = r.quoted("the file name");
    for (size_t at = c.text.find('{'); at != std::string::npos; at = c.text.find('{', at + 1)) {
        bool known = false;
        for (const char* field : nameFields) known = known || c.text.compare(at, std::strlen(field), field) == 0;
        if (!known) fail("unknown '" + c.text.substr(at, c.text.find('}', at) - at + 1) +
                         "' in the file name: it may hold {server}, {host}, {screen} and {time}");
    }
    screenFormat format;
    if (!screenFormatOf(c.text, format)) fail(std::string("the file name must end in ") + screenFormatList);
}

void parseEcho(reader& r, scriptCommand& c) { c.text = r.quoted("the text"); }

void parseExit(reader& r, scriptCommand& c) { c.code = static_cast<int>(r.number("the exit code", 0, 255)); }

void parseExpect(reader& r, scriptCommand& c) {
    c.what = r.pattern();
    optionalRow(r, c);
    if (!r.nextIs("else")) fail("expect needs: else N \"MESSAGE\"");
    r.take("else");
    c.code = static_cast<int>(r.number("the exit code", 1, 255));
    c.text = r.quoted("the message");
}

// The commands of a script: the word a line begins with, and what reads
// the rest of the line.
struct verb {
    const char* name;
    cmdKind kind;
    void (*parse)(reader& r, scriptCommand& c);
};
const verb verbs[] = {
    {"wait", cmdKind::wait, parseWait},       {"key", cmdKind::key, parseKey},
    {"type", cmdKind::type, parseType},       {"pace", cmdKind::pace, parsePace},
    {"screen", cmdKind::screen, parseScreen}, {"save", cmdKind::save, parseSave},
    {"echo", cmdKind::echo, parseEcho},       {"exit", cmdKind::exit, parseExit},
    {"expect", cmdKind::expect, parseExpect}, {"print", cmdKind::print, parsePrint},
    {"send", cmdKind::send, parseSend},       {"if", cmdKind::ifScreen, parseIf},
    {"else", cmdKind::jump, parseNothing},    {"end", cmdKind::jump, parseNothing},
};

scriptCommand parseLine(reader& r, const std::string& name) {
    for (const verb& v : verbs) {
        if (name != v.name) continue;
        scriptCommand c;
        c.kind = v.kind;
        v.parse(r, c);
        r.end();
        return c;
    }
    fail("unknown command '" + name + "'");
}

// Where an if and its else stand while their end is to come; one level.
struct openIf {
    size_t at = 0, elseAt = 0;   // the places of the if and its else (0: no else yet)
    int line = 0;
    bool open = false;

    // Checks the word against the if that is open and notes it; true when
    // the line makes a command (end makes none).
    bool take(const std::string& verb, std::vector<scriptCommand>& commands, int lineNo) {
        if (verb == "if") {
            if (open) fail("an if inside an if (scripts take one level)");
            *this = {commands.size(), 0, lineNo, true};
        } else if (verb == "else") {
            if (!open || elseAt) fail(open ? "a second else" : "else without its if");
            elseAt = commands.size();
            commands[at].jump = elseAt + 1;
        } else if (verb == "end") {
            if (!open) fail("end without its if");
            commands[elseAt ? elseAt : at].jump = commands.size();
            open = false;
            return false;
        }
        return true;
    }
};

// One line into commands (end makes none).
void parseInto(const std::string& line, openIf& ifs, std::vector<scriptCommand>& commands, int lineNo) {
    if (line.size() > scriptMaxLine) fail("the line is longer than " + std::to_string(scriptMaxLine) + " bytes");
    if (line.find('\0') != std::string::npos) fail("the line holds a NUL byte");
    std::vector<token> tokens = tokenize(line);
    if (tokens.empty()) return;
    if (tokens[0].type != token::word) fail("a line begins with a command, not '" + tokens[0].text + "'");
    const std::string verb = tokens[0].text;
    tokens.erase(tokens.begin());
    reader r(std::move(tokens));
    const bool makesCommand = ifs.take(verb, commands, lineNo);
    scriptCommand c = parseLine(r, verb);
    if (!makesCommand) return;
    c.line = lineNo;
    commands.push_back(std::move(c));
}

}  // namespace

bool screenPattern::foundIn(const std::string& shown) const {
    if (regex) return scriptRegexFound(*regex, shown);
    return shown.find(text) != std::string::npos;
}

parsedScript parseScript(const std::string& text) {
    parsedScript out;
    if (text.size() > scriptMaxBytes) {
        out.errors.push_back({1, "the script is larger than " + std::to_string(scriptMaxBytes) + " bytes"});
        return out;
    }
    openIf ifs;
    int lineNo = 0;
    for (size_t at = 0; at < text.size() && out.errors.size() < scriptMaxErrors;) {
        size_t nl = text.find('\n', at);
        if (nl == std::string::npos) nl = text.size();
        std::string line = text.substr(at, nl - at);
        at = nl + 1;
        ++lineNo;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        try {
            parseInto(line, ifs, out.commands, lineNo);
        } catch (const scriptError& e) {
            out.errors.push_back({lineNo, e.what});
            // In its place, so that the places of the if's commands hold.
            out.commands.emplace_back();
        }
    }
    if (ifs.open && out.errors.size() < scriptMaxErrors) out.errors.push_back({ifs.line, "if without its end"});
    if (!out.errors.empty()) out.commands.clear();
    return out;
}

const char* commandName(cmdKind kind) {
    static const char* const names[] = {"wait",   "wait gone", "wait still", "key",   "type", "pace",
                                        "screen", "save",      "echo",       "exit",  "expect", "print",
                                        "send",   "if",        "else"};
    const auto i = static_cast<size_t>(kind);
    return i < sizeof names / sizeof names[0] ? names[i] : "";
}

std::string saveFileName(const std::string& pattern, const saveNaming& naming, uint32_t screenId, std::time_t when) {
    const std::pair<const char*, std::string> values[] = {{"{server}", naming.server},
                                                          {"{host}", naming.host},
                                                          {"{screen}", std::to_string(screenId)},
                                                          {"{time}", fileTimeStamp(when)}};
    std::string out;
    for (size_t i = 0; i < pattern.size();) {
        bool replaced = false;
        for (const auto& [field, value] : values)
            if (!replaced && pattern.compare(i, std::strlen(field), field) == 0) {
                out += value;
                i += std::strlen(field);
                replaced = true;
            }
        if (!replaced) out += pattern[i++];
    }
    const size_t dot = out.rfind('.');
    if (naming.severalServers && pattern.find("{server}") == std::string::npos && dot != std::string::npos)
        out.insert(dot, "-" + naming.server);
    return out;
}
