// The benchmark program: Google Benchmark's table, then the summary of each
// figure against its floor. The exit status is 1 when memory or descriptors
// grew over the million polls (timing never fails the run).
#include <benchmark/benchmark.h>

#include "bench_support.h"

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    kavex::bench::PrintSummary();
    return kavex::bench::FlatnessFailed() ? 1 : 0;
}
