#include "serial/serial_port.h"

#include <cstdio>
#include <memory>
#include <new>

#include "serial/cancel_io_loader.h"
#include "serial/serial_exception.h"

KAVEX_IMPLEMENT_DYNAMIC(CSerialPort, CObject)

namespace {

// Throws the calling thread's last error when a Win32 call failed.
void Check(BOOL succeeded) {
    if (!succeeded) ThrowSerialException();
}

// After a FALSE result of a call that starts an overlapped transfer: FALSE
// when the transfer has started and is under way (ERROR_IO_PENDING), else
// nothing started and the call's error is thrown.
BOOL StartedAndPending() {
    const DWORD error = GetLastError();
    if (error != ERROR_IO_PENDING) ThrowSerialException(error);
    return FALSE;
}

// A completion record: one zero-filled OVERLAPPED whose hEvent carries the
// port to the completion routine.
std::unique_ptr<OVERLAPPED> NewCompletionRecord(CSerialPort* port) {
    std::unique_ptr<OVERLAPPED> record;
    try {
        record = std::make_unique<OVERLAPPED>();
    } catch (const std::bad_alloc&) {
        ThrowSerialException(ERROR_NOT_ENOUGH_MEMORY);
    }
    record->hEvent = port;
    return record;
}

// The record of a transfer that has started belongs to the system until
// the completion routine hands it to OnIoCompletion; one that could not
// start is freed before its error is thrown.
void HandOverOrThrow(BOOL started, std::unique_ptr<OVERLAPPED>& record) {
    if (started) {
        static_cast<void>(record.release());
        return;
    }
    const DWORD error = GetLastError();
    record.reset();
    ThrowSerialException(error);
}

void FormatPortName(char (&name)[32], const char* format, int port) {
    std::snprintf(name, sizeof name, format, port);
}

void ApplyParity(DCB& dcb, SerialParity parity) {
    switch (parity) {
        case SerialParity::Even: dcb.Parity = EVENPARITY; break;
        case SerialParity::Mark: dcb.Parity = MARKPARITY; break;
        case SerialParity::None: dcb.Parity = NOPARITY; break;
        case SerialParity::Odd: dcb.Parity = ODDPARITY; break;
        case SerialParity::Space: dcb.Parity = SPACEPARITY; break;
        default: break;  // unknown values keep the driver's setting
    }
}

void ApplyStopBits(DCB& dcb, SerialStopBits stopBits) {
    switch (stopBits) {
        case SerialStopBits::One: dcb.StopBits = ONESTOPBIT; break;
        case SerialStopBits::OnePointFive: dcb.StopBits = ONE5STOPBITS; break;
        case SerialStopBits::Two: dcb.StopBits = TWOSTOPBITS; break;
        default: break;
    }
}

void ApplyFlowControl(DCB& dcb, SerialFlowControl flowControl) {
    dcb.fDsrSensitivity = FALSE;
    switch (flowControl) {
        case SerialFlowControl::None:
            dcb.fOutxCtsFlow = FALSE;
            dcb.fOutxDsrFlow = FALSE;
            dcb.fOutX = FALSE;
            dcb.fInX = FALSE;
            break;
        case SerialFlowControl::CtsRts:
        case SerialFlowControl::CtsDtr:
            dcb.fOutxCtsFlow = TRUE;
            dcb.fOutxDsrFlow = FALSE;
            dcb.fOutX = FALSE;
            dcb.fInX = FALSE;
            break;
        case SerialFlowControl::DsrRts:
        case SerialFlowControl::DsrDtr:
            dcb.fOutxCtsFlow = FALSE;
            dcb.fOutxDsrFlow = TRUE;
            dcb.fOutX = FALSE;
            dcb.fInX = FALSE;
            break;
        case SerialFlowControl::XonXoff:
            dcb.fOutxCtsFlow = FALSE;
            dcb.fOutxDsrFlow = FALSE;
            dcb.fOutX = TRUE;
            dcb.fInX = TRUE;
            dcb.XonChar = 0x11;
            dcb.XoffChar = 0x13;
            dcb.XoffLim = 100;
            dcb.XonLim = 100;
            break;
        default: break;  // unknown values keep the driver's settings
    }
    if (flowControl == SerialFlowControl::CtsRts || flowControl == SerialFlowControl::DsrRts) {
        dcb.fRtsControl = RTS_CONTROL_HANDSHAKE;
    }
    if (flowControl == SerialFlowControl::CtsDtr || flowControl == SerialFlowControl::DsrDtr) {
        dcb.fDtrControl = DTR_CONTROL_HANDSHAKE;
    }
}

}  // namespace

