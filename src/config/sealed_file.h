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

// Fills the trailer of a plain record with the CRC-32 of the bytes before it.
void StoreTrailer(std::uint8_t* record, std::size_t size);
// True when the trailer of a plain record matches its CRC-32.
bool TrailerMatches(const std::uint8_t* record, std::size_t size);

// Reads the first `size` bytes of the file (opened for reading with
// `shareFlags`), unseals and verifies them. Only a verified record is
// copied to `record`; every other outcome leaves it as it was. A longer file
// is read by its first `size` bytes.
SealedReadResult ReadSealedFile(const char* path, void* record, std::size_t size,
                                UINT shareFlags = CFile::shareExclusive);

// Stores the trailer in `record` itself, seals it and replaces the file in
// one step: the sealed image goes to a new file in the same directory,
// which is flushed and then moved over the target (with write-through, so
// the new name is on disk when this returns). Whatever fails, and however
// the process ends, the target keeps either its old or its new contents.
// A target that cannot be opened for writing without sharing (read-only,
// or open elsewhere) is refused before anything is written. False with the
// file error's description in *error.
bool WriteSealedFile(const char* path, void* record, std::size_t size, std::string* error);

}  // namespace kavex::config
