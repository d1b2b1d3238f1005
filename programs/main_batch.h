#pragma once
#include <string>
#include <vector>

class consoleMain;
class serverInfo;

// Batch mode: a script drives a session without a terminal (quorcli --batch).

// True when --batch is among the arguments.
bool batchRequested(int argc, char** argv);

// The whole batch run; returns the program's exit status: 0 done, 1 a wait
// timed out, 2 a usage or script error, 3 the connection failed, 4 the
// password was invalid, 5 the link was lost, 124 the deadline passed (or
// what the script's exit and expect commands say).
int batchMain(int argc, char** argv);

// The servers that the --server patterns name, in list order, each once:
// with * or ? every entry whose description matches, otherwise the first
// that begins with the pattern. False, with why, when a pattern names none.
bool serversMatching(consoleMain& app, const std::vector<std::string>& patterns, std::vector<serverInfo*>& servers,
                     std::string& error);
