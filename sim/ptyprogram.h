#pragma once
#include <cstddef>
#include <string>
#include <vector>

// A program running on a pseudo-terminal of its own: its output is read and
// its input written through the master side, which never blocks.
class PtyProgram {
public:
    PtyProgram() = default;
    // Ends the program if it still runs (hang-up, then kill) and reaps it.
    ~PtyProgram();
    PtyProgram(const PtyProgram&) = delete;
    PtyProgram& operator=(const PtyProgram&) = delete;

    // Runs args[0] (looked up in PATH) with the arguments on a terminal of
    // rows x cols; TERM is set to xterm. False with a message in error when
    // no terminal could be had. A program that cannot be run says so on its
    // terminal and ends with status 127.
    bool start(const std::vector<std::string>& args, int rows, int cols, std::string& error);

    // The master side to wait on, or -1 once the output has ended.
    int fd() const { return fd_; }

    // Up to size bytes of output: the count, 0 when there is none now, -1
    // when the output has ended (the descriptor is closed then).
    long read(char* buffer, size_t size);

    // Writes what fits without waiting; the rest is dropped.
    void write(const char* data, size_t size);

    // After the end of the output: how the program ended ("exit status 0",
    // "signal 9"), waiting briefly for it; "" when it is still running.
    std::string reap();

private:
    int fd_ = -1;
    int pid_ = -1;
};
