#include "kavexctl/registered_ports.h"

#ifdef _WIN32

#include <algorithm>
#include <cctype>

#include "platform/win32.h"

namespace kavexctl {

namespace {

constexpr const char* kSerialCommKey = "HARDWARE\\DEVICEMAP\\SERIALCOMM";

class RegistryKey {
public:
    RegistryKey() = default;
    ~RegistryKey() {
        if (key_ != nullptr) RegCloseKey(key_);
    }
    RegistryKey(const RegistryKey&) = delete;
    RegistryKey& operator=(const RegistryKey&) = delete;
    HKEY* Receive() { return &key_; }
    HKEY Get() const { return key_; }

private:
    HKEY key_ = nullptr;
};

// n of "COMn" (letters in any case, n from 1 to 255 without leading zeros), else 0.
int ComNumber(const std::string& name) {
    if (name.size() < 4 || name.size() > 6 || std::toupper(static_cast<unsigned char>(name[0])) != 'C' ||
        std::toupper(static_cast<unsigned char>(name[1])) != 'O' ||
        std::toupper(static_cast<unsigned char>(name[2])) != 'M' || name[3] == '0') {
        return 0;
    }
    int number = 0;
    for (std::size_t k = 3; k < name.size(); ++k) {
        if (!std::isdigit(static_cast<unsigned char>(name[k]))) return 0;
        number = number * 10 + (name[k] - '0');
    }
    return number <= 255 ? number : 0;
}

std::string ErrorCode(LONG error) { return "error " + std::to_string(error); }

}  // namespace

bool RegisteredComPorts(std::vector<RegisteredPort>* ports, std::string* error) {
    ports->clear();
    RegistryKey key;
    const LONG opened = RegOpenKeyExA(HKEY_LOCAL_MACHINE, kSerialCommKey, 0, KEY_QUERY_VALUE, key.Receive());
    if (opened == ERROR_FILE_NOT_FOUND) return true;
    if (opened != ERROR_SUCCESS) {
        *error = std::string("cannot open HKEY_LOCAL_MACHINE\\") + kSerialCommKey + ": " + ErrorCode(opened);
        return false;
    }
    DWORD longestName = 0, longestData = 0;
    const LONG queried = RegQueryInfoKeyA(key.Get(), nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                                          nullptr, &longestName, &longestData, nullptr, nullptr);
    if (queried != ERROR_SUCCESS) {
        *error = std::string("cannot read HKEY_LOCAL_MACHINE\\") + kSerialCommKey + ": " + ErrorCode(queried);
        return false;
    }
    // The longest name is given without its terminator, the longest data with
    // it; one byte more each keeps every value, terminated, in bounds.
    std::vector<char> name(longestName + 2);
    std::vector<char> data(longestData + 2);
    for (DWORD index = 0;; ++index) {
        DWORD nameLength = static_cast<DWORD>(name.size());
        DWORD dataLength = static_cast<DWORD>(data.size() - 1);
        DWORD type = 0;
        const LONG read = RegEnumValueA(key.Get(), index, name.data(), &nameLength, nullptr, &type,
                                        reinterpret_cast<BYTE*>(data.data()), &dataLength);
        if (read == ERROR_NO_MORE_ITEMS) break;
        if (read == ERROR_MORE_DATA) continue;  // a value written while this list is read
        if (read != ERROR_SUCCESS) {
            *error =
                std::string("cannot read HKEY_LOCAL_MACHINE\\") + kSerialCommKey + ": " + ErrorCode(read);
            return false;
        }
        if (type != REG_SZ) continue;
        data[std::min<std::size_t>(dataLength, data.size() - 1)] = '\0';
        RegisteredPort port;
        port.device.assign(name.data(), std::min<std::size_t>(nameLength, name.size()));
        port.name = data.data();
        port.number = ComNumber(port.name);
        ports->push_back(port);
    }
    std::stable_sort(ports->begin(), ports->end(), [](const RegisteredPort& a, const RegisteredPort& b) {
        const int left = a.number == 0 ? 256 : a.number;
        const int right = b.number == 0 ? 256 : b.number;
        return left < right;
    });
    return true;
}

}  // namespace kavexctl

#endif
