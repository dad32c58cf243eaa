// The code page conversions with Windows' own expectations: GBK (936) and
// UTF-8 through UTF-16, size queries, short buffers and invalid input. The
// suite runs in the Windows tiers too, against Wine's conversions.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/win32.h"

namespace {

// "读卡器" (card reader) in GBK and in UTF-16.
const char kGbk[] = "\xB6\xC1\xBF\xA8\xC6\xF7";
const WCHAR kWide[] = {0x8BFB, 0x5361, 0x5668};

TEST(CodePageTest, GbkAndUtf8ConvertThroughUtf16) {
    WCHAR wide[8] = {};
    ASSERT_EQ(MultiByteToWideChar(936, MB_ERR_INVALID_CHARS, kGbk, 6, nullptr, 0), 3);  // the size needed
    ASSERT_EQ(MultiByteToWideChar(936, MB_ERR_INVALID_CHARS, kGbk, 6, wide, 8), 3);
    EXPECT_EQ(std::vector<WCHAR>(wide, wide + 3), std::vector<WCHAR>(kWide, kWide + 3));

    char utf8[16] = {};
    ASSERT_EQ(WideCharToMultiByte(CP_UTF8, 0, kWide, 3, nullptr, 0, nullptr, nullptr), 9);
    ASSERT_EQ(WideCharToMultiByte(CP_UTF8, 0, kWide, 3, utf8, sizeof utf8, nullptr, nullptr), 9);
    EXPECT_EQ(std::string(utf8, 9), "\xE8\xAF\xBB\xE5\x8D\xA1\xE5\x99\xA8");

    char back[8] = {};
    BOOL usedDefault = TRUE;
    ASSERT_EQ(WideCharToMultiByte(936, 0, kWide, 3, back, sizeof back, nullptr, &usedDefault), 6);
    EXPECT_EQ(std::string(back, 6), std::string(kGbk, 6));
    EXPECT_FALSE(usedDefault);

    // -1: the string with its terminator.
    EXPECT_EQ(MultiByteToWideChar(936, 0, kGbk, -1, wide, 8), 4);
    EXPECT_EQ(wide[3], 0);
}

TEST(CodePageTest, FailuresAreReportedNotGuessed) {
    WCHAR wide[2] = {};
    SetLastError(0);
    EXPECT_EQ(MultiByteToWideChar(936, MB_ERR_INVALID_CHARS, kGbk, 6, wide, 2), 0);  // too small
    EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
    // A lead byte without its trail byte is no GBK character.
    EXPECT_EQ(MultiByteToWideChar(936, MB_ERR_INVALID_CHARS, "\xB6", 1, wide, 2), 0);
    EXPECT_EQ(GetLastError(), ERROR_NO_UNICODE_TRANSLATION);
    EXPECT_EQ(MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, "\xE8\xAF", 2, wide, 2), 0);
    EXPECT_EQ(GetLastError(), ERROR_NO_UNICODE_TRANSLATION);

    // A character GBK cannot hold becomes the default character.
    const WCHAR snowman[] = {'a', 0x2603};
    char bytes[8] = {};
    BOOL usedDefault = FALSE;
    EXPECT_EQ(WideCharToMultiByte(936, 0, snowman, 2, bytes, sizeof bytes, nullptr, &usedDefault), 2);
    EXPECT_EQ(std::string(bytes, 2), "a?");
    EXPECT_TRUE(usedDefault);
}

}  // namespace
