#pragma once
#include <cstddef>
#include <string>

#include "record/asciicast.h"
#include "share/webshare.h"

// Program start-up: where the program lives, the command line and the
// signal handling of the terminal program.

// What the command line asks of the session and of the parts of the
// program that keep or show its screen.
struct programOptions {
    bool reconnect = false;         // --reconnect
    recordOptions record;           // --record, --record-limit=MB
    std::string saveDir;            // --save-dir=DIR ("": none)
    size_t historyLines = 10000;    // --history=N, at most what all histories may hold
    shareOptions share;             // --share[=ADDR:PORT]
};

// The program's directory through its last '/', '\' or ':' (heap, free()),
// "" when the path has none, or null when memory runs out.
char* getModulePath(const char* programPath);

// Splits line at blanks into at most maxWords words (the line is cut up in
// place); returns the number of words.
int parseCmdLine(char* line, char** words, int maxWords);

// Sets startupProxy, startupServer and startupConfig from --proxy=NAME,
// --server=NAME, --direct and --config=FILE, and the rest into options
// (when not null). With cmdLine non-null its words are used instead of argv.
// Returns 0, or -2 when the working buffer could not be had (options ignored).
int parseCmdArguments(const char* cmdLine, int argc, char** argv, programOptions* options = nullptr);

// Every argument after the program path must be one the program knows: an
// unknown one, or --proxy, --server or --config without "=VALUE", is told in
// one line on standard error followed by the usage, and the result is 2 (the
// program's exit status); 0 when all are known. Letter case and display
// letters as this build takes them.
int rejectedArguments(int argc, char** argv);

// --help (the usage, ending with the configuration file that these
// arguments would use, found without making anything) and --version, given
// as exactly that argument (letter case as the build's options take it),
// answer on standard output before anything else happens. programPath: the
// program's own path, whose folder counts as the program's. True when one
// of them answered.
bool answeredInfoOption(int argc, char** argv, const char* programPath);

// Frees the program-wide strings at the end of the run (the master password
// wiped first).
void releaseProgramStrings();

// SIGINT is ignored; SIGTERM, SIGQUIT and SIGHUP ask the program to leave (EXIT).
void signalHandler(int signalNumber);
// Installs signalHandler for SIGTERM, SIGQUIT, SIGHUP and SIGINT, without restarting
// interrupted calls so that a blocked key wait notices at once; ignores
// SIGXFSZ (programs it starts get it back).
void installSignalHandlers();

// What a batch run, which has no terminal, needs of the system: the key
// tables that turn typed characters into key events, and the signals that
// end it in order (where the system has them).
void batchKeysInit();
void batchSignalsInit();
