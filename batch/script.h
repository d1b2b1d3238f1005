#pragma once
#include <cstdint>
#include <ctime>
#include <memory>
#include <string>
#include <vector>

#include "console/keyboard.h"

// The batch script: one command a line, '#' comments, text in double quotes
// (\" and \\ inside), regular expressions between slashes (\/ inside).
// Parsing is all-or-nothing: every error (up to scriptMaxErrors) names its
// line, and nothing runs.

// A compiled regular expression of a script. Both builds read RE2's syntax;
// the Linux build matches with RE2 (linear time), the Windows build with
// std::regex, refusing the shapes that could backtrack without bound.
class scriptRegex;
// Null with why when this build refuses the pattern.
std::shared_ptr<const scriptRegex> compileScriptRegex(const std::string& pattern, std::string& why);
bool scriptRegexFound(const scriptRegex& regex, const std::string& text);
// The first match in text: its first group, or the whole match without one.
bool scriptRegexFirst(const scriptRegex& regex, const std::string& text, std::string& found);

// ifScreen: the commands up to its else or end run when the pattern is on
// the screen, else it goes on at jump; jump: an else, which goes on at its
// end.
enum class cmdKind { wait, waitGone, waitStill, key, type, pace, screen, save, echo, exit, expect, print, send, ifScreen, jump };
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
    std::vector<screenPattern> orElse;   // wait A or B: the patterns after A
    int row = -1;                  // 0..24, -1 the whole screen
    long long timeoutMs = 30000;
    bool now = false;              // wait now: the screen shown already counts
    long long ms = 0;              // wait still, pace
    std::vector<INPUT_RECORD> keys;
    std::string text;              // type, echo, save (the file), expect's message, screen's name
    int code = 0;                  // exit, expect's else
    uint32_t screenId = 0;         // screen by id (0: by name)
    size_t jump = 0;               // if, else: the command to go on at
};

struct scriptProblem {
    int line;
    std::string what;
};

struct parsedScript {
    std::vector<scriptCommand> commands;
    std::vector<scriptProblem> errors;   // none: the script is taken
};

// The largest script taken, and the longest line.
constexpr size_t scriptMaxBytes = 1 << 20;
constexpr size_t scriptMaxLine = 8192;
constexpr size_t scriptMaxErrors = 20;

parsedScript parseScript(const std::string& text);

// What the name of a saved file may say of its run.
struct saveNaming {
    std::string server;            // the server's description, safe in a file name
    std::string host;
    bool severalServers = false;   // a run over several servers
};
// The name a save writes: {server}, {host}, {screen} (the screen id) and
// {time} (YYYYMMDD-HHMMSS) replaced; in a run over several servers a name
// without {server} gets the server before its extension, so that no two
// servers write the same file.
std::string saveFileName(const std::string& pattern, const saveNaming& naming, uint32_t screenId, std::time_t when);