CSerialPort::~CSerialPort() { Close(); }

void CSerialPort::Open(int port, DWORD baudRate, SerialParity parity, BYTE dataBits, SerialStopBits stopBits,
                       SerialFlowControl flowControl, BOOL overlapped) {
    // A handle still held would otherwise be overwritten and leak, keeping
    // its device locked until the process ends.
    Close();

    char name[32];
    FormatPortName(name, "\\\\.\\COM%d", port);
    m_hPort = CreateFileA(name, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                          overlapped ? FILE_FLAG_OVERLAPPED : 0, nullptr);
    if (m_hPort == INVALID_HANDLE_VALUE) ThrowSerialException();
    m_bOverlapped = overlapped;

    DCB dcb{};
    dcb.DCBlength = sizeof(DCB);
    Check(GetCommState(m_hPort, &dcb));
    dcb.BaudRate = baudRate;
    ApplyParity(dcb, parity);
    dcb.ByteSize = dataBits;
    ApplyStopBits(dcb, stopBits);
    ApplyFlowControl(dcb, flowControl);
    Check(SetCommState(m_hPort, &dcb));
}

void CSerialPort::Close() {
    if (!IsOpen()) return;
    CloseHandle(m_hPort);  // nothing useful can be done when this fails
    m_hPort = INVALID_HANDLE_VALUE;
    m_bOverlapped = FALSE;
}

void CSerialPort::Attach(HANDLE handle) {
    Close();
    m_hPort = handle;
}

HANDLE CSerialPort::Detach() {
    HANDLE handle = m_hPort;
    m_hPort = INVALID_HANDLE_VALUE;
    return handle;
}

DWORD CSerialPort::Write(const void* buffer, DWORD count) {
    DWORD written = 0;
    Check(WriteFile(m_hPort, buffer, count, &written, nullptr));
    return written;
}

BOOL CSerialPort::ReadOverlapped(void* buffer, DWORD count, OVERLAPPED& overlapped) {
    DWORD received = 0;
    return ReadFile(m_hPort, buffer, count, &received, &overlapped) ? TRUE : StartedAndPending();
}

BOOL CSerialPort::WriteOverlapped(const void* buffer, DWORD count, OVERLAPPED& overlapped) {
    DWORD written = 0;
    return WriteFile(m_hPort, buffer, count, &written, &overlapped) ? TRUE : StartedAndPending();
}

BOOL CSerialPort::QueryOverlappedResult(OVERLAPPED& overlapped, DWORD& transferred, BOOL wait) {
    if (GetOverlappedResult(m_hPort, &overlapped, &transferred, wait)) return TRUE;
    // "Still under way" is ERROR_IO_INCOMPLETE here; any other code is the
    // transfer's own error.
    const DWORD error = GetLastError();
    if (error != ERROR_IO_INCOMPLETE) ThrowSerialException(error);
    return FALSE;
}

void CSerialPort::ReadWithCompletion(void* buffer, DWORD count) {
    std::unique_ptr<OVERLAPPED> record = NewCompletionRecord(this);
    HandOverOrThrow(ReadFileEx(m_hPort, buffer, count, record.get(), SerialIoCompletionRoutine), record);
}

void CSerialPort::WriteWithCompletion(const void* buffer, DWORD count) {
    std::unique_ptr<OVERLAPPED> record = NewCompletionRecord(this);
    HandOverOrThrow(WriteFileEx(m_hPort, buffer, count, record.get(), SerialIoCompletionRoutine), record);
}

void CSerialPort::CancelPendingIo() {
    const CCancelIoLoader::CancelIoFunction cancelIo = g_CancelIoLoader.m_pfnCancelIo;
    if (cancelIo == nullptr) ThrowSerialException(ERROR_CALL_NOT_IMPLEMENTED);
    Check(cancelIo(m_hPort));
}

void CSerialPort::OnIoCompletion(DWORD /*errorCode*/, DWORD /*transferred*/, OVERLAPPED* record) {
    std::unique_ptr<OVERLAPPED> freed(record);
}

void CALLBACK CSerialPort::SerialIoCompletionRoutine(DWORD errorCode, DWORD transferred, OVERLAPPED* record) {
    static_cast<CSerialPort*>(record->hEvent)->OnIoCompletion(errorCode, transferred, record);
}

void CSerialPort::GetDcb(DCB& dcb) { Check(GetCommState(m_hPort, &dcb)); }

void CSerialPort::SetDcb(DCB& dcb) { Check(SetCommState(m_hPort, &dcb)); }

void CSerialPort::GetConfig(COMMCONFIG& config) {
    DWORD size = sizeof(COMMCONFIG);
    Check(GetCommConfig(m_hPort, &config, &size));
}

