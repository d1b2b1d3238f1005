#include "screen/savefile.h"

#include "console/wait.h"
#include "screen/sessioncontrol.h"

#include <cerrno>
#include <cstring>

#include "console/cp437.h"

namespace {

constexpr size_t nameMax = 80;
constexpr int tries = 1000;

}  // namespace

std::string safeFileName(const std::string& text) {
    std::string out;
    for (const char ch : text) {
        const auto c = static_cast<unsigned char>(ch);
        std::string piece;
        if (c >= 0x80 && glyphsInFileNames()) {
            appendCp437(piece, c);
        } else {
            const bool unsafe =
                c <= 32 || c >= 127 || std::strchr("/\\:*?\"<>|", ch) != nullptr || (out.empty() && c == '.');
            piece = unsafe ? '_' : ch;
        }
        if (out.size() + piece.size() > nameMax) break;
        out += piece;
    }
    // A name that is only dots and blanks, or ends in one, is not kept as
    // written on Windows.
    while (!out.empty() && (out.back() == '.' || out.back() == ' ')) out.back() = '_';
    return out.empty() ? "_" : out;
}

std::string saveFolder(const saveTarget& target, std::string& error) {
    if (!target.dir.empty()) {
        errno = 0;
        if (folderWritable(target.dir)) return target.dir;
        error = "cannot write to " + target.dir + ": " + std::strerror(errno ? errno : EACCES);
        return "";
    }
    if (folderWritable("")) return ".";
    if (!target.userFolder) {
        error = "no folder to save in: the current one cannot be written";
        return "";
    }
    return target.userFolder(error);
}

std::string savedFileBase(const std::string& server, std::time_t when, long long screenId) {
    return safeFileName(server) + "-" + (screenId >= 0 ? std::to_string(screenId) + "-" : "") + fileTimeStamp(when);
}

newFiles::~newFiles() { drop(); }

void newFiles::drop() {
    for (FILE* f : files_)
        if (f) std::fclose(f);
    for (const std::string& n : names_) std::remove(n.c_str());
    files_.clear();
    names_.clear();
}

bool newFiles::create(const std::string& folder, const std::string& base, const std::vector<const char*>& extensions,
                      std::string& error) {
    drop();
    const std::string stem = folder + pathSeparator() + base;
    for (int n = 1; n <= tries; ++n) {
        const std::string candidate = n == 1 ? stem : stem + "-" + std::to_string(n);
        bool taken = false;
        for (const char* ext : extensions) {
            const std::string name = candidate + ext;
            FILE* f = openNewFile(name);
            if (!f) {
                taken = errno == EEXIST;
                if (!taken) error = "cannot create " + name + ": " + std::strerror(errno);
                break;
            }
            files_.push_back(f);
            names_.push_back(name);
        }
        if (files_.size() == extensions.size()) {
            path_ = candidate;
            return true;
        }
        drop();
        if (!taken) return false;
    }
    error = "cannot create " + stem + ": every name is taken";
    return false;
}

bool newFiles::createSaved(const saveTarget& target, const std::string& base,
                           const std::vector<const char*>& extensions, std::string& error) {
    const std::string folder = saveFolder(target, error);
    return !folder.empty() && create(folder, base, extensions, error);
}

bool newFiles::finish(std::string& error) {
    bool ok = true;
    for (size_t i = 0; i < files_.size(); ++i) {
        const bool failed = std::ferror(files_[i]) != 0;
        const int closed = std::fclose(files_[i]);
        files_[i] = nullptr;
        if (ok && (failed || closed != 0)) {
            error = "cannot write " + names_[i] + ": " + std::strerror(errno ? errno : EIO);
            ok = false;
        }
    }
    files_.clear();
    if (ok) names_.clear();   // kept: nothing to remove
    else drop();
    return ok;
}

std::string saveNewFiles(const saveTarget& target, const std::string& base,
                         const std::vector<std::pair<const char*, std::string>>& texts, std::string& error) {
    std::vector<const char*> extensions;
    for (const auto& [extension, text] : texts) extensions.push_back(extension);
    newFiles files;
    if (!files.createSaved(target, base, extensions, error)) return "";
    for (size_t i = 0; i < texts.size(); ++i) std::fwrite(texts[i].second.data(), 1, texts[i].second.size(), files.file(i));
    const std::string path = files.path();
    return files.finish(error) ? path : "";
}

void saveOffSession(sessionControl& session, std::function<std::string()> write) {
    auto handBack = session.handBack();
    if (handBack) {
        sessionControl* to = &session;
        auto job = [write, handBack, to] {
            std::string said = write();
            handBack([to, said = std::move(said)] { to->statusLine(said); });
        };
        if (runDetached(std::move(job))) return;
    }
    session.statusLine(write());
}
