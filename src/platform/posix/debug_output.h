// Where OutputDebugStringA sends its text: syslog at debug priority.
#pragma once

namespace kavex::posix {

// Makes OutputDebugStringA hand its text to `sink` instead of syslog, so
// that a test can see what a program sends to the debugger. Null restores
// syslog.
using DebugOutputSink = void (*)(const char* text);
void SetDebugOutputSink(DebugOutputSink sink);

}  // namespace kavex::posix
