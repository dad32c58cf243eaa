#include "settings/version_fields.h"

#include <cstring>

namespace kavex::settings {

const char kYesText[] = "\xCA\xC7";  // 是
const char kNoText[] = "\xB7\xF1";   // 否

namespace {

// Value texts of the report (GBK).
constexpr char kBlocked[] = "\xC6\xC1\xB1\xCE";                                  // 屏蔽
constexpr char kNotBlocked[] = "\xB2\xBB\xC6\xC1\xB1\xCE";                       // 不屏蔽
constexpr char kAllowed[] = "\xD4\xCA\xD0\xED";                                  // 允许
constexpr char kNotAllowed[] = "\xB2\xBB\xD4\xCA\xD0\xED";                       // 不允许
constexpr char kForbidden[] = "\xBD\xFB\xD6\xB9";                                // 禁止
constexpr char kStandardEdition[] = "\xB1\xEA\xD7\xBC\xB0\xE6";                  // 标准版
constexpr char kShaanxiEdition[] = "\xC9\xC2\xCE\xF7\xB0\xE6";                   // 陕西版
constexpr char kAvailable[] = "\xBF\xC9\xD3\xC3";                                // 可用
constexpr char kUnavailable[] = "\xB2\xBB\xBF\xC9\xD3\xC3";                      // 不可用
constexpr char kMustCall[] = "\xB1\xD8\xD0\xEB\xB5\xF7\xD3\xC3";                 // 必须调用
constexpr char kPerVisit[] = "\xB0\xB4\xB4\xCE\xCA\xD5\xB7\xD1";                 // 按次收费
constexpr char kPerCode[] = "\xB0\xB4\xD1\xE9\xD6\xA4\xC2\xEB\xCA\xD5\xB7\xD1";  // 按验证码收费
constexpr char kCentreFirst[] = "\xD6\xD0\xD0\xC4\xD3\xC5\xCF\xC8";              // 中心优先
constexpr char kLocalFirst[] = "\xB1\xBE\xB5\xD8\xD3\xC5\xCF\xC8";               // 本地优先
constexpr char kCharge[] = "\xBC\xC6\xB7\xD1";                                   // 计费
constexpr char kNoCharge[] = "\xB2\xBB\xBC\xC6\xB7\xD1";                         // 不计费

// Where a fresh view fetches the provinces' and cities' centre addresses.
constexpr char kDefaultRemoteIpFilePath[] = "http://ipcfg.qelcorp.example/zoru/shencityipcfg.cfg";

constexpr ReportRow kNoRow{0, nullptr, 0, ReportStyle::kNone, nullptr, nullptr};

constexpr ReportRow Row(int line, const char* label, int spaces, ReportStyle style) {
    return {line, label, spaces, style, nullptr, nullptr};
}
constexpr ReportRow YesNo(int line, const char* label, int spaces) {
    return {line, label, spaces, ReportStyle::kWords, kYesText, kNoText};
}
constexpr ReportRow Words(int line, const char* label, int spaces, const char* whenSet,
                          const char* whenClear) {
    return {line, label, spaces, ReportStyle::kWords, whenSet, whenClear};
}
constexpr ReportRow Choice(int line, const char* label, int spaces, const char* first, const char* second) {
    return {line, label, spaces, ReportStyle::kChoice, first, second};
}

// The name, offset and width of a member: the first three values of a row.
#define KAVEX_AT(member) #member, offsetof(VersionConfigRecord, member), sizeof(VersionConfigRecord::member)

constexpr VersionField Field(const char* name, std::size_t offset, std::size_t width, FieldType type,
                             int position, std::uint32_t defaultValue = 0, ReportRow report = kNoRow,
                             ReportRow secondReport = kNoRow) {
    return {name, offset, width, type, position, defaultValue, nullptr, report, secondReport};
}
constexpr VersionField Text(const char* name, std::size_t offset, std::size_t width, int position,
                            const char* defaultText = nullptr, ReportRow report = kNoRow) {
    return {name, offset, width, FieldType::kText, position, 0, defaultText, report, kNoRow};
}
constexpr VersionField Byte(const char* name, std::size_t offset, std::size_t width, int position) {
    return Field(name, offset, width, FieldType::kUInt8, position);
}
constexpr VersionField Number(const char* name, std::size_t offset, std::size_t width, int position) {
    return Field(name, offset, width, FieldType::kInt32, position);
}

const VersionField kFields[] = {
    Field(KAVEX_AT(VersionNumber), FieldType::kInt32, 1, 29,
          Row(2, "\xB0\xE6\xB1\xBE\xBA\xC5", 30, ReportStyle::kDecimal)),  // 版本号
    Field(KAVEX_AT(QuorelinkEdition), FieldType::kInt32, 2, 0,
          YesNo(3, "QUORELINK\xB0\xE6", 25)),  // QUORELINK版
    Field(KAVEX_AT(WithProvinceCentre), FieldType::kInt32, 3, 0,
          YesNo(4, "\xCA\xC7\xB7\xF1\xB4\xF8\xCA\xA1\xD6\xD0\xD0\xC4", 24)),  // 是否带省中心
    Field(KAVEX_AT(WithIssuedCardInfo), FieldType::kInt32, 4, 0,
          YesNo(5, "\xCA\xC7\xB7\xF1\xB4\xF8\xD2\xD1\xBF\xAA\xBF\xA8\xD0\xC5\xCF\xA2",
                20)),  // 是否带已开卡信息
    Field(KAVEX_AT(AllowTempCard), FieldType::kInt32, 5, 0,
          YesNo(6, "\xCA\xC7\xB7\xF1\xD4\xCA\xD0\xED\xBF\xAA\xC1\xD9\xCA\xB1\xBF\xA8",
                20)),  // 是否允许开临时卡
    Field(KAVEX_AT(LimitMinorIssue), FieldType::kInt32, 6, 0,
          YesNo(7, "\xCA\xC7\xB7\xF1\xCF\xDE\xD6\xC6\xCE\xB4\xB3\xC9\xC4\xEA\xBF\xAA\xBF\xA8",
                18)),  // 是否限制未成年开卡
    Field(KAVEX_AT(LimitMinorLogon), FieldType::kInt32, 7, 0,
          YesNo(8, "\xCA\xC7\xB7\xF1\xCF\xDE\xD6\xC6\xCE\xB4\xB3\xC9\xC4\xEA\xCB\xA2\xBF\xA8\xC9\xCF\xBB\xFA",
                14)),  // 是否限制未成年刷卡上机
    Field(KAVEX_AT(CityMissToProvince), FieldType::kInt32, 9, 0,
          YesNo(10,
                "\xCA\xD0\xD6\xD0\xD0\xC4\xB2\xE9\xB2\xBB\xB5\xBD\xB5\xC4\xBF\xA8\xCA\xC7\xB7\xF1\xB5\xBD\xCA"
                "\xA1\xD6\xD0\xD0\xC4\xD1\xE9\xD6\xA4",
                4)),  // 市中心查不到的卡是否到省中心验证
    Field(KAVEX_AT(RequireNet110), FieldType::kInt32, 10, 0,
          YesNo(11, "\xB1\xD8\xD0\xEB\xB0\xB2\xD7\xB0\xC1\xCBNET110\xB2\xC5\xBF\xC9\xD2\xD4\xCA\xB9\xD3\xC3",
                10)),  // 必须安装了NET110才可以使用
    Field(KAVEX_AT(CheckName), FieldType::kInt32, 11, 1,
          YesNo(12,
                "\xBF\xAA\xBF\xA8\xCA\xB1\xB6\xD4\xD0\xD5\xC3\xFB\xB5\xC4\xBA\xCF\xB7\xA8\xBD\xF8\xD0\xD0\xD1"
                "\xE9\xD6\xA4",
                10)),  // 开卡时对姓名的合法进行验证
    Field(KAVEX_AT(CheckIdValidity), FieldType::kInt32, 12, 1,
          YesNo(13, "\xD1\xE9\xD6\xA4\xD6\xA4\xBC\xFE\xB5\xC4\xD3\xD0\xD0\xA7\xD0\xD4",
                20)),  // 验证证件的有效性
    Field(KAVEX_AT(Rc4Packets), FieldType::kInt32, 13, 0,
          YesNo(14, "\xBC\xD3\xC3\xDC\xB0\xFC\xCA\xB9\xD3\xC3RC4\xD7\xF7\xBC\xD3\xC3\xDC\xCB\xE3\xB7\xA8",
                13)),  // 加密包使用RC4作加密算法
    Field(KAVEX_AT(EncryptLocalFiles), FieldType::kInt32, 14, 0,
          YesNo(15,
                "\xB1\xBE\xB5\xD8\xCA\xFD\xBE\xDD\xBF\xE2\xCE\xC4\xBC\xFE\xA1\xA2\xC5\xE4\xD6\xC3\xD0\xC5\xCF"
                "\xA2\xCE\xC4\xBC\xFE\xBC\xD3\xC3\xDC",
                4)),  // 本地数据库文件、配置信息文件加密
    Field(KAVEX_AT(IdTypes), FieldType::kIdTypes, 0, 0,
          Row(33, "\xD2\xD1\xD1\xA1\xD4\xF1\xB5\xC4\xD6\xA4\xBC\xFE\xC0\xE0\xD0\xCD", 20,
              ReportStyle::kIdTypeList)),  // 已选择的证件类型
    Field(KAVEX_AT(IdTypeCount), FieldType::kInt32, 15, 0,
          Row(32, "\xD2\xD1\xD1\xA1\xD4\xF1\xB5\xC4\xD6\xA4\xBC\xFE\xC0\xE0\xD0\xCD\xD7\xDC\xCA\xFD", 16,
              ReportStyle::kDecimal)),  // 已选择的证件类型总数
    Field(KAVEX_AT(Broadband), FieldType::kInt32, 16, 0,
          YesNo(16, "\xCA\xC7\xB7\xF1\xCA\xC7\xBF\xED\xB4\xF8\xB0\xE6\xB1\xBE", 22)),  // 是否是宽带版本
    Field(
        KAVEX_AT(FetchRemoteIpFile), FieldType::kInt32, 17, 0,
        YesNo(17,
              "\xCA\xC7\xB7\xF1\xB5\xBD\xD4\xB6\xB3\xCC\xB7\xFE\xCE\xF1\xC6\xF7\xC9\xCF\xBB\xF1\xC8\xA1IP\xB5"
              "\xD8\xD6\xB7",
              8)),  // 是否到远程服务器上获取IP地址
    Text(KAVEX_AT(RemoteIpFilePath), 18, kDefaultRemoteIpFilePath,
         Row(18,
             "\xD4\xB6\xB3\xCC\xCA\xA1\xCA\xD0IP\xB5\xD8\xD6\xB7\xCE\xC4\xBC\xFE\xB4\xE6\xB7\xC5\xC2"
             "\xB7\xBE\xB6",
             10, ReportStyle::kText)),  // 远程省市IP地址文件存放路径
    Field(KAVEX_AT(MaxCentreFailures), FieldType::kInt32, 19, 30,
          Row(19, "\xD7\xEE\xB4\xF3\xC1\xAC\xBD\xD3\xD6\xD0\xD0\xC4\xCA\xA7\xB0\xDC\xCA\xFD", 18,
              ReportStyle::kDecimal)),  // 最大连接中心失败数
    Field(
        KAVEX_AT(MachineReportInterval), FieldType::kInt32, 20, 900,
        Row(20,
            "\xB7\xA2\xCB\xCD\xBB\xFA\xC6\xF7\xCA\xFD\xD0\xC5\xCF\xA2\xD6\xC1\xD6\xD0\xD0\xC4\xBC\xE4\xB8\xF4"
            "\xCA\xB1\xBC\xE4(\xC3\xEB)",
            4, ReportStyle::kDecimal)),  // 发送机器数信息至中心间隔时间(秒)
    Text(KAVEX_AT(Remark), 21, nullptr, Row(21, "\xB1\xB8\xD7\xA2", 32, ReportStyle::kText)),  // 备注
    Field(KAVEX_AT(InitFlag), FieldType::kInt32, 36, 1,
          YesNo(37, "\xB3\xF5\xCA\xBC\xBB\xAF\xB1\xEA\xD6\xBE\xCE\xBB", 24)),  // 初始化标志位
    Field(KAVEX_AT(MinorAgeLimit), FieldType::kInt32, 8, 0,
          Row(9, "\xCE\xB4\xB3\xC9\xC4\xEA\xC8\xCB\xC9\xCF\xCF\xDE\xC4\xEA\xC1\xE4", 20,
              ReportStyle::kDecimal)),  // 未成年人上限年龄
    Text(KAVEX_AT(Region), 22, nullptr,
         Row(22, "\xB7\xA2\xCD\xF9\xB5\xD8\xC7\xF8", 28, ReportStyle::kText)),  // 发往地区
    Field(KAVEX_AT(NoPasswordLogon), FieldType::kUInt8, 23, 0,
          YesNo(23,
                "\xCD\xF2\xCF\xF3\xC3\xEE\xB9\xDC\xBC\xD2\xC6\xD5\xCD\xA8\xBF\xA8\xC9\xCF\xBB\xFA\xBF\xC9\xD2"
                "\xD4\xB2\xBB\xCA\xE4\xC3\xDC\xC2\xEB",
                4)),  // 万象妙管家普通卡上机可以不输密码
    Field(KAVEX_AT(BlockUnlock), FieldType::kUInt8, 24, 0,
          Words(24,
                "\xC6\xC1\xB1\xCE\xCD\xF2\xCF\xF3\xC3\xEE\xB9\xDC\xBC\xD2\xB5\xC4\xBD\xE2\xCB\xF8\xB9\xA6\xC4"
                "\xDC",
                12, kBlocked, kNotBlocked)),  // 屏蔽万象妙管家的解锁功能
    Text(KAVEX_AT(ForcedUrl), 25, nullptr,
         Row(31, "\xC9\xCF\xBB\xFA\xC7\xBF\xD6\xC6\xB4\xF2\xBF\xAA\xB5\xC4\xCD\xF8\xD6\xB7", 18,
             ReportStyle::kText)),  // 上机强制打开的网址
    Field(KAVEX_AT(CafeSystems), FieldType::kUInt16, 26, 0,
          Row(35, "\xBF\xC9\xCA\xB9\xD3\xC3\xB5\xC4\xCD\xF8\xB0\xC9\xB9\xDC\xC0\xED\xCF\xB5\xCD\xB3", 13,
              ReportStyle::kCafeSystemList)),  // 可使用的网吧管理系统
    Field(KAVEX_AT(AutoUpgrade), FieldType::kUInt8, 27, 1,
          Words(36, "\xCA\xC7\xBF\xC9\xD3\xC3\xD3\xC3\xD7\xD4\xB6\xAF\xC9\xFD\xBC\xB6", 20, kAvailable,
                kUnavailable)),  // 是可用用自动升级
    Byte(KAVEX_AT(Byte440), 28),
    Byte(KAVEX_AT(VersionByte), 29),
    Field(KAVEX_AT(CardIssueDenied), FieldType::kUInt8, 30, 0,
          Words(25, "\xCA\xC7\xB7\xF1\xD4\xCA\xD0\xED\xCA\xB9\xD3\xC3\xBF\xAA\xBF\xA8\xB9\xA6\xC4\xDC", 16,
                kNotAllowed, kAllowed)),  // 是否允许使用开卡功能
    Field(
        KAVEX_AT(AutoUploadLogs), FieldType::kUInt8, 31, 0,
        Words(26, "\xCA\xC7\xB7\xF1\xD7\xD4\xB6\xAF\xC9\xCF\xB4\xAB\xC9\xCF\xCF\xC2\xBB\xFA\xC8\xD5\xD6\xBE",
              14, kAllowed, kNotAllowed)),  // 是否自动上传上下机日志
    Field(KAVEX_AT(CityCode), FieldType::kUInt16, 32, 0,
          Row(27, "\xBF\xC9\xCA\xB9\xD3\xC3\xB4\xCB\xC5\xE4\xD6\xC3\xB5\xC4\xB3\xC7\xCA\xD0\xB1\xE0\xBA\xC5",
              14,
              ReportStyle::kUnsigned)),  // 可使用此配置的城市编号
    Field(KAVEX_AT(FormalCardNeedsIdCard), FieldType::kUInt8, 33, 0,
          YesNo(28,
                "\xD5\xFD\xCA\xBD\xBF\xA8\xBF\xAA\xBF\xA8\xCA\xB1\xB1\xD8\xD0\xEB\xCA\xB9\xD3\xC3\xC9\xED\xB7"
                "\xDD\xD6\xA4",
                10)),  // 正式卡开卡时必须使用身份证
    Field(KAVEX_AT(FastChannel), FieldType::kUInt8, 34, 0,
          Words(29, "\xCA\xC7\xB7\xF1\xD4\xCA\xD0\xED\xBF\xEC\xCB\xD9\xCD\xA8\xB5\xC0", 20, kAllowed,
                kForbidden),  // 是否允许快速通道
          Words(30, "OEM\xB0\xE6\xC0\xE0\xD0\xCD", 27, kStandardEdition, kShaanxiEdition)),  // OEM版类型
    Byte(KAVEX_AT(Byte448), 35),
    Byte(KAVEX_AT(Byte449), 37),
    Byte(KAVEX_AT(Byte450), 38),
    Byte(KAVEX_AT(Byte451), 39),
    Byte(KAVEX_AT(Byte452), 40),
    Byte(KAVEX_AT(Byte453), 41),
    Byte(KAVEX_AT(Byte454), 42),
    Byte(KAVEX_AT(Byte455), 43),
    Byte(KAVEX_AT(Byte456), 44),
    Byte(KAVEX_AT(Byte457), 45),
    Byte(KAVEX_AT(Byte458), 46),
    Byte(KAVEX_AT(Byte459), 47),
    Byte(KAVEX_AT(Byte460), 48),
    Byte(KAVEX_AT(Byte461), 49),
    Field(KAVEX_AT(CentreLimitsTempCard), FieldType::kUInt8, 51, 0,
          YesNo(34, "\xCA\xC7\xB7\xF1\xD3\xC9\xD6\xD0\xD0\xC4\xCF\xDE\xD6\xC6\xC1\xD9\xCA\xB1\xBF\xA8",
                16)),  // 是否由中心限制临时卡
    Byte(KAVEX_AT(Byte463), 52),
    Field(KAVEX_AT(CafeSystem), FieldType::kUInt16, 0),
    Byte(KAVEX_AT(Byte466), 53),
    Byte(KAVEX_AT(Byte467), 54),
    Byte(KAVEX_AT(Byte468), 55),
    Byte(KAVEX_AT(Byte469), 56),
    Byte(KAVEX_AT(Byte470), 57),
    Byte(KAVEX_AT(Byte471), 58),
    Byte(KAVEX_AT(Byte472), 59),
    Text(KAVEX_AT(Text473), 50),
    Byte(KAVEX_AT(Byte488), 60),
    Byte(KAVEX_AT(Byte489), 61),
    Byte(KAVEX_AT(Byte490), 62),
    Byte(KAVEX_AT(Byte491), 63),
    Number(KAVEX_AT(IpPort), 64),
    Field(KAVEX_AT(IpAddress), FieldType::kIpAddress, 65),
    Byte(KAVEX_AT(Byte500), 66),
    Byte(KAVEX_AT(Byte501), 67),
    Field(KAVEX_AT(Short502), FieldType::kUInt16, 68),
    Field(KAVEX_AT(Short504), FieldType::kUInt16, 69),
    Byte(KAVEX_AT(Byte506), 70),
    Byte(KAVEX_AT(Byte507), 71),
    Byte(KAVEX_AT(Byte508), 72),
    Byte(KAVEX_AT(Byte509), 73),
    Number(KAVEX_AT(Number510), 74),
    Byte(KAVEX_AT(Byte514), 75),
    Byte(KAVEX_AT(Byte515), 76),
    Byte(KAVEX_AT(Byte516), 77),
    Byte(KAVEX_AT(Byte517), 78),
    Field(KAVEX_AT(Block518), FieldType::kBlock, 79),
    Field(KAVEX_AT(Block549), FieldType::kBlock, 80),
    Field(KAVEX_AT(Block580), FieldType::kBlock, 81),
    Number(KAVEX_AT(Number611), 82),
    Byte(KAVEX_AT(Byte615), 83),
    Byte(KAVEX_AT(Byte616), 84),
    Field(KAVEX_AT(Block617), FieldType::kBlock, 85),
    Byte(KAVEX_AT(Byte636), 86),
    Byte(KAVEX_AT(Byte637), 87),
    Number(KAVEX_AT(Number638), 88),
    Byte(KAVEX_AT(Byte642), 89),
    Field(KAVEX_AT(Short643), FieldType::kUInt16, 90),
    Byte(KAVEX_AT(Byte645), 91),
    Number(KAVEX_AT(Number646), 0),
    Byte(KAVEX_AT(Byte650), 92),
    Byte(KAVEX_AT(Byte651), 93),
    Number(KAVEX_AT(Number652), 94),
    Byte(KAVEX_AT(Byte656), 95),
    Byte(KAVEX_AT(Byte657), 96),
    Number(KAVEX_AT(Number658), 97),
    Text(KAVEX_AT(Text662), 98),
    Field(KAVEX_AT(Block723), FieldType::kBlock, 99),
    Byte(KAVEX_AT(Byte733), 100),
    Byte(KAVEX_AT(Byte734), 101),
    Byte(KAVEX_AT(Byte735), 102),
    Byte(KAVEX_AT(Byte736), 103),
    Number(KAVEX_AT(Number737), 0),
    Byte(KAVEX_AT(Byte741), 104),
    Byte(KAVEX_AT(Byte742), 105),
    Number(KAVEX_AT(Number743), 106),
    Field(KAVEX_AT(Number747), FieldType::kInt32, 107, 3, kNoRow),
    Byte(KAVEX_AT(Byte751), 108),
    Field(KAVEX_AT(Byte752), FieldType::kUInt8, 109, 1, kNoRow),
    Byte(KAVEX_AT(Byte753), 110),
    Byte(KAVEX_AT(Byte754), 111),
    Byte(KAVEX_AT(Byte755), 112),
    Byte(KAVEX_AT(Byte756), 113),
    Number(KAVEX_AT(Number757), 114),
    Field(KAVEX_AT(Block761), FieldType::kBlock, 115),
    Byte(KAVEX_AT(Byte793), 116),
    Byte(KAVEX_AT(Byte794), 117),
    Byte(KAVEX_AT(Byte795), 118),
    Number(KAVEX_AT(Number796), 119),
    Byte(KAVEX_AT(Byte800), 120),
    Number(KAVEX_AT(Number801), 121),
    Text(KAVEX_AT(Text805), 122),
    Byte(KAVEX_AT(Byte825), 123),
    Text(KAVEX_AT(Text826), 124),
    Byte(KAVEX_AT(Byte835), 125),
    Byte(KAVEX_AT(Byte836), 126),
    Byte(KAVEX_AT(Byte837), 127),
    Byte(KAVEX_AT(Byte838), 128),
    Byte(KAVEX_AT(Byte839), 129),
    Number(KAVEX_AT(Number840), 130),
    Text(KAVEX_AT(Text844), 131),
    Field(
        KAVEX_AT(UkeyOptional), FieldType::kUInt8, 132, 0,
        Choice(39,
               "\xCA\xC7\xB7\xF1\xD4\xCA\xD0\xED\xB2\xBB\xB7\xC3\xCE\xCA\xB1\xBE\xB5\xD8UKEY\xBD\xF8\xD0\xD0"
               "\xB5\xC7\xBC\xC7\xBB\xF2\xC9\xCF\xCD\xF8",
               4, kAllowed, kMustCall)),  // 是否允许不访问本地UKEY进行登记或上网
    Field(KAVEX_AT(ChargeMode), FieldType::kUInt8, 133, 0,
          Choice(40, "\xC4\xAC\xC8\xCF\xCA\xD5\xB7\xD1\xC4\xA3\xCA\xBD", 24, kPerVisit,
                 kPerCode)),  // 默认收费模式
    Field(KAVEX_AT(RegistrationValidity), FieldType::kUInt8, 134, 0,
          Row(41, "\xB5\xC7\xBC\xC7\xD3\xD0\xD0\xA7\xC6\xDA", 26, ReportStyle::kDecimal)),  // 登记有效期
    Field(KAVEX_AT(ChargeFailThreshold), FieldType::kInt32, 135, 0,
          Row(42, "\xCA\xD5\xB7\xD1\xB2\xBB\xB3\xC9\xB9\xA6\xB4\xCE\xCA\xFD\xB7\xA7\xD6\xB5", 18,
              ReportStyle::kDecimal)),  // 收费不成功次数阀值
    Field(KAVEX_AT(QueryPriority), FieldType::kUInt8, 136, 0,
          Choice(43, "\xB5\xC7\xBC\xC7\xD7\xCA\xC1\xCF\xB2\xE9\xD1\xAF\xD3\xC5\xCF\xC8\xBC\xB6", 18,
                 kCentreFirst, kLocalFirst)),  // 登记资料查询优先级
    Field(
        KAVEX_AT(ChargeWhenOffline), FieldType::kUInt8, 137, 0,
        Choice(44,
               "\xCE\xDE\xB7\xA8\xC1\xAC\xBD\xD3\xD6\xD0\xD0\xC4\xC7\xD2\xB1\xBE\xB5\xD8\xB2\xE9\xD1\xAF\xB2"
               "\xBB\xB5\xBD\xB5\xC7\xBC\xC7\xD7\xCA\xC1\xCF\xCA\xB1\xCA\xC7\xB7\xF1\xBC\xC6\xB7\xD1",
               24, kCharge, kNoCharge)),  // 无法连接中心且本地查询不到登记资料时是否计费
    Field(KAVEX_AT(ChargeIdCard), FieldType::kUInt8, 138, 0,
          Choice(
              45,
              "\xB0\xB4\xB4\xCE\xBC\xC6\xB7\xD1\xCA\xB1\xB6\xD4ID\xBF\xA8\xC9\xCF\xBB\xFA\xCA\xB1\xCA\xC7\xB7"
              "\xF1\xBC\xC6\xB7\xD1",
              8, kCharge, kNoCharge)),  // 按次计费时对ID卡上机时是否计费
    Field(KAVEX_AT(ChargeIcCard), FieldType::kUInt8, 139, 0,
          Choice(
              46,
              "\xB0\xB4\xB4\xCE\xBC\xC6\xB7\xD1\xCA\xB1\xB6\xD4IC\xBF\xA8\xC9\xCF\xBB\xFA\xCA\xB1\xCA\xC7\xB7"
              "\xF1\xBC\xC6\xB7\xD1",
              8, kCharge, kNoCharge)),  // 按次计费时对IC卡上机时是否计费
    Field(
        KAVEX_AT(ChargeSecondGenId), FieldType::kUInt8, 140, 0,
        Choice(47,
               "\xB0\xB4\xB4\xCE\xBC\xC6\xB7\xD1\xCA\xB1\xB6\xD4\xB6\xFE\xB4\xFA\xD6\xA4\xC9\xCF\xBB\xFA\xCA"
               "\xB1\xCA\xC7\xB7\xF1\xBC\xC6\xB7\xD1",
               6, kCharge, kNoCharge)),  // 按次计费时对二代证上机时是否计费
    Byte(KAVEX_AT(Byte868), 141),
    Byte(KAVEX_AT(Byte869), 142),
    Byte(KAVEX_AT(Byte870), 145),
    Byte(KAVEX_AT(Byte871), 143),
    Number(KAVEX_AT(Number872), 144),
    Byte(KAVEX_AT(Byte876), 146),
    Number(KAVEX_AT(Number877), 147),
    Byte(KAVEX_AT(Byte884), 148),
    Field(KAVEX_AT(Time885), FieldType::kTime, 149),
    Field(KAVEX_AT(Time889), FieldType::kTime, 150),
    Number(KAVEX_AT(Number893), 151),
    Number(KAVEX_AT(Number897), 152),
    Number(KAVEX_AT(Number901), 153),
    Byte(KAVEX_AT(Byte905), 154),
    Byte(KAVEX_AT(Byte906), 155),
    Byte(KAVEX_AT(Byte907), 156),
    Field(KAVEX_AT(Short909), FieldType::kUInt16, 157),
    Byte(KAVEX_AT(Byte911), 158),
    Number(KAVEX_AT(Number912), 159),
    Byte(KAVEX_AT(Byte916), 160),
    Byte(KAVEX_AT(Byte917), 161),
    Byte(KAVEX_AT(Byte918), 162),
    Byte(KAVEX_AT(Byte919), 163),
    Byte(KAVEX_AT(Byte920), 164),
    Byte(KAVEX_AT(Byte921), 165),
    Number(KAVEX_AT(Number922), 166),
    Byte(KAVEX_AT(Byte926), 167),
    Byte(KAVEX_AT(Byte927), 168),
    Byte(KAVEX_AT(Byte928), 169),
    Byte(KAVEX_AT(Byte929), 170),
    Byte(KAVEX_AT(Byte930), 171),
    Field(KAVEX_AT(Checksum), FieldType::kUInt32, 0),
};

#undef KAVEX_AT

constexpr std::size_t kFieldCount = sizeof kFields / sizeof kFields[0];

bool IsInteger(FieldType type) {
    switch (type) {
        case FieldType::kInt32:
        case FieldType::kUInt8:
        case FieldType::kUInt16:
        case FieldType::kUInt32:
        case FieldType::kTime:
        case FieldType::kIpAddress: return true;
        default: return false;
    }
}

}  // namespace

const VersionField* VersionFields() { return kFields; }

std::size_t VersionFieldCount() { return kFieldCount; }

const VersionField* FindVersionField(const char* name) {
    if (name == nullptr) return nullptr;
    for (const VersionField& field : kFields) {
        if (std::strcmp(field.name, name) == 0) return &field;
    }
    return nullptr;
}

const VersionField* FieldAtSetAllPosition(int position) {
    if (position < 1 || position > kSetAllArgumentCount) return nullptr;
    for (const VersionField& field : kFields) {
        if (field.setAllPosition == position) return &field;
    }
    return nullptr;
}

const char* FieldBytes(const VersionConfigRecord& record, const VersionField& field) {
    return reinterpret_cast<const char*>(&record) + field.offset;
}

char* FieldBytes(VersionConfigRecord& record, const VersionField& field) {
    return reinterpret_cast<char*>(&record) + field.offset;
}

std::int64_t ReadInteger(const VersionConfigRecord& record, const VersionField& field) {
    if (!IsInteger(field.type)) return 0;
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(FieldBytes(record, field));
    std::uint32_t value = 0;
    for (std::size_t k = 0; k < field.width; ++k) value |= static_cast<std::uint32_t>(bytes[k]) << (8 * k);
    if (field.type == FieldType::kInt32) return static_cast<std::int32_t>(value);
    return value;
}

void WriteInteger(VersionConfigRecord& record, const VersionField& field, std::uint32_t value) {
    if (!IsInteger(field.type)) return;
    auto* bytes = reinterpret_cast<std::uint8_t*>(FieldBytes(record, field));
    for (std::size_t k = 0; k < field.width; ++k) bytes[k] = static_cast<std::uint8_t>(value >> (8 * k));
}

std::size_t TextLength(const char* field, std::size_t width) {
    std::size_t length = 0;
    while (length < width && field[length] != '\0') ++length;
    return length;
}

void WriteDefaults(VersionConfigRecord& record) {
    std::memset(&record, 0, sizeof record);
    for (const VersionField& field : kFields) {
        if (field.type == FieldType::kText && field.defaultText != nullptr) {
            const std::size_t length = TextLength(field.defaultText, field.width - 1);
            std::memcpy(FieldBytes(record, field), field.defaultText, length);
        } else if (field.defaultValue != 0) {
            WriteInteger(record, field, field.defaultValue);
        }
    }
}

void FillInUnsetValues(VersionConfigRecord& record) {
    if (record.VersionByte == 0) record.VersionByte = kFillInVersionByte;
    if (record.IpPort == 0) record.IpPort = kFillInIpPort;
    if (record.IpAddress == 0) record.IpAddress = kFillInIpAddress;
}

}  // namespace kavex::settings
