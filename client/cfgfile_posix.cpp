// The configuration file's disk operations on POSIX systems.
#include <dirent.h>
#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <vector>

#include "client/cfgfile.h"
#include "client/cfgplace.h"
#include "net/sutil.h"

namespace {

constexpr int maxLinkHops = 40;
constexpr int lockWaitMs = 5000;
constexpr int lockPollMs = 20;

std::string reasonOf(int err) { return std::strerror(err ? err : EIO); }

// The reason a file that exists is no regular file.
std::string notRegular(const struct stat& st) { return S_ISDIR(st.st_mode) ? reasonOf(EISDIR) : "Not a regular file"; }

// The folder part of a path, with its trailing '/', or "" for none.
std::string folderOf(const std::string& path) { return path.substr(0, path.find_last_of('/') + 1); }

// The account of a user id, looked up into the caller's buffer.
const struct passwd* accountOf(uid_t uid, struct passwd& entry, std::vector<char>& buffer)
{
    const long size = sysconf(_SC_GETPW_R_SIZE_MAX);
    buffer.assign(static_cast<size_t>(size > 0 ? size : 16384), 0);
    struct passwd* found = nullptr;
    if (getpwuid_r(uid, &entry, buffer.data(), buffer.size(), &found) != 0) return nullptr;
    return found;
}

std::string userName(uid_t uid)
{
    struct passwd entry;
    std::vector<char> buffer;
    const struct passwd* found = accountOf(uid, entry, buffer);
    return found && found->pw_name ? found->pw_name : "uid " + std::to_string(uid);
}

bool trustedOwner(uid_t uid) { return uid == geteuid() || uid == 0; }

std::string modeText(mode_t mode)
{
    char text[8];
    std::snprintf(text, sizeof text, "%04o", static_cast<unsigned>(mode & 07777));
    return text;
}

// What keeps an entry on the way to the configuration from being private:
// another user owns it, or its group or others may write it (not a folder
// with the sticky bit; a link's own mode means nothing). "" when nothing.
std::string privacyFault(const std::string& path, const struct stat& st)
{
    if (!trustedOwner(st.st_uid)) return path + ": owned by " + userName(st.st_uid);
    if (S_ISLNK(st.st_mode) || (S_ISDIR(st.st_mode) && (st.st_mode & S_ISVTX))) return "";
    if (st.st_mode & S_IWOTH) return path + ": writable by others (mode " + modeText(st.st_mode) + ")";
    if (st.st_mode & S_IWGRP) return path + ": writable by group (mode " + modeText(st.st_mode) + ")";
    return "";
}

// The text of a symbolic link; false when it cannot be read or is empty.
bool readLink(const std::string& path, const struct stat& st, std::string& to)
{
    std::vector<char> link(static_cast<size_t>(st.st_size > 0 ? st.st_size : PATH_MAX) + 1);
    const ssize_t n = readlink(path.c_str(), link.data(), link.size());
    if (n <= 0 || static_cast<size_t>(n) >= link.size()) return false;
    to.assign(link.data(), static_cast<size_t>(n));
    return true;
}

using visitor = std::function<void(const std::string& path, const struct stat& st)>;

// Goes from "/" down the path as the system would, visiting every entry met:
// each folder, and each symbolic link (in a folder's path or in the file's
// own chain) before it is followed. True when the whole path is there; end
// and endStat then tell where it led. A relative path starts at the current
// folder.
bool walkPath(const std::string& path, const visitor& visit, std::string& end, struct stat& endStat)
{
    std::string start = path;
    if (start.empty() || start[0] != '/') {
        char* here = getcwd(nullptr, 0);
        if (!here) return false;
        start = std::string(here) + "/" + start;
        std::free(here);
    }
    std::deque<std::string> names;
    auto pushFront = [&names](const std::string& p) {
        std::deque<std::string> parts;
        for (size_t at = 0; at <= p.size();) {
            const size_t stop = std::min(p.find('/', at), p.size());
            parts.push_back(p.substr(at, stop - at));
            at = stop + 1;
        }
        names.insert(names.begin(), parts.begin(), parts.end());
    };
    pushFront(start);
    struct stat st;
    if (lstat("/", &st) != 0) return false;
    visit("/", st);
    end.clear();   // the entries gone through, links resolved ("" is "/")
    for (int hops = 0; !names.empty();) {
        const std::string name = names.front();
        names.pop_front();
        if (name.empty() || name == ".") continue;
        if (name == "..") {
            end.erase(std::min(end.rfind('/'), end.size()));
            continue;
        }
        const std::string next = end + "/" + name;
        if (lstat(next.c_str(), &st) != 0) return false;
        visit(next, st);
        if (!S_ISLNK(st.st_mode)) {
            end = next;
            continue;
        }
        std::string to;
        if (++hops > maxLinkHops || !readLink(next, st, to)) return false;
        if (to[0] == '/') end.clear();
        pushFront(to);
    }
    if (end.empty()) end = "/";
    return lstat(end.c_str(), &endStat) == 0;
}

// The first fault on the way to path (see privacyFault), or "".
std::string firstFault(const std::string& path)
{
    std::string fault, end;
    struct stat endStat;
    const auto judge = [&fault](const std::string& p, const struct stat& st) {
        if (fault.empty()) fault = privacyFault(p, st);
    };
    walkPath(path, judge, end, endStat);
    return fault;
}

// Where a save writes: path itself, or the end of its chain of symbolic
// links. A link is followed only when this user or root owns it and it lies
// in a private folder; otherwise refused says why and "" is returned.
std::string saveTarget(const char* path, std::string& refused)
{
    std::string p = path ? path : "";
    for (int hop = 0; hop < maxLinkHops; ++hop) {
        struct stat st;
        std::string to;
        if (lstat(p.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) break;
        std::string fault = privacyFault(p, st);
        if (fault.empty()) fault = firstFault(folderOf(p).empty() ? "." : folderOf(p));
        if (!fault.empty()) {
            refused = "symbolic link not followed: " + fault;
            return "";
        }
        if (!readLink(p, st, to)) break;
        p = to[0] == '/' ? to : folderOf(p) + to;
    }
    return p;
}

// The advisory lock that saves and removals of leftovers of one folder take
// turns with, held for the object's life. It waits a few seconds at most.
class folderLock {
public:
    explicit folderLock(const std::string& folder)
        : fd_(open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC))
    {
        for (int waited = 0; fd_ >= 0 && !held_; waited += lockPollMs) {
            held_ = flock(fd_, LOCK_EX | LOCK_NB) == 0;
            if (held_ || (errno != EWOULDBLOCK && errno != EINTR) || waited >= lockWaitMs) break;
            usleep(lockPollMs * 1000);
        }
    }
    ~folderLock()
    {
        if (fd_ >= 0) close(fd_);   // which lets the lock go
    }
    folderLock(const folderLock&) = delete;
    folderLock& operator=(const folderLock&) = delete;
    bool held() const { return held_; }

private:
    int fd_;
    bool held_ = false;
};

bool inMyGroups(gid_t gid)
{
    if (gid == getegid()) return true;
    int n = getgroups(0, nullptr);
    if (n <= 0) return false;
    std::vector<gid_t> groups(static_cast<size_t>(n));
    n = getgroups(n, groups.data());
    for (int i = 0; i < n; ++i)
        if (groups[static_cast<size_t>(i)] == gid) return true;
    return false;
}

// True when a new file of ours could be given this file's owner and group.
bool canKeepOwner(const struct stat& st)
{
    return geteuid() == 0 || (st.st_uid == geteuid() && inMyGroups(st.st_gid));
}

// Writes all bytes at the offset, going on after short writes and signals.
bool writeAllAt(int fd, const std::string& bytes, off_t offset)
{
    size_t done = 0;
    while (done < bytes.size()) {
        ssize_t n = pwrite(fd, bytes.data() + done, bytes.size() - done, offset + static_cast<off_t>(done));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            if (n == 0) errno = EIO;
            return false;
        }
        done += static_cast<size_t>(n);
    }
    return true;
}

