#include "client/cmain.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "client/build.h"
#include "client/connect.h"
#include "console/cinput.h"
#include "console/cutil.h"
#include "console/global.h"
#include "console/term.h"
#include "console/wait.h"
#include "net/iclass.h"
#include "net/sutil.h"

namespace {

constexpr unsigned char backgroundAttr = 0x18;
constexpr unsigned char backgroundChar = 0xB1;
constexpr unsigned char titleAttr = 0x31;
constexpr unsigned char keyAttr = 0x70;
constexpr unsigned char textAttr = 0x71;
constexpr int passwordMax = 50;
constexpr int reconnectDelayMax = 30;   // seconds

struct legendField {
    int x, y;
    const char* text;
    int width;
    unsigned char attr;
};

constexpr legendField proxyLegend[] = {
    {1, 24, "Insert=", 7, keyAttr},   {8, 24, "New Proxy Server", 16, textAttr},
    {25, 24, "Delete=", 7, keyAttr},  {32, 24, "Remove Proxy Server", 19, textAttr},
    {52, 24, "F3=", 3, keyAttr},      {55, 24, "Edit Proxy Server", 17, textAttr},
};

constexpr legendField serverLegend[] = {
    {1, 23, "Insert=", 7, keyAttr},  {8, 23, "New Server", 10, textAttr},
    {20, 23, "Delete=", 7, keyAttr}, {27, 23, "Remove Server", 13, textAttr},
    {42, 23, "F3=", 7, keyAttr},     {45, 23, "Edit Server", 13, textAttr},
    {58, 23, "F4=", 7, keyAttr},     {61, 23, "Save Password", 13, textAttr},
    {1, 24, "F5=", 7, keyAttr},      {4, 24, "Set Master Password", 19, textAttr},
};

void cursorToStatusLine(_win_st* window) { SetConsoleCursorPosition(window, COORD{0, 24}); }

// The proxy entry the command line chose. --direct is the direct connection
// itself (the one item without an entry), never an entry whose description
// reads the same; any other name is the first entry that begins with it.
bool selectStartupProxy(proxyList& proxies)
{
    if (std::strcmp(startupProxy, directConnectionText) != 0) return proxies.select(startupProxy) != nullptr;
    int index = 0;
    for (menuItem* it = proxies.items.first; it; it = it->next, ++index) {
        if (it->data) continue;
        proxies.active = index;
        proxies.goToItem(0);
        return true;
    }
    return false;
}

// The window's title while a list is shown (where the program has one).
void titleDisconnected() {
    if (const char* title = thisBuild().titleDisconnected) terminal()->setTitle(title);
}

// The window's title naming the chosen server, at most 80 characters.
void titleConnected(const serverInfo* server) {
    const char* format = thisBuild().titleConnected;
    if (!format) return;
    char title[81];
    std::snprintf(title, sizeof title, format, server->description ? server->description : "",
                  writtenHost(server->hostName).c_str(), static_cast<int>(server->port));
    terminal()->setTitle(title);
}

} // namespace

consoleMain::~consoleMain()
{
    // A connection still open at the end is closed, not leaked.
    closeConnection();
    wipeMemory(sessionKey, sizeof sessionKey);
    wipeMemory(reconnectKey, sizeof reconnectKey);
    std::free(configPath);
}

int consoleMain::init(_win_st* win)
{
    window = win;
    return 0;
}

int consoleMain::closeConnection()
{
    delete socket;
    socket = nullptr;
    return 0;
}

// Sleeps without watching the keys (they wait for the next reader); a
// termination request, before or during the pause, ends it at once.
void consoleMain::sleepMs(int ms)
{
    using clock = std::chrono::steady_clock;
    const auto end = clock::now() + std::chrono::milliseconds(ms);
    while (!EXIT) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - clock::now()).count();
        if (left <= 0) return;
        waitSocketOrKey(-1, 0, static_cast<int>(left), false);   // a signal ends the wait early
    }
}

bool consoleMain::escapeWithin(_win_st* window, int ms)
{
    using clock = std::chrono::steady_clock;
    const auto end = clock::now() + std::chrono::milliseconds(ms);
    for (;;) {
        if (EXIT) return true;
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - clock::now()).count();
        INPUT_RECORD record{};
        const int got = waitKey(window, &record, left > 0 ? static_cast<int>(left) : 0);
        if (got < 0) return true;
        if (got > 0 && record.EventType == KEY_EVENT && record.Event.KeyEvent.bKeyDown &&
            record.Event.KeyEvent.wVirtualKeyCode == kcEsc)
            return true;
        // Other keys are dropped: they would reach the next session unasked.
        if (got == 0 && left <= 0) return false;
    }
}

