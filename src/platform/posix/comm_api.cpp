// The Win32 communications functions: argument checks as Windows makes
// them, then the work of the CommDevice behind the handle.
#include <sys/stat.h>

#include <map>
#include <mutex>

#include "platform/posix/comm_device.h"
#include "platform/posix/dcb_termios.h"
#include "platform/posix/devices.h"
#include "platform/posix/errors.h"
#include "platform/posix/win32_comm.h"

using kavex::posix::CommDevice;
using kavex::posix::Fail;

namespace {

// The device behind a handle; other kinds of handle cannot do comm work.
kavex::posix::Borrowed<CommDevice> Comm(HANDLE handle) {
    return kavex::posix::Borrowed<CommDevice>(handle, ERROR_INVALID_FUNCTION);
}

// Default configurations set by SetDefaultCommConfigA in this process, by
// port number. A port without one reports the system default, 9600 8N1.
std::mutex g_defaultsMutex;
std::map<int, DCB> g_defaults;

DCB SystemDefaultDcb() {
    DCB dcb{};
    dcb.DCBlength = sizeof(DCB);
    dcb.BaudRate = 9600;
    dcb.fBinary = TRUE;
    dcb.fDtrControl = DTR_CONTROL_ENABLE;
    dcb.fRtsControl = RTS_CONTROL_ENABLE;
    dcb.XonLim = 2048;
    dcb.XoffLim = 512;
    dcb.ByteSize = 8;
    dcb.Parity = NOPARITY;
    dcb.StopBits = ONESTOPBIT;
    dcb.XonChar = 0x11;
    dcb.XoffChar = 0x13;
    return dcb;
}

// The port number of an existing COM device named "COMn", or 0 with the
// last error set.
int ExistingPort(LPCSTR name) {
    const int port = kavex::posix::ComPortNumberFromName(name);
    struct stat info {};
    if (port == 0 || kavex::posix::IsDeviceNamespace(name) || kavex::posix::StatComDevice(port, &info) != 0 ||
        !S_ISCHR(info.st_mode)) {
        Fail(ERROR_FILE_NOT_FOUND);
        return 0;
    }
    return port;
}

void FillConfig(const DCB& dcb, LPCOMMCONFIG config) {
    *config = COMMCONFIG{};
    config->dwSize = sizeof(COMMCONFIG);
    config->wVersion = 1;
    config->dcb = dcb;
    config->dwProviderSubType = PST_RS232;
}

}  // namespace

BOOL GetCommState(HANDLE hFile, LPDCB lpDCB) {
    auto device = Comm(hFile);
    if (!device) return FALSE;
    if (lpDCB == nullptr) return Fail(ERROR_INVALID_PARAMETER);
    return device->GetState(lpDCB);
}

BOOL SetCommState(HANDLE hFile, LPDCB lpDCB) {
    auto device = Comm(hFile);
    if (!device) return FALSE;
    if (lpDCB == nullptr) return Fail(ERROR_INVALID_PARAMETER);
    return device->SetState(*lpDCB);
}

BOOL GetCommConfig(HANDLE hCommDev, LPCOMMCONFIG lpCC, LPDWORD lpdwSize) {
    auto device = Comm(hCommDev);
    if (!device) return FALSE;
    if (lpdwSize == nullptr) return Fail(ERROR_INVALID_PARAMETER);
    if (lpCC == nullptr || *lpdwSize < sizeof(COMMCONFIG)) {
        *lpdwSize = sizeof(COMMCONFIG);
        return Fail(ERROR_INSUFFICIENT_BUFFER);
    }
    DCB dcb;
    if (!device->GetState(&dcb)) return FALSE;
    FillConfig(dcb, lpCC);
    *lpdwSize = sizeof(COMMCONFIG);
    return TRUE;
}

BOOL SetCommConfig(HANDLE hCommDev, LPCOMMCONFIG lpCC, DWORD dwSize) {
    auto device = Comm(hCommDev);
    if (!device) return FALSE;
    if (lpCC == nullptr || dwSize < sizeof(COMMCONFIG)) return Fail(ERROR_INVALID_PARAMETER);
    return device->SetState(lpCC->dcb);
}

