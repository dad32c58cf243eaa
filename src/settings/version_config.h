// CVersionConfig: the registration settings of every process on the
// machine, held in the shared settings view and stored sealed in the
// settings file "qelversion.cfg".
//
// The live record is the one in the shared view: a named block of shared
// memory ("FileMap20080819") under a named mutex ("zoru_versionfcfg_file").
// The first CVersionConfig a process constructs maps the view, fills it with
// the defaults and loads the settings file into it; every operation below
// reads or changes that record, and every change is saved at once.
//
// Without a mapped view (its set-up failed, or no CVersionConfig has been
// constructed in the process yet) the operations that need it return 0 and
// change nothing.
#pragma once

#include <cstdint>
#include <string>

#include "platform/win32.h"
#include "settings/version_record.h"

// The shared settings view: the live record and the name of the settings
// file that Load or Save last used.
#pragma pack(push, 1)
struct VersionConfigView {
    VersionConfigRecord record;
    char path[1024];  // NUL-terminated; empty until a load or save
};
#pragma pack(pop)
static_assert(sizeof(VersionConfigView) == 3564, "VersionConfigView must be 3564 bytes");

class CVersionConfig {
public:
    // Opens the mutex and, the first time in the process, sets up the view:
    // zeros, the defaults, Load(path) (null: the located settings file), a
    // Save(path) of the defaults when createIfMissing is set and the file is
    // missing or is no settings file (a wrong length, a CRC mismatch; a file
    // that could not be read, or a path Load refuses, is never replaced),
    // then the values still 0 filled in (not saved): VersionByte 29, IpPort
    // 8998, IpAddress 192.168.0.250.
    CVersionConfig(const char* path, BOOL createIfMissing);
    virtual ~CVersionConfig();
    CVersionConfig(const CVersionConfig&) = delete;
    CVersionConfig& operator=(const CVersionConfig&) = delete;

    // Waits without time limit for the mutex, and releases it; re-entrant
    // for the thread that holds it. Nothing when the mutex could not be opened.
    void Lock();
    void Unlock();

    // Writes the full path of the settings file (without a terminator: the
    // caller passes a zero-filled buffer of 1024 bytes) and tells whether the
    // file exists. The directory is the registry value "ExePath" of
    // HKEY_LOCAL_MACHINE\SOFTWARE\QelCorp\Veridane, else that of the host
    // executable. 0 with nothing written when no path can be composed.
    BOOL GetConfigPath(char* path);
    BOOL ConfigFileExists();

    // Replaces the record with the file's when it verifies: a 2540-byte
    // sealed record, or the older 482-byte form, whose first 478 bytes are
    // taken over the record's and which is then rewritten in the current
    // form. `path` null: the located file. 0 leaves the record as it was.
    BOOL Load(const char* path);
    // Writes the record (its Checksum updated) to `path`, else to the file
    // the view last used, else to the located file. The file is replaced in
    // one step; a read-only file is made writable first.
    BOOL Save(const char* path);

    // The whole record.
    BOOL GetRecord(VersionConfigRecord* out);
    BOOL SetRecord(const VersionConfigRecord* in);

    // Every field that has a SetAll position, in that order: integers keep
    // their low 8, 16 or 32 bits, texts at most their field's width - 1
    // bytes (a shorter text is padded with NULs; the field's last byte is
    // kept), blocks their field's width, and Time885 and Time889 the
    // ParseDateTime of their texts. 0 and nothing changed when a text or
    // block is null; else the result of Save(null).
    BOOL SetAll(int VersionNumber, int QuorelinkEdition, int WithProvinceCentre, int WithIssuedCardInfo,
                int AllowTempCard, int LimitMinorIssue, int LimitMinorLogon, int MinorAgeLimit,
                int CityMissToProvince, int RequireNet110, int CheckName, int CheckIdValidity, int Rc4Packets,
                int EncryptLocalFiles, int IdTypeCount, int Broadband, int FetchRemoteIpFile,
                const char* RemoteIpFilePath, int MaxCentreFailures, int MachineReportInterval,
                const char* Remark, const char* Region, int NoPasswordLogon, int BlockUnlock,
                const char* ForcedUrl, int CafeSystems, int AutoUpgrade, int Byte440, int VersionByte,
                int CardIssueDenied, int AutoUploadLogs, int CityCode, int FormalCardNeedsIdCard,
                int FastChannel, int Byte448, int InitFlag, int Byte449, int Byte450, int Byte451,
                int Byte452, int Byte453, int Byte454, int Byte455, int Byte456, int Byte457, int Byte458,
                int Byte459, int Byte460, int Byte461, const char* Text473, int CentreLimitsTempCard,
                int Byte463, int Byte466, int Byte467, int Byte468, int Byte469, int Byte470, int Byte471,
                int Byte472, int Byte488, int Byte489, int Byte490, int Byte491, int IpPort, int IpAddress,
                int Byte500, int Byte501, int Short502, int Short504, int Byte506, int Byte507, int Byte508,
                int Byte509, int Number510, int Byte514, int Byte515, int Byte516, int Byte517,
                const BYTE* Block518, const BYTE* Block549, const BYTE* Block580, int Number611, int Byte615,
                int Byte616, const BYTE* Block617, int Byte636, int Byte637, int Number638, int Byte642,
                int Short643, int Byte645, int Byte650, int Byte651, int Number652, int Byte656, int Byte657,
                int Number658, const char* Text662, const BYTE* Block723, int Byte733, int Byte734,
                int Byte735, int Byte736, int Byte741, int Byte742, int Number743, int Number747, int Byte751,
                int Byte752, int Byte753, int Byte754, int Byte755, int Byte756, int Number757,
                const BYTE* Block761, int Byte793, int Byte794, int Byte795, int Number796, int Byte800,
                int Number801, const char* Text805, int Byte825, const char* Text826, int Byte835,
                int Byte836, int Byte837, int Byte838, int Byte839, int Number840, const char* Text844,
                int UkeyOptional, int ChargeMode, int RegistrationValidity, int ChargeFailThreshold,
                int QueryPriority, int ChargeWhenOffline, int ChargeIdCard, int ChargeIcCard,
                int ChargeSecondGenId, int Byte868, int Byte869, int Byte871, int Number872, int Byte870,
                int Byte876, int Number877, int Byte884, const char* Time885, const char* Time889,
                int Number893, int Number897, int Number901, int Byte905, int Byte906, int Byte907,
                int Short909, int Byte911, int Number912, int Byte916, int Byte917, int Byte918, int Byte919,
                int Byte920, int Byte921, int Number922, int Byte926, int Byte927, int Byte928, int Byte929,
                int Byte930);

