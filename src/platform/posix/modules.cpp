// LoadLibraryA, GetProcAddress and FreeLibrary for the one system module
// callers look functions up in at run time: "KERNEL32.DLL".
#include <strings.h>

#include <cstdint>
#include <cstring>

#include "platform/posix/errors.h"
#include "platform/posix/win32_file.h"
#include "platform/posix/win32_sync.h"

namespace {

// The module handle of KERNEL32.DLL: the address of this object, which no
// other handle can have. Like the real module it is never unloaded, so
// loading and freeing it count nothing.
const char g_kernel32 = 0;

HMODULE Kernel32Handle() { return const_cast<char*>(&g_kernel32); }

// "KERNEL32.DLL" or "KERNEL32" in any letter case (Windows adds ".DLL" to a
// name without an extension).
bool NamesKernel32(LPCSTR name) {
    return strcasecmp(name, "KERNEL32.DLL") == 0 || strcasecmp(name, "KERNEL32") == 0;
}

struct Export {
    const char* name;
    FARPROC address;
};

template <class Function>
FARPROC AsFarProc(Function function) {
    // Through the generic function pointer type, which converts to and from
    // any other without loss.
    return reinterpret_cast<FARPROC>(reinterpret_cast<void (*)()>(function));
}

}  // namespace

HMODULE LoadLibraryA(LPCSTR lpLibFileName) {
    if (lpLibFileName == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    if (!NamesKernel32(lpLibFileName)) {
        SetLastError(ERROR_MOD_NOT_FOUND);
        return nullptr;
    }
    return Kernel32Handle();
}

FARPROC GetProcAddress(HMODULE hModule, LPCSTR lpProcName) {
    if (hModule != Kernel32Handle()) {
        SetLastError(ERROR_MOD_NOT_FOUND);
        return nullptr;
    }
    // Values below 0x10000 are ordinals, which no function here is known by.
    if (reinterpret_cast<std::uintptr_t>(lpProcName) >= 0x10000u) {
        const Export exports[] = {{"CancelIo", AsFarProc(&CancelIo)}};
        for (const Export& entry : exports) {
            if (std::strcmp(entry.name, lpProcName) == 0) return entry.address;
        }
    }
    SetLastError(ERROR_PROC_NOT_FOUND);
    return nullptr;
}

BOOL FreeLibrary(HMODULE hLibModule) {
    return hLibModule == Kernel32Handle() ? TRUE : kavex::posix::Fail(ERROR_MOD_NOT_FOUND);
}
