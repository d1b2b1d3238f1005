#pragma once
#include <cstdio>
#include <ctime>
#include <functional>
#include <string>
#include <utility>
#include <vector>

// Where saved screens, histories and recordings go, and how their files are
// made: new files only, readable by their owner alone, since screens can
// show secrets.

// The folder the operator named for them (--save-dir; empty: none), and
// how to find the user's own data folder (made, owner only, when missing),
// which takes them when the current folder may not be written: its path,
// or "" with why in error.
struct saveTarget {
    std::string dir;
    std::function<std::string(std::string& error)> userFolder;
};

// The folder for new files: target.dir when given; otherwise the current
// folder when it may be written; otherwise the user's data folder. Empty,
// with why in error, when none can be used.
std::string saveFolder(const saveTarget& target, std::string& error);

// A description (code page 437) made safe as part of a file name on either
// system: characters that a file name cannot hold there (separators, drive
// colons, wildcards, quotes, controls) become '_', and so does a leading
// dot; bytes from 0x80 up become their glyphs (UTF-8) where the system takes
// them, else '_'; at most 80 bytes, never a glyph cut.
std::string safeFileName(const std::string& text);

// Local time as YYYYMMDD-HHMMSS.
std::string fileTimeStamp(std::time_t when);

// The name a saved file of a server's screen begins with:
// <server>-<screen id>-<time>, or <server>-<time> without an id (-1).
std::string savedFileBase(const std::string& server, std::time_t when, long long screenId = -1);

// Files that are made together under one name (a screenshot's .txt and
// .html): all or none. Closes what it holds.
class newFiles {
public:
    newFiles() = default;
    ~newFiles();
    newFiles(const newFiles&) = delete;
    newFiles& operator=(const newFiles&) = delete;

    // Creates folder/base + each extension, never over an existing file:
    // base-2, base-3, ... until every name is free. False, with why in
    // error, when they cannot be made.
    bool create(const std::string& folder, const std::string& base, const std::vector<const char*>& extensions,
                std::string& error);
    // The same in the save folder of target.
    bool createSaved(const saveTarget& target, const std::string& base, const std::vector<const char*>& extensions,
                     std::string& error);
    FILE* file(size_t i) const { return i < files_.size() ? files_[i] : nullptr; }
    // The chosen path without extension.
    const std::string& path() const { return path_; }
    // Gives the files up to the caller, who closes them.
    void release() {
        files_.clear();
        names_.clear();
    }
    // Closes every file; false, with why in error, when one could not be
    // written completely (then all are removed).
    bool finish(std::string& error);

private:
    std::vector<FILE*> files_;
    std::vector<std::string> names_;
    std::string path_;
    void drop();
};

// Writes each text as a new file base + its extension in the save folder,
// all or none: the path without extension, or "" with why in error.
std::string saveNewFiles(const saveTarget& target, const std::string& base,
                         const std::vector<std::pair<const char*, std::string>>& texts, std::string& error);

// The platform's part.
// A new file opened for writing, made for its owner only and never through
// a link; null when the name exists or cannot be made (errno says why).
FILE* openNewFile(const std::string& path);
// Whether a folder can take new files ("" is the current folder).
bool folderWritable(const std::string& folder);
char pathSeparator();
// Whether file names may hold UTF-8 glyphs (the Windows build names files
// through the ANSI code page, which has not all of them).
bool glyphsInFileNames();

class sessionControl;
// Writes a file the operator asked for (write returns what to say of it) on
// a thread of its own, so that a slow disk holds up that thread and never
// the session; what write says comes to the session's status row when it is
// done. Where the session cannot take work back, or no thread can be had,
// it is written at once.
void saveOffSession(sessionControl& session, std::function<std::string()> write);
