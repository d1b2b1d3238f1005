#include "client/cfgplace.h"

#include <cctype>

namespace {

constexpr char programName[] = "quorcli";

bool isSeparator(char c, const cfgPlaceSystem& s) { return c == s.separator || c == '/'; }

// An absolute path: "/..." where '/' separates, "X:\..." or "\\..." where '\' does.
bool isAbsolute(const std::string& p, const cfgPlaceSystem& s)
{
    if (s.separator == '/') return !p.empty() && p[0] == '/';
    if (p.size() >= 3 && std::isalpha(static_cast<unsigned char>(p[0])) && p[1] == ':' && isSeparator(p[2], s))
        return true;
    return p.size() >= 2 && isSeparator(p[0], s) && isSeparator(p[1], s);
}

std::string withSeparator(std::string folder, const cfgPlaceSystem& s)
{
    if (!folder.empty() && !isSeparator(folder.back(), s)) folder += s.separator;
    return folder;
}

// The user's configuration folder of this program, with its trailing
// separator; "" when no absolute place for it is known.
std::string userConfigFolder(const cfgPlaceSystem& s)
{
    std::string base = s.environment(s.userVariable);
    if (!isAbsolute(base, s)) {
        std::string home = s.homeVariable ? s.environment(s.homeVariable) : "";
        if (!isAbsolute(home, s)) home = s.accountHome();
        if (!isAbsolute(home, s)) return "";
        base = withSeparator(home, s) + s.homeSubfolder;
    }
    return withSeparator(base, s) + programName + s.separator;
}

// The folder above this one, both with their trailing separator; "" at the top.
std::string parentFolder(const std::string& folder, const cfgPlaceSystem& s)
{
    size_t end = folder.size();
    while (end > 0 && isSeparator(folder[end - 1], s)) --end;
    while (end > 0 && !isSeparator(folder[end - 1], s)) --end;
    return folder.substr(0, end);
}

// The folder is there, or the nearest folder above it that is there may be
// written, so that it can be made.
bool canBeMade(const std::string& folder, const cfgPlaceSystem& s)
{
    if (s.exists(folder)) return true;
    for (std::string f = parentFolder(folder, s); !f.empty(); f = parentFolder(f, s))
        if (s.exists(f)) return s.folderWritable(f);
    return false;
}

} // namespace

cfgPlace cfgChoosePlace(const char* configOption, const char* programFolder, const char* fileName,
                        const cfgPlaceSystem& s)
{
    if (configOption && *configOption) return {configOption, "", ""};
    const std::string folder = programFolder ? programFolder : "";
    const std::string beside = folder + (fileName ? fileName : "");
    if (s.exists(beside)) return {beside, "", ""};

    // A folder that installed programs live in never counts as writable, so
    // that root does not leave its configuration there. Started by its bare
    // name, the program is looked at where it really is too: one installed
    // there and found through the search path keeps its configuration with
    // the user, not in whatever folder is current.
    bool installed = s.isSystemFolder(folder);
    if (folder.empty() && !installed) {
        const std::string real = s.realProgramFolder();
        installed = !real.empty() && s.isSystemFolder(real);
    }
    if (!installed && s.folderWritable(folder)) return {beside, "", ""};

    const std::string user = userConfigFolder(s);
    // Nowhere better: beside the program, where a save succeeds only when
    // the folder may be written after all (root and a system folder).
    if (user.empty()) {
        if (s.folderWritable(folder)) return {beside, "", ""};
        return {beside, "", "no home folder is known and " + (folder.empty() ? std::string("the current folder") : folder) +
                                " may not be written"};
    }
    return {user + (fileName ? fileName : ""), user, canBeMade(user, s) ? "" : user + " cannot be made"};
}

std::string cfgUserDataFolder(std::string& error)
{
    const cfgPlaceSystem& sys = cfgNativeSystem();
    const char sep = sys.separator;
    const auto absolute = [&](const std::string& p) {
        return !p.empty() && (p[0] == '/' || p[0] == '\\' || (p.size() > 2 && p[1] == ':'));
    };
    std::string base = sys.environment(sys.dataVariable ? sys.dataVariable : "");
    if (!absolute(base)) {
        std::string home = sys.environment(sys.homeVariable ? sys.homeVariable : "");
        if (!absolute(home) && sys.accountHome) home = sys.accountHome();
        if (!absolute(home)) {
            error = "no folder to save in: the current one cannot be written and no home is known";
            return "";
        }
        base = home + sep + sys.dataSubfolder;
    }
    const std::string folder = base + sep + programName;
    const std::string why = cfgMakePrivateFolder(folder);
    if (!why.empty()) {
        error = "cannot make " + folder + ": " + why;
        return "";
    }
    return folder;
}
