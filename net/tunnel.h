#pragma once

// Connections carried by a command's standard input and output (a relay such
// as "ssh -W %h:%p bastion"), so that a session runs over them as over a
// socket.

#include <deque>
#include <string>
#include <vector>

#include "net/iclass.h"

// Splits a tunnel command into arguments and puts the target into each of
// them: %h becomes the host (in brackets when it holds a ':'), %p the port
// and %% a single '%'. Blanks separate arguments; 'single quotes' keep
// everything up to the next single quote as it is; "double quotes" keep
// everything but \" and \\, which stand for " and \; outside quotes a
// backslash before a blank or a quote takes that character as it is, and any
// other backslash is kept. False for a command without any argument or with
// a quote left open.
bool tunnelArguments(const char* command, const char* host, int port, std::vector<std::string>& args);

// True when the target can be put into a command line as it is: a plain
// host name or IPv4 address (letters, digits, '.', '_' and '-', but not
// '-' first), or an IPv6 literal (hex digits, '.' and ':'; in brackets or
// not), and a port from 1 to 65535. Anything else could become an option of
// the relay or text for a shell at the far end.
bool tunnelTargetPlain(const char* host, int port);

// The last lines a command wrote on its standard error: at most maxLines of
// at most maxChars characters (the rest of a longer line is dropped), blank
// lines left out, carriage returns dropped and other control characters
// shown as '?'.
class errorTail {
public:
    static constexpr size_t maxLines = 4;
    static constexpr size_t maxChars = 200;

    void feed(const char* data, size_t len);
    // The kept lines, oldest first; an unfinished last line counts.
    std::vector<std::string> lines() const;

private:
    std::deque<std::string> lines_;
    std::string current_;

    void endLine();
};

// How starting a tunnel command went.
enum tunnelStartResult : int { tunnelStarted = 0, tunnelFailed = 1 };

// A connection over the standard input and output of a child process. The
// descriptor is the program's end of the pair; the object owns the child and,
// when destroyed, ends it with all it started (no child is left behind, no
// zombie either).
class TunnelSocket : public ClientSocket {
public:
    TunnelSocket();
    ~TunnelSocket() override;
    TunnelSocket(const TunnelSocket&) = delete;
    TunnelSocket& operator=(const TunnelSocket&) = delete;

    // Starts the program args[0] (looked up on the PATH) with the arguments,
    // its standard input and output the other end of this connection, its
    // standard error read into errorTail's lines.
    int start(const std::vector<std::string>& args);
    // Closes the connection and ends the command as the destructor does;
    // then all it wrote is in: the last lines of its standard error.
    std::vector<std::string> finish();
    // The child's process id; 0 when none runs.
    long childId() const { return child_; }

private:
    long child_ = 0;
    errorTail errors_;
    // What the platform keeps besides the child's id (the reader of its
    // standard error; the Windows build's pipes, job and relay threads);
    // null where there is nothing.
    struct Carrier;
    Carrier* carrier_ = nullptr;

    // Ends the child and reaps it (bounded: asked first, then forced).
    void endChild();
};
