#pragma once
#include <cstddef>
#include <string>

// The secrets of a batch run: where they come from, and how a run over
// several servers hands them to its sessions (a pipe on standard input,
// never the arguments or the environment).

constexpr int secretMax = 50;   // the longest password the dialogs take

// Takes QUORCLI_MASTER_PASSWORD out of the environment first thing, in
// every mode, so that no program started later (tunnel commands, the
// sessions of --parallel) inherits it. keep: a batch run keeps the value
// for itself (wiped at the end of the run); otherwise it is wiped at once.
void takeEnvironmentSecrets(bool keep);

// The master password of the stored passwords and the password of a server
// without one; empty when not given. Wiped when they go.
struct runSecrets {
    char master[secretMax + 1] = {};
    char password[secretMax + 1] = {};

    runSecrets() = default;
    ~runSecrets();
    runSecrets(const runSecrets&) = delete;
    runSecrets& operator=(const runSecrets&) = delete;

    // The master password from the file, else from the variable taken at
    // start; "" when read or not given, else a line that says why not.
    std::string readMaster(const std::string& file);
    // The server password from the file; "" when read or not given.
    std::string readPassword(const std::string& file);

    // Both, a line each, into buf (handOverSize bytes); the bytes used.
    static constexpr size_t handOverSize = 2 * (secretMax + 1) + 1;
    size_t handOver(char* buf) const;
    // What the parent run handed over on standard input.
    void takeHandedOver();
};