// The whole content of an open file, or false.
bool readAll(int fd, std::string& out)
{
    out.clear();
    char buffer[8192];
    for (off_t at = 0;;) {
        ssize_t n = pread(fd, buffer, sizeof buffer, at);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return false;
        if (n == 0) return true;
        out.append(buffer, static_cast<size_t>(n));
        at += n;
    }
}

// What the writer puts on a stream, as bytes.
bool render(const std::function<void(FILE*)>& writer, std::string& out)
{
    char* data = nullptr;
    size_t size = 0;
    FILE* f = open_memstream(&data, &size);
    if (!f) return false;
    writer(f);
    const bool ok = std::fflush(f) == 0 && !std::ferror(f);
    std::fclose(f);
    if (ok && data) out.assign(data, size);
    if (data) {
        wipeMemory(data, size);
        std::free(data);
    }
    if (!ok) errno = ENOMEM;
    return ok;
}

void syncFolder(const std::string& folder)
{
    int dfd = open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dfd >= 0) {
        (void)fsync(dfd);
        close(dfd);
    }
}

// Overwrites the file itself: truncated to the new text, flushed, synced;
// owner, mode and links stay. When writing fails the old bytes are put back.
std::string writeInPlace(const std::string& target, const std::string& text)
{
    std::string old;
    bool haveOld = false;
    // The target is no link: one put there meanwhile is not followed.
    int fd = open(target.c_str(), O_RDWR | O_NOFOLLOW | O_CLOEXEC);
    if (fd >= 0) haveOld = readAll(fd, old);
    else fd = open(target.c_str(), O_WRONLY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) return reasonOf(errno);
    int err = 0;
    if (!writeAllAt(fd, text, 0) || ftruncate(fd, static_cast<off_t>(text.size())) != 0 || fsync(fd) != 0)
        err = errno;
    if (err && haveOld) {
        (void)writeAllAt(fd, old, 0);
        (void)ftruncate(fd, static_cast<off_t>(old.size()));
        (void)fsync(fd);
    }
    wipeMemory(old.data(), old.size());
    close(fd);
    return err ? reasonOf(err) : "";
}

