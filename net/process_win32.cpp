#include "net/process_win32.h"

namespace {

// One argument as the child's C runtime will split it out of the command line.
std::string quoted(const std::string& arg) {
    if (!arg.empty() && arg.find_first_of(" \t\"") == std::string::npos) return arg;
    std::string out = "\"";
    for (size_t i = 0;; ++i) {
        size_t slashes = 0;
        while (i < arg.size() && arg[i] == '\\') {
            ++i;
            ++slashes;
        }
        if (i == arg.size()) {
            out.append(slashes * 2, '\\');   // before the closing quote
            break;
        }
        if (arg[i] == '"') out.append(slashes * 2 + 1, '\\');
        else out.append(slashes, '\\');
        out += arg[i];
    }
    return out + "\"";
}

}  // namespace

std::string windowsCommandLine(const std::vector<std::string>& args) {
    std::string line;
    for (const std::string& a : args) line += (line.empty() ? "" : " ") + quoted(a);
    return line;
}

bool startProcess(const char* program, const std::vector<std::string>& args, HANDLE in, HANDLE out, HANDLE err,
                  DWORD flags, PROCESS_INFORMATION& started) {
    std::string line = windowsCommandLine(args);
    STARTUPINFOA si{};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdInput = in;
    si.hStdOutput = out;
    si.hStdError = err;
    started = PROCESS_INFORMATION{};
    return CreateProcessA(program, line.data(), nullptr, nullptr, TRUE, flags, nullptr, nullptr, &si, &started) != 0;
}
