// CreateFileA and the handle functions shared by every kind of object.
#include "platform/posix/comm_device.h"
#include "platform/posix/devices.h"
#include "platform/posix/disk_file.h"
#include "platform/posix/errors.h"
#include "platform/posix/fault_injection.h"
#include "platform/posix/win32_file.h"

using kavex::posix::Fail;

HANDLE CreateFileA(LPCSTR lpFileName, DWORD dwDesiredAccess, DWORD dwShareMode,
                   LPSECURITY_ATTRIBUTES /*lpSecurityAttributes*/, DWORD dwCreationDisposition,
                   DWORD dwFlagsAndAttributes, HANDLE /*hTemplateFile*/) {
    if (lpFileName == nullptr || *lpFileName == '\0') {
        SetLastError(ERROR_PATH_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    std::shared_ptr<kavex::posix::KernelObject> object;
    if (const int port = kavex::posix::ComPortNumberFromName(lpFileName)) {
        // Communications devices exist already and are never shared.
        if (dwCreationDisposition != OPEN_EXISTING) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return INVALID_HANDLE_VALUE;
        }
        object = kavex::posix::CommDevice::Open(port);
    } else if (kavex::posix::IsDeviceNamespace(lpFileName)) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    } else {
        object = kavex::posix::OpenDiskFile(lpFileName, dwDesiredAccess, dwShareMode, dwCreationDisposition,
                                            dwFlagsAndAttributes);
    }
    if (!object) return INVALID_HANDLE_VALUE;
    return kavex::posix::InsertObject(std::move(object));
}

BOOL CloseHandle(HANDLE hObject) {
    const bool diskFile =
        std::dynamic_pointer_cast<kavex::posix::DiskFile>(kavex::posix::LookupObject(hObject)) != nullptr;
    if (!kavex::posix::RemoveObject(hObject)) return FALSE;
    // A close that fails (a write the system deferred) still releases the handle.
    using kavex::posix::faults::FileOperation;
    if (diskFile && kavex::posix::faults::FailsByInjection(FileOperation::kClose)) return FALSE;
    return TRUE;
}

BOOL ReadFile(HANDLE hFile, LPVOID lpBuffer, DWORD nNumberOfBytesToRead, LPDWORD lpNumberOfBytesRead,
              LPOVERLAPPED lpOverlapped) {
    auto object = kavex::posix::LookupObject(hFile);
    if (!object) return FALSE;
    // Only synchronous transfers exist here.
    if (lpOverlapped != nullptr) return Fail(ERROR_NOT_SUPPORTED);
    if (lpNumberOfBytesRead == nullptr || (lpBuffer == nullptr && nNumberOfBytesToRead != 0)) {
        return Fail(ERROR_INVALID_USER_BUFFER);
    }
    return object->Read(lpBuffer, nNumberOfBytesToRead, lpNumberOfBytesRead);
}

BOOL WriteFile(HANDLE hFile, LPCVOID lpBuffer, DWORD nNumberOfBytesToWrite, LPDWORD lpNumberOfBytesWritten,
               LPOVERLAPPED lpOverlapped) {
    auto object = kavex::posix::LookupObject(hFile);
    if (!object) return FALSE;
    if (lpOverlapped != nullptr) return Fail(ERROR_NOT_SUPPORTED);
    if (lpNumberOfBytesWritten == nullptr || (lpBuffer == nullptr && nNumberOfBytesToWrite != 0)) {
        return Fail(ERROR_INVALID_USER_BUFFER);
    }
    return object->Write(lpBuffer, nNumberOfBytesToWrite, lpNumberOfBytesWritten);
}

BOOL FlushFileBuffers(HANDLE hFile) {
    auto object = kavex::posix::LookupObject(hFile);
    return object ? object->Flush() : FALSE;
}
