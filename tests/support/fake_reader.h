// A card reader played by the test.
//
// POSIX: a pseudo-terminal whose slave side is mapped as COM<n> under a
// private KAVEX_PREFIX, while the test holds the master side and sends bytes
// at chosen moments.
//
// Windows (the Wine tier): the test cannot create serial lines itself, so
// scripts/test-windows.sh sets up a fixed map before the tests run:
//   COM1..COM4   reader lines: the port the module opens (kFirstLinePort..),
//   COM11..COM14 their partners (COM<n + kPartnerOffset>), the other end of
//                the same null-modem line, which the FakeReader opens to play
//                the device;
//   COM5..COM9   ports without a device.
// The same map works on real Windows with a null-modem emulator (com0com
// pairs COMn <-> COM(n+10)).
#pragma once

#ifndef _WIN32
#include <termios.h>
#endif

#include <string>

namespace kavex::test {

#ifdef _WIN32
constexpr int kFirstLinePort = 1;
constexpr int kLastLinePort = 4;
constexpr int kPartnerOffset = 10;
#endif

// A private KAVEX_PREFIX for one test, removed again at the end. On Windows
// a private scratch directory; the COM ports are the fixed map above.
class TestPrefix {
public:
    TestPrefix();
    ~TestPrefix();
    TestPrefix(const TestPrefix&) = delete;
    TestPrefix& operator=(const TestPrefix&) = delete;

    const std::string& Path() const { return path_; }
    // Points COM<n> at `target` (a tty, or a path that does not exist). On
    // Windows only "no device" on a port of the map without one is possible;
    // anything else throws std::logic_error.
    void Link(int portNumber, const std::string& target) const;

private:
    std::string path_;
};

class FakeReader {
public:
    // Creates the line and maps it as COM<portNumber>. On Windows the line
    // of the fixed map is opened and reset: raw 8N1, no flow control, both
    // directions empty.
    FakeReader(const TestPrefix& prefix, int portNumber);
    ~FakeReader();
    FakeReader(const FakeReader&) = delete;
    FakeReader& operator=(const FakeReader&) = delete;

    // Sends bytes to the host as a reader would.
    void Send(const std::string& bytes) const;
    // The bytes the host has written so far (waits up to timeoutMs for some).
    std::string Received(int timeoutMs = 0) const;
#ifndef _WIN32
    // The line settings the host gave the port; and settings given to the
    // line as another program might have left them.
    termios LineSettings() const;
    void SetLineSettings(const termios& settings) const;
#endif
    // Bytes sent by the reader and not yet read by the host.
    int Pending() const;
    // Waits until at least `count` bytes are queued for the host (the line
    // hands bytes over asynchronously). False on time-out.
    bool WaitForPending(int count, int timeoutMs = 2000) const;
    // Unplugs the reader: the host's port sees its device gone. Not possible
    // on the Windows map (throws std::logic_error); such tests skip there.
    void Disconnect();

    // The device the host opens: a tty path, on Windows "\\.\COM<n>".
    const std::string& DevicePath() const { return slavePath_; }

private:
#ifdef _WIN32
    void* partner_ = nullptr;  // HANDLE of COM<n + kPartnerOffset>
#else
    int master_ = -1;
    int keeper_ = -1;  // a slave descriptor that keeps the line up between opens
#endif
    std::string slavePath_;
};

}  // namespace kavex::test
