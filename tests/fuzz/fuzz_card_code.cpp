// Card code reading over a scripted line (scripted_line.h): the bytes a
// reader sends, in the chunks the reads find them, and failing reads.
//
// Input: one byte picks the function (GetCardCode, GetCardCodeEx, the
// digit read of a further reader's port, ReadComDigits, FilterDigits), one
// its argument (the code length, the count), one how many calls are made;
// then the script, step by step: a byte 0xFF is a read that fails, any
// other byte b is followed by the b % 32 bytes that arrive before the read.
//
// Checked beyond what the sanitizers see: every result is one the function
// may give, nothing is written outside the caller's buffer or, on 0, into
// it, only digits come out, and GetCardCodeEx loses no digit: the codes it
// returned and its carry-over are, in order, every digit the line handed
// out.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "fuzz_support.h"
#include "kavex.h"
#include "platform/posix/fault_injection.h"
#include "reader/card_reading.h"
#include "reader/port_set.h"
#include "scripted_line.h"

using kavex::fuzz::FuzzInput;
using kavex::fuzz::ScriptedLine;

namespace {

constexpr char kUnwritten = 'X';

bool AllDigits(const char* text, std::size_t length) {
    for (std::size_t k = 0; k < length; ++k) {
        if (text[k] < '0' || text[k] > '9') return false;
    }
    return true;
}

std::string DigitsOf(const std::string& bytes) {
    std::string digits;
    for (char c : bytes) {
        if (c >= '0' && c <= '9') digits += c;
    }
    return digits;
}

std::vector<ScriptedLine::Step> ScriptOf(FuzzInput& input) {
    std::vector<ScriptedLine::Step> script;
    while (!input.Empty()) {
        const std::uint8_t head = input.Byte();
        ScriptedLine::Step step;
        if (head == 0xFF) {
            step.fails = true;
        } else {
            step.bytes = input.Bytes(head % 32u);
        }
        script.push_back(std::move(step));
    }
    return script;
}

// GetCardCode and GetOtherCardCode: 1 with ten digits in bytes 0 to 9 (byte
// 10 as it was) or a shorter terminated code with byte 10 set to 0; 0 with
// the buffer untouched.
void CheckTenDigitRead(int result, const char (&code)[16]) {
    KAVEX_FUZZ_CHECK(result == 0 || result == 1);
    for (std::size_t k = 11; k < sizeof code; ++k) KAVEX_FUZZ_CHECK(code[k] == kUnwritten);
    if (result == 0) {
        for (char c : code) KAVEX_FUZZ_CHECK(c == kUnwritten);
        return;
    }
    if (code[10] == kUnwritten) {
        KAVEX_FUZZ_CHECK(AllDigits(code, 10));
    } else {
        KAVEX_FUZZ_CHECK(code[10] == '\0');
        const std::size_t length = strnlen(code, 11);
        KAVEX_FUZZ_CHECK(length >= 1 && length <= 10 && AllDigits(code, length));
    }
}

void ReadPrimary(FuzzInput& input, int calls) {
    ScriptedLine::AttachTo(g_ComPort, ScriptOf(input));
    for (int call = 0; call < calls; ++call) {
        char code[16];
        std::memset(code, kUnwritten, sizeof code);
        CheckTenDigitRead(GetCardCode(code), code);
    }
    g_ComPort.Close();
}

void ReadFurther(FuzzInput& input, int calls) {
    ScriptedLine::AttachTo(g_FurtherComPort2, ScriptOf(input));
    for (int call = 0; call < calls; ++call) {
        char code[16];
        std::memset(code, kUnwritten, sizeof code);
        CheckTenDigitRead(ReadCardCode(g_FurtherComPort2, code), code);
    }
    g_FurtherComPort2.Close();
}

void ReadExtended(FuzzInput& input, int codeLength, int calls) {
    std::memset(g_CarryCode, 0, sizeof g_CarryCode);
    const auto line = ScriptedLine::AttachTo(g_ComPortEx, ScriptOf(input));
    std::string delivered;
    for (int call = 0; call < calls; ++call) {
        char code[64];
        std::memset(code, kUnwritten, sizeof code);
        const int result = GetCardCodeEx(code, codeLength);
        if (codeLength < 0 || codeLength > 50) {
            KAVEX_FUZZ_CHECK(result == 0 && code[0] == '\0');
        } else {
            KAVEX_FUZZ_CHECK(result == 0 || result == codeLength);
            KAVEX_FUZZ_CHECK(code[result] == '\0' && AllDigits(code, static_cast<std::size_t>(result)));
            for (std::size_t k = static_cast<std::size_t>(result) + 1; k < sizeof code; ++k) {
                KAVEX_FUZZ_CHECK(code[k] == kUnwritten);
            }
            delivered.append(code, static_cast<std::size_t>(result));
        }
        const std::size_t carried = strnlen(g_CarryCode, sizeof g_CarryCode);
        KAVEX_FUZZ_CHECK(carried <= 50 && AllDigits(g_CarryCode, carried));
        KAVEX_FUZZ_CHECK(delivered + g_CarryCode == DigitsOf(line->HandedOut()));
    }
    g_ComPortEx.Close();
    std::memset(g_CarryCode, 0, sizeof g_CarryCode);
}

void ReadDigits(FuzzInput& input, int count) {
    const auto line = ScriptedLine::AttachTo(g_ComPortEx, ScriptOf(input));
    for (int call = 0; call < 4; ++call) {
        std::vector<char> buffer(static_cast<std::size_t>(count) + 1 + 8, kUnwritten);
        std::memset(buffer.data(), 0, static_cast<std::size_t>(count) + 1);
        const std::size_t before = line->HandedOut().size();
        const int digits = ReadComDigits(g_ComPortEx, buffer.data(), count);
        const std::string arrived = DigitsOf(line->HandedOut().substr(before));
        KAVEX_FUZZ_CHECK(digits == static_cast<int>(arrived.size()));
        KAVEX_FUZZ_CHECK(std::string(buffer.data(), static_cast<std::size_t>(digits)) == arrived);
        for (int k = digits; k <= count; ++k) KAVEX_FUZZ_CHECK(buffer[static_cast<std::size_t>(k)] == '\0');
        for (std::size_t k = static_cast<std::size_t>(count) + 1; k < buffer.size(); ++k) {
            KAVEX_FUZZ_CHECK(buffer[k] == kUnwritten);
        }
    }
    g_ComPortEx.Close();
}

void Filter(FuzzInput& input) {
    std::string bytes = input.Rest();
    const std::string digits = DigitsOf(bytes);
    const auto count = static_cast<unsigned int>(bytes.size());
    bytes += '\0';
    KAVEX_FUZZ_CHECK(FilterDigits(bytes.data(), count) == 1);
    KAVEX_FUZZ_CHECK(bytes.compare(0, digits.size(), digits) == 0);
    for (std::size_t k = digits.size(); k < bytes.size(); ++k) KAVEX_FUZZ_CHECK(bytes[k] == '\0');
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // GetCardCode and GetCardCodeEx wait between reads; the script needs no time.
    kavex::posix::faults::SetSleepReturnsAtOnce(true);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzInput input(data, size);
    const std::uint8_t function = input.Byte();
    const std::uint8_t argument = input.Byte();
    const int calls = 1 + input.Byte() % 8;
    switch (function % 5) {
        case 0: ReadPrimary(input, calls); break;
        case 1: ReadExtended(input, static_cast<int>(argument % 54) - 1, calls); break;  // -1 .. 52
        case 2: ReadFurther(input, calls); break;
        case 3: ReadDigits(input, argument % 64); break;
        default: Filter(input); break;
    }
    return 0;
}
