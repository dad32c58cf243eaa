#include "settings/settings_report.h"

#include <cstdio>
#include <cstring>
#include <ctime>

#include "framework/file.h"
#include "settings/version_config.h"
#include "settings/version_fields.h"

namespace kavex::settings {

namespace {

constexpr char kLineEnd[] = "\r\n";
constexpr char kHeadingLabel[] = "\xB9\xA6\xC4\xDC\xCF\xEE";          // 功能项
constexpr char kHeadingValue[] = "\xCB\xF9\xC9\xE8\xD6\xC3\xD6\xB5";  // 所设置值
constexpr int kHeadingSpaces = 30;
constexpr int kSectionLine = 38;
// "        二代证电子化的有关参数配置:  "
constexpr char kSection[] =
    "        "
    "\xB6\xFE\xB4\xFA\xD6\xA4\xB5\xE7\xD7\xD3\xBB\xAF\xB5\xC4\xD3\xD0\xB9\xD8\xB2\xCE\xCA\xFD\xC5\xE4\xD6\xC3"
    ":  ";
constexpr char kTimeFormat[] =
    "\xC9\xE8\xD6\xC3\xCA\xB1\xBC\xE4\xA3\xBA%04d-%02d-%02d %02d:%02d:%02d\r\n";  // 设置时间：
constexpr int kLastFieldLine = 47;
constexpr char kNoName[] = "\xCE\xB4\xD6\xB8\xB6\xA8";  // 未指定

struct CafeSystem {
    unsigned identifier;
    const char* name;  // GBK
};

// The usable systems of CafeSystems, in the report's order, by their bit.
constexpr CafeSystem kUsableSystems[] = {
    {0x0001,
     "\xCD\xF2\xCF\xF3"
     "2004"},                                              // 万象2004
    {0x0002, "\xCD\xF2\xCF\xF3\xC3\xEE\xB9\xDC\xBC\xD2"},  // 万象妙管家
    {0x0200,
     "\xCD\xF2\xCF\xF3"
     "2006"},  // 万象2006
    {0x0004, "PUBWIN"},
    {0x0008, "QUORELINK"},
    {0x0010, "Pubwin2007"},
    {0x0020, "\xD0\xC7\xC3\xC0"},          // 星美
    {0x0040, "\xCF\xA3\xD6\xAE\xB9\xE2"},  // 希之光
    {0x0400, "Corvana"},
    {0x0800, "\xBC\xD1\xD0\xC7"},  // 佳星
    {0x1000, "\xC2\xF3\xBF\xC6"},  // 麦科
    {0x2000, "\xB7\xE9\xBB\xF0"},  // 烽火
};

// The names of CafeSystem identifiers.
constexpr CafeSystem kSystemNames[] = {
    {1,
     "\xBC\xAA\xCA\xA4 \xCD\xF2\xCF\xF3"
     "2004"},  // 吉胜 万象2004
    {2,
     "\xBC\xAA\xCA\xA4 \xCD\xF2\xCF\xF3"
     "2003\xC3\xEE\xB9\xDC\xBC\xD2"},  // 吉胜 万象2003妙管家
    {3, "\xB7\xBD\xD6\xF1"},           // 方竹
    {4, "Hintsoft PUBWIN 4.3"},
    {5, "\xD0\xC7\xBF\xD5\xCD\xF8\xC3\xCB"},  // 星空网盟
    {6, "\xB3\xCF\xCF\xA3"},                  // 诚希
    {7, "\xB0\xC2\xB1\xC8\xCC\xD8"},          // 奥比特
    {8, "Tavrel Quorelink"},
    {9, "\xBA\xA3\xD4\xB4\xCD\xF2\xB4\xEF"},  // 海源万达
    {10, "\xD8\xA7\xCE\xA2"},                 // 丕微
    {11,
     "\xCD\xF2\xCF\xF3"
     "2008"},                  // 万象2008
    {12, "\xBF\xA8\xC5\xF4"},  // 卡鹏
    {13, "PUBWIN2009"},
    {16, "Pubwin2007"},
    {32, "\xD0\xC7\xC3\xC0"},          // 星美
    {64, "\xCF\xA3\xD6\xAE\xB9\xE2"},  // 希之光
    {128, "Hintsoft PubwinEP"},
    {256, "\xBD\xF0\xD4\xBF\xB3\xD7\xC8\xED\xBC\xFE"},  // 金钥匙软件
    {512,
     "\xBC\xAA\xCA\xA4 \xCD\xF2\xCF\xF3"
     "2006"},  // 吉胜 万象2006
    {1024, "Corvana"},
    {2048, "\xBC\xD1\xD0\xC7"},   // 佳星
    {4096, "\xC2\xF3\xBF\xC6"},   // 麦科
    {8192, "\xB7\xE9\xBB\xF0"},   // 烽火
    {16384, "\xBF\xC6\xCC\xD8"},  // 科特
    {32768, "\xC2\xF5\xB5\xC2"},  // 迈德
};

std::string Text(const char* bytes, std::size_t width) {
    return std::string(bytes, TextLength(bytes, width));
}

// The value of one row; `carried` is the choice carried between choice rows
// (true: the first).
std::string RowValue(const VersionConfigRecord& record, const VersionField& field, const ReportRow& row,
                     bool* carried) {
    const std::int64_t number = ReadInteger(record, field);
    switch (row.style) {
        case ReportStyle::kDecimal:
        case ReportStyle::kUnsigned: return std::to_string(number);
        case ReportStyle::kText: return Text(FieldBytes(record, field), field.width);
        case ReportStyle::kWords: return number != 0 ? row.whenSet : row.whenClear;
        case ReportStyle::kChoice:
            if (number == 1) *carried = true;
            if (number == 2) *carried = false;
            return *carried ? row.whenSet : row.whenClear;
        case ReportStyle::kIdTypeList: {
            std::string list;
            const std::int32_t count = record.IdTypeCount < 0 ? 0 : record.IdTypeCount;
            for (int k = 0; k < count && k < kIdTypeEntries; ++k) {
                list += Text(record.IdTypes[k], sizeof record.IdTypes[k]) + "  ";
            }
            return list;
        }
        case ReportStyle::kCafeSystemList: {
            std::string list;
            for (const CafeSystem& system : kUsableSystems) {
                if (record.CafeSystems & system.identifier) list += std::string(system.name) + "  ";
            }
            return list;
        }
        default: return std::string();
    }
}

// The row shown on `line`, and its field.
bool FindRow(int line, const VersionField** field, const ReportRow** row) {
    for (std::size_t k = 0; k < VersionFieldCount(); ++k) {
        const VersionField& candidate = VersionFields()[k];
        for (const ReportRow* shown : {&candidate.report, &candidate.secondReport}) {
            if (shown->line == line) {
                *field = &candidate;
                *row = shown;
                return true;
            }
        }
    }
    return false;
}

std::string Line(const std::string& label, int spaces, const std::string& value) {
    return label + std::string(static_cast<std::size_t>(spaces), ' ') + value + kLineEnd;
}

}  // namespace

std::vector<std::string> SettingsReportLines(const VersionConfigRecord& record) {
    std::vector<std::string> lines;
    lines.push_back(Line(kHeadingLabel, kHeadingSpaces, kHeadingValue));
    bool carried = false;  // the choice rows start from the second choice
    for (int line = 2; line <= kLastFieldLine; ++line) {
        if (line == kSectionLine) {
            lines.push_back(std::string(kSection) + kLineEnd);
            continue;
        }
        const VersionField* field = nullptr;
        const ReportRow* row = nullptr;
        if (!FindRow(line, &field, &row)) continue;
        lines.push_back(Line(row->label, row->spaces, RowValue(record, *field, *row, &carried)));
    }
    return lines;
}

std::string SettingsReportTimeLine(const std::tm* now) {
    char time[64];
    if (now != nullptr) {
        std::snprintf(time, sizeof time, kTimeFormat, now->tm_year + 1900, now->tm_mon + 1, now->tm_mday,
                      now->tm_hour, now->tm_min, now->tm_sec);
    } else {
        std::snprintf(time, sizeof time, kTimeFormat, 0, 0, 0, -1, -1, -1);
    }
    return time;
}

bool LocalTimeOf(std::time_t moment, std::tm* local) {
    if (local == nullptr) return false;
#ifdef _WIN32
    return localtime_s(local, &moment) == 0;
#else
    return localtime_r(&moment, local) != nullptr;
#endif
}

}  // namespace kavex::settings

