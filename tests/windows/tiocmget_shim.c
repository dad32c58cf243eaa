/*
 * Test-only LD_PRELOAD object for the Wine tier.
 *
 * A pseudo-terminal has no modem lines, so TIOCMGET and friends fail on it,
 * and with them Wine's GetCommModemStatus and everything after it in the
 * module's open sequence. For pseudo-terminal slaves only, this object
 * answers as a null-modem line whose partner is ready: TIOCMGET reports
 * DTR, RTS, DSR and CTS; setting or clearing lines succeeds and changes
 * nothing. Every other ioctl goes to the C library unchanged.
 *
 * With KAVEX_SHIM_LOG naming a file, it also appends a line for every
 * pseudo-terminal slave descriptor that a process gains or gives up:
 *   open PID FD /dev/pts/N     open(), openat() and their 64-bit forms;
 *                              a copy by dup(), dup2(), dup3() or fcntl();
 *                              a descriptor received over a socket (the
 *                              Wine server opens a COM port's device and
 *                              hands it to the program)
 *   close PID FD /dev/pts/N    close(), or dup2()/dup3() over the descriptor
 *   start PID                  a program starts in process PID (the shim
 *                              is loaded)
 * so that the test harness sees which process holds a port's line at any
 * moment, and in which order ports are closed (at module unload: the reverse
 * of the port objects' construction order). A process that ends closes its
 * descriptors without a line: the harness counts only live processes, and
 * a "start" line ends what the log said of an earlier process of that PID.
 *
 * 32-bit Wine's ntdll is built with 64-bit time and calls glibc's
 * __ioctl_time64 rather than ioctl, so both entry points are answered.
 *
 * Built natively by scripts/test-windows.sh for both word sizes, into two
 * directories on LD_LIBRARY_PATH with LD_PRELOAD=tiocmget_shim.so, so that
 * each Wine process (32-bit or 64-bit) loads its own:
 *   cc [-m32] -shared -fPIC -O2 -o DIR/tiocmget_shim.so tiocmget_shim.c -ldl
 */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <termios.h>
#include <unistd.h>

/* Linux's UNIX98 pseudo-terminal slaves use majors 136 to 143. */
static int IsPseudoTerminalSlave(int fd) {
    struct stat info;
    if (fstat(fd, &info) != 0 || !S_ISCHR(info.st_mode)) return 0;
    const unsigned int major_number = major(info.st_rdev);
    return major_number >= 136 && major_number <= 143;
}

typedef int (*IoctlFn)(int, unsigned long, ...);

/* Gives the answer of a null-modem line for the modem-line requests that
 * failed on a pseudo-terminal slave; any other result is passed on. */
static int Answer(int fd, unsigned long request, void* argument, int result) {
    if (result == 0 || (errno != ENOTTY && errno != EINVAL) || !IsPseudoTerminalSlave(fd)) return result;
    switch (request) {
        case TIOCMGET: *(int*)argument = TIOCM_DTR | TIOCM_RTS | TIOCM_DSR | TIOCM_CTS; return 0;
        case TIOCMSET:
        case TIOCMBIS:
        case TIOCMBIC: return 0;
        default: return result;
    }
}

static void* Argument(va_list args) { return va_arg(args, void*); }

int ioctl(int fd, unsigned long request, ...) {
    static IoctlFn real_ioctl;
    if (real_ioctl == 0) real_ioctl = (IoctlFn)dlsym(RTLD_NEXT, "ioctl");
    va_list args;
    va_start(args, request);
    void* argument = Argument(args);
    va_end(args);
    return Answer(fd, request, argument, real_ioctl(fd, request, argument));
}

int __ioctl_time64(int fd, unsigned long request, ...) {
    static IoctlFn real_ioctl;
    if (real_ioctl == 0) real_ioctl = (IoctlFn)dlsym(RTLD_NEXT, "__ioctl_time64");
    if (real_ioctl == 0) real_ioctl = (IoctlFn)dlsym(RTLD_NEXT, "ioctl");
    va_list args;
    va_start(args, request);
    void* argument = Argument(args);
    va_end(args);
    return Answer(fd, request, argument, real_ioctl(fd, request, argument));
}

