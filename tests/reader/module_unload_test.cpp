// Loading and unloading the shared library as a host does, over and over:
// nothing it allocates is left behind, also with a port left open at each
// unload. (The Windows tiers check Kavex.dll's unload with
// tests/windows/module_load_test.c.)
#ifndef _WIN32

#include <dlfcn.h>
#include <gtest/gtest.h>
#include <malloc.h>

#include <filesystem>
#include <string>

#include "support/fake_reader.h"

namespace {

// The library of this build tree: tests/kavex_tests -> libkavex.so.
std::string LibraryPath() {
    std::error_code error;
    const auto self = std::filesystem::read_symlink("/proc/self/exe", error);
    if (error) return {};
    const auto path = self.parent_path().parent_path() / "libkavex.so";
    return std::filesystem::exists(path, error) ? path.string() : std::string();
}

std::size_t HeapInUse() { return mallinfo2().uordblks; }

// One load, an open left for the unload to close, and the unload.
bool Cycle(const std::string& library) {
    void* module = dlopen(library.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (module == nullptr) return false;
    using OpenComExFn = int (*)(const char*, int);
    auto openComEx = reinterpret_cast<OpenComExFn>(dlsym(module, "OpenComEx"));
    const bool opened = openComEx != nullptr && openComEx("COM2", 0) == 1;
    dlclose(module);
    return opened;
}

TEST(ModuleUnloadTest, LoadingAndUnloadingLeaksNothing) {
    const std::string library = LibraryPath();
    if (library.empty()) GTEST_SKIP() << "libkavex.so is not built beside the tests";
    kavex::test::TestPrefix prefix;
    kavex::test::FakeReader reader(prefix, 2);
    // The first loads set up what the C library's loader keeps for good.
    for (int k = 0; k < 20; ++k) ASSERT_TRUE(Cycle(library)) << k;
    const std::size_t before = HeapInUse();
    for (int k = 0; k < 200; ++k) ASSERT_TRUE(Cycle(library)) << k;
    EXPECT_LE(HeapInUse(), before + 256) << "bytes left in use by 200 load/unload cycles";
}

}  // namespace

#endif  // _WIN32
