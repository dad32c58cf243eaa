// How transfers end, and GetOverlappedResult.
#include "platform/posix/overlapped.h"

#include "platform/posix/errors.h"

namespace kavex::posix {

void BeginTransfer(PendingTransfer& transfer, OVERLAPPED* overlapped,
                   LPOVERLAPPED_COMPLETION_ROUTINE routine) {
    transfer.overlapped = overlapped;
    transfer.routine = routine;
    if (routine != nullptr) {
        transfer.apcs = CurrentThreadApcs();
    } else if (overlapped->hEvent != nullptr) {
        // The transfer holds the event itself: closing its handle meanwhile
        // does not take it away, as on Windows.
        transfer.event = std::dynamic_pointer_cast<Event>(LookupObject(overlapped->hEvent));
    }
    auto lock = LockWaits();
    overlapped->Internal = STATUS_PENDING;
    overlapped->InternalHigh = 0;
    if (transfer.event) transfer.event->ResetLocked();
}

void EndTransfer(PendingTransfer& transfer, DWORD error, DWORD events) {
    auto lock = LockWaits();
    if (transfer.eventMask != nullptr) *transfer.eventMask = error == 0 ? events : 0;
    OVERLAPPED* overlapped = transfer.overlapped;
    const DWORD bytes = transfer.progress.transferred;
    overlapped->Internal = error;
    overlapped->InternalHigh = bytes;
    if (transfer.routine != nullptr) {
        LPOVERLAPPED_COMPLETION_ROUTINE routine = transfer.routine;
        QueueApcLocked(*transfer.apcs,
                       [routine, error, bytes, overlapped] { routine(error, bytes, overlapped); });
    } else if (transfer.event) {
        transfer.event->SetLocked();
    }
    WakeWaiters();
}

}  // namespace kavex::posix

BOOL GetOverlappedResult(HANDLE /*hFile*/, LPOVERLAPPED lpOverlapped, LPDWORD lpNumberOfBytesTransferred,
                         BOOL bWait) {
    if (lpOverlapped == nullptr || lpNumberOfBytesTransferred == nullptr) {
        return kavex::posix::Fail(ERROR_INVALID_PARAMETER);
    }
    auto lock = kavex::posix::LockWaits();
    if (lpOverlapped->Internal == STATUS_PENDING) {
        if (!bWait) return kavex::posix::Fail(ERROR_IO_INCOMPLETE);
        kavex::posix::WaitUntil(lock, INFINITE, false,
                                [lpOverlapped] { return lpOverlapped->Internal != STATUS_PENDING; });
    }
    *lpNumberOfBytesTransferred = static_cast<DWORD>(lpOverlapped->InternalHigh);
    const DWORD error = static_cast<DWORD>(lpOverlapped->Internal);
    return error == 0 ? TRUE : kavex::posix::Fail(error);
}
