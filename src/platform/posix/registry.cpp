// RegOpenKeyA, RegQueryValueExA and RegCloseKey over $KAVEX_PREFIX/system.reg.
//
// A key handle holds the key's values as the file had them when the key was
// opened.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <string>

#include "platform/posix/devices.h"
#include "platform/posix/errors.h"
#include "platform/posix/handles.h"
#include "platform/posix/registry_file.h"
#include "platform/posix/unique_fd.h"
#include "platform/posix/win32_registry.h"

namespace kavex::posix {

namespace {

constexpr char kMachineRoot[] = "HKEY_LOCAL_MACHINE";

class OpenKey final : public KernelObject {
public:
    OpenKey(std::string path, RegistryKey key) : path_(std::move(path)), key_(std::move(key)) {}
    const std::string& Path() const { return path_; }
    const RegistryKey& Key() const { return key_; }

private:
    const std::string path_;
    const RegistryKey key_;
};

// The keys of the machine's registry file; a missing file holds none. A
// path that is no regular file (a FIFO, a device, a directory) is refused
// with ERROR_ACCESS_DENIED, without waiting: the open does not block.
LONG ReadMachineRegistry(RegistryKeys* keys) {
    keys->clear();
    const std::string path = KavexPrefix() + "/system.reg";
    UniqueFd fd(open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
    if (!fd.Valid()) return errno == ENOENT || errno == ENOTDIR ? ERROR_SUCCESS : ERROR_ACCESS_DENIED;
    struct stat status {};
    if (fstat(fd.Get(), &status) != 0 || !S_ISREG(status.st_mode)) return ERROR_ACCESS_DENIED;
    std::string text;
    char chunk[4096];
    for (;;) {
        const ssize_t n = read(fd.Get(), chunk, sizeof chunk);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return ERROR_ACCESS_DENIED;
        if (n == 0) break;
        text.append(chunk, static_cast<std::size_t>(n));
    }
    ParseRegistryText(text, keys);
    return ERROR_SUCCESS;
}

bool IsMachineRoot(HKEY key) { return key == HKEY_LOCAL_MACHINE; }

// The full path and the values of an open key or of HKEY_LOCAL_MACHINE.
// Null for a handle that names no key.
std::shared_ptr<OpenKey> KeyOf(HKEY key) {
    if (IsMachineRoot(key)) {
        RegistryKeys keys;
        ReadMachineRegistry(&keys);
        auto found = keys.find(kMachineRoot);
        return std::make_shared<OpenKey>(kMachineRoot, found != keys.end() ? found->second : RegistryKey());
    }
    const DWORD lastError = GetLastError();
    auto open = LookupObjectAs<OpenKey>(reinterpret_cast<HANDLE>(key), ERROR_INVALID_HANDLE);
    SetLastError(lastError);  // the registry functions leave it alone
    return open;
}

}  // namespace

}  // namespace kavex::posix

using kavex::posix::KeyOf;
using kavex::posix::OpenKey;
using kavex::posix::RegistryKeys;

LONG RegOpenKeyA(HKEY hKey, LPCSTR lpSubKey, PHKEY phkResult) {
    if (phkResult == nullptr) return ERROR_INVALID_PARAMETER;
    *phkResult = nullptr;
    const std::shared_ptr<OpenKey> base = KeyOf(hKey);
    if (!base) return ERROR_INVALID_HANDLE;
    if (lpSubKey == nullptr || *lpSubKey == '\0') {
        // The same key again, as Windows hands it back.
        if (kavex::posix::IsMachineRoot(hKey)) {
            *phkResult = hKey;
            return ERROR_SUCCESS;
        }
    }
    std::string path = base->Path();
    if (lpSubKey != nullptr && *lpSubKey != '\0') {
        if (lpSubKey[0] == '\\') return ERROR_BAD_PATHNAME;
        path += "\\" + kavex::posix::RegistryName(lpSubKey);
        while (path.back() == '\\') path.pop_back();
    }
    RegistryKeys keys;
    if (const LONG error = kavex::posix::ReadMachineRegistry(&keys); error != ERROR_SUCCESS) return error;
    // A key exists when the file names it or a key below it.
    auto found = keys.lower_bound(path);
    const bool exists =
        found != keys.end() && (found->first == path || found->first.rfind(path + "\\", 0) == 0);
    if (!exists) return ERROR_FILE_NOT_FOUND;
    auto key =
        std::make_shared<OpenKey>(path, found->first == path ? found->second : kavex::posix::RegistryKey());
    const DWORD lastError = GetLastError();
    const HANDLE handle = kavex::posix::InsertObject(std::move(key));
    if (handle == INVALID_HANDLE_VALUE) {
        const LONG error = static_cast<LONG>(GetLastError());
        SetLastError(lastError);
        return error;
    }
    *phkResult = reinterpret_cast<HKEY>(handle);
    return ERROR_SUCCESS;
}

LONG RegQueryValueExA(HKEY hKey, LPCSTR lpValueName, LPDWORD lpReserved, LPDWORD lpType, LPBYTE lpData,
                      LPDWORD lpcbData) {
    if (lpReserved != nullptr || (lpData != nullptr && lpcbData == nullptr)) return ERROR_INVALID_PARAMETER;
    const std::shared_ptr<OpenKey> key = KeyOf(hKey);
    if (!key) return ERROR_INVALID_HANDLE;
    const std::string name = kavex::posix::RegistryName(lpValueName != nullptr ? lpValueName : "");
    const auto found = key->Key().values.find(name);
    if (found == key->Key().values.end()) return ERROR_FILE_NOT_FOUND;
    const kavex::posix::RegistryValue& value = found->second;
    if (lpType != nullptr) *lpType = value.type;
    const auto size = static_cast<DWORD>(value.data.size());
    if (lpcbData == nullptr) return ERROR_SUCCESS;
    if (lpData == nullptr) {
        *lpcbData = size;
        return ERROR_SUCCESS;
    }
    if (*lpcbData < size) {
        *lpcbData = size;
        return ERROR_MORE_DATA;
    }
    if (size > 0) std::memcpy(lpData, value.data.data(), size);
    *lpcbData = size;
    return ERROR_SUCCESS;
}

LONG RegCloseKey(HKEY hKey) {
    if (kavex::posix::IsMachineRoot(hKey)) return ERROR_SUCCESS;
    const DWORD lastError = GetLastError();
    const bool closed =
        kavex::posix::LookupObjectAs<OpenKey>(reinterpret_cast<HANDLE>(hKey), ERROR_INVALID_HANDLE) &&
        kavex::posix::RemoveObject(reinterpret_cast<HANDLE>(hKey));
    SetLastError(lastError);
    return closed ? ERROR_SUCCESS : ERROR_INVALID_HANDLE;
}
