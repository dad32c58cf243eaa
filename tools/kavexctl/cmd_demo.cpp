// kavexctl demo: the library's main job on a built-in simulated reader. A
// simulated reader on a private KAVEX_PREFIX sends a few codes at 1200 baud
// while kavexctl reads them through the library's exported functions, as
// any host would.
#include <cstdio>

#include "kavexctl/commands.h"
#include "kavexctl/options.h"

#ifdef _WIN32

namespace kavexctl {

void PrintDemoUsage(FILE* out) {
    std::fprintf(out, "usage: kavexctl demo\n\nReads codes from a built-in simulated reader (Linux only).\n");
}

int RunDemo(int, char**) {
    std::fprintf(stderr,
                 "kavexctl demo: needs Linux pseudo-terminals; on Windows try 'kavexctl read COMn' "
                 "with a reader.\n");
    return kExitUnavailable;
}

}  // namespace kavexctl

#else

#include <stdlib.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "kavexctl/library.h"
#include "kavexctl/signals.h"
#include "kavexctl/simulated_reader.h"

namespace kavexctl {

namespace {

using Clock = std::chrono::steady_clock;

constexpr const char* kCodes[] = {"0012345678", "4085551234", "9876543210"};
constexpr int kCodeCount = sizeof kCodes / sizeof kCodes[0];
constexpr int kPortNumber = 1;
constexpr auto kGap = std::chrono::milliseconds(250);  // between cards
constexpr auto kTimeLimit = std::chrono::seconds(20);  // the demo gives up after this

// A private KAVEX_PREFIX, removed again at the end.
class PrivatePrefix {
public:
    PrivatePrefix() {
        char pattern[] = "/tmp/kavex-demo-XXXXXX";
        if (mkdtemp(pattern) == nullptr) {
            throw std::runtime_error(std::string("cannot create a directory in /tmp: ") +
                                     std::strerror(errno));
        }
        path_ = pattern;
    }
    ~PrivatePrefix() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    PrivatePrefix(const PrivatePrefix&) = delete;
    PrivatePrefix& operator=(const PrivatePrefix&) = delete;
    const std::string& Path() const { return path_; }

private:
    std::string path_;
};

// The moments the simulated reader began sending each code.
class SendLog {
public:
    void Started(Clock::time_point when) {
        std::lock_guard<std::mutex> lock(mutex_);
        starts_.push_back(when);
    }
    bool StartOf(int index, Clock::time_point* when) {
        std::lock_guard<std::mutex> lock(mutex_);
        if (index >= static_cast<int>(starts_.size())) return false;
        *when = starts_[static_cast<size_t>(index)];
        return true;
    }

private:
    std::mutex mutex_;
    std::vector<Clock::time_point> starts_;
};

int Demo() {
    PrivatePrefix prefix;
    // The library finds COMn under KAVEX_PREFIX when it opens the port.
    setenv("KAVEX_PREFIX", prefix.Path().c_str(), 1);
    SimulatedReader reader(prefix.Path(), kPortNumber);

    KavexLibrary library;
    if (!library.LoadFor("demo", {"OpenComEx", "GetCardCodeEx", "CloseComEx"})) return kExitUnavailable;
    const KavexFunctions& kavex = library.Functions();

    // Ctrl-C or the time limit closes the port, which ends a waiting
    // GetCardCodeEx (see cmd_read.cpp).
    std::mutex libraryLock;
    bool open = false;
    std::atomic<bool> stop{false};
    StopSignals signals([&] {
        stop = true;
        std::lock_guard<std::mutex> lock(libraryLock);
        if (open) kavex.CloseComEx();
        open = false;
    });

    std::printf(
        "Kavex demo: a simulated card reader on COM%d (%s) sends %d codes at 1200 baud;\n"
        "kavexctl reads them through %s (OpenComEx, GetCardCodeEx, CloseComEx).\n\n",
        kPortNumber, reader.DevicePath().c_str(), kCodeCount, library.Path().c_str());
    std::fflush(stdout);
    {
        std::lock_guard<std::mutex> lock(libraryLock);
        if (kavex.OpenComEx("COM1", 0) != 1) {
            std::fprintf(stderr, "kavexctl demo: the library could not open the simulated reader's port\n");
            return kExitFailure;
        }
        open = true;
    }

    SendLog log;
    std::mutex doneMutex;
    std::condition_variable doneSignal;
    bool done = false;
    std::thread sender([&] {
        for (int i = 0; i < kCodeCount && !stop; ++i) {
            if (i > 0) std::this_thread::sleep_for(kGap);
            log.Started(Clock::now());
            reader.Send(kCodes[i], &stop);
        }
    });
    std::thread watchdog([&] {
        std::unique_lock<std::mutex> lock(doneMutex);
        if (!doneSignal.wait_for(lock, kTimeLimit, [&] { return done; })) signals.Trigger();
    });

    int result = kExitOk;
    int read = 0;
    for (; read < kCodeCount; ++read) {
        char code[11] = {};
        const int got = kavex.GetCardCodeEx(code, 10);
        const Clock::time_point now = Clock::now();
        if (got != 10) break;
        Clock::time_point start;
        const long long ms = log.StartOf(read, &start)
                                 ? std::chrono::duration_cast<std::chrono::milliseconds>(now - start).count()
                                 : -1;
        const bool expected = std::strcmp(code, kCodes[read]) == 0;
        std::printf("  card %d: %s   read %lld ms after its first byte was sent%s\n", read + 1, code, ms,
                    expected ? "" : "   (NOT the code sent!)");
        std::fflush(stdout);
        if (!expected) result = kExitFailure;
    }

    {
        std::lock_guard<std::mutex> lock(doneMutex);
        done = true;
    }
    doneSignal.notify_all();
    watchdog.join();
    stop = true;
    sender.join();
    {
        std::lock_guard<std::mutex> lock(libraryLock);
        if (open && kavex.CloseComEx() != 1) result = kExitFailure;
        open = false;
    }

    if (read < kCodeCount) {
        std::fprintf(stderr, "\nkavexctl demo: %s after %d of %d codes\n",
                     signals.Stopped() ? "stopped" : "the port stopped answering", read, kCodeCount);
        return result == kExitOk ? kExitFailure : result;
    }
    if (result == kExitOk) {
        std::printf(
            "\nDone: %d codes read. A code's 0x02 and ten digits take about 90 ms on the line,\n"
            "and the library hands the code over as soon as its last digit is in.\n"
            "Try your own host with 'kavexctl simulate --help'.\n",
            kCodeCount);
    }
    return result;
}

}  // namespace

void PrintDemoUsage(FILE* out) {
    std::fprintf(out,
                 "usage: kavexctl demo\n\nReads %d card codes from a built-in simulated reader through the "
                 "library's exported functions and prints each with its delay. Exit code 0 when every "
                 "code arrived intact.\n",
                 kCodeCount);
}

int RunDemo(int argc, char** argv) {
    ParsedArgs args;
    if (!ParseArgs("demo", argc, argv, {}, &args)) return kExitUsage;
    if (args.help) {
        PrintDemoUsage(stdout);
        return kExitOk;
    }
    if (!args.operands.empty()) {
        PrintDemoUsage(stderr);
        return kExitUsage;
    }
    try {
        return Demo();
    } catch (const std::exception& error) {
        std::fprintf(stderr, "kavexctl demo: %s\n", error.what());
        return kExitFailure;
    }
}

}  // namespace kavexctl

#endif
