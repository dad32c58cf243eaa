#include "platform/posix/share_access.h"

#include <fcntl.h>

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

// In this order, the marks an open for reading without sharing places (has
// read, denies both) lie side by side, and so do the marks it checks (has
// write, has read, denies read): each set takes one lock call.
enum Mark { kHasWrite = 0, kHasRead = 1, kDeniesRead = 2, kDeniesWrite = 3, kMarkCount = 4 };

off_t MarkStart(int mark) { return kMarkBase + static_cast<off_t>(mark) * kMarkWidth; }

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

// Calls `run(first, last)` for each run of neighbouring marks in `set`.
template <class Run>
bool ForEachRun(const bool (&set)[kMarkCount], Run run) {
    for (int first = 0; first < kMarkCount; ++first) {
        if (!set[first]) continue;
        int last = first;
        while (last + 1 < kMarkCount && set[last + 1]) ++last;
        if (!run(first, last)) return false;
        first = last;
    }
    return true;
}

// -1: the file system keeps no locks; 1: another open holds a mark of the
// set; 0: none does.
int MarkedByOthers(int fd, const bool (&set)[kMarkCount]) {
    int marked = 0;
    const bool checked = ForEachRun(set, [&](int first, int last) {
        short found = F_UNLCK;
        if (LockCall(fd, F_OFD_GETLK, F_WRLCK, MarkStart(first), (last - first + 1) * kMarkWidth, &found) !=
            0) {
            marked = -1;
            return false;
        }
        if (found != F_UNLCK) marked = 1;
        return marked == 0;
    });
    return checked || marked != 0 ? marked : -1;
}

// A descriptor open for reading places a shared lock over its marks (from
// the start of the first range to the first byte of the last). A write-only
// descriptor cannot take a shared lock, so it takes an exclusive lock on a
// byte of each range that no other open holds.
bool PlaceMarks(int fd, bool readable, const bool (&set)[kMarkCount]) {
    return ForEachRun(set, [&](int first, int last) {
        if (readable)
            return LockCall(fd, F_OFD_SETLK, F_RDLCK, MarkStart(first),
                            MarkStart(last) - MarkStart(first) + 1) == 0;
        for (int mark = first; mark <= last; ++mark) {
            bool placed = false;
            for (off_t offset = 1; offset <= kMaxExclusiveMarks && !placed; ++offset) {
                if (LockCall(fd, F_OFD_SETLK, F_WRLCK, MarkStart(mark) + offset, 1) == 0) {
                    placed = true;
                } else if (errno != EAGAIN && errno != EACCES) {
                    return false;
                }
            }
            if (!placed) {
                errno = EMFILE;  // that many write-only opens of one file
                return false;
            }
        }
        return true;
    });
}

void RemoveMarks(int fd) { LockCall(fd, F_OFD_SETLK, F_UNLCK, kMarkBase, kMarkCount * kMarkWidth); }

}  // namespace

bool AcquireShareAccess(int fd, bool readable, DWORD access, DWORD shareMode) {
    const bool wantsRead = (access & GENERIC_READ) != 0;
    const bool wantsWrite = (access & GENERIC_WRITE) != 0;
    // An open without data access takes part in no sharing check.
    if (!wantsRead && !wantsWrite) return true;
    const bool deniesRead = (shareMode & FILE_SHARE_READ) == 0;
    const bool deniesWrite = (shareMode & FILE_SHARE_WRITE) == 0;

    bool own[kMarkCount] = {};
    own[kHasRead] = wantsRead;
    own[kHasWrite] = wantsWrite;
    own[kDeniesRead] = deniesRead;
    own[kDeniesWrite] = deniesWrite;
    bool theirs[kMarkCount] = {};  // what another open must not hold
    theirs[kDeniesRead] = wantsRead;
    theirs[kDeniesWrite] = wantsWrite;
    theirs[kHasRead] = deniesRead;
    theirs[kHasWrite] = deniesWrite;

    // Marks first, then the look at the others' marks: of two opens that
    // conflict, the one that looks last sees the other's marks, so they can
    // never both go ahead (at worst both give way, and callers try again).
    if (!PlaceMarks(fd, readable, own)) {
        const int error = errno;
        RemoveMarks(fd);
        // Without locks (some network file systems) sharing cannot be
        // enforced; the open goes ahead as an unshared open would.
        if (error == ENOLCK || error == EINVAL || error == EOPNOTSUPP) return true;
        errno = error;
        FailWithErrno();
        return false;
    }
    if (MarkedByOthers(fd, theirs) > 0) {
        RemoveMarks(fd);
        Fail(ERROR_SHARING_VIOLATION);
        return false;
    }
    return true;
}

}  // namespace kavex::posix
