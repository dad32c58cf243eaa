// Sealed record files: one fixed-size record whose last four bytes hold the
// little-endian CRC-32 of the bytes before them, stored enciphered whole
// with RC4 under the sealing key. No header, no length field: the file's
// size is the record's size.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "framework/file.h"

namespace kavex::config {

// The sealing key shared by every sealed file of the system.
constexpr int kSealingKeyLength = 25;
extern const std::uint8_t kSealingKey[kSealingKeyLength];

enum class SealedReadStatus {
    kOk,         // the record verified and was copied out
    kMissing,    // there is no such file
    kShort,      // the file is shorter than the record
    kCorrupt,    // the unsealed trailer does not match the CRC-32
    kFileError,  // the file layer failed; see `error`
};

struct SealedReadResult {
    SealedReadStatus status = SealedReadStatus::kFileError;
    std::uint64_t fileLength = 0;  // when the file could be opened
    std::string error;             // the file error's description
};

// How the owner of a sealed file opens and replaces it.
struct SealedFileModes {
    // The share mode of the reading open and of the check of the target
    // before a save (CFile::share...).
    UINT shareFlags = CFile::shareExclusive;
    // The first three characters of the names of a save's temporary files.
    const char* tempPrefix = "~kv";
    // Whether a save first removes every temporary file of this prefix that
    // an interrupted save left in the target's directory. Only for an owner
    // whose saves never run at the same time (they hold one lock), so that
    // such a file cannot belong to a save in progress. Otherwise a save
    // removes those that are stale: old enough, and held open by no one.
    bool removeLeftovers = false;
    // The size of the buffer a file error's description is formatted into.
    std::size_t descriptionLimit = MAX_PATH;
};

// Fills the trailer of a plain record with the CRC-32 of the bytes before it.
// Both throw std::bad_alloc when the CRC-32 table cannot be allocated.
void StoreTrailer(std::uint8_t* record, std::size_t size);
// True when the trailer of a plain record matches its CRC-32.
bool TrailerMatches(const std::uint8_t* record, std::size_t size);

// Reads the first `size` bytes of the file (opened for reading with
// `shareFlags`, waiting a bounded time while another load or save holds
// it), unseals and verifies them. Only a verified record is
// copied to `record`; every other outcome leaves it as it was. A longer file
// is read by its first `size` bytes.
SealedReadResult ReadSealedFile(const char* path, void* record, std::size_t size,
                                UINT shareFlags = CFile::shareExclusive);

// Reads up to `capacity` bytes from the start of the file and unseals them
// into `plain` (the keystream runs from the file's first byte, so a shorter
// form of a record unseals the same way); *length receives the count. kOk,
// kMissing or kFileError; the trailer is the caller's to judge.
SealedReadResult ReadSealedPrefix(const char* path, std::uint8_t* plain, std::size_t capacity,
                                  std::size_t* length, const SealedFileModes& modes);

// Stores the trailer in `record` itself, seals it and replaces the file in
// one step: the sealed image goes to a new file in the same directory,
// which is flushed and then moved over the target (with write-through, so
// the new name is on disk when this returns; the move, too, is tried again
// for a bounded time while a load holds the target). Whatever fails, and
// however the process ends, the target keeps either its old or its new
// contents. A symbolic link is followed: the file it names is replaced,
// keeping its permissions and, where the process may, its owner. A target
// that cannot be opened for reading and writing with the owner's share mode
// (read-only, or open elsewhere after a bounded wait), that is no regular
// file, that has several hard links (a replacement would separate them), or
// whose path with links resolved is MAX_PATH characters or longer is
// refused before anything is written. False with the reason in *error.
bool WriteSealedFile(const char* path, void* record, std::size_t size, std::string* error);
bool WriteSealedFile(const char* path, void* record, std::size_t size, std::string* error,
                     const SealedFileModes& modes);

}  // namespace kavex::config
