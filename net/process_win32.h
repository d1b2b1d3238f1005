#pragma once
// Starting a program on Windows (tunnel commands, and the sessions of a
// batch run over several servers).

#include <windows.h>

#include <string>
#include <vector>

// The command line that the child's C runtime splits back into args.
std::string windowsCommandLine(const std::vector<std::string>& args);

// Starts the program with the command line of args, whose first is the
// program itself: `program` when not null, else args[0] looked up as
// CreateProcess does. The three standard handles must be inheritable; flags
// are CreateProcess's. False with GetLastError() set when it did not start.
bool startProcess(const char* program, const std::vector<std::string>& args, HANDLE in, HANDLE out, HANDLE err,
                  DWORD flags, PROCESS_INFORMATION& started);
