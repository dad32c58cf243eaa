// CSerialPort: owner of one Win32 communications handle, with the port's
// operations as thin methods over the Win32 communications API.
//
// Every method that wraps a Win32 call throws a CSerialException (by
// pointer, see serial_exception.h) carrying the Win32 error code when the
// call fails; no method reports failure through its result, and none checks
// that the port is open (a closed port's call fails and throws). The
// overlapped methods report only whether a transfer has completed or is
// still under way, which is no failure.
//
// A port opened with overlapped I/O takes the overlapped and completion-
// routine transfers; one opened without it the synchronous ones.
#pragma once

#include "framework/object.h"
#include "platform/win32.h"
#include "serial/serial_exception.h"

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

    // Synchronous transfers; each returns the bytes transferred. Read is
    // defined here, in the reader's polling path, so that a poll returns
    // through one frame fewer after its system call.
    DWORD Read(void* buffer, DWORD count) {
        DWORD received = 0;
        if (!ReadFile(m_hPort, buffer, count, &received, nullptr)) ThrowSerialException();
        return received;
    }
    DWORD Write(const void* buffer, DWORD count);

    // Overlapped transfers through the caller's OVERLAPPED (with an event in
    // hEvent to wait on). TRUE: completed at once; FALSE: under way, to be
    // completed through `overlapped`, which must outlive the transfer.
    BOOL ReadOverlapped(void* buffer, DWORD count, OVERLAPPED& overlapped);
    BOOL WriteOverlapped(const void* buffer, DWORD count, OVERLAPPED& overlapped);
    // TRUE when the transfer of `overlapped` has completed (`transferred`
    // receives its bytes), FALSE while it is still under way. With `wait`
    // it returns once the transfer has completed. A transfer that ended in
    // an error (ERROR_OPERATION_ABORTED when cancelled) throws that error.
    BOOL QueryOverlappedResult(OVERLAPPED& overlapped, DWORD& transferred, BOOL wait);

    // Completion-routine transfers. Each takes a new completion record, a
    // zero-filled OVERLAPPED whose hEvent holds this object, and ends by
    // running OnIoCompletion on the thread that started it, during one of
    // that thread's alertable waits (SleepEx, WaitForSingleObjectEx). The
    // buffer must stay valid until then. When the record cannot be
    // allocated, nothing starts and the error is ERROR_NOT_ENOUGH_MEMORY;
    // when the transfer cannot start, the record is freed before the throw.
    void ReadWithCompletion(void* buffer, DWORD count);
    void WriteWithCompletion(const void* buffer, DWORD count);

    // Ends the calling thread's pending transfers and event wait on this
    // port; each completes with ERROR_OPERATION_ABORTED. The system's
    // "CancelIo" is found at run time (cancel_io_loader.h); without it this
    // throws ERROR_CALL_NOT_IMPLEMENTED (120) and calls nothing.
    void CancelPendingIo();

    // A completion-routine transfer has ended (errorCode 0, or its Win32
    // error code). The default frees the record. An override takes over
    // freeing it, most simply by calling this one; it runs inside the
    // system's wait and must not throw.
    virtual void OnIoCompletion(DWORD errorCode, DWORD transferred, OVERLAPPED* record);
    // The completion routine of both transfers: hands the transfer's end to
    // OnIoCompletion of the port that the record's hEvent holds.
    static void CALLBACK SerialIoCompletionRoutine(DWORD errorCode, DWORD transferred, OVERLAPPED* record);

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

    // Line control: one character ahead of any pending output, and the
    // escape functions (EscapeCommFunction's SETXOFF to CLRBREAK). DTR and
    // RTS need a device with modem lines that the line's handshake does not
    // drive; elsewhere the driver refuses them (ERROR_INVALID_PARAMETER).
    void SendImmediateChar(char c);
    void Escape(DWORD function);
    void ClearDtr();
    void ClearRts();
    void SetDtr();
    void SetRts();
    // Output stops as if an XOFF had come, and goes on as if an XON had.
    void SetXoff();
    void SetXon();

    // Line events (EV_RXCHAR, EV_TXEMPTY, ...). WaitEvent waits for one of
    // the mask's events; WaitEventOverlapped returns TRUE when one had
    // already occurred (in `events`) and FALSE while the wait is under way:
    // `events` (which must outlive it) receives them when it completes.
    void SetEventMask(DWORD mask);
    void GetEventMask(DWORD& mask);
    void WaitEvent(DWORD& events);
    BOOL WaitEventOverlapped(DWORD& events, OVERLAPPED& overlapped);

    // What the device and its driver can do.
    void GetProperties(COMMPROP& properties);

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
