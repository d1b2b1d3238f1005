// Screen update throughput: the client's decoding into the cell screen (no
// terminal attached) and the stand-in server's encoding and compression.

#include <random>
#include <vector>

#include <benchmark/benchmark.h>

#include "console/cutil.h"
#include "console/term.h"
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

void paintOnce(const std::vector<unsigned char>& u)
{
    paintScreenUpdate(nullptr, u.data(), static_cast<int32_t>(u.size()));
    benchmark::DoNotOptimize(screenBuf);
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
        paintScreenUpdate(nullptr, expanded.data(), n);
        benchmark::DoNotOptimize(screenBuf);
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

}   // namespace

BENCHMARK_MAIN();