BOOL GetDefaultCommConfigA(LPCSTR lpszName, LPCOMMCONFIG lpCC, LPDWORD lpdwSize) {
    if (lpdwSize == nullptr) return Fail(ERROR_INVALID_PARAMETER);
    const int port = ExistingPort(lpszName);
    if (port == 0) return FALSE;
    if (lpCC == nullptr || *lpdwSize < sizeof(COMMCONFIG)) {
        *lpdwSize = sizeof(COMMCONFIG);
        return Fail(ERROR_INSUFFICIENT_BUFFER);
    }
    DCB dcb = SystemDefaultDcb();
    {
        std::lock_guard<std::mutex> lock(g_defaultsMutex);
        auto found = g_defaults.find(port);
        if (found != g_defaults.end()) dcb = found->second;
    }
    FillConfig(dcb, lpCC);
    *lpdwSize = sizeof(COMMCONFIG);
    return TRUE;
}

BOOL SetDefaultCommConfigA(LPCSTR lpszName, LPCOMMCONFIG lpCC, DWORD dwSize) {
    const int port = ExistingPort(lpszName);
    if (port == 0) return FALSE;
    if (lpCC == nullptr || dwSize < sizeof(COMMCONFIG)) return Fail(ERROR_INVALID_PARAMETER);
    if (!kavex::posix::ValidateDcb(lpCC->dcb)) return FALSE;
    std::lock_guard<std::mutex> lock(g_defaultsMutex);
    g_defaults[port] = lpCC->dcb;
    return TRUE;
}

BOOL SetupComm(HANDLE hFile, DWORD dwInQueue, DWORD dwOutQueue) {
    auto device = Comm(hFile);
    return device ? device->SetQueueSizes(dwInQueue, dwOutQueue) : FALSE;
}

BOOL GetCommTimeouts(HANDLE hFile, LPCOMMTIMEOUTS lpCommTimeouts) {
    auto device = Comm(hFile);
    if (!device) return FALSE;
    if (lpCommTimeouts == nullptr) return Fail(ERROR_INVALID_PARAMETER);
    return device->GetTimeouts(lpCommTimeouts);
}

BOOL SetCommTimeouts(HANDLE hFile, LPCOMMTIMEOUTS lpCommTimeouts) {
    auto device = Comm(hFile);
    if (!device) return FALSE;
    if (lpCommTimeouts == nullptr) return Fail(ERROR_INVALID_PARAMETER);
    return device->SetTimeouts(*lpCommTimeouts);
}

BOOL PurgeComm(HANDLE hFile, DWORD dwFlags) {
    auto device = Comm(hFile);
    return device ? device->Purge(dwFlags) : FALSE;
}

BOOL ClearCommError(HANDLE hFile, LPDWORD lpErrors, LPCOMSTAT lpStat) {
    auto device = Comm(hFile);
    return device ? device->ClearError(lpErrors, lpStat) : FALSE;
}

BOOL SetCommBreak(HANDLE hFile) {
    auto device = Comm(hFile);
    return device ? device->SetBreak(true) : FALSE;
}

BOOL ClearCommBreak(HANDLE hFile) {
    auto device = Comm(hFile);
    return device ? device->SetBreak(false) : FALSE;
}

BOOL GetCommModemStatus(HANDLE hFile, LPDWORD lpModemStat) {
    auto device = Comm(hFile);
    if (!device) return FALSE;
    if (lpModemStat == nullptr) return Fail(ERROR_INVALID_PARAMETER);
    return device->GetModemStatus(lpModemStat);
}

BOOL EscapeCommFunction(HANDLE hFile, DWORD dwFunc) {
    auto device = Comm(hFile);
    return device ? device->Escape(dwFunc) : FALSE;
}

BOOL TransmitCommChar(HANDLE hFile, char cChar) {
    auto device = Comm(hFile);
    return device ? device->TransmitChar(cChar) : FALSE;
}

BOOL GetCommProperties(HANDLE hFile, LPCOMMPROP lpCommProp) {
    auto device = Comm(hFile);
    if (!device) return FALSE;
    if (lpCommProp == nullptr) return Fail(ERROR_INVALID_PARAMETER);
    return device->GetProperties(lpCommProp);
}

BOOL SetCommMask(HANDLE hFile, DWORD dwEvtMask) {
    auto device = Comm(hFile);
    return device ? device->SetEventMask(dwEvtMask) : FALSE;
}

BOOL GetCommMask(HANDLE hFile, LPDWORD lpEvtMask) {
    auto device = Comm(hFile);
    if (!device) return FALSE;
    if (lpEvtMask == nullptr) return Fail(ERROR_INVALID_PARAMETER);
    *lpEvtMask = device->EventMask();
    return TRUE;
}

BOOL WaitCommEvent(HANDLE hFile, LPDWORD lpEvtMask, LPOVERLAPPED lpOverlapped) {
    auto device = Comm(hFile);
    return device ? device->WaitEvent(lpEvtMask, lpOverlapped) : FALSE;
}
