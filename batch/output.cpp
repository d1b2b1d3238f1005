#include "batch/output.h"

#include <chrono>
#include <cstdio>

namespace {
const auto runStart = std::chrono::steady_clock::now();
}

std::string secondsText(long long ms) {
    char text[32];
    std::snprintf(text, sizeof text, "%g s", static_cast<double>(ms) / 1000);
    return text;
}

void batchOutput::say(const std::string& text, const char* eventName) {
    if (json) return event(eventName, {{"text", jsonString(text)}});
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

void batchOutput::event(const char* name, const std::vector<std::pair<const char*, std::string>>& fields) {
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
