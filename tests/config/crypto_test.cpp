// CRc4 against the RC4 test vectors of RFC 6229, and CCrc32 against the
// standard check value and zlib.
#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "config/crc32.h"
#include "config/rc4.h"
#include "config/sealed_file.h"

#ifdef KAVEX_HAVE_ZLIB
#include <zlib.h>
#endif

namespace {

std::vector<std::uint8_t> FromHex(const std::string& hex) {
    std::vector<std::uint8_t> bytes;
    for (std::size_t k = 0; k + 1 < hex.size(); k += 2) {
        bytes.push_back(static_cast<std::uint8_t>(std::stoul(hex.substr(k, 2), nullptr, 16)));
    }
    return bytes;
}

struct KeystreamSample {
    int offset;
    const char* hex;
};

struct Rc4Vector {
    const char* key;
    std::vector<KeystreamSample> samples;
};

// Keystream samples (enciphered zero bytes) at the offsets RFC 6229 lists.
const Rc4Vector kRfc6229[] = {
    {"0102030405",
     {{0, "b2396305f03dc027ccc3524a0a1118a8"},
      {16, "6982944f18fc82d589c403a47a0d0919"},
      {240, "28cb1132c96ce286421dcaadb8b69eae"},
      {256, "1cfcf62b03eddb641d77dfcf7f8d8c93"},
      {496, "42b7d0cdd918a8a33dd51781c81f4041"},
      {512, "6459844432a7da923cfb3eb4980661f6"},
      {752, "ec10327bde2beefd18f9277680457e22"},
      {768, "eb62638d4f0ba1fe9fca20e05bf8ff2b"},
      {1008, "45129048e6a0ed0b56b490338f078da5"},
      {1024, "30abbcc7c20b01609f23ee2d5f6bb7df"},
      {1520, "3294f744d8f9790507e70f62e5bbceea"},
      {1536, "d8729db41882259bee4f825325f5a130"},
      {2032, "1eb14a0c13b3bf47fa2a0ba93ad45b8b"},
      {2048, "cc582f8ba9f265e2b1be9112e975d2d7"},
      {3056, "f2e30f9bd102ecbf75aaade9bc35c43c"},
      {3072, "ec0e11c479dc329dc8da7968fe965681"},
      {4080, "068326a2118416d21f9d04b2cd1ca050"},
      {4096, "ff25b58995996707e51fbdf08b34d875"}}},
    {"0102030405060708090a0b0c0d0e0f10",
     {{0, "9ac7cc9a609d1ef7b2932899cde41b97"},
      {16, "5248c4959014126a6e8a84f11d1a9e1c"},
      {240, "065902e4b620f6cc36c8589f66432f2b"},
      {256, "d39d566bc6bce3010768151549f3873f"},
      {1008, "e7a72574f8782ae26aabcf9ebcd66065"},
      {1024, "bdf0324e6083dcc6d3cedd3ca8c53c16"},
      {4080, "ff38265c1642c1abe8d3c2fe5e572bf8"},
      {4096, "a36a4c301ae8ac13610ccbc12256cacc"}}},
    {"833222772a",
     {{0, "80ad97bdc973df8a2e879e92a497efda"},
      {16, "20f060c2f2e5126501d3d4fea10d5fc0"},
      {240, "faa148e99046181fec6b2085f3b20ed9"},
      {256, "f0daf5bab3d596839857846f73fbfe5a"},
      {4080, "6349d126a37afcba89794f9804914fdc"},
      {4096, "bf42c3018c2f7c66bfde524975768115"}}},
};

TEST(Rc4Test, KeystreamMatchesRfc6229) {
    const CRc4 rc4;
    for (const Rc4Vector& vector : kRfc6229) {
        SCOPED_TRACE(vector.key);
        const std::vector<std::uint8_t> key = FromHex(vector.key);
        const std::vector<std::uint8_t> zeros(4112, 0);
        std::vector<std::uint8_t> stream(4112, 0xAA);
        ASSERT_EQ(
            rc4.CryptCopy(key.data(), static_cast<int>(key.size()), zeros.data(), 4112, stream.data(), 4112),
            1);
        for (const KeystreamSample& sample : vector.samples) {
            const std::vector<std::uint8_t> expected = FromHex(sample.hex);
            const std::vector<std::uint8_t> actual(stream.begin() + sample.offset,
                                                   stream.begin() + sample.offset + 16);
            EXPECT_EQ(actual, expected) << "at offset " << sample.offset;
        }
        // In place, the same keystream.
        std::vector<std::uint8_t> inPlace(4112, 0);
        ASSERT_EQ(rc4.CryptInPlace(key.data(), static_cast<int>(key.size()), inPlace.data(), 4112), 1);
        EXPECT_EQ(inPlace, stream);
    }
}

TEST(Rc4Test, KeystreamContinuesAcrossApplyCalls) {
    const CRc4 rc4;
    const std::vector<std::uint8_t> key = FromHex("0102030405");
    Rc4State state;
    rc4.ScheduleKey(state, key.data(), 5);
    EXPECT_EQ(state.i, 0u);
    EXPECT_EQ(state.j, 0u);
    std::vector<std::uint8_t> stream(32, 0);
    rc4.ApplyKeystream(state, stream.data(), 0);  // changes nothing
    rc4.ApplyKeystream(state, stream.data(), 7);
    rc4.ApplyKeystream(state, stream.data() + 7, 25);
    EXPECT_EQ(stream, FromHex("b2396305f03dc027ccc3524a0a1118a86982944f18fc82d589c403a47a0d0919"));
}

TEST(Rc4Test, CryptCopyRefusesBadArgumentsAndTouchesNothing) {
    const CRc4 rc4;
    const std::uint8_t key[256] = {1, 2, 3};
    const std::uint8_t input[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    std::uint8_t output[8];
    auto untouched = [&] {
        for (std::uint8_t b : output) {
            if (b != 0x77) return false;
        }
        return true;
    };
    const struct {
        const std::uint8_t* key;
        int keyLength;
        const std::uint8_t* input;
        int inputLength;
        bool output;
        int capacity;
    } refused[] = {
        {nullptr, 3, input, 8, true, 8}, {key, 0, input, 8, true, 8},   {key, 256, input, 8, true, 8},
        {key, -1, input, 8, true, 8},    {key, 3, nullptr, 8, true, 8}, {key, 3, input, 0, true, 8},
        {key, 3, input, -4, true, 8},    {key, 3, input, 8, false, 8},  {key, 3, input, 8, true, 7},
    };
    for (const auto& c : refused) {
        std::fill(std::begin(output), std::end(output), 0x77);
        EXPECT_EQ(rc4.CryptCopy(c.key, c.keyLength, c.input, c.inputLength, c.output ? output : nullptr,
                                c.capacity),
                  0);
        EXPECT_TRUE(untouched());
    }
    std::fill(std::begin(output), std::end(output), 0x77);
    EXPECT_EQ(rc4.CryptInPlace(key, 0, output, 8), 0);
    EXPECT_EQ(rc4.CryptInPlace(key, 3, output, 0), 0);
    EXPECT_EQ(rc4.CryptInPlace(key, 3, nullptr, 8), 0);
    EXPECT_TRUE(untouched());
    // The limits themselves are accepted.
    EXPECT_EQ(rc4.CryptCopy(key, 1, input, 8, output, 8), 1);
    EXPECT_EQ(rc4.CryptCopy(key, 255, input, 8, output, 8), 1);
}

TEST(Rc4Test, NoStateSurvivesBetweenCallsSoSealingTwiceUnseals) {
    const CRc4 rc4;
    std::vector<std::uint8_t> plain(1000);
    std::mt19937 random(7);
    for (auto& b : plain) b = static_cast<std::uint8_t>(random());
    std::vector<std::uint8_t> first(1000), second(1000), back(1000);
    const std::uint8_t* key = kavex::config::kSealingKey;
    ASSERT_EQ(rc4.CryptCopy(key, kavex::config::kSealingKeyLength, plain.data(), 1000, first.data(), 1000),
              1);
    ASSERT_EQ(rc4.CryptCopy(key, kavex::config::kSealingKeyLength, plain.data(), 1000, second.data(), 1000),
              1);
    EXPECT_EQ(first, second);
    EXPECT_NE(first, plain);
    ASSERT_EQ(rc4.CryptCopy(key, kavex::config::kSealingKeyLength, first.data(), 1000, back.data(), 1000), 1);
    EXPECT_EQ(back, plain);
}

TEST(SealingKeyTest, IsTheFixedTwentyFiveBytes) {
    const std::string key(reinterpret_cast<const char*>(kavex::config::kSealingKey),
                          kavex::config::kSealingKeyLength);
    EXPECT_EQ(key, std::string("PtYgj%mU#h/Bel31iEl+2h)\x07q", 25));
}

TEST(Crc32Test, StandardCheckValue) {
    const CCrc32 crc32;
    std::uint32_t crc = 1;
    EXPECT_EQ(crc32.Calculate("123456789", 9, crc), 0u);
    EXPECT_EQ(crc, 0xCBF43926u);
    EXPECT_EQ(crc32.Calculate("", 0, crc), 0u);
    EXPECT_EQ(crc, 0u);
    ASSERT_TRUE(crc32.m_pTable);
    EXPECT_EQ(crc32.m_pTable[0], 0u);
    EXPECT_EQ(crc32.m_pTable[1], 0x77073096u);
    EXPECT_EQ(crc32.m_pTable[255], 0x2D02EF8Du);
}

TEST(Crc32Test, UpdateByteFoldsLikeCalculate) {
    const CCrc32 crc32;
    std::uint32_t running = 0xFFFFFFFFu;
    for (char c : std::string("123456789")) {
        const std::uint32_t returned = crc32.UpdateByte(static_cast<std::uint8_t>(c), running);
        EXPECT_EQ(returned, running);
    }
    EXPECT_EQ(~running, 0xCBF43926u);
}

TEST(Crc32Test, WithoutATableCalculateReportsACrcErrorAndZero) {
    CCrc32 crc32;
    crc32.FreeTable();
    EXPECT_FALSE(crc32.m_pTable);
    std::uint32_t crc = 99;
    EXPECT_EQ(crc32.Calculate("123456789", 9, crc), 23u);
    EXPECT_EQ(crc, 0u);
    ASSERT_TRUE(crc32.BuildTable());
    EXPECT_EQ(crc32.Calculate("123456789", 9, crc), 0u);
    EXPECT_EQ(crc, 0xCBF43926u);
}

// Calculate folds many bytes per step (by carry-less multiplication from 64
// bytes on, where the processor has it, then by tables); every length and
// alignment must give what folding one byte at a time gives.
TEST(Crc32Test, AnyLengthAndAlignmentMatchesTheByteAtATimeDefinition) {
    const CCrc32 crc32;
    std::mt19937 random(7);
    std::string data(16 + 300, '\0');
    for (char& c : data) c = static_cast<char>(random());
    for (std::size_t start = 0; start < 16; ++start) {
        for (std::uint32_t length = 0; length <= 300; ++length) {
            std::uint32_t expected = 0xFFFFFFFFu;
            for (std::uint32_t k = 0; k < length; ++k) {
                crc32.UpdateByte(static_cast<std::uint8_t>(data[start + k]), expected);
            }
            std::uint32_t crc = 1;
            ASSERT_EQ(crc32.Calculate(data.data() + start, length, crc), 0u);
            ASSERT_EQ(crc, ~expected) << "start " << start << ", length " << length;
        }
    }
}

#ifdef KAVEX_HAVE_ZLIB
TEST(Crc32Test, AgreesWithZlibOnRandomData) {
    const CCrc32 crc32;
    std::mt19937 random(2024);
    for (std::size_t length : {1u, 2u, 3u, 255u, 256u, 1000u, 10428u, 65537u}) {
        std::string data(length, '\0');
        for (char& c : data) c = static_cast<char>(random());
        std::uint32_t crc = 0;
        crc32.Calculate(data.data(), static_cast<std::uint32_t>(length), crc);
        const uLong expected =
            crc32_z(::crc32(0L, Z_NULL, 0), reinterpret_cast<const Bytef*>(data.data()), data.size());
        EXPECT_EQ(crc, static_cast<std::uint32_t>(expected)) << "length " << length;
    }
}
#endif

}  // namespace
