#pragma once
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "console/keyboard.h"

// The batch script: one command a line, '#' comments, text in double quotes
// (\" and \\ inside), regular expressions between slashes (\/ inside).
// Parsing is all-or-nothing: the first error names its line and nothing runs.

// A compiled regular expression of a script. Both builds read RE2's syntax;
// the Linux build matches with RE2 (linear time), the Windows build with
// std::regex, refusing the shapes that could backtrack without bound.
class scriptRegex;
// Null with why when this build refuses the pattern.
std::shared_ptr<const scriptRegex> compileScriptRegex(const std::string& pattern, std::string& why);
bool scriptRegexFound(const scriptRegex& regex, const std::string& text);

enum class cmdKind { wait, waitGone, waitStill, key, type, pace, screen, save, echo, exit, expect };
// How a command is named in messages ("wait gone").
const char* commandName(cmdKind kind);

// What a wait or an expect looks for on the screen.
struct screenPattern {
    std::string text;
    std::shared_ptr<const scriptRegex> regex;   // null: text is looked for as it is
    bool foundIn(const std::string& shown) const;
};

struct scriptCommand {
    cmdKind kind = cmdKind::echo;
    int line = 0;
    screenPattern what;
    int row = -1;                  // 0..24, -1 the whole screen
    long long timeoutMs = 30000;
    bool now = false;              // wait now: the screen shown already counts
    long long ms = 0;              // wait still, pace
    std::vector<INPUT_RECORD> keys;
    std::string text;              // type, echo, save (the file), expect's message, screen's name
    int code = 0;                  // exit, expect's else
    uint32_t screenId = 0;         // screen by id (0: by name)
};

struct parsedScript {
    std::vector<scriptCommand> commands;
    int errorLine = 0;             // 0: no error
    std::string error;
};

// The largest script taken, and the longest line.
constexpr size_t scriptMaxBytes = 1 << 20;
constexpr size_t scriptMaxLine = 8192;

parsedScript parseScript(const std::string& text);
