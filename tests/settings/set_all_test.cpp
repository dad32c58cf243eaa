// CVersionConfig::SetAll through the real call: each of its 171 arguments
// lands in its own field (found here by the record's member names, not
// through the library's field table); integers keep their low bits, texts
// are cut to their field's width - 1 with the field's last byte kept,
// blocks are copied whole, the two times are ParseDateTime's; a null text
// or block changes nothing.
#include "settings/set_all_arguments.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "support/settings_env.h"

namespace kavex::test {

namespace {

const BYTE kZeroBlock[32] = {};  // as wide as the widest block

}  // namespace

SetAllArguments PlainSetAllArguments() {
    SetAllArguments arguments;
    for (int position = 1; position <= SetAllArguments::kCount; ++position) {
        arguments.texts[position] = "";
        arguments.blocks[position] = kZeroBlock;
    }
    return arguments;
}

BOOL CallSetAll(CVersionConfig& config, const SetAllArguments& a) {
#define N(position) a.numbers[position]
#define T(position) a.texts[position]
#define B(position) a.blocks[position]
    return config.SetAll(
        N(1), N(2), N(3), N(4), N(5), N(6), N(7), N(8), N(9), N(10), N(11), N(12), N(13), N(14), N(15), N(16),
        N(17), T(18), N(19), N(20), T(21), T(22), N(23), N(24), T(25), N(26), N(27), N(28), N(29), N(30),
        N(31), N(32), N(33), N(34), N(35), N(36), N(37), N(38), N(39), N(40), N(41), N(42), N(43), N(44),
        N(45), N(46), N(47), N(48), N(49), T(50), N(51), N(52), N(53), N(54), N(55), N(56), N(57), N(58),
        N(59), N(60), N(61), N(62), N(63), N(64), N(65), N(66), N(67), N(68), N(69), N(70), N(71), N(72),
        N(73), N(74), N(75), N(76), N(77), N(78), B(79), B(80), B(81), N(82), N(83), N(84), B(85), N(86),
        N(87), N(88), N(89), N(90), N(91), N(92), N(93), N(94), N(95), N(96), N(97), T(98), B(99), N(100),
        N(101), N(102), N(103), N(104), N(105), N(106), N(107), N(108), N(109), N(110), N(111), N(112),
        N(113), N(114), B(115), N(116), N(117), N(118), N(119), N(120), N(121), T(122), N(123), T(124),
        N(125), N(126), N(127), N(128), N(129), N(130), T(131), N(132), N(133), N(134), N(135), N(136),
        N(137), N(138), N(139), N(140), N(141), N(142), N(143), N(144), N(145), N(146), N(147), N(148),
        T(149), T(150), N(151), N(152), N(153), N(154), N(155), N(156), N(157), N(158), N(159), N(160),
        N(161), N(162), N(163), N(164), N(165), N(166), N(167), N(168), N(169), N(170), N(171));
#undef N
#undef T
#undef B
}

}  // namespace kavex::test

