// Program entry of the Windows build: the program's own console screen
// buffer, the input thread, and the main menu loop.
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "client/cmain.h"
#include "client/startup.h"
#include "console/global.h"
#include "console/term.h"
#include "console/win32/keyqueue.h"
#include "console/win32/winconsole.h"

namespace {

// The folder of the running program, from its full path (512 characters at
// most); empty when the system does not say.
char* programFolder() {
    char path[512];
    const DWORD n = GetModuleFileNameA(nullptr, path, sizeof path);
    if (n == 0 || n >= sizeof path) path[0] = 0;
    return getModulePath(path);
}

}  // namespace

int main(int argc, char** argv) {
    modulePath = programFolder();
    parseCmdArguments(nullptr, argc, argv);
    // A configuration that must not be used is refused before the console
    // is taken and before anything of it is made, read or written.
    const std::string refusal = configRefusal("quorcli.cfg");
    if (!refusal.empty()) {
        std::fprintf(stderr, "quorcli: %s\n", refusal.c_str());
        releaseProgramStrings();
        return 1;
    }

    HANDLE screen = openConsoleScreen();
    WinConsoleTerminal console(screen);
    setTerminal(&console);

    int result = 0;
    {
        consoleMain app;
        if (app.init(reinterpret_cast<_win_st*>(screen)) == 0) {
            startKeyboardThread();
            app.execute();
        }
        setTerminal(nullptr);
        closeConsoleScreen(screen);
        result = app.reportEnd();
    }

    releaseProgramStrings();
    return result;
}
