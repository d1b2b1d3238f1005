#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "screen/savefile.h"

FILE* openNewFile(const std::string& path) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) return nullptr;
    FILE* f = ::fdopen(fd, "wb");
    if (!f) {
        const int why = errno;
        ::close(fd);
        ::unlink(path.c_str());
        errno = why;
    }
    return f;
}

bool folderWritable(const std::string& folder) {
    const char* path = folder.empty() ? "." : folder.c_str();
    struct stat st{};
    if (::stat(path, &st) == 0 && !S_ISDIR(st.st_mode)) {
        errno = ENOTDIR;   // the reason said, rather than the access bits of a file
        return false;
    }
    return ::access(path, W_OK | X_OK) == 0;
}

char pathSeparator() { return '/'; }
bool glyphsInFileNames() { return true; }

std::string fileTimeStamp(std::time_t when) {
    std::tm local{};
    localtime_r(&when, &local);
    char text[32];
    std::strftime(text, sizeof text, "%Y%m%d-%H%M%S", &local);
    return text;
}
