// A small program on the real terminal for the toolkit's tmux test: a sorted
// list menu, a plain and a masked input box and a message box, one after the
// other, each result written on row 24.
#include <unistd.h>

#include <cstdio>
#include <cstring>

#define NCURSES_NOMACROS
#include <curses.h>

#include "programs/main_startup.h"
#include "console/cinput.h"
#include "console/cmenu.h"
#include "console/cutil.h"
#include "console/global.h"
#include "console/keyboard.h"
#include "console/keyboard_curses.h"

namespace {

void status(int row, const char* text) { consoleTextLine(stdscr, 0, row, text, 80, 0x70); }

// A sorted menu that reports its active item on row 23 after every key.
class reportingMenu : public consoleMenu {
public:
    int onKey(KEY_EVENT_RECORD& key) override {
        int code = consoleMenu::onKey(key);
        char line[100];
        menuItem* item = getActiveItem();
        std::snprintf(line, sizeof line, "active: %s", item ? item->text : "-");
        status(23, line);
        return code;
    }
};

int runMenu(char* chosen, size_t size) {
    static const char* const fruits[] = {"honeydew", "Cherry", "apple", "Grape",
                                         "date", "Banana", "fig", "Elderberry"};
    reportingMenu menu;
    menu.setBorderTitle("Fruits");
    menu.init(stdscr, 25, 3, 30, 6, ctlSaveScreen | ctlAccept | ctlSorted);
    int id = 0;
    for (const char* f : fruits) menu.add(f, ++id, nullptr);
    int code = menu.execute();
    menuItem* item = menu.getActiveItem();
    std::snprintf(chosen, size, "%s", item ? item->text : "-");
    return code;
}

}  // namespace

int main(int argc, char** argv) {
    installSignalHandlers();
    terminalStartup(argc, argv);
    keyboardInputInit(stdscr);

    consoleFillBox(stdscr, 0, 0, 80, 25, 0x07, ' ');
    char line[120];
    std::snprintf(line, sizeof line, "Toolkit demo pid=%ld", static_cast<long>(getpid()));
    status(0, line);

    char chosen[80];
    int menuCode = runMenu(chosen, sizeof chosen);
    std::snprintf(line, sizeof line, "menu: %d %s", menuCode, chosen);
    status(24, line);

    char name[31] = "";
    consoleInputBox plain;
    plain.init(stdscr, 20, 10, 40, "Your name:", name, 30, 0x1E);
    int nameCode = plain.execute();
    std::snprintf(line, sizeof line, "input: %d [%s]", nameCode, name);
    status(24, line);

    char secret[17] = "";
    consoleInputBox masked(1);
    masked.init(stdscr, 20, 10, 40, "Password:", secret, 16, 0x4E);
    int secretCode = masked.execute();
    std::snprintf(line, sizeof line, "password: %d [%s]", secretCode, secret);
    status(24, line);

    int messageCode = messageBox(stdscr, 0x4E, "All done", "Press Enter to continue...", "Cancel");
    std::snprintf(line, sizeof line, "message: %d", messageCode);
    status(24, line);

    terminalShutdown();
    std::printf("uidemo: menu=%d:%s input=%d:[%s] password=%d:[%s] message=%d\n", menuCode, chosen,
                nameCode, name, secretCode, secret, messageCode);
    return 0;
}
