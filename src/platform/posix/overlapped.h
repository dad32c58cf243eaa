// A transfer in flight and how it reports its end, as Windows reports it:
//  - OVERLAPPED::Internal holds STATUS_PENDING while the transfer runs and
//    then the Win32 error code it ended with (0 for success); InternalHigh
//    the bytes transferred. (Windows keeps an NTSTATUS in Internal; callers
//    only compare it with STATUS_PENDING, as HasOverlappedIoCompleted does.)
//  - ReadFile, WriteFile and WaitCommEvent given an OVERLAPPED reset its
//    event when they start and set it when the transfer ends.
//  - ReadFileEx and WriteFileEx leave hEvent to the caller and queue the
//    completion routine to the issuing thread instead (see waitable.h).
// Results are written under the wait lock, so GetOverlappedResult, which
// reads them under it, sees them whole.
#pragma once

#include <cstdint>
#include <memory>
#include <thread>

#include "platform/posix/comm_timeouts.h"
#include "platform/posix/waitable.h"
#include "platform/posix/win32_file.h"

namespace kavex::posix {

// How far a read or write has come, and the limits it runs under (set when
// it starts).
struct TransferProgress {
    unsigned char* buffer = nullptr;  // the caller's (a write only reads it)
    DWORD count = 0;
    DWORD transferred = 0;
    std::int64_t startMs = 0;
    std::int64_t lastByteMs = 0;
    ReadLimits readLimits;
    WriteLimits writeLimits;
};

struct PendingTransfer {
    enum class Kind { kRead, kWrite, kWaitEvent };

    explicit PendingTransfer(Kind transferKind) : kind(transferKind) {}

    const Kind kind;
    TransferProgress progress;
    bool started = false;        // it has reached the head of its queue
    DWORD* eventMask = nullptr;  // kWaitEvent: receives the events that ended the wait

    // How the end is reported.
    OVERLAPPED* overlapped = nullptr;
    std::shared_ptr<Event> event;
    LPOVERLAPPED_COMPLETION_ROUTINE routine = nullptr;
    std::shared_ptr<ApcQueue> apcs;
    std::thread::id issuer = std::this_thread::get_id();
};

// Prepares a transfer that reports through `overlapped`: through its event
// (routine null) or through the completion routine queued to the calling
// thread. Marks the OVERLAPPED pending and resets the event.
void BeginTransfer(PendingTransfer& transfer, OVERLAPPED* overlapped,
                   LPOVERLAPPED_COMPLETION_ROUTINE routine);

// Reports the end with `error` (0: success) and `events` for an event wait.
void EndTransfer(PendingTransfer& transfer, DWORD error, DWORD events = 0);

}  // namespace kavex::posix
