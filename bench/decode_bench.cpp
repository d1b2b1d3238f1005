// Screen update throughput: the client's decoding into the cell screen (no
// terminal attached) and the stand-in server's encoding and compression.

#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <random>
#include <vector>

#include <benchmark/benchmark.h>

#include "screen/decode.h"
#include "screen/screenfeed.h"
#include "console/cutil.h"
#include "console/global.h"
#include "console/term.h"
#include "history/history.h"
#include "record/asciicast.h"
#include "sim/encoder.h"

namespace {

// A busy screen: text rows, bar rows, blank stretches and a few noisy rows.
ScreenImage busyScreen(uint32_t seed)
{
    std::mt19937 rng(seed);
    ScreenImage s;
    for (int y = 0; y < simRows; ++y) {
        const unsigned kind = rng() % 4;
        for (int x = 0; x < simCols; ++x) {
            unsigned char ch = ' ';
            unsigned char attr = 0x07;
            if (kind == 0) {
                ch = static_cast<unsigned char>('a' + (x * 7 + y) % 26);
            } else if (kind == 1) {
                ch = x < 40 ? 0xDB : 0xB0;
                attr = x < 40 ? 0x0A : 0x08;
            } else if (kind == 2) {
                ch = static_cast<unsigned char>(rng());
                attr = static_cast<unsigned char>(rng());
            }
            s.chars[y][x] = ch;
            s.attrs[y][x] = attr;
        }
    }
    return s;
}

ScreenImage withOneLineChanged(ScreenImage s)
{
    for (int x = 0; x < simCols; ++x)
        s.chars[12][x] = static_cast<unsigned char>('A' + x % 26);
    return s;
}

remoteScreen model;

void paintOnce(const std::vector<unsigned char>& u)
{
    paintScreenUpdate(model, u.data(), static_cast<int32_t>(u.size()));
    benchmark::DoNotOptimize(model.cells);
}

void BM_DecodeFullScreen(benchmark::State& state)
{
    setTerminal(nullptr);
    const std::vector<unsigned char> u = encodeScreenUpdate(nullptr, busyScreen(1));
    for (auto _ : state)
        paintOnce(u);
    state.SetItemsProcessed(state.iterations());
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(u.size()));
    state.counters["payload"] = static_cast<double>(u.size());
}
BENCHMARK(BM_DecodeFullScreen);

void BM_DecodeOneLine(benchmark::State& state)
{
    setTerminal(nullptr);
    const ScreenImage before = busyScreen(1);
    const std::vector<unsigned char> u = encodeScreenUpdate(&before, withOneLineChanged(before));
    for (auto _ : state)
        paintOnce(u);
    state.SetItemsProcessed(state.iterations());
    state.counters["payload"] = static_cast<double>(u.size());
}
BENCHMARK(BM_DecodeOneLine);

void BM_UnpackAndDecodeFullScreen(benchmark::State& state)
{
    setTerminal(nullptr);
    const std::vector<unsigned char> u = encodeScreenUpdate(nullptr, busyScreen(1));
    const std::vector<unsigned char> packed = compressScreenData(u.data(), u.size());
    std::vector<unsigned char> expanded(unpackBufferSize);
    for (auto _ : state) {
        const int32_t n = unpackScreenData(packed.data(), expanded.data(), static_cast<int32_t>(packed.size()));
        paintScreenUpdate(model, expanded.data(), n);
        benchmark::DoNotOptimize(model.cells);
    }
    state.SetItemsProcessed(state.iterations());
    state.counters["packed"] = static_cast<double>(packed.size());
}
BENCHMARK(BM_UnpackAndDecodeFullScreen);

void BM_EncodeFullScreen(benchmark::State& state)
{
    const ScreenImage s = busyScreen(2);
    for (auto _ : state)
        benchmark::DoNotOptimize(encodeScreenUpdate(nullptr, s));
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_EncodeFullScreen);

