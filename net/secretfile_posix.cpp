#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "net/secretfile.h"
#include "net/sutil.h"

namespace {

constexpr size_t secretReadMax = 4096;   // what is read of a password file at most

// Reads from fd into buf (size bytes) until its end, a line end (toLineEnd)
// or a full buffer; the bytes read, or -1 after an error.
ssize_t readUpTo(int fd, char* buf, size_t size, bool toLineEnd) {
    size_t n = 0;
    while (n < size) {
        const ssize_t r = read(fd, buf + n, size - n);
        if (r < 0 && errno == EINTR) continue;
        if (r < 0) return -1;
        if (r == 0) break;
        const bool lineEnds = toLineEnd && std::memchr(buf + n, '\n', static_cast<size_t>(r));
        n += static_cast<size_t>(r);
        if (lineEnds) break;
    }
    return static_cast<ssize_t>(n);
}

}  // namespace

std::string readPasswordFile(const std::string& path, char* buf, size_t size) {
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) return "cannot read a password from " + path + ": " + std::strerror(errno);
    struct stat st{};
    if (fstat(fd, &st) == 0 && (st.st_mode & (S_IRGRP | S_IROTH))) {
        close(fd);
        char mode[8];
        std::snprintf(mode, sizeof mode, "%04o", static_cast<unsigned>(st.st_mode & 07777));
        return path + ": group or others may read it (mode " + mode + "); make it private (chmod 600)";
    }
    char data[secretReadMax];
    const ssize_t n = readUpTo(fd, data, sizeof data, true);
    const int error = errno;
    close(fd);
    const size_t len = n > 0 ? copyFirstLine(data, static_cast<size_t>(n), buf, size) : 0;
    wipeMemory(data, sizeof data);
    if (n < 0) return "cannot read a password from " + path + ": " + std::strerror(error);
    return len > 0 ? "" : "cannot read a password from " + path;
}

void readStandardInput(char* buf, size_t size) {
    if (size == 0) return;
    const ssize_t n = readUpTo(0, buf, size - 1, false);
    buf[n > 0 ? n : 0] = 0;
}
