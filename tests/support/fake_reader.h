// A card reader played by the test: a pseudo-terminal whose slave side is
// mapped as COM<n> under a private KAVEX_PREFIX, while the test holds the
// master side and sends bytes at chosen moments.
#pragma once

#include <termios.h>

#include <string>

namespace kavex::test {

// A private KAVEX_PREFIX for one test, removed again at the end.
class TestPrefix {
public:
    TestPrefix();
    ~TestPrefix();
    TestPrefix(const TestPrefix&) = delete;
    TestPrefix& operator=(const TestPrefix&) = delete;

    const std::string& Path() const { return path_; }
    // Points COM<n> at `target` (a tty, or a path that does not exist).
    void Link(int portNumber, const std::string& target) const;

private:
    std::string path_;
};

class FakeReader {
public:
    // Creates the pseudo-terminal and maps it as COM<portNumber>.
    FakeReader(const TestPrefix& prefix, int portNumber);
    ~FakeReader();
    FakeReader(const FakeReader&) = delete;
    FakeReader& operator=(const FakeReader&) = delete;

    // Sends bytes to the host as a reader would.
    void Send(const std::string& bytes) const;
    // The bytes the host has written so far (waits up to timeoutMs for some).
    std::string Received(int timeoutMs = 0) const;
    // The line settings the host gave the port.
    termios LineSettings() const;
    // Bytes sent by the reader and not yet read by the host.
    int Pending() const;
    // Waits until at least `count` bytes are queued for the host (the
    // pseudo-terminal hands bytes over asynchronously). False on time-out.
    bool WaitForPending(int count, int timeoutMs = 2000) const;
    // Unplugs the reader: the host's port sees its device gone.
    void Disconnect();

    const std::string& DevicePath() const { return slavePath_; }

private:
    int master_ = -1;
    int keeper_ = -1;  // a slave descriptor that keeps the line up between opens
    std::string slavePath_;
};

}  // namespace kavex::test
