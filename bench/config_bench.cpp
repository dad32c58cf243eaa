// The cost of the sealed configuration: every OpenCom, CloseCom and
// GetOtherCardCode unseals and verifies the 10432-byte file anew.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <vector>

#include "bench_support.h"
#include "config/crc32.h"
#include "config/port_config.h"
#include "config/rc4.h"
#include "config/sealed_file.h"

namespace {

constexpr int kRecordSize = 10432;

void BM_Rc4Unseal(benchmark::State& state) {
    std::vector<std::uint8_t> input(kRecordSize, 0x5A), output(kRecordSize);
    const CRc4 rc4;
    for (auto _ : state) {
        rc4.CryptCopy(kavex::config::kSealingKey, kavex::config::kSealingKeyLength, input.data(), kRecordSize,
                      output.data(), kRecordSize);
        benchmark::DoNotOptimize(output.data());
    }
    state.SetBytesProcessed(state.iterations() * kRecordSize);
}
BENCHMARK(BM_Rc4Unseal);

void BM_Crc32Verify(benchmark::State& state) {
    std::vector<char> record(kRecordSize, 0x11);
    const CCrc32 crc32;
    for (auto _ : state) {
        std::uint32_t crc = 0;
        crc32.Calculate(record.data(), kRecordSize - 4, crc);
        benchmark::DoNotOptimize(crc);
    }
    state.SetBytesProcessed(state.iterations() * (kRecordSize - 4));
}
BENCHMARK(BM_Crc32Verify);

// The same bytes through zlib's crc32, the speed the checksum is held to.
void BM_Crc32Zlib(benchmark::State& state) {
    std::vector<std::uint8_t> record(kRecordSize, 0x11);
    for (auto _ : state)
        benchmark::DoNotOptimize(kavex::bench::floors::Crc32(record.data(), kRecordSize - 4));
    state.SetBytesProcessed(state.iterations() * (kRecordSize - 4));
}
BENCHMARK(BM_Crc32Zlib);

// Table construction is part of every load and save.
void BM_Crc32TableBuild(benchmark::State& state) {
    for (auto _ : state) {
        CCrc32 crc32;
        benchmark::DoNotOptimize(crc32.m_pTable.get());
    }
}
BENCHMARK(BM_Crc32TableBuild);

}  // namespace
