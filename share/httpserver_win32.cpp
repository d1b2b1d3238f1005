// The Windows build has no web server: sharing is refused with a word why.
#include "share/webserver.h"
#include "share/webshare.h"

std::unique_ptr<shareServer> startShareServer(const std::string&, int, std::string& error) {
    error = shareUnavailableText;
    return nullptr;
}

std::unique_ptr<webServer> startWebServer(const std::string&, int, webSite&, const std::string&, std::string& error) {
    error = "the Windows build has no web server";
    return nullptr;
}

bool shareAvailable() { return false; }
