// Feeds arbitrary bytes as a configuration file through the line reader into
// the server and proxy lists, then checks that what was loaded survives a
// save and a load: the second save holds the same lines as the first (the
// order of entries whose list lines compare equal may differ).
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "client/cmain.h"

namespace {

void check(bool ok)
{
    if (!ok) std::abort();
}

// A fresh application with its lists prepared as the main loop does, loaded
// from the bytes.
std::unique_ptr<consoleMain> loaded(const void* data, size_t size)
{
    auto app = std::make_unique<consoleMain>();
    app->servers.init(nullptr);
    app->proxies.init(nullptr);
    app->proxies.add(directConnectionText, 1, nullptr);
    // fmemopen cannot open an empty buffer.
    static char none[1];
    FILE* f = fmemopen(size ? const_cast<void*>(data) : none, size ? size : 1, "rb");
    check(f != nullptr);
    if (size) consoleMain::readConfig(f, app->servers, app->proxies);
    std::fclose(f);
    return app;
}

std::string saved(consoleMain& app)
{
    char* data = nullptr;
    size_t size = 0;
    FILE* f = open_memstream(&data, &size);
    check(f != nullptr);
    app.writeConfig(f);
    std::fclose(f);
    std::string text(data, size);
    std::free(data);
    return text;
}

// The lines of a saved text, sorted; readable is false when one may be too
// long to be read back (the reader leaves out lines over 3999 characters).
std::vector<std::string> sortedLines(const std::string& text, bool& readable)
{
    std::vector<std::string> lines;
    readable = true;
    for (size_t at = 0; at < text.size();) {
        size_t end = text.find('\n', at);
        if (end == std::string::npos) end = text.size();
        if (end - at + 1 > 3999) readable = false;
        lines.push_back(text.substr(at, end - at));
        at = end + 1;
    }
    std::sort(lines.begin(), lines.end());
    return lines;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    auto first = loaded(data, size);
    const std::string once = saved(*first);
    bool readable = true;
    const std::vector<std::string> lines = sortedLines(once, readable);
    if (!readable) return 0;
    auto second = loaded(once.data(), once.size());
    check(second->servers.getItemCount() == first->servers.getItemCount());
    check(second->proxies.getItemCount() == first->proxies.getItemCount());
    bool again = true;
    check(sortedLines(saved(*second), again) == lines);
    return 0;
}
