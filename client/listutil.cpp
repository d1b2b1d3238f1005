#include "client/listutil.h"

#include <climits>
#include <cstdlib>
#include <cstring>

#include "console/cinput.h"
#include "net/sutil.h"

bool askText(_win_st* win, const char* prompt, char* buf, int maxLen, unsigned char color, int masked)
{
    consoleInputBox box(masked);
    box.init(win, 10, 10, 60, prompt, buf, maxLen, color);
    return box.execute() == 2;
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
