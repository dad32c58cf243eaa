#include "support/system_quirks.h"

#include "platform/win32.h"

namespace kavex::test {

bool RunningUnderWine() {
#ifdef _WIN32
    const HMODULE ntdll = GetModuleHandleA("ntdll.dll");
    return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
#else
    return false;
#endif
}

bool ReadOnlyAttributeIsEnforced(const std::string& directory) {
#ifdef _WIN32
    const std::string path = directory + "\\read-only-probe.tmp";
    HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return true;
    CloseHandle(file);
    SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_READONLY);
    file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    const bool enforced = file == INVALID_HANDLE_VALUE;
    if (!enforced) CloseHandle(file);
    SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    DeleteFileA(path.c_str());
    return enforced;
#else
    (void)directory;
    return true;
#endif
}

}  // namespace kavex::test
