#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#define NCURSES_NOMACROS
#include <curses.h>

#include "client/cfgplace.h"
#include "client/cmain.h"
#include "client/startup.h"
#include "console/cutil.h"
#include "console/global.h"
#include "console/keyboard.h"
#include "console/keyboard_curses.h"

namespace {

const char versionText[] = "quorcli v.1.7\n";

// The usage, ending with the configuration file that these arguments would
// use (found without making anything).
void printUsage(int argc, char** argv) {
    modulePath = getModulePath(argv[0]);
    parseCmdArguments(nullptr, argc, argv);
    const cfgPlace place = cfgChoosePlace(startupConfig, modulePath, "quorcli.cfg", cfgNativeSystem());
    std::printf(
        "Usage: quorcli [--proxy=NAME] [--server=NAME] [--direct] [--config=FILE] [--reconnect] [-m] [-a | -n | -u]\n"
        "Remote console client for QUORVEX servers.\n"
        "\n"
        "  --proxy=NAME   use the first proxy entry that begins with NAME\n"
        "  --direct       connect without a proxy\n"
        "  --server=NAME  connect to the first server entry that begins with NAME\n"
        "  --config=FILE  keep servers and proxies in FILE\n"
        "  --reconnect    reconnect by itself when the link of a session fails\n"
        "  -m             monochrome\n"
        "  -a             plain ASCII line drawing\n"
        "  -n             the terminal's own line drawing (Unicode in a UTF-8 locale)\n"
        "  -u             Unicode glyphs (the default in a UTF-8 locale)\n"
        "  --help         show this text\n"
        "  --version      show the version\n"
        "\n"
        "Without --config, servers and proxies are kept in quorcli.cfg beside the\n"
        "program when it is there or the program's folder may be written, and\n"
        "otherwise in the user's configuration folder.\n"
        "Configuration file: %s\n",
        place.path.c_str());
    releaseProgramStrings();
}

// --help and --version, given as exactly that argument, answer and end the
// program before anything else happens. True when one of them did.
bool answeredInfoOption(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        if (!argv[i]) continue;
        if (std::strcmp(argv[i], "--help") == 0) {
            printUsage(argc, argv);
            return true;
        }
        if (std::strcmp(argv[i], "--version") == 0) {
            std::fputs(versionText, stdout);
            return true;
        }
    }
    return false;
}

}  // namespace

int main(int argc, char** argv) {
    if (answeredInfoOption(argc, argv)) return 0;
    std::setlocale(LC_CTYPE, "");
    // A terminal that cannot show the screen gets a refusal, before the
    // configuration is touched and before curses takes the terminal.
    const std::string refusal = terminalRefusal();
    if (!refusal.empty()) {
        std::fprintf(stderr, "quorcli: %s\n", refusal.c_str());
        return 1;
    }
    modulePath = getModulePath(argc > 0 ? argv[0] : nullptr);
    parseCmdArguments(nullptr, argc, argv);
    // So does a configuration that must not be used, before anything of it
    // is made, read or written.
    const std::string cfgRefusal = configRefusal("quorcli.cfg");
    if (!cfgRefusal.empty()) {
        std::fprintf(stderr, "quorcli: %s\n", cfgRefusal.c_str());
        releaseProgramStrings();
        return 1;
    }
    ++count;
    installSignalHandlers();
    terminalStartup(argc, argv);

    int result = 0;
    {
        consoleMain app;
        if (app.init(stdscr) == 0) {
            keyboardInputInit(stdscr);
            app.execute();
        }
        terminalShutdown();
        // The terminal is ours again: say so when the configuration could not
        // be read (it was then left alone) or written, or lines were left out.
        result = app.reportEnd();
    }
    --count;

    releaseProgramStrings();
    return result;
}
