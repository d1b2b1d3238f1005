#include "client/srvlist.h"

#include <cctype>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <new>

#include "client/listutil.h"
#include "console/cinput.h"
#include "console/global.h"
#include "crypto/md5c.h"
#include "crypto/rc4.h"
#include "net/sutil.h"

namespace {

constexpr unsigned char promptColor = 0x1E;
constexpr unsigned char alertColor = 0x4E;
constexpr int defaultServerPort = 4242;
constexpr char pressEnter[] = "Press Enter to continue...";

bool markerMatches(const unsigned char* stored)
{
    return std::memcmp(stored + 16, storedPasswordMarker, 5) == 0;
}

serverInfo* entryOf(menuItem* item) { return item ? static_cast<serverInfo*>(item->data) : nullptr; }

bool isBlank(char c) { return static_cast<unsigned char>(c) >= 1 && static_cast<unsigned char>(c) <= 32; }

// A comma ends the address and the description of a server line.
char serverTextRule(const char* text) { return firstOf(text, ","); }

// Where reading an address stops: past the port's number, or past the host
// when no port follows it.
const char* addressReadTo(const char* text, const char* end, const hostAndPort& split)
{
    if (split.port) {
        const char* p = split.port;
        while (p < end && std::isspace(static_cast<unsigned char>(*p))) ++p;
        if (p < end && (*p == '+' || *p == '-')) ++p;
        while (p < end && *p >= '0' && *p <= '9') ++p;
        return p;
    }
    if (text < end && *text == '[')
        if (const void* close = std::memchr(text, ']', static_cast<size_t>(end - text)))
            return static_cast<const char*>(close) + 1;
    return split.hostEnd;
}

} // namespace

int readPortNumber(const char* text)
{
    if (!text) return 0;
    while (std::isspace(static_cast<unsigned char>(*text))) ++text;
    bool negative = false;
    if (*text == '+' || *text == '-') negative = *text++ == '-';
    long long v = 0;
    for (; *text >= '0' && *text <= '9'; ++text) {
        v = v * 10 + (*text - '0');
        if (v > INT_MAX) v = static_cast<long long>(INT_MAX) + 1;
    }
    if (negative) return static_cast<int>(-v);
    return v > INT_MAX ? INT_MAX : static_cast<int>(v);
}

hostAndPort splitHostPort(char* text, char* end)
{
    if (text < end && *text == '[') {
        if (char* close = static_cast<char*>(std::memchr(text, ']', static_cast<size_t>(end - text)))) {
            const bool portFollows = close + 1 < end && close[1] == ':';
            // Blanks inside the brackets go, as they do around a value: a
            // host written back without brackets could not keep them.
            char* host = text + 1;
            char* hostEnd = close;
            while (host < hostEnd && isBlank(*host)) ++host;
            while (hostEnd > host && isBlank(hostEnd[-1])) --hostEnd;
            return {host, hostEnd, portFollows ? close + 2 : nullptr};
        }
    }
    char* colon = static_cast<char*>(std::memchr(text, ':', static_cast<size_t>(end - text)));
    return {text, colon ? colon : end, colon ? colon + 1 : nullptr};
}

std::string writtenHost(const char* host)
{
    if (!host) return "";
    return std::strchr(host, ':') ? "[" + std::string(host) + "]" : host;
}

std::string shownHost(const char* host, int width)
{
    if (!host) return "";
    if (!std::strchr(host, ':')) return std::string(host).substr(0, static_cast<size_t>(width));
    return "[" + std::string(host).substr(0, static_cast<size_t>(width > 2 ? width - 2 : 0)) + "]";
}

// ---------------------------------------------------------------- serverInfo

serverInfo::serverInfo() { cleanPassword(); }

serverInfo::~serverInfo()
{
    std::free(hostName);
    std::free(description);
    std::free(invalidAddress);
    wipeMemory(password, sizeof password);
}

