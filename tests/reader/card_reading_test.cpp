#include "reader/card_reading.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <string>

#include "kavex.h"
#include "reader/port_set.h"
#include "support/fake_reader.h"
#include "support/reader_timing.h"

using kavex::test::Background;
using kavex::test::Bounded;
using kavex::test::FakeReader;
using kavex::test::SleepMs;
using kavex::test::Stopwatch;
using kavex::test::TestPrefix;

namespace {

constexpr int kLimitMs = 5000;  // no call here should take more than a fraction of this

// Filled with a marker byte so that every byte a call writes shows.
struct CodeBuffer {
    CodeBuffer() { std::memset(bytes, 'X', sizeof bytes); }
    std::string Terminated() const { return std::string(bytes, strnlen(bytes, sizeof bytes)); }
    char bytes[64];
};

TEST(FilterDigitsTest, KeepsOnlyDigitsInOrderAndZeroFillsTheRest) {
    char buffer[] = {'\x02', '1', 'a', '2', '\0', '3', '\xB3', '\xFF', '4', '\x0D', '\0'};
    EXPECT_EQ(FilterDigits(buffer, 10), 1);
    EXPECT_STREQ(buffer, "1234");
    for (int i = 4; i <= 10; ++i) EXPECT_EQ(buffer[i], '\0') << "byte " << i;
}

TEST(FilterDigitsTest, TouchesNothingWhenEveryByteIsADigitAndMovesByteCountOtherwise) {
    char digits[] = "0123456789Z";
    FilterDigits(digits, 10);
    EXPECT_STREQ(digits, "0123456789Z");
    // Removing a byte moves byte `count` down behind the digits.
    char mixed[] = "1-2Z";
    FilterDigits(mixed, 3);
    EXPECT_EQ(std::string(mixed, 4), std::string("12Z\0", 4));
    EXPECT_EQ(FilterDigits(nullptr, 5), 1);
}

// The primary reader on COM1, opened as OpenCom opens it.
class GetCardCodeTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(OpenComPort(g_ComPort, 1), 1); }
    void TearDown() override { CloseComPort(g_ComPort); }

    void Queue(const std::string& bytes) {
        reader.Send(bytes);
        ASSERT_TRUE(reader.WaitForPending(static_cast<int>(bytes.size())));
    }
    int Read(CodeBuffer& code) {
        return Bounded(
            kLimitMs, [&] { return GetCardCode(code.bytes); }, "GetCardCode");
    }

    TestPrefix prefix;
    FakeReader reader{prefix, 1};
};

TEST_F(GetCardCodeTest, ClosingThePortFromAnotherThreadEndsTheWaitForTheRest) {
    Queue("12345");
    Stopwatch clock;
    long long closedAt = 0;
    Background closer([&] {
        for (int waited = 0; reader.Pending() > 0 && waited < kLimitMs; waited += 2) SleepMs(2);
        SleepMs(40);
        closedAt = clock.ElapsedMs();
        EXPECT_EQ(CloseComPort(g_ComPort), 1);
    });
    CodeBuffer code;
    EXPECT_EQ(Read(code), 0);
    EXPECT_LT(clock.ElapsedMs() - closedAt, 100);  // not the rest of the 200 ms wait
    EXPECT_EQ(code.bytes[0], 'X');                 // nothing written
}

TEST_F(GetCardCodeTest, AFramedCodeIsCompletedByTheSecondReadAndItsLineEndReadNext) {
    Queue(
        "\x02"
        "0123456789\r\n");
    CodeBuffer code;
    Stopwatch clock;
    EXPECT_EQ(Read(code), 1);
    // Nine digits, then the tenth: queued already, so the second read is
    // made at once rather than after the 200 ms wait.
    EXPECT_LT(clock.ElapsedMs(), 150);
    EXPECT_STREQ(code.bytes, "0123456789");
    EXPECT_EQ(reader.Pending(), 2);  // CR LF stay for the next call

    CodeBuffer next;
    EXPECT_EQ(Read(next), 0);
    EXPECT_EQ(next.bytes[0], 'X');
    EXPECT_EQ(reader.Pending(), 0);
}

TEST_F(GetCardCodeTest, ExactlyTenDigitsLeaveByteTenAlone) {
    Queue("9876543210");
    CodeBuffer code;
    Stopwatch clock;
    EXPECT_EQ(Read(code), 1);
    EXPECT_LT(clock.ElapsedMs(), 190);  // a whole code needs no second read
    EXPECT_EQ(std::string(code.bytes, 11), "9876543210X");
}

