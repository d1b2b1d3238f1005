// Whether the terminal can carry the program at all, asked before curses
// takes it over (kept apart: <term.h> defines many short macro names).
#include <unistd.h>

#include <cstdlib>
#include <string>

#define NCURSES_NOMACROS
#include <curses.h>
#include <term.h>

#include "console/cutil.h"

std::string terminalRefusal() {
    if (!isatty(STDIN_FILENO) || !isatty(STDOUT_FILENO)) return "standard input and output must be a terminal";
    const char* term = std::getenv("TERM");
    if (!term || !*term) return "TERM is not set";
    int error = 0;
    if (setupterm(term, STDOUT_FILENO, &error) != OK) return std::string("unknown terminal type '") + term + "'";
    const char* cup = tigetstr("cup");
    const bool addressable = cup && cup != reinterpret_cast<char*>(-1);
    del_curterm(cur_term);
    if (!addressable) return std::string("terminal type '") + term + "' cannot address the cursor";
    return "";
}
