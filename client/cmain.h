#pragma once
#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "client/pxylist.h"
#include "client/remotesession.h"
#include "client/sessionlink.h"
#include "client/sessionctl.h"
#include "client/srvlist.h"
#include "console/cp437.h"
#include "console/keyboard.h"
#include "console/waitpoint.h"
#include "crypto/rc4.h"
#include "screen/screenmode.h"
#include "screen/sessionaction.h"

struct _win_st;
class ClientSocket;
class sessionOutbox;
struct sessionCommands;
// Frees the session's own menu items (defined with them).
struct sessionCommandsDeleter {
    void operator()(sessionCommands* commands) const;
};

// How the session behaves, given when it is made.
struct sessionOptions {
    // --reconnect, or the session menu's switch: a link that fails under an
    // open session is ridden out with new connections.
    bool autoReconnect = false;
};

// Why the configuration of this run (fileName beside the program or in the
// user's folder, or --config=) must not be used at all, as "<path>:
// <reason>"; "" when it may. Found out before anything is made, read or
// written, so that the program can refuse to start.
std::string configRefusal(const char* fileName);

// Lines of a configuration file too long to be read, which were left out:
// how many, and the number of the first (from 1).
struct droppedLines {
    long count = 0;
    long first = 0;
};

// The pause before reconnection attempt n (0 first): 1, 2, 4, 8, 16, then
// 30 seconds.
int reconnectDelaySeconds(int attempt);

// The application: owns the window, the connection, the session state and
// the two list menus for the whole run.
class consoleMain {
public:
    sessionOptions options;
    _win_st* window = nullptr;
    ClientSocket* socket = nullptr;
    // The session with the server chosen: its screen, screens, keys and feed.
    remoteSession session;
    helloData serverGreeting;
    unsigned char sessionKey[16];
    rc4Cipher sendCipher;
    rc4Cipher recvCipher;
    char* configPath = nullptr;     // the configuration file of this run
    serverList servers;
    proxyList proxies;
    // Takes in what the server sent while a menu was open (set while a
    // session runs).
    std::function<void()> catchUp;
    // Why the configuration could not be read ("cannot read <path>: ...") or
    // written ("cannot write <path>: ..."); empty when all went well.
    std::string configError;
    // What the operator should hear of the configuration that was read
    // (lines left out), said at the end; empty when nothing.
    std::string configNote;
    // Why tunnel entries must not start their commands ("<path>: <reason>",
    // the file is not private); empty when they may.
    std::string tunnelRefusal;
    // How the main loop pauses between messages (milliseconds); a sleep
    // that a termination request ends at once.
    void (*pauseMs)(int ms) = sleepMs;
    // Automatic reconnection: the digest of the password that opened the
    // session, kept while the operator stays with the server (wiped then);
    // the screen to select again once a reconnected session shows one (0:
    // none); connect without message boxes (failed attempts must not stop);
    // how a pause before an attempt waits, true when the operator stopped it;
    // how long a whole attempt may take (milliseconds: the name lookup, the
    // connection, the proxy's answer or the tunnel's start, and the first
    // screen) before it counts as failed; and the limit of the connect under
    // way (0: none, its waits end with Esc).
    unsigned char reconnectKey[16];
    int32_t reselectScreenId = 0;
    bool quietFailures = false;
    bool (*escapeWait)(_win_st* window, int ms) = escapeWithin;
    int attemptScreenWaitMs = 15000;
    int connectLimitMs = 0;
    // In a session on a UTF-8 terminal: the bytes of a typed character not
    // yet complete, and the last typed character that code page 437 lacks
    // (0: none), for the session to say so.
    utf8Reader typedChar;
    char32_t untypable = 0;
    // The server of the session (its description) and whether the session
    // takes up one whose link failed.
    std::string sessionServer;
    bool sessionResumes = false;
    // While a dropped link is ridden out: the attempt after the one under
    // way, which says how long the pause before it is.
    int rideAttempt = 0;
    // Why the last connect failed, in words ("" when it did not say), and
    // as one stable word: refused, timeout, name, proxy or tunnel.
    std::string connectFailure;
    const char* connectFailureKind = "refused";
    // The last session ended on a server greeting that was not valid: with
    // a wrong password the opening block, read with the wrong key, may say
    // that a greeting follows, which then reads as garbage.
    bool greetingInvalid = false;
    // What menu items and scripts may ask of the session; the items of the
    // session menu that consumers of the screen offer, after the session's
    // own (the program puts them here at start; not owned); and the mode
    // an item asked to open over the screen, taken by the session once the
    // key at hand has been handled.
    consoleSessionControl control{*this};
    // The one wait of the program's thread, which its sessions run on.
    waitPoint waits;
    std::vector<sessionAction*> actions;
    std::unique_ptr<screenMode> pendingMode;

    explicit consoleMain(sessionOptions sessionOpts = {});
    ~consoleMain();
    consoleMain(const consoleMain&) = delete;
    consoleMain& operator=(const consoleMain&) = delete;

    int init(_win_st* win);
    int closeConnection();
    int execute();
    sessionResult connect(serverInfo* server, proxyInfo* proxy);
    sessionResult processConnection(int screenWaitMs = 0);
    // What the end of a session with this result tells the feed: why, and
    // when a reconnection follows.
    sessionEnding endingOf(sessionResult result) const;
    // The session's own items of the session menu, then those of actions.
    std::vector<sessionAction*> menuActions();
    // The session menu opens: its screen submenu is made anew.
    void forgetScreenChoice();
    int onKey(KEY_EVENT_RECORD& key);
    int loadConfig(const char* fileName, serverList& sl, proxyList& pl);
    int saveConfig();
    // The configuration's lines read from f into the two lists; false after
    // a read error or past the size limit. Lines too long are left out and
    // counted in dropped.
    static bool readConfig(FILE* f, serverList& sl, proxyList& pl, droppedLines* dropped = nullptr);
    // Says on standard error what configNote and configError hold, and why
    // the program could not start (startError: a share of the run), once
    // the terminal is the shell's again; returns the program's exit status.
    int reportEnd(const std::string& startError = "") const;
    // The whole configuration text of the two lists written to f.
    void writeConfig(FILE* f);

    static void sleepMs(int ms);
    // Waits ms milliseconds for Esc, dropping other keys; true on Esc, on the
    // terminal going away and on a termination request.
    static bool escapeWithin(_win_st* window, int ms);

private:
    std::unique_ptr<sessionCommands, sessionCommandsDeleter> commands_;

    int askStartupMasterPassword(char* buffer);
    void runServerStep(proxyInfo* proxy, char* buffer, int& result);
    void runConnection(serverInfo* server, proxyInfo* proxy, char* buffer, int& result);
    bool openConnection(serverInfo* server, proxyInfo* proxy);
    bool takeSessionKey(serverInfo* server, bool askPassword, char* buffer);
    sessionResult runSession(serverInfo* server, proxyInfo* proxy, bool& rodeOut);
    bool afterSession(sessionResult result, bool rodeOut, bool& askPassword);
    sessionResult rideOutDroppedLink(serverInfo* server, proxyInfo* proxy);
    bool reconnectPause(int seconds);
    void drawConnecting();
    void drawBackground();
    void drawLegend(int proxyScreen);
    void showStatus(const char* text);
};
