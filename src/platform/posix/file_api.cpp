// CreateFileA and the handle functions shared by every kind of object, and
// the overlapped transfers (serial devices only).
#include "platform/posix/comm_device.h"
#include "platform/posix/devices.h"
#include "platform/posix/disk_file.h"
#include "platform/posix/drive_paths.h"
#include "platform/posix/errors.h"
#include "platform/posix/fault_injection.h"
#include "platform/posix/io_service.h"
#include "platform/posix/win32_file.h"

#include <new>
#include <string>

using kavex::posix::CommDevice;
using kavex::posix::Fail;
using kavex::posix::PendingTransfer;

namespace {

// An overlapped or completion-routine transfer. Only serial devices have them
// here; other objects refuse them as unsupported.
BOOL StartOverlapped(HANDLE hFile, PendingTransfer::Kind kind, LPCVOID lpBuffer, DWORD count,
                     LPDWORD transferred, LPOVERLAPPED lpOverlapped,
                     LPOVERLAPPED_COMPLETION_ROUTINE routine) {
    auto object = kavex::posix::BorrowObject(hFile);
    if (!object) return FALSE;
    CommDevice* device = kavex::posix::ObjectAs<CommDevice>(object.get());
    if (device == nullptr) return Fail(ERROR_NOT_SUPPORTED);
    if (lpOverlapped == nullptr || (lpBuffer == nullptr && count != 0)) return Fail(ERROR_INVALID_PARAMETER);
    return device->StartTransfer(kind, const_cast<LPVOID>(lpBuffer), count, transferred, lpOverlapped,
                                 routine);
}

// CreateFileA without its guard against memory running out.
HANDLE OpenObject(LPCSTR lpFileName, DWORD dwDesiredAccess, DWORD dwShareMode, DWORD dwCreationDisposition,
                  DWORD dwFlagsAndAttributes) {
    std::shared_ptr<kavex::posix::KernelObject> object;
    if (const int port = kavex::posix::ComPortNumberFromName(lpFileName)) {
        // Communications devices exist already and are never shared.
        if (dwCreationDisposition != OPEN_EXISTING) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return INVALID_HANDLE_VALUE;
        }
        object = CommDevice::Open(port, (dwFlagsAndAttributes & FILE_FLAG_OVERLAPPED) != 0);
    } else if (kavex::posix::IsDeviceNamespace(lpFileName)) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    } else {
        const std::string native = kavex::posix::NativePath(lpFileName);
        object = kavex::posix::OpenDiskFile(native.c_str(), dwDesiredAccess, dwShareMode,
                                            dwCreationDisposition, dwFlagsAndAttributes);
    }
    if (!object) return INVALID_HANDLE_VALUE;
    return kavex::posix::InsertObject(std::move(object));
}

}  // namespace