TEST_F(GetCardCodeTest, APartialCodeCompletedWithinTheWaitIsJoinedAndTerminated) {
    Queue("123456");
    CodeBuffer code;
    // The rest arrives as soon as the first read has taken the six digits.
    Background reader2([&] {
        for (int waited = 0; reader.Pending() > 0 && waited < kLimitMs; waited += 2) SleepMs(2);
        reader.Send("78");
    });
    EXPECT_EQ(Read(code), 1);
    EXPECT_STREQ(code.bytes, "12345678");
    EXPECT_EQ(code.bytes[9], 'X');  // only the code, its terminator and byte 10 are written
    EXPECT_EQ(code.bytes[10], '\0');
}

// The second read is made as soon as the bytes it takes have come, not after
// the whole 200 ms wait; what it takes is what it would have taken then.
TEST_F(GetCardCodeTest, TheRestOfACodeIsReadAsSoonAsItHasCome) {
    Queue(
        "\x02"
        "01234");
    Background rest([&] {
        for (int waited = 0; reader.Pending() > 0 && waited < kLimitMs; waited += 2) SleepMs(2);
        SleepMs(30);
        reader.Send("56789\r\n");
    });
    CodeBuffer code;
    Stopwatch clock;
    EXPECT_EQ(Read(code), 1);
    EXPECT_LT(clock.ElapsedMs(), 150);  // about 30 ms and five bytes on the line
    EXPECT_STREQ(code.bytes, "0123456789");
    EXPECT_TRUE(reader.WaitForPending(2));  // CR LF stay for the next call, as after the full wait
}

TEST_F(GetCardCodeTest, APartialCodeNotCompletedIsDroppedAndTheBufferUntouched) {
    Queue("123456");
    CodeBuffer code;
    EXPECT_EQ(Read(code), 0);
    EXPECT_EQ(code.bytes[0], 'X');
    // The six digits are gone: the next code is read on its own.
    Queue("5550001111");
    EXPECT_EQ(Read(code), 1);
    EXPECT_EQ(std::string(code.bytes, 10), "5550001111");
}

TEST_F(GetCardCodeTest, NonDigitsAndHighBytesAreDropped) {
    // The first read takes ten bytes holding five digits, the second the
    // five digits still missing.
    Queue(
        std::string("\x02\xB3"
                    "12\xFF"
                    "34\x80\0"
                    "5"
                    "67890",
                    16));
    CodeBuffer code;
    EXPECT_EQ(Read(code), 1);
    EXPECT_STREQ(code.bytes, "1234567890");
}

TEST_F(GetCardCodeTest, NothingWaitingOrNoBufferGivesZeroAtOnce) {
    CodeBuffer code;
    Stopwatch clock;
    EXPECT_EQ(Read(code), 0);
    EXPECT_LT(clock.ElapsedMs(), 150);
    EXPECT_EQ(code.bytes[0], 'X');

    Queue("0123456789");
    EXPECT_EQ(GetCardCode(nullptr), 0);
    EXPECT_EQ(reader.Pending(), 10);  // nothing was read

    CloseComPort(g_ComPort);
    EXPECT_EQ(Read(code), 0);
    EXPECT_EQ(code.bytes[0], 'X');
}

TEST_F(GetCardCodeTest, ReadCardCodeWorksOnAnyPortObject) {
    CloseComPort(g_ComPort);
    ASSERT_EQ(OpenComPort(g_FurtherComPort3, 1), 1);
    Queue("1112223334");
    CodeBuffer code;
    EXPECT_EQ(ReadCardCode(g_FurtherComPort3, code.bytes), 1);
    EXPECT_EQ(std::string(code.bytes, 10), "1112223334");
    EXPECT_EQ(GetCardCode(code.bytes), 0);  // the primary port is closed
    CloseComPort(g_FurtherComPort3);
}

// The extended port on COM2.
class GetCardCodeExTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::memset(g_CarryCode, 0, sizeof g_CarryCode);
        ASSERT_EQ(OpenComEx("COM2", 0), 1);
    }
    void TearDown() override { CloseComEx(); }

    void Queue(const std::string& bytes) {
        reader.Send(bytes);
        ASSERT_TRUE(reader.WaitForPending(static_cast<int>(bytes.size())));
    }
    int Read(CodeBuffer& code, int length) {
        return Bounded(
            kLimitMs, [&] { return GetCardCodeEx(code.bytes, length); }, "GetCardCodeEx");
    }

    TestPrefix prefix;
    FakeReader reader{prefix, 2};
};

