#pragma once
#include <cstdint>
#include <cstdio>
#include <string>

#include "console/cmenu.h"

// Marker that ends a stored password: digest (16 bytes) + "40981".
inline constexpr char storedPasswordMarker[] = "40981";
constexpr int storedPasswordLen = 21;

// One configured QUORVEX server.
class serverInfo {
public:
    char* hostName = nullptr;
    int32_t port = 4242;
    unsigned char password[storedPasswordLen];
    int32_t passwordSet = 0;
    char* description = nullptr;
    // The address as it was given when text is left after its port (or
    // after a bracketed host): kept, listed and written back as it is, and
    // never connected to; null for an address read whole.
    char* invalidAddress = nullptr;

    serverInfo();
    ~serverInfo();
    serverInfo(const serverInfo&) = delete;
    serverInfo& operator=(const serverInfo&) = delete;

    int init(char* address, char* end, const char* desc);
    int init(char* value, char* descBuf, int maxDesc);
    void decrypt(const char* key);
    int hasPassword() const { return passwordSet; }
    void cleanPassword();
    void setPassword(const char* clear);
    static void makePassword(unsigned char* out, const char* clear);
};

// The list menu of configured servers (the main menu).
class serverList : public consoleMenu {
public:
    serverList();
    ~serverList() override;
    using consoleMenu::init;
    int onKey(KEY_EVENT_RECORD& key) override;
    int onInsert() override;
    int onDelete() override;
    virtual int init(_win_st* win);
    virtual int parse(char* value);
    virtual int onEditItem();
    virtual int onSavePassword();

    int hasPasswords();
    int decrypt(const char* key);
    void save(FILE* f);
    // Display line of an entry ("%-35.40s - %.30s", ":%d" unless port 4242;
    // an address that is not valid as it was given).
    static void makeLine(char* out, const serverInfo* s);
    // Asks twice for a new master password and sets, replaces or clears it;
    // reportCleared 0 keeps the "cleared" message back.
    void askMasterPassword(int reportCleared);
    // The master password that protects the stored passwords (null: none
    // set); the old one is wiped when it is replaced and when the list goes.
    const char* masterPassword() const { return master_; }
    void setMasterPassword(const char* text);

private:
    char* master_ = nullptr;
};

// Reads a port number the way atoi does (blanks, sign, digits; 0 when there
// are none), saturating instead of overflowing.
int readPortNumber(const char* text);

// Where host and port lie in an address text "host[:port]" that ends at end.
// A host that starts with '[' runs to the matching ']' (an IPv6 literal,
// kept without its brackets) and a port may follow as ":N"; otherwise the
// first ':' ends the host. port is the text after that ':', or null.
struct hostAndPort {
    char* host;
    char* hostEnd;
    const char* port;
};
hostAndPort splitHostPort(char* text, char* end);

// A host as the file and the dialogs write it: in brackets when it holds a
// ':' (an IPv6 literal), else as it is.
std::string writtenHost(const char* host);
// A host for a list line, at most width characters with its brackets.
std::string shownHost(const char* host, int width);
