// CCrc32: the CRC-32 of IEEE 802.3 and zlib (reflected polynomial
// 0xEDB88320, start value 0xFFFFFFFF, result complemented), table driven.
#pragma once

#include <cstdint>
#include <memory>

class CCrc32 {
public:
    // Builds the table at once.
    CCrc32();
    virtual ~CCrc32();
    CCrc32(const CCrc32&) = delete;
    CCrc32& operator=(const CCrc32&) = delete;

    // Replaces any table held with a newly built one. False when memory is short.
    bool BuildTable();
    // Releases the table; Calculate then refuses.
    void FreeTable();

    // Folds one byte into a running value, stores and returns it.
    std::uint32_t UpdateByte(std::uint8_t byte, std::uint32_t& crc) const;

    // Sets crc to the checksum of `length` bytes of `data` and returns 0.
    // Without a table it folds nothing (crc ends as 0) and returns 23, the
    // Win32 code for a CRC data error; a null `data` with a length is refused
    // the same way with 87 (invalid parameter).
    std::uint32_t Calculate(const char* data, std::uint32_t length, std::uint32_t& crc) const;

    std::unique_ptr<std::uint32_t[]> m_pTable;
};
