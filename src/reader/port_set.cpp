#include "reader/port_set.h"

#include "serial/cancel_io_loader.h"
#include "serial/serial_exception.h"

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
    if (!port.IsOpen()) return 1;
    try {
        port.ClearOutputBuffer();
        port.ClearInputBuffer();
        port.Flush();
        port.Close();
        return 1;
    } catch (CSerialException* error) {
        error->Delete();
        return 0;
    }
}
