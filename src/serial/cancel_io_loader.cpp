#include "serial/cancel_io_loader.h"

#include <utility>

CCancelIoLoader::CCancelIoLoader(LPCSTR moduleName, LPCSTR entryName)
    : m_hKernel32(LoadLibraryA(moduleName)), m_pfnCancelIo(nullptr) {
    // Never with a null module: GetProcAddress would search the executable.
    if (m_hKernel32 == nullptr) return;
    // Through the generic function pointer type, which converts to any
    // other without loss.
    m_pfnCancelIo = reinterpret_cast<CancelIoFunction>(
        reinterpret_cast<void (*)()>(GetProcAddress(m_hKernel32, entryName)));
}

CCancelIoLoader::~CCancelIoLoader() {
    if (m_hKernel32 != nullptr) FreeLibrary(m_hKernel32);
    m_hKernel32 = nullptr;
    m_pfnCancelIo = nullptr;
}

void CCancelIoLoader::Swap(CCancelIoLoader& other) noexcept {
    std::swap(m_hKernel32, other.m_hKernel32);
    std::swap(m_pfnCancelIo, other.m_pfnCancelIo);
}
