// The configuration file's disk operations on Windows.
#include <windows.h>

#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "client/cfgfile.h"
#include "client/cfgplace.h"
#include "net/sutil.h"

namespace {

constexpr DWORD lockWaitMs = 5000;

std::string reasonOf(int err) { return std::strerror(err ? err : EIO); }

// The folder part of a path, through its last '\', '/' or ':', or "".
std::string folderOf(const std::string& path) { return path.substr(0, path.find_last_of("\\/:") + 1); }

// The folder's full path without a trailing separator; "" when unknown.
std::string fullFolder(const std::string& folder) {
    char full[MAX_PATH + 1];
    const DWORD n = GetFullPathNameA(folder.empty() ? "." : folder.c_str(), sizeof full, full, nullptr);
    if (n == 0 || n >= sizeof full) return "";
    std::string result(full, n);
    while (result.size() > 3 && (result.back() == '\\' || result.back() == '/')) result.pop_back();
    return result;
}

// The lock that saves and removals of leftovers of one folder take turns
// with, held for the object's life: a mutex of this logon session named
// after the folder's full path (letter case ignored). It waits a few seconds
// at most.
class folderLock {
public:
    explicit folderLock(const std::string& folder) {
        unsigned long long hash = 14695981039346656037ull;
        for (const char c : fullFolder(folder)) {
            hash ^= static_cast<unsigned char>(std::tolower(static_cast<unsigned char>(c)));
            hash *= 1099511628211ull;
        }
        std::string name = "Local\\quorcli-cfg-";
        for (int shift = 60; shift >= 0; shift -= 4) name += "0123456789abcdef"[(hash >> shift) & 15];
        mutex_ = CreateMutexA(nullptr, FALSE, name.c_str());
        const DWORD got = mutex_ ? WaitForSingleObject(mutex_, lockWaitMs) : WAIT_FAILED;
        held_ = got == WAIT_OBJECT_0 || got == WAIT_ABANDONED;
    }
    ~folderLock() {
        if (held_) ReleaseMutex(mutex_);
        if (mutex_) CloseHandle(mutex_);
    }
    folderLock(const folderLock&) = delete;
    folderLock& operator=(const folderLock&) = delete;
    bool held() const { return held_; }

private:
    HANDLE mutex_ = nullptr;
    bool held_ = false;
};

// Writes the text to the stream, flushes it and makes it durable.
bool writeDurably(FILE* f, const std::string& text) {
    if (!text.empty() && std::fwrite(text.data(), 1, text.size(), f) != text.size()) return false;
    if (std::fflush(f) != 0) return false;
    return FlushFileBuffers(reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(f)))) != 0;
}

// What the writer puts on a stream, as bytes (through a temporary file of
// the user's that goes away when closed: there is no stream in memory here).
bool render(const std::function<void(FILE*)>& writer, std::string& out) {
    char folder[MAX_PATH + 1];
    char name[MAX_PATH + 1];
    const DWORD n = GetTempPathA(sizeof folder, folder);
    if (n == 0 || n > MAX_PATH || GetTempFileNameA(folder, "qcf", 0, name) == 0) return false;
    FILE* f = std::fopen(name, "w+bTD");
    if (!f) {
        DeleteFileA(name);
        return false;
    }
    writer(f);
    bool ok = std::fflush(f) == 0 && !std::ferror(f);
    if (ok) {
        const long size = std::ftell(f);
        ok = size >= 0 && std::fseek(f, 0, SEEK_SET) == 0;
        if (ok) {
            out.resize(static_cast<size_t>(size));
            ok = out.empty() || std::fread(out.data(), 1, out.size(), f) == out.size();
        }
    }
    std::fclose(f);
    return ok;
}

// The whole content of a file, or false.
bool readAll(const std::string& path, std::string& out) {
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return false;
    char buffer[8192];
    size_t n = 0;
    out.clear();
    while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0) out.append(buffer, n);
    const bool ok = !std::ferror(f);
    std::fclose(f);
    return ok;
}

// Overwrites the file itself; when writing fails the old bytes are put back.
std::string writeInPlace(const std::string& target, const std::string& text) {
    std::string old;
    const bool haveOld = readAll(target, old);
    FILE* f = std::fopen(target.c_str(), "wb");
    if (!f) return reasonOf(errno);
    int err = 0;
    if (!writeDurably(f, text)) err = errno ? errno : EIO;
    if (err && haveOld) {
        std::rewind(f);
        (void)writeDurably(f, old);
    }
    std::fclose(f);
    wipeMemory(old.data(), old.size());
    return err ? reasonOf(err) : "";
}

