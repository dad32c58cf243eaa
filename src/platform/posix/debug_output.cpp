#include "platform/posix/debug_output.h"

#include <syslog.h>

#include <atomic>

#include "platform/posix/win32_system.h"

namespace kavex::posix {

namespace {
std::atomic<DebugOutputSink> g_sink{nullptr};
}

void SetDebugOutputSink(DebugOutputSink sink) { g_sink.store(sink); }

}  // namespace kavex::posix

void OutputDebugStringA(LPCSTR lpOutputString) {
    const char* text = lpOutputString != nullptr ? lpOutputString : "";
    if (const kavex::posix::DebugOutputSink sink = kavex::posix::g_sink.load()) {
        sink(text);
        return;
    }
    // As a debugger shows it: the text as it is, whatever the program's
    // own syslog identity.
    syslog(LOG_USER | LOG_DEBUG, "%s", text);
}