int reconnectDelaySeconds(int attempt)
{
    int seconds = 1;
    for (int i = 0; i < attempt && seconds < reconnectDelayMax; ++i) seconds *= 2;
    return std::min(seconds, reconnectDelayMax);
}

void consoleMain::drawBackground()
{
    consoleFillBox(window, 0, 0, 80, 25, backgroundAttr, backgroundChar);
    consoleTextLine(window, 0, 0, thisBuild().titleRow, 80, titleAttr);
}

void consoleMain::drawLegend(int proxyScreen)
{
    if (proxyScreen) {
        consoleTextLine(window, 0, 24, "", 80, keyAttr);
        for (const legendField& f : proxyLegend) consoleTextLine(window, f.x, f.y, f.text, f.width, f.attr);
    } else {
        consoleTextLine(window, 0, 23, "", 80, keyAttr);
        consoleTextLine(window, 0, 24, "", 80, keyAttr);
        for (const legendField& f : serverLegend) consoleTextLine(window, f.x, f.y, f.text, f.width, f.attr);
    }
}

void consoleMain::showStatus(const char* text) { consoleTextLine(window, 0, 24, text, 80, textAttr); }

// The status row while connecting; row 23 is left to the caller (a lost
// session's picture stays above it while reconnecting).
void consoleMain::drawConnecting()
{
    consoleTextLine(window, 0, 24, "Connecting....", 80, textAttr);
    consoleTextLine(window, 59, 24, "Esc=", 7, keyAttr);
    consoleTextLine(window, 63, 24, "Abort connection", 16, textAttr);
}

// The pause before a reconnection attempt, counted down on the status row
// second by second; false when the operator stopped it or the program is to
// leave.
bool consoleMain::reconnectPause(int seconds)
{
    for (int n = seconds; n > 0; --n) {
        char text[64];
        std::snprintf(text, sizeof text, "Link lost - reconnecting in %d s (Esc stops)", n);
        showStatus(text);
        if (escapeWait(window, 1000)) return false;
    }
    return !EXIT;
}

sessionEnding consoleMain::endingOf(sessionResult result) const
{
    sessionEnding how;
    if (result == resultPasswordRefused) {
        how.reason = endReason::passwordRefused;
    } else if (result == resultServerClosed || result == resultLinkLost) {
        // As the main loop goes on: a session that had shown a screen is
        // ridden out when asked for; an attempt of the riding out that
        // showed none leads to the next.
        const bool again = !EXIT && (sessionResumes ? !session.sessionEstablished || options.autoReconnect
                                                    : session.sessionEstablished && options.autoReconnect);
        how.reason = again ? endReason::linkLostRetrying : endReason::linkLostForGood;
        const int attempt = sessionResumes && !session.sessionEstablished ? rideAttempt : 0;
        how.retryAt = std::chrono::steady_clock::now() + std::chrono::seconds(reconnectDelaySeconds(attempt));
    }
    return how;
}

// After the link of an open session failed: connects again after growing
// pauses, with the same proxy and the same password digest, until a session
// is open again and ends otherwise than by a failed link. Returns that
// session's result (0, 4003, or 4001/4002 once reconnection was turned off),
// or -1 when the operator stopped reconnecting.
sessionResult consoleMain::rideOutDroppedLink(serverInfo* server, proxyInfo* proxy)
{
    int32_t screenId = session.currentScreenId;
    const char* description = server->description ? server->description : "";
    rideAttempt = 0;
    for (;;) {
        closeConnection();
        if (!reconnectPause(reconnectDelaySeconds(rideAttempt++))) {
            session.feed.ended({});
            return resultEscaped;
        }
        drawConnecting();
        // The attempt's limit covers it all: a lookup, a connect or a
        // proxy that never answers, and a server that accepts and then says
        // nothing, each make it fail in time, and reconnecting goes on.
        const auto begun = std::chrono::steady_clock::now();
        quietFailures = true;
        connectLimitMs = attemptScreenWaitMs;
        session.feed.connecting(description);
        const sessionResult connected = connect(server, proxy);
        quietFailures = false;
        connectLimitMs = 0;
        if (connected == resultEscaped || EXIT) {
            session.feed.ended({});
            return resultEscaped;
        }
        if (connected != resultEnded) {
            sessionEnding again;
            again.reason = endReason::linkLostRetrying;
            again.retryAt = std::chrono::steady_clock::now() + std::chrono::seconds(reconnectDelaySeconds(rideAttempt));
            session.feed.ended(again);
            continue;
        }
        showStatus("Connected.");
        std::memcpy(sessionKey, reconnectKey, sizeof sessionKey);
        reselectScreenId = screenId;
        sessionResumes = true;
        const auto spent = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - begun);
        const sessionResult result =
            processConnection(std::max(1, attemptScreenWaitMs - static_cast<int>(spent.count())));
        reselectScreenId = 0;
        sessionResumes = false;
        if (result != resultServerClosed && result != resultLinkLost && result != resultNoMemory) return result;
        // Lost again after the screen came: a new round from the shortest pause.
        if (session.sessionEstablished) {
            if (!options.autoReconnect) return result;
            screenId = session.currentScreenId;
            rideAttempt = 0;
        }
    }
}