// Writes a temporary file beside the target and renames it over the target,
// so that a failed save leaves the old file whole. The temporary file is
// private (0600) while it exists; an existing file's owner and mode go to
// the new one after the rename, through the still open descriptor.
std::string replaceWhole(const std::string& target, const struct stat* old, const std::string& text)
{
    std::string temp = target + cfgTempInfix + "XXXXXX";
    int fd = mkostemp(temp.data(), O_CLOEXEC);
    if (fd < 0) return reasonOf(errno);
    int err = 0;
    if (!writeAllAt(fd, text, 0) || fsync(fd) != 0) err = errno;
    else if (rename(temp.c_str(), target.c_str()) != 0) err = errno;
    if (err) {
        unlink(temp.c_str());
        close(fd);
        return reasonOf(err);
    }
    if (old) {
        (void)!fchown(fd, old->st_uid, old->st_gid);
        (void)fchmod(fd, old->st_mode & 07777);
    }
    close(fd);
    syncFolder(folderOf(target));
    return "";
}

} // namespace

cfgOpenResult cfgOpenForReading(const char* path, FILE** file, std::string& reason)
{
    *file = nullptr;
    reason.clear();
    // Without blocking, so that a FIFO in the file's place cannot hold the start.
    int fd = open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        if (errno == ENOENT) return cfgMissing;
        reason = reasonOf(errno);
        return cfgUnreadable;
    }
    struct stat st;
    if (fstat(fd, &st) != 0) reason = reasonOf(errno);
    else if (!S_ISREG(st.st_mode)) reason = notRegular(st);
    if (!reason.empty()) {
        close(fd);
        return cfgUnreadable;
    }
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    *file = fdopen(fd, "rb");
    if (!*file) {
        reason = reasonOf(errno);
        close(fd);
        return cfgUnreadable;
    }
    return cfgOpened;
}