void CSerialPort::SetConfig(COMMCONFIG& config) {
    Check(SetCommConfig(m_hPort, &config, sizeof(COMMCONFIG)));
}

void CSerialPort::GetDefaultConfig(int port, COMMCONFIG& config) {
    char name[32];
    FormatPortName(name, "COM%d", port);
    DWORD size = sizeof(COMMCONFIG);
    Check(GetDefaultCommConfigA(name, &config, &size));
}

void CSerialPort::SetDefaultConfig(int port, COMMCONFIG& config) {
    char name[32];
    FormatPortName(name, "COM%d", port);
    Check(SetDefaultCommConfigA(name, &config, sizeof(COMMCONFIG)));
}

void CSerialPort::SetQueueSizes(DWORD inQueue, DWORD outQueue) {
    Check(SetupComm(m_hPort, inQueue, outQueue));
}

void CSerialPort::SetBreak() { Check(SetCommBreak(m_hPort)); }

void CSerialPort::ClearBreak() { Check(ClearCommBreak(m_hPort)); }

void CSerialPort::GetModemStatus(DWORD& status) { Check(GetCommModemStatus(m_hPort, &status)); }

void CSerialPort::ClearErrors(DWORD& errors) { Check(ClearCommError(m_hPort, &errors, nullptr)); }

void CSerialPort::ClearErrors(COMSTAT& status) {
    DWORD errors = 0;
    Check(ClearCommError(m_hPort, &errors, &status));
}

void CSerialPort::SendImmediateChar(char c) { Check(TransmitCommChar(m_hPort, c)); }

void CSerialPort::Escape(DWORD function) { Check(EscapeCommFunction(m_hPort, function)); }

void CSerialPort::ClearDtr() { Escape(CLRDTR); }

void CSerialPort::ClearRts() { Escape(CLRRTS); }

void CSerialPort::SetDtr() { Escape(SETDTR); }

void CSerialPort::SetRts() { Escape(SETRTS); }

void CSerialPort::SetXoff() { Escape(SETXOFF); }

void CSerialPort::SetXon() { Escape(SETXON); }

void CSerialPort::SetEventMask(DWORD mask) { Check(SetCommMask(m_hPort, mask)); }

void CSerialPort::GetEventMask(DWORD& mask) { Check(GetCommMask(m_hPort, &mask)); }

void CSerialPort::WaitEvent(DWORD& events) { Check(WaitCommEvent(m_hPort, &events, nullptr)); }

BOOL CSerialPort::WaitEventOverlapped(DWORD& events, OVERLAPPED& overlapped) {
    return WaitCommEvent(m_hPort, &events, &overlapped) ? TRUE : StartedAndPending();
}

void CSerialPort::GetProperties(COMMPROP& properties) { Check(GetCommProperties(m_hPort, &properties)); }

void CSerialPort::Flush() { Check(FlushFileBuffers(m_hPort)); }

void CSerialPort::Purge(DWORD flags) { Check(PurgeComm(m_hPort, flags)); }

void CSerialPort::AbortWrites() { Purge(PURGE_TXABORT); }

void CSerialPort::AbortReads() { Purge(PURGE_RXABORT); }

void CSerialPort::ClearOutputBuffer() { Purge(PURGE_TXCLEAR); }

void CSerialPort::ClearInputBuffer() { Purge(PURGE_RXCLEAR); }

void CSerialPort::GetTimeouts(COMMTIMEOUTS& timeouts) { Check(GetCommTimeouts(m_hPort, &timeouts)); }

void CSerialPort::SetTimeouts(COMMTIMEOUTS& timeouts) { Check(SetCommTimeouts(m_hPort, &timeouts)); }

void CSerialPort::SetPollingTimeouts() {
    COMMTIMEOUTS timeouts{};
    timeouts.ReadIntervalTimeout = MAXDWORD;
    SetTimeouts(timeouts);
}

void CSerialPort::DisableWriteTimeouts() {
    COMMTIMEOUTS timeouts{};
    GetTimeouts(timeouts);
    timeouts.WriteTotalTimeoutMultiplier = 0;
    timeouts.WriteTotalTimeoutConstant = 0;
    SetTimeouts(timeouts);
}

void CSerialPort::SetImmediateReadTimeouts() {
    COMMTIMEOUTS timeouts{};
    GetTimeouts(timeouts);
    timeouts.ReadIntervalTimeout = MAXDWORD;
    timeouts.ReadTotalTimeoutMultiplier = 0;
    timeouts.ReadTotalTimeoutConstant = 0;
    SetTimeouts(timeouts);
}
