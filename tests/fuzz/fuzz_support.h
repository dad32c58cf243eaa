// What the fuzz targets share: reading a fuzzed input piece by piece, a
// private scratch directory, and the check that ends a run as a finding.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace kavex::fuzz {

// The fuzzer's bytes, taken from the front; an exhausted input gives zeros
// and empty strings.
class FuzzInput {
public:
    FuzzInput(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}

    bool Empty() const { return position_ >= size_; }
    std::size_t Left() const { return size_ - position_; }
    std::uint8_t Byte() { return Empty() ? 0 : data_[position_++]; }
    // Up to `count` bytes.
    std::string Bytes(std::size_t count);
    // Everything that is left.
    std::string Rest() { return Bytes(Left()); }
    // The bytes up to the next `separator` (dropped) or the end.
    std::string Token(char separator);

private:
    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t position_ = 0;
};

// A directory of the target's own, made on first use (in /dev/shm when
// there is one, so that file work is fast) and removed when the process
// ends.
const std::string& ScratchDirectory();

// Writes `bytes` to `path`, replacing what was there; a missing file when
// `bytes` is null.
void PutFile(const std::string& path, const std::string* bytes);
// The file's bytes, or "<missing>" when there is none.
std::string FileBytes(const std::string& path);

// Ends the run as a finding: prints what was expected and aborts, so that
// libFuzzer keeps the input that did it.
[[noreturn]] void Violated(const char* what, const char* file, int line);

}  // namespace kavex::fuzz

#define KAVEX_FUZZ_CHECK(condition) \
    ((condition) ? (void)0 : ::kavex::fuzz::Violated(#condition, __FILE__, __LINE__))
