// The configuration file quorcli.cfg: reading it into the two list menus and
// writing them back.
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <string>

#include "client/cfgfile.h"
#include "client/cfgplace.h"
#include "client/cmain.h"
#include "client/listutil.h"
#include "console/global.h"
#include "crypto/rc4.h"
#include "net/sutil.h"

namespace {

constexpr int maxLineLength = 3999;   // characters of a line, without its end
constexpr int maxValueLength = 4000;

constexpr char serverComment[] = "; QUORVEX servers (hostname:port,description,password)\r\n";
constexpr char proxyComment[] = "; Proxy servers (user:pass@proxyhostname:port,description)\r\n";

int hexDigit(char c)
{
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// Copies the text [from, to) into out, cut to maxLen characters, then trimmed.
void takeDescription(char* out, const char* from, const char* to, int maxLen)
{
    size_t n = static_cast<size_t>(to - from);
    if (maxLen < 0) maxLen = 0;
    if (n > static_cast<size_t>(maxLen)) n = static_cast<size_t>(maxLen);
    std::memcpy(out, from, n);
    out[n] = 0;
    strip(out);
}

// Reads the next line of f into line (maxLineLength + 2 bytes) without its
// LF or CR LF end; false at the end of the file, and once more than the size
// limit has been read (total counts the bytes). A longer line is read to its
// end and comes back empty and tooLong.
bool nextLine(FILE* f, char* line, long long& total, bool& tooLong)
{
    size_t n = 0;
    bool any = false;
    int c = 0;
    tooLong = false;
    while ((c = std::getc(f)) != EOF) {
        any = true;
        if (++total > cfgMaxBytes) return false;
        if (c == '\n') break;
        // One place more than the limit, for a CR that ends the line.
        if (n <= static_cast<size_t>(maxLineLength)) line[n++] = static_cast<char>(c);
        else tooLong = true;
    }
    if (n > 0 && line[n - 1] == '\r') --n;
    if (n > static_cast<size_t>(maxLineLength)) tooLong = true;
    line[tooLong ? 0 : n] = 0;
    return any;
}

// Where the configuration of this run is, and what it may be trusted with.
struct judgedPlace {
    cfgPlace place;
    cfgTrust trust;
    std::string refusal;   // "<path>: <reason>" or ""
};

judgedPlace judgePlace(const char* fileName)
{
    judgedPlace j;
    j.place = cfgChoosePlace(startupConfig, modulePath, fileName, cfgNativeSystem());
    j.trust = cfgJudge(j.place.path, j.place.userFolder);
    j.refusal = j.trust.refusal;
    if (j.refusal.empty() && !j.place.unsaveable.empty())
        j.refusal = j.place.path + ": cannot be saved: " + j.place.unsaveable + " (--config=FILE names another file)";
    return j;
}

// Sorted adds of the lists are put in place once, at the end of a load.
class deferredSorting {
public:
    deferredSorting(consoleMenu& a, consoleMenu& b) : a_(a), b_(b)
    {
        a_.deferSorting();
        b_.deferSorting();
    }
    ~deferredSorting()
    {
        a_.applySorting();
        b_.applySorting();
    }
    deferredSorting(const deferredSorting&) = delete;
    deferredSorting& operator=(const deferredSorting&) = delete;

private:
    consoleMenu& a_;
    consoleMenu& b_;
};

} // namespace

// ---------------------------------------------------------------- entries

// Fills a server entry from a configuration value
// "host[:port],description[,password]".
int serverInfo::init(char* value, char* descBuf, int maxDesc)
{
    if (!value || !descBuf) return -1;
    char* valueEnd = value + std::strlen(value);
    char* c1 = std::strchr(value, ',');
    char* addressEnd = c1 ? c1 : valueEnd;
    char* c2 = c1 ? std::strchr(c1 + 1, ',') : nullptr;
    if (!c1) takeDescription(descBuf, value, valueEnd, maxDesc);
    else takeDescription(descBuf, c1 + 1, c2 ? c2 : valueEnd, maxDesc);
    if (!*descBuf) return -4;

    if (c2) {
        char* field = strip(c2 + 1);
        if (std::strlen(field) == 2 * storedPasswordLen) {
            for (int i = 0; i < storedPasswordLen; ++i) {
                int hi = hexDigit(field[2 * i]);
                int lo = hexDigit(field[2 * i + 1]);
                password[i] = (hi < 0 || lo < 0) ? 0xFF : static_cast<unsigned char>(hi * 16 + lo);
            }
            passwordSet = 1;
        }
    }
    return init(value, addressEnd, descBuf);
}

// Fills a proxy entry from a configuration value
// "[user[:password]@]host[:port],description".
int proxyInfo::init(char* value, char* descBuf, int maxDesc)
{
    if (!value || !descBuf) return -1;
    char* valueEnd = value + std::strlen(value);
    char* comma = std::strchr(value, ',');
    takeDescription(descBuf, comma ? comma + 1 : value, valueEnd, maxDesc);
    if (!*descBuf) return -4;
    return init(value, comma ? comma : valueEnd, descBuf);
}

// Fills a tunnel entry from a configuration value "command,description".
int proxyInfo::initTunnel(char* value, char* descBuf, int maxDesc)
{
    if (!value || !descBuf) return -1;
    char* comma = std::strchr(value, ',');
    if (!comma) return -4;
    takeDescription(descBuf, comma + 1, value + std::strlen(value), maxDesc);
    *comma = 0;
    const char* cmd = strip(value);
    if (!*descBuf || !*cmd) return -4;
    return setTunnel(cmd, descBuf);
}

void proxyInfo::save(FILE* f)
{
    if (f && command && description) std::fprintf(f, "tunnel=%s,%s\r\n", command, description);
    if (!f || !hostName || !description) return;
    const std::string host = writtenHost(hostName);
    if (!userName)
        std::fprintf(f, "proxy=%s:%d,%s\r\n", host.c_str(), static_cast<int>(port), description);
    else if (password)
        std::fprintf(f, "proxy=%s:%s@%s:%d,%s\r\n", userName, password, host.c_str(), static_cast<int>(port),
                     description);
    else
        std::fprintf(f, "proxy=%s@%s:%d,%s\r\n", userName, host.c_str(), static_cast<int>(port), description);
}

// ---------------------------------------------------------------- lists

int serverList::parse(char* value) { return addEntryFromValue<serverInfo>(*this, value); }

int proxyList::parse(char* value) { return addEntryFromValue<proxyInfo>(*this, value); }

int proxyList::parseTunnel(char* value)
{
    constexpr int maxDescription = 80;
    proxyInfo* entry = new (std::nothrow) proxyInfo;
    menuItem* item = new (std::nothrow) menuItem("", getItemCount() + 1, entry);
    char desc[maxDescription + 1];
    const int rc = (entry && item) ? entry->initTunnel(value, desc, maxDescription) : -2;
    if (rc != 0) {
        delete entry;
        delete item;
        return rc == -2 ? -2 : 0;
    }
    setItemLine<proxyList>(item, entry);
    add(item);
    return 0;
}

// Writes one line per server in list order; stored passwords go out under
// the master password, or unchanged when none is set.
void serverList::save(FILE* f)
{
    if (!f) return;
    for (menuItem* it = items.first; it; it = it->next) {
        const serverInfo* s = static_cast<const serverInfo*>(it->data);
        if (!s || !s->hostName || !s->description) continue;
        if (s->invalidAddress)
            std::fprintf(f, "server=%s,%s", s->invalidAddress, s->description);
        else
            std::fprintf(f, "server=%s:%d,%s", writtenHost(s->hostName).c_str(), static_cast<int>(s->port),
                         s->description);
        if (s->hasPassword()) {
            unsigned char bytes[storedPasswordLen];
            std::memcpy(bytes, s->password, sizeof bytes);
            if (masterPassword()) {
                rc4Cipher cipher;
                cipher.setKey(masterPassword());
                cipher.crypt(bytes, storedPasswordLen, 0);
            }
            std::fputc(',', f);
            for (unsigned char b : bytes) std::fprintf(f, "%02x", b);
            wipeMemory(bytes, sizeof bytes);
        }
        std::fputs("\r\n", f);
    }
}

void proxyList::save(FILE* f)
{
    if (!f) return;
    for (menuItem* it = items.first; it; it = it->next)
        if (proxyInfo* p = static_cast<proxyInfo*>(it->data)) p->save(f);
}

// ---------------------------------------------------------------- consoleMain

std::string configRefusal(const char* fileName) { return judgePlace(fileName).refusal; }

// Reads the configuration of this run (--config=, else fileName beside the
// program or in the user's folder) into the two lists and keeps the path for
// the save. A missing file leaves the lists as they are; a file that is there
// but cannot be read, or that must not be used at all, is noted in
// configError, and must then not be saved over. Tunnel entries of a file
// that is not private are read, but may not start (tunnelRefusal).
int consoleMain::loadConfig(const char* fileName, serverList& sl, proxyList& pl)
{
    const judgedPlace judged = judgePlace(fileName);
    const std::string& path = judged.place.path;
    std::free(configPath);
    configPath = strdup(path.c_str());
    configError = judged.refusal;
    configNote.clear();
    tunnelRefusal = judged.trust.notPrivate;
    if (!configError.empty()) return 0;
    // The user's folder is made now, so that the save at the end finds it;
    // when it cannot be made, that save says so.
    if (!judged.place.userFolder.empty()) (void)cfgMakePrivateFolder(judged.place.userFolder);

    // Temporary files of saves that were killed hold passwords: away with them.
    cfgRemoveLeftovers(path.c_str());
    FILE* f = nullptr;
    std::string reason;
    const cfgOpenResult opened = cfgOpenForReading(path.c_str(), &f, reason);
    droppedLines dropped;
    if (opened == cfgOpened) {
        errno = 0;
        if (!readConfig(f, sl, pl, &dropped)) reason = std::strerror(errno ? errno : EIO);
        std::fclose(f);
    }
    if (!reason.empty()) configError = "cannot read " + path + ": " + reason;
    if (dropped.count > 0)
        configNote = path + ": " + std::to_string(dropped.count) + (dropped.count == 1 ? " line" : " lines") +
                     " longer than " + std::to_string(maxLineLength) + " characters left out (the first: line " +
                     std::to_string(dropped.first) + ")";
    return 0;
}

bool consoleMain::readConfig(FILE* f, serverList& sl, proxyList& pl, droppedLines* dropped)
{
    std::unique_ptr<char[]> line(new (std::nothrow) char[maxLineLength + 2]);
    std::unique_ptr<char[]> value(new (std::nothrow) char[maxValueLength + 1]);
    if (!f || !line || !value) return true;
    deferredSorting sorting(sl, pl);
    long long total = 0;
    bool tooLong = false;
    for (long number = 1; nextLine(f, line.get(), total, tooLong); ++number) {
        if (tooLong) {
            if (dropped && dropped->count++ == 0) dropped->first = number;
            continue;
        }
        if (isVariable("server", line.get(), '=')) {
            getValue(line.get(), value.get(), '=', maxValueLength);
            sl.parse(value.get());
        } else if (isVariable("proxy", line.get(), '=')) {
            getValue(line.get(), value.get(), '=', maxValueLength);
            pl.parse(value.get());
        } else if (isVariable("tunnel", line.get(), '=')) {
            getValue(line.get(), value.get(), '=', maxValueLength);
            pl.parseTunnel(value.get());
        }
    }
    if (total > cfgMaxBytes) errno = EFBIG;
    return !std::ferror(f) && total <= cfgMaxBytes;
}

void consoleMain::writeConfig(FILE* f)
{
    std::fputs(serverComment, f);
    servers.save(f);
    std::fputs("\r\n", f);
    std::fputs(proxyComment, f);
    proxies.save(f);
}

// Writes both lists to the kept configuration path. When that fails the old
// file stays as it was and configError tells why.
int consoleMain::saveConfig()
{
    configError.clear();
    const char* path = configPath ? configPath : "quorcli.cfg";
    std::string reason = configPath ? cfgWrite(configPath, [this](FILE* f) { writeConfig(f); }) : std::strerror(ENOMEM);
    if (!reason.empty()) configError = "cannot write " + std::string(path) + ": " + reason;
    return 0;
}

int consoleMain::reportEnd(const std::string& startError) const
{
    if (!configNote.empty()) std::fprintf(stderr, "quorcli: %s\n", configNote.c_str());
    if (!startError.empty()) std::fprintf(stderr, "quorcli: %s\n", startError.c_str());
    if (configError.empty()) return startError.empty() ? 0 : 1;
    std::fprintf(stderr, "quorcli: %s\n", configError.c_str());
    return 1;
}
