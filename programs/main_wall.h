#pragma once

// The console wall (quorcli --wall): every matching server's console live
// on one page in a browser, kept open and, with --log-dir, kept on disk.

// True when --wall or --wall=ADDR:PORT is among the arguments.
bool wallRequested(int argc, char** argv);

// The whole run, until SIGTERM or SIGINT; returns the exit status: 0 after
// a signal, 2 for a usage error or a wall that cannot start.
int wallMain(int argc, char** argv);
