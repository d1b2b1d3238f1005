#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#include <windows.h>

#include <cerrno>

#include "screen/savefile.h"

// msvcrt's fopen knows no exclusive mode: the file is made with _open.
// Files under the user's profile are private to the user by inheritance.
FILE* openNewFile(const std::string& path) {
    const int fd = ::_open(path.c_str(), _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY | _O_NOINHERIT, _S_IREAD | _S_IWRITE);
    if (fd < 0) return nullptr;
    FILE* f = ::_fdopen(fd, "wb");
    if (!f) {
        const int why = errno;
        ::_close(fd);
        ::_unlink(path.c_str());
        errno = why;
    }
    return f;
}

// A folder takes new files when one can be made there; the access bits of
// Windows do not tell.
bool folderWritable(const std::string& folder) {
    const std::string dir = folder.empty() ? "." : folder;
    char name[MAX_PATH];
    if (GetTempFileNameA(dir.c_str(), "qc", 0, name) == 0) return false;
    DeleteFileA(name);
    return true;
}

char pathSeparator() { return '\\'; }
bool glyphsInFileNames() { return false; }

std::string fileTimeStamp(std::time_t when) {
    std::tm local{};
    localtime_s(&local, &when);
    char text[32];
    std::strftime(text, sizeof text, "%Y%m%d-%H%M%S", &local);
    return text;
}