// The start-up prompt for the master password of the stored passwords.
// Returns 1 when a master password was accepted, 0 when the operator left.
int consoleMain::askStartupMasterPassword(char* buffer)
{
    drawBackground();
    consoleTextLine(window, 0, 24, "Enter QUORVEX master password.", 80, keyAttr);
    consoleInputBox box(1);
    while (!EXIT) {
        wipeMemory(buffer, passwordMax + 1);
        box.init(window, 20, 10, 40, "Master password:", buffer, passwordMax, 0x4E);
        if (box.execute() != 2) return 0;
        // An empty master password can never have been set: ask again.
        if (!*buffer) continue;
        if (servers.decrypt(buffer) != 0) {
            pauseMs(1000);
            continue;
        }
        servers.setMasterPassword(buffer);
        wipeMemory(buffer, passwordMax + 1);
        return servers.masterPassword() ? 1 : 0;
    }
    return 0;
}

// The connection to the server for a session, with the status rows; false
// (the failure said) when none could be made.
bool consoleMain::openConnection(serverInfo* server, proxyInfo* proxy)
{
    consoleFillBox(window, 0, 23, 80, 1, backgroundAttr, backgroundChar);
    drawConnecting();
    session.feed.connecting(server->description ? server->description : "");
    const sessionResult connected = connect(server, proxy);
    if (connected != resultEnded) {
        sessionEnding failed;
        failed.reason = connected == resultEscaped ? endReason::closedByOperator : endReason::connectionFailed;
        failed.words = connectFailure.empty() ? "the connection failed" : connectFailure;
        session.feed.ended(failed);
        showStatus("Connection failed.");
        pauseMs(1000);
        closeConnection();
        return false;
    }
    showStatus("Connected.");
    return true;
}

// The session key from the stored password, or from the operator; false
// when the operator left the prompt.
bool consoleMain::takeSessionKey(serverInfo* server, bool askPassword, char* buffer)
{
    if (!askPassword && server->hasPassword()) {
        std::memcpy(sessionKey, server->password, sizeof sessionKey);
        return true;
    }
    showStatus("Enter remote password...");
    wipeMemory(buffer, passwordMax + 1);
    char prompt[64];
    std::snprintf(prompt, sizeof prompt, "Password for %.20s:", server->description ? server->description : "");
    consoleInputBox box(1);
    box.init(window, 20, 10, 40, prompt, buffer, passwordMax, 0x1E);
    const bool typed = box.execute() == 2;
    if (typed) serverInfo::makePassword(sessionKey, buffer);
    wipeMemory(buffer, passwordMax + 1);
    if (!typed) session.feed.ended({});
    return typed;
}

// One session on the open connection, and the riding out of a link that
// fails under it when that is asked for.
sessionResult consoleMain::runSession(serverInfo* server, proxyInfo* proxy, bool& rodeOut)
{
    std::memcpy(reconnectKey, sessionKey, sizeof reconnectKey);
    sessionServer = server->description ? server->description : "";
    // The server answers a wrong password only by never showing a screen,
    // which takes a while: the wait is said until the first screen.
    showStatus("Checking the password...");
    sessionResult result = processConnection();
    const bool linkFailed = result == resultServerClosed || result == resultLinkLost;
    // A tunnel command that gave up before the server showed a screen
    // says why (ssh: a refused key, an unknown host).
    if (linkFailed && !session.sessionEstablished && proxy && proxy->command) showTunnelErrors(*this, *proxy);
    rodeOut = linkFailed && options.autoReconnect && session.sessionEstablished;
    if (rodeOut) result = rideOutDroppedLink(server, proxy);
    return result;
}

