// A simulated card reader (Linux): a pseudo-terminal whose slave side is
// linked as $KAVEX_PREFIX/dosdevices/comN, so that any host of the library
// opens it as COMN, and which sends card codes as a reader frames them
// (0x02, the digits, CR LF), paced as a 1200-baud line paces them.
#pragma once

#ifndef _WIN32

#include <atomic>
#include <chrono>
#include <string>

namespace kavexctl {

class SimulatedReader {
public:
    using Clock = std::chrono::steady_clock;

    // One byte on the line: a start bit, 8 data bits and a stop bit at 1200 baud.
    static constexpr std::chrono::microseconds kByteTime{10 * 1000000 / 1200};

    // Creates the pseudo-terminal and the link <prefix>/dosdevices/com<n>.
    // A stale link (to a pseudo-terminal that is gone) is replaced; any
    // other existing link is an error. Throws std::runtime_error with a
    // message for the user.
    SimulatedReader(const std::string& prefix, int portNumber);
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

    // Sends one framed code byte by byte at line speed; *firstByte (when
    // given) receives the moment the first byte went out. Stops early, with
    // false, once *stop becomes true.
    bool Send(const std::string& code, const std::atomic<bool>* stop = nullptr,
              Clock::time_point* firstByte = nullptr);

    // True once a host has opened the port as a reader port (the line was
    // set to 1200 baud; it starts at 9600).
    bool HostHasOpened() const;

private:
    int master_ = -1;
    int keeper_ = -1;  // a slave descriptor that keeps the line up between opens
    std::string devicePath_;
    std::string linkPath_;
};

}  // namespace kavexctl

#endif
