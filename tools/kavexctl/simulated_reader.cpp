#ifndef _WIN32

#include "kavexctl/simulated_reader.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <stdexcept>
#include <thread>

namespace kavexctl {

namespace fs = std::filesystem;

namespace {

struct LineSpeed {
    unsigned baud;
    speed_t speed;
};

constexpr LineSpeed kLineSpeeds[] = {
    {300, B300},   {600, B600},     {1200, B1200},   {2400, B2400},   {4800, B4800},
    {9600, B9600}, {19200, B19200}, {38400, B38400}, {57600, B57600}, {115200, B115200},
};

// The line starts at this speed, so a host's open shows as a change.
constexpr speed_t kUnopenedSpeed = B50;

// A link left behind by a simulated reader that did not end cleanly.
bool IsStalePseudoTerminalLink(const std::string& link) {
    std::error_code error;
    const fs::path target = fs::read_symlink(link, error);
    if (error) return false;
    return target.string().rfind("/dev/pts/", 0) == 0 && !fs::exists(target, error);
}

}  // namespace

SimulatedReader::SimulatedReader(const std::string& prefix, int portNumber, const ReaderKind& kind)
    : kind_(kind), byteTime_(10 * 1000000 / (kind.baud == 0 ? 1 : kind.baud)) {
    if (!IsKnownBaud(kind.baud))
        throw std::runtime_error("no reader sends at " + std::to_string(kind.baud) + " baud");
    const std::string directory = prefix + "/dosdevices";
    std::error_code error;
    fs::create_directories(directory, error);
    if (error) {
        throw std::runtime_error("cannot create " + directory + ": " + error.message() +
                                 "; set KAVEX_PREFIX to a directory you can write");
    }
    linkPath_ = directory + "/com" + std::to_string(portNumber);
    struct stat info {};
    if (lstat(linkPath_.c_str(), &info) == 0) {
        if (!IsStalePseudoTerminalLink(linkPath_)) {
            throw std::runtime_error("COM" + std::to_string(portNumber) + " is already mapped (" + linkPath_ +
                                     "); choose another port with --port");
        }
        fs::remove(linkPath_, error);
    }

    master_ = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0) {
        const std::string reason = std::strerror(errno);
        if (master_ >= 0) close(master_);
        throw std::runtime_error("cannot create a pseudo-terminal: " + reason);
    }
    devicePath_ = ptsname(master_);
    // A reader's line is raw from the first byte on, before any host opens
    // it.
    keeper_ = open(devicePath_.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    termios settings{};
    if (keeper_ < 0 || tcgetattr(keeper_, &settings) != 0) {
        const std::string reason = std::strerror(errno);
        if (keeper_ >= 0) close(keeper_);
        close(master_);
        throw std::runtime_error("cannot open " + devicePath_ + ": " + reason);
    }
    cfmakeraw(&settings);
    cfsetspeed(&settings, kUnopenedSpeed);
    tcsetattr(keeper_, TCSANOW, &settings);

    fs::create_symlink(devicePath_, linkPath_, error);
    if (error) {
        close(keeper_);
        close(master_);
        throw std::runtime_error("cannot create " + linkPath_ + ": " + error.message());
    }
}

SimulatedReader::~SimulatedReader() {
    std::error_code ignored;
    fs::remove(linkPath_, ignored);
    close(keeper_);
    close(master_);
}

std::string SimulatedReader::Frame(const std::string& code) { return "\x02" + code + "\r\n"; }

bool SimulatedReader::IsValidCode(const std::string& code) {
    if (code.empty() || code.size() > 50) return false;
    for (char c : code) {
        if (c < '0' || c > '9') return false;
    }
    return true;
}

std::string SimulatedReader::Fit(const std::string& code, int digits) {
    if (digits <= 0) return code;
    const size_t length = static_cast<size_t>(digits);
    if (code.size() >= length) return code.substr(code.size() - length);
    return std::string(length - code.size(), '0') + code;
}

std::string SimulatedReader::Garble(const std::string& bytes) {
    // Sampled at the wrong rate, a byte's bits land in the wrong places;
    // with the high bit set, none of the results is a digit, 0x02, CR or LF.
    std::string garbled(bytes.size(), '\0');
    for (size_t i = 0; i < bytes.size(); ++i) {
        const unsigned value = static_cast<unsigned char>(bytes[i]);
        garbled[i] = static_cast<char>(0x80u | ((value * 37u + static_cast<unsigned>(i) * 11u) & 0x7Fu));
    }
    return garbled;
}

bool SimulatedReader::IsKnownBaud(unsigned baud) {
    for (const LineSpeed& entry : kLineSpeeds) {
        if (entry.baud == baud) return true;
    }
    return false;
}

bool SimulatedReader::Send(const std::string& code, const std::atomic<bool>* stop,
                           Clock::time_point* firstByte) {
    std::string frame = Frame(Fit(code, kind_.digits));
    if (kind_.noisy || HostBaud() != kind_.baud) frame = Garble(frame);
    // Each byte leaves at its own moment on a fixed schedule, so a late
    // wake-up does not slow the bytes after it.
    const Clock::time_point start = Clock::now();
    if (firstByte != nullptr) *firstByte = start;
    for (size_t i = 0; i < frame.size(); ++i) {
        if (stop != nullptr && stop->load()) return false;
        std::this_thread::sleep_until(start + byteTime_ * static_cast<int>(i));
        ssize_t written;
        do {
            written = write(master_, &frame[i], 1);
        } while (written < 0 && errno == EINTR);
        if (written != 1) return false;
    }
    // The last byte takes its own time on the line.
    std::this_thread::sleep_until(start + byteTime_ * static_cast<int>(frame.size()));
    return true;
}

bool SimulatedReader::HostHasOpened() const {
    termios settings{};
    return tcgetattr(keeper_, &settings) == 0 && cfgetospeed(&settings) != kUnopenedSpeed;
}

unsigned SimulatedReader::HostBaud() const {
    termios settings{};
    if (tcgetattr(keeper_, &settings) != 0) return 0;
    const speed_t speed = cfgetospeed(&settings);
    for (const LineSpeed& entry : kLineSpeeds) {
        if (entry.speed == speed) return entry.baud;
    }
    return 0;
}

}  // namespace kavexctl

#endif
