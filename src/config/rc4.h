// CRc4: the RC4 stream cipher. The object holds nothing: every call builds
// its own working state from the key, uses it and drops it, so enciphering
// and deciphering are the same call and no call affects the next.
#pragma once

#include <cstdint>

// The working state of one enciphering run.
struct Rc4State {
    std::int32_t S[256];  // a permutation of 0 .. 255
    std::uint32_t i;
    std::uint32_t j;
};

class CRc4 {
public:
    CRc4() = default;
    virtual ~CRc4() = default;

    // The key schedule: S becomes the keyed permutation, i and j are 0.
    // keyLength must be 1 .. 255.
    void ScheduleKey(Rc4State& state, const std::uint8_t* key, int keyLength) const;
    // XORs `length` bytes of buffer with the keystream, continuing from the
    // state's i and j and storing them back.
    void ApplyKeystream(Rc4State& state, std::uint8_t* buffer, int length) const;

    // Copies input to output and enciphers the copy with a fresh state.
    // Returns 0 and touches nothing unless key and buffers are given,
    // 1 <= keyLength <= 255, inputLength >= 1 and outputCapacity >= inputLength.
    int CryptCopy(const std::uint8_t* key, int keyLength, const std::uint8_t* input, int inputLength,
                  std::uint8_t* output, int outputCapacity) const;
    // Enciphers buffer in place with a fresh state; the same checks.
    int CryptInPlace(const std::uint8_t* key, int keyLength, std::uint8_t* buffer, int length) const;
};
