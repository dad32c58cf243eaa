#include "scripted_line.h"

#include <cstring>

namespace kavex::fuzz {

BOOL ScriptedLine::Read(void* buffer, DWORD count, DWORD* transferred) {
    *transferred = 0;
    if (next_ >= script_.size()) {
        SetLastError(ERROR_DEVICE_NOT_CONNECTED);
        return FALSE;
    }
    const Step& step = script_[next_++];
    if (step.fails) {
        SetLastError(ERROR_IO_DEVICE);
        return FALSE;
    }
    queued_ += step.bytes;
    const std::size_t given = std::min<std::size_t>(count, queued_.size());
    std::memcpy(buffer, queued_.data(), given);
    handedOut_.append(queued_, 0, given);
    queued_.erase(0, given);
    *transferred = static_cast<DWORD>(given);
    return TRUE;
}

std::shared_ptr<ScriptedLine> ScriptedLine::AttachTo(CSerialPort& port, std::vector<Step> script) {
    auto line = std::make_shared<ScriptedLine>(std::move(script));
    port.Attach(posix::InsertObject(line));
    return line;
}

}  // namespace kavex::fuzz
