#pragma once
#include <condition_variable>
#include <cstddef>
#include <cstdio>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>

// A file written by a thread of its own through a bounded buffer: a slow
// disk holds up that thread only, and a buffer that fills is the writer's to
// answer (a recording stops). Owns the file: the thread closes it after
// what is queued is written, once finish() is called; destroying waits for
// that (finish() and finished() let an owner wait without blocking).
class queuedFile {
public:
    queuedFile(FILE* file, size_t capacity);
    ~queuedFile();
    queuedFile(const queuedFile&) = delete;
    queuedFile& operator=(const queuedFile&) = delete;

    // Queues the bytes, whole; false when they do not fit (nothing queued).
    bool write(std::string_view bytes);
    // The system's code of the first failed write; 0 while none failed.
    int failure() const;
    size_t capacity() const { return capacity_; }
    // No more writes: the thread writes what is queued and closes the file.
    void finish();
    // Whether the file is closed.
    bool finished() const;

private:
    FILE* const file_;
    const size_t capacity_;
    mutable std::mutex mutex_;
    std::condition_variable wake_;
    std::string queued_;
    size_t writing_ = 0;   // bytes taken by the thread, not yet written
    bool closing_ = false;
    bool closed_ = false;
    int failure_ = 0;
    std::thread thread_;

    void run();
};
