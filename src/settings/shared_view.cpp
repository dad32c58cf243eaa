#include "settings/shared_view.h"

#include <atomic>
#include <cstring>
#include <mutex>

#include "settings/version_fields.h"

namespace kavex::settings {

namespace {

// Per process: the view once mapped, and whether the set-up was tried. They
// are written under the named mutex and, for a process whose mutex could
// not be opened, under this process's own lock too.
std::atomic<VersionConfigView*> g_view{nullptr};
bool g_setUpTried = false;
std::mutex g_setUpMutex;

constexpr char kMessageCaption[] = "Kavex";
constexpr char kMappingFailed[] =
    "\xB9\xB2\xCF\xED\xC4\xDA\xB4\xE6\xB7\xD6\xC5\xE4\xB3\xF6\xB4\xED!";  // 共享内存分配出错!
constexpr char kViewFailed[] =
    "\xB9\xB2\xCF\xED\xC4\xDA\xB4\xE6\xB6\xC1\xC8\xA1\xB3\xF6\xB4\xED!";  // 共享内存读取出错!

}  // namespace

VersionConfigView* SharedView() { return g_view.load(); }

void FillInSharedRecord() {
    if (VersionConfigView* view = SharedView()) FillInUnsetValues(view->record);
}

void SetUpSharedView(CVersionConfig& config, const char* path, BOOL createIfMissing) {
    std::lock_guard<std::mutex> lock(g_setUpMutex);
    if (g_setUpTried) return;
    g_setUpTried = true;  // before the attempt: a failed set-up is not repeated

    // The mapping's handle stays open, and the view mapped, until the
    // process ends.
    const HANDLE mapping = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0,
                                              sizeof(VersionConfigView), kMappingName);
    if (mapping == nullptr) {
        MessageBoxA(nullptr, kMappingFailed, kMessageCaption, MB_OK);
        return;
    }
    // Exactly the view's size: a mapping someone made smaller is refused
    // rather than written past its end.
    auto* view = static_cast<VersionConfigView*>(
        MapViewOfFile(mapping, FILE_MAP_ALL_ACCESS, 0, 0, sizeof(VersionConfigView)));
    if (view == nullptr) {
        CloseHandle(mapping);
        MessageBoxA(nullptr, kViewFailed, kMessageCaption, MB_OK);
        return;
    }
    // Every process that sets up its view rebuilds the shared record from
    // the file, also when other processes have it in use.
    std::memset(view, 0, sizeof *view);
    WriteDefaults(view->record);
    g_view.store(view);
    // The defaults are written only where there is no settings file: to the
    // file the caller named (the located one for none). A file that could
    // not be read may be good, and a path the load refused names no file,
    // so neither is replaced.
    const LoadOutcome loaded = LoadSettingsFile(config, path);
    if (createIfMissing && (loaded == LoadOutcome::kMissing || loaded == LoadOutcome::kInvalid)) {
        config.Save(path);
    }
    FillInUnsetValues(view->record);
}

}  // namespace kavex::settings