// Sets host, port and description from an address text that ends at `end`;
// a ':' before the end gives the port, otherwise the port stays.
int serverInfo::init(char* address, char* end, const char* desc)
{
    if (!address || !desc) return -1;
    size_t len = std::strlen(address);
    if (!end || end < address || end > address + len) end = address + len;
    const hostAndPort split = splitHostPort(address, end);
    if (split.port) port = readPortNumber(split.port);
    // Text left after the port would be lost in the address written back.
    bool leftOver = false;
    for (const char* p = addressReadTo(address, end, split); p < end; ++p) leftOver = leftOver || !isBlank(*p);
    // Copy first: desc may be this entry's own description.
    char* newDesc = copyText(desc, std::strlen(desc));
    char* newHost = copyText(split.host, static_cast<size_t>(split.hostEnd - split.host));
    char* newInvalid = leftOver ? copyText(address, static_cast<size_t>(end - address)) : nullptr;
    std::free(description);
    std::free(hostName);
    std::free(invalidAddress);
    description = newDesc;
    hostName = newHost;
    invalidAddress = newInvalid;
    return (newDesc && newHost && (newInvalid || !leftOver)) ? 0 : -2;
}

void serverInfo::cleanPassword()
{
    wipeMemory(password, sizeof password);
    passwordSet = 0;
}

void serverInfo::makePassword(unsigned char* out, const char* clear)
{
    if (!out) return;
    passwordDigest(out, clear);
}

void serverInfo::setPassword(const char* clear)
{
    if (!clear || !*clear) {
        cleanPassword();
        return;
    }
    makePassword(password, clear);
    std::memcpy(password + 16, storedPasswordMarker, 5);
    passwordSet = 1;
}

// Decrypts the stored password with the master password and keeps it only
// when its marker comes out right.
void serverInfo::decrypt(const char* key)
{
    if (key) {
        rc4Cipher cipher;
        cipher.setKey(key);
        cipher.crypt(password, storedPasswordLen, 0);
    }
    if (markerMatches(password)) passwordSet = 1;
    else cleanPassword();
}

// ---------------------------------------------------------------- serverList

serverList::serverList() = default;

serverList::~serverList()
{
    deleteEntries<serverInfo>(*this);
    setMasterPassword(nullptr);
}

void serverList::setMasterPassword(const char* text)
{
    if (master_) wipeMemory(master_, std::strlen(master_));
    setGlobalString(&master_, text);
}

int serverList::init(_win_st* win) { return consoleMenu::init(win, 5, 4, 70, 16, 11); }

void serverList::makeLine(char* out, const serverInfo* s)
{
    const char* desc = s && s->description ? s->description : "";
    const std::string host = shownHost(s ? s->hostName : nullptr, 30);
    if (s && s->invalidAddress)
        std::snprintf(out, 80, "%-35.40s - %.30s", desc, s->invalidAddress);
    else if (s && s->port != defaultServerPort)
        std::snprintf(out, 80, "%-35.40s - %s:%d", desc, host.c_str(), static_cast<int>(s->port));
    else
        std::snprintf(out, 80, "%-35.40s - %s", desc, host.c_str());
}

int serverList::onKey(KEY_EVENT_RECORD& key)
{
    switch (key.wVirtualKeyCode) {
    case kcF3:
        return onEditItem();
    case kcF4:
        return onSavePassword();
    case kcF5:
        askMasterPassword(1);
        return 0;
    default:
        return consoleMenu::onKey(key);
    }
}

// Adds a new server from a description and an address typed by the operator.
int serverList::onInsert()
{
    char desc[81] = "";
    char address[257] = "";
    if (!askText(window, "Enter description:", desc, 80, promptColor, 0, serverTextRule)) return 0;
    // Trimmed as Edit trims: the file keeps no blanks at the ends, and drops
    // an entry without a description.
    strip(desc);
    if (!*desc) return 0;
    if (!askText(window, "Enter server address (hostname:port).", address, 256, promptColor, 0, serverTextRule))
        return 0;
    strip(address);

    serverInfo* entry = new (std::nothrow) serverInfo;
    menuItem* item = new (std::nothrow) menuItem(desc, getItemCount() + 1, entry);
    if (!entry || !item || entry->init(address, address + std::strlen(address), desc) != 0) {
        delete entry;
        delete item;
        return -2;
    }
    setItemLine<serverList>(item, entry);
    add(item);
    drawItems();
    return 0;
}

int serverList::onDelete()
{
    menuItem* item = getActiveItem();
    if (!item) return 0;
    delete entryOf(item);
    dropItem(*this, item);
    return 0;
}

