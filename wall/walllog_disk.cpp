// The writer thread's side of the log folder writer: the files of each
// console, their days and their limit. Everything here runs on that thread.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <ctime>

#include "console/cp437.h"
#include "screen/formats.h"
#include "wall/walllog.h"

namespace {

constexpr int castNamesMax = 100;   // YYYY-MM-DD.cast, -2.cast, ... a day
constexpr size_t screenFilesMax = 64;   // history files a day

// Whether a file name is one of the log's: a date, then ".cast", "-N.cast"
// or "-screen-N.txt".
bool logFileName(std::string_view name) {
    if (name.size() < 14) return false;
    for (size_t i = 0; i < 10; ++i)
        if ((i == 4 || i == 7) ? name[i] != '-' : (name[i] < '0' || name[i] > '9')) return false;
    return (name[10] == '.' || name[10] == '-') && (name.ends_with(".cast") || name.ends_with(".txt"));
}

// Opens a file of the log for appending (a new one when fresh): a regular
// file, the owner's alone, never through a link. -1 with errno when not.
int openLogFile(int dir, const std::string& name, bool fresh) {
    const int fd = ::openat(dir, name.c_str(),
                            O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK | (fresh ? O_EXCL : 0),
                            0600);
    if (fd < 0) return -1;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        errno = EINVAL;
        return -1;
    }
    if ((st.st_mode & 077) && ::fchmod(fd, 0600) != 0) {
        const int why = errno;
        ::close(fd);
        errno = why;
        return -1;
    }
    return fd;
}

// Calls f(name) for each of the log's regular files in dir.
template <class F>
void eachLogFile(int dir, F f) {
    const int copy = ::dup(dir);
    DIR* d = copy >= 0 ? ::fdopendir(copy) : nullptr;
    if (!d) {
        if (copy >= 0) ::close(copy);
        return;
    }
    ::rewinddir(d);
    while (const dirent* entry = ::readdir(d)) {
        struct stat st {};
        if (logFileName(entry->d_name) && ::fstatat(dir, entry->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0 &&
            S_ISREG(st.st_mode))
            f(std::string(entry->d_name), static_cast<long long>(st.st_size));
    }
    ::closedir(d);
}

bool writeAll(int fd, const std::string& data) {
    size_t done = 0;
    while (done < data.size()) {
        const ssize_t n = ::write(fd, data.data() + done, data.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            if (n == 0) errno = EIO;
            return false;
        }
        done += static_cast<size_t>(n);
    }
    return true;
}

void closeFd(int& fd) {
    if (fd >= 0) ::close(fd);
    fd = -1;
}

}  // namespace

const std::string& wallLog::dayOf(timePoint at) {
    if (!day_.empty() && at >= dayFrom_ && at < dayTo_) return day_;
    const std::time_t t = std::chrono::system_clock::to_time_t(at);
    std::tm local{};
    ::localtime_r(&t, &local);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%d", &local);
    day_ = text;
    std::tm from = local;
    from.tm_hour = from.tm_min = from.tm_sec = 0;
    from.tm_isdst = -1;
    std::tm to = from;
    ++to.tm_mday;
    dayFrom_ = std::chrono::system_clock::from_time_t(std::mktime(&from));
    dayTo_ = std::chrono::system_clock::from_time_t(std::mktime(&to));
    return day_;
}

std::string wallLog::path(const consoleLog& c, const std::string& file) const {
    return options_.dir + "/" + c.name + (file.empty() ? "" : "/" + file);
}

void wallLog::apply(consoleLog& c, const event& e) {
    const std::string& day = dayOf(e.at);
    if (day != c.day) newDay(c, day);
    // The model follows every event, stopped or not: a new day's recording
    // starts from the screen as it stands.
    remoteScreen& m = c.model;
    switch (e.what) {
    case event::kind::started:
    case event::kind::resumed:
    case event::kind::resync:
        std::memcpy(m.cells, e.cells.data(), sizeof m.cells);
        m.screenId = e.screenId;
        m.screenName = e.text;
        c.live = true;
        break;
    case event::kind::changed:
        for (int r = 0, at = 0; r < screenRows; ++r)
            if (e.rows & (1u << r)) std::memcpy(m.cells[r], &e.cells[screenCols * at++], sizeof m.cells[r]);
        break;
    case event::kind::shown:
        m.screenId = e.screenId;
        m.screenName = e.text;
        break;
    case event::kind::ended: c.live = false; break;
    case event::kind::scrolled: break;
    }
    if (e.what == event::kind::started || e.what == event::kind::resumed || e.what == event::kind::resync || e.what == event::kind::changed) {
        m.cursorX = e.x;
        m.cursorY = e.y;
    }
    if (c.stopped) return;
    switch (e.what) {
    case event::kind::scrolled: history(c, e); break;
    case event::kind::ended:
        if (c.cast >= 0) record(c, e.at, 'm', e.text);
        break;
    case event::kind::shown:
        if (c.cast >= 0 && c.drawn) record(c, e.at, 'm', "screen " + std::to_string(m.screenId) + ": " + cp437Text(m.screenName));
        else if (c.live) drawAll(c, e.at);
        break;
    case event::kind::resync:
        if (c.cast >= 0) record(c, e.at, 'm', "log resumed: changes were lost while the disk did not keep up");
        [[fallthrough]];
    default:
        if (!c.drawn) {
            drawAll(c, e.at);
        } else {
            const std::string out = wallDrawChanges(c.shown, m, e.what == event::kind::changed ? e.rows : wallAllRows);
            if (!out.empty()) record(c, e.at, 'o', out);
        }
    }
}

