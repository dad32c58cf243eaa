// The settings report, byte for byte against the expected GBK lines, and
// the names of the cafe-management systems.
#include <gtest/gtest.h>

#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "settings/settings_report.h"
#include "settings/version_config.h"
#include "support/settings_env.h"

using kavex::test::ReadBytes;
using kavex::test::SettingsEnvironment;

namespace {

constexpr char kUrl[] = "http://ipcfg.qelcorp.example/zoru/shencityipcfg.cfg";

std::string Row(const std::string& label, int spaces, const std::string& value) {
    return label + std::string(static_cast<std::size_t>(spaces), ' ') + value + "\r\n";
}

// The report of a fresh view, line by line (line 48, the time, apart).
std::vector<std::string> DefaultLines() {
    return {
        Row("\xB9\xA6\xC4\xDC\xCF\xEE", 30, "\xCB\xF9\xC9\xE8\xD6\xC3\xD6\xB5"),  // 1 功能项 所设置值
        Row("\xB0\xE6\xB1\xBE\xBA\xC5", 30, "29"),                                // 2 版本号 29
        Row("QUORELINK\xB0\xE6", 25, "\xB7\xF1"),                                 // 3 QUORELINK版 否
        Row("\xCA\xC7\xB7\xF1\xB4\xF8\xCA\xA1\xD6\xD0\xD0\xC4", 24, "\xB7\xF1"),  // 4 是否带省中心 否
        Row("\xCA\xC7\xB7\xF1\xB4\xF8\xD2\xD1\xBF\xAA\xBF\xA8\xD0\xC5\xCF\xA2", 20,
            "\xB7\xF1"),  // 5 是否带已开卡信息 否
        Row("\xCA\xC7\xB7\xF1\xD4\xCA\xD0\xED\xBF\xAA\xC1\xD9\xCA\xB1\xBF\xA8", 20,
            "\xB7\xF1"),  // 6 是否允许开临时卡 否
        Row("\xCA\xC7\xB7\xF1\xCF\xDE\xD6\xC6\xCE\xB4\xB3\xC9\xC4\xEA\xBF\xAA\xBF\xA8", 18,
            "\xB7\xF1"),  // 7 是否限制未成年开卡 否
        Row("\xCA\xC7\xB7\xF1\xCF\xDE\xD6\xC6\xCE\xB4\xB3\xC9\xC4\xEA\xCB\xA2\xBF\xA8\xC9\xCF\xBB\xFA", 14,
            "\xB7\xF1"),  // 8 是否限制未成年刷卡上机 否
        Row("\xCE\xB4\xB3\xC9\xC4\xEA\xC8\xCB\xC9\xCF\xCF\xDE\xC4\xEA\xC1\xE4", 20,
            "0"),  // 9 未成年人上限年龄 0
        Row("\xCA\xD0\xD6\xD0\xD0\xC4\xB2\xE9\xB2\xBB\xB5\xBD\xB5\xC4\xBF\xA8\xCA\xC7\xB7\xF1\xB5\xBD\xCA\xA1"
            "\xD6\xD0\xD0\xC4\xD1\xE9\xD6\xA4",
            4, "\xB7\xF1"),  // 10 市中心查不到的卡是否到省中心验证 否
        Row("\xB1\xD8\xD0\xEB\xB0\xB2\xD7\xB0\xC1\xCBNET110\xB2\xC5\xBF\xC9\xD2\xD4\xCA\xB9\xD3\xC3", 10,
            "\xB7\xF1"),  // 11 必须安装了NET110才可以使用 否
        Row("\xBF\xAA\xBF\xA8\xCA\xB1\xB6\xD4\xD0\xD5\xC3\xFB\xB5\xC4\xBA\xCF\xB7\xA8\xBD\xF8\xD0\xD0\xD1\xE9"
            "\xD6\xA4",
            10, "\xCA\xC7"),  // 12 开卡时对姓名的合法进行验证 是
        Row("\xD1\xE9\xD6\xA4\xD6\xA4\xBC\xFE\xB5\xC4\xD3\xD0\xD0\xA7\xD0\xD4", 20,
            "\xCA\xC7"),  // 13 验证证件的有效性 是
        Row("\xBC\xD3\xC3\xDC\xB0\xFC\xCA\xB9\xD3\xC3RC4\xD7\xF7\xBC\xD3\xC3\xDC\xCB\xE3\xB7\xA8", 13,
            "\xB7\xF1"),  // 14 加密包使用RC4作加密算法 否
        Row("\xB1\xBE\xB5\xD8\xCA\xFD\xBE\xDD\xBF\xE2\xCE\xC4\xBC\xFE\xA1\xA2\xC5\xE4\xD6\xC3\xD0\xC5\xCF\xA2"
            "\xCE\xC4\xBC\xFE\xBC\xD3\xC3\xDC",
            4, "\xB7\xF1"),  // 15 本地数据库文件、配置信息文件加密 否
        Row("\xCA\xC7\xB7\xF1\xCA\xC7\xBF\xED\xB4\xF8\xB0\xE6\xB1\xBE", 22,
            "\xB7\xF1"),  // 16 是否是宽带版本 否
        Row("\xCA\xC7\xB7\xF1\xB5\xBD\xD4\xB6\xB3\xCC\xB7\xFE\xCE\xF1\xC6\xF7\xC9\xCF\xBB\xF1\xC8\xA1IP\xB5"
            "\xD8\xD6\xB7",
            8, "\xB7\xF1"),  // 17 是否到远程服务器上获取IP地址 否
        Row("\xD4\xB6\xB3\xCC\xCA\xA1\xCA\xD0IP\xB5\xD8\xD6\xB7\xCE\xC4\xBC\xFE\xB4\xE6\xB7\xC5\xC2\xB7\xBE"
            "\xB6",
            10, kUrl),  // 18 远程省市IP地址文件存放路径
        Row("\xD7\xEE\xB4\xF3\xC1\xAC\xBD\xD3\xD6\xD0\xD0\xC4\xCA\xA7\xB0\xDC\xCA\xFD", 18,
            "30"),  // 19 最大连接中心失败数 30
        Row("\xB7\xA2\xCB\xCD\xBB\xFA\xC6\xF7\xCA\xFD\xD0\xC5\xCF\xA2\xD6\xC1\xD6\xD0\xD0\xC4\xBC\xE4\xB8\xF4"
            "\xCA\xB1\xBC\xE4(\xC3\xEB)",
            4, "900"),                    // 20 发送机器数信息至中心间隔时间(秒) 900
        Row("\xB1\xB8\xD7\xA2", 32, ""),  // 21 备注
        Row("\xB7\xA2\xCD\xF9\xB5\xD8\xC7\xF8", 28, ""),  // 22 发往地区
        Row("\xCD\xF2\xCF\xF3\xC3\xEE\xB9\xDC\xBC\xD2\xC6\xD5\xCD\xA8\xBF\xA8\xC9\xCF\xBB\xFA\xBF\xC9\xD2\xD4"
            "\xB2\xBB\xCA\xE4\xC3\xDC\xC2\xEB",
            4, "\xB7\xF1"),  // 23 万象妙管家普通卡上机可以不输密码 否
        Row("\xC6\xC1\xB1\xCE\xCD\xF2\xCF\xF3\xC3\xEE\xB9\xDC\xBC\xD2\xB5\xC4\xBD\xE2\xCB\xF8\xB9\xA6\xC4"
            "\xDC",
            12, "\xB2\xBB\xC6\xC1\xB1\xCE"),  // 24 屏蔽万象妙管家的解锁功能 不屏蔽
        Row("\xCA\xC7\xB7\xF1\xD4\xCA\xD0\xED\xCA\xB9\xD3\xC3\xBF\xAA\xBF\xA8\xB9\xA6\xC4\xDC", 16,
            "\xD4\xCA\xD0\xED"),  // 25 是否允许使用开卡功能 允许
        Row("\xCA\xC7\xB7\xF1\xD7\xD4\xB6\xAF\xC9\xCF\xB4\xAB\xC9\xCF\xCF\xC2\xBB\xFA\xC8\xD5\xD6\xBE", 14,
            "\xB2\xBB\xD4\xCA\xD0\xED"),  // 26 是否自动上传上下机日志 不允许
        Row("\xBF\xC9\xCA\xB9\xD3\xC3\xB4\xCB\xC5\xE4\xD6\xC3\xB5\xC4\xB3\xC7\xCA\xD0\xB1\xE0\xBA\xC5", 14,
            "0"),  // 27 可使用此配置的城市编号 0
        Row("\xD5\xFD\xCA\xBD\xBF\xA8\xBF\xAA\xBF\xA8\xCA\xB1\xB1\xD8\xD0\xEB\xCA\xB9\xD3\xC3\xC9\xED\xB7\xDD"
            "\xD6\xA4",
            10, "\xB7\xF1"),  // 28 正式卡开卡时必须使用身份证 否
        Row("\xCA\xC7\xB7\xF1\xD4\xCA\xD0\xED\xBF\xEC\xCB\xD9\xCD\xA8\xB5\xC0", 20,
            "\xBD\xFB\xD6\xB9"),  // 29 是否允许快速通道 禁止
        Row("OEM\xB0\xE6\xC0\xE0\xD0\xCD", 27, "\xC9\xC2\xCE\xF7\xB0\xE6"),  // 30 OEM版类型 陕西版
        Row("\xC9\xCF\xBB\xFA\xC7\xBF\xD6\xC6\xB4\xF2\xBF\xAA\xB5\xC4\xCD\xF8\xD6\xB7", 18,
            ""),  // 31 上机强制打开的网址
        Row("\xD2\xD1\xD1\xA1\xD4\xF1\xB5\xC4\xD6\xA4\xBC\xFE\xC0\xE0\xD0\xCD\xD7\xDC\xCA\xFD", 16,
            "0"),  // 32 已选择的证件类型总数 0
        Row("\xD2\xD1\xD1\xA1\xD4\xF1\xB5\xC4\xD6\xA4\xBC\xFE\xC0\xE0\xD0\xCD", 20,
            ""),  // 33 已选择的证件类型
        Row("\xCA\xC7\xB7\xF1\xD3\xC9\xD6\xD0\xD0\xC4\xCF\xDE\xD6\xC6\xC1\xD9\xCA\xB1\xBF\xA8", 16,
            "\xB7\xF1"),  // 34 是否由中心限制临时卡 否
        Row("\xBF\xC9\xCA\xB9\xD3\xC3\xB5\xC4\xCD\xF8\xB0\xC9\xB9\xDC\xC0\xED\xCF\xB5\xCD\xB3", 13,
            ""),  // 35 可使用的网吧管理系统
        Row("\xCA\xC7\xBF\xC9\xD3\xC3\xD3\xC3\xD7\xD4\xB6\xAF\xC9\xFD\xBC\xB6", 20,
            "\xBF\xC9\xD3\xC3"),  // 36 是可用用自动升级 可用
        Row("\xB3\xF5\xCA\xBC\xBB\xAF\xB1\xEA\xD6\xBE\xCE\xBB", 24, "\xCA\xC7"),  // 37 初始化标志位 是
        Row("        "
            "\xB6\xFE\xB4\xFA\xD6\xA4\xB5\xE7\xD7\xD3\xBB\xAF\xB5\xC4\xD3\xD0\xB9\xD8\xB2\xCE\xCA\xFD\xC5\xE4"
            "\xD6\xC3:",
            2, ""),  // 38         二代证电子化的有关参数配置:
        Row("\xCA\xC7\xB7\xF1\xD4\xCA\xD0\xED\xB2\xBB\xB7\xC3\xCE\xCA\xB1\xBE\xB5\xD8UKEY\xBD\xF8\xD0\xD0\xB5"
            "\xC7\xBC\xC7\xBB\xF2\xC9\xCF\xCD\xF8",
            4, "\xB1\xD8\xD0\xEB\xB5\xF7\xD3\xC3"),  // 39 是否允许不访问本地UKEY进行登记或上网 必须调用
        Row("\xC4\xAC\xC8\xCF\xCA\xD5\xB7\xD1\xC4\xA3\xCA\xBD", 24,
            "\xB0\xB4\xD1\xE9\xD6\xA4\xC2\xEB\xCA\xD5\xB7\xD1"),   // 40 默认收费模式 按验证码收费
        Row("\xB5\xC7\xBC\xC7\xD3\xD0\xD0\xA7\xC6\xDA", 26, "0"),  // 41 登记有效期 0
        Row("\xCA\xD5\xB7\xD1\xB2\xBB\xB3\xC9\xB9\xA6\xB4\xCE\xCA\xFD\xB7\xA7\xD6\xB5", 18,
            "0"),  // 42 收费不成功次数阀值 0
        Row("\xB5\xC7\xBC\xC7\xD7\xCA\xC1\xCF\xB2\xE9\xD1\xAF\xD3\xC5\xCF\xC8\xBC\xB6", 18,
            "\xB1\xBE\xB5\xD8\xD3\xC5\xCF\xC8"),  // 43 登记资料查询优先级 本地优先
        Row("\xCE\xDE\xB7\xA8\xC1\xAC\xBD\xD3\xD6\xD0\xD0\xC4\xC7\xD2\xB1\xBE\xB5\xD8\xB2\xE9\xD1\xAF\xB2\xBB"
            "\xB5\xBD\xB5\xC7\xBC\xC7\xD7\xCA\xC1\xCF\xCA\xB1\xCA\xC7\xB7\xF1\xBC\xC6\xB7\xD1",
            24, "\xB2\xBB\xBC\xC6\xB7\xD1"),  // 44 无法连接中心且本地查询不到登记资料时是否计费 不计费
        Row("\xB0\xB4\xB4\xCE\xBC\xC6\xB7\xD1\xCA\xB1\xB6\xD4ID\xBF\xA8\xC9\xCF\xBB\xFA\xCA\xB1\xCA\xC7\xB7"
            "\xF1\xBC\xC6\xB7\xD1",
            8, "\xB2\xBB\xBC\xC6\xB7\xD1"),  // 45 按次计费时对ID卡上机时是否计费 不计费
        Row("\xB0\xB4\xB4\xCE\xBC\xC6\xB7\xD1\xCA\xB1\xB6\xD4IC\xBF\xA8\xC9\xCF\xBB\xFA\xCA\xB1\xCA\xC7\xB7"
            "\xF1\xBC\xC6\xB7\xD1",
            8, "\xB2\xBB\xBC\xC6\xB7\xD1"),  // 46 按次计费时对IC卡上机时是否计费 不计费
        Row("\xB0\xB4\xB4\xCE\xBC\xC6\xB7\xD1\xCA\xB1\xB6\xD4\xB6\xFE\xB4\xFA\xD6\xA4\xC9\xCF\xBB\xFA\xCA\xB1"
            "\xCA\xC7\xB7\xF1\xBC\xC6\xB7\xD1",
            6, "\xB2\xBB\xBC\xC6\xB7\xD1"),  // 47 按次计费时对二代证上机时是否计费 不计费
    };
}

std::string Joined(const std::vector<std::string>& lines) {
    std::string text;
    for (const std::string& line : lines) text += line;
    return text;
}

class SettingsReportTest : public ::testing::Test {
protected:
    void SetUp() override {
        config_ = std::make_unique<CVersionConfig>(env.ScratchFile("report.cfg").c_str(), FALSE);
    }

