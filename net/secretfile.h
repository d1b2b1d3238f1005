#pragma once
#include <cstddef>
#include <string>

// Secrets read from files and pipes, through buffers that are wiped (no
// stdio buffer keeps a copy).

// Reads the first line of a password file into buf (size bytes with the
// terminator; a longer line is cut). "" when a password was read, else a
// line that says why not and names the file. On Linux a file that group or
// others may read is refused, with its mode (judged on what was opened: a
// link's target); pipes (--password-file=<(...)) are read like files.
std::string readPasswordFile(const std::string& path, char* buf, size_t size);

// Reads standard input to its end into buf (at most size - 1 bytes,
// terminated).
void readStandardInput(char* buf, size_t size);

// The first line of data (n bytes; a line ends at CR or LF) into out, cut
// to size - 1 bytes and terminated; its length.
size_t copyFirstLine(const char* data, size_t n, char* out, size_t size);
