// The time from a card swipe to the code in the host's hands.
//
// The reader is played on a pseudo-terminal at 1200 baud with real byte
// timing: 0x02, ten digits, CR LF, each byte handed over when its stop bit
// ends (10 bits, 8.33 ms a byte), so the ten digits take 83.3 ms on the
// wire. Each swipe starts at a random phase of the host's cycle, and the
// latency runs from the start of the first digit to the return of the code.
// Three hosts take turns, swipe by swipe:
//   floor    a bare read(2) loop on an identical line, woken by poll(2) as
//            bytes arrive: the wire time and the line's own delays, no more
//   polling  GetCardCode every 100 ms
//   waiting  GetCardCodeEx(code, 10), called before the swipe
// and the medians and 95th percentiles are printed against the floor's.
//
//   kavex_swipe_latency [--swipes N] [--phases S]
#include <poll.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "bench_support.h"
#include "kavex.h"

namespace {

using kavex::bench::NowNs;

constexpr double kByteNs = 1e9 * 10 / 1200;  // start bit, 8 data bits, stop bit
constexpr int kDigits = 10;
constexpr double kCodeWireMs = kDigits * kByteNs / 1e6;
constexpr double kPollPeriodNs = 100e6;
constexpr double kMs = 1e6;

void SleepUntil(double ns) {
    timespec at{};
    at.tv_sec = static_cast<time_t>(ns / 1e9);
    at.tv_nsec = static_cast<long>(ns - static_cast<double>(at.tv_sec) * 1e9);
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &at, nullptr) != 0) {
    }
}

// One swipe: the frame's bytes, each written to the line's master side when
// its last bit has arrived. The first byte starts at `startNs`.
class Swipe {
public:
    Swipe(const kavex::bench::Line& line, double startNs, std::mt19937& random) : startNs_(startNs) {
        frame_ += '\x02';
        for (int k = 0; k < kDigits; ++k) frame_ += static_cast<char>('0' + random() % 10);
        frame_ += "\r\n";
        player_ = std::thread([this, &line] {
            for (std::size_t k = 0; k < frame_.size(); ++k) {
                SleepUntil(startNs_ + static_cast<double>(k + 1) * kByteNs);
                line.Send(&frame_[k], 1);
            }
        });
    }
    ~Swipe() { player_.join(); }
    Swipe(const Swipe&) = delete;
    Swipe& operator=(const Swipe&) = delete;

    std::string Code() const { return frame_.substr(1, kDigits); }
    // When the first digit starts on the wire.
    double FirstDigitNs() const { return startNs_ + kByteNs; }
    // When the whole frame has arrived.
    double EndNs() const { return startNs_ + static_cast<double>(frame_.size()) * kByteNs; }

private:
    double startNs_;
    std::string frame_;
    std::thread player_;
};

struct Latencies {
    std::vector<double> ms;
    int wrongCodes = 0;

    double Percentile(double p) const {
        if (ms.empty()) return 0;
        std::vector<double> sorted = ms;
        std::sort(sorted.begin(), sorted.end());
        const auto index = static_cast<std::size_t>(p * static_cast<double>(sorted.size() - 1) + 0.5);
        return sorted[index];
    }
};

void Record(Latencies& latencies, const Swipe& swipe, const std::string& code, double returnedNs) {
    latencies.ms.push_back((returnedNs - swipe.FirstDigitNs()) / kMs);
    if (code != swipe.Code()) ++latencies.wrongCodes;
}

// The bare host: waits for bytes with poll(2) and reads them until ten
// digits have come.
void FloorSwipe(const kavex::bench::Line& line, int fd, std::mt19937& random, Latencies& latencies) {
    const double base = NowNs() + 5 * kMs;
    Swipe swipe(line, base + std::uniform_real_distribution<double>(0, kPollPeriodNs)(random), random);
    std::string code;
    while (code.size() < static_cast<std::size_t>(kDigits)) {
        pollfd entry{fd, POLLIN, 0};
        if (poll(&entry, 1, 1000) <= 0) break;
        char bytes[16];
        const ssize_t n = read(fd, bytes, sizeof bytes);
        for (ssize_t k = 0; k < n; ++k) {
            if (bytes[k] >= '0' && bytes[k] <= '9') code += bytes[k];
        }
    }
    Record(latencies, swipe, code, NowNs());
    SleepUntil(swipe.EndNs() + 5 * kMs);
    char rest[16];
    while (read(fd, rest, sizeof rest) > 0) {
    }
}

