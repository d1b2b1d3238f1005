#include "batch/secrets.h"

#include <cstring>

#include "batch/platform.h"
#include "net/secretfile.h"
#include "net/sutil.h"

namespace {

// QUORCLI_MASTER_PASSWORD as it was at start, for a batch run.
char environmentMaster[secretMax + 1] = {};

}  // namespace

void takeEnvironmentSecrets(bool keep) {
    takeEnvironmentSecret("QUORCLI_MASTER_PASSWORD", environmentMaster, sizeof environmentMaster);
    if (!keep) wipeMemory(environmentMaster, sizeof environmentMaster);
}

runSecrets::~runSecrets() {
    wipeMemory(master, sizeof master);
    wipeMemory(password, sizeof password);
    wipeMemory(environmentMaster, sizeof environmentMaster);
}

std::string runSecrets::readMaster(const std::string& file) {
    if (!file.empty()) return readPasswordFile(file, master, sizeof master);
    std::memcpy(master, environmentMaster, sizeof master);
    return "";
}

std::string runSecrets::readPassword(const std::string& file) {
    return file.empty() ? "" : readPasswordFile(file, password, sizeof password);
}

size_t runSecrets::handOver(char* buf) const {
    const size_t m = std::strlen(master);
    const size_t p = std::strlen(password);
    std::memcpy(buf, master, m);
    buf[m] = '\n';
    std::memcpy(buf + m + 1, password, p);
    buf[m + 1 + p] = '\n';
    return m + p + 2;
}

void runSecrets::takeHandedOver() {
    char got[handOverSize + 1] = {};
    readStandardInput(got, sizeof got);
    const size_t m = copyFirstLine(got, sizeof got, master, sizeof master);
    const char* rest = std::strchr(got + m, '\n');
    if (rest) copyFirstLine(rest + 1, std::strlen(rest + 1), password, sizeof password);
    wipeMemory(got, sizeof got);
}
