#include "batch/scriptterminal.h"

int scriptTerminal::readKey(int timeoutMs, INPUT_RECORD& record) {
    if (keys.empty() && timeoutMs != 0) {
        dialogAsked = true;
        return -1;
    }
    return MemoryTerminal::readKey(timeoutMs, record);
}
