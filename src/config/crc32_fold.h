// CRC-32 by carry-less multiplication: the running value of CCrc32's
// checksum over many bytes at once, on x86-64 processors with the PCLMULQDQ
// instruction. Sixteen-byte blocks are folded four at a time, each fold a
// multiplication by a constant x^n mod P, and the 128 bits left are reduced
// to the 32-bit remainder (Barrett reduction); the result equals that of
// the table, byte by byte.
#pragma once

#include <cstddef>
#include <cstdint>

namespace kavex::config {

// The largest multiple of 16 bytes of `length` that FoldCrc32 takes (0 when
// it takes none: the processor lacks the instruction, or fewer than 64 bytes).
std::size_t FoldableLength(std::size_t length);

// Folds `length` bytes (a FoldableLength) into the running value `crc` (not
// complemented) and returns the new running value.
std::uint32_t FoldCrc32(std::uint32_t crc, const unsigned char* data, std::size_t length);

}  // namespace kavex::config
