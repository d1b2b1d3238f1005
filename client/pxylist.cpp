#include "client/pxylist.h"

#include <cstdlib>
#include <cstring>
#include <new>

#include "client/listutil.h"
#include "client/srvlist.h"
#include "console/cinput.h"
#include "net/sutil.h"

namespace {

proxyInfo* entryOf(menuItem* item) { return item ? static_cast<proxyInfo*>(item->data) : nullptr; }

// What the proxy line can keep: a comma ends the address, an '@' ends the
// credentials (so an address holds one at most), a ':' ends the user name.
char addressRule(const char* text)
{
    if (char c = firstOf(text, ",")) return c;
    const char* at = std::strchr(text, '@');
    return at && std::strchr(at + 1, '@') ? '@' : 0;
}
char userNameRule(const char* text) { return firstOf(text, ":@,"); }
char passwordRule(const char* text) { return firstOf(text, "@,"); }
// A comma would end the command of a tunnel line.
char commandRule(const char* text) { return firstOf(text, ","); }

// The direct connection's own name begins no entry's description, so that
// nothing can be taken for it.
std::string descriptionRule(const char* text)
{
    while (*text && static_cast<unsigned char>(*text) <= 32) ++text;
    constexpr int n = sizeof directConnectionText - 1;
    if (strcmpin(text, directConnectionText, n) != 0) return "";
    return std::string("The description '") + directConnectionText + "' cannot be used here.";
}

constexpr int commandMax = 256;

enum entryKind { noKind = 0, proxyKind = 1, tunnelKind = 2 };

// Asks which kind of entry Insert adds; noKind when the operator leaves.
int askEntryKind(_win_st* win)
{
    consoleMenu menu;
    menu.init(win, 25, 10, 30, 4, ctlSaveScreen | ctlAccept);
    menu.setBorderTitle("New entry");
    menu.add("HTTPS proxy", proxyKind, nullptr);
    menu.add("Tunnel command", tunnelKind, nullptr);
    if (menu.execute() != 2) return noKind;
    const menuItem* chosen = menu.getActiveItem();
    return chosen ? chosen->id : noKind;
}

// The host of a line without credentials starts the value, whose leading
// blanks the file does not keep.
void trimHost(proxyInfo* entry)
{
    if (entry->hostName) strip(entry->hostName);
}

// Asks for the proxy's user name and then its password. Esc at the user-name
// prompt keeps both; an empty user name removes both.
void askCredentials(_win_st* win, proxyInfo* entry, bool editing)
{
    char user[41] = "";
    if (editing && entry->userName) std::snprintf(user, sizeof user, "%s", entry->userName);
    if (!askText(win, "Enter HTTPS proxy username (if required):", user, 40, 0x1E, 0, userNameRule)) return;
    strip(user);
    if (!*user) {
        entry->setUserName(nullptr);
        entry->cleanPassword();
        return;
    }
    entry->setUserName(user);
    char pass[41] = "";
    if (editing && entry->password) std::snprintf(pass, sizeof pass, "%s", entry->password);
    if (askText(win, "Enter HTTPS proxy password:", pass, 40, 0x1E, 0, passwordRule)) entry->setPassword(pass);
}

} // namespace

// ---------------------------------------------------------------- proxyInfo

proxyInfo::~proxyInfo()
{
    std::free(hostName);
    std::free(description);
    std::free(userName);
    std::free(password);
    std::free(command);
}

void proxyInfo::setUserName(const char* text) { replaceText(userName, text); }

void proxyInfo::setPassword(const char* text) { replaceText(password, text); }

void proxyInfo::cleanPassword()
{
    std::free(password);
    password = nullptr;
}

// Sets credentials, host, port and description from an address text of the
// form [user[:password]@]host[:port] that ends at `end`.
int proxyInfo::init(char* address, char* end, const char* desc)
{
    if (!address || !desc) return -1;
    size_t len = std::strlen(address);
    if (!end || end < address || end > address + len) end = address + len;

    char* host = address;
    if (char* at = static_cast<char*>(std::memchr(address, '@', static_cast<size_t>(end - address)))) {
        char* colon = static_cast<char*>(std::memchr(address, ':', static_cast<size_t>(at - address)));
        char* user = copyText(address, static_cast<size_t>((colon ? colon : at) - address));
        std::free(userName);
        userName = user;
        if (colon) {
            char* pass = copyText(colon + 1, static_cast<size_t>(at - colon - 1));
            std::free(password);
            password = pass;
        }
        host = at + 1;
    }
    const hostAndPort split = splitHostPort(host, end);
    if (split.port) port = readPortNumber(split.port);
    // Copy first: desc may be this entry's own description.
    char* newDesc = copyText(desc, std::strlen(desc));
    char* newHost = copyText(split.host, static_cast<size_t>(split.hostEnd - split.host));
    std::free(description);
    std::free(hostName);
    description = newDesc;
    hostName = newHost;
    return (newDesc && newHost) ? 0 : -2;
}

int proxyInfo::setTunnel(const char* newCommand, const char* desc)
{
    if (!newCommand || !desc) return -1;
    // Copy first: the texts may be this entry's own.
    char* c = copyText(newCommand, std::strlen(newCommand));
    char* d = copyText(desc, std::strlen(desc));
    std::free(command);
    std::free(description);
    command = c;
    description = d;
    return (c && d) ? 0 : -2;
}

// ---------------------------------------------------------------- proxyList

proxyList::proxyList() = default;

proxyList::~proxyList() { deleteEntries<proxyInfo>(*this); }

int proxyList::init(_win_st* win) { return consoleMenu::init(win, 6, 6, 68, 12, 11); }

