// ParseDateTime over fuzzed texts in four time zones (two with daylight
// saving, one east of UTC+8).
//
// Input: one byte picks the zone, the rest is the text (cut at its first
// NUL, as a C string is).
//
// Checked beyond what the sanitizers see: an accepted text names a local
// time in 1970 .. 2098, and writing that time back as
// "year-month-day hour:minute:second" is accepted as the same second (or
// the same wall-clock time an hour apart, where daylight saving makes a
// local time ambiguous).
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <ctime>
#include <string>

#include "fuzz_support.h"
#include "settings/version_config.h"

using kavex::fuzz::FuzzInput;

namespace {

constexpr const char* kZones[] = {
    "UTC0",
    "CST-8",                        // the module's home zone
    "EST5EDT,M3.2.0,M11.1.0",       // daylight saving, west of UTC
    "NZST-12NZDT,M9.5.0,M4.1.0/3",  // daylight saving, east of UTC+8
};
constexpr std::size_t kZoneCount = sizeof kZones / sizeof kZones[0];

void UseZone(std::size_t zone) {
    static std::size_t current = kZoneCount;
    if (zone == current) return;
    ::setenv("TZ", kZones[zone], 1);
    ::tzset();
    current = zone;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzInput input(data, size);
    UseZone(input.Byte() % kZoneCount);
    const std::string raw = input.Rest();
    const std::string text = raw.substr(0, raw.find('\0'));

    const std::uint32_t seconds = ParseDateTime(text.c_str());
    if (seconds == 0) return 0;

    const std::time_t when = static_cast<std::time_t>(seconds);
    std::tm local{};
    KAVEX_FUZZ_CHECK(::localtime_r(&when, &local) != nullptr);
    KAVEX_FUZZ_CHECK(local.tm_year + 1900 >= 1970 && local.tm_year + 1900 <= 2098);

    char written[64];
    KAVEX_FUZZ_CHECK(std::strftime(written, sizeof written, "%Y-%m-%d %H:%M:%S", &local) > 0);
    const std::uint32_t again = ParseDateTime(written);
    KAVEX_FUZZ_CHECK(again == seconds || again == seconds - 3600 || again == seconds + 3600);
    return 0;
}
