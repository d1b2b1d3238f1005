#pragma once
// Where the configuration file lives: named outright on the command line,
// beside the program, or in the user's own configuration folder. The choice
// is made here, the same on every platform, over a few questions put to the
// system (answered by the platform's cfgfile_*.cpp, or by a test).
#include <functional>
#include <string>

// What the choice asks of the system, and the platform's conventions.
struct cfgPlaceSystem {
    char separator = '/';
    // The variable that names the folder of users' configurations
    // (XDG_CONFIG_HOME, APPDATA); used when it holds an absolute path.
    const char* userVariable = nullptr;
    // Otherwise that folder is this subfolder of the user's home, which the
    // home variable names (null: none) or, when that is not an absolute
    // path, the account database.
    const char* homeVariable = nullptr;
    const char* homeSubfolder = "";
    // The same for the users' data folder (XDG_DATA_HOME, LOCALAPPDATA),
    // where saved screens go when the current folder may not be written.
    const char* dataVariable = nullptr;
    const char* dataSubfolder = "";

    std::function<std::string(const char* name)> environment;  // "" when unset
    std::function<std::string()> accountHome;                   // "" when unknown
    // Something (a file, a link, anything) is at the path.
    std::function<bool(const std::string& path)> exists;
    // This user may create files in the folder ("" is the current folder).
    std::function<bool(const std::string& folder)> folderWritable;
    // The folder of the running program itself, with its trailing separator;
    // "" when the system does not say.
    std::function<std::string()> realProgramFolder;
    // The folder is one that installed programs live in.
    std::function<bool(const std::string& folder)> isSystemFolder;
};

struct cfgPlace {
    std::string path;
    // The user's configuration folder, to be made before the file is written
    // there; "" when the file is elsewhere.
    std::string userFolder;
    // Why a save there could not succeed (no home is known and the program's
    // folder may not be written, or the user's folder cannot be made); ""
    // when it may. Never set for a file named with --config=.
    std::string unsaveable;
};

// The configuration file of this run. configOption: the --config= value (null
// or empty: not given); programFolder: the program's folder as its name says
// (with its trailing separator, "" for the current folder); fileName: the
// name of the file beside the program and in the user's folder.
cfgPlace cfgChoosePlace(const char* configOption, const char* programFolder, const char* fileName,
                        const cfgPlaceSystem& system);

// This platform's answers to the questions above.
const cfgPlaceSystem& cfgNativeSystem();

// Makes the folder and every missing folder above it, private to the user
// (mode 0700 where modes exist). Returns "" or why it could not.
std::string cfgMakePrivateFolder(const std::string& folder);

// The user's data folder of this program (where saved screens go when the
// current folder may not be written), made private when missing; "" with
// why in error when there is none.
std::string cfgUserDataFolder(std::string& error);
