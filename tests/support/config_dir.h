// A private directory in which the port configuration file is looked up.
//
// "ipportconfig.ini" lives beside the host executable. On Linux the test
// points the module path at a made-up executable inside a fresh temporary
// directory, so tests running at the same time never share a file. On
// Windows the file is the one beside the test executable itself (tests there
// must not run in parallel); it is removed when the object goes.
#pragma once

#include <array>
#include <string>

struct PortConfigRecord;

namespace kavex::test {

class ConfigDirectory {
public:
    ConfigDirectory();
    ~ConfigDirectory();
    ConfigDirectory(const ConfigDirectory&) = delete;
    ConfigDirectory& operator=(const ConfigDirectory&) = delete;

    // The directory that holds the configuration file.
    const std::string& Path() const { return path_; }
    // The full path of "ipportconfig.ini" in it.
    std::string ConfigPath() const;

    // Raw access to the file, for tests that corrupt or inspect it.
    bool ConfigExists() const;
    std::string ReadConfigBytes() const;
    void WriteConfigBytes(const std::string& bytes) const;
    void RemoveConfig() const;

private:
    std::string path_;
};

// Writes a sealed configuration with the given ports and every other field
// at its default (throws std::runtime_error when it cannot).
void WritePortConfig(const ConfigDirectory& directory, int primary, std::array<int, 4> further);
// Writes a sealed configuration holding exactly `record` (trailer recomputed).
void WritePortConfigRecord(const ConfigDirectory& directory, const PortConfigRecord& record);

}  // namespace kavex::test