// A name for the temporary file beside the target: <target>.tmp.XXXXXX.
std::string tempNameFor(const std::string& target) {
    static const char digits[] = "0123456789abcdefghijklmnopqrstuvwxyz";
    unsigned long long seed = GetTickCount64() ^ (static_cast<unsigned long long>(GetCurrentProcessId()) << 20);
    std::string name = target + cfgTempInfix;
    for (int i = 0; i < cfgTempSuffixLength; ++i) {
        seed = seed * 6364136223846793005ull + 1442695040888963407ull;
        name += digits[(seed >> 33) % 36];
    }
    return name;
}

// A file made for writing that was not there before, or null (errno says
// why). The C library of the system knows no "x" in fopen's mode: the
// exclusive create is asked for at the level below.
FILE* createNew(const std::string& name) {
    const int fd = _open(name.c_str(), _O_CREAT | _O_EXCL | _O_WRONLY | _O_BINARY, _S_IREAD | _S_IWRITE);
    if (fd < 0) return nullptr;
    FILE* f = _fdopen(fd, "wb");
    if (!f) {
        const int err = errno;
        _close(fd);
        DeleteFileA(name.c_str());
        errno = err;
    }
    return f;
}

// Writes a temporary file beside the target and moves it over the target, so
// that a failed save leaves the old file whole. Empty result on success; the
// error when no temporary file could be made is in *cannotCreate.
std::string replaceWhole(const std::string& target, const std::string& text, bool* cannotCreate) {
    *cannotCreate = false;
    std::string temp;
    FILE* f = nullptr;
    for (int attempt = 0; attempt < 8 && !f; ++attempt) {
        temp = tempNameFor(target);
        f = createNew(temp);
    }
    if (!f) {
        *cannotCreate = true;
        return reasonOf(errno);
    }
    int err = 0;
    if (!writeDurably(f, text)) err = errno ? errno : EIO;
    if (std::fclose(f) != 0 && !err) err = errno ? errno : EIO;
    if (!err && !MoveFileExA(temp.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        err = EACCES;
    if (err) {
        DeleteFileA(temp.c_str());
        return reasonOf(err);
    }
    return "";
}

}  // namespace

cfgOpenResult cfgOpenForReading(const char* path, FILE** file, std::string& reason) {
    *file = nullptr;
    reason.clear();
    const DWORD attributes = GetFileAttributesA(path);
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        const DWORD err = GetLastError();
        if (err == ERROR_FILE_NOT_FOUND || err == ERROR_PATH_NOT_FOUND) return cfgMissing;
        reason = reasonOf(EACCES);
        return cfgUnreadable;
    }
    if (attributes & FILE_ATTRIBUTE_DIRECTORY) {
        reason = reasonOf(EISDIR);
        return cfgUnreadable;
    }
    *file = std::fopen(path, "rb");
    if (!*file) {
        reason = reasonOf(errno);
        return cfgUnreadable;
    }
    return cfgOpened;
}

// Links are left to the system here: the path is used as it is.
std::string cfgResolve(const char* path) { return path ? path : ""; }

void cfgRemoveLeftovers(const char* path) {
    const std::string target = cfgResolve(path);
    const std::string folder = folderOf(target);
    const std::string name = target.substr(folder.size());
    if (name.empty()) return;
    const folderLock lock(folder);
    if (!lock.held()) return;
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((target + cfgTempInfix + "*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return;
    do {
        if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) && cfgIsTempName(found.cFileName, name))
            DeleteFileA((folder + found.cFileName).c_str());
    } while (FindNextFileA(search, &found));
    FindClose(search);
}

std::string cfgWrite(const char* path, const std::function<void(FILE*)>& writer) {
    const std::string target = cfgResolve(path);
    const DWORD attributes = GetFileAttributesA(target.c_str());
    const bool exists = attributes != INVALID_FILE_ATTRIBUTES;
    if (exists && (attributes & FILE_ATTRIBUTE_DIRECTORY)) return reasonOf(EISDIR);
    // Who made a link or junction cannot be told here without security
    // descriptors: the save does not go through one.
    if (exists && (attributes & FILE_ATTRIBUTE_REPARSE_POINT)) return "symbolic link or junction not followed";
    // A file the user may not write stays as it is.
    if (exists && (attributes & FILE_ATTRIBUTE_READONLY)) return reasonOf(EACCES);
    std::string text;
    if (!render(writer, text)) return reasonOf(errno ? errno : ENOMEM);
    bool cannotCreate = false;
    const folderLock lock(folderOf(target));   // held or not: the save goes on
    std::string result = replaceWhole(target, text, &cannotCreate);
    // No temporary file in that folder: the file itself is written.
    if (cannotCreate && exists) result = writeInPlace(target, text);
    wipeMemory(text.data(), text.size());
    return result;
}

