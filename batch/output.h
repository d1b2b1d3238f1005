#pragma once
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "screen/json.h"   // the values of events

// Milliseconds as seconds for a message ("2.5 s").
std::string secondsText(long long ms);

// What a batch run says: plain lines on standard output and error, or one
// JSON object a line on standard output with --json. Safe from any thread.
class batchOutput {
public:
    bool json = false;
    std::string server;   // carried by every JSON line: the description as shown (UTF-8)

    // A line of the script's own output (echo, print): the event of that
    // name in JSON runs.
    void say(const std::string& text, const char* eventName = "echo");
    // A line on standard error (plain runs), or an event "error" (JSON runs).
    void complain(const std::string& text);
    // Text for standard error in both modes (the screen after a timeout).
    void toStderr(const std::string& text);
    // One JSON event with fields already encoded as JSON values; nothing
    // in plain runs.
    void event(const char* name, const std::vector<std::pair<const char*, std::string>>& fields);
    // Milliseconds since the run began.
    long long elapsedMs() const;

private:
    std::mutex mutex_;
};
