// ParseDateTime: "year-month-day[ hour:minute:second]" as local time.
#include <cctype>
#include <ctime>
#include <string>

#include "settings/version_config.h"

namespace {

// Parts of 10 characters or more are refused (the seconds, the text's
// rest, are read by their leading digits whatever their length).
constexpr std::size_t kPartLimit = 10;

// The leading decimal number of a part: blanks and a sign first, then
// digits up to the first other character (none: 0). Saturates far outside
// every accepted range rather than overflowing.
long LeadingNumber(const std::string& part) {
    std::size_t k = 0;
    while (k < part.size() && std::isspace(static_cast<unsigned char>(part[k]))) ++k;
    bool negative = false;
    if (k < part.size() && (part[k] == '+' || part[k] == '-')) negative = part[k++] == '-';
    long value = 0;
    for (; k < part.size() && std::isdigit(static_cast<unsigned char>(part[k])); ++k) {
        if (value < 100000000L) value = value * 10 + (part[k] - '0');
    }
    return negative ? -value : value;
}

// Local time to seconds since 1970 UTC, in 64 bits on every build: the
// 32-bit Windows run-time's time_t ends in January 2038, and the texts go
// to 2098. -1 when the conversion fails.
long long LocalSeconds(std::tm* local) {
#ifdef _WIN32
    return static_cast<long long>(_mktime64(local));
#else
    static_assert(sizeof(std::time_t) >= 8, "time_t must reach 2098");
    return static_cast<long long>(std::mktime(local));
#endif
}

}  // namespace

std::uint32_t ParseDateTime(const char* text) {
    if (text == nullptr) return 0;
    const std::string whole(text);
    const std::size_t firstDash = whole.find('-');
    if (firstDash == std::string::npos) return 0;
    const std::size_t secondDash = whole.find('-', firstDash + 1);
    if (secondDash == std::string::npos) return 0;
    const std::string year = whole.substr(0, firstDash);
    const std::string month = whole.substr(firstDash + 1, secondDash - firstDash - 1);
    const std::string rest = whole.substr(secondDash + 1);

    std::string day = rest;
    std::string hour, minute, second;
    bool midnight = true;
    const std::size_t space = rest.find(' ');
    if (space != std::string::npos) {
        day = rest.substr(0, space);
        const std::string time = rest.substr(space + 1);
        const std::size_t firstColon = time.find(':');
        if (firstColon != std::string::npos) {
            const std::size_t secondColon = time.find(':', firstColon + 1);
            if (secondColon == std::string::npos) return 0;
            midnight = false;
            hour = time.substr(0, firstColon);
            minute = time.substr(firstColon + 1, secondColon - firstColon - 1);
            second = time.substr(secondColon + 1);
        }
    }
    const std::string* const parts[] = {&year, &month, &day, &hour, &minute};
    for (const std::string* part : parts) {
        if (part->size() >= kPartLimit) return 0;
    }

    const long y = LeadingNumber(year), mo = LeadingNumber(month), d = LeadingNumber(day);
    long h = LeadingNumber(hour), mi = LeadingNumber(minute), s = LeadingNumber(second);
    if (y < 1970 || y > 2098) return 0;
    if (y == 1970 && midnight) h = 8;  // the first day starts at 08:00
    if (y == 1970 && h < 8) return 0;
    if (mo < 1 || mo > 12 || d < 1 || d > 31 || h < 0 || h > 23 || mi < 0 || mi > 59 || s < 0 || s > 59)
        return 0;

    std::tm local{};
    local.tm_year = static_cast<int>(y - 1900);
    local.tm_mon = static_cast<int>(mo - 1);
    local.tm_mday = static_cast<int>(d);  // past the month's end rolls into the next
    local.tm_hour = static_cast<int>(h);
    local.tm_min = static_cast<int>(mi);
    local.tm_sec = static_cast<int>(s);
    local.tm_isdst = -1;
    const long long seconds = LocalSeconds(&local);
    // A time the system cannot convert, or one before 1970 UTC (east of
    // UTC+8 in early 1970), is not accepted.
    if (seconds < 0) return 0;
    return static_cast<std::uint32_t>(static_cast<unsigned long long>(seconds) & 0xFFFFFFFFull);
}
