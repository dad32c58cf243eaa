#include "settings/debug_log.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <mutex>

#include "framework/file.h"
#include "platform/win32.h"

namespace {

constexpr std::size_t kMessageSize = 10240;
constexpr char kLogFile[] = "C:\\qelclientkavex.txt";
// Orders the appends of every process: without it two processes could
// both find the same end of the file and write over each other.
constexpr char kLogMutexName[] = "kavex_qelclientkavex_log";

// The message buffer of the process, and the lock that gives it to one
// call at a time.
char g_message[kMessageSize];
std::mutex g_messageMutex;

// The machine-wide lock of the log file, opened once and kept for the
// process's life (null when it cannot be had: the file is then written
// without it).
HANDLE LogMutex() {
    static const HANDLE mutex = CreateMutexA(nullptr, FALSE, kLogMutexName);
    return mutex;
}

void AppendToLog(const char* message, std::size_t length) {
    const HANDLE mutex = LogMutex();
    if (mutex != nullptr) WaitForSingleObject(mutex, INFINITE);
    CFile file;
    if (file.Open(kLogFile,
                  CFile::modeReadWrite | CFile::modeCreate | CFile::modeNoTruncate | CFile::shareDenyNone)) {
        try {
            file.SeekToEnd();
            file.Write(message, static_cast<UINT>(length));
            file.Flush();
            file.Close();
        } catch (CFileException* error) {
            // The message has reached the debugger output; the file write is dropped.
            error->Delete();
            file.Abort();
        }
    }
    if (mutex != nullptr) ReleaseMutex(mutex);
}

}  // namespace

void WriteDebugLog(const char* format, ...) {
    std::lock_guard<std::mutex> lock(g_messageMutex);
    std::memset(g_message, 0, sizeof g_message);
    if (format != nullptr) {
        va_list arguments;
        va_start(arguments, format);
#if defined(__GNUC__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
#endif
        std::vsnprintf(g_message, sizeof g_message, format, arguments);
#if defined(__GNUC__)
#pragma GCC diagnostic pop
#endif
        va_end(arguments);
        g_message[kMessageSize - 1] = '\0';  // however the run-time cuts a long message
    }
    OutputDebugStringA(g_message);
    AppendToLog(g_message, std::strlen(g_message));
}
