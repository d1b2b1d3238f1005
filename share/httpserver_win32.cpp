// The Windows build has no web server: sharing is refused with a word why.
#include "share/webshare.h"

std::unique_ptr<shareServer> startShareServer(const std::string&, int, std::string& error) {
    error = shareUnavailableText;
    return nullptr;
}

bool shareAvailable() { return false; }
