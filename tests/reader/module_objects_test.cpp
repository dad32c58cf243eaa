// The order in which the module's objects are constructed at load: the
// application object, the six port objects, then the loader of "CancelIo".
//
// An object with a destructor registers it with the C++ run time
// (__cxa_atexit) as soon as its construction has completed, so the order of
// the registrations is the order of construction, and the reverse of the
// order of destruction at unload. This test program stands in for
// __cxa_atexit, notes each object and passes the registration on.
// Windows builds register static destructors with the C run time's atexit,
// which a program cannot stand in for; the Wine tier watches the order in
// which the ports close at unload from outside instead.
#ifndef _WIN32

#include <dlfcn.h>
#include <gtest/gtest.h>

#include <atomic>

#include "reader/port_set.h"
#include "serial/cancel_io_loader.h"

namespace {

constexpr int kMaxRegistrations = 4096;
const void* g_registered[kMaxRegistrations];
std::atomic<int> g_registrations{0};

// Where `object` is among the registrations, or -1.
int RegistrationOf(const void* object) {
    const int count = std::min(g_registrations.load(), kMaxRegistrations);
    for (int i = 0; i < count; ++i) {
        if (g_registered[i] == object) return i;
    }
    return -1;
}

}  // namespace

extern "C" int __cxa_atexit(void (*destructor)(void*), void* object, void* dso) noexcept {
    using Register = int (*)(void (*)(void*), void*, void*);
    static const Register next = reinterpret_cast<Register>(dlsym(RTLD_NEXT, "__cxa_atexit"));
    const int slot = g_registrations++;
    if (slot < kMaxRegistrations) g_registered[slot] = object;
    return next(destructor, object, dso);
}

namespace {

TEST(ModuleObjectsTest, TheCancelIoLoaderIsConstructedRightAfterTheSixPorts) {
    const void* inOrder[] = {&g_KavexApp,        &g_ComPort,         &g_FurtherComPort1, &g_FurtherComPort2,
                             &g_FurtherComPort3, &g_FurtherComPort4, &g_ComPortEx,       &g_CancelIoLoader};
    int previous = RegistrationOf(inOrder[0]) - 1;
    for (const void* object : inOrder) {
        const int at = RegistrationOf(object);
        ASSERT_GE(at, 0) << "an object of the module was not seen";
        EXPECT_EQ(at, previous + 1) << "construction out of order";
        previous = at;
    }
    // Loaded at load, before anything could call an exported function.
    EXPECT_NE(g_CancelIoLoader.m_hKernel32, nullptr);
    EXPECT_NE(g_CancelIoLoader.m_pfnCancelIo, nullptr);
}

}  // namespace

#endif  // !_WIN32
