// A private place for the registration settings of one test.
//
// POSIX: a private KAVEX_PREFIX (its system.reg is the registry, and the
// named mutex and view are private to it) and a private directory that
// stands as the host executable's, where "qelversion.cfg" is looked for.
// Windows: the real registry key and the test program's own directory
// (tests there run one at a time); the key and the file are removed before
// and after the test.
#pragma once

#include <string>

#include "support/fake_reader.h"

struct VersionConfigRecord;

namespace kavex::test {

class SettingsEnvironment {
public:
    SettingsEnvironment();
    ~SettingsEnvironment();
    SettingsEnvironment(const SettingsEnvironment&) = delete;
    SettingsEnvironment& operator=(const SettingsEnvironment&) = delete;

#ifndef _WIN32
    // The directory that stands for drive C: under the current KAVEX_PREFIX.
    static std::string DriveC();
#endif

    // A scratch directory of the test's own.
    const std::string& Scratch() const { return prefix_.Path(); }
    // The directory of the host executable and the settings file in it.
    const std::string& ExecutableDirectory() const { return executableDirectory_; }
    std::string LocatedFile() const;
    // "<Scratch>/<name>" as the system writes paths.
    std::string ScratchFile(const std::string& name) const;

    // Sets the registry value "ExePath" of HKLM\SOFTWARE\QelCorp\Veridane
    // (the raw bytes of a string value, without its terminator).
    void SetExePath(const std::string& directory) const;
    void RemoveRegistryKey() const;

private:
    TestPrefix prefix_;
    std::string executableDirectory_;
};

// Raw file access for tests that craft or inspect files.
bool FileExists(const std::string& path);
std::string ReadBytes(const std::string& path);
void WriteBytes(const std::string& path, const std::string& bytes);
void RemoveFile(const std::string& path);

// The sealed image of a record (trailer recomputed) and of the older
// 482-byte form holding the record's first 478 bytes and a trailer of 4
// bytes.
std::string SealedImage(const VersionConfigRecord& record);
std::string OldFormImage(const VersionConfigRecord& record);
// The record a sealed image holds (its trailer as stored); false when the
// image is not 2540 bytes or does not verify.
bool UnsealImage(const std::string& image, VersionConfigRecord* record);

}  // namespace kavex::test
