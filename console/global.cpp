#include "console/global.h"

#include <cstdlib>
#include <cstring>

char* modulePath = nullptr;
char* startupProxy = nullptr;
char* startupServer = nullptr;
char* startupConfig = nullptr;
int alternateCharset = 0;
int monochromeMode = 0;
int unicodeMode = 0;
volatile int EXIT = 0;
const int comBufferSize = 8000;

void setGlobalString(char** slot, const char* text) {
    if (!slot) return;
    // Copy before freeing: text may be the old value itself.
    char* copy = text ? strdup(text) : nullptr;
    std::free(*slot);
    *slot = copy;
}
