// CSerialPort: owner of one Win32 communications handle, with the port's
// operations as thin methods over the Win32 communications API.
//
// Every method that wraps a Win32 call throws a CSerialException (by
// pointer, see serial_exception.h) carrying the Win32 error code when the
// call fails; no method reports failure through its result, and none checks
// that the port is open (a closed port's call fails and throws).
#pragma once

#include "framework/object.h"
#include "platform/win32.h"

// Parity choices of Open. The values are part of the interface and do not
// follow the Win32 constants: 0 is even parity and 2 no parity.
enum class SerialParity : int { Even = 0, Mark = 1, None = 2, Odd = 3, Space = 4 };
enum class SerialStopBits : int { One = 0, OnePointFive = 1, Two = 2 };
enum class SerialFlowControl : int { None = 0, CtsRts = 1, CtsDtr = 2, DsrRts = 3, DsrDtr = 4, XonXoff = 5 };

class CSerialPort : public CObject {
    KAVEX_DECLARE_DYNAMIC(CSerialPort)

public:
    CSerialPort() = default;
    ~CSerialPort() override;
    CSerialPort(const CSerialPort&) = delete;
    CSerialPort& operator=(const CSerialPort&) = delete;

    // Lifecycle. Open opens "\\.\COM<port>" exclusively and applies the line
    // settings; once the device is open the object owns it, even when
    // applying the settings then fails.
    void Open(int port, DWORD baudRate, SerialParity parity, BYTE dataBits, SerialStopBits stopBits,
              SerialFlowControl flowControl, BOOL overlapped);
    void Close();
    void Attach(HANDLE handle);
    HANDLE Detach();
    bool IsOpen() const { return m_hPort != INVALID_HANDLE_VALUE && m_hPort != nullptr; }

    // Synchronous transfers; each returns the bytes transferred.
    DWORD Read(void* buffer, DWORD count);
    DWORD Write(const void* buffer, DWORD count);

    // Line settings and configuration.
    void GetDcb(DCB& dcb);
    void SetDcb(DCB& dcb);
    void GetConfig(COMMCONFIG& config);
    void SetConfig(COMMCONFIG& config);
    static void GetDefaultConfig(int port, COMMCONFIG& config);
    static void SetDefaultConfig(int port, COMMCONFIG& config);
    void SetQueueSizes(DWORD inQueue, DWORD outQueue);

    // Break, modem status and errors.
    void SetBreak();
    void ClearBreak();
    void GetModemStatus(DWORD& status);
    void ClearErrors(DWORD& errors);
    void ClearErrors(COMSTAT& status);

    // Buffers and time-outs.
    void Flush();
    void Purge(DWORD flags);
    void AbortWrites();
    void AbortReads();
    void ClearOutputBuffer();
    void ClearInputBuffer();
    void GetTimeouts(COMMTIMEOUTS& timeouts);
    void SetTimeouts(COMMTIMEOUTS& timeouts);
    // Reads return at once with what has arrived; no write time-outs.
    void SetPollingTimeouts();
    // Write time-outs off, read time-outs kept.
    void DisableWriteTimeouts();
    // Reads return at once with what has arrived, write time-outs kept.
    void SetImmediateReadTimeouts();

    HANDLE m_hPort = INVALID_HANDLE_VALUE;
    BOOL m_bOverlapped = FALSE;
};
