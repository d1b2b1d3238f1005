#include "wall/wallcast.h"

#include <cstdio>

#include "screen/asciicast.h"
#include "screen/json.h"

std::string wallCastHeader(std::string_view description, long long timestamp) {
    return castHeader(description, timestamp);
}

std::string wallDrawChanges(wallTerminal& shown, const remoteScreen& to, uint32_t rows, bool all) {
    if (all) return castDrawChanges(shown, to, nullptr);
    bool flagged[screenRows];
    for (int r = 0; r < screenRows; ++r) flagged[r] = (rows & (1u << r)) != 0;
    return castDrawChanges(shown, to, flagged);
}

std::string wallCastEvent(double seconds, char type, std::string_view data) {
    char time[48];
    std::snprintf(time, sizeof time, "[%.6f, \"%c\", ", seconds, type);
    std::string line = time;
    line += jsonString(data);
    return line + "]\n";
}
