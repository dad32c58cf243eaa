#include "platform/posix/named_objects.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <mutex>
#include <new>
#include <set>

#include "platform/posix/devices.h"
#include "platform/posix/errors.h"
#include "platform/posix/unique_fd.h"

namespace kavex::posix {

namespace {

constexpr std::uint32_t kMagic = 0x3158564Bu;  // "KVX1"

struct SegmentHeader {
    std::uint32_t magic;
    std::uint32_t kind;
    std::uint64_t dataSize;
};

// The bytes whose locks order the opens and closes of an object (held for a
// moment) and mark its users (held while open), far beyond any data.
constexpr off_t kGuardByte = 0x7FFFFFF0;
constexpr off_t kUseByte = 0x7FFFFFF1;

bool Lock(int fd, off_t at, short type, bool wait) {
    struct flock lock {};
    lock.l_type = type;
    lock.l_whence = SEEK_SET;
    lock.l_start = at;
    lock.l_len = 1;
    for (;;) {
        if (fcntl(fd, wait ? F_OFD_SETLKW : F_OFD_SETLK, &lock) == 0) return true;
        if (errno != EINTR) return false;
    }
}

// True when `name` still names the object open on fd.
bool StillNamed(int fd, const std::string& name) {
    UniqueFd again(shm_open(name.c_str(), O_RDWR | O_CLOEXEC, 0));
    struct stat mine {
    }, named{};
    return again.Valid() && fstat(fd, &mine) == 0 && fstat(again.Get(), &named) == 0 &&
           mine.st_dev == named.st_dev && mine.st_ino == named.st_ino;
}

std::uint64_t Fnv1a(const std::string& text) {
    std::uint64_t hash = 0xCBF29CE484222325ull;
    for (const char c : text) {
        hash ^= static_cast<unsigned char>(c);
        hash *= 0x100000001B3ull;
    }
    return hash;
}

std::size_t RoundUp(std::size_t size, std::size_t unit) { return (size + unit - 1) / unit * unit; }

std::size_t PageSize() {
    const long page = sysconf(_SC_PAGESIZE);
    return page > 0 ? static_cast<std::size_t>(page) : 4096;
}

// The objects this process has open, by shared memory name, and every live
// segment for the exit hook. Built on first use and never destroyed: objects
// may still be open while the process's static objects go. Recursive: a
// segment looked up under the lock can be the last reference and end there.
struct Registry {
    std::recursive_mutex mutex;
    std::map<std::string, std::weak_ptr<SharedSegment>> byName;
    std::set<SharedSegment*> live;
};

Registry& TheRegistry() {
    alignas(Registry) static unsigned char storage[sizeof(Registry)];
    static Registry* const registry = [] {
        Registry* made = ::new (static_cast<void*>(storage)) Registry();
        std::atexit(SharedSegment::RemoveUnusedNamesAtExit);
        return made;
    }();
    return *registry;
}

// Removes the name when no other process holds the object. The caller
// holds nothing; fd stays open.
void RemoveNameIfUnused(int fd, const std::string& name) {
    if (!Lock(fd, kGuardByte, F_WRLCK, true)) return;
    if (Lock(fd, kUseByte, F_WRLCK, false) && StillNamed(fd, name)) shm_unlink(name.c_str());
    Lock(fd, kUseByte, F_RDLCK, false);
    Lock(fd, kGuardByte, F_UNLCK, false);
}

struct Mapped {
    void* base = MAP_FAILED;
    std::size_t length = 0;
};

// Maps the header and data of an object of `dataSize` bytes.
Mapped MapObject(int fd, std::size_t dataSize) {
    Mapped mapped;
    mapped.length = SharedSegment::kDataOffset + dataSize;
    mapped.base = mmap(nullptr, mapped.length, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    return mapped;
}

}  // namespace

std::string SharedMemoryName(const char* name) {
    std::string prefix = KavexPrefix();
    char resolved[PATH_MAX];
    if (realpath(prefix.c_str(), resolved) != nullptr) prefix = resolved;
    const std::string object = name != nullptr ? name : "";
    std::string readable;
    for (const char c : object) {
        if (readable.size() >= 64) break;
        const bool plain =
            (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
        readable += plain ? c : '.';
    }
    char text[96];
    std::snprintf(text, sizeof text, "/kavex-%016llx-%016llx-",
                  static_cast<unsigned long long>(Fnv1a(prefix)),
                  static_cast<unsigned long long>(Fnv1a(object)));
    return text + readable;
}

SharedSegment::SharedSegment(std::string shmName, NamedKind kind, int fd, void* base, std::size_t mapped,
                             std::size_t dataSize)
    : shmName_(std::move(shmName)),
      kind_(kind),
      fd_(fd),
      base_(base),
      mapped_(mapped),
      dataSize_(dataSize),
      pid_(static_cast<long>(getpid())) {}

SharedSegment::~SharedSegment() {
    Registry& registry = TheRegistry();
    {
        std::lock_guard<std::recursive_mutex> lock(registry.mutex);
        registry.live.erase(this);
        auto entry = registry.byName.find(shmName_);
        if (entry != registry.byName.end() && entry->second.expired()) registry.byName.erase(entry);
    }
    // A forked child shares the parent's lock marks: it only lets go of its copy.
    if (!shmName_.empty() && pid_ == static_cast<long>(getpid())) RemoveNameIfUnused(fd_, shmName_);
    munmap(base_, mapped_);
    close(fd_);
}

void SharedSegment::RemoveUnusedNamesAtExit() {
    Registry& registry = TheRegistry();
    std::lock_guard<std::recursive_mutex> lock(registry.mutex);
    for (SharedSegment* segment : registry.live) {
        if (!segment->shmName_.empty() && segment->pid_ == static_cast<long>(getpid())) {
            RemoveNameIfUnused(segment->fd_, segment->shmName_);
        }
    }
}

std::shared_ptr<SharedSegment> SharedSegment::Open(const char* name, NamedKind kind, std::size_t dataSize,
                                                   void (*initialize)(void* data), bool* created) {
    *created = false;
    if (dataSize == 0 || dataSize > (SIZE_MAX - kDataOffset) / 2) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    const std::size_t dataBytes = RoundUp(dataSize, PageSize());
    Registry& registry = TheRegistry();

    if (name == nullptr || *name == '\0') {
        UniqueFd fd(memfd_create("kavex-object", MFD_CLOEXEC));
        if (!fd.Valid() || ftruncate(fd.Get(), static_cast<off_t>(kDataOffset + dataBytes)) != 0) {
            FailWithErrno();
            return nullptr;
        }
        const Mapped mapped = MapObject(fd.Get(), dataBytes);
        if (mapped.base == MAP_FAILED) {
            FailWithErrno();
            return nullptr;
        }
        if (initialize != nullptr) initialize(static_cast<char*>(mapped.base) + kDataOffset);
        std::shared_ptr<SharedSegment> segment(
            new SharedSegment(std::string(), kind, fd.Release(), mapped.base, mapped.length, dataSize));
        std::lock_guard<std::recursive_mutex> lock(registry.mutex);
        registry.live.insert(segment.get());
        *created = true;
        return segment;
    }

    const std::string shmName = SharedMemoryName(name);
    std::lock_guard<std::recursive_mutex> lock(registry.mutex);
    // Opened already in this process: the same object.
    if (auto known = registry.byName.find(shmName); known != registry.byName.end()) {
        if (std::shared_ptr<SharedSegment> segment = known->second.lock()) {
            if (segment->pid_ == static_cast<long>(getpid())) {
                if (segment->kind_ != kind) {
                    SetLastError(ERROR_INVALID_HANDLE);
                    return nullptr;
                }
                return segment;
            }
        }
    }

    for (int attempt = 0; attempt < 64; ++attempt) {
        UniqueFd fd(shm_open(shmName.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600));
        if (!fd.Valid()) {
            FailWithErrno();
            return nullptr;
        }
        if (!Lock(fd.Get(), kGuardByte, F_WRLCK, true)) {
            FailWithErrno();
            return nullptr;
        }
        if (!StillNamed(fd.Get(), shmName)) continue;  // removed since we opened it: once more
        struct stat status {};
        if (fstat(fd.Get(), &status) != 0) {
            FailWithErrno();
            return nullptr;
        }
        const bool unused = Lock(fd.Get(), kUseByte, F_WRLCK, false);
        Mapped mapped;
        std::size_t objectSize = dataSize;
        bool made = false;
        if (unused || status.st_size < static_cast<off_t>(kDataOffset)) {
            // No process uses the object: it is made anew, whatever was left.
            if (ftruncate(fd.Get(), 0) != 0 ||
                ftruncate(fd.Get(), static_cast<off_t>(kDataOffset + dataBytes)) != 0) {
                FailWithErrno();
                return nullptr;
            }
            mapped = MapObject(fd.Get(), dataBytes);
            if (mapped.base == MAP_FAILED) {
                FailWithErrno();
                return nullptr;
            }
            auto* header = static_cast<SegmentHeader*>(mapped.base);
            header->kind = static_cast<std::uint32_t>(kind);
            header->dataSize = dataSize;
            if (initialize != nullptr) initialize(static_cast<char*>(mapped.base) + kDataOffset);
            header->magic = kMagic;
            made = true;
        } else {
            void* headerPage = mmap(nullptr, sizeof(SegmentHeader), PROT_READ, MAP_SHARED, fd.Get(), 0);
            if (headerPage == MAP_FAILED) {
                FailWithErrno();
                return nullptr;
            }
            const SegmentHeader header = *static_cast<const SegmentHeader*>(headerPage);
            munmap(headerPage, sizeof(SegmentHeader));
            const std::uint64_t available = static_cast<std::uint64_t>(status.st_size) - kDataOffset;
            if (header.magic != kMagic || header.kind != static_cast<std::uint32_t>(kind) ||
                header.dataSize == 0 || header.dataSize > available) {
                Lock(fd.Get(), kGuardByte, F_UNLCK, false);
                SetLastError(ERROR_INVALID_HANDLE);
                return nullptr;
            }
            objectSize = static_cast<std::size_t>(header.dataSize);
            mapped = MapObject(fd.Get(), static_cast<std::size_t>(available));
            if (mapped.base == MAP_FAILED) {
                FailWithErrno();
                return nullptr;
            }
        }
        // Mark this process as a user (from the exclusive mark of a new
        // object, or beside the other users' marks), then let others in.
        if (!Lock(fd.Get(), kUseByte, F_RDLCK, false)) {
            FailWithErrno();
            munmap(mapped.base, mapped.length);
            return nullptr;
        }
        Lock(fd.Get(), kGuardByte, F_UNLCK, false);
        std::shared_ptr<SharedSegment> segment(
            new SharedSegment(shmName, kind, fd.Release(), mapped.base, mapped.length, objectSize));
        registry.byName[shmName] = segment;
        registry.live.insert(segment.get());
        *created = made;
        return segment;
    }
    SetLastError(ERROR_SHARING_VIOLATION);
    return nullptr;
}

}  // namespace kavex::posix
