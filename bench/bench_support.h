// What the benchmarks share: reader lines on pseudo-terminals under a
// private prefix, a host program's directory with its "ipportconfig.ini",
// the least work each measured call must do (its floor), the comparison of a
// call with its floor in interleaved rounds, and the process's resources.
#pragma once

#include <termios.h>
#include <unistd.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace kavex::bench {

// Nanoseconds of the monotonic clock.
double NowNs();

// A private KAVEX_PREFIX, removed again at the end.
class Prefix {
public:
    Prefix();
    ~Prefix();
    Prefix(const Prefix&) = delete;
    Prefix& operator=(const Prefix&) = delete;

    // Maps COM<portNumber> to `target`.
    void Link(int portNumber, const std::string& target) const;

private:
    std::string path_;
};

// A reader line: a pseudo-terminal whose master side the benchmark holds,
// its slave side kept open in raw mode (as a reader's line is before the host
// opens it). Optionally mapped as COM<portNumber>.
class Line {
public:
    Line();
    Line(const Prefix& prefix, int portNumber);
    ~Line();
    Line(const Line&) = delete;
    Line& operator=(const Line&) = delete;

    const std::string& SlavePath() const { return slavePath_; }
    int Master() const { return master_; }
    // Sends bytes as the reader does (all at once).
    void Send(const char* bytes, std::size_t count) const;

private:
    int master_ = -1;
    int keeper_ = -1;
    std::string slavePath_;
};

// The slave side of a line opened as the floors use it: non-blocking, raw.
class BareEnd {
public:
    explicit BareEnd(const Line& line);
    ~BareEnd();
    BareEnd(const BareEnd&) = delete;
    BareEnd& operator=(const BareEnd&) = delete;
    int Fd() const { return fd_; }

private:
    int fd_ = -1;
};

// The directory of a made-up host program: the module looks for
// "ipportconfig.ini" there.
class HostDirectory {
public:
    HostDirectory();
    ~HostDirectory();
    HostDirectory(const HostDirectory&) = delete;
    HostDirectory& operator=(const HostDirectory&) = delete;

    const std::string& ConfigPath() const { return configPath_; }
    // Writes a sealed configuration with these further reader ports.
    void WriteConfig(std::array<int, 4> furtherPorts) const;

private:
    std::string path_;
    std::string configPath_;
};

// The floors: the least work of each measured call, written plainly.
namespace floors {
// A non-blocking read(2) of up to ten bytes, made where it is called as a
// host's poll makes it; the bytes read (0 when none).
inline int Read(int fd, char* buffer) {
    const ssize_t n = read(fd, buffer, 10);
    return n > 0 ? static_cast<int>(n) : 0;
}
// RC4 over `length` bytes in place, with a fresh key schedule (textbook).
void Rc4(const std::uint8_t* key, int keyLength, std::uint8_t* buffer, int length);
// zlib's crc32.
std::uint32_t Crc32(const std::uint8_t* data, std::size_t length);
// open, one read of the whole record, close; RC4 over it; CRC-32 over all
// but its trailer; then one read(2) of the reader line. True when the
// record verified.
bool LoadConfigAndPoll(const char* path, int lineFd);
// open, one tcsetattr, close.
bool OpenAndClose(const char* path, const termios& settings);
}  // namespace floors

// A call measured against its floor: each round runs `calls` of each, the
// order alternating from round to round, and records the time per call of
// both; the figures are the medians over the rounds.
class Comparison {
public:
    Comparison(std::string figure, double target) : figure_(std::move(figure)), target_(target) {}

    template <class Call, class Floor>
    void Round(int calls, Call call, Floor floor) {
        const bool floorFirst = (rounds_++ % 2) == 1;
        if (floorFirst) floorNs_.push_back(Time(calls, floor));
        callNs_.push_back(Time(calls, call));
        if (!floorFirst) floorNs_.push_back(Time(calls, floor));
    }

    double CallNs() const { return Median(callNs_); }
    double FloorNs() const { return Median(floorNs_); }
    double Ratio() const { return FloorNs() > 0 ? CallNs() / FloorNs() : 0; }
    // Adds the figure to the summary printed at the end.
    void Record() const;

private:
    template <class Body>
    static double Time(int calls, Body body) {
        const double start = NowNs();
        for (int k = 0; k < calls; ++k) body();
        return (NowNs() - start) / calls;
    }
    static double Median(std::vector<double> values);

    std::string figure_;
    double target_;
    int rounds_ = 0;
    std::vector<double> callNs_;
    std::vector<double> floorNs_;
};

// One line of the summary: a figure, what it is measured against, how far
// it may be from it.
struct SummaryRow {
    std::string figure;
    double value = 0;  // the call: ns, or ms for latencies
    double floor = 0;  // its floor, same unit
    double target = 0;
    const char* unit = "ns";
};
void AddSummaryRow(const SummaryRow& row);
void PrintSummary();

// What the process holds: resident memory, heap in use, open descriptors.
struct Resources {
    long residentKb = 0;
    long heapBytes = 0;
    int descriptors = 0;
};
Resources CurrentResources();

// True when the check of memory and descriptors over a million polls failed.
bool FlatnessFailed();

}  // namespace kavex::bench
