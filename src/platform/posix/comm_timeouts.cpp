#include "platform/posix/comm_timeouts.h"

#include <time.h>

#include <algorithm>

namespace kavex::posix {

std::int64_t NowMs() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<std::int64_t>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

ReadLimits::ReadLimits(const COMMTIMEOUTS& timeouts, DWORD count) {
    // The rules:
    //  - interval MAXDWORD, both totals 0: return at once with what is queued;
    //  - interval MAXDWORD, multiplier MAXDWORD, constant in between: wait up
    //    to the constant for the first byte, then return with what is queued;
    //  - otherwise a total limit (multiplier * count + constant, when either
    //    is set) and an interval limit between bytes (when set), else wait
    //    for all `count` bytes.
    const DWORD interval = timeouts.ReadIntervalTimeout;
    const DWORD multiplier = timeouts.ReadTotalTimeoutMultiplier;
    const DWORD constant = timeouts.ReadTotalTimeoutConstant;
    immediate_ = interval == MAXDWORD && multiplier == 0 && constant == 0;
    firstByte_ = interval == MAXDWORD && multiplier == MAXDWORD && constant != 0 && constant != MAXDWORD;
    if (firstByte_) {
        totalMs_ = constant;
    } else if (!immediate_ && (multiplier != 0 || constant != 0)) {
        totalMs_ = static_cast<std::int64_t>(multiplier) * count + constant;
    }
    useInterval_ = !immediate_ && !firstByte_ && interval != 0 && interval != MAXDWORD;
    interval_ = interval;
}

std::int64_t ReadLimits::WaitMs(std::int64_t nowMs, std::int64_t startMs, std::int64_t lastByteMs,
                                DWORD transferred) const {
    if (immediate_) return 0;
    std::int64_t waitMs = -1;
    if (totalMs_ >= 0) waitMs = std::max<std::int64_t>(0, totalMs_ - (nowMs - startMs));
    if (useInterval_ && transferred > 0) {
        const std::int64_t intervalLeft = std::max<std::int64_t>(0, interval_ - (nowMs - lastByteMs));
        waitMs = waitMs < 0 ? intervalLeft : std::min(waitMs, intervalLeft);
    }
    return waitMs;
}

WriteLimits::WriteLimits(const COMMTIMEOUTS& timeouts, DWORD count) {
    if (timeouts.WriteTotalTimeoutMultiplier != 0 || timeouts.WriteTotalTimeoutConstant != 0) {
        totalMs_ = static_cast<std::int64_t>(timeouts.WriteTotalTimeoutMultiplier) * count +
                   timeouts.WriteTotalTimeoutConstant;
    }
}

std::int64_t WriteLimits::WaitMs(std::int64_t nowMs, std::int64_t startMs) const {
    if (totalMs_ < 0) return -1;
    return std::max<std::int64_t>(0, totalMs_ - (nowMs - startMs));
}

}  // namespace kavex::posix