    // Single fields, saved to the current settings file.
    BOOL SetNumber743(int value);
    BOOL SetNumber757(int value);
    BOOL SetByte454(BYTE value);
    // Stores 1 in Byte736 when `flag` is 0, else 0.
    BOOL SetByte736(int flag);
    // Sets entry `index` of IdTypes (at most 8 bytes of `text`); 0 without
    // change for a null text or an index above 9 or not below IdTypeCount.
    BOOL SetIdType(unsigned index, const char* text);

    // Fields of a named file: each loads `path` first (0 at once when that
    // fails); a setter then saves to `path`, a getter returns the field.
    BOOL SetVersionNumber(const char* path, int value);  // VersionByte takes its low byte
    BOOL SetQuorelinkEdition(const char* path, int value);
    BOOL SetBroadband(const char* path, int value);
    int GetBroadband(const char* path);
    BOOL SetCafeSystem(const char* path, WORD value);
    BOOL SetByte451(const char* path, BYTE value);
    BOOL SetByte500(const char* path, BYTE value);
    BOOL SetNumber737(const char* path, int value);
    int GetInitFlag(const char* path);
    int GetByte825(const char* path);
    // Copies Region into the 20 first bytes of `out` (zero-filled, at least
    // 21 bytes), NUL-padded.
    BOOL GetRegion(const char* path, char* out);

    HANDLE m_hMutex;  // null: nothing locks
};

// The point in time a date-time text names, as seconds since 1970-01-01
// 00:00 UTC: "year-month-day", optionally followed by a space and either
// "hour:minute:second" or a text without a colon (midnight), taken as local
// time. Parts are read by their leading digits. 0 for a text it does not
// accept: a year outside 1970 .. 2098, a month, day, hour, minute or second
// out of range, a time before 08:00 in 1970 (midnight in 1970 is 08:00), a
// part of 10 characters or more, a time with one colon, or a local time the
// system cannot convert.
std::uint32_t ParseDateTime(const char* text);

// Byte645 of the shared record, or 14 when it is 0 (or there is no view);
// constructs a CVersionConfig(null, TRUE) first.
BYTE GetOptionCode();
// Text662 of the shared record, in the shared view ("" without a view);
// constructs a CVersionConfig(null, TRUE) first. A field without a
// terminator (a loaded file may hold one) is given as a terminated copy of
// its 61 bytes instead, valid until the calling thread's next call.
const char* GetOptionText();
// The same read from the view as it is, without constructing anything
// (0 and "" without a view).
BYTE PeekOptionCode();
const char* PeekOptionText();
// The settings file the view last used ("" before any, or without a view).
const char* PeekConfigPath();

namespace kavex::settings {

constexpr char kSettingsFileName[] = "qelversion.cfg";
constexpr std::size_t kSettingsPathLimit = 1024;
constexpr std::size_t kOldFormSize = 482;
constexpr std::size_t kOldFormCopied = 478;

enum class SettingsSource { kNone, kRegistry, kExecutableDirectory };
// The settings file's full path as GetConfigPath composes it, and where its
// directory came from (kNone, and no path, when none can be composed).
SettingsSource LocateSettingsFile(std::string* path);

// The view of this process, or null while it is not mapped.
VersionConfigView* SharedView();

// Why a load of the settings file gave what it gave.
enum class LoadOutcome {
    kLoaded,     // the record took the file's contents (the older form's too)
    kRefused,    // no view, a path of 1024 characters or more, or no path could be composed
    kMissing,    // there is no such file
    kInvalid,    // no settings file: a length other than 482 or 2540 bytes, or a CRC mismatch
    kFileError,  // it could not be read (a file error, or memory ran short): it may well be good
};
// CVersionConfig::Load with its reason: Load(path) is
// LoadSettingsFile(config, path) == LoadOutcome::kLoaded.
LoadOutcome LoadSettingsFile(CVersionConfig& config, const char* path);

// Fills in, in the shared record, the values the view's set-up fills in
// (for a tool that has just saved the defaults themselves).
void FillInSharedRecord();

}  // namespace kavex::settings