void proxyList::makeLine(char* out, const proxyInfo* p)
{
    if (p && p->command) {
        std::snprintf(out, 80, "%-35.40s - | %s", p->description ? p->description : "", p->command);
        return;
    }
    std::snprintf(out, 80, "%-35.40s - %s:%d", p && p->description ? p->description : "",
                  shownHost(p ? p->hostName : nullptr, 30).c_str(), p ? static_cast<int>(p->port) : 0);
}

void proxyList::makeTitle(char* out, int size, const proxyInfo* p)
{
    if (!p || size <= 0) return;
    if (p->command)
        std::snprintf(out, static_cast<size_t>(size), "Tunnel: %.20s - | %.40s", p->description ? p->description : "",
                      p->command);
    else
        std::snprintf(out, static_cast<size_t>(size), "Proxy Server: %.20s - %s:%d",
                      p->description ? p->description : "", shownHost(p->hostName, 20).c_str(), static_cast<int>(p->port));
}

int proxyList::onKey(KEY_EVENT_RECORD& key)
{
    if (key.wVirtualKeyCode == kcF3) return onEditItem();
    return consoleMenu::onKey(key);
}

// Adds a new entry from what the operator types: an HTTPS proxy or a tunnel.
int proxyList::onInsert()
{
    const int kind = askEntryKind(window);
    if (kind == tunnelKind) return insertTunnel();
    if (kind != proxyKind) return 0;
    char desc[41] = "";
    char address[257] = "";
    if (!askText(window, "Enter description:", desc, 40, 0x1E, 0, nullptr, descriptionRule)) return 0;
    // Trimmed as Edit trims: the file keeps no blanks at the ends, and drops
    // an entry without a description.
    strip(desc);
    if (!*desc) return 0;
    if (!askText(window, "Enter server address (hostname:port).", address, 256, 0x1E, 0, addressRule)) return 0;
    strip(address);

    proxyInfo* entry = new (std::nothrow) proxyInfo;
    menuItem* item = new (std::nothrow) menuItem(desc, getItemCount() + 1, entry);
    if (!entry || !item || entry->init(address, address + std::strlen(address), desc) != 0) {
        delete entry;
        delete item;
        return -2;
    }
    trimHost(entry);
    askCredentials(window, entry, false);
    setItemLine<proxyList>(item, entry);
    add(item);
    drawItems();
    return 0;
}

// Changes the active proxy; the direct entry cannot be edited.
int proxyList::onEditItem()
{
    menuItem* item = getActiveItem();
    proxyInfo* entry = entryOf(item);
    if (!entry) return 0;
    if (entry->command) return editTunnel(item, entry);

    char desc[41];
    char address[257];
    std::snprintf(desc, sizeof desc, "%s", entry->description ? entry->description : "");
    std::snprintf(address, sizeof address, "%s:%d", writtenHost(entry->hostName).c_str(),
                  static_cast<int>(entry->port));
    if (!askText(window, "Change description:", desc, 40, 0x1E, 0, nullptr, descriptionRule)) return 0;
    if (!askText(window, "Change proxy address (hostname:port).", address, 256, 0x1E, 0, addressRule)) return 0;
    strip(desc);
    strip(address);
    if (!*desc || !*address) return 0;

    if (entry->init(address, address + std::strlen(address), desc) != 0) {
        delete entry;
        dropItem(*this, item);
        return 0;
    }
    trimHost(entry);
    askCredentials(window, entry, true);
    setItemLine<proxyList>(item, entry);
    drawItems();
    return 0;
}

int proxyList::onDelete()
{
    menuItem* item = getActiveItem();
    proxyInfo* entry = entryOf(item);
    if (!entry) return 0;
    delete entry;
    dropItem(*this, item);
    return 0;
}

// Adds a tunnel entry: a description, then the command.
int proxyList::insertTunnel()
{
    char desc[41] = "";
    char command[commandMax + 1] = "";
    if (!askText(window, "Enter description:", desc, 40, 0x1E, 0, nullptr, descriptionRule)) return 0;
    strip(desc);
    if (!*desc) return 0;
    if (!askText(window, "Enter tunnel command (%h=host, %p=port):", command, commandMax, 0x1E, 0, commandRule))
        return 0;
    strip(command);
    if (!*command) return 0;

    proxyInfo* entry = new (std::nothrow) proxyInfo;
    menuItem* item = new (std::nothrow) menuItem(desc, getItemCount() + 1, entry);
    if (!entry || !item || entry->setTunnel(command, desc) != 0) {
        delete entry;
        delete item;
        return -2;
    }
    setItemLine<proxyList>(item, entry);
    add(item);
    drawItems();
    return 0;
}

// Changes the description and the command of a tunnel entry.
int proxyList::editTunnel(menuItem* item, proxyInfo* entry)
{
    char desc[41];
    char command[commandMax + 1];
    std::snprintf(desc, sizeof desc, "%s", entry->description ? entry->description : "");
    std::snprintf(command, sizeof command, "%s", entry->command);
    if (!askText(window, "Change description:", desc, 40, 0x1E, 0, nullptr, descriptionRule)) return 0;
    if (!askText(window, "Change tunnel command (%h=host, %p=port):", command, commandMax, 0x1E, 0, commandRule))
        return 0;
    strip(desc);
    strip(command);
    if (!*desc || !*command) return 0;
    if (entry->setTunnel(command, desc) != 0) {
        delete entry;
        dropItem(*this, item);
        return 0;
    }
    setItemLine<proxyList>(item, entry);
    drawItems();
    return 0;
}
