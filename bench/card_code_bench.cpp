// The cost of taking card codes off a reader line: digit filtering, and a
// whole GetCardCode / GetCardCodeEx call on a pseudo-terminal with the code
// already queued (no waits are involved when the code is complete).
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

#include "kavex.h"
#include "reader/card_reading.h"

namespace {

void BM_FilterDigits(benchmark::State& state) {
    const char frame[] =
        "\x02"
        "0123456789\r\n"
        "\x02"
        "9876543210\r\n"
        "\x02"
        "5555555555\r\n"
        "xyzxyzxyzxyzxy";
    char buffer[51];
    for (auto _ : state) {
        std::memcpy(buffer, frame, 50);
        buffer[50] = '\0';
        FilterDigits(buffer, 50);
        benchmark::DoNotOptimize(buffer);
    }
}
BENCHMARK(BM_FilterDigits);

// A reader line mapped as COM1 under a private prefix.
class Line {
public:
    Line() {
        char pattern[] = "/tmp/kavex-bench-XXXXXX";
        prefix_ = mkdtemp(pattern);
        std::filesystem::create_directories(prefix_ + "/dosdevices");
        setenv("KAVEX_PREFIX", prefix_.c_str(), 1);
        master_ = posix_openpt(O_RDWR | O_NOCTTY);
        grantpt(master_);
        unlockpt(master_);
        std::filesystem::create_symlink(ptsname(master_), prefix_ + "/dosdevices/com1");
    }
    ~Line() {
        close(master_);
        std::filesystem::remove_all(prefix_);
    }
    void Send(const char* bytes) const {
        if (write(master_, bytes, std::strlen(bytes)) < 0) std::abort();
        tcdrain(master_);
    }

private:
    std::string prefix_;
    int master_ = -1;
};

void BM_GetCardCodeEx(benchmark::State& state) {
    Line line;
    if (OpenComEx("COM1", 0) != 1) {
        state.SkipWithError("cannot open the line");
        return;
    }
    char code[11];
    for (auto _ : state) {
        state.PauseTiming();
        line.Send("0123456789");
        usleep(1000);
        state.ResumeTiming();
        benchmark::DoNotOptimize(GetCardCodeEx(code, 10));
    }
    CloseComEx();
}
BENCHMARK(BM_GetCardCodeEx);

void BM_GetCardCodeNothingWaiting(benchmark::State& state) {
    Line line;
    if (OpenCom("COM1") != 1) {
        state.SkipWithError("cannot open the line");
        return;
    }
    char code[11];
    for (auto _ : state) benchmark::DoNotOptimize(GetCardCode(code));
    CloseCom();
}
BENCHMARK(BM_GetCardCodeNothingWaiting);

}  // namespace
