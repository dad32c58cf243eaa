// Test-only switches of the POSIX layer, the seam between the module and the
// system: make the Nth file operation fail as a failing disk would, and let
// Sleep return at once. Nothing in the module or its tools sets them; tests
// and fuzz targets do. Switched off, as they start, each costs the layer's
// calls one atomic load.
//
// Counting and failing the calls here, rather than inside the code that uses
// them, tests exactly the code that ships: every path through a load or a
// save meets the same failures a real disk gives it.
#pragma once

#include "platform/posix/win32_types.h"

namespace kavex::posix::faults {

// The file operations that count, and the layer's calls that make them. A
// failing operation changes nothing on disk unless said otherwise.
enum class FileOperation : unsigned {
    kOpen,       // CreateFileA of a regular file; GetTempFileNameA's new file
    kRead,       // ReadFile
    kWrite,      // WriteFile: the failing call stores the first half of its data
    kFlush,      // FlushFileBuffers; the directory sync of a write-through
                 // MoveFileExA or of ReplaceFileA, which fails after the
                 // file was moved
    kSetLength,  // SetEndOfFile
    kMove,       // MoveFileExA; ReplaceFileA's move of the new file
    kDelete,     // DeleteFileA
    kClose,      // CloseHandle of a regular file: the handle is released anyway
};
constexpr unsigned kFileOperationCount = 8;

constexpr unsigned Mask(FileOperation operation) { return 1u << static_cast<unsigned>(operation); }
constexpr unsigned kEveryFileOperation = (1u << kFileOperationCount) - 1;

// What the switch does from the moment it is armed.
struct FileFaultPlan {
    unsigned long failAt = 0;                   // the Nth counted operation fails (1: the next); 0: none
    bool persistent = false;                    // and so does every counted operation after it
    unsigned operations = kEveryFileOperation;  // the operations that count (Mask()s)
    DWORD error = 0;                            // the error they report; 0: the operation's own
                                                // disk error (see DiskErrorOf)
    void (*atFault)(FileOperation) = nullptr;   // called as an operation is made to fail, before
                                                // it does (a test may end the process there)
};

// What happened since the switch was armed.
struct FileFaultReport {
    unsigned long counted = 0;   // operations counted
    unsigned long injected = 0;  // of them, made to fail
    FileOperation first{};       // the first that was made to fail (when injected > 0)
    unsigned failed = 0;         // the kinds made to fail (Mask()s)
};

void ArmFileFaults(const FileFaultPlan& plan);
// Switches the failures off and returns what happened while they were armed.
FileFaultReport DisarmFileFaults();
FileFaultReport FileFaultsSoFar();

// The error a disk gives for a failing operation of this kind.
DWORD DiskErrorOf(FileOperation operation);
const char* NameOf(FileOperation operation);

// Arms a plan for the life of the object.
class ScopedFileFaults {
public:
    explicit ScopedFileFaults(const FileFaultPlan& plan) { ArmFileFaults(plan); }
    ~ScopedFileFaults() { DisarmFileFaults(); }
    ScopedFileFaults(const ScopedFileFaults&) = delete;
    ScopedFileFaults& operator=(const ScopedFileFaults&) = delete;
};

// True makes Sleep return at once, so that code which polls can be driven
// as fast as its input comes (the fuzz targets).
void SetSleepReturnsAtOnce(bool atOnce);

// For the layer's calls: counts one operation and tells whether it must
// fail, with the error to report in *error.
bool InjectFileFault(FileOperation operation, DWORD* error);
// The same, setting the last error to that error when the operation fails.
inline bool FailsByInjection(FileOperation operation) {
    DWORD error = 0;
    if (!InjectFileFault(operation, &error)) return false;
    SetLastError(error);
    return true;
}
bool SleepReturnsAtOnce();

}  // namespace kavex::posix::faults