TEST_F(GetCardCodeExTest, SurplusDigitsAreCarriedOverToTheNextCalls) {
    Queue(
        "1111111111"
        "2222222222"
        "33333");
    CodeBuffer code;
    EXPECT_EQ(Read(code, 10), 10);
    EXPECT_STREQ(code.bytes, "1111111111");
    EXPECT_STREQ(g_CarryCode, "222222222233333");

    // Whole from the carry-over: its one read finds the queue empty.
    EXPECT_EQ(Read(code, 10), 10);
    EXPECT_STREQ(code.bytes, "2222222222");
    EXPECT_STREQ(g_CarryCode, "33333");

    // Five carried digits: the call waits for five more.
    Background lateReader([&] {
        SleepMs(250);
        reader.Send(
            "44444"
            "5");
    });
    Stopwatch clock;
    EXPECT_EQ(Read(code, 10), 10);
    EXPECT_GE(clock.ElapsedMs(), 240);
    EXPECT_STREQ(code.bytes, "3333344444");
    EXPECT_STREQ(g_CarryCode, "5");
}

// Between its reads GetCardCodeEx waits for the next bytes, not for a fixed
// 100 ms: a code whose digits come in three bursts is complete soon after
// the last one.
TEST_F(GetCardCodeExTest, EachBurstIsReadAsSoonAsItHasCome) {
    Stopwatch clock;
    std::atomic<long long> lastSentAt{0};
    Background sender([&] {
        for (const char* burst : {"123", "4567", "890"}) {
            SleepMs(30);
            reader.Send(burst);
            lastSentAt = clock.ElapsedMs();
        }
    });
    CodeBuffer code;
    EXPECT_EQ(Read(code, 10), 10);
    EXPECT_LT(clock.ElapsedMs() - lastSentAt, 60);  // not up to 100 ms after the last burst
    EXPECT_STREQ(code.bytes, "1234567890");
    EXPECT_STREQ(g_CarryCode, "");
}

TEST_F(GetCardCodeExTest, LengthZeroMovesEveryDigitIntoTheCarryOver) {
    Queue("12345");
    CodeBuffer code;
    EXPECT_EQ(Read(code, 0), 0);
    EXPECT_EQ(code.bytes[0], '\0');
    EXPECT_EQ(code.bytes[1], 'X');
    EXPECT_STREQ(g_CarryCode, "12345");
    EXPECT_EQ(Read(code, 5), 5);
    EXPECT_STREQ(code.bytes, "12345");
    EXPECT_STREQ(g_CarryCode, "");
}

TEST_F(GetCardCodeExTest, NonDigitsAndHighBytesAreDropped) {
    Queue(
        std::string("\x02"
                    "12\xB3"
                    "34\x80\0"
                    "56\xFF"
                    "7890\r\n",
                    17));
    CodeBuffer code;
    EXPECT_EQ(Read(code, 10), 10);
    EXPECT_STREQ(code.bytes, "1234567890");
    EXPECT_STREQ(g_CarryCode, "");
}

TEST_F(GetCardCodeExTest, BadLengthsAndNoBufferReadNothingAndKeepTheCarryOver) {
    Queue("777");
    CodeBuffer code;
    ASSERT_EQ(Read(code, 0), 0);
    Queue("123");
    for (int length : {-1, 51, -1000}) {
        CodeBuffer bad;
        EXPECT_EQ(Read(bad, length), 0) << length;
        EXPECT_EQ(bad.bytes[0], '\0');
        EXPECT_EQ(bad.bytes[1], 'X');
    }
    EXPECT_EQ(GetCardCodeEx(nullptr, 3), 0);
    EXPECT_STREQ(g_CarryCode, "777");
    EXPECT_EQ(reader.Pending(), 3);
    EXPECT_EQ(Read(code, 6), 6);
    EXPECT_STREQ(code.bytes, "777123");
}

TEST_F(GetCardCodeExTest, AClosedPortEndsTheWaitAndKeepsTheDigits) {
    Queue("12");
    CodeBuffer code;
    ASSERT_EQ(Read(code, 0), 0);
    ASSERT_EQ(CloseComEx(), 1);
    Stopwatch clock;
    EXPECT_EQ(Read(code, 10), 0);
    EXPECT_LT(clock.ElapsedMs(), 1000);
    EXPECT_STREQ(code.bytes, "");
    EXPECT_STREQ(g_CarryCode, "12");
    // Carried digits that make up the code need no port.
    EXPECT_EQ(Read(code, 2), 2);
    EXPECT_STREQ(code.bytes, "12");
}

TEST_F(GetCardCodeExTest, AReaderUnpluggedWhileWaitingEndsTheCallWithoutLosingDigits) {
#ifdef _WIN32
    GTEST_SKIP() << "the Wine tier's reader lines cannot be unplugged";
#endif
    Queue("12345");
    Background unplug([&] {
        for (int waited = 0; reader.Pending() > 0 && waited < kLimitMs; waited += 2) SleepMs(2);
        SleepMs(150);
        reader.Disconnect();
    });
    CodeBuffer code;
    EXPECT_EQ(Read(code, 10), 0);
    EXPECT_STREQ(code.bytes, "");
    EXPECT_STREQ(g_CarryCode, "12345");
}

