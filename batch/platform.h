#pragma once
#include <functional>
#include <string>
#include <vector>

// What a batch run needs of the system: the program's own path, its
// secrets, and the processes of a run over several servers.

// The full path of the running program; empty when the system does not say.
std::string ownProgramPath();

// Takes the variable out of the environment, wiping its value there; the
// value goes into buf (size bytes with the terminator, cut). False when it
// was not set.
bool takeEnvironmentSecret(const char* name, char* buf, size_t size);

// The status of a child that could not be started.
constexpr int childNotStarted = 126;

// Runs program once per argument list, at most `parallel` at a time, in
// order, each with the bytes of `input` on its standard input. Every line a child writes
// (standard output or error, without its line end; overlong lines come in
// pieces) goes to onLine, and how it ended to onExit: its exit status, and
// why when it did not end by itself (it could not be started:
// childNotStarted; a signal: 128 + its number), all on the calling thread.
// On a termination request the running children are asked to end.
using childLineFn = std::function<void(size_t child, bool fromStderr, const std::string& line)>;
using childExitFn = std::function<void(size_t child, int status, const std::string& why)>;
// Called before each start; false skips the child (onExit is not called).
using childStartFn = std::function<bool(size_t child, std::vector<std::string>& args)>;
void runChildren(const std::string& program, const std::vector<std::vector<std::string>>& args, int parallel,
                 const char* input, size_t inputLen, const childStartFn& onStart, const childLineFn& onLine,
                 const childExitFn& onExit);
