#include <fcntl.h>
#include <io.h>

#include <cerrno>
#include <cstring>

#include "net/secretfile.h"
#include "net/sutil.h"

namespace {

constexpr unsigned secretReadMax = 4096;   // what is read of a password file at most

// Reads from the C runtime's fd into buf (size bytes) until its end, a line
// end (toLineEnd) or a full buffer; the bytes read, or -1 after an error.
int readUpTo(int fd, char* buf, unsigned size, bool toLineEnd) {
    unsigned n = 0;
    while (n < size) {
        const int r = _read(fd, buf + n, size - n);
        if (r < 0) return -1;
        if (r == 0) break;
        const bool lineEnds = toLineEnd && std::memchr(buf + n, '\n', static_cast<size_t>(r));
        n += static_cast<unsigned>(r);
        if (lineEnds) break;
    }
    return static_cast<int>(n);
}

}  // namespace

// Windows keeps no mode bits that say who may read: the file is read as it is.
std::string readPasswordFile(const std::string& path, char* buf, size_t size) {
    const int fd = _open(path.c_str(), _O_RDONLY | _O_BINARY | _O_NOINHERIT);
    if (fd < 0) return "cannot read a password from " + path + ": " + std::strerror(errno);
    char data[secretReadMax];
    const int n = readUpTo(fd, data, sizeof data, true);
    const int error = errno;
    _close(fd);
    const size_t len = n > 0 ? copyFirstLine(data, static_cast<size_t>(n), buf, size) : 0;
    wipeMemory(data, sizeof data);
    if (n < 0) return "cannot read a password from " + path + ": " + std::strerror(error);
    return len > 0 ? "" : "cannot read a password from " + path;
}

void readStandardInput(char* buf, size_t size) {
    if (size == 0) return;
    _setmode(0, _O_BINARY);
    const int n = readUpTo(0, buf, static_cast<unsigned>(size - 1), false);
    buf[n > 0 ? n : 0] = 0;
}
