// The exported calls a host makes most, each against the least work it must
// do, measured side by side in the same run:
//   an idle GetCardCode poll     a non-blocking read(2) on an identical line
//   GetOtherCardCode with        open, read 10432 bytes, close; RC4 over
//   "ipportconfig.ini" present   them; zlib's CRC-32 over 10428; one read(2)
//   OpenComEx + CloseComEx       open, one tcsetattr, close
// and that memory and descriptors stay flat over a million polls.
#include <benchmark/benchmark.h>
#include <termios.h>

#include <cstdio>
#include <cstdlib>

#include "bench_support.h"
#include "kavex.h"

namespace kavex::bench {

namespace {

// Rounds are counted by the benchmark's iterations; calls per round keep a
// round near a millisecond, so that a preempted round is an outlier.
constexpr int kIdleCallsPerRound = 2000;
constexpr int kConfigCallsPerRound = 40;
constexpr int kOpenCallsPerRound = 40;

void ReportComparison(benchmark::State& state, const Comparison& comparison) {
    state.counters["call_ns"] = comparison.CallNs();
    state.counters["floor_ns"] = comparison.FloorNs();
    state.counters["ratio"] = comparison.Ratio();
    comparison.Record();
}

void BM_IdleGetCardCodePoll(benchmark::State& state) {
    Prefix prefix;
    Line reader(prefix, 1);
    Line identical;
    BareEnd floorEnd(identical);
    if (OpenCom("COM1") != 1) {
        state.SkipWithError("cannot open the line");
        return;
    }
    Comparison comparison("idle GetCardCode poll vs read(2)", 1.1);
    char code[11];
    char buffer[10];
    for (auto _ : state) {
        comparison.Round(
            kIdleCallsPerRound, [&] { benchmark::DoNotOptimize(GetCardCode(code)); },
            [&] { benchmark::DoNotOptimize(floors::Read(floorEnd.Fd(), buffer)); });
    }
    CloseCom();
    ReportComparison(state, comparison);
}
BENCHMARK(BM_IdleGetCardCodePoll)->Iterations(301)->Unit(benchmark::kMicrosecond)->UseRealTime();

void BM_GetOtherCardCodeWithConfig(benchmark::State& state) {
    Prefix prefix;
    HostDirectory host;
    Line primary(prefix, 1);
    Line further(prefix, 2);
    Line identical;
    BareEnd floorEnd(identical);
    host.WriteConfig({2, 0, 0, 0});
    if (OpenCom("COM1") != 1) {
        state.SkipWithError("cannot open the lines");
        return;
    }
    Comparison comparison("GetOtherCardCode, ipportconfig.ini present, vs its floor", 1.3);
    char code[11];
    const char* path = host.ConfigPath().c_str();
    for (auto _ : state) {
        comparison.Round(
            kConfigCallsPerRound, [&] { benchmark::DoNotOptimize(GetOtherCardCode(code, 1)); },
            [&] {
                if (!floors::LoadConfigAndPoll(path, floorEnd.Fd())) std::abort();
            });
    }
    CloseCom();
    ReportComparison(state, comparison);
}
BENCHMARK(BM_GetOtherCardCodeWithConfig)->Iterations(201)->Unit(benchmark::kMicrosecond)->UseRealTime();

void BM_OpenComExCloseComEx(benchmark::State& state) {
    Prefix prefix;
    Line reader(prefix, 1);
    Line identical;
    termios settings{};
    {
        BareEnd end(identical);
        tcgetattr(end.Fd(), &settings);
    }
    if (OpenComEx("COM1", 0) != 1 || CloseComEx() != 1) {
        state.SkipWithError("cannot open the line");
        return;
    }
    Comparison comparison("OpenComEx + CloseComEx vs open, tcsetattr, close", 2.5);
    const char* path = identical.SlavePath().c_str();
    for (auto _ : state) {
        comparison.Round(
            kOpenCallsPerRound,
            [&] {
                if (OpenComEx("COM1", 0) != 1 || CloseComEx() != 1) std::abort();
            },
            [&] {
                if (!floors::OpenAndClose(path, settings)) std::abort();
            });
    }
    ReportComparison(state, comparison);
}
BENCHMARK(BM_OpenComExCloseComEx)->Iterations(201)->Unit(benchmark::kMicrosecond)->UseRealTime();

// A million polls, every tenth a GetOtherCardCode that loads the
// configuration: heap in use, resident memory and open descriptors are the
// same afterwards as after the first thousand.
constexpr long kPolls = 1000000;
constexpr long kWarmUpPolls = 1000;
constexpr long kHeapSlackBytes = 4096;
constexpr long kResidentSlackKb = 512;
bool g_flatnessFailed = false;

void BM_FlatOverAMillionPolls(benchmark::State& state) {
    Prefix prefix;
    HostDirectory host;
    Line primary(prefix, 1);
    Line further(prefix, 2);
    host.WriteConfig({2, 0, 0, 0});
    if (OpenCom("COM1") != 1) {
        state.SkipWithError("cannot open the lines");
        return;
    }
    char code[11];
    auto poll = [&](long k) {
        benchmark::DoNotOptimize(k % 10 == 9 ? GetOtherCardCode(code, 1) : GetCardCode(code));
    };
    for (auto _ : state) {
        for (long k = 0; k < kWarmUpPolls; ++k) poll(k);
        const Resources before = CurrentResources();
        for (long k = kWarmUpPolls; k < kPolls; ++k) poll(k);
        const Resources after = CurrentResources();
        state.counters["heap_growth_B"] = static_cast<double>(after.heapBytes - before.heapBytes);
        state.counters["rss_growth_kB"] = static_cast<double>(after.residentKb - before.residentKb);
        state.counters["fd_growth"] = after.descriptors - before.descriptors;
        if (after.heapBytes - before.heapBytes > kHeapSlackBytes ||
            after.residentKb - before.residentKb > kResidentSlackKb ||
            after.descriptors != before.descriptors) {
            g_flatnessFailed = true;
            state.SkipWithError("memory or descriptors grew over a million polls");
        }
    }
    CloseCom();
}
BENCHMARK(BM_FlatOverAMillionPolls)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

bool FlatnessFailed() { return g_flatnessFailed; }

}  // namespace kavex::bench
