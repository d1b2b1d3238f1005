#include "record/queuedfile.h"

#include <cerrno>

queuedFile::queuedFile(FILE* file, size_t capacity) : file_(file), capacity_(capacity), thread_([this] { run(); }) {}

queuedFile::~queuedFile() {
    finish();
    thread_.join();
}

void queuedFile::finish() {
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        closing_ = true;
    }
    wake_.notify_one();
}

bool queuedFile::finished() const {
    const std::lock_guard<std::mutex> lock(mutex_);
    return closed_;
}

bool queuedFile::write(std::string_view bytes) {
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        if (queued_.size() + writing_ + bytes.size() > capacity_) return false;
        if (failure_ == 0) queued_.append(bytes);
    }
    wake_.notify_one();
    return true;
}

int queuedFile::failure() const {
    const std::lock_guard<std::mutex> lock(mutex_);
    return failure_;
}

// Takes what is queued, all of it, and writes it out of the lock; after a
// failure nothing more is written. Closes the file at the end.
void queuedFile::run() {
    std::string taking;
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        wake_.wait(lock, [this] { return closing_ || !queued_.empty(); });
        if (queued_.empty()) break;
        taking.swap(queued_);
        queued_.clear();
        writing_ = taking.size();
        lock.unlock();
        errno = 0;
        const bool written =
            std::fwrite(taking.data(), 1, taking.size(), file_) == taking.size() && std::fflush(file_) == 0;
        const int error = errno ? errno : EIO;
        lock.lock();
        writing_ = 0;
        if (!written && failure_ == 0) failure_ = error;
    }
    lock.unlock();
    std::fclose(file_);
    lock.lock();
    closed_ = true;
}
