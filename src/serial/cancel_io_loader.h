// CCancelIoLoader: the system's "CancelIo", looked up at run time.
//
// CancelIo is not imported, so the module also loads on a system without
// it; CSerialPort::CancelPendingIo then throws ERROR_CALL_NOT_IMPLEMENTED.
// The module holds one loader, g_CancelIoLoader, defined with the other
// module-level objects (reader/port_set.cpp) so that it is constructed
// right after the six port objects at load, before any exported function
// can run, and destroyed first at unload. It is only read after that.
#pragma once

#include "platform/win32.h"

class CCancelIoLoader {
public:
    using CancelIoFunction = BOOL(WINAPI*)(HANDLE);

    // Loads `moduleName` and looks up `entryName` in it; the module's loader
    // looks up "CancelIo" in "KERNEL32.DLL". Either may be missing: the
    // entry point is then null (and so is the module handle when the module
    // could not be loaded).
    explicit CCancelIoLoader(LPCSTR moduleName = "KERNEL32.DLL", LPCSTR entryName = "CancelIo");
    // Frees the module and forgets both.
    ~CCancelIoLoader();
    CCancelIoLoader(const CCancelIoLoader&) = delete;
    CCancelIoLoader& operator=(const CCancelIoLoader&) = delete;

    // Exchanges what two loaders hold, each keeping the module it loaded to
    // free it: a test puts a loader without the entry point in place of the
    // module's for a while, then puts the module's back.
    void Swap(CCancelIoLoader& other) noexcept;

    HMODULE m_hKernel32;
    CancelIoFunction m_pfnCancelIo;
};

// The module's loader (reader/port_set.cpp).
extern CCancelIoLoader g_CancelIoLoader;
