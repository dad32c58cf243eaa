#include "config/crc32.h"

#include <new>

namespace {
constexpr std::uint32_t kPolynomial = 0xEDB88320u;
constexpr std::uint32_t kErrorCrc = 23;               // ERROR_CRC
constexpr std::uint32_t kErrorInvalidParameter = 87;  // ERROR_INVALID_PARAMETER
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
    for (std::uint32_t i = 0; i < 256; ++i) {
        std::uint32_t value = i;
        for (int bit = 0; bit < 8; ++bit) value = (value & 1u) ? (value >> 1) ^ kPolynomial : value >> 1;
        table[i] = value;
    }
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
    std::uint32_t value = 0xFFFFFFFFu;
    const auto* bytes = reinterpret_cast<const unsigned char*>(data);
    for (std::uint32_t k = 0; k < length; ++k) value = m_pTable[(value ^ bytes[k]) & 0xFFu] ^ (value >> 8);
    crc = ~value;
    return 0;
}
