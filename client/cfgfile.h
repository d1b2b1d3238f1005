#pragma once
// The configuration file on disk: the file operations that differ between
// platforms, one implementation file per platform. The format itself is in
// config.cpp.
#include <cstdio>
#include <functional>
#include <string>

// Temporary files of a save are named "<name>.tmp." and six letters or digits.
inline constexpr char cfgTempInfix[] = ".tmp.";
inline constexpr int cfgTempSuffixLength = 6;

// True when entry is the name of such a temporary file for the file name.
inline bool cfgIsTempName(const char* entry, const std::string& name)
{
    const std::string prefix = name + cfgTempInfix;
    if (name.empty() || std::string(entry).compare(0, prefix.size(), prefix) != 0) return false;
    const char* rest = entry + prefix.size();
    int n = 0;
    for (; rest[n]; ++n) {
        const char c = rest[n];
        if (!((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9'))) return false;
    }
    return n == cfgTempSuffixLength;
}

// How opening the configuration for reading went.
enum cfgOpenResult { cfgOpened, cfgMissing, cfgUnreadable };

// Opens the configuration at path for reading in binary mode (*file is set
// only when cfgOpened). cfgMissing: no such file, also when path is a
// symbolic link whose target does not exist yet. cfgUnreadable: something is
// there but cannot be read as a file (permissions, not a regular file);
// reason then says why.
cfgOpenResult cfgOpenForReading(const char* path, FILE** file, std::string& reason);

// Where path leads: path itself, or the end of its chain of symbolic links,
// each resolved against its link's folder, also when that end does not
// exist yet.
std::string cfgResolve(const char* path);

// Removes the temporary files that interrupted saves of this configuration
// left beside it: this user's regular files with the temporary file's name
// pattern.
void cfgRemoveLeftovers(const char* path);

// Writes the configuration at path: writer puts the whole text on the stream
// it is given. Returns "" or why the file could not be written; the old file
// then stays as it was. A file that may not be written is left alone; one
// whose folder may not be written, or whose owner a replacement could not
// keep, is written in place.
std::string cfgWrite(const char* path, const std::function<void(FILE*)>& writer);
