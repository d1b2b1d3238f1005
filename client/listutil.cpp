#include "client/listutil.h"

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "console/cinput.h"
#include "net/sutil.h"

char firstOf(const char* text, const char* set)
{
    if (!text) return 0;
    const char* at = std::strpbrk(text, set);
    return at ? *at : 0;
}

bool askText(_win_st* win, const char* prompt, char* buf, int maxLen, unsigned char color, int masked,
             fieldRule rule, textRule whole)
{
    consoleInputBox box(masked);
    for (;;) {
        box.init(win, 10, 10, 60, prompt, buf, maxLen, color);
        if (box.execute() != 2) return false;
        const char refused = rule ? rule(buf) : 0;
        std::string message = whole ? whole(buf) : "";
        if (!refused && message.empty()) return true;
        if (refused) message = std::string("The character '") + refused + "' cannot be used here.";
        messageBox(win, 0x4E, message.c_str(), "Press Enter to continue...");
    }
}

char* copyText(const char* text, size_t len)
{
    if (!text || len > INT_MAX - 1) return nullptr;
    return strndup(text, static_cast<int>(len));
}

void replaceText(char*& slot, const char* text)
{
    char* copy = text ? copyText(text, std::strlen(text)) : nullptr;
    std::free(slot);
    slot = copy;
}

void dropItem(consoleMenu& menu, menuItem* item)
{
    menu.items.release(item);
    menu.goToItem(0);
    menu.draw();
}
