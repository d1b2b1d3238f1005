// Where the Windows program keeps its configuration: a program installed in a
// folder of "Program Files" keeps it in %APPDATA%\quorcli, made when needed;
// one unpacked into a folder of its own keeps it there, and finding out that
// the folder may be written leaves nothing in it.
#include <cstdlib>

#include "client/cfgplace.h"
#include "tests/win32/win_util.h"

using namespace win;

namespace {

// An environment variable of this process for the scope; the old value (or
// none) comes back at the end.
class EnvScope {
public:
    EnvScope(const char* name, const std::string& value) : name_(name) {
        const char* old = std::getenv(name);
        had_ = old != nullptr;
        if (old) old_ = old;
        _putenv_s(name, value.c_str());
    }
    ~EnvScope() { _putenv_s(name_, had_ ? old_.c_str() : ""); }
    EnvScope(const EnvScope&) = delete;
    EnvScope& operator=(const EnvScope&) = delete;

private:
    const char* name_;
    bool had_ = false;
    std::string old_;
};

std::string loadedPath(consoleMain& app) {
    app.servers.init(nullptr);
    app.proxies.init(nullptr);
    app.loadConfig("quorcli.cfg", app.servers, app.proxies);
    return app.configPath ? app.configPath : "";
}

int entriesIn(const std::string& folder) {
    WIN32_FIND_DATAA found;
    HANDLE h = FindFirstFileA((folder + "*").c_str(), &found);
    int n = 0;
    if (h == INVALID_HANDLE_VALUE) return 0;
    do {
        if (std::strcmp(found.cFileName, ".") != 0 && std::strcmp(found.cFileName, "..") != 0) ++n;
    } while (FindNextFileA(h, &found));
    FindClose(h);
    return n;
}

}  // namespace

TEST(ConfigPlace, AProgramInProgramFilesKeepsItsConfigurationInAppData) {
    ProgramFolder programFiles, appData;
    const std::string programDir = programFiles.file("Quorcli\\");
    ASSERT_TRUE(CreateDirectoryA(programDir.c_str(), nullptr));
    // "Program Files" named in other letters' case and without its last '\'.
    std::string named = programFiles.path.substr(0, programFiles.path.size() - 1);
    for (char& c : named) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    EnvScope programFilesVariable("ProgramFiles", named);
    EnvScope appDataVariable("APPDATA", appData.path);
    setGlobalString(&modulePath, programDir.c_str());

    const std::string expected = appData.file("quorcli\\quorcli.cfg");
    {
        consoleMain app;
        EXPECT_EQ(loadedPath(app), expected);
        char line[] = "a.example,Alpha";
        app.servers.parse(line);
        app.saveConfig();
        EXPECT_EQ(app.configError, "");
    }
    EXPECT_NE(appData.read("quorcli\\quorcli.cfg").find("server=a.example:4242,Alpha\r\n"), std::string::npos);
    EXPECT_EQ(entriesIn(programDir), 0);
    DeleteFileA(expected.c_str());
    RemoveDirectoryA(appData.file("quorcli").c_str());
    RemoveDirectoryA(programDir.c_str());
}

TEST(ConfigPlace, AFolderOfItsOwnKeepsItAndTheWriteTestLeavesNothing) {
    ProgramFolder folder;
    EnvScope appDataVariable("APPDATA", folder.file("elsewhere"));
    consoleMain app;
    EXPECT_EQ(loadedPath(app), folder.file("quorcli.cfg"));
    EXPECT_EQ(entriesIn(folder.path), 0);
}
