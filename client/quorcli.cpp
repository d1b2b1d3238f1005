#include <cstdio>
#include <cstdlib>
#include <cstring>

#define NCURSES_NOMACROS
#include <curses.h>

#include "client/cmain.h"
#include "client/startup.h"
#include "console/cutil.h"
#include "console/global.h"
#include "console/keyboard.h"

int main(int argc, char** argv) {
    ++count;
    installSignalHandlers();
    modulePath = getModulePath(argc > 0 ? argv[0] : nullptr);
    parseCmdArguments(nullptr, argc, argv);
    terminalStartup(argc, argv);

    int result = 0;
    {
        consoleMain app;
        if (app.init(stdscr) == 0) {
            keyboardInputInit(stdscr);
            app.execute();
        }
        terminalShutdown();
        // The terminal is ours again: say so when the configuration was lost.
        if (!app.saveError.empty()) {
            std::fprintf(stderr, "quorcli: cannot write %s\n", app.saveError.c_str());
            result = 1;
        }
    }
    --count;

    setGlobalString(&modulePath, nullptr);
    if (masterPassword) std::memset(masterPassword, 0, std::strlen(masterPassword));
    setGlobalString(&masterPassword, nullptr);
    setGlobalString(&startupServer, nullptr);
    setGlobalString(&startupProxy, nullptr);
    return result;
}
