#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#define NCURSES_NOMACROS
#include <curses.h>

#include "programs/main_batch.h"
#include "programs/main_wall.h"
#include "batch/secrets.h"
#include "client/cfgplace.h"
#include "client/cmain.h"
#include "programs/main_parts.h"
#include "programs/main_startup.h"
#include "console/cutil.h"
#include "console/global.h"
#include "console/keyboard.h"
#include "console/keyboard_curses.h"

int main(int argc, char** argv) {
    // Before anything can start a program that would inherit it.
    const bool batch = batchRequested(argc, argv);
    const bool wall = !batch && wallRequested(argc, argv);
    takeEnvironmentSecrets(batch || wall);
    if (wall) {
        modulePath = getModulePath(argc > 0 ? argv[0] : nullptr);
        return wallMain(argc, argv);
    }
    // Batch mode takes no terminal: none is refused, curses never starts.
    if (batch) {
        modulePath = getModulePath(argc > 0 ? argv[0] : nullptr);
        return batchMain(argc, argv);
    }
    if (const int rejected = rejectedArguments(argc, argv)) return rejected;
    if (answeredInfoOption(argc, argv, argc > 0 ? argv[0] : nullptr)) return 0;
    std::setlocale(LC_CTYPE, "");
    // A terminal that cannot show the screen gets a refusal, before the
    // configuration is touched and before curses takes the terminal.
    const std::string refusal = terminalRefusal();
    if (!refusal.empty()) {
        std::fprintf(stderr, "quorcli: %s\n", refusal.c_str());
        return 1;
    }
    modulePath = getModulePath(argc > 0 ? argv[0] : nullptr);
    programOptions options;
    parseCmdArguments(nullptr, argc, argv, &options);
    // So does a configuration that must not be used, before anything of it
    // is made, read or written.
    const std::string cfgRefusal = configRefusal("quorcli.cfg");
    if (!cfgRefusal.empty()) {
        std::fprintf(stderr, "quorcli: %s\n", cfgRefusal.c_str());
        releaseProgramStrings();
        return 1;
    }
    installSignalHandlers();
    terminalStartup(argc, argv);

    int result = 0;
    {
        consoleMain app({options.reconnect});
        sessionParts parts(app, options);
        // --share serves the whole run: a server that cannot start ends it.
        const std::string shareError = parts.startShare();
        if (app.init(stdscr) == 0 && shareError.empty()) {
            keyboardInputInit(stdscr);
            app.execute();
        }
        terminalShutdown();
        // The terminal is ours again: say so when the configuration could not
        // be read (it was then left alone) or written, or lines were left out.
        result = app.reportEnd(shareError);
    }

    releaseProgramStrings();
    return result;
}
