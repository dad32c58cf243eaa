#include "config/rc4.h"

#include <cstring>
#include <utility>

namespace {

bool ValidKey(const std::uint8_t* key, int keyLength) {
    return key != nullptr && keyLength >= 1 && keyLength <= 255;
}

}  // namespace

void CRc4::ScheduleKey(Rc4State& state, const std::uint8_t* key, int keyLength) const {
    for (int k = 0; k < 256; ++k) state.S[k] = k;
    state.i = 0;
    state.j = 0;
    std::uint32_t j = 0;
    for (int k = 0; k < 256; ++k) {
        j = (j + static_cast<std::uint32_t>(state.S[k]) + key[k % keyLength]) & 0xFFu;
        std::swap(state.S[k], state.S[j]);
    }
}

void CRc4::ApplyKeystream(Rc4State& state, std::uint8_t* buffer, int length) const {
    std::int32_t* const S = state.S;
    std::uint32_t i = state.i;
    std::uint32_t j = state.j;
    for (int k = 0; k < length; ++k) {
        i = (i + 1) & 0xFFu;
        // The two entries are swapped through registers: after the swap the
        // keystream index needs no second load of either.
        const std::int32_t si = S[i];
        j = (j + static_cast<std::uint32_t>(si)) & 0xFFu;
        const std::int32_t sj = S[j];
        S[i] = sj;
        S[j] = si;
        buffer[k] ^= static_cast<std::uint8_t>(S[static_cast<std::uint32_t>(si + sj) & 0xFFu] & 0xFF);
    }
    state.i = i;
    state.j = j;
}

int CRc4::CryptCopy(const std::uint8_t* key, int keyLength, const std::uint8_t* input, int inputLength,
                    std::uint8_t* output, int outputCapacity) const {
    if (!ValidKey(key, keyLength) || input == nullptr || inputLength < 1 || output == nullptr ||
        outputCapacity < inputLength) {
        return 0;
    }
    std::memmove(output, input, static_cast<std::size_t>(inputLength));
    Rc4State state;
    ScheduleKey(state, key, keyLength);
    ApplyKeystream(state, output, inputLength);
    return 1;
}

int CRc4::CryptInPlace(const std::uint8_t* key, int keyLength, std::uint8_t* buffer, int length) const {
    if (!ValidKey(key, keyLength) || buffer == nullptr || length < 1) return 0;
    Rc4State state;
    ScheduleKey(state, key, keyLength);
    ApplyKeystream(state, buffer, length);
    return 1;
}
