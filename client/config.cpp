// The configuration file quorcli.cfg: reading it into the two list menus and
// writing them back.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <string>

#include "client/cmain.h"
#include "client/listutil.h"
#include "console/global.h"
#include "crypto/rc4.h"
#include "net/sutil.h"

namespace {

constexpr int lineBufferSize = 4000;   // one line read: at most 3999 characters
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

std::string failure(const char* path, int err)
{
    return std::string(path) + ": " + std::strerror(err ? err : EIO);
}

// Writes the file through a temporary file in the same directory that is
// renamed over the old one only when it is complete, so a failed save never
// leaves a damaged or missing file behind. Returns "" or "<path>: <reason>".
template <class Writer>
std::string replaceFile(const char* path, Writer write)
{
    std::string target = path;
    struct stat st;
    // Through a symbolic link the file it names is replaced, so the link stays.
    if (lstat(path, &st) == 0 && S_ISLNK(st.st_mode)) {
        struct stat to;
        if (char* real = realpath(path, nullptr)) {
            if (stat(real, &to) == 0 && S_ISREG(to.st_mode)) target = real;
            std::free(real);
        }
    }
    std::string temp = target + ".XXXXXX";
    int fd = mkstemp(temp.data());   // created with mode 0600
    if (fd < 0) return failure(path, errno);
    // An existing file keeps its mode and, where allowed, its owner.
    if (stat(target.c_str(), &st) == 0 && S_ISREG(st.st_mode)) {
        (void)fchown(fd, st.st_uid, st.st_gid);
        (void)fchmod(fd, st.st_mode & 07777);
    }

    FILE* f = fdopen(fd, "wb");
    if (!f) {
        int err = errno;
        close(fd);
        unlink(temp.c_str());
        return failure(path, err);
    }
    errno = 0;
    write(f);
    int err = 0;
    if (std::fflush(f) != 0 || std::ferror(f)) err = errno ? errno : EIO;
    else if (fsync(fileno(f)) != 0) err = errno;
    if (std::fclose(f) != 0 && !err) err = errno ? errno : EIO;
    if (!err && rename(temp.c_str(), target.c_str()) != 0) err = errno;
    if (err) {
        unlink(temp.c_str());
        return failure(path, err);
    }
    // Make the rename itself durable; a failure here loses nothing.
    std::string dir = target.substr(0, target.find_last_of('/') + 1);
    int dfd = open(dir.empty() ? "." : dir.c_str(), O_RDONLY | O_DIRECTORY);
    if (dfd >= 0) {
        (void)fsync(dfd);
        close(dfd);
    }
    return "";
}

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

void proxyInfo::save(FILE* f)
{
    if (!f || !hostName || !description) return;
    if (!userName)
        std::fprintf(f, "proxy=%s:%d,%s\r\n", hostName, static_cast<int>(port), description);
    else if (password)
        std::fprintf(f, "proxy=%s:%s@%s:%d,%s\r\n", userName, password, hostName, static_cast<int>(port),
                     description);
    else
        std::fprintf(f, "proxy=%s@%s:%d,%s\r\n", userName, hostName, static_cast<int>(port), description);
}

// ---------------------------------------------------------------- lists

int serverList::parse(char* value) { return addEntryFromValue<serverInfo>(*this, value); }

int proxyList::parse(char* value) { return addEntryFromValue<proxyInfo>(*this, value); }

// Writes one line per server in list order; stored passwords go out under
// the master password, or unchanged when none is set.
void serverList::save(FILE* f)
{
    if (!f) return;
    for (menuItem* it = items.first; it; it = it->next) {
        const serverInfo* s = static_cast<const serverInfo*>(it->data);
        if (!s || !s->hostName || !s->description) continue;
        std::fprintf(f, "server=%s:%d,%s", s->hostName, static_cast<int>(s->port), s->description);
        if (s->hasPassword()) {
            unsigned char bytes[storedPasswordLen];
            std::memcpy(bytes, s->password, sizeof bytes);
            if (masterPassword) {
                rc4Cipher cipher;
                cipher.setKey(masterPassword);
                cipher.crypt(bytes, storedPasswordLen, 0);
            }
            std::fputc(',', f);
            for (unsigned char b : bytes) std::fprintf(f, "%02x", b);
            std::memset(bytes, 0, sizeof bytes);
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

// Reads modulePath + fileName into the two lists and keeps the path for the
// save. A missing or unreadable file leaves the lists as they are.
int consoleMain::loadConfig(const char* fileName, serverList& sl, proxyList& pl)
{
    std::string path = std::string(modulePath ? modulePath : "") + (fileName ? fileName : "");
    std::free(configPath);
    configPath = strdup(path.c_str());

    // Opened without blocking so that a FIFO in the file's place cannot hold
    // the start-up; only a regular file is read.
    int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return 0;
    struct stat st;
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        close(fd);
        return 0;
    }
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    FILE* f = fdopen(fd, "rb");
    if (!f) {
        close(fd);
        return 0;
    }
    std::unique_ptr<char[]> line(new (std::nothrow) char[maxValueLength + 1]);
    std::unique_ptr<char[]> value(new (std::nothrow) char[maxValueLength + 1]);
    if (line && value) {
        while (std::fgets(line.get(), lineBufferSize, f)) {
            if (isVariable("server", line.get(), '=')) {
                getValue(line.get(), value.get(), '=', maxValueLength);
                sl.parse(value.get());
            } else if (isVariable("proxy", line.get(), '=')) {
                getValue(line.get(), value.get(), '=', maxValueLength);
                pl.parse(value.get());
            }
        }
    }
    std::fclose(f);
    return 0;
}

// Writes both lists to the kept configuration path. When that fails the old
// file stays as it was and saveError tells why.
int consoleMain::saveConfig()
{
    saveError.clear();
    if (!configPath) {
        saveError = failure("quorcli.cfg", ENOMEM);
        return 0;
    }
    saveError = replaceFile(configPath, [this](FILE* f) {
        std::fputs(serverComment, f);
        servers.save(f);
        std::fputs("\r\n", f);
        std::fputs(proxyComment, f);
        proxies.save(f);
    });
    return 0;
}