namespace {

using kavex::test::SetAllArguments;

// A field by its member name, and the position of its argument.
struct Slot {
    const char* name;
    std::size_t offset;
    std::size_t width;
    int position;
};
#define KAVEX_SLOT(member, position) \
    Slot { #member, offsetof(VersionConfigRecord, member), sizeof(VersionConfigRecord::member), position }

// The tables read as tables.
// clang-format off
const Slot kNumbers[] = {
    KAVEX_SLOT(VersionNumber, 1), KAVEX_SLOT(QuorelinkEdition, 2), KAVEX_SLOT(WithProvinceCentre, 3),
    KAVEX_SLOT(WithIssuedCardInfo, 4), KAVEX_SLOT(AllowTempCard, 5), KAVEX_SLOT(LimitMinorIssue, 6),
    KAVEX_SLOT(LimitMinorLogon, 7), KAVEX_SLOT(MinorAgeLimit, 8), KAVEX_SLOT(CityMissToProvince, 9),
    KAVEX_SLOT(RequireNet110, 10), KAVEX_SLOT(CheckName, 11), KAVEX_SLOT(CheckIdValidity, 12),
    KAVEX_SLOT(Rc4Packets, 13), KAVEX_SLOT(EncryptLocalFiles, 14), KAVEX_SLOT(IdTypeCount, 15),
    KAVEX_SLOT(Broadband, 16), KAVEX_SLOT(FetchRemoteIpFile, 17), KAVEX_SLOT(MaxCentreFailures, 19),
    KAVEX_SLOT(MachineReportInterval, 20), KAVEX_SLOT(NoPasswordLogon, 23), KAVEX_SLOT(BlockUnlock, 24),
    KAVEX_SLOT(CafeSystems, 26), KAVEX_SLOT(AutoUpgrade, 27), KAVEX_SLOT(Byte440, 28),
    KAVEX_SLOT(VersionByte, 29), KAVEX_SLOT(CardIssueDenied, 30), KAVEX_SLOT(AutoUploadLogs, 31),
    KAVEX_SLOT(CityCode, 32), KAVEX_SLOT(FormalCardNeedsIdCard, 33), KAVEX_SLOT(FastChannel, 34),
    KAVEX_SLOT(Byte448, 35), KAVEX_SLOT(InitFlag, 36), KAVEX_SLOT(Byte449, 37), KAVEX_SLOT(Byte450, 38),
    KAVEX_SLOT(Byte451, 39), KAVEX_SLOT(Byte452, 40), KAVEX_SLOT(Byte453, 41), KAVEX_SLOT(Byte454, 42),
    KAVEX_SLOT(Byte455, 43), KAVEX_SLOT(Byte456, 44), KAVEX_SLOT(Byte457, 45), KAVEX_SLOT(Byte458, 46),
    KAVEX_SLOT(Byte459, 47), KAVEX_SLOT(Byte460, 48), KAVEX_SLOT(Byte461, 49),
    KAVEX_SLOT(CentreLimitsTempCard, 51), KAVEX_SLOT(Byte463, 52), KAVEX_SLOT(Byte466, 53),
    KAVEX_SLOT(Byte467, 54), KAVEX_SLOT(Byte468, 55), KAVEX_SLOT(Byte469, 56), KAVEX_SLOT(Byte470, 57),
    KAVEX_SLOT(Byte471, 58), KAVEX_SLOT(Byte472, 59), KAVEX_SLOT(Byte488, 60), KAVEX_SLOT(Byte489, 61),
    KAVEX_SLOT(Byte490, 62), KAVEX_SLOT(Byte491, 63), KAVEX_SLOT(IpPort, 64), KAVEX_SLOT(IpAddress, 65),
    KAVEX_SLOT(Byte500, 66), KAVEX_SLOT(Byte501, 67), KAVEX_SLOT(Short502, 68), KAVEX_SLOT(Short504, 69),
    KAVEX_SLOT(Byte506, 70), KAVEX_SLOT(Byte507, 71), KAVEX_SLOT(Byte508, 72), KAVEX_SLOT(Byte509, 73),
    KAVEX_SLOT(Number510, 74), KAVEX_SLOT(Byte514, 75), KAVEX_SLOT(Byte515, 76), KAVEX_SLOT(Byte516, 77),
    KAVEX_SLOT(Byte517, 78), KAVEX_SLOT(Number611, 82), KAVEX_SLOT(Byte615, 83), KAVEX_SLOT(Byte616, 84),
    KAVEX_SLOT(Byte636, 86), KAVEX_SLOT(Byte637, 87), KAVEX_SLOT(Number638, 88), KAVEX_SLOT(Byte642, 89),
    KAVEX_SLOT(Short643, 90), KAVEX_SLOT(Byte645, 91), KAVEX_SLOT(Byte650, 92), KAVEX_SLOT(Byte651, 93),
    KAVEX_SLOT(Number652, 94), KAVEX_SLOT(Byte656, 95), KAVEX_SLOT(Byte657, 96), KAVEX_SLOT(Number658, 97),
    KAVEX_SLOT(Byte733, 100), KAVEX_SLOT(Byte734, 101), KAVEX_SLOT(Byte735, 102), KAVEX_SLOT(Byte736, 103),
    KAVEX_SLOT(Byte741, 104), KAVEX_SLOT(Byte742, 105), KAVEX_SLOT(Number743, 106),
    KAVEX_SLOT(Number747, 107), KAVEX_SLOT(Byte751, 108), KAVEX_SLOT(Byte752, 109), KAVEX_SLOT(Byte753, 110),
    KAVEX_SLOT(Byte754, 111), KAVEX_SLOT(Byte755, 112), KAVEX_SLOT(Byte756, 113), KAVEX_SLOT(Number757, 114),
    KAVEX_SLOT(Byte793, 116), KAVEX_SLOT(Byte794, 117), KAVEX_SLOT(Byte795, 118), KAVEX_SLOT(Number796, 119),
    KAVEX_SLOT(Byte800, 120), KAVEX_SLOT(Number801, 121), KAVEX_SLOT(Byte825, 123), KAVEX_SLOT(Byte835, 125),
    KAVEX_SLOT(Byte836, 126), KAVEX_SLOT(Byte837, 127), KAVEX_SLOT(Byte838, 128), KAVEX_SLOT(Byte839, 129),
    KAVEX_SLOT(Number840, 130), KAVEX_SLOT(UkeyOptional, 132), KAVEX_SLOT(ChargeMode, 133),
    KAVEX_SLOT(RegistrationValidity, 134), KAVEX_SLOT(ChargeFailThreshold, 135),
    KAVEX_SLOT(QueryPriority, 136), KAVEX_SLOT(ChargeWhenOffline, 137), KAVEX_SLOT(ChargeIdCard, 138),
    KAVEX_SLOT(ChargeIcCard, 139), KAVEX_SLOT(ChargeSecondGenId, 140), KAVEX_SLOT(Byte868, 141),
    KAVEX_SLOT(Byte869, 142), KAVEX_SLOT(Byte871, 143), KAVEX_SLOT(Number872, 144), KAVEX_SLOT(Byte870, 145),
    KAVEX_SLOT(Byte876, 146), KAVEX_SLOT(Number877, 147), KAVEX_SLOT(Byte884, 148),
    KAVEX_SLOT(Number893, 151), KAVEX_SLOT(Number897, 152), KAVEX_SLOT(Number901, 153),
    KAVEX_SLOT(Byte905, 154), KAVEX_SLOT(Byte906, 155), KAVEX_SLOT(Byte907, 156), KAVEX_SLOT(Short909, 157),
    KAVEX_SLOT(Byte911, 158), KAVEX_SLOT(Number912, 159), KAVEX_SLOT(Byte916, 160), KAVEX_SLOT(Byte917, 161),
    KAVEX_SLOT(Byte918, 162), KAVEX_SLOT(Byte919, 163), KAVEX_SLOT(Byte920, 164), KAVEX_SLOT(Byte921, 165),
    KAVEX_SLOT(Number922, 166), KAVEX_SLOT(Byte926, 167), KAVEX_SLOT(Byte927, 168), KAVEX_SLOT(Byte928, 169),
    KAVEX_SLOT(Byte929, 170), KAVEX_SLOT(Byte930, 171),
};
const Slot kTexts[] = {
    KAVEX_SLOT(RemoteIpFilePath, 18), KAVEX_SLOT(Remark, 21), KAVEX_SLOT(Region, 22),
    KAVEX_SLOT(ForcedUrl, 25), KAVEX_SLOT(Text473, 50), KAVEX_SLOT(Text662, 98), KAVEX_SLOT(Text805, 122),
    KAVEX_SLOT(Text826, 124), KAVEX_SLOT(Text844, 131),
};
const Slot kBlocks[] = {
    KAVEX_SLOT(Block518, 79), KAVEX_SLOT(Block549, 80), KAVEX_SLOT(Block580, 81), KAVEX_SLOT(Block617, 85),
    KAVEX_SLOT(Block723, 99), KAVEX_SLOT(Block761, 115),
};
const Slot kTimes[] = {
    KAVEX_SLOT(Time885, 149), KAVEX_SLOT(Time889, 150),
};
// clang-format on
#undef KAVEX_SLOT

constexpr std::size_t kCovered = offsetof(VersionConfigRecord, Checksum);  // the bytes the CRC covers
constexpr unsigned char kBefore = 0x7E;  // every byte of the record before SetAll

// A number whose three low bytes each tell its position, with the top bit
// set (a negative int): a field keeps 8, 16 or all 32 of its bits.
int NumberFor(int position) {
    const auto p = static_cast<std::uint32_t>(position);
    return static_cast<int>(0xA5000000u | p << 16 | p << 8 | p);
}

void StoreLittleEndian(unsigned char* bytes, std::size_t width, std::uint32_t value) {
    for (std::size_t k = 0; k < width; ++k) bytes[k] = static_cast<unsigned char>(value >> (8 * k));
}

std::string Letters(std::size_t length, int first) {
    std::string text;
    for (std::size_t k = 0; k < length; ++k) text += static_cast<char>('a' + (first + k) % 26);
    return text;
}

const unsigned char* BytesOf(const VersionConfigRecord& record) {
    return reinterpret_cast<const unsigned char*>(&record);
}

VersionConfigRecord Shared() { return kavex::settings::SharedView()->record; }

// The first offset at which the records differ, or -1.
long FirstDifference(const VersionConfigRecord& a, const VersionConfigRecord& b, std::size_t size) {
    for (std::size_t k = 0; k < size; ++k) {
        if (BytesOf(a)[k] != BytesOf(b)[k]) return static_cast<long>(k);
    }
    return -1;
}

class SetAllTest : public ::testing::Test {
protected:
    void SetUp() override {
        config_ = std::make_unique<CVersionConfig>(path_.c_str(), TRUE);
        ASSERT_NE(kavex::settings::SharedView(), nullptr);
        VersionConfigRecord before;
        std::memset(&before, kBefore, sizeof before);
        ASSERT_TRUE(config_->SetRecord(&before));
        before_ = Shared();

        // Texts shorter than, as long as and longer than their fields hold.
        texts_ = {
            "http://centre.example/zoru/shencityipcfg.cfg",  // RemoteIpFilePath
            Letters(150, 0),                                 // Remark: 150 for 100
            Letters(20, 1),                                  // Region: exactly 20
            "",                                              // ForcedUrl
            Letters(40, 2),                                  // Text473: 40 for 14
            Letters(61, 3),                                  // Text662: 61 for 60
            "\xCD\xF8\xB0\xC9",                              // Text805: GBK
            Letters(9, 4),                                   // Text826: 9 for 8
            Letters(11, 5),                                  // Text844: exactly 11
        };
        for (const Slot& block : kBlocks) {
            std::vector<BYTE> bytes(block.width);  // exactly the block's size
            for (std::size_t k = 0; k < bytes.size(); ++k)
                bytes[k] = static_cast<BYTE>(block.position * 7 + k);
            blocks_.push_back(bytes);
        }
        arguments_ = kavex::test::PlainSetAllArguments();
        for (int position = 1; position <= SetAllArguments::kCount; ++position)
            arguments_.numbers[position] = NumberFor(position);
        arguments_.numbers[65] = static_cast<int>(0xFA00A8C0u);  // IpAddress 192.168.0.250
        for (std::size_t k = 0; k < std::size(kTexts); ++k)
            arguments_.texts[kTexts[k].position] = texts_[k].c_str();
        for (std::size_t k = 0; k < std::size(kBlocks); ++k)
            arguments_.blocks[kBlocks[k].position] = blocks_[k].data();
        arguments_.texts[149] = "2008-08-19 10:20:30";
        arguments_.texts[150] = "2008-13-01";  // not accepted: 0
    }

    kavex::test::SettingsEnvironment env;
    const std::string path_ = env.ScratchFile("setall.cfg");
    std::unique_ptr<CVersionConfig> config_;
    VersionConfigRecord before_{};
    std::vector<std::string> texts_;
    std::vector<std::vector<BYTE>> blocks_;
    SetAllArguments arguments_;
};

TEST_F(SetAllTest, EveryArgumentLandsInItsOwnFieldAndIsSaved) {
    ASSERT_TRUE(kavex::test::CallSetAll(*config_, arguments_));
    const VersionConfigRecord after = Shared();

    VersionConfigRecord expected = before_;
    auto* bytes = reinterpret_cast<unsigned char*>(&expected);
    for (const Slot& slot : kNumbers) {
        StoreLittleEndian(bytes + slot.offset, slot.width,
                          static_cast<std::uint32_t>(arguments_.numbers[slot.position]));
    }
    for (std::size_t k = 0; k < std::size(kTexts); ++k) {
        const Slot& slot = kTexts[k];
        const std::size_t stored = std::min(texts_[k].size(), slot.width - 1);
        std::memset(bytes + slot.offset, 0, slot.width - 1);  // the last byte keeps its value
        std::memcpy(bytes + slot.offset, texts_[k].data(), stored);
    }
    for (std::size_t k = 0; k < std::size(kBlocks); ++k)
        std::memcpy(bytes + kBlocks[k].offset, blocks_[k].data(), kBlocks[k].width);
    StoreLittleEndian(bytes + kTimes[0].offset, 4, ParseDateTime("2008-08-19 10:20:30"));
    StoreLittleEndian(bytes + kTimes[1].offset, 4, 0);

    const auto check = [&](const Slot& slot) {
        EXPECT_EQ(std::memcmp(BytesOf(after) + slot.offset, bytes + slot.offset, slot.width), 0)
            << slot.name << " (position " << slot.position << ")";
    };
    for (const Slot& slot : kNumbers) check(slot);
    for (const Slot& slot : kTexts) check(slot);
    for (const Slot& slot : kBlocks) check(slot);
    for (const Slot& slot : kTimes) check(slot);
    // Nothing else changed: reserved bytes and the fields SetAll keeps.
    EXPECT_EQ(FirstDifference(after, expected, kCovered), -1);
    EXPECT_EQ(+after.CafeSystem, 0x7E7E);
    EXPECT_EQ(+after.Number737, 0x7E7E7E7E);

    // The same in words.
    EXPECT_EQ(+after.VersionNumber, NumberFor(1));  // all 32 bits, negative
    EXPECT_EQ(+after.CafeSystems, 26 * 0x101);      // the low 16
    EXPECT_EQ(+after.Byte870, 145);                 // the low 8; 870 and 871 out of record order
    EXPECT_EQ(+after.Byte871, 143);
    const auto* ip = reinterpret_cast<const unsigned char*>(&after.IpAddress);
    EXPECT_EQ(std::vector<int>(ip, ip + 4), (std::vector<int>{192, 168, 0, 250}));
    EXPECT_EQ(std::string(after.Remark, 100), texts_[1].substr(0, 100));
    EXPECT_EQ(+static_cast<unsigned char>(after.Remark[100]), kBefore);
    EXPECT_EQ(std::string(after.ForcedUrl, 31), std::string(30, '\0') + static_cast<char>(kBefore));
    EXPECT_NE(+after.Time885, 0u);
    EXPECT_EQ(+after.Time885, ParseDateTime("2008-08-19 10:20:30"));
    EXPECT_EQ(+after.Time889, 0u);

    // Saved whole, its trailer the file's.
    VersionConfigRecord file{};
    ASSERT_TRUE(kavex::test::UnsealImage(kavex::test::ReadBytes(path_), &file));
    EXPECT_EQ(FirstDifference(file, after, sizeof file), -1);
}

TEST_F(SetAllTest, ANullTextOrBlockIsRefusedAndChangesNothing) {
    const std::string image = kavex::test::ReadBytes(path_);
    std::vector<int> pointers;
    for (const Slot& slot : kTexts) pointers.push_back(slot.position);
    for (const Slot& slot : kTimes) pointers.push_back(slot.position);
    for (const Slot& slot : kBlocks) pointers.push_back(slot.position);
    for (const int position : pointers) {
        SetAllArguments arguments = arguments_;
        arguments.texts[position] = nullptr;
        arguments.blocks[position] = nullptr;
        EXPECT_FALSE(kavex::test::CallSetAll(*config_, arguments)) << "position " << position;
        EXPECT_EQ(FirstDifference(Shared(), before_, sizeof before_), -1) << "position " << position;
        EXPECT_EQ(kavex::test::ReadBytes(path_), image) << "position " << position;
    }
    EXPECT_TRUE(kavex::test::CallSetAll(*config_, arguments_));
}

}  // namespace
