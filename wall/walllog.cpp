// The sessions' side of the log folder writer: each call becomes an event
// on a bounded queue, which the writer thread (walllog_disk.cpp) takes.
#include "wall/walllog.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <algorithm>
#include <cstring>

#include "screen/savefile.h"

std::unique_ptr<wallLog> wallLog::open(wallLogOptions options, std::string& error) {
    if (options.dir.empty()) {
        error = "no folder given";
        return nullptr;
    }
    if (::mkdir(options.dir.c_str(), 0700) != 0 && errno != EEXIST) {
        error = "cannot make " + options.dir + ": " + std::strerror(errno);
        return nullptr;
    }
    const int root = ::open(options.dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (root < 0) {
        error = "cannot open " + options.dir + ": " + std::strerror(errno);
        return nullptr;
    }
    return std::unique_ptr<wallLog>(new wallLog(std::move(options), root));
}

wallLog::wallLog(wallLogOptions options, int root) : options_(std::move(options)), root_(root) {
    writer_ = std::thread([this] { run(); });
}

wallLog::~wallLog() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
    }
    queued_.notify_all();
    writer_.join();
    for (consoleLog& c : consoles_)
        for (const int fd : {c.txt, c.cast, c.dir})
            if (fd >= 0) ::close(fd);
    ::close(root_);
}

int wallLog::add(std::string_view description) {
    std::lock_guard<std::mutex> lock(mutex_);
    const std::string base = safeFileName(std::string(description));
    std::string name = base;
    for (int n = 2;; ++n) {
        bool taken = false;
        for (const consoleLog& c : consoles_) taken = taken || c.name == name;
        if (!taken) break;
        name = base + "-" + std::to_string(n);
    }
    consoleLog& c = consoles_.emplace_back();
    c.index = static_cast<int>(consoles_.size()) - 1;
    c.description = std::string(description.substr(0, 256));
    c.name = name;
    return c.index;
}

std::string wallLog::folder(int index) const {
    std::lock_guard<std::mutex> lock(mutex_);
    if (index < 0 || static_cast<size_t>(index) >= consoles_.size()) return "";
    return options_.dir + "/" + consoles_[index].name;
}

std::string wallLog::noteOf(const consoleLog& c) const {
    return c.paused ? "log paused: the disk does not keep up" : c.writerNote;
}

// Tells the notes that changed, outside the lock.
void wallLog::tell(std::vector<std::pair<int, std::string>>& notes) {
    if (options_.noted)
        for (const auto& [index, note] : notes) options_.noted(index, note);
    notes.clear();
}

// Queues e for c. A console whose queue is full drops events until the
// writer has taken all it had; then a screen (the call's, when it has one)
// draws it all again.
void wallLog::push(consoleLog& c, event e, const remoteScreen* screen) {
    std::vector<std::pair<int, std::string>> notes;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (c.paused) {
            if (c.pending > 0 || !screen) return;
            c.paused = false;
            e = event(&c, event::kind::resync, e.at);
            e.x = screen->cursorX;
            e.y = screen->cursorY;
            e.screenId = screen->screenId;
            e.text = screen->screenName.substr(0, 256);
            e.cells.assign(&screen->cells[0][0], &screen->cells[0][0] + screenRows * screenCols);
        } else if (c.pending > 0 && c.pending + e.cost() > options_.bufferBytes) {
            c.paused = true;
        }
        if (!c.paused) {
            c.pending += e.cost();
            queue_.push_back(std::move(e));
            queued_.notify_one();
        }
        if (noteOf(c) != c.said) notes.emplace_back(c.index, c.said = noteOf(c));
    }
    tell(notes);
}

namespace {

void copyRows(std::vector<uint16_t>& out, const remoteScreen& screen, uint32_t rows) {
    for (int r = 0; r < screenRows; ++r)
        if (rows & (1u << r)) out.insert(out.end(), screen.cells[r], screen.cells[r] + screenCols);
}

}  // namespace

wallLog::consoleLog* wallLog::find(int index) {
    std::lock_guard<std::mutex> lock(mutex_);
    return index >= 0 && static_cast<size_t>(index) < consoles_.size() ? &consoles_[index] : nullptr;
}

void wallLog::sessionStarted(int index, const remoteScreen& screen, bool resumed) {
    consoleLog* const to = find(index);
    if (!to) return;
    consoleLog& c = *to;
    event e(&c, resumed ? event::kind::resumed : event::kind::started, options_.now());
    e.rows = wallAllRows;
    e.x = screen.cursorX;
    e.y = screen.cursorY;
    e.screenId = screen.screenId;
    e.text = screen.screenName.substr(0, 256);
    copyRows(e.cells, screen, wallAllRows);
    push(c, std::move(e), &screen);
}

void wallLog::rowsChanged(int index, const remoteScreen& screen, uint32_t rows) {
    consoleLog* const to = find(index);
    if (!to) return;
    consoleLog& c = *to;
    event e(&c, event::kind::changed, options_.now());
    e.rows = rows & wallAllRows;
    e.x = screen.cursorX;
    e.y = screen.cursorY;
    copyRows(e.cells, screen, e.rows);
    push(c, std::move(e), &screen);
}

void wallLog::screenShown(int index, const remoteScreen& screen) {
    consoleLog* const to = find(index);
    if (!to) return;
    consoleLog& c = *to;
    event e(&c, event::kind::shown, options_.now());
    e.screenId = screen.screenId;
    e.text = screen.screenName.substr(0, 256);
    push(c, std::move(e), &screen);
}

void wallLog::linesScrolled(int index, uint32_t screenId, const uint16_t (*lines)[screenCols], size_t count) {
    consoleLog* const to = find(index);
    if (!to) return;
    consoleLog& c = *to;
    if (!lines || count == 0) return;
    count = std::min<size_t>(count, screenRows);   // what one update can scroll off
    event e(&c, event::kind::scrolled, options_.now());
    e.rows = static_cast<uint32_t>(count);
    e.screenId = screenId;
    e.cells.assign(&lines[0][0], &lines[0][0] + count * screenCols);
    push(c, std::move(e), nullptr);
}

void wallLog::sessionEnded(int index, std::string_view why) {
    consoleLog* const to = find(index);
    if (!to) return;
    consoleLog& c = *to;
    event e(&c, event::kind::ended, options_.now());
    e.text = std::string(why.substr(0, 256));
    push(c, std::move(e), nullptr);
}

std::string wallLog::note(int index) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (index < 0 || static_cast<size_t>(index) >= consoles_.size()) return "";
    return noteOf(consoles_[index]);
}

void wallLog::flush() {
    std::unique_lock<std::mutex> lock(mutex_);
    idle_.wait(lock, [&] { return queue_.empty() && !busy_; });
}

void wallLog::run() {
    std::vector<std::pair<int, std::string>> notes;
    for (;;) {
        std::deque<event> batch;
        {
            std::unique_lock<std::mutex> lock(mutex_);
            queued_.wait(lock, [&] { return stopping_ || !queue_.empty(); });
            if (queue_.empty()) return;
            batch.swap(queue_);
            busy_ = true;
        }
        for (const event& e : batch) apply(*e.to, e);
        {
            std::lock_guard<std::mutex> lock(mutex_);
            for (const event& e : batch) {
                consoleLog& c = *e.to;
                c.pending -= e.cost();
                c.writerNote = c.diskNote;
                if (noteOf(c) != c.said) notes.emplace_back(c.index, c.said = noteOf(c));
            }
            busy_ = false;
        }
        tell(notes);
        idle_.notify_all();
    }
}
