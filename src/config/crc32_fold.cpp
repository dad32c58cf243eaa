#include "config/crc32_fold.h"

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#define KAVEX_CRC32_FOLD 1
#include <immintrin.h>
#endif

namespace kavex::config {

#ifdef KAVEX_CRC32_FOLD

namespace {

// The constants, in the bit-reflected form of the reflected CRC: x^n mod P
// for P = 0x104C11DB7, its 32 bits reversed and shifted left by one.
constexpr std::uint32_t XPowerModP(unsigned n) {
    std::uint64_t remainder = 1;
    for (unsigned k = 0; k < n; ++k) {
        remainder <<= 1;
        if (remainder & (1ull << 32)) remainder ^= 0x104C11DB7ull;
    }
    return static_cast<std::uint32_t>(remainder);
}
constexpr std::uint64_t FoldConstant(unsigned n) {
    const std::uint32_t value = XPowerModP(n);
    std::uint32_t reflected = 0;
    for (int bit = 0; bit < 32; ++bit) {
        if (value & (1u << bit)) reflected |= 1u << (31 - bit);
    }
    return static_cast<std::uint64_t>(reflected) << 1;
}
// Folding 512 bits ahead (four blocks), 128 bits ahead (one block), 64.
constexpr std::uint64_t kFold512Low = FoldConstant(4 * 128 + 32);
constexpr std::uint64_t kFold512High = FoldConstant(4 * 128 - 32);
constexpr std::uint64_t kFold128Low = FoldConstant(128 + 32);
constexpr std::uint64_t kFold128High = FoldConstant(128 - 32);
constexpr std::uint64_t kFold64 = FoldConstant(64);
// The reflected polynomial with its x^32 term, and floor(x^64 / P) reflected.
constexpr std::uint64_t kPolynomial = 0x1DB710641ull;
constexpr std::uint64_t kBarrettQuotient = 0x1F7011641ull;
// The published values of the method (Intel's "Fast CRC Computation for
// Generic Polynomials Using PCLMULQDQ", reflected CRC-32).
static_assert(kFold512Low == 0x154442BD4ull && kFold512High == 0x1C6E41596ull);
static_assert(kFold128Low == 0x1751997D0ull && kFold128High == 0x0CCAA009Eull);
static_assert(kFold64 == 0x163CD6124ull);

bool HasCarrylessMultiply() {
    static const bool has = __builtin_cpu_supports("pclmul") && __builtin_cpu_supports("sse2");
    return has;
}

__attribute__((target("pclmul,sse2"))) __m128i Load(const unsigned char* p) {
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
}

// x folded over 128 bits ahead of `next` with the constants k.
__attribute__((target("pclmul,sse2"))) __m128i Fold(__m128i x, __m128i k, __m128i next) {
    const __m128i low = _mm_clmulepi64_si128(x, k, 0x00);
    const __m128i high = _mm_clmulepi64_si128(x, k, 0x11);
    return _mm_xor_si128(_mm_xor_si128(low, high), next);
}

__attribute__((target("pclmul,sse2"))) std::uint32_t Fold(std::uint32_t crc, const unsigned char* data,
                                                          std::size_t length) {
    __m128i x1 = _mm_xor_si128(Load(data), _mm_cvtsi32_si128(static_cast<int>(crc)));
    __m128i x2 = Load(data + 16);
    __m128i x3 = Load(data + 32);
    __m128i x4 = Load(data + 48);
    data += 64;
    length -= 64;

    const __m128i k512 =
        _mm_set_epi64x(static_cast<long long>(kFold512High), static_cast<long long>(kFold512Low));
    for (; length >= 64; length -= 64, data += 64) {
        x1 = Fold(x1, k512, Load(data));
        x2 = Fold(x2, k512, Load(data + 16));
        x3 = Fold(x3, k512, Load(data + 32));
        x4 = Fold(x4, k512, Load(data + 48));
    }

    const __m128i k128 =
        _mm_set_epi64x(static_cast<long long>(kFold128High), static_cast<long long>(kFold128Low));
    x1 = Fold(x1, k128, x2);
    x1 = Fold(x1, k128, x3);
    x1 = Fold(x1, k128, x4);
    for (; length >= 16; length -= 16, data += 16) x1 = Fold(x1, k128, Load(data));

    // 128 bits to 64: the low half times x^(128-32) mod P onto the high half.
    const __m128i mask32 = _mm_setr_epi32(-1, 0, -1, 0);
    x1 = _mm_xor_si128(_mm_srli_si128(x1, 8), _mm_clmulepi64_si128(x1, k128, 0x10));
    // 64 bits to 32 more: the low 32 bits times x^64 mod P.
    const __m128i k64 = _mm_set_epi64x(0, static_cast<long long>(kFold64));
    x1 = _mm_xor_si128(_mm_srli_si128(x1, 4), _mm_clmulepi64_si128(_mm_and_si128(x1, mask32), k64, 0x00));
    // Barrett reduction to the 32-bit remainder.
    const __m128i barrett =
        _mm_set_epi64x(static_cast<long long>(kBarrettQuotient), static_cast<long long>(kPolynomial));
    __m128i t = _mm_clmulepi64_si128(_mm_and_si128(x1, mask32), barrett, 0x10);
    t = _mm_clmulepi64_si128(_mm_and_si128(t, mask32), barrett, 0x00);
    x1 = _mm_xor_si128(x1, t);
    return static_cast<std::uint32_t>(_mm_cvtsi128_si32(_mm_srli_si128(x1, 4)));
}

}  // namespace

std::size_t FoldableLength(std::size_t length) {
    if (length < 64 || !HasCarrylessMultiply()) return 0;
    return length & ~static_cast<std::size_t>(15);
}

std::uint32_t FoldCrc32(std::uint32_t crc, const unsigned char* data, std::size_t length) {
    return Fold(crc, data, length);
}

#else

std::size_t FoldableLength(std::size_t) { return 0; }

std::uint32_t FoldCrc32(std::uint32_t crc, const unsigned char*, std::size_t) { return crc; }

#endif

}  // namespace kavex::config