    VersionConfigRecord& Record() { return kavex::settings::SharedView()->record; }

    // The report written now: its lines before the time line, which is checked here.
    std::string Report() {
        const std::string path = env.ScratchFile("report.txt");
        const std::time_t before = std::time(nullptr);
        EXPECT_TRUE(WriteSettingsReport(path.c_str()));
        const std::time_t after = std::time(nullptr);
        const std::string bytes = ReadBytes(path);
        const std::size_t last = bytes.rfind("\r\n", bytes.size() - 3);
        const std::string timeLine = last == std::string::npos ? std::string() : bytes.substr(last + 2);
        bool matches = false;
        for (std::time_t moment = before; moment <= after && !matches; ++moment) {
            std::tm local{};
            EXPECT_TRUE(kavex::settings::LocalTimeOf(moment, &local));
            char expected[64];
            std::snprintf(expected, sizeof expected,
                          "\xC9\xE8\xD6\xC3\xCA\xB1\xBC\xE4\xA3\xBA%04d-%02d-%02d %02d:%02d:%02d\r\n",
                          local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min,
                          local.tm_sec);
            matches = timeLine == expected;
        }
        EXPECT_TRUE(matches) << "time line: " << timeLine;
        return bytes.substr(0, last + 2);
    }

    SettingsEnvironment env;
    std::unique_ptr<CVersionConfig> config_;
};

TEST_F(SettingsReportTest, AFreshViewGivesTheDefaultReport) { EXPECT_EQ(Report(), Joined(DefaultLines())); }

TEST_F(SettingsReportTest, RowsShowTheirFieldsInTheirOwnWords) {
    std::vector<std::string> lines = DefaultLines();
    Record().CardIssueDenied = 1;
    lines[24] = Row("\xCA\xC7\xB7\xF1\xD4\xCA\xD0\xED\xCA\xB9\xD3\xC3\xBF\xAA\xBF\xA8\xB9\xA6\xC4\xDC", 16,
                    "\xB2\xBB\xD4\xCA\xD0\xED");  // 不允许: the reverse of the other allow rows
    Record().FastChannel = 1;
    lines[28] = Row("\xCA\xC7\xB7\xF1\xD4\xCA\xD0\xED\xBF\xEC\xCB\xD9\xCD\xA8\xB5\xC0", 20,
                    "\xD4\xCA\xD0\xED");                                             // 允许
    lines[29] = Row("OEM\xB0\xE6\xC0\xE0\xD0\xCD", 27, "\xB1\xEA\xD7\xBC\xB0\xE6");  // 标准版
    Record().CafeSystems = 0x0203;
    lines[34] = Row("\xBF\xC9\xCA\xB9\xD3\xC3\xB5\xC4\xCD\xF8\xB0\xC9\xB9\xDC\xC0\xED\xCF\xB5\xCD\xB3", 13,
                    "\xCD\xF2\xCF\xF3"
                    "2004  \xCD\xF2\xCF\xF3\xC3\xEE\xB9\xDC\xBC\xD2  \xCD\xF2\xCF\xF3"
                    "2006  ");
    Record().IdTypeCount = 2;
    std::strcpy(Record().IdTypes[0], "\xC9\xED\xB7\xDD\xD6\xA4");  // 身份证
    std::strcpy(Record().IdTypes[1], "B");
    std::strcpy(Record().IdTypes[2], "C");
    lines[31] =
        Row("\xD2\xD1\xD1\xA1\xD4\xF1\xB5\xC4\xD6\xA4\xBC\xFE\xC0\xE0\xD0\xCD\xD7\xDC\xCA\xFD", 16, "2");
    lines[32] = Row("\xD2\xD1\xD1\xA1\xD4\xF1\xB5\xC4\xD6\xA4\xBC\xFE\xC0\xE0\xD0\xCD", 20,
                    "\xC9\xED\xB7\xDD\xD6\xA4  B  ");
    Record().VersionNumber = -3;
    lines[1] = Row("\xB0\xE6\xB1\xBE\xBA\xC5", 30, "-3");
    Record().CityCode = 65535;
    lines[26] =
        Row("\xBF\xC9\xCA\xB9\xD3\xC3\xB4\xCB\xC5\xE4\xD6\xC3\xB5\xC4\xB3\xC7\xCA\xD0\xB1\xE0\xBA\xC5", 14,
            "65535");
    Record().RegistrationValidity = 255;
    lines[40] = Row("\xB5\xC7\xBC\xC7\xD3\xD0\xD0\xA7\xC6\xDA", 26, "255");
    EXPECT_EQ(Report(), Joined(lines));
}

TEST_F(SettingsReportTest, ChoiceRowsCarryTheChoiceBeforeThem) {
    // Lines 39, 40, 43, 44, 45, 46, 47 (indexes 38, 39, 42 .. 46).
    const std::string labels[] = {
        "\xCA\xC7\xB7\xF1\xD4\xCA\xD0\xED\xB2\xBB\xB7\xC3\xCE\xCA\xB1\xBE\xB5\xD8UKEY\xBD\xF8\xD0\xD0\xB5\xC7"
        "\xBC\xC7\xBB\xF2\xC9\xCF\xCD\xF8",
        "\xC4\xAC\xC8\xCF\xCA\xD5\xB7\xD1\xC4\xA3\xCA\xBD",
        "\xB5\xC7\xBC\xC7\xD7\xCA\xC1\xCF\xB2\xE9\xD1\xAF\xD3\xC5\xCF\xC8\xBC\xB6",
        "\xCE\xDE\xB7\xA8\xC1\xAC\xBD\xD3\xD6\xD0\xD0\xC4\xC7\xD2\xB1\xBE\xB5\xD8\xB2\xE9\xD1\xAF\xB2\xBB\xB5"
        "\xBD\xB5\xC7\xBC\xC7\xD7\xCA\xC1\xCF\xCA\xB1\xCA\xC7\xB7\xF1\xBC\xC6\xB7\xD1",
        "\xB0\xB4\xB4\xCE\xBC\xC6\xB7\xD1\xCA\xB1\xB6\xD4ID\xBF\xA8\xC9\xCF\xBB\xFA\xCA\xB1\xCA\xC7\xB7\xF1"
        "\xBC\xC6\xB7\xD1",
        "\xB0\xB4\xB4\xCE\xBC\xC6\xB7\xD1\xCA\xB1\xB6\xD4IC\xBF\xA8\xC9\xCF\xBB\xFA\xCA\xB1\xCA\xC7\xB7\xF1"
        "\xBC\xC6\xB7\xD1",
        "\xB0\xB4\xB4\xCE\xBC\xC6\xB7\xD1\xCA\xB1\xB6\xD4\xB6\xFE\xB4\xFA\xD6\xA4\xC9\xCF\xBB\xFA\xCA\xB1\xCA"
        "\xC7\xB7\xF1\xBC\xC6\xB7\xD1"};
    const int spaces[] = {4, 24, 18, 24, 8, 8, 6};
    const int indexes[] = {38, 39, 42, 43, 44, 45, 46};
    const std::string first[] = {"\xD4\xCA\xD0\xED",
                                 "\xB0\xB4\xB4\xCE\xCA\xD5\xB7\xD1",
                                 "\xD6\xD0\xD0\xC4\xD3\xC5\xCF\xC8",
                                 "\xBC\xC6\xB7\xD1",
                                 "\xBC\xC6\xB7\xD1",
                                 "\xBC\xC6\xB7\xD1",
                                 "\xBC\xC6\xB7\xD1"};
    const std::string second[] = {
        "\xB1\xD8\xD0\xEB\xB5\xF7\xD3\xC3", "\xB0\xB4\xD1\xE9\xD6\xA4\xC2\xEB\xCA\xD5\xB7\xD1",
        "\xB1\xBE\xB5\xD8\xD3\xC5\xCF\xC8", "\xB2\xBB\xBC\xC6\xB7\xD1",
        "\xB2\xBB\xBC\xC6\xB7\xD1",         "\xB2\xBB\xBC\xC6\xB7\xD1",
        "\xB2\xBB\xBC\xC6\xB7\xD1"};
    std::uint8_t* fields[] = {&Record().UkeyOptional,      &Record().ChargeMode,   &Record().QueryPriority,
                              &Record().ChargeWhenOffline, &Record().ChargeIdCard, &Record().ChargeIcCard,
                              &Record().ChargeSecondGenId};
    struct Case {
        std::vector<int> values;
        std::vector<bool> shownFirst;
    };
    const Case cases[] = {
        {{0, 1, 0, 0, 2, 0, 0}, {false, true, true, true, false, false, false}},
        {{1, 0, 0, 0, 0, 0, 0}, {true, true, true, true, true, true, true}},
        {{0, 0, 0, 0, 0, 0, 0}, {false, false, false, false, false, false, false}},
        {{7, 1, 9, 2, 0, 1, 200}, {false, true, true, false, false, true, true}},
    };
    for (const Case& c : cases) {
        std::vector<std::string> lines = DefaultLines();
        for (int k = 0; k < 7; ++k) {
            *fields[k] = static_cast<std::uint8_t>(c.values[k]);
            lines[indexes[k]] = Row(labels[k], spaces[k], c.shownFirst[k] ? first[k] : second[k]);
        }
        EXPECT_EQ(Report(), Joined(lines)) << "choices " << c.values[0] << c.values[1] << c.values[2];
    }
}

TEST_F(SettingsReportTest, ValuesTheRecordCannotHoldStayWithinTheirFields) {
    std::vector<std::string> lines = DefaultLines();
    std::memset(Record().Remark, 'r', sizeof Record().Remark);  // no terminator
    lines[20] = Row("\xB1\xB8\xD7\xA2", 32, std::string(101, 'r'));
    Record().IdTypeCount = 12;
    for (int k = 0; k < 10; ++k) std::memset(Record().IdTypes[k], 'a' + k, 10);
    lines[31] =
        Row("\xD2\xD1\xD1\xA1\xD4\xF1\xB5\xC4\xD6\xA4\xBC\xFE\xC0\xE0\xD0\xCD\xD7\xDC\xCA\xFD", 16, "12");
    std::string types;
    for (int k = 0; k < 10; ++k) types += std::string(10, static_cast<char>('a' + k)) + "  ";
    lines[32] = Row("\xD2\xD1\xD1\xA1\xD4\xF1\xB5\xC4\xD6\xA4\xBC\xFE\xC0\xE0\xD0\xCD", 20, types);
    Record().CafeSystems = 0x0180 | 0x4000 | 0x8000;  // bits without a name
    EXPECT_EQ(Report(), Joined(lines));
}

TEST_F(SettingsReportTest, AReportReplacesWhatTheFileHeld) {
    const std::string path = env.ScratchFile("report.txt");
    kavex::test::WriteBytes(path, std::string(20000, '#'));
    const std::string report = Report();
    EXPECT_EQ(report.find('#'), std::string::npos);
    EXPECT_LT(ReadBytes(path).size(), 3000u);
    EXPECT_FALSE(WriteSettingsReport(env.Scratch().c_str()));  // a directory
    EXPECT_FALSE(WriteSettingsReport(nullptr));
    EXPECT_FALSE(WriteSettingsReport(env.ScratchFile("no/such/directory/r.txt").c_str()));
}

// The report breaks the time down with the thread-safe conversion: the C
// library's one shared result (that of std::gmtime and std::localtime),
// which another thread may be reading, is left alone.
TEST_F(SettingsReportTest, TheTimeLineLeavesTheSharedTimeResultAlone) {
    const std::time_t epoch = 0;
    const std::tm* shared = std::gmtime(&epoch);
    ASSERT_NE(shared, nullptr);
    const std::tm before = *shared;
    EXPECT_TRUE(WriteSettingsReport(env.ScratchFile("report.txt").c_str()));
    EXPECT_EQ(shared->tm_year, before.tm_year);
    EXPECT_EQ(shared->tm_mday, before.tm_mday);
    EXPECT_EQ(shared->tm_hour, before.tm_hour);
    EXPECT_EQ(shared->tm_sec, before.tm_sec);
}

TEST_F(SettingsReportTest, CafeSystemNames) {
    std::string name;
    Record().CafeSystem = 8;
    EXPECT_TRUE(GetCafeSystemName(name));
    EXPECT_EQ(name, "Tavrel Quorelink");
    Record().CafeSystem = 512;
    EXPECT_TRUE(GetCafeSystemName(name));
    EXPECT_EQ(name,
              "\xBC\xAA\xCA\xA4 \xCD\xF2\xCF\xF3"
              "2006");
    Record().CafeSystem = 32768;
    EXPECT_TRUE(GetCafeSystemName(name));
    EXPECT_EQ(name, "\xC2\xF5\xB5\xC2");
    for (const std::uint16_t unnamed : {0, 14, 15, 17, 100, 65535}) {
        Record().CafeSystem = unnamed;
        name = "kept?";
        EXPECT_FALSE(GetCafeSystemName(name)) << unnamed;
        EXPECT_EQ(name, "\xCE\xB4\xD6\xB8\xB6\xA8") << unnamed;  // 未指定
    }
}

TEST(SettingsReportWithoutViewTest, WritesNothing) {
    SettingsEnvironment env;
    const std::string path = env.ScratchFile("report.txt");
    EXPECT_FALSE(WriteSettingsReport(path.c_str()));
    EXPECT_FALSE(kavex::test::FileExists(path));
    std::string name;
    EXPECT_FALSE(GetCafeSystemName(name));
    EXPECT_EQ(name, "\xCE\xB4\xD6\xB8\xB6\xA8");
}

}  // namespace
