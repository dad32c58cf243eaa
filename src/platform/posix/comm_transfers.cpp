// The transfers of a serial device: synchronous reads and writes on the
// caller's thread, and overlapped ones, which end at once when they can and
// otherwise wait in the device's queues until the I/O service ends them.
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <climits>

#include "platform/posix/comm_device.h"
#include "platform/posix/errors.h"
#include "platform/posix/io_service.h"

namespace kavex::posix {

namespace {

// Waits up to `timeoutMs` (-1: no limit) for `events` on fd. Returns the
// poll result: >0 ready (revents in *revents), 0 timed out, <0 error.
int WaitFor(int fd, short events, std::int64_t timeoutMs, short* revents) {
    pollfd entry{fd, events, 0};
    const int limit = timeoutMs < 0 ? -1 : static_cast<int>(timeoutMs > INT_MAX ? INT_MAX : timeoutMs);
    int result;
    do {
        result = poll(&entry, 1, limit);
    } while (result < 0 && errno == EINTR);
    *revents = entry.revents;
    return result;
}

TransferProgress ProgressOf(void* buffer, DWORD count) {
    TransferProgress progress;
    progress.buffer = static_cast<unsigned char*>(buffer);
    progress.count = count;
    progress.startMs = progress.lastByteMs = NowMs();
    return progress;
}

}  // namespace

BOOL CommDevice::FailRead(int error) {
    // End of file or EIO: the other side is gone (an unplugged adapter, a
    // pseudo-terminal whose master closed); Windows reports such a device as
    // no longer connected.
    return Fail(error == 0 || error == EIO ? ERROR_DEVICE_NOT_CONNECTED : Win32ErrorFromErrno(error));
}

CommDevice::Step CommDevice::ReadStep(TransferProgress& read, std::int64_t* waitMs, DWORD* error) {
    *error = 0;
    while (read.transferred < read.count) {
        const ssize_t got = ::read(fd_, read.buffer + read.transferred, read.count - read.transferred);
        if (got > 0) {
            read.transferred += static_cast<DWORD>(got);
            read.lastByteMs = NowMs();
            events_.NoteReceived(static_cast<DWORD>(got));
            if (read.readLimits.EndsWithData()) return Step::kDone;
            continue;
        }
        if (got < 0 && errno == EINTR) continue;
        // End of file or EIO: the other side is gone (an unplugged adapter, a
        // pseudo-terminal whose master closed); Windows reports such a device
        // as no longer connected.
        if (got == 0 || errno == EIO) {
            *error = ERROR_DEVICE_NOT_CONNECTED;
            return Step::kDone;
        }
        if (errno != EAGAIN) {
            *error = Win32ErrorFromErrno(errno);
            return Step::kDone;
        }
        if (read.readLimits.Immediate()) return Step::kDone;
        *waitMs = read.readLimits.WaitMs(NowMs(), read.startMs, read.lastByteMs, read.transferred);
        return *waitMs == 0 ? Step::kDone : Step::kWait;
    }
    return Step::kDone;
}

CommDevice::Step CommDevice::WriteStep(TransferProgress& write, std::int64_t* waitMs, DWORD* error) {
    *error = 0;
    while (write.transferred < write.count) {
        const ssize_t put = ::write(fd_, write.buffer + write.transferred, write.count - write.transferred);
        if (put > 0) {
            write.transferred += static_cast<DWORD>(put);
            outputSent_ = true;
            outputSincePurge_ = true;
            events_.NoteSent();
            continue;
        }
        if (put < 0 && errno == EINTR) continue;
        if (put < 0 && errno == EIO) {
            *error = ERROR_DEVICE_NOT_CONNECTED;
            return Step::kDone;
        }
        if (put < 0 && errno != EAGAIN) {
            *error = Win32ErrorFromErrno(errno);
            return Step::kDone;
        }
        // The output is full or held back by flow control; a write time-out
        // completes the write short.
        *waitMs = write.writeLimits.WaitMs(NowMs(), write.startMs);
        return *waitMs == 0 ? Step::kDone : Step::kWait;
    }
    return Step::kDone;
}

BOOL CommDevice::Read(void* buffer, DWORD count, DWORD* transferred) {
    // A read that returns at once with what is queued needs neither the
    // clock nor the settings' lock.
    BOOL result = FALSE;
    if (ReadQueued(buffer, count, transferred, &result)) return result;
    TransferProgress read = ProgressOf(buffer, count);
    read.readLimits = ReadLimits(Timeouts(), count);
    for (;;) {
        std::int64_t waitMs = -1;
        DWORD error = 0;
        const Step step = ReadStep(read, &waitMs, &error);
        *transferred = read.transferred;
        if (step == Step::kDone) return error == 0 ? TRUE : Fail(error);
        // After a time-out the next step ends the read; after POLLHUP or
        // POLLERR it reports the device as gone.
        short revents = 0;
        if (WaitFor(fd_, POLLIN, waitMs, &revents) < 0) return FailWithErrno();
    }
}

void CommDevice::WakeEventWait() {
    // Output now waits to drain: an event wait that watches for EV_TXEMPTY
    // must look at the device again, and the I/O service may be asleep on
    // the wait's earlier needs.
    {
        std::lock_guard<std::mutex> lock(ioMutex_);
        if (!eventWait_) return;
    }
    WatchDevice(shared_from_this());
}

BOOL CommDevice::Write(const void* buffer, DWORD count, DWORD* transferred) {
    TransferProgress write = ProgressOf(const_cast<void*>(buffer), count);
    write.writeLimits = WriteLimits(Timeouts(), count);
    for (;;) {
        std::int64_t waitMs = -1;
        DWORD error = 0;
        const Step step = WriteStep(write, &waitMs, &error);
        *transferred = write.transferred;
        if (step == Step::kDone) {
            if (write.transferred > 0) WakeEventWait();
            return error == 0 ? TRUE : Fail(error);
        }
        short revents = 0;
        const int ready = WaitFor(fd_, POLLOUT, waitMs, &revents);
        if (ready < 0) return FailWithErrno();
        if (ready > 0 && (revents & (POLLHUP | POLLERR)) && !(revents & POLLOUT)) {
            return Fail(ERROR_DEVICE_NOT_CONNECTED);
        }
    }
}

void CommDevice::StartProgress(PendingTransfer& transfer) {
    transfer.started = true;
    TransferProgress& progress = transfer.progress;
    progress.startMs = progress.lastByteMs = NowMs();
    if (transfer.kind == PendingTransfer::Kind::kRead) {
        progress.readLimits = ReadLimits(Timeouts(), progress.count);
    } else {
        progress.writeLimits = WriteLimits(Timeouts(), progress.count);
    }
}

CommDevice::Step CommDevice::Advance(PendingTransfer& transfer, std::int64_t* waitMs, DWORD* error) {
    return transfer.kind == PendingTransfer::Kind::kRead ? ReadStep(transfer.progress, waitMs, error)
                                                         : WriteStep(transfer.progress, waitMs, error);
}

BOOL CommDevice::StartTransfer(PendingTransfer::Kind kind, void* buffer, DWORD count, DWORD* transferred,
                               OVERLAPPED* overlapped, LPOVERLAPPED_COMPLETION_ROUTINE routine) {
    const bool isRead = kind == PendingTransfer::Kind::kRead;
    if (!overlapped_) {
        if (routine != nullptr) return Fail(ERROR_INVALID_PARAMETER);
        // A handle opened without FILE_FLAG_OVERLAPPED transfers on the
        // caller's thread; the OVERLAPPED only receives the result.
        PendingTransfer now(kind);
        BeginTransfer(now, overlapped, nullptr);
        DWORD done = 0;
        const BOOL ok = isRead ? Read(buffer, count, &done) : Write(buffer, count, &done);
        const DWORD error = ok ? 0 : GetLastError();
        now.progress.transferred = done;
        EndTransfer(now, error);
        if (transferred != nullptr) *transferred = done;
        return ok ? TRUE : Fail(error);
    }

    auto transfer = std::make_shared<PendingTransfer>(kind);
    transfer->progress.buffer = static_cast<unsigned char*>(buffer);
    transfer->progress.count = count;
    BeginTransfer(*transfer, overlapped, routine);
    bool ended = false;
    BOOL result = FALSE;
    {
        std::lock_guard<std::mutex> lock(ioMutex_);
        auto& queue = isRead ? reads_ : writes_;
        // Behind other transfers it waits its turn; alone it may end at once.
        if (queue.empty() && !(!isRead && immediateChar_)) {
            StartProgress(*transfer);
            std::int64_t waitMs = -1;
            DWORD error = 0;
            if (Advance(*transfer, &waitMs, &error) == Step::kDone) {
                if (transferred != nullptr) *transferred = transfer->progress.transferred;
                if (error != 0 && routine != nullptr) {
                    // An Ex transfer that fails to start queues no routine.
                    auto waits = LockWaits();
                    overlapped->Internal = error;
                    return Fail(error);
                }
                EndTransfer(*transfer, error);
                ended = true;
                result = error == 0 ? TRUE : Fail(error);
            }
        }
        if (!ended) queue.push_back(transfer);
    }
    if (ended) {
        if (!isRead && transfer->progress.transferred > 0) WakeEventWait();
        return result;
    }
    if (!WatchDevice(shared_from_this())) {
        std::lock_guard<std::mutex> lock(ioMutex_);
        auto& queue = isRead ? reads_ : writes_;
        for (auto it = queue.begin(); it != queue.end(); ++it) {
            if (*it != transfer) continue;
            queue.erase(it);
            auto waits = LockWaits();
            overlapped->Internal = ERROR_NOT_ENOUGH_MEMORY;
            return Fail(ERROR_NOT_ENOUGH_MEMORY);
        }
    }
    // The Ex forms report a transfer under way as success.
    return routine != nullptr ? TRUE : Fail(ERROR_IO_PENDING);
}

DWORD CommDevice::SendImmediateLocked() {
    const unsigned char c = *immediateChar_;
    ssize_t put;
    do {
        put = ::write(fd_, &c, 1);
    } while (put < 0 && errno == EINTR);
    if (put == 1) {
        immediateChar_.reset();
        outputSent_ = true;
        outputSincePurge_ = true;
        events_.NoteSent();
        return 0;
    }
    if (put == 0 || errno == EAGAIN) return ERROR_IO_PENDING;
    immediateChar_.reset();
    return errno == EIO ? ERROR_DEVICE_NOT_CONNECTED : Win32ErrorFromErrno(errno);
}

BOOL CommDevice::TransmitChar(char c) {
    DWORD error = 0;
    {
        std::lock_guard<std::mutex> lock(ioMutex_);
        // As a serial driver does: one immediate character at a time.
        if (immediateChar_) return Fail(ERROR_INVALID_PARAMETER);
        immediateChar_ = static_cast<unsigned char>(c);
        error = SendImmediateLocked();
    }
    if (error == 0) {
        WakeEventWait();
        return TRUE;
    }
    if (error != ERROR_IO_PENDING) return Fail(error);
    // Held back (flow control, a full output queue): it goes ahead of the
    // pending writes as soon as the line takes it.
    if (!WatchDevice(shared_from_this())) {
        std::lock_guard<std::mutex> lock(ioMutex_);
        immediateChar_.reset();
        return Fail(ERROR_NOT_ENOUGH_MEMORY);
    }
    return TRUE;
}

CommDevice::Wants CommDevice::AdvancePending() {
    Wants wants;
    auto want = [&wants](short pollEvents, std::int64_t waitMs) {
        wants.pollEvents |= pollEvents;
        if (waitMs >= 0 && (wants.waitMs < 0 || waitMs < wants.waitMs)) wants.waitMs = waitMs;
    };
    std::lock_guard<std::mutex> lock(ioMutex_);
    for (auto* queue : {&reads_, &writes_}) {
        const bool isRead = queue == &reads_;
        if (!isRead && immediateChar_ && SendImmediateLocked() == ERROR_IO_PENDING) {
            want(POLLOUT, -1);
            continue;  // the writes wait behind the immediate character
        }
        while (!queue->empty()) {
            PendingTransfer& head = *queue->front();
            if (!head.started) StartProgress(head);
            std::int64_t waitMs = -1;
            DWORD error = 0;
            if (Advance(head, &waitMs, &error) == Step::kWait) {
                want(isRead ? POLLIN : POLLOUT, waitMs);
                break;
            }
            const std::shared_ptr<PendingTransfer> done = std::move(queue->front());
            queue->pop_front();
            EndTransfer(*done, error);
        }
    }
    if (eventWait_) {
        const DWORD events = events_.TakeEvents();
        pollfd entry{fd_, 0, 0};
        if (events != 0) {
            EndWaitLocked(0, events);
        } else if (poll(&entry, 1, 0) > 0 && (entry.revents & (POLLHUP | POLLERR))) {
            EndWaitLocked(ERROR_DEVICE_NOT_CONNECTED, 0);
        } else {
            short pollEvents = 0;
            std::int64_t tickMs = -1;
            events_.WaitNeeds(&pollEvents, &tickMs);
            want(pollEvents, tickMs);
        }
    }
    return wants;
}

template <class Predicate>
void CommDevice::AbortLocked(std::list<std::shared_ptr<PendingTransfer>>& queue, Predicate matches) {
    for (auto it = queue.begin(); it != queue.end();) {
        if (!matches(**it)) {
            ++it;
            continue;
        }
        const std::shared_ptr<PendingTransfer> aborted = std::move(*it);
        it = queue.erase(it);
        EndTransfer(*aborted, ERROR_OPERATION_ABORTED);
    }
}

void CommDevice::EndWaitLocked(DWORD error, DWORD events) {
    const std::shared_ptr<PendingTransfer> wait = std::move(eventWait_);
    eventWait_.reset();
    if (error == 0) wait->progress.transferred = sizeof(DWORD);
    EndTransfer(*wait, error, events);
}

void CommDevice::CancelCallerTransfers() {
    const std::thread::id caller = std::this_thread::get_id();
    const auto byCaller = [caller](const PendingTransfer& transfer) { return transfer.issuer == caller; };
    std::lock_guard<std::mutex> lock(ioMutex_);
    AbortLocked(reads_, byCaller);
    AbortLocked(writes_, byCaller);
    if (eventWait_ && eventWait_->issuer == caller) EndWaitLocked(ERROR_OPERATION_ABORTED, 0);
}

void CommDevice::AbortQueued(DWORD purgeFlags) {
    const auto every = [](const PendingTransfer&) { return true; };
    std::lock_guard<std::mutex> lock(ioMutex_);
    if (purgeFlags & PURGE_RXABORT) AbortLocked(reads_, every);
    if (purgeFlags & PURGE_TXABORT) AbortLocked(writes_, every);
}

void CommDevice::Close() {
    const auto every = [](const PendingTransfer&) { return true; };
    std::lock_guard<std::mutex> lock(ioMutex_);
    AbortLocked(reads_, every);
    AbortLocked(writes_, every);
    if (eventWait_) EndWaitLocked(ERROR_OPERATION_ABORTED, 0);
    immediateChar_.reset();
}

}  // namespace kavex::posix