std::string cfgResolve(const char* path)
{
    std::string p = path ? path : "";
    for (int hop = 0; hop < maxLinkHops; ++hop) {
        struct stat st;
        std::string to;
        if (lstat(p.c_str(), &st) != 0 || !S_ISLNK(st.st_mode) || !readLink(p, st, to)) break;
        p = to[0] == '/' ? to : folderOf(p) + to;
    }
    return p;
}

void cfgRemoveLeftovers(const char* path)
{
    const std::string target = cfgResolve(path);
    const std::string folder = folderOf(target);
    const std::string name = target.substr(folder.size());
    if (name.empty()) return;
    const folderLock lock(folder);
    if (!lock.held()) return;
    DIR* d = opendir(folder.empty() ? "." : folder.c_str());
    if (!d) return;
    const int dfd = dirfd(d);
    while (struct dirent* e = readdir(d)) {
        if (!cfgIsTempName(e->d_name, name)) continue;
        struct stat st;
        if (fstatat(dfd, e->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(st.st_mode) && st.st_uid == geteuid())
            unlinkat(dfd, e->d_name, 0);
    }
    closedir(d);
}

std::string cfgWrite(const char* path, const std::function<void(FILE*)>& writer)
{
    // Through symbolic links the file they lead to is written; the links stay.
    std::string refused;
    const std::string target = saveTarget(path, refused);
    if (!refused.empty()) return refused;
    struct stat st;
    const bool exists = lstat(target.c_str(), &st) == 0;
    if (!exists && errno != ENOENT) return reasonOf(errno);
    if (exists) {
        if (S_ISLNK(st.st_mode)) return reasonOf(ELOOP);
        if (!S_ISREG(st.st_mode)) return notRegular(st);
        // A file the user may not write stays as it is, even where the folder
        // would let a rename replace it.
        if (faccessat(AT_FDCWD, target.c_str(), W_OK, AT_EACCESS) != 0) return reasonOf(errno);
    }
    std::string text;
    if (!render(writer, text)) return reasonOf(errno);

    const std::string folder = folderOf(target);
    const bool folderWritable =
        faccessat(AT_FDCWD, folder.empty() ? "." : folder.c_str(), W_OK | X_OK, AT_EACCESS) == 0;
    std::string result;
    const folderLock lock(folder);   // held or not: the save goes on
    // In place where a replacement could not be made or would change the
    // file's owner, or would cut its other hard links off.
    if (exists && (!folderWritable || !canKeepOwner(st) || st.st_nlink > 1)) result = writeInPlace(target, text);
    else result = replaceWhole(target, exists ? &st : nullptr, text);
    wipeMemory(text.data(), text.size());
    return result;
}

cfgTrust cfgJudge(const std::string& path, const std::string& userFolder)
{
    cfgTrust trust;
    // The user's configuration folder and the one above it, where they are.
    const std::string own = userFolder.substr(0, userFolder.find_last_not_of('/') + 1);
    for (const std::string& folder : {folderOf(own), own}) {
        struct stat st;
        if (own.empty() || !trust.refusal.empty() || stat(folder.c_str(), &st) != 0) continue;
        const std::string name = folder.substr(0, std::max<size_t>(1, folder.find_last_not_of('/') + 1));
        if (!trustedOwner(st.st_uid)) trust.refusal = name + ": configuration folder owned by " + userName(st.st_uid);
        else if ((st.st_mode & S_IWOTH) && !(st.st_mode & S_ISVTX))
            trust.refusal = name + ": configuration folder writable by others (mode " + modeText(st.st_mode) + ")";
    }
    const auto judge = [&trust](const std::string& p, const struct stat& st) {
        if (trust.notPrivate.empty()) trust.notPrivate = privacyFault(p, st);
    };
    std::string file;
    struct stat st;
    if (!walkPath(path, judge, file, st) || !S_ISREG(st.st_mode) || !trust.refusal.empty()) return trust;
    if (st.st_mode & S_IWOTH) trust.refusal = file + ": writable by others (mode " + modeText(st.st_mode) + ")";
    else trust.refusal = cfgSizeRefusal(file, st.st_size);
    return trust;
}

// ---------------------------------------------------------------- place

namespace {

std::string environmentValue(const char* name)
{
    const char* value = name ? std::getenv(name) : nullptr;
    return value ? value : "";
}

std::string accountHome()
{
    struct passwd entry;
    std::vector<char> buffer;
    const struct passwd* found = accountOf(getuid(), entry, buffer);
    return found && found->pw_dir ? found->pw_dir : "";
}

bool somethingAt(const std::string& path)
{
    struct stat st;
    return lstat(path.c_str(), &st) == 0;
}

bool mayCreateIn(const std::string& folder)
{
    return faccessat(AT_FDCWD, folder.empty() ? "." : folder.c_str(), W_OK | X_OK, AT_EACCESS) == 0;
}

std::string runningProgramFolder()
{
    char path[PATH_MAX];
    const ssize_t n = readlink("/proc/self/exe", path, sizeof path);
    if (n <= 0 || static_cast<size_t>(n) >= sizeof path) return "";
    return folderOf(std::string(path, static_cast<size_t>(n)));
}

// The folder with every link and "." or ".." resolved; "" when it is not there.
std::string canonicalFolder(const std::string& folder)
{
    char* real = realpath(folder.empty() ? "." : folder.c_str(), nullptr);
    if (!real) return "";
    std::string result = real;
    std::free(real);
    return result;
}

// The folders that programs are installed into: the one this build installs
// into and the system's own.
bool isInstallFolder(const std::string& folder)
{
    const std::string real = canonicalFolder(folder);
    if (real.empty()) return false;
    for (const char* f : {QUOR_INSTALL_BINDIR, "/usr/bin", "/usr/local/bin", "/bin", "/usr/games"})
        if (canonicalFolder(f) == real) return true;
    return false;
}

} // namespace

const cfgPlaceSystem& cfgNativeSystem()
{
    static const cfgPlaceSystem native = [] {
        cfgPlaceSystem s;
        s.separator = '/';
        s.userVariable = "XDG_CONFIG_HOME";
        s.homeVariable = "HOME";
        s.homeSubfolder = ".config";
        s.dataVariable = "XDG_DATA_HOME";
        s.dataSubfolder = ".local/share";
        s.environment = environmentValue;
        s.accountHome = accountHome;
        s.exists = somethingAt;
        s.folderWritable = mayCreateIn;
        s.realProgramFolder = runningProgramFolder;
        s.isSystemFolder = isInstallFolder;
        return s;
    }();
    return native;
}

std::string cfgMakePrivateFolder(const std::string& folder)
{
    // From the top down, each folder that is not there yet.
    for (size_t end = folder.find('/', 1);; end = folder.find('/', end + 1)) {
        const std::string part = folder.substr(0, end);
        if (!part.empty() && part.back() != '/') {
            if (mkdir(part.c_str(), 0700) == 0) {
                (void)chmod(part.c_str(), 0700);  // whatever the umask took away
            } else if (errno != EEXIST) {
                return reasonOf(errno);
            }
        }
        if (end == std::string::npos) break;
    }
    struct stat st;
    if (stat(folder.c_str(), &st) != 0) return reasonOf(errno);
    return S_ISDIR(st.st_mode) ? "" : reasonOf(ENOTDIR);
}
