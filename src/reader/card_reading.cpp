#include "reader/card_reading.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "reader/port_set.h"
#include "serial/serial_exception.h"

char g_CarryCode[51] = {};

namespace {

constexpr int kCardCodeDigits = 10;  // the code of a primary or further reader
constexpr int kMaxDigits = 50;       // the most GetCardCodeEx gathers or keeps
constexpr DWORD kCompletionWaitMs = 200;
constexpr DWORD kPollIntervalMs = 100;

bool IsDigit(char byte) { return byte >= '0' && byte <= '9'; }

// How one read of a reader port went, beyond the digits it brought.
enum class ReadOutcome {
    kRead,         // the read succeeded (it may have brought nothing)
    kPortClosed,   // the port object is not open; nothing was read
    kSerialError,  // the read raised a serial error
};

struct DigitRead {
    int digits;
    ReadOutcome outcome;
};

// ReadComDigits, telling a closed port and a failed read apart from an empty
// queue so that GetCardCodeEx knows when waiting on can bring nothing.
DigitRead ReadDigits(CSerialPort& port, char* buffer, int count) {
    const auto lock = LockPort(port);
    if (!port.IsOpen()) return {0, ReadOutcome::kPortClosed};
    if (buffer == nullptr || count <= 0) return {0, ReadOutcome::kRead};
    DWORD received = 0;
    try {
        received = port.Read(buffer, static_cast<DWORD>(count));
    } catch (CSerialException* error) {
        error->Delete();
        return {0, ReadOutcome::kSerialError};
    }
    if (received == 0) return {0, ReadOutcome::kRead};
    // Over the whole requested count: the caller's buffer is zeroed, so the
    // bytes beyond those received are zeros and are dropped as well.
    FilterDigits(buffer, static_cast<unsigned int>(count));
    return {static_cast<int>(strnlen(buffer, static_cast<size_t>(count))), ReadOutcome::kRead};
}

// The two random draws of the card number generators, after seeding the C
// library's generator with the current time in seconds.
void DrawCardNumberParts(int* a, int* b) {
    std::srand(static_cast<unsigned int>(std::time(nullptr)));
    *a = std::rand() % 10000;
    *b = static_cast<int>((static_cast<long long>(std::rand()) + 1739) % 10000);
}

int ReadCardCodeOrThrow(CSerialPort& port, char* cardCode) {
    if (cardCode == nullptr) return 0;
    char first[kCardCodeDigits + 1] = {};
    char second[kCardCodeDigits + 1] = {};

    const int n = ReadDigits(port, first, kCardCodeDigits).digits;
    if (n == 0) return 0;
    if (n == kCardCodeDigits) {
        // A whole code: exactly ten bytes, the caller's byte 10 is left alone.
        std::memcpy(cardCode, first, kCardCodeDigits);
        return 1;
    }

    // A partial code: the rest is most likely still on the line (ten digits
    // take about 80 ms at 1200 baud). The second read takes the next 10 - n
    // bytes whenever it is made, so it is made as soon as they are queued,
    // and at the latest 200 ms after the first.
    WaitForQueuedBytes(port, static_cast<DWORD>(kCardCodeDigits - n), kCompletionWaitMs);
    const int m = ReadDigits(port, second, kCardCodeDigits - n).digits;
    if (m <= 0) return 0;
    std::memcpy(first + n, second, static_cast<size_t>(m));
    first[n + m] = '\0';
    std::memcpy(cardCode, first, static_cast<size_t>(n + m + 1));
    cardCode[kCardCodeDigits] = '\0';
    return 1;
}

}  // namespace

int FilterDigits(char* buffer, unsigned int count) {
    if (buffer == nullptr) return 1;
    // Same result as removing each non-digit and moving the bytes after it,
    // byte `count` included, one place down: the digits at the front, then
    // (when anything was removed) the byte that stood at `count`, then zeros.
    unsigned int kept = 0;
    for (unsigned int i = 0; i < count; ++i) {
        if (IsDigit(buffer[i])) buffer[kept++] = buffer[i];
    }
    if (kept < count) {
        buffer[kept] = buffer[count];
        std::memset(buffer + kept + 1, 0, count - kept);
    }
    return 1;
}

int ReadComDigits(CSerialPort& port, char* buffer, int count) {
    return ReadDigits(port, buffer, count).digits;
}

int ReadCardCode(CSerialPort& port, char* cardCode) noexcept {
    try {
        return ReadCardCodeOrThrow(port, cardCode);
    } catch (...) {
        return 0;  // serial errors give 0 at each read; this is the port lock failing
    }
}

int MakeCardNumber(char* out, int length) {
    if (out == nullptr || length < 16) return 0;
    int a = 0, b = 0;
    DrawCardNumberParts(&a, &b);
    char text[32];
    std::snprintf(text, sizeof text, "%.4d%.4d%.4d%.4d", a, b, (a + b) % 10000, std::abs(a - b));
    std::memcpy(out, text, 16);
    return 1;
}

int MakeHexCardNumber(char* out, int length) {
    if (out == nullptr || length < 1 || length > 15) return 0;
    int a = 0, b = 0;
    DrawCardNumberParts(&a, &b);
    char text[32];
    std::snprintf(text, sizeof text, "%.4x%.4x%.4x%.4x", static_cast<unsigned int>((a + b) % 10000),
                  static_cast<unsigned int>(a), static_cast<unsigned int>(b),
                  static_cast<unsigned int>(std::abs(a - b)));
    std::memcpy(out, text, static_cast<size_t>(length));
    return 1;
}

int ReadExtendedCardCode(char* cardCode, int codeLength) {
    if (cardCode == nullptr) return 0;
    if (codeLength < 0 || codeLength > kMaxDigits) {
        cardCode[0] = '\0';
        return 0;
    }

    char gathered[kMaxDigits + 1] = {};
    std::memcpy(gathered, g_CarryCode, sizeof gathered - 1);
    int count = static_cast<int>(strnlen(gathered, kMaxDigits));

    // Each read asks for no more bytes than the accumulation has room for,
    // so digits beyond 50 stay queued on the port for the next call.
    auto readMore = [&]() {
        char chunk[kMaxDigits + 1] = {};
        const DigitRead read = ReadDigits(g_ComPortEx, chunk, kMaxDigits - count);
        std::memcpy(gathered + count, chunk, static_cast<size_t>(read.digits));
        count += read.digits;
        return read.outcome;
    };

    // The first read always takes place, even when the carried-over digits
    // already make up the code.
    ReadOutcome last = readMore();
    while (count < codeLength) {
        if (last != ReadOutcome::kRead) {
            // A closed port or a failing read brings nothing more: give up
            // rather than wait for ever, keeping every digit for next time.
            std::memset(g_CarryCode, 0, sizeof g_CarryCode);
            std::memcpy(g_CarryCode, gathered, static_cast<size_t>(count));
            cardCode[0] = '\0';
            return 0;
        }
        // Read again as soon as anything has arrived, at the latest 100 ms
        // after the last read: the reads only split the same bytes
        // differently, so the codes and the order of the digits are those of
        // fixed 100 ms waits.
        WaitForQueuedBytes(g_ComPortEx, 1, kPollIntervalMs);
        last = readMore();
    }

    std::memset(g_CarryCode, 0, sizeof g_CarryCode);
    if (count > codeLength) {
        std::memcpy(g_CarryCode, gathered + codeLength, static_cast<size_t>(count - codeLength));
    }
    gathered[codeLength] = '\0';
    std::memcpy(cardCode, gathered, static_cast<size_t>(codeLength + 1));
    return static_cast<int>(std::strlen(cardCode));
}
