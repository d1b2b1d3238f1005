// Throughput of the channel cipher and the password digest, side by side with
// libcrypto in the same run, on buffers the size of the session's messages.
#include "crypto/md5c.h"
#include "crypto/rc4.h"

#include <benchmark/benchmark.h>
#include <openssl/evp.h>
#include <openssl/provider.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

constexpr int bufferSize = 8192;
const unsigned char benchKey[16] = {0x35, 0x5f, 0xb1, 0x28, 0x61, 0x65, 0x90, 0x05,
                                    0x74, 0xdc, 0x09, 0x2b, 0x9a, 0xdc, 0xe1, 0x32};

std::vector<unsigned char> makeBuffer()
{
    std::vector<unsigned char> buf(bufferSize);
    for (int k = 0; k < bufferSize; ++k)
        buf[static_cast<size_t>(k)] = static_cast<unsigned char>(k * 31 + 7);
    return buf;
}

void rc4Ours(benchmark::State& state)
{
    rc4Cipher c;
    c.setKey(benchKey, 16);
    auto buf = makeBuffer();
    for (auto _ : state) {
        c.crypt(buf.data(), bufferSize, 0);
        benchmark::DoNotOptimize(buf.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * bufferSize);
}

void rc4OpenSsl(benchmark::State& state)
{
    EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
    if (ctx == nullptr || EVP_CipherInit_ex(ctx, EVP_rc4(), nullptr, benchKey, nullptr, 1) != 1) {
        state.SkipWithError("RC4 not available in libcrypto");
        EVP_CIPHER_CTX_free(ctx);
        return;
    }
    auto buf = makeBuffer();
    for (auto _ : state) {
        int outLen = 0;
        EVP_CipherUpdate(ctx, buf.data(), &outLen, buf.data(), bufferSize);
        benchmark::DoNotOptimize(buf.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * bufferSize);
    EVP_CIPHER_CTX_free(ctx);
}

void md5Ours(benchmark::State& state)
{
    auto buf = makeBuffer();
    unsigned char digest[16];
    for (auto _ : state) {
        MD5Context ctx;
        MD5Init(&ctx);
        MD5Update(&ctx, buf.data(), bufferSize);
        MD5Final(digest, &ctx);
        benchmark::DoNotOptimize(digest);
        buf[0] = digest[0]; // chain the buffers so no call can be hoisted
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * bufferSize);
}

void md5OpenSsl(benchmark::State& state)
{
    // Fetched once, as a careful caller would, so the loop measures hashing only.
    EVP_MD* md = EVP_MD_fetch(nullptr, "MD5", nullptr);
    EVP_MD_CTX* ctx = EVP_MD_CTX_new();
    if (md == nullptr || ctx == nullptr) {
        state.SkipWithError("MD5 not available in libcrypto");
        EVP_MD_CTX_free(ctx);
        EVP_MD_free(md);
        return;
    }
    auto buf = makeBuffer();
    unsigned char digest[EVP_MAX_MD_SIZE];
    for (auto _ : state) {
        unsigned int len = 0;
        EVP_DigestInit_ex(ctx, md, nullptr);
        EVP_DigestUpdate(ctx, buf.data(), bufferSize);
        EVP_DigestFinal_ex(ctx, digest, &len);
        benchmark::DoNotOptimize(digest);
        buf[0] = digest[0];
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * bufferSize);
    EVP_MD_CTX_free(ctx);
    EVP_MD_free(md);
}

// Prints as usual and keeps the CPU time per iteration of every run by name.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    std::map<std::string, std::vector<double>> cpuTimes;

    // Colour only on a terminal, so saved output stays readable.
    RatioReporter() : ConsoleReporter(isatty(1) ? OO_ColorTabular : OO_Tabular) {}

    void ReportRuns(const std::vector<Run>& reports) override
    {
        for (const auto& r : reports)
            if (r.run_type == Run::RT_Iteration && !r.error_occurred)
                cpuTimes[r.run_name.function_name].push_back(r.GetAdjustedCPUTime());
        ConsoleReporter::ReportRuns(reports);
    }

    double median(const std::string& name) const
    {
        auto it = cpuTimes.find(name);
        if (it == cpuTimes.end() || it->second.empty())
            return 0;
        auto v = it->second;
        std::sort(v.begin(), v.end());
        return v[v.size() / 2];
    }

    // Throughput of ours over theirs: their time per buffer over ours.
    void printRatio(const char* what, const std::string& ours, const std::string& theirs) const
    {
        double t = median(ours), r = median(theirs);
        if (t > 0 && r > 0)
            std::printf("%s ratio ours/OpenSSL: %.2f\n", what, r / t);
        else
            std::printf("%s ratio ours/OpenSSL: not measured\n", what);
    }
};

} // namespace

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;

    // Loading any provider by hand stops the default one loading by itself.
    OSSL_PROVIDER* deflt = OSSL_PROVIDER_load(nullptr, "default");
    OSSL_PROVIDER* legacy = OSSL_PROVIDER_load(nullptr, "legacy");
    if (legacy == nullptr)
        std::printf("OpenSSL legacy provider could not be loaded: RC4 reference skipped\n");

    benchmark::RegisterBenchmark("RC4/ours", rc4Ours);
    if (legacy != nullptr)
        benchmark::RegisterBenchmark("RC4/OpenSSL", rc4OpenSsl);
    benchmark::RegisterBenchmark("MD5/ours", md5Ours);
    benchmark::RegisterBenchmark("MD5/OpenSSL", md5OpenSsl);

    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();

    reporter.printRatio("RC4", "RC4/ours", "RC4/OpenSSL");
    reporter.printRatio("MD5", "MD5/ours", "MD5/OpenSSL");

    if (legacy != nullptr)
        OSSL_PROVIDER_unload(legacy);
    if (deflt != nullptr)
        OSSL_PROVIDER_unload(deflt);
    return 0;
}
