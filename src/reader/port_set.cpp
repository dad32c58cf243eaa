#include "reader/port_set.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>

#include "serial/cancel_io_loader.h"
#include "serial/serial_exception.h"

namespace {

// The lock of a port object and the signal of its closing.
struct PortGuard {
    PortLock lock;
    std::condition_variable_any closed;
};

// One guard per port object of the module, and one shared by any other port
// object the reader functions are given (the tests give them their own).
// They are built before, and so destroyed after, the port objects.
PortGuard g_PortGuards[7];

}  // namespace

// Every module-level object lives in this one translation unit, so they are
// constructed in the order written here when the module loads and destroyed
// in the reverse order when it unloads: the application object first, then
// the primary, further and extended ports, then the loader of "CancelIo". A
// port still open at unload is closed by its destructor.
CKavexApp g_KavexApp;
CSerialPort g_ComPort;
CSerialPort g_FurtherComPort1;
CSerialPort g_FurtherComPort2;
CSerialPort g_FurtherComPort3;
CSerialPort g_FurtherComPort4;
CSerialPort g_ComPortEx;
CCancelIoLoader g_CancelIoLoader;

namespace {

PortGuard& GuardOf(const CSerialPort& port) {
    const CSerialPort* const ports[] = {&g_ComPort,         &g_FurtherComPort1, &g_FurtherComPort2,
                                        &g_FurtherComPort3, &g_FurtherComPort4, &g_ComPortEx};
    for (int k = 0; k < 6; ++k) {
        if (ports[k] == &port) return g_PortGuards[k];
    }
    return g_PortGuards[6];
}

}  // namespace

std::unique_lock<PortLock> LockPort(const CSerialPort& port) {
    return std::unique_lock<PortLock>(GuardOf(port).lock);
}

void WaitForQueuedBytes(CSerialPort& port, DWORD bytes, DWORD ms) {
    // A byte takes 8.3 ms on the line at 1200 baud.
    constexpr auto kLookEvery = std::chrono::milliseconds(4);
    PortGuard& guard = GuardOf(port);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    std::unique_lock<PortLock> lock(guard.lock);
    for (;;) {
        if (!port.IsOpen()) return;
        try {
            COMSTAT status{};
            port.ClearErrors(status);
            if (status.cbInQue >= bytes) return;
        } catch (CSerialException* error) {
            error->Delete();  // the read after the wait meets the failure itself
            return;
        }
        const auto now = std::chrono::steady_clock::now();
        if (now >= deadline) return;
        guard.closed.wait_until(lock, std::min(deadline, now + kLookEvery));
    }
}

CSerialPort* FurtherComPort(int readerType) {
    switch (readerType) {
        case 1: return &g_FurtherComPort1;
        case 2: return &g_FurtherComPort2;
        case 3: return &g_FurtherComPort3;
        case 4: return &g_FurtherComPort4;
        default: return nullptr;
    }
}

int PortNumberFromName(const char* portName) {
    if (portName == nullptr) return -'0';
    // Stop at the terminator: never read past the end of a short name.
    for (int i = 0; i < 3; ++i) {
        if (portName[i] == '\0') return -'0';
    }
    return static_cast<signed char>(portName[3]) - '0';
}

int OpenComPort(CSerialPort& port, int portNumber) {
    const auto lock = LockPort(port);
    try {
        // The system knows no default configuration for a port that does
        // not exist, which ends the sequence before anything is opened.
        COMMCONFIG config{};
        CSerialPort::GetDefaultConfig(portNumber, config);

        if (port.IsOpen()) port.Close();
        port.Open(portNumber, 1200, SerialParity::None, 8, SerialStopBits::One, SerialFlowControl::XonXoff,
                  FALSE);
        port.Attach(port.Detach());

        DWORD modemStatus = 0;
        port.GetModemStatus(modemStatus);

        DCB dcb{};
        dcb.DCBlength = sizeof(DCB);
        port.GetDcb(dcb);
        dcb.BaudRate = 1200;
        port.SetDcb(dcb);

        DWORD errors = 0;
        port.ClearErrors(errors);
        port.SetBreak();
        port.ClearBreak();
        COMSTAT status{};
        port.ClearErrors(status);

        COMMTIMEOUTS timeouts{};
        port.GetTimeouts(timeouts);
        port.SetQueueSizes(10000, 10000);

        config = COMMCONFIG{};
        port.GetConfig(config);
        config.dcb.BaudRate = 1200;
        port.SetConfig(config);

        port.DisableWriteTimeouts();
        port.SetImmediateReadTimeouts();
        return 1;
    } catch (CSerialException* error) {
        error->Delete();
        return 0;
    }
}

int CloseComPort(CSerialPort& port) {
    PortGuard& guard = GuardOf(port);
    int result = 1;
    {
        const std::lock_guard<PortLock> lock(guard.lock);
        if (!port.IsOpen()) return 1;
        try {
            port.ClearOutputBuffer();
            port.ClearInputBuffer();
            port.Flush();
            port.Close();
        } catch (CSerialException* error) {
            error->Delete();
            // The purge or flush failed, as on a device that has gone away:
            // the close still fails, but the handle is released, so that the
            // device is not held until the next open or the module's unload.
            port.Close();
            result = 0;
        }
    }
    guard.closed.notify_all();  // a read function waiting on the port returns
    return result;
}
