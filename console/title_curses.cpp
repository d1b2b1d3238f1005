#include "console/title_curses.h"

#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>

#define NCURSES_NOMACROS
#include <curses.h>
#include <term.h>

#include "console/cp437.h"
#include "console/global.h"
#include "console/rescue.h"

namespace {

// xterm's title stack: save the window title, put the saved one back.
constexpr char pushTitle[] = "\033[22;0t";
constexpr char popTitle[] = "\033[23;0t";

bool titlePushed = false;

const char* capability(const char* name) {
    const char* s = tigetstr(name);
    return s && s != reinterpret_cast<const char*>(-1) ? s : nullptr;
}

// The terminal says it takes xterm's title sequences, or its status line is
// xterm's title (as tmux's description has it).
bool xtermLike(const char* toStatus) {
    return tigetflag("XT") > 0 ||
           (toStatus && (std::strncmp(toStatus, "\033]0;", 4) == 0 || std::strncmp(toStatus, "\033]2;", 4) == 0));
}

void writeAll(const std::string& bytes) {
    size_t at = 0;
    while (at < bytes.size()) {
        const ssize_t n = ::write(STDOUT_FILENO, bytes.data() + at, bytes.size() - at);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return;
        at += static_cast<size_t>(n);
    }
}

}  // namespace

std::string terminalTitleText(const char* title, bool utf8) {
    std::string out;
    for (const char* p = title ? title : ""; *p; ++p) {
        const unsigned char c = static_cast<unsigned char>(*p);
        if (c >= 32 && c < 127) out += static_cast<char>(c);
        else if (utf8) appendCp437(out, c);
        else out += '?';
    }
    return out;
}

void setTerminalTitle(const char* title) {
    if (!stdscr) return;
    const char* toStatus = capability("tsl");
    std::string start, end;
    if (toStatus && tigetflag("hs") > 0) {
        start = tiparm(toStatus, 0);
        const char* fromStatus = capability("fsl");
        end = fromStatus ? fromStatus : "";
    } else if (xtermLike(nullptr)) {
        start = "\033]0;";
        end = "\007";
    } else {
        return;
    }
    std::string bytes;
    if (xtermLike(toStatus) && !titlePushed) {
        bytes = pushTitle;
        titlePushed = true;
        addTerminalRescue(popTitle);
    }
    writeAll(bytes + start + terminalTitleText(title, unicodeMode != 0) + end);
}

bool copyToTerminalClipboard(const std::string& text) {
    const char* ms = stdscr ? capability("Ms") : nullptr;
    if (!ms) return false;
    static constexpr char digits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string coded;
    for (size_t i = 0; i < text.size(); i += 3) {
        uint32_t v = static_cast<unsigned char>(text[i]) << 16;
        if (i + 1 < text.size()) v |= static_cast<unsigned char>(text[i + 1]) << 8;
        if (i + 2 < text.size()) v |= static_cast<unsigned char>(text[i + 2]);
        for (size_t j = 0; j < 4; ++j) coded += i + j <= text.size() ? digits[(v >> (18 - 6 * j)) & 63] : '=';
    }
    const char* bytes = tiparm(ms, "c", coded.c_str());
    if (!bytes) return false;
    writeAll(bytes);
    return true;
}

void restoreTerminalTitle() {
    if (titlePushed) writeAll(popTitle);
    titlePushed = false;
}
