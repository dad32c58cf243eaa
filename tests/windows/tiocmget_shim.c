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
 * With KAVEX_SHIM_CLOSE_LOG naming a file, it also appends the device of
 * every pseudo-terminal slave descriptor closed ("/dev/pts/N"), so that the
 * test harness can see in which order ports are closed (at module unload:
 * the reverse of the port objects' construction order).
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
#include <sys/ioctl.h>
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

typedef int (*CloseFn)(int);

int close(int fd) {
    static CloseFn real_close;
    if (real_close == 0) real_close = (CloseFn)dlsym(RTLD_NEXT, "close");

    const char* log_path = getenv("KAVEX_SHIM_CLOSE_LOG");
    struct stat info;
    if (log_path != 0 && IsPseudoTerminalSlave(fd) && fstat(fd, &info) == 0) {
        const unsigned int index = (major(info.st_rdev) - 136) * 256 + minor(info.st_rdev);
        char line[32];
        const int length = snprintf(line, sizeof line, "/dev/pts/%u\n", index);
        const int saved_errno = errno;
        const int log = open(log_path, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
        if (log >= 0) {
            if (write(log, line, (size_t)length) < 0) { /* the log is best effort */
            }
            real_close(log);
        }
        errno = saved_errno;
    }
    return real_close(fd);
}
