// A serial line that plays a script: a device object put into the POSIX
// layer's handle table and attached to a port object, whose reads return
// the script's bytes in the script's chunks, with no pseudo-terminal and no
// waiting. Each read first lets the script's next step happen (some bytes
// arrive, or the read fails), then returns what has arrived, up to the
// count asked for; what a read leaves stays queued for the next. When the
// script has ended, the device is gone and every read fails.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "platform/posix/handles.h"
#include "serial/serial_port.h"

namespace kavex::fuzz {

class ScriptedLine final : public posix::KernelObject {
public:
    struct Step {
        bool fails = false;  // the read fails (a line error)
        std::string bytes;   // else: what arrives before the read
    };

    explicit ScriptedLine(std::vector<Step> script) : script_(std::move(script)) {}

    BOOL Read(void* buffer, DWORD count, DWORD* transferred) override;

    // Every byte the reads have handed out, in order.
    const std::string& HandedOut() const { return handedOut_; }

    // Puts the line into the handle table and attaches it to `port`.
    static std::shared_ptr<ScriptedLine> AttachTo(CSerialPort& port, std::vector<Step> script);

private:
    std::vector<Step> script_;
    std::size_t next_ = 0;
    std::string queued_;
    std::string handedOut_;
};

}  // namespace kavex::fuzz
