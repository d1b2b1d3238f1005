#include "net/tunnel.h"

namespace {

bool isBlank(char c) { return c > 0 && c <= ' '; }

// The target's host as %h gives it: an IPv6 literal goes in brackets.
std::string hostText(const char* host) {
    std::string h = host ? host : "";
    if (h.find(':') != std::string::npos && h.front() != '[') h = "[" + h + "]";
    return h;
}

// One argument with %h, %p and %% replaced; any other '%' stays as it is.
std::string substitute(const std::string& arg, const std::string& host, const std::string& port) {
    std::string out;
    for (size_t i = 0; i < arg.size(); ++i) {
        const char next = i + 1 < arg.size() ? arg[i + 1] : 0;
        if (arg[i] == '%' && (next == 'h' || next == 'p' || next == '%')) {
            out += next == 'h' ? host : next == 'p' ? port : "%";
            ++i;
        } else {
            out += arg[i];
        }
    }
    return out;
}

bool isHexDigit(char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); }

bool isNameCharacter(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' || c == '-' ||
           c == '_';
}

}  // namespace

void errorTail::feed(const char* data, size_t len) {
    for (size_t i = 0; i < len; ++i) {
        const unsigned char c = static_cast<unsigned char>(data[i]);
        if (c == '\n') {
            endLine();
        } else if (c != '\r' && current_.size() < maxChars) {
            const bool control = c < 32 || c == 127;
            current_ += c == '\t' ? ' ' : control ? '?' : static_cast<char>(c);
        }
    }
}

void errorTail::endLine() {
    if (current_.find_first_not_of(' ') != std::string::npos) lines_.push_back(current_);
    if (lines_.size() > maxLines) lines_.pop_front();
    current_.clear();
}

std::vector<std::string> errorTail::lines() const {
    errorTail copy = *this;
    copy.endLine();
    return {copy.lines_.begin(), copy.lines_.end()};
}

std::vector<std::string> TunnelSocket::finish() {
    close();
    endChild();
    return errors_.lines();
}

bool tunnelTargetPlain(const char* host, int port) {
    if (!host || !*host || port < 1 || port > 65535) return false;
    std::string h = host;
    const bool bracketed = h.front() == '[';
    if (bracketed) {
        if (h.size() < 3 || h.back() != ']') return false;
        h = h.substr(1, h.size() - 2);
    }
    if (bracketed || h.find(':') != std::string::npos) {
        if (h.find(':') == std::string::npos) return false;
        for (char c : h)
            if (!isHexDigit(c) && c != ':' && c != '.') return false;
        return true;
    }
    if (h.front() == '-') return false;
    for (char c : h)
        if (!isNameCharacter(c)) return false;
    return true;
}

bool tunnelArguments(const char* command, const char* host, int port, std::vector<std::string>& args) {
    args.clear();
    if (!command) return false;
    std::vector<std::string> words;
    std::string word;
    bool inWord = false;   // a quoted empty text is still an argument
    for (const char* c = command; *c; ++c) {
        if (isBlank(*c)) {
            if (inWord) words.push_back(word);
            word.clear();
            inWord = false;
            continue;
        }
        inWord = true;
        if (*c == '\'') {
            const char* end = c + 1;
            while (*end && *end != '\'') ++end;
            if (!*end) return false;
            word.append(c + 1, end);
            c = end;
        } else if (*c == '"') {
            ++c;
            for (; *c && *c != '"'; ++c) {
                if (*c == '\\' && (c[1] == '"' || c[1] == '\\')) ++c;
                word += *c;
            }
            if (!*c) return false;
        } else if (*c == '\\' && (isBlank(c[1]) || c[1] == '\'' || c[1] == '"')) {
            word += *++c;   // any other backslash stays: Windows paths keep theirs
        } else {
            word += *c;
        }
    }
    if (inWord) words.push_back(word);
    if (words.empty()) return false;
    const std::string h = hostText(host);
    const std::string p = std::to_string(port);
    for (const std::string& w : words) args.push_back(substitute(w, h, p));
    return true;
}
