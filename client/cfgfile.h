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

// A configuration file larger than this is not read.
inline constexpr long long cfgMaxBytes = 16LL * 1024 * 1024;

// The refusal of a file of this size ("<path>: <reason>"), or "".
inline std::string cfgSizeRefusal(const std::string& path, long long size)
{
    return size > cfgMaxBytes ? path + ": larger than 16 MB" : "";
}

// What the configuration at a path may be trusted with.
struct cfgTrust {
    // "<path>: <reason>" when the program must not use it at all: others may
    // write the file or the user's configuration folder, that folder belongs
    // to another user, or the file is too large. "" when it may be used.
    std::string refusal;
    // "<path>: <reason>" naming the first folder, link or file on the way to
    // the file that another user owns or that others may write; "" when the
    // file is private, and so may start the commands of its tunnel entries.
    std::string notPrivate;
};

// A file is private when it and every folder and link on the way to it
// belong to this user or root, and neither their group nor others may write
// the file or the folders (a folder with the sticky bit, as /tmp, excepted).
// Judges the configuration at path (through its symbolic links) and, when
// it lives there, the user's configuration folder userFolder and the folder
// above it ("" when the file is elsewhere). Looks only at what the system
// says of them: nothing is opened, made or changed.
cfgTrust cfgJudge(const std::string& path, const std::string& userFolder);

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
// pattern. It takes turns with saves through an advisory lock of the folder,
// so that a save going on meanwhile keeps its temporary file; when the lock
// is not had within a few seconds nothing is removed.
void cfgRemoveLeftovers(const char* path);

// Writes the configuration at path: writer puts the whole text on the stream
// it is given. Returns "" or why the file could not be written; the old file
// then stays as it was. A file that may not be written is left alone; one
// whose folder may not be written, or whose owner a replacement could not
// keep, is written in place. A symbolic link at path is followed only when
// this user or root owns it and it lies in a private folder. The save holds
// the folder's advisory lock; after a few seconds without it, it goes on.
std::string cfgWrite(const char* path, const std::function<void(FILE*)>& writer);
