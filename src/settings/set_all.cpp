// SetAll: every field with a SetAll position stored from its argument, in
// the order of the positions, driven by the field table.
#include <cstring>

#include "settings/shared_view.h"
#include "settings/version_config.h"
#include "settings/version_fields.h"

namespace kavex::settings {

namespace {

// One argument of SetAll as its parameter's type gives it.
struct SetAllArgument {
    enum class Kind { kNumber, kText, kBlock };
    SetAllArgument(int value) : kind(Kind::kNumber), number(value) {}
    SetAllArgument(const char* text) : kind(Kind::kText), pointer(text) {}
    SetAllArgument(const BYTE* block) : kind(Kind::kBlock), pointer(block) {}

    Kind kind;
    int number = 0;
    const void* pointer = nullptr;
};

SetAllArgument::Kind KindOf(FieldType type) {
    switch (type) {
        case FieldType::kText:
        case FieldType::kTime: return SetAllArgument::Kind::kText;
        case FieldType::kBlock: return SetAllArgument::Kind::kBlock;
        default: return SetAllArgument::Kind::kNumber;
    }
}

// Whether every argument has the kind its field takes and every text and
// block is there.
bool ArgumentsFit(const SetAllArgument (&arguments)[kSetAllArgumentCount]) {
    for (int position = 1; position <= kSetAllArgumentCount; ++position) {
        const VersionField* field = FieldAtSetAllPosition(position);
        const SetAllArgument& argument = arguments[position - 1];
        if (field == nullptr || argument.kind != KindOf(field->type)) return false;
        if (argument.kind != SetAllArgument::Kind::kNumber && argument.pointer == nullptr) return false;
    }
    return true;
}

void Store(VersionConfigRecord& record, const VersionField& field, const SetAllArgument& argument) {
    char* bytes = FieldBytes(record, field);
    switch (field.type) {
        case FieldType::kText: {
            // At most width - 1 bytes, NUL-padded; the field's last byte is kept.
            const auto* text = static_cast<const char*>(argument.pointer);
            const std::size_t length = TextLength(text, field.width - 1);
            std::memcpy(bytes, text, length);
            std::memset(bytes + length, 0, field.width - 1 - length);
            break;
        }
        case FieldType::kTime:
            WriteInteger(record, field, ParseDateTime(static_cast<const char*>(argument.pointer)));
            break;
        case FieldType::kBlock: std::memcpy(bytes, argument.pointer, field.width); break;
        default: WriteInteger(record, field, static_cast<std::uint32_t>(argument.number)); break;
    }
}

}  // namespace

}  // namespace kavex::settings

