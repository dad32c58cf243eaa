// A simulated card reader (Linux): a pseudo-terminal whose slave side is
// linked as $KAVEX_PREFIX/dosdevices/comN, so that any host of the library
// opens it as COMN, and which sends card codes as a reader frames them
// (0x02, the digits, CR LF), paced as its line speed paces them.
//
// It plays other readers too (ReaderKind): one with codes of another length,
// one whose bytes arrive as noise, and one at another line speed. A
// pseudo-terminal carries no line speed, so the reader does what a real
// line does when the host's speed differs from its own: the host receives
// noise.
#pragma once

#ifndef _WIN32

#include <atomic>
#include <chrono>
#include <string>

namespace kavexctl {

// What kind of reader to play.
struct ReaderKind {
    int digits = 0;      // 0: codes as given; N: each code's last N digits (zeros in front of a shorter one)
    bool noisy = false;  // every byte arrives as noise, as at a wrong baud rate
    unsigned baud = 1200;  // the reader's line speed
};

class SimulatedReader {
public:
    using Clock = std::chrono::steady_clock;

    // Creates the pseudo-terminal and the link <prefix>/dosdevices/com<n>.
    // A stale link (to a pseudo-terminal that is gone) is replaced; any
    // other existing link is an error. Throws std::runtime_error with a
    // message for the user (also for a line speed it does not know).
    SimulatedReader(const std::string& prefix, int portNumber, const ReaderKind& kind = {});
    // Removes the link and closes the pseudo-terminal.
    ~SimulatedReader();
    SimulatedReader(const SimulatedReader&) = delete;
    SimulatedReader& operator=(const SimulatedReader&) = delete;

    const std::string& DevicePath() const { return devicePath_; }
    const std::string& LinkPath() const { return linkPath_; }

    // The bytes a reader sends for one code.
    static std::string Frame(const std::string& code);
    // True for a code a reader could send: 1 to 50 digits.
    static bool IsValidCode(const std::string& code);
    // The code as a reader of `digits`-digit codes sends it (0: unchanged).
    static std::string Fit(const std::string& code, int digits);
    // What a host receives of `bytes` sent at a baud rate other than its own:
    // as many bytes, none of them a digit or a framing byte.
    static std::string Garble(const std::string& bytes);
    // True for the line speeds a reader can have (300 to 115200 baud).
    static bool IsKnownBaud(unsigned baud);

    // Sends one code byte by byte at line speed, as this kind of reader
    // sends it and the host receives it; *firstByte (when given) receives the
    // moment the first byte went out. Stops early, with false, once *stop
    // becomes true.
    bool Send(const std::string& code, const std::atomic<bool>* stop = nullptr,
              Clock::time_point* firstByte = nullptr);

    // True once a host has opened the port (it set a line speed; the line
    // starts at 50 baud, which no host uses).
    bool HostHasOpened() const;
    // The line speed the host set, 0 before it opened the port.
    unsigned HostBaud() const;
    const ReaderKind& Kind() const { return kind_; }

private:
    ReaderKind kind_;
    std::chrono::microseconds byteTime_;  // start bit, 8 data bits, stop bit
    int master_ = -1;
    int keeper_ = -1;  // a slave descriptor that keeps the line up between opens
    std::string devicePath_;
    std::string linkPath_;
};

}  // namespace kavexctl

#endif
