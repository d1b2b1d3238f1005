#include "batch/output.h"

#include <chrono>
#include <cstdio>

#include "console/cp437.h"
#include "screen/formats.h"

namespace {
const auto runStart = std::chrono::steady_clock::now();
}

std::string secondsText(long long ms) {
    char text[32];
    std::snprintf(text, sizeof text, "%g s", static_cast<double>(ms) / 1000);
    return text;
}

std::string screenJson(const remoteScreen& screen) {
    std::string out = "{\"server\":" + jsonString(cp437Text(screen.server)) + ",\"screen_id\":" +
                      std::to_string(screen.screenId) + ",\"screen_name\":" + jsonString(cp437Text(screen.screenName)) +
                      ",\"cursor\":{\"x\":" +
                      std::to_string(screen.cursorX) + ",\"y\":" + std::to_string(screen.cursorY) + "},\"rows\":[";
    const std::string text = screenText(screen);
    size_t at = 0;
    for (int r = 0; r < screenRows; ++r) {
        const size_t nl = text.find('\n', at);
        out += (r ? "," : "") + jsonString(text.substr(at, nl - at));
        at = nl + 1;
    }
    // Colours: per row, runs of cells with one attribute (fg 0-15, bg 0-7, blink).
    out += "],\"colors\":[";
    for (int r = 0; r < screenRows; ++r) {
        out += r ? ",[" : "[";
        for (int c = 0; c < screenCols;) {
            const int attr = screen.cells[r][c] >> 8;
            int n = 1;
            while (c + n < screenCols && (screen.cells[r][c + n] >> 8) == attr) ++n;
            out += (c ? ",{\"col\":" : "{\"col\":") + std::to_string(c) + ",\"len\":" + std::to_string(n) +
                   ",\"fg\":" + std::to_string(attr & 15) + ",\"bg\":" + std::to_string((attr >> 4) & 7) +
                   ",\"blink\":" + ((attr & 0x80) ? "true" : "false") + "}";
            c += n;
        }
        out += "]";
    }
    return out + "]}";
}

void batchOutput::say(const std::string& text) {
    if (json) return event("echo", {{"text", jsonString(text)}});
    std::lock_guard<std::mutex> lock(mutex_);
    std::fprintf(stdout, "%s\n", text.c_str());
    std::fflush(stdout);
}

void batchOutput::complain(const std::string& text) {
    if (json) event("error", {{"message", jsonString(text)}});
    std::lock_guard<std::mutex> lock(mutex_);
    std::fprintf(stderr, "quorcli: %s\n", text.c_str());
    std::fflush(stderr);
}

void batchOutput::toStderr(const std::string& text) {
    std::lock_guard<std::mutex> lock(mutex_);
    std::fputs(text.c_str(), stderr);
    std::fflush(stderr);
}

void batchOutput::event(const char* name, std::initializer_list<std::pair<const char*, std::string>> fields) {
    if (!json) return;
    std::string line = "{\"event\":" + jsonString(name) + ",\"server\":" + jsonString(server) +
                       ",\"at_ms\":" + std::to_string(elapsedMs());
    for (const auto& [key, value] : fields) line += ",\"" + std::string(key) + "\":" + value;
    line += "}\n";
    std::lock_guard<std::mutex> lock(mutex_);
    std::fputs(line.c_str(), stdout);
    std::fflush(stdout);
}

long long batchOutput::elapsedMs() const {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - runStart).count();
}