// Owners and access rights are not looked at here (that would take security
// descriptors): every file counts as private, and only its size can make the
// program refuse it.
cfgTrust cfgJudge(const std::string& path, const std::string&) {
    cfgTrust trust;
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data) &&
        !(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
        trust.refusal = cfgSizeRefusal(path, (static_cast<long long>(data.nFileSizeHigh) << 32) | data.nFileSizeLow);
    return trust;
}

// ---------------------------------------------------------------- place

namespace {

std::string environmentValue(const char* name) {
    const char* value = name ? std::getenv(name) : nullptr;
    return value ? value : "";
}

std::string noAccountHome() { return ""; }

bool somethingAt(const std::string& path) { return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

// Whether a file can be made in the folder, found out by making one that
// goes away as soon as it is closed: access rights here are not a mode to read.
bool mayCreateIn(const std::string& folder) {
    const std::string base = (folder.empty() ? std::string(".\\") : folder) + "quorcli.probe.";
    for (int attempt = 0; attempt < 4; ++attempt) {
        const std::string name =
            base + std::to_string(GetCurrentProcessId()) + "." + std::to_string(GetTickCount64() + attempt);
        HANDLE h = CreateFileA(name.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                               FILE_ATTRIBUTE_TEMPORARY | FILE_ATTRIBUTE_HIDDEN | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
        if (h != INVALID_HANDLE_VALUE) {
            CloseHandle(h);
            return true;
        }
        if (GetLastError() != ERROR_FILE_EXISTS) return false;
    }
    return false;
}

std::string runningProgramFolder() {
    char path[MAX_PATH + 1];
    const DWORD n = GetModuleFileNameA(nullptr, path, sizeof path);
    if (n == 0 || n >= sizeof path) return "";
    return folderOf(std::string(path, n));
}

// Programs are installed in folders of their own inside "Program Files".
bool isInstallFolder(const std::string& folder) {
    const std::string f = fullFolder(folder);
    if (f.empty()) return false;
    for (const char* variable : {"ProgramFiles", "ProgramFiles(x86)", "ProgramW6432"}) {
        const std::string value = environmentValue(variable);
        if (value.empty()) continue;
        const std::string root = fullFolder(value);
        if (root.empty() || f.size() < root.size()) continue;
        if (CompareStringA(LOCALE_INVARIANT, NORM_IGNORECASE, f.c_str(), static_cast<int>(root.size()), root.c_str(),
                           static_cast<int>(root.size())) != CSTR_EQUAL)
            continue;
        if (f.size() == root.size() || f[root.size()] == '\\' || f[root.size()] == '/') return true;
    }
    return false;
}

} // namespace

const cfgPlaceSystem& cfgNativeSystem() {
    static const cfgPlaceSystem native = [] {
        cfgPlaceSystem s;
        s.separator = '\\';
        s.userVariable = "APPDATA";
        s.homeVariable = "USERPROFILE";
        s.homeSubfolder = "AppData\\Roaming";
        s.dataVariable = "LOCALAPPDATA";
        s.dataSubfolder = "AppData\\Local";
        s.environment = environmentValue;
        s.accountHome = noAccountHome;
        s.exists = somethingAt;
        s.folderWritable = mayCreateIn;
        s.realProgramFolder = runningProgramFolder;
        s.isSystemFolder = isInstallFolder;
        return s;
    }();
    return native;
}

// Folders have no modes here: the user's profile keeps them private.
std::string cfgMakePrivateFolder(const std::string& folder) {
    DWORD failure = 0;
    for (size_t end = folder.find_first_of("\\/", 1);; end = folder.find_first_of("\\/", end + 1)) {
        const std::string part = folder.substr(0, end);
        // Drive and share parts cannot be made; what the last one says counts.
        const char last = part.empty() ? '\\' : part.back();
        if (last != '\\' && last != '/' && last != ':') {
            failure = CreateDirectoryA(part.c_str(), nullptr) ? 0 : GetLastError();
            if (failure == ERROR_ALREADY_EXISTS) failure = 0;
        }
        if (end == std::string::npos) break;
    }
    const DWORD attributes = GetFileAttributesA(folder.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES) return (attributes & FILE_ATTRIBUTE_DIRECTORY) ? "" : reasonOf(ENOTDIR);
    return reasonOf(failure == ERROR_ACCESS_DENIED ? EACCES : ENOENT);
}