BOOL WriteSettingsReport(const char* path) {
    const VersionConfigView* view = kavex::settings::SharedView();
    if (view == nullptr || path == nullptr) return FALSE;
    CFile file;
    if (!file.Open(
            path, CFile::modeReadWrite | CFile::modeCreate | CFile::modeNoTruncate | CFile::shareExclusive)) {
        return FALSE;
    }
    try {
        file.SetLength(0);
        // The record as it is now; the time when its line is written.
        const VersionConfigRecord record = view->record;
        for (const std::string& line : kavex::settings::SettingsReportLines(record)) {
            file.Write(line.data(), static_cast<UINT>(line.size()));
        }
        std::tm now{};
        const bool known = kavex::settings::LocalTimeOf(std::time(nullptr), &now);
        const std::string timeLine = kavex::settings::SettingsReportTimeLine(known ? &now : nullptr);
        file.Write(timeLine.data(), static_cast<UINT>(timeLine.size()));
        file.Flush();
        file.Close();
        return TRUE;
    } catch (CFileException* error) {
        char description[kavex::settings::kSettingsPathLimit] = {};
        error->GetErrorMessage(description, sizeof description);
        std::printf("%s\n", description);
        error->Delete();
        file.Abort();
        return FALSE;
    }
}

BOOL GetCafeSystemName(std::string& name) {
    const VersionConfigView* view = kavex::settings::SharedView();
    if (view != nullptr) {
        for (const auto& system : kavex::settings::kSystemNames) {
            if (system.identifier == view->record.CafeSystem) {
                name = system.name;
                return TRUE;
            }
        }
    }
    name = kavex::settings::kNoName;
    return FALSE;
}
