// The module's diagnostic trace.
#pragma once

// Formats the message in the manner of printf (at most 10239 characters;
// a longer one is cut), sends it to the debugger output and appends it,
// exactly as formatted, to "C:\qelclientkavex.txt" (opened with full
// sharing). A log file that cannot be opened or written is left out: a
// trace never fails its caller. Calls are serialised, also between
// processes, so that each message reaches the file whole.
void WriteDebugLog(const char* format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 1, 2)))
#endif
    ;