HANDLE CreateFileA(LPCSTR lpFileName, DWORD dwDesiredAccess, DWORD dwShareMode,
                   LPSECURITY_ATTRIBUTES /*lpSecurityAttributes*/, DWORD dwCreationDisposition,
                   DWORD dwFlagsAndAttributes, HANDLE /*hTemplateFile*/) {
    if (lpFileName == nullptr || *lpFileName == '\0') {
        SetLastError(ERROR_PATH_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    // As a system call, it reports memory running out as an error.
    try {
        return OpenObject(lpFileName, dwDesiredAccess, dwShareMode, dwCreationDisposition,
                          dwFlagsAndAttributes);
    } catch (const std::bad_alloc&) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return INVALID_HANDLE_VALUE;
    }
}

BOOL CloseHandle(HANDLE hObject) {
    // Closing a device ends its pending transfers, and the I/O service lets
    // go of it, so the device is closed (and can be opened again) on return.
    bool diskFile = false;
    if (auto object = kavex::posix::BorrowObject(hObject)) {
        if (CommDevice* device = kavex::posix::ObjectAs<CommDevice>(object.get())) {
            device->Close();
            kavex::posix::ForgetDevice(device);
        }
        diskFile = kavex::posix::ObjectAs<kavex::posix::DiskFile>(object.get()) != nullptr;
    }
    if (!kavex::posix::RemoveObject(hObject)) return FALSE;
    // A close that fails (a write the system deferred) still releases the handle.
    using kavex::posix::faults::FileOperation;
    if (diskFile && kavex::posix::faults::FailsByInjection(FileOperation::kClose)) return FALSE;
    return TRUE;
}

BOOL ReadFile(HANDLE hFile, LPVOID lpBuffer, DWORD nNumberOfBytesToRead, LPDWORD lpNumberOfBytesRead,
              LPOVERLAPPED lpOverlapped) {
    if (lpOverlapped != nullptr) {
        return StartOverlapped(hFile, PendingTransfer::Kind::kRead, lpBuffer, nNumberOfBytesToRead,
                               lpNumberOfBytesRead, lpOverlapped, nullptr);
    }
    auto object = kavex::posix::BorrowObject(hFile);
    if (!object) return FALSE;
    if (lpNumberOfBytesRead == nullptr || (lpBuffer == nullptr && nNumberOfBytesToRead != 0)) {
        return Fail(ERROR_INVALID_USER_BUFFER);
    }
    // A serial device's poll is read here at once (comm_device.h).
    if (CommDevice* device = kavex::posix::ObjectAs<CommDevice>(object.get())) {
        BOOL result = FALSE;
        if (device->ReadQueued(lpBuffer, nNumberOfBytesToRead, lpNumberOfBytesRead, &result)) return result;
    }
    return object.get()->Read(lpBuffer, nNumberOfBytesToRead, lpNumberOfBytesRead);
}

BOOL WriteFile(HANDLE hFile, LPCVOID lpBuffer, DWORD nNumberOfBytesToWrite, LPDWORD lpNumberOfBytesWritten,
               LPOVERLAPPED lpOverlapped) {
    if (lpOverlapped != nullptr) {
        return StartOverlapped(hFile, PendingTransfer::Kind::kWrite, lpBuffer, nNumberOfBytesToWrite,
                               lpNumberOfBytesWritten, lpOverlapped, nullptr);
    }
    auto object = kavex::posix::BorrowObject(hFile);
    if (!object) return FALSE;
    if (lpNumberOfBytesWritten == nullptr || (lpBuffer == nullptr && nNumberOfBytesToWrite != 0)) {
        return Fail(ERROR_INVALID_USER_BUFFER);
    }
    return object.get()->Write(lpBuffer, nNumberOfBytesToWrite, lpNumberOfBytesWritten);
}

BOOL FlushFileBuffers(HANDLE hFile) {
    auto object = kavex::posix::BorrowObject(hFile);
    return object ? object.get()->Flush() : FALSE;
}

BOOL ReadFileEx(HANDLE hFile, LPVOID lpBuffer, DWORD nNumberOfBytesToRead, LPOVERLAPPED lpOverlapped,
                LPOVERLAPPED_COMPLETION_ROUTINE lpCompletionRoutine) {
    if (lpCompletionRoutine == nullptr) return Fail(ERROR_INVALID_PARAMETER);
    return StartOverlapped(hFile, PendingTransfer::Kind::kRead, lpBuffer, nNumberOfBytesToRead, nullptr,
                           lpOverlapped, lpCompletionRoutine);
}

BOOL WriteFileEx(HANDLE hFile, LPCVOID lpBuffer, DWORD nNumberOfBytesToWrite, LPOVERLAPPED lpOverlapped,
                 LPOVERLAPPED_COMPLETION_ROUTINE lpCompletionRoutine) {
    if (lpCompletionRoutine == nullptr) return Fail(ERROR_INVALID_PARAMETER);
    return StartOverlapped(hFile, PendingTransfer::Kind::kWrite, lpBuffer, nNumberOfBytesToWrite, nullptr,
                           lpOverlapped, lpCompletionRoutine);
}

BOOL CancelIo(HANDLE hFile) {
    auto object = kavex::posix::BorrowObject(hFile);
    if (!object) return FALSE;
    // Other kinds of object have no transfers that could be pending.
    if (CommDevice* device = kavex::posix::ObjectAs<CommDevice>(object.get()))
        device->CancelCallerTransfers();
    return TRUE;
}
