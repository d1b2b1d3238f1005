// The memory of the histories of the screens when servers send all they can:
// 32 screens, each scrolling far more lines than the histories may hold
// together, with --history as high as it goes. The figure is the peak
// resident memory of this process (VmHWM), which holds nothing else of
// size, against what it was before; the histories' bound is historyBytesMax.
// One run: a second would start from a full history.

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>

#include "screen/screenfeed.h"
#include "console/global.h"
#include "history/history.h"

namespace {

constexpr uint32_t screens = 32;
constexpr int scrollRows = 20;        // lines that leave the screen per update
constexpr int updatesPerVisit = 50;   // before the server shows the next screen

double peakResidentMiB() {
    std::ifstream f("/proc/self/status");
    std::string line;
    while (std::getline(f, line))
        if (line.compare(0, 6, "VmHWM:") == 0) return std::atof(line.c_str() + 6) / 1024.0;
    return 0;
}

void BM_HistoryMemory(benchmark::State& state) {
    const double before = peakResidentMiB();
    screenFeed feed;
    screenHistory history(feed, historyLinesMax);   // what --history=1000000 is capped to
    feed.started("Bench", false);
    uint16_t cells[screenRows][screenCols];
    long long next = 0;
    const auto logLine = [&](int r) {
        char text[screenCols + 1];
        std::snprintf(text, sizeof text, "%012lld kernel: probe of device %lld done", next, next * 7);
        ++next;
        for (int x = 0; x < screenCols; ++x)
            cells[r][x] = static_cast<uint16_t>((x < static_cast<int>(std::strlen(text)) ? text[x] : ' ') | 0x0700);
    };
    bool all[screenRows];
    std::fill(std::begin(all), std::end(all), true);
    const long long pushed = 2 * static_cast<long long>(historyLinesMax);
    for (auto _ : state) {
        while (next < pushed) {
            for (uint32_t id = 1; id <= screens; ++id) {
                feed.shown(id, "Log");
                for (int r = 0; r < screenRows; ++r) logLine(r);
                feed.painted(cells, all, 0, 24);
                for (int u = 0; u < updatesPerVisit; ++u) {
                    std::memmove(cells[0], cells[scrollRows], sizeof cells[0] * (screenRows - scrollRows));
                    for (int r = screenRows - scrollRows; r < screenRows; ++r) logLine(r);
                    feed.painted(cells, all, 0, 24);
                }
            }
        }
    }
    const double peak = peakResidentMiB();
    state.counters["lines_sent"] = static_cast<double>(next);
    state.counters["lines_kept"] = static_cast<double>(history.bytes() / sizeof(screenLine));
    state.counters["bound_mib"] = static_cast<double>(historyBytesMax) / (1 << 20);
    state.counters["peak_rss_mib"] = peak;
    state.counters["growth_mib"] = peak - before;
    if (history.bytes() > historyBytesMax) state.SkipWithError("the histories hold more than their bound");
}
BENCHMARK(BM_HistoryMemory)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