void BM_EncodeOneLine(benchmark::State& state)
{
    const ScreenImage before = busyScreen(2);
    const ScreenImage after = withOneLineChanged(before);
    for (auto _ : state)
        benchmark::DoNotOptimize(encodeScreenUpdate(&before, after));
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_EncodeOneLine);

void BM_CompressFullScreen(benchmark::State& state)
{
    const std::vector<unsigned char> u = encodeScreenUpdate(nullptr, busyScreen(3));
    for (auto _ : state)
        benchmark::DoNotOptimize(compressScreenData(u.data(), u.size()));
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_CompressFullScreen);

// The size of an hour's recording of a busy screen whose clock row changes
// every second: 3,600 updates of one row, written to a real file. A real
// hour's times take up to 3 bytes more per event than these quick ones.
void BM_RecordClockHour(benchmark::State& state)
{
    char folder[] = "/tmp/quorcli-cast-XXXXXX";
    if (!mkdtemp(folder)) {
        state.SkipWithError("no temporary folder");
        return;
    }
    const saveTarget target{folder, nullptr};
    const ScreenImage busy = busyScreen(7);
    uint16_t cells[screenRows][screenCols];
    for (int y = 0; y < screenRows; ++y)
        for (int x = 0; x < screenCols; ++x) cells[y][x] = static_cast<uint16_t>(busy.chars[y][x] | busy.attrs[y][x] << 8);
    bool all[screenRows], clockRow[screenRows] = {true};
    std::fill(std::begin(all), std::end(all), true);
    double bytes = 0;
    for (auto _ : state) {
        screenFeed feed;
        {
            castRecorder recorder(feed, target, recordOptions{true, 1000});
            feed.started("Bench", false);
            feed.painted(cells, all, 0, 24);
            for (int s = 0; s < 3600; ++s) {
                char clock[16];
                std::snprintf(clock, sizeof clock, "%02d:%02d:%02d", s / 3600, s / 60 % 60, s % 60);
                for (int i = 0; i < 8; ++i) cells[0][70 + i] = static_cast<uint16_t>(0x1F00 | clock[i]);
                feed.painted(cells, clockRow, 0, 24);
            }
            feed.ended({});
        }
        bytes = 0;
        for (const auto& f : std::filesystem::directory_iterator(folder)) {
            bytes += static_cast<double>(f.file_size());
            std::filesystem::remove(f.path());
        }
    }
    std::filesystem::remove_all(folder);
    state.counters["bytes_per_hour"] = bytes;
}
BENCHMARK(BM_RecordClockHour)->Unit(benchmark::kMillisecond);

// The history's look at each update: a screen of log lines scrolled by one
// row, then one that changed without scrolling (the slow case: every move
// is tried), hashes included.
void BM_ScrollCheck(benchmark::State& state)
{
    screenFeed feed;
    screenHistory history(feed);
    feed.started("Bench", false);
    uint16_t cells[screenRows][screenCols];
    int next = 0;
    const auto logLine = [&](int r) {
        char text[screenCols + 1];
        std::snprintf(text, sizeof text, "%08d kernel: probe of device %d done", next, next * 7);
        ++next;
        for (int x = 0; x < screenCols; ++x)
            cells[r][x] = static_cast<uint16_t>((x < static_cast<int>(std::strlen(text)) ? text[x] : ' ') | 0x0700);
    };
    for (int r = 0; r < screenRows; ++r) logLine(r);
    bool all[screenRows];
    std::fill(std::begin(all), std::end(all), true);
    for (auto _ : state) {
        std::memmove(cells[0], cells[1], sizeof cells[0] * (screenRows - 1));
        logLine(screenRows - 1);
        feed.painted(cells, all, 0, 24);   // a scroll
        logLine(screenRows / 2);
        feed.painted(cells, all, 0, 24);   // no scroll
    }
    state.SetItemsProcessed(state.iterations() * 2);
    state.counters["history_lines"] = static_cast<double>(history.lines().size());
}
BENCHMARK(BM_ScrollCheck);

}   // namespace

BENCHMARK_MAIN();
