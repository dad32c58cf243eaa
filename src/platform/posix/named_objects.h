// The shared memory behind the layer's Win32 named objects (mutexes and
// file mappings).
//
// A named object is a POSIX shared memory object whose name is made from the
// object's name and the KAVEX_PREFIX, so two prefixes never share one. It
// holds a header page (what kind of object it is, the size of its data) and
// then the data. Every process that has the object open holds a shared lock
// on it (an open-file-description lock, which goes with the process however
// it ends); the last one to close it removes the name, and an object whose
// users have all ended without closing it is taken as new by the next one
// to open it. So a named object lasts exactly as long as a process uses
// it, as on Windows.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "platform/posix/win32_types.h"

namespace kavex::posix {

enum class NamedKind : std::uint32_t { kMutex = 1, kMapping = 2 };

class SharedSegment {
public:
    // The data starts this far into the shared memory object: a multiple of
    // the page size and of the 64 KiB granularity of view offsets.
    static constexpr std::size_t kDataOffset = 65536;

    // Opens the object `name` of `kind`. When no live one exists it is made
    // with `dataSize` zero bytes and `initialize` run on its data (while no
    // other process can open it), and *created is set. An unnamed object
    // (name null or empty) is always new and private to this process. Null
    // with the last error set on failure: ERROR_INVALID_HANDLE when the name
    // belongs to an object of another kind.
    static std::shared_ptr<SharedSegment> Open(const char* name, NamedKind kind, std::size_t dataSize,
                                               void (*initialize)(void* data), bool* created);

    ~SharedSegment();
    SharedSegment(const SharedSegment&) = delete;
    SharedSegment& operator=(const SharedSegment&) = delete;

    NamedKind Kind() const { return kind_; }
    // The data of the object, mapped read-write for the segment's lifetime.
    void* Data() const { return static_cast<char*>(base_) + kDataOffset; }
    std::size_t DataSize() const { return dataSize_; }
    // The shared memory descriptor, for further views of the data.
    int Descriptor() const { return fd_; }

    // Removes the names of this process's objects that no other process
    // uses; run when the process exits.
    static void RemoveUnusedNamesAtExit();

private:
    SharedSegment(std::string shmName, NamedKind kind, int fd, void* base, std::size_t mapped,
                  std::size_t dataSize);

    const std::string shmName_;  // empty for an unnamed object
    const NamedKind kind_;
    const int fd_;
    void* const base_;
    const std::size_t mapped_;
    const std::size_t dataSize_;
    const long pid_;  // the process that opened it (a forked child does not own it)
};

// The shared memory name of a Win32 object name under the current
// KAVEX_PREFIX.
std::string SharedMemoryName(const char* name);

}  // namespace kavex::posix