BOOL CVersionConfig::SetAll(
    int VersionNumber, int QuorelinkEdition, int WithProvinceCentre, int WithIssuedCardInfo,
    int AllowTempCard, int LimitMinorIssue, int LimitMinorLogon, int MinorAgeLimit, int CityMissToProvince,
    int RequireNet110, int CheckName, int CheckIdValidity, int Rc4Packets, int EncryptLocalFiles,
    int IdTypeCount, int Broadband, int FetchRemoteIpFile, const char* RemoteIpFilePath,
    int MaxCentreFailures, int MachineReportInterval, const char* Remark, const char* Region,
    int NoPasswordLogon, int BlockUnlock, const char* ForcedUrl, int CafeSystems, int AutoUpgrade,
    int Byte440, int VersionByte, int CardIssueDenied, int AutoUploadLogs, int CityCode,
    int FormalCardNeedsIdCard, int FastChannel, int Byte448, int InitFlag, int Byte449, int Byte450,
    int Byte451, int Byte452, int Byte453, int Byte454, int Byte455, int Byte456, int Byte457, int Byte458,
    int Byte459, int Byte460, int Byte461, const char* Text473, int CentreLimitsTempCard, int Byte463,
    int Byte466, int Byte467, int Byte468, int Byte469, int Byte470, int Byte471, int Byte472, int Byte488,
    int Byte489, int Byte490, int Byte491, int IpPort, int IpAddress, int Byte500, int Byte501, int Short502,
    int Short504, int Byte506, int Byte507, int Byte508, int Byte509, int Number510, int Byte514, int Byte515,
    int Byte516, int Byte517, const BYTE* Block518, const BYTE* Block549, const BYTE* Block580, int Number611,
    int Byte615, int Byte616, const BYTE* Block617, int Byte636, int Byte637, int Number638, int Byte642,
    int Short643, int Byte645, int Byte650, int Byte651, int Number652, int Byte656, int Byte657,
    int Number658, const char* Text662, const BYTE* Block723, int Byte733, int Byte734, int Byte735,
    int Byte736, int Byte741, int Byte742, int Number743, int Number747, int Byte751, int Byte752,
    int Byte753, int Byte754, int Byte755, int Byte756, int Number757, const BYTE* Block761, int Byte793,
    int Byte794, int Byte795, int Number796, int Byte800, int Number801, const char* Text805, int Byte825,
    const char* Text826, int Byte835, int Byte836, int Byte837, int Byte838, int Byte839, int Number840,
    const char* Text844, int UkeyOptional, int ChargeMode, int RegistrationValidity, int ChargeFailThreshold,
    int QueryPriority, int ChargeWhenOffline, int ChargeIdCard, int ChargeIcCard, int ChargeSecondGenId,
    int Byte868, int Byte869, int Byte871, int Number872, int Byte870, int Byte876, int Number877,
    int Byte884, const char* Time885, const char* Time889, int Number893, int Number897, int Number901,
    int Byte905, int Byte906, int Byte907, int Short909, int Byte911, int Number912, int Byte916, int Byte917,
    int Byte918, int Byte919, int Byte920, int Byte921, int Number922, int Byte926, int Byte927, int Byte928,
    int Byte929, int Byte930) {
    using kavex::settings::SetAllArgument;
    const SetAllArgument arguments[kavex::settings::kSetAllArgumentCount] = {VersionNumber,
                                                                             QuorelinkEdition,
                                                                             WithProvinceCentre,
                                                                             WithIssuedCardInfo,
                                                                             AllowTempCard,
                                                                             LimitMinorIssue,
                                                                             LimitMinorLogon,
                                                                             MinorAgeLimit,
                                                                             CityMissToProvince,
                                                                             RequireNet110,
                                                                             CheckName,
                                                                             CheckIdValidity,
                                                                             Rc4Packets,
                                                                             EncryptLocalFiles,
                                                                             IdTypeCount,
                                                                             Broadband,
                                                                             FetchRemoteIpFile,
                                                                             RemoteIpFilePath,
                                                                             MaxCentreFailures,
                                                                             MachineReportInterval,
                                                                             Remark,
                                                                             Region,
                                                                             NoPasswordLogon,
                                                                             BlockUnlock,
                                                                             ForcedUrl,
                                                                             CafeSystems,
                                                                             AutoUpgrade,
                                                                             Byte440,
                                                                             VersionByte,
                                                                             CardIssueDenied,
                                                                             AutoUploadLogs,
                                                                             CityCode,
                                                                             FormalCardNeedsIdCard,
                                                                             FastChannel,
                                                                             Byte448,
                                                                             InitFlag,
                                                                             Byte449,
                                                                             Byte450,
                                                                             Byte451,
                                                                             Byte452,
                                                                             Byte453,
                                                                             Byte454,
                                                                             Byte455,
                                                                             Byte456,
                                                                             Byte457,
                                                                             Byte458,
                                                                             Byte459,
                                                                             Byte460,
                                                                             Byte461,
                                                                             Text473,
                                                                             CentreLimitsTempCard,
                                                                             Byte463,
                                                                             Byte466,
                                                                             Byte467,
                                                                             Byte468,
                                                                             Byte469,
                                                                             Byte470,
                                                                             Byte471,
                                                                             Byte472,
                                                                             Byte488,
                                                                             Byte489,
                                                                             Byte490,
                                                                             Byte491,
                                                                             IpPort,
                                                                             IpAddress,
                                                                             Byte500,
                                                                             Byte501,
                                                                             Short502,
                                                                             Short504,
                                                                             Byte506,
                                                                             Byte507,
                                                                             Byte508,
                                                                             Byte509,
                                                                             Number510,
                                                                             Byte514,
                                                                             Byte515,
                                                                             Byte516,
                                                                             Byte517,
                                                                             Block518,
                                                                             Block549,
                                                                             Block580,
                                                                             Number611,
                                                                             Byte615,
                                                                             Byte616,
                                                                             Block617,
                                                                             Byte636,
                                                                             Byte637,
                                                                             Number638,
                                                                             Byte642,
                                                                             Short643,
                                                                             Byte645,
                                                                             Byte650,
                                                                             Byte651,
                                                                             Number652,
                                                                             Byte656,
                                                                             Byte657,
                                                                             Number658,
                                                                             Text662,
                                                                             Block723,
                                                                             Byte733,
                                                                             Byte734,
                                                                             Byte735,
                                                                             Byte736,
                                                                             Byte741,
                                                                             Byte742,
                                                                             Number743,
                                                                             Number747,
                                                                             Byte751,
                                                                             Byte752,
                                                                             Byte753,
                                                                             Byte754,
                                                                             Byte755,
                                                                             Byte756,
                                                                             Number757,
                                                                             Block761,
                                                                             Byte793,
                                                                             Byte794,
                                                                             Byte795,
                                                                             Number796,
                                                                             Byte800,
                                                                             Number801,
                                                                             Text805,
                                                                             Byte825,
                                                                             Text826,
                                                                             Byte835,
                                                                             Byte836,
                                                                             Byte837,
                                                                             Byte838,
                                                                             Byte839,
                                                                             Number840,
                                                                             Text844,
                                                                             UkeyOptional,
                                                                             ChargeMode,
                                                                             RegistrationValidity,
                                                                             ChargeFailThreshold,
                                                                             QueryPriority,
                                                                             ChargeWhenOffline,
                                                                             ChargeIdCard,
                                                                             ChargeIcCard,
                                                                             ChargeSecondGenId,
                                                                             Byte868,
                                                                             Byte869,
                                                                             Byte871,
                                                                             Number872,
                                                                             Byte870,
                                                                             Byte876,
                                                                             Number877,
                                                                             Byte884,
                                                                             Time885,
                                                                             Time889,
                                                                             Number893,
                                                                             Number897,
                                                                             Number901,
                                                                             Byte905,
                                                                             Byte906,
                                                                             Byte907,
                                                                             Short909,
                                                                             Byte911,
                                                                             Number912,
                                                                             Byte916,
                                                                             Byte917,
                                                                             Byte918,
                                                                             Byte919,
                                                                             Byte920,
                                                                             Byte921,
                                                                             Number922,
                                                                             Byte926,
                                                                             Byte927,
                                                                             Byte928,
                                                                             Byte929,
                                                                             Byte930};
    VersionConfigView* view = kavex::settings::SharedView();
    if (view == nullptr || !kavex::settings::ArgumentsFit(arguments)) return FALSE;
    Lock();
    VersionConfigRecord record = view->record;
    for (int position = 1; position <= kavex::settings::kSetAllArgumentCount; ++position) {
        kavex::settings::Store(record, *kavex::settings::FieldAtSetAllPosition(position),
                               arguments[position - 1]);
    }
    view->record = record;
    const BOOL saved = Save(nullptr);
    Unlock();
    return saved;
}
