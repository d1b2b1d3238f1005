// Program entry of the Windows build: the program's own console screen
// buffer, the input thread, and the main menu loop.
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "programs/main_batch.h"
#include "programs/main_wall.h"
#include "batch/secrets.h"
#include "client/cmain.h"
#include "programs/main_parts.h"
#include "programs/main_startup.h"
#include "console/global.h"
#include "console/term.h"
#include "console/win32/keyqueue.h"
#include "console/win32/winconsole.h"

namespace {

// The full path of the running program (512 characters at most); empty
// when the system does not say.
std::string programPath() {
    char path[512];
    const DWORD n = GetModuleFileNameA(nullptr, path, sizeof path);
    if (n == 0 || n >= sizeof path) path[0] = 0;
    return path;
}

// Why the program cannot read keys, or "": the input thread reads the
// console, and would spin on a redirected standard input that is none.
std::string inputRefusal() {
    HANDLE in = GetStdHandle(STD_INPUT_HANDLE);
    DWORD mode = 0;
    if (in && in != INVALID_HANDLE_VALUE && !GetConsoleMode(in, &mode)) return "standard input is not a console";
    return "";
}

}  // namespace

int main(int argc, char** argv) {
    // Before anything can start a program that would inherit it.
    const bool batch = batchRequested(argc, argv);
    const bool wall = !batch && wallRequested(argc, argv);
    takeEnvironmentSecrets(batch || wall);
    if (wall) {
        modulePath = getModulePath(argc > 0 ? argv[0] : nullptr);
        return wallMain(argc, argv);
    }
    // Batch mode takes no console: standard input and output may be pipes.
    if (batch) {
        modulePath = getModulePath(programPath().c_str());
        return batchMain(argc, argv);
    }
    if (const int rejected = rejectedArguments(argc, argv)) {
        keepWindowForReading();
        return rejected;
    }
    if (answeredInfoOption(argc, argv, programPath().c_str())) return 0;
    const std::string noInput = inputRefusal();
    if (!noInput.empty()) {
        std::fprintf(stderr, "quorcli: %s\n", noInput.c_str());
        return 1;
    }
    modulePath = getModulePath(programPath().c_str());
    programOptions options;
    parseCmdArguments(nullptr, argc, argv, &options);
    // A configuration that must not be used is refused before the console
    // is taken and before anything of it is made, read or written.
    const std::string refusal = configRefusal("quorcli.cfg");
    if (!refusal.empty()) {
        std::fprintf(stderr, "quorcli: %s\n", refusal.c_str());
        keepWindowForReading();
        releaseProgramStrings();
        return 1;
    }

    HANDLE screen = openConsoleScreen();
    WinConsoleTerminal console(screen);
    setTerminal(&console);

    int result = 0;
    {
        consoleMain app({options.reconnect});
        sessionParts parts(app, options);
        const std::string shareError = parts.startShare();
        if (app.init(reinterpret_cast<_win_st*>(screen)) == 0 && shareError.empty()) {
            startKeyboardThread();
            app.execute();
        }
        // Saved: a close of the window that waits for this may go on now.
        programLeft();
        setTerminal(nullptr);
        // The console's own buffer is shown again before anything is said on
        // it, and the window stays until it has been read.
        closeConsoleScreen(screen);
        result = app.reportEnd(shareError);
        if (result != 0) keepWindowForReading();
        FreeConsole();
    }

    releaseProgramStrings();
    return result;
}
