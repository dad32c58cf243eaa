#include "config/crc32.h"

#include <array>
#include <new>

#include "config/crc32_fold.h"

namespace {

constexpr std::uint32_t kPolynomial = 0xEDB88320u;
constexpr std::uint32_t kErrorCrc = 23;               // ERROR_CRC
constexpr std::uint32_t kErrorInvalidParameter = 87;  // ERROR_INVALID_PARAMETER

constexpr std::uint32_t TableEntry(std::uint32_t index) {
    std::uint32_t value = index;
    for (int bit = 0; bit < 8; ++bit) value = (value & 1u) ? (value >> 1) ^ kPolynomial : value >> 1;
    return value;
}

// Calculate folds sixteen bytes per step ("slicing by sixteen"): row r of
// these tables gives the effect of a byte followed by r zero bytes, so the
// sixteen lookups of one step are independent of each other. Row 0 is the
// object's own table; rows 1 to 15 follow from the polynomial and are built
// by the compiler.
constexpr std::size_t kSlice = 16;
using SliceTables = std::array<std::array<std::uint32_t, 256>, kSlice>;
constexpr SliceTables MakeSliceTables() {
    SliceTables tables{};
    for (std::uint32_t i = 0; i < 256; ++i) tables[0][i] = TableEntry(i);
    for (std::size_t row = 1; row < kSlice; ++row) {
        for (std::uint32_t i = 0; i < 256; ++i) {
            const std::uint32_t previous = tables[row - 1][i];
            tables[row][i] = tables[0][previous & 0xFFu] ^ (previous >> 8);
        }
    }
    return tables;
}
constexpr SliceTables kSlices = MakeSliceTables();

std::uint32_t LoadLittleEndian(const unsigned char* bytes) {
    return static_cast<std::uint32_t>(bytes[0]) | static_cast<std::uint32_t>(bytes[1]) << 8 |
           static_cast<std::uint32_t>(bytes[2]) << 16 | static_cast<std::uint32_t>(bytes[3]) << 24;
}

}  // namespace

CCrc32::CCrc32() { BuildTable(); }

CCrc32::~CCrc32() = default;

bool CCrc32::BuildTable() {
    m_pTable.reset();
    std::unique_ptr<std::uint32_t[]> table;
    try {
        table = std::make_unique<std::uint32_t[]>(256);
    } catch (const std::bad_alloc&) {
        return false;
    }
    for (std::uint32_t i = 0; i < 256; ++i) table[i] = TableEntry(i);
    m_pTable = std::move(table);
    return true;
}

void CCrc32::FreeTable() { m_pTable.reset(); }

std::uint32_t CCrc32::UpdateByte(std::uint8_t byte, std::uint32_t& crc) const {
    if (m_pTable) crc = m_pTable[(crc ^ byte) & 0xFFu] ^ (crc >> 8);
    return crc;
}

std::uint32_t CCrc32::Calculate(const char* data, std::uint32_t length, std::uint32_t& crc) const {
    if (!m_pTable || (data == nullptr && length != 0)) {
        crc = 0;
        return m_pTable ? kErrorInvalidParameter : kErrorCrc;
    }
    const std::uint32_t* table = m_pTable.get();
    std::uint32_t value = 0xFFFFFFFFu;
    const auto* bytes = reinterpret_cast<const unsigned char*>(data);
    std::uint32_t left = length;
    // Where the processor multiplies without carries, most of the bytes are
    // folded in by multiplication (crc32_fold.h); the rest, or all of them
    // elsewhere, sixteen at a time by the tables, and the last one by one.
    const auto folded = static_cast<std::uint32_t>(kavex::config::FoldableLength(left));
    if (folded > 0) {
        value = kavex::config::FoldCrc32(value, bytes, folded);
        bytes += folded;
        left -= folded;
    }
    for (; left >= kSlice; left -= kSlice, bytes += kSlice) {
        const std::uint32_t a = value ^ LoadLittleEndian(bytes);
        const std::uint32_t b = LoadLittleEndian(bytes + 4);
        const std::uint32_t c = LoadLittleEndian(bytes + 8);
        const std::uint32_t d = LoadLittleEndian(bytes + 12);
        value = kSlices[15][a & 0xFFu] ^ kSlices[14][(a >> 8) & 0xFFu] ^ kSlices[13][(a >> 16) & 0xFFu] ^
                kSlices[12][a >> 24] ^ kSlices[11][b & 0xFFu] ^ kSlices[10][(b >> 8) & 0xFFu] ^
                kSlices[9][(b >> 16) & 0xFFu] ^ kSlices[8][b >> 24] ^ kSlices[7][c & 0xFFu] ^
                kSlices[6][(c >> 8) & 0xFFu] ^ kSlices[5][(c >> 16) & 0xFFu] ^ kSlices[4][c >> 24] ^
                kSlices[3][d & 0xFFu] ^ kSlices[2][(d >> 8) & 0xFFu] ^ kSlices[1][(d >> 16) & 0xFFu] ^
                table[d >> 24];
    }
    for (; left > 0; --left, ++bytes) value = table[(value ^ *bytes) & 0xFFu] ^ (value >> 8);
    crc = ~value;
    return 0;
}