// The polling host: GetCardCode at every tick of a 100 ms cycle.
void PollingSwipe(const kavex::bench::Line& line, std::mt19937& random, Latencies& latencies) {
    const double base = NowNs() + 5 * kMs;
    Swipe swipe(line, base + std::uniform_real_distribution<double>(0, kPollPeriodNs)(random), random);
    char code[11] = {};
    for (int tick = 0; tick < 20; ++tick) {
        SleepUntil(base + tick * kPollPeriodNs);
        if (GetCardCode(code) == 1) {
            Record(latencies, swipe, std::string(code, kDigits), NowNs());
            break;
        }
    }
    SleepUntil(swipe.EndNs() + 5 * kMs);
    while (GetCardCode(code) == 1) {  // the CR LF; nothing else is queued
    }
}

// The waiting host: GetCardCodeEx(code, 10) from before the swipe.
void WaitingSwipe(const kavex::bench::Line& line, std::mt19937& random, Latencies& latencies) {
    const double base = NowNs() + 5 * kMs;
    Swipe swipe(line, base + std::uniform_real_distribution<double>(0, kPollPeriodNs)(random), random);
    SleepUntil(base);
    char code[11] = {};
    const int length = GetCardCodeEx(code, kDigits);
    Record(latencies, swipe, std::string(code, static_cast<std::size_t>(length)), NowNs());
    SleepUntil(swipe.EndNs() + 5 * kMs);
}

int Usage() {
    std::fprintf(stderr, "usage: kavex_swipe_latency [--swipes N] [--phases S]\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    int swipes = 40;
    unsigned phases = 16;
    for (int k = 1; k < argc; ++k) {
        if (std::strcmp(argv[k], "--swipes") == 0 && k + 1 < argc) {
            swipes = std::atoi(argv[++k]);
        } else if (std::strcmp(argv[k], "--phases") == 0 && k + 1 < argc) {
            phases = static_cast<unsigned>(std::strtoul(argv[++k], nullptr, 10));
        } else {
            return Usage();
        }
    }
    if (swipes < 1) return Usage();

    kavex::bench::Prefix prefix;
    kavex::bench::HostDirectory host;  // no ipportconfig.ini: the primary reader is COM1
    kavex::bench::Line primary(prefix, 1);
    kavex::bench::Line extended(prefix, 3);
    kavex::bench::Line identical;
    kavex::bench::BareEnd bare(identical);
    if (OpenCom("COM1") != 1 || OpenComEx("COM3", 0) != 1) {
        std::fprintf(stderr, "kavex_swipe_latency: cannot open the lines\n");
        return 1;
    }

    std::mt19937 random(phases);
    Latencies floor, polling, waiting;
    std::printf("%d swipes each, 1200 baud, the code %.1f ms on the wire (phases %u)\n", swipes, kCodeWireMs,
                phases);
    for (int k = 0; k < swipes; ++k) {
        // Interleaved, the order turning from swipe to swipe.
        for (int turn = 0; turn < 3; ++turn) {
            switch ((k + turn) % 3) {
                case 0: FloorSwipe(identical, bare.Fd(), random, floor); break;
                case 1: PollingSwipe(primary, random, polling); break;
                default: WaitingSwipe(extended, random, waiting); break;
            }
        }
    }
    CloseCom();
    CloseComEx();

    std::printf("\n%-50s %10s %10s\n", "swipe to code (from the first digit)", "median", "p95");
    const auto line = [](const char* name, const Latencies& latencies) {
        std::printf("%-50s %7.1f ms %7.1f ms", name, latencies.Percentile(0.5), latencies.Percentile(0.95));
        if (latencies.wrongCodes > 0) std::printf("  %d WRONG CODES", latencies.wrongCodes);
        std::printf("\n");
    };
    line("floor: read(2) as bytes arrive", floor);
    line("GetCardCode polled every 100 ms", polling);
    line("GetCardCodeEx(code, 10) waiting", waiting);

    using kavex::bench::SummaryRow;
    kavex::bench::AddSummaryRow(
        {"swipe, GetCardCode every 100 ms: median", polling.Percentile(0.5), floor.Percentile(0.5), 0, "ms"});
    kavex::bench::AddSummaryRow(
        {"swipe, GetCardCode every 100 ms: p95", polling.Percentile(0.95), floor.Percentile(0.95), 0, "ms"});
    kavex::bench::AddSummaryRow({"swipe, GetCardCodeEx(code, 10) waiting: median", waiting.Percentile(0.5),
                                 floor.Percentile(0.5), 0, "ms"});
    kavex::bench::AddSummaryRow({"swipe, GetCardCodeEx(code, 10) waiting: p95", waiting.Percentile(0.95),
                                 floor.Percentile(0.95), 0, "ms"});
    kavex::bench::PrintSummary();
    const bool wrong = floor.wrongCodes + polling.wrongCodes + waiting.wrongCodes > 0 ||
                       polling.ms.size() != static_cast<std::size_t>(swipes);
    return wrong ? 1 : 0;
}
