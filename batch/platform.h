#pragma once
#include <functional>
#include <string>
#include <vector>

// What a batch run needs of the system: the key tables, the program's own
// path, and the processes of a run over several servers.

// A termination request ends the run in order (where the system sends one).
void batchSignalsInit();

// Makes ready what turns typed characters into key events.
void batchKeysInit();

// The full path of the running program; empty when the system does not say.
std::string ownProgramPath();

// Runs program once per argument list, at most `parallel` at a time, in
// order. Every line a child writes (standard output or error, without its
// line end; overlong lines come in pieces) goes to onLine, and its exit
// status to onExit (-1: it could not be started), all on the calling
// thread. On a termination request the running children are asked to end.
using childLineFn = std::function<void(size_t child, bool fromStderr, const std::string& line)>;
using childExitFn = std::function<void(size_t child, int status)>;
// Called before each start; false skips the child (onExit is not called).
using childStartFn = std::function<bool(size_t child, std::vector<std::string>& args)>;
void runChildren(const std::string& program, const std::vector<std::vector<std::string>>& args, int parallel,
                 const childStartFn& onStart, const childLineFn& onLine, const childExitFn& onExit);
