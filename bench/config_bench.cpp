// Loading the configuration file: 10,000 and 40,000 servers read into the
// sorted server list (the target: 10,000 in under 50 ms), with distinct
// descriptions and with many equal and prefix-equal list lines, next to the
// one-by-one sorted adds that loading used before, as a reference.

#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>

#include "client/cmain.h"
#include "console/global.h"

namespace {

// Server lines in random order: distinct descriptions, or only a few
// descriptions with hosts that are prefixes of each other (h1, h12, h123...),
// so that many list lines compare equal or prefix-equal.
std::vector<std::string> serverLines(int n, bool alike)
{
    std::mt19937 rng(12345);
    std::vector<std::string> lines;
    lines.reserve(static_cast<size_t>(n));
    for (int i = 0; i < n; ++i) {
        const std::string desc =
            alike ? "Rack " + std::to_string(rng() % 20) : "Server " + std::to_string(rng()) + "-" + std::to_string(i);
        const std::string host = alike ? "h" + std::to_string(rng() % 2000) : "10.0." + std::to_string(i % 250) + ".1";
        lines.push_back("server=" + host + ":" + std::to_string(4000 + i % 100) + "," + desc + "\r\n");
    }
    return lines;
}

// A folder that the program takes as its own, holding a configuration file.
class ConfigFolder {
public:
    explicit ConfigFolder(const std::vector<std::string>& lines)
    {
        char tmpl[] = "/tmp/quorbenchXXXXXX";
        if (mkdtemp(tmpl)) dir_ = tmpl;
        std::ofstream out(dir_ + "/quorcli.cfg", std::ios::binary);
        for (const std::string& l : lines) out << l;
        setGlobalString(&modulePath, (dir_ + "/").c_str());
    }
    ~ConfigFolder()
    {
        setGlobalString(&modulePath, nullptr);
        std::error_code ec;
        std::filesystem::remove_all(dir_, ec);
    }

private:
    std::string dir_;
};

void loadFile(benchmark::State& state, bool alike)
{
    const int n = static_cast<int>(state.range(0));
    ConfigFolder folder(serverLines(n, alike));
    for (auto _ : state) {
        auto app = std::make_unique<consoleMain>();
        app->servers.init(nullptr);
        app->proxies.init(nullptr);
        app->loadConfig("quorcli.cfg", app->servers, app->proxies);
        if (app->servers.getItemCount() != n) state.SkipWithError("entries were lost");
        state.PauseTiming();
        app.reset();
        state.ResumeTiming();
    }
    state.SetItemsProcessed(state.iterations() * n);
}

void BM_LoadDistinctServers(benchmark::State& state) { loadFile(state, false); }
void BM_LoadAlikeServers(benchmark::State& state) { loadFile(state, true); }

// The same lines put into the list with one sorted add each, as loading did
// before: quadratic in the number of entries.
void BM_OneByOneSortedAdds(benchmark::State& state)
{
    const int n = static_cast<int>(state.range(0));
    std::vector<std::string> values;
    for (const std::string& l : serverLines(n, false)) values.push_back(l.substr(7, l.size() - 9));
    for (auto _ : state) {
        auto list = std::make_unique<serverList>();
        list->init(nullptr);
        for (std::string v : values) list->parse(v.data());
        state.PauseTiming();
        list.reset();
        state.ResumeTiming();
    }
    state.SetItemsProcessed(state.iterations() * n);
}

} // namespace

BENCHMARK(BM_LoadDistinctServers)->Arg(10000)->Arg(40000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LoadAlikeServers)->Arg(10000)->Arg(40000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_OneByOneSortedAdds)->Arg(2500)->Arg(10000)->Unit(benchmark::kMillisecond)->Iterations(1);

BENCHMARK_MAIN();