namespace {

// What the main loop says after a session, for how long, and whether the
// stay with the server is over; any result not listed connects again at
// once.
struct sessionOutcome {
    sessionResult result;
    const char* status;   // null: nothing
    int pauseMs;
    bool done;
};
constexpr sessionOutcome outcomes[] = {
    {resultEnded, nullptr, 0, true},
    {resultServerClosed, "Remote server closed connection !", 500, true},
    {resultLinkLost, "Connection with remote server lost !", 500, true},
    {resultPasswordRefused, "Invalid password !", 1000, false},
    // Esc while a tunnel was still connecting.
    {resultEscaped, "Connection failed.", 1000, true},
};

}  // namespace

// Says how the session ended; true when the stay with the server is over.
// After a rejected password the next connection asks for it.
bool consoleMain::afterSession(sessionResult result, bool rodeOut, bool& askPassword)
{
    if (result == resultPasswordRefused) askPassword = true;
    for (const sessionOutcome& o : outcomes) {
        if (o.result != result) continue;
        // After the operator stopped reconnecting the server list returns
        // without a word.
        if (o.status && !(rodeOut && result == resultEscaped)) {
            showStatus(o.status);
            pauseMs(o.pauseMs);
        }
        return o.done;
    }
    return false;
}

// Connects to one chosen server until the attempt is done: a failure, Esc at
// the password prompt, or a session that ended. A rejected stored password
// leads to a new connection that asks for the password.
void consoleMain::runConnection(serverInfo* server, proxyInfo* proxy, char* buffer, int& result)
{
    bool askPassword = false;
    // The digest kept for reconnecting lives no longer than the stay with this server.
    struct keyWipe {
        unsigned char (&key)[16];
        ~keyWipe() { wipeMemory(key, sizeof key); }
    } wipeOnLeave{reconnectKey};
    for (bool done = false; !done && !EXIT;) {
        if (!openConnection(server, proxy)) return;
        if (!takeSessionKey(server, askPassword, buffer)) {
            closeConnection();
            return;
        }
        bool rodeOut = false;
        const sessionResult ended = runSession(server, proxy, rodeOut);
        result = ended;
        done = afterSession(ended, rodeOut, askPassword);
        closeConnection();
    }
}

// The server list under the chosen proxy, shown again after every connection
// until the operator leaves it.
void consoleMain::runServerStep(proxyInfo* proxy, char* buffer, int& result)
{
    while (!EXIT) {
        titleDisconnected();
        drawBackground();
        drawLegend(0);
        servers.resetTypedown();
        if (proxy) {
            char title[96];
            proxyList::makeTitle(title, sizeof title, proxy);
            servers.setBorderTitle(title);
        } else {
            servers.setBorderTitle(nullptr);
        }
        cursorToStatusLine(window);

        bool chosen = startupServer && servers.select(startupServer);
        if (startupServer && !chosen) {
            // Beside the legend's last key, while the list is shown.
            const std::string said = "No server entry matches '" + std::string(startupServer).substr(0, 25) + "'";
            consoleTextLine(window, 26, 24, said.c_str(), screenCols - 26, textAttr);
        }
        if (!chosen) chosen = servers.execute() == 2;
        setGlobalString(&startupServer, nullptr);
        if (!chosen) return;

        menuItem* item = servers.getActiveItem();
        serverInfo* server = item ? static_cast<serverInfo*>(item->data) : nullptr;
        if (!server) continue;
        titleConnected(server);
        runConnection(server, proxy, buffer, result);
    }
}

// The program's interactive life: lists, configuration, master password,
// proxy list, server list and connections; the configuration is written
// back however the loop ends.
int consoleMain::execute()
{
    int result = 0;
    char buffer[passwordMax + 1] = "";

    servers.init(window);
    proxies.init(window);
    proxies.add(directConnectionText, proxies.getItemCount() + 1, nullptr);
    loadConfig("quorcli.cfg", servers, proxies);
    // A file that is there but could not be read must not be saved over.
    if (!configError.empty()) return result;

    bool quit = false;
    if (servers.hasPasswords()) quit = !askStartupMasterPassword(buffer);
    cursorToStatusLine(window);

    while (!quit && !EXIT) {
        titleDisconnected();
        drawBackground();
        drawLegend(1);
        proxies.resetTypedown();
        proxies.setBorderTitle("Select Proxy Server");
        cursorToStatusLine(window);

        bool chosen = startupProxy && selectStartupProxy(proxies);
        if (!chosen) chosen = proxies.execute() == 2;
        setGlobalString(&startupProxy, nullptr);
        if (!chosen) break;

        menuItem* item = proxies.getActiveItem();
        runServerStep(item ? static_cast<proxyInfo*>(item->data) : nullptr, buffer, result);
    }

    wipeMemory(buffer, sizeof buffer);
    saveConfig();
    return result;
}