// A host cancels a waiting GetCardCodeEx this way (kavexctl read on
// Ctrl-C too): the wait ends soon after the close, with 0, and keeps every
// digit gathered for the next call.
TEST_F(GetCardCodeExTest, ClosingThePortFromAnotherThreadEndsTheWait) {
    Queue("123");
    Stopwatch clock;
    long long closedAt = 0;
    Background closer([&] {
        for (int waited = 0; reader.Pending() > 0 && waited < kLimitMs; waited += 2) SleepMs(2);
        SleepMs(150);
        closedAt = clock.ElapsedMs();
        EXPECT_EQ(CloseComEx(), 1);
    });
    CodeBuffer code;
    EXPECT_EQ(Read(code, 10), 0);
    EXPECT_LT(clock.ElapsedMs() - closedAt, 150);
    EXPECT_STREQ(code.bytes, "");
    EXPECT_STREQ(g_CarryCode, "123");

    ASSERT_EQ(OpenComEx("COM2", 0), 1);
    Queue("4567890");
    EXPECT_EQ(Read(code, 10), 10);
    EXPECT_STREQ(code.bytes, "1234567890");
}

TEST_F(GetCardCodeExTest, FiftyDigitsAtMostAreTakenAndTheRestStaysQueued) {
    std::string sent;
    for (int i = 0; i < 120; ++i) sent += static_cast<char>('0' + (i * 7 + i / 10) % 10);
    Queue(sent.substr(0, 60));
    CodeBuffer code;
    EXPECT_EQ(Read(code, 50), 50);
    EXPECT_EQ(std::string(code.bytes), sent.substr(0, 50));
    EXPECT_EQ(reader.Pending(), 10);

    // Ten carried digits and sixty queued: the read takes only the forty
    // that fit beside the carry-over.
    ASSERT_EQ(Read(code, 0), 0);
    Queue(sent.substr(60, 60));
    EXPECT_EQ(Read(code, 5), 5);
    EXPECT_EQ(std::string(code.bytes), sent.substr(50, 5));
    EXPECT_EQ(std::string(g_CarryCode), sent.substr(55, 45));
    EXPECT_EQ(reader.Pending(), 20);

    EXPECT_EQ(Read(code, 45), 45);
    EXPECT_EQ(std::string(code.bytes), sent.substr(55, 45));
    EXPECT_EQ(std::string(g_CarryCode), sent.substr(100, 5));
    EXPECT_EQ(Read(code, 20), 20);
    EXPECT_EQ(std::string(code.bytes), sent.substr(100, 20));
    EXPECT_EQ(reader.Pending(), 0);
}

TEST(CardNumberTest, DecimalNumberIsSixteenRelatedDigitsWithoutTerminator) {
    char out[20];
    std::memset(out, 'X', sizeof out);
    EXPECT_EQ(MakeCardNumber(out, 15), 0);
    EXPECT_EQ(MakeCardNumber(nullptr, 16), 0);
    EXPECT_EQ(out[0], 'X');
    ASSERT_EQ(MakeCardNumber(out, 16), 1);
    EXPECT_EQ(out[16], 'X');
    const std::string number(out, 16);
    for (char c : number) ASSERT_TRUE(c >= '0' && c <= '9') << number;
    const int a = std::stoi(number.substr(0, 4)), b = std::stoi(number.substr(4, 4));
    EXPECT_EQ(std::stoi(number.substr(8, 4)), (a + b) % 10000);
    EXPECT_EQ(std::stoi(number.substr(12, 4)), a > b ? a - b : b - a);
}

TEST(CardNumberTest, HexNumberHasTheRequestedLength) {
    char out[20];
    std::memset(out, 'X', sizeof out);
    EXPECT_EQ(MakeHexCardNumber(out, 0), 0);
    EXPECT_EQ(MakeHexCardNumber(out, 16), 0);
    EXPECT_EQ(MakeHexCardNumber(nullptr, 8), 0);
    ASSERT_EQ(MakeHexCardNumber(out, 15), 1);
    EXPECT_EQ(out[15], 'X');
    const std::string number(out, 15);
    EXPECT_EQ(number.find_first_not_of("0123456789abcdef"), std::string::npos) << number;
    const int sum = std::stoi(number.substr(0, 4), nullptr, 16);
    const int a = std::stoi(number.substr(4, 4), nullptr, 16),
              b = std::stoi(number.substr(8, 4), nullptr, 16);
    EXPECT_EQ(sum, (a + b) % 10000);
    ASSERT_EQ(MakeHexCardNumber(out, 1), 1);
    EXPECT_EQ(out[1], number[1]);  // only one byte written
}

}  // namespace
