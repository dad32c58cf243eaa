// The Windows reader line: one line of the fixed COM port map that
// scripts/test-windows.sh sets up (see fake_reader.h). The test plays the
// device through the partner port at the other end of the line.
#include "support/fake_reader.h"

#ifdef _WIN32

#include "platform/win32.h"

#include <atomic>
#include <chrono>
#include <filesystem>
#include <stdexcept>

namespace kavex::test {
namespace {

constexpr int kFirstAbsentPort = 5;
constexpr int kLastAbsentPort = 9;

std::string DeviceName(int portNumber) { return "\\\\.\\COM" + std::to_string(portNumber); }

std::runtime_error LineError(const std::string& what, int portNumber) {
    return std::runtime_error(what + " COM" + std::to_string(portNumber) + " failed (error " +
                              std::to_string(GetLastError()) +
                              "); run the Windows tests through scripts/test-windows.sh");
}

// An exclusive handle on a COM port, closed at the end of the scope.
class PortHandle {
public:
    explicit PortHandle(int portNumber)
        : handle_(CreateFileA(DeviceName(portNumber).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                              OPEN_EXISTING, 0, nullptr)) {}
    ~PortHandle() {
        if (IsValid()) CloseHandle(handle_);
    }
    PortHandle(const PortHandle&) = delete;
    PortHandle& operator=(const PortHandle&) = delete;

    bool IsValid() const { return handle_ != INVALID_HANDLE_VALUE; }
    HANDLE Get() const { return handle_; }
    HANDLE Release() {
        HANDLE handle = handle_;
        handle_ = INVALID_HANDLE_VALUE;
        return handle;
    }

private:
    HANDLE handle_;
};

// Raw 8N1 without flow control, modem lines up, output going, reads that
// return at once, and both directions emptied: the state of a line nobody
// has used.
bool ResetLine(HANDLE port) {
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    if (!GetCommState(port, &dcb)) return false;
    dcb.BaudRate = CBR_9600;
    dcb.ByteSize = 8;
    dcb.Parity = NOPARITY;
    dcb.StopBits = ONESTOPBIT;
    dcb.fBinary = TRUE;
    dcb.fParity = FALSE;
    dcb.fOutxCtsFlow = FALSE;
    dcb.fOutxDsrFlow = FALSE;
    dcb.fDsrSensitivity = FALSE;
    dcb.fOutX = FALSE;
    dcb.fInX = FALSE;
    dcb.fDtrControl = DTR_CONTROL_ENABLE;
    dcb.fRtsControl = RTS_CONTROL_ENABLE;
    COMMTIMEOUTS immediate{MAXDWORD, 0, 0, 0, 0};
    // SETXON: output held back by an earlier test's XOFF goes on.
    return SetCommState(port, &dcb) && SetCommTimeouts(port, &immediate) &&
           EscapeCommFunction(port, SETXON) &&
           PurgeComm(port, PURGE_RXCLEAR | PURGE_TXCLEAR | PURGE_RXABORT | PURGE_TXABORT);
}

// Bytes waiting in the input queue of `port`, or -1.
int InputQueued(HANDLE port) {
    DWORD errors = 0;
    COMSTAT status{};
    if (!ClearCommError(port, &errors, &status)) return -1;
    return static_cast<int>(status.cbInQue);
}

long long MsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start)
        .count();
}

}  // namespace

TestPrefix::TestPrefix() {
    static std::atomic<int> counter{0};
    const std::filesystem::path path =
        std::filesystem::temp_directory_path() /
        ("kavex-test-" + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(counter++));
    std::filesystem::create_directories(path);
    path_ = path.generic_string();
}

TestPrefix::~TestPrefix() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

void TestPrefix::Link(int portNumber, const std::string& target) const {
    // The map is fixed for the run: a port can only be asked to be what it
    // already is, one without a device.
    const bool absentPort = portNumber >= kFirstAbsentPort && portNumber <= kLastAbsentPort;
    std::error_code ignored;
    if (!absentPort || std::filesystem::exists(target, ignored)) {
        throw std::logic_error("COM" + std::to_string(portNumber) + " cannot be pointed at " + target +
                               " on Windows: COM5..COM9 are the ports without a device");
    }
}

FakeReader::FakeReader(const TestPrefix& /*prefix*/, int portNumber) : slavePath_(DeviceName(portNumber)) {
    if (portNumber < kFirstLinePort || portNumber > kLastLinePort) {
        throw std::logic_error("no reader line on COM" + std::to_string(portNumber) + " on Windows (COM" +
                               std::to_string(kFirstLinePort) + "..COM" + std::to_string(kLastLinePort) +
                               ")");
    }
    {
        // What an earlier test left on the host's side goes.
        PortHandle host(portNumber);
        if (!host.IsValid() || !ResetLine(host.Get())) throw LineError("resetting", portNumber);
    }
    PortHandle partner(portNumber + kPartnerOffset);
    if (!partner.IsValid() || !ResetLine(partner.Get()))
        throw LineError("opening", portNumber + kPartnerOffset);
    partner_ = partner.Release();
}

FakeReader::~FakeReader() {
    if (partner_ != nullptr) CloseHandle(partner_);
}

void FakeReader::Send(const std::string& bytes) const {
    size_t sent = 0;
    while (sent < bytes.size()) {
        DWORD written = 0;
        if (!WriteFile(partner_, bytes.data() + sent, static_cast<DWORD>(bytes.size() - sent), &written,
                       nullptr) ||
            written == 0) {
            throw std::runtime_error("write to the reader line failed");
        }
        sent += written;
    }
    FlushFileBuffers(partner_);
}

std::string FakeReader::Received(int timeoutMs) const {
    std::string bytes;
    const auto start = std::chrono::steady_clock::now();
    for (;;) {
        char chunk[256];
        DWORD got = 0;
        if (!ReadFile(partner_, chunk, sizeof chunk, &got, nullptr)) break;
        if (got > 0) {
            bytes.append(chunk, got);
            continue;  // take whatever else has arrived
        }
        if (!bytes.empty() || MsSince(start) >= timeoutMs) break;
        Sleep(2);
    }
    return bytes;
}

int FakeReader::Pending() const {
    // The host's side of the line, through a handle of its own: Wine lets a
    // second handle open a port that the module holds.
    const int portNumber = std::stoi(slavePath_.substr(7));
    PortHandle host(portNumber);
    return host.IsValid() ? InputQueued(host.Get()) : -1;
}

bool FakeReader::WaitForPending(int count, int timeoutMs) const {
    const auto start = std::chrono::steady_clock::now();
    while (Pending() < count) {
        if (MsSince(start) >= timeoutMs) return false;
        Sleep(2);
    }
    return true;
}

void FakeReader::Disconnect() {
    throw std::logic_error("a reader line of the Windows map cannot be unplugged");
}

}  // namespace kavex::test

#endif  // _WIN32