void wallLog::newDay(consoleLog& c, const std::string& day) {
    closeFd(c.cast);
    closeFd(c.txt);
    c.day = day;
    c.stopped = false;
    c.diskNote.clear();
    c.drawn = false;
    c.screens.clear();
}

bool wallLog::openFolder(consoleLog& c) {
    if (c.dir >= 0) return true;
    if (::mkdirat(root_, c.name.c_str(), 0700) != 0 && errno != EEXIST) {
        stop(c, "log stopped: cannot make " + path(c, "") + ": " + std::strerror(errno));
        return false;
    }
    const int fd = ::openat(root_, c.name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    struct stat st {};
    if (fd < 0 || ::fstat(fd, &st) != 0 || ((st.st_mode & 077) && ::fchmod(fd, 0700) != 0)) {
        stop(c, "log stopped: cannot open " + path(c, "") + ": " + std::strerror(errno));
        if (fd >= 0) ::close(fd);
        return false;
    }
    c.dir = fd;
    // What earlier runs left counts against the limit.
    c.days.clear();
    c.total = 0;
    eachLogFile(fd, [&](const std::string& name, long long size) {
        c.days[name.substr(0, 10)] += size;
        c.total += size;
    });
    return true;
}

// Opens today's recording, made new, with its header; false when the log
// cannot.
bool wallLog::openCast(consoleLog& c, timePoint at) {
    if (c.cast >= 0) return true;
    if (!openFolder(c)) return false;
    for (int n = 1; n <= castNamesMax && c.cast < 0; ++n) {
        const std::string name = c.day + (n > 1 ? "-" + std::to_string(n) : "") + ".cast";
        c.cast = openLogFile(c.dir, name, true);
        if (c.cast < 0 && errno != EEXIST) {
            stop(c, "log stopped: cannot make " + path(c, name) + ": " + std::strerror(errno));
            return false;
        }
        c.castName = name;
    }
    if (c.cast < 0) {
        stop(c, "log stopped: every name for today's recording is taken in " + path(c, ""));
        return false;
    }
    c.castStart = at;
    c.lastSeconds = 0;
    c.drawn = false;
    const long long stamp = std::chrono::duration_cast<std::chrono::seconds>(at.time_since_epoch()).count();
    return put(c, c.cast, c.castName, wallCastHeader(c.description, stamp) + "\n");
}

void wallLog::record(consoleLog& c, timePoint at, char type, const std::string& data) {
    double seconds = std::chrono::duration<double>(at - c.castStart).count();
    if (seconds < c.lastSeconds) seconds = c.lastSeconds;   // the clock went back
    c.lastSeconds = seconds;
    put(c, c.cast, c.castName, wallCastEvent(seconds, type, data));
}

// The whole screen, as the first thing of a recording (and its screen).
void wallLog::drawAll(consoleLog& c, timePoint at) {
    if (!c.live || !openCast(c, at)) return;
    c.shown = wallTerminal{};
    c.drawn = true;
    if (c.model.screenId)
        record(c, at, 'm', "screen " + std::to_string(c.model.screenId) + ": " + cp437Text(c.model.screenName));
    record(c, at, 'o', "\x1b[0m\x1b[2J" + wallDrawChanges(c.shown, c.model, wallAllRows, true));
}

void wallLog::history(consoleLog& c, const event& e) {
    if (!openFolder(c)) return;
    // A server may name any number of screens: past screenFilesMax in a
    // day, the lines of the others share one file.
    if (c.screens.size() < screenFilesMax) c.screens.insert(e.screenId);
    const std::string name =
        c.day + "-screen-" + (c.screens.count(e.screenId) ? std::to_string(e.screenId) : "other") + ".txt";
    if (c.txt < 0 || c.txtName != name) {
        closeFd(c.txt);
        c.txtName = name;
        c.txt = openLogFile(c.dir, name, false);
        if (c.txt < 0) {
            stop(c, "log stopped: cannot open " + path(c, name) + ": " + std::strerror(errno));
            return;
        }
    }
    std::string text;
    for (uint32_t i = 0; i < e.rows; ++i) text += lineText(&e.cells[screenCols * i]) + "\n";
    put(c, c.txt, c.txtName, text);
}

// Writes data whole, within the limit; false, and the log stopped for the
// day, when it cannot.
bool wallLog::put(consoleLog& c, int fd, const std::string& name, const std::string& data) {
    if (c.stopped || fd < 0) return false;
    const long long n = static_cast<long long>(data.size());
    const long long limit = options_.limitBytes;
    if (c.days[c.day] + n > limit) {
        stop(c, "log stopped until tomorrow: today's files reached " +
                    (limit % 1000000 ? std::to_string(limit) + " bytes" : std::to_string(limit / 1000000) + " MB") +
                    " (--log-limit)");
        return false;
    }
    while (c.total + n > limit && removeOldestDay(c)) {}
    if (!writeAll(fd, data)) {
        stop(c, "log stopped: cannot write " + path(c, name) + ": " + std::strerror(errno));
        return false;
    }
    c.days[c.day] += n;
    c.total += n;
    return true;
}

bool wallLog::removeOldestDay(consoleLog& c) {
    auto oldest = c.days.begin();
    if (oldest != c.days.end() && oldest->first == c.day) ++oldest;   // today's stop at the limit instead
    if (oldest == c.days.end()) return false;
    const std::string day = oldest->first;
    eachLogFile(c.dir, [&](const std::string& name, long long) {
        if (name.compare(0, 10, day) == 0) ::unlinkat(c.dir, name.c_str(), 0);
    });
    c.total -= oldest->second;
    c.days.erase(oldest);
    return true;
}

void wallLog::stop(consoleLog& c, std::string why) {
    c.stopped = true;
    c.diskNote = std::move(why);
    closeFd(c.cast);
    closeFd(c.txt);
    c.drawn = false;
}
