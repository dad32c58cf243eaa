// The POSIX reader line: a pseudo-terminal (the Windows line is in
// fake_reader_win32.cpp).
#include "support/fake_reader.h"

#ifndef _WIN32

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <stdexcept>

namespace kavex::test {

TestPrefix::TestPrefix() {
    char pattern[] = "/tmp/kavex-test-XXXXXX";
    if (mkdtemp(pattern) == nullptr) throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
    std::filesystem::create_directories(path_ + "/dosdevices");
    setenv("KAVEX_PREFIX", path_.c_str(), 1);
}

TestPrefix::~TestPrefix() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

void TestPrefix::Link(int portNumber, const std::string& target) const {
    const std::string link = path_ + "/dosdevices/com" + std::to_string(portNumber);
    std::error_code ignored;
    std::filesystem::remove(link, ignored);
    std::filesystem::create_symlink(target, link);
}

FakeReader::FakeReader(const TestPrefix& prefix, int portNumber) {
    master_ = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0) {
        throw std::runtime_error("cannot create a pseudo-terminal");
    }
    slavePath_ = ptsname(master_);
    // The slave starts in cooked mode with echo; a reader's line is raw from
    // the first byte on, before the host opens it.
    keeper_ = open(slavePath_.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    termios settings{};
    tcgetattr(keeper_, &settings);
    cfmakeraw(&settings);
    tcsetattr(keeper_, TCSANOW, &settings);
    prefix.Link(portNumber, slavePath_);
}

FakeReader::~FakeReader() {
    if (keeper_ >= 0) close(keeper_);
    if (master_ >= 0) close(master_);
}

void FakeReader::Send(const std::string& bytes) const {
    size_t sent = 0;
    while (sent < bytes.size()) {
        const ssize_t n = write(master_, bytes.data() + sent, bytes.size() - sent);
        if (n <= 0) throw std::runtime_error("write to the pseudo-terminal failed");
        sent += static_cast<size_t>(n);
    }
    tcdrain(master_);
}

std::string FakeReader::Received(int timeoutMs) const {
    std::string bytes;
    pollfd entry{master_, POLLIN, 0};
    while (poll(&entry, 1, bytes.empty() ? timeoutMs : 0) > 0 && (entry.revents & POLLIN)) {
        char chunk[256];
        const ssize_t n = read(master_, chunk, sizeof chunk);
        if (n <= 0) break;
        bytes.append(chunk, static_cast<size_t>(n));
    }
    return bytes;
}

termios FakeReader::LineSettings() const {
    termios settings{};
    tcgetattr(keeper_, &settings);
    return settings;
}

void FakeReader::SetLineSettings(const termios& settings) const {
    if (tcsetattr(keeper_, TCSANOW, &settings) != 0) throw std::runtime_error("tcsetattr failed");
}

int FakeReader::Pending() const {
    int queued = 0;
    ioctl(keeper_, FIONREAD, &queued);
    return queued;
}

bool FakeReader::WaitForPending(int count, int timeoutMs) const {
    for (int waited = 0; Pending() < count; waited += 2) {
        if (waited >= timeoutMs) return false;
        usleep(2000);
    }
    return true;
}

void FakeReader::Disconnect() {
    close(keeper_);
    keeper_ = -1;
    close(master_);
    master_ = -1;
}

}  // namespace kavex::test

#endif  // !_WIN32
