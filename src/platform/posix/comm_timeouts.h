// The Win32 time-out rules of one serial read or write, for the synchronous
// transfers and the overlapped ones alike. A limit starts when the transfer
// does: at the call, or for a transfer queued behind others, when it reaches
// the head of its queue.
#pragma once

#include <cstdint>

#include "platform/posix/win32_comm.h"

namespace kavex::posix {

// Milliseconds of the monotonic clock.
std::int64_t NowMs();

class ReadLimits {
public:
    ReadLimits() = default;
    ReadLimits(const COMMTIMEOUTS& timeouts, DWORD count);

    // Interval MAXDWORD, both totals 0: the read takes what is queued and
    // never waits.
    bool Immediate() const { return immediate_; }
    // True when the read ends as soon as some bytes came (immediate reads,
    // and interval MAXDWORD with multiplier MAXDWORD, which waits up to the
    // constant for the first byte).
    bool EndsWithData() const { return immediate_ || firstByte_; }
    // How long the read may still wait for more bytes: -1 without limit, 0
    // when a limit has ended it. `transferred` bytes have come so far, the
    // last of them at lastByteMs.
    std::int64_t WaitMs(std::int64_t nowMs, std::int64_t startMs, std::int64_t lastByteMs,
                        DWORD transferred) const;

private:
    bool immediate_ = true;
    bool firstByte_ = false;
    bool useInterval_ = false;
    DWORD interval_ = 0;
    std::int64_t totalMs_ = -1;  // -1: no total limit
};

class WriteLimits {
public:
    WriteLimits() = default;
    WriteLimits(const COMMTIMEOUTS& timeouts, DWORD count);

    // As ReadLimits::WaitMs; a write that a limit ends completes short.
    std::int64_t WaitMs(std::int64_t nowMs, std::int64_t startMs) const;

private:
    std::int64_t totalMs_ = -1;
};

}  // namespace kavex::posix