/* The C library's own entry points, found once. */
typedef int (*OpenFn)(const char*, int, ...);
typedef int (*OpenAtFn)(int, const char*, int, ...);
typedef int (*CloseFn)(int);
typedef int (*DupFn)(int);
typedef int (*Dup2Fn)(int, int);
typedef int (*Dup3Fn)(int, int, int);
typedef int (*FcntlFn)(int, int, ...);
typedef ssize_t (*RecvmsgFn)(int, struct msghdr*, int);

static void* Real(const char* name) { return dlsym(RTLD_NEXT, name); }

static int RealOpen(const char* path, int flags, mode_t mode) {
    static OpenFn real_open;
    if (real_open == 0) real_open = (OpenFn)Real("open");
    return real_open(path, flags, mode);
}

static int RealClose(int fd) {
    static CloseFn real_close;
    if (real_close == 0) real_close = (CloseFn)Real("close");
    return real_close(fd);
}

/* Appends one line to the log, when it is asked for. One write to a file
 * opened for appending, so that the lines of processes writing at once
 * never mix. */
static void Append(const char* line, int length) {
    const char* log_path = getenv("KAVEX_SHIM_LOG");
    if (log_path == 0 || length <= 0) return;
    const int log = RealOpen(log_path, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (log < 0) return;
    if (write(log, line, (size_t)length) < 0) { /* the log is best effort */
    }
    RealClose(log);
}

/* Logs "WHAT PID FD /dev/pts/N" when fd is a pseudo-terminal slave; errno is
 * kept. */
static void Log(const char* what, int fd) {
    if (fd < 0 || getenv("KAVEX_SHIM_LOG") == 0) return;
    const int saved_errno = errno;
    struct stat info;
    if (IsPseudoTerminalSlave(fd) && fstat(fd, &info) == 0) {
        const unsigned int index = (major(info.st_rdev) - 136) * 256 + minor(info.st_rdev);
        char line[96];
        const int length =
            snprintf(line, sizeof line, "%s %ld %d /dev/pts/%u\n", what, (long)getpid(), fd, index);
        if (length > 0 && (size_t)length < sizeof line) Append(line, length);
    }
    errno = saved_errno;
}

/* "start PID" when a program starts in a process: what the log says of an
 * earlier process with the same number (which ended, closing its
 * descriptors without a line) is over. */
__attribute__((constructor)) static void LogStart(void) {
    if (getenv("KAVEX_SHIM_LOG") == 0) return;
    const int saved_errno = errno;
    char line[32];
    const int length = snprintf(line, sizeof line, "start %ld\n", (long)getpid());
    if (length > 0 && (size_t)length < sizeof line) Append(line, length);
    errno = saved_errno;
}

/* The mode argument of an open: there only when the flags create a file. */
static mode_t Mode(int flags, va_list args) {
    return (flags & O_CREAT) != 0 || (flags & O_TMPFILE) == O_TMPFILE ? (mode_t)va_arg(args, int) : 0;
}

#define KAVEX_SHIM_OPEN(name)                      \
    int name(const char* path, int flags, ...) {   \
        static OpenFn real;                        \
        if (real == 0) real = (OpenFn)Real(#name); \
        va_list args;                              \
        va_start(args, flags);                     \
        const mode_t mode = Mode(flags, args);     \
        va_end(args);                              \
        const int fd = real(path, flags, mode);    \
        Log("open", fd);                           \
        return fd;                                 \
    }

#define KAVEX_SHIM_OPENAT(name)                                 \
    int name(int directory, const char* path, int flags, ...) { \
        static OpenAtFn real;                                   \
        if (real == 0) real = (OpenAtFn)Real(#name);            \
        va_list args;                                           \
        va_start(args, flags);                                  \
        const mode_t mode = Mode(flags, args);                  \
        va_end(args);                                           \
        const int fd = real(directory, path, flags, mode);      \
        Log("open", fd);                                        \
        return fd;                                              \
    }

KAVEX_SHIM_OPEN(open)
KAVEX_SHIM_OPEN(open64)
KAVEX_SHIM_OPENAT(openat)
KAVEX_SHIM_OPENAT(openat64)

int dup(int old_fd) {
    static DupFn real_dup;
    if (real_dup == 0) real_dup = (DupFn)Real("dup");
    const int fd = real_dup(old_fd);
    Log("open", fd);
    return fd;
}

/* dup2 and dup3 close new_fd first when it is open (and is not old_fd). */
static void LogReplaced(int old_fd, int new_fd) {
    if (old_fd != new_fd && fcntl(old_fd, F_GETFD) != -1) Log("close", new_fd);
}

int dup2(int old_fd, int new_fd) {
    static Dup2Fn real_dup2;
    if (real_dup2 == 0) real_dup2 = (Dup2Fn)Real("dup2");
    LogReplaced(old_fd, new_fd);
    const int fd = real_dup2(old_fd, new_fd);
    if (old_fd != new_fd) Log("open", fd);
    return fd;
}

int dup3(int old_fd, int new_fd, int flags) {
    static Dup3Fn real_dup3;
    if (real_dup3 == 0) real_dup3 = (Dup3Fn)Real("dup3");
    LogReplaced(old_fd, new_fd);
    const int fd = real_dup3(old_fd, new_fd, flags);
    Log("open", fd);
    return fd;
}

/* fcntl's third argument is an int or a pointer: passed on as it came. A
 * copy made with F_DUPFD or F_DUPFD_CLOEXEC is an open. */
#define KAVEX_SHIM_FCNTL(name, fallback)                                           \
    int name(int fd, int command, ...) {                                           \
        static FcntlFn real;                                                       \
        if (real == 0) real = (FcntlFn)Real(#name);                                \
        if (real == 0) real = (FcntlFn)Real(fallback);                             \
        va_list args;                                                              \
        va_start(args, command);                                                   \
        void* argument = Argument(args);                                           \
        va_end(args);                                                              \
        const int result = real(fd, command, argument);                            \
        if (command == F_DUPFD || command == F_DUPFD_CLOEXEC) Log("open", result); \
        return result;                                                             \
    }

KAVEX_SHIM_FCNTL(fcntl, "fcntl")
KAVEX_SHIM_FCNTL(fcntl64, "fcntl")
/* 32-bit programs built with 64-bit time (32-bit Wine's ntdll) call this. */
KAVEX_SHIM_FCNTL(__fcntl_time64, "fcntl64")

/* Every descriptor that came with a message (SCM_RIGHTS). */
static ssize_t LogReceived(struct msghdr* message, ssize_t result) {
    if (result < 0 || message == 0) return result;
    for (struct cmsghdr* part = CMSG_FIRSTHDR(message); part != 0; part = CMSG_NXTHDR(message, part)) {
        if (part->cmsg_level != SOL_SOCKET || part->cmsg_type != SCM_RIGHTS) continue;
        const size_t count = (part->cmsg_len - CMSG_LEN(0)) / sizeof(int);
        for (size_t i = 0; i < count; ++i) {
            int fd;
            memcpy(&fd, CMSG_DATA(part) + i * sizeof(int), sizeof fd);
            Log("open", fd);
        }
    }
    return result;
}

ssize_t recvmsg(int socket_fd, struct msghdr* message, int flags) {
    static RecvmsgFn real_recvmsg;
    if (real_recvmsg == 0) real_recvmsg = (RecvmsgFn)Real("recvmsg");
    return LogReceived(message, real_recvmsg(socket_fd, message, flags));
}

/* 32-bit programs built with 64-bit time (32-bit Wine's ntdll) call this. */
ssize_t __recvmsg64(int socket_fd, struct msghdr* message, int flags) {
    static RecvmsgFn real_recvmsg;
    if (real_recvmsg == 0) real_recvmsg = (RecvmsgFn)Real("__recvmsg64");
    if (real_recvmsg == 0) real_recvmsg = (RecvmsgFn)Real("recvmsg");
    return LogReceived(message, real_recvmsg(socket_fd, message, flags));
}

int close(int fd) {
    Log("close", fd);
    return RealClose(fd);
}
