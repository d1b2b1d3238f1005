#include "screen/savefile.h"

#include <cerrno>
#include <cstring>

#include "client/cfgplace.h"
#include "console/cp437.h"
#include "console/global.h"

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
                c < 32 || c >= 127 || std::strchr("/\\:*?\"<>|", ch) != nullptr || (out.empty() && c == '.');
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

std::string saveFolder(std::string& error) {
    if (saveDir && *saveDir) {
        if (folderWritable(saveDir)) return saveDir;
        error = std::string("cannot write to ") + saveDir;
        return "";
    }
    if (folderWritable("")) return ".";
    return userDataFolder(error);
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

std::string userDataFolder(std::string& error) {
    const cfgPlaceSystem& sys = cfgNativeSystem();
    const char sep = pathSeparator();
    const auto absolute = [&](const std::string& p) {
        return !p.empty() && (p[0] == '/' || p[0] == '\\' || (p.size() > 2 && p[1] == ':'));
    };
    std::string base = sys.environment(dataFolderVariable());
    if (!absolute(base)) {
        std::string home = sys.environment(sys.homeVariable ? sys.homeVariable : "");
        if (!absolute(home) && sys.accountHome) home = sys.accountHome();
        if (!absolute(home)) {
            error = "no folder to save in: the current one cannot be written and no home is known";
            return "";
        }
        base = home + sep + dataFolderInHome();
    }
    const std::string folder = base + sep + "quorcli";
    const std::string why = cfgMakePrivateFolder(folder);
    if (!why.empty()) {
        error = "cannot make " + folder + ": " + why;
        return "";
    }
    return folder;
}