// Changes the active server's description and address in place.
int serverList::onEditItem()
{
    menuItem* item = getActiveItem();
    serverInfo* entry = entryOf(item);
    if (!entry) return 0;

    char desc[81];
    char address[257];
    std::snprintf(desc, sizeof desc, "%s", entry->description ? entry->description : "");
    const std::string host = writtenHost(entry->hostName);
    if (entry->invalidAddress)
        std::snprintf(address, sizeof address, "%s", entry->invalidAddress);
    else if (entry->port != defaultServerPort)
        std::snprintf(address, sizeof address, "%s:%d", host.c_str(), static_cast<int>(entry->port));
    else
        std::snprintf(address, sizeof address, "%s", host.c_str());

    if (!askText(window, "Change description:", desc, 80, promptColor, 0, serverTextRule)) return 0;
    if (!askText(window, "Change server address (hostname:port).", address, 256, promptColor, 0, serverTextRule))
        return 0;
    strip(desc);
    strip(address);
    if (!*desc || !*address) return 0;

    if (entry->init(address, address + std::strlen(address), desc) != 0) {
        delete entry;
        dropItem(*this, item);
        return 0;
    }
    setItemLine<serverList>(item, entry);
    drawItems();
    return 0;
}

void serverList::askMasterPassword(int reportCleared)
{
    char first[51] = "";
    char second[51] = "";
    consoleInputBox box(1);
    box.init(window, 10, 10, 60, "New master password:", first, 50, alertColor);
    if (box.execute() == 2) {
        box.init(window, 10, 10, 60, "Retype master password:", second, 50, alertColor);
        if (box.execute() == 2) {
            if (std::strcmp(first, second) != 0) {
                messageBox(window, alertColor, "Entered passwords does not match, try it again please.", pressEnter);
            } else if (*first) {
                setMasterPassword(first);
                // Only a password actually kept is reported as set.
                if (master_)
                    messageBox(window, promptColor, "Master password has been succesfully set.", pressEnter);
            } else {
                setMasterPassword(nullptr);
                for (menuItem* it = items.first; it; it = it->next)
                    if (serverInfo* s = entryOf(it)) s->cleanPassword();
                if (reportCleared)
                    messageBox(window, promptColor, "Master password has been succesfully cleared.", pressEnter);
            }
        }
    }
    wipeMemory(first, sizeof first);
    wipeMemory(second, sizeof second);
}

// Stores or removes the active server's password; a master password must
// exist first, and is asked for when there is none.
int serverList::onSavePassword()
{
    menuItem* item = getActiveItem();
    if (!master_) {
        askMasterPassword(0);
        if (!master_) {
            messageBox(window, alertColor, "You must set master password before saving server passwords.",
                       pressEnter);
            return 0;
        }
    }
    serverInfo* entry = entryOf(item);
    if (!entry) return 0;

    char prompt[64];
    std::snprintf(prompt, sizeof prompt, "Enter password for %.20s:", entry->description ? entry->description : "");
    char clear[51] = "";
    if (askText(window, prompt, clear, 50, promptColor, 1)) {
        if (*clear) entry->setPassword(clear);
        else entry->cleanPassword();
    }
    wipeMemory(clear, sizeof clear);
    return 0;
}

int serverList::hasPasswords()
{
    for (menuItem* it = items.first; it; it = it->next)
        if (serverInfo* s = entryOf(it); s && s->hasPassword()) return 1;
    return 0;
}

// Accepts or rejects a master password by the first stored password in list
// order; on acceptance every stored password is decrypted.
int serverList::decrypt(const char* key)
{
    if (!key) return 0;
    for (menuItem* it = items.first; it; it = it->next) {
        serverInfo* s = entryOf(it);
        if (!s || !s->hasPassword()) continue;
        unsigned char trial[storedPasswordLen];
        std::memcpy(trial, s->password, sizeof trial);
        rc4Cipher cipher;
        cipher.setKey(key);
        cipher.crypt(trial, storedPasswordLen, 0);
        const bool ok = markerMatches(trial);
        wipeMemory(trial, sizeof trial);
        if (!ok) return 1;
        break;
    }
    for (menuItem* it = items.first; it; it = it->next)
        if (serverInfo* s = entryOf(it); s && s->hasPassword()) s->decrypt(key);
    return 0;
}
