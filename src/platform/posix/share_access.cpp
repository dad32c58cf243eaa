#include "platform/posix/share_access.h"

#include <fcntl.h>
#include <sys/file.h>

#include <cerrno>

#include "platform/posix/errors.h"

namespace kavex::posix {

namespace {

static_assert(sizeof(off_t) == 8, "the share marks need 64-bit file offsets");

// The marks live 2^62 bytes into the file, each in a range of 2^32 bytes.
constexpr off_t kMarkBase = static_cast<off_t>(1) << 62;
constexpr off_t kMarkWidth = static_cast<off_t>(1) << 32;
// How many distinct write-only opens can mark one range at once.
constexpr off_t kMaxExclusiveMarks = 4096;

enum Mark { kHasRead = 0, kHasWrite = 1, kDeniesRead = 2, kDeniesWrite = 3 };

off_t MarkStart(Mark mark) { return kMarkBase + static_cast<off_t>(mark) * kMarkWidth; }

int LockCall(int fd, int command, short type, off_t start, off_t length, short* foundType = nullptr) {
    struct flock lock {};
    lock.l_type = type;
    lock.l_whence = SEEK_SET;
    lock.l_start = start;
    lock.l_len = length;
    lock.l_pid = 0;
    int result;
    do {
        result = fcntl(fd, command, &lock);
    } while (result != 0 && errno == EINTR);
    if (foundType != nullptr) *foundType = lock.l_type;
    return result;
}

// -1: the file system keeps no locks; 1: another open holds a mark in the
// range; 0: none does.
int MarkedByOthers(int fd, Mark mark) {
    short found = F_UNLCK;
    if (LockCall(fd, F_OFD_GETLK, F_WRLCK, MarkStart(mark), kMarkWidth, &found) != 0) return -1;
    return found == F_UNLCK ? 0 : 1;
}

// A descriptor open for reading places a shared lock at the start of the
// range. A write-only descriptor cannot take a shared lock, so it takes an
// exclusive lock on a byte of the range that no other open holds.
bool PlaceMark(int fd, bool readable, Mark mark) {
    const off_t start = MarkStart(mark);
    if (readable) return LockCall(fd, F_OFD_SETLK, F_RDLCK, start, 1) == 0;
    for (off_t offset = 1; offset <= kMaxExclusiveMarks; ++offset) {
        if (LockCall(fd, F_OFD_SETLK, F_WRLCK, start + offset, 1) == 0) return true;
        if (errno != EAGAIN && errno != EACCES) return false;
    }
    errno = ENOLCK;
    return false;
}

// Serialises the check-then-mark step of concurrent opens of one file.
class OpenGuard {
public:
    explicit OpenGuard(int fd) : fd_(fd) {
        int result;
        do {
            result = flock(fd_, LOCK_EX);
        } while (result != 0 && errno == EINTR);
        held_ = result == 0;
    }
    ~OpenGuard() {
        if (held_) flock(fd_, LOCK_UN);
    }
    OpenGuard(const OpenGuard&) = delete;
    OpenGuard& operator=(const OpenGuard&) = delete;

private:
    int fd_;
    bool held_ = false;
};

}  // namespace

bool AcquireShareAccess(int fd, bool readable, DWORD access, DWORD shareMode) {
    const bool wantsRead = (access & GENERIC_READ) != 0;
    const bool wantsWrite = (access & GENERIC_WRITE) != 0;
    // An open without data access takes part in no sharing check.
    if (!wantsRead && !wantsWrite) return true;
    const bool deniesRead = (shareMode & FILE_SHARE_READ) == 0;
    const bool deniesWrite = (shareMode & FILE_SHARE_WRITE) == 0;

    OpenGuard guard(fd);
    const struct {
        bool applies;
        Mark mark;
    } checks[] = {{wantsRead, kDeniesRead},
                  {wantsWrite, kDeniesWrite},
                  {deniesRead, kHasRead},
                  {deniesWrite, kHasWrite}};
    for (const auto& check : checks) {
        if (!check.applies) continue;
        const int marked = MarkedByOthers(fd, check.mark);
        // Without locks (some network file systems) sharing cannot be
        // enforced; the open goes ahead as an unshared open would.
        if (marked < 0) return true;
        if (marked > 0) {
            Fail(ERROR_SHARING_VIOLATION);
            return false;
        }
    }
    const struct {
        bool applies;
        Mark mark;
    } marks[] = {{wantsRead, kHasRead},
                 {wantsWrite, kHasWrite},
                 {deniesRead, kDeniesRead},
                 {deniesWrite, kDeniesWrite}};
    for (const auto& mark : marks) {
        if (mark.applies && !PlaceMark(fd, readable, mark.mark)) {
            FailWithErrno();
            return false;
        }
    }
    return true;
}

}  // namespace kavex::posix
