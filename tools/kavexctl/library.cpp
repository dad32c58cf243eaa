#include "kavexctl/library.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "config/file_location.h"

#ifdef _WIN32
#include "platform/win32.h"
#else
#include <dlfcn.h>
#include <link.h>

#include <climits>
#endif

namespace kavexctl {

namespace {

#ifdef _WIN32
constexpr const char* kLibraryName = "Kavex.dll";
constexpr const char* kWhereToPutIt =
    "Put Kavex.dll beside kavexctl.exe, or name the one to try with --library PATH (or the\n"
    "environment variable KAVEX_LIBRARY).";

// The system's text for a Win32 error about `path`, with the code.
std::string ErrorText(DWORD error, const std::string& path) {
    char text[512] = {};
    DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error,
                                  0, text, sizeof text, nullptr);
    while (length > 0 && (text[length - 1] == '\r' || text[length - 1] == '\n' || text[length - 1] == '.')) {
        text[--length] = '\0';
    }
    std::string result = length > 0 ? std::string(text) + " " : std::string();
    const std::size_t insert = result.find("%1");
    if (insert != std::string::npos) result.replace(insert, 2, path);
    result += "(error " + std::to_string(error) + ")";
    if (error == ERROR_BAD_EXE_FORMAT) {
        // The support case: a 64-bit kavexctl.exe tried on a client's 32-bit
        // Kavex.dll, or the reverse.
        result += sizeof(void*) == 4
                      ? "; this kavexctl.exe is 32-bit (x86): take x64\\kavexctl.exe for a 64-bit DLL"
                      : "; this kavexctl.exe is 64-bit (x64): take x86\\kavexctl.exe for a 32-bit DLL";
    }
    return result;
}

std::string ModulePath(HMODULE module) {
    char path[MAX_PATH] = {};
    const DWORD length = GetModuleFileNameA(module, path, sizeof path);
    return length > 0 && length < sizeof path ? std::string(path, length) : std::string();
}

void* OpenLibrary(const std::string& path, std::string* error) {
    HMODULE module = LoadLibraryA(path.c_str());
    if (module == nullptr) *error = ErrorText(GetLastError(), path);
    return reinterpret_cast<void*>(module);
}
void* FindSymbol(void* library, const char* name) {
    FARPROC proc = GetProcAddress(static_cast<HMODULE>(library), name);
    return reinterpret_cast<void*>(reinterpret_cast<void (*)()>(proc));
}
void CloseLibrary(void* library) { FreeLibrary(static_cast<HMODULE>(library)); }
std::string LoadedPath(void* library, const std::string& candidate) {
    const std::string path = ModulePath(static_cast<HMODULE>(library));
    return path.empty() ? candidate : path;
}

// "file version 1.0.0.0" from the module's version resource, or "".
std::string FileVersion(const std::string& path) {
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeA(path.c_str(), &ignored);
    if (size == 0) return {};
    std::vector<char> info(size);
    if (!GetFileVersionInfoA(path.c_str(), 0, size, info.data())) return {};
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    if (!VerQueryValueA(info.data(), "\\", reinterpret_cast<void**>(&fixed), &length) || fixed == nullptr ||
        length < sizeof *fixed || fixed->dwSignature != 0xFEEF04BD) {
        return {};
    }
    return "file version " + std::to_string(HIWORD(fixed->dwFileVersionMS)) + "." +
           std::to_string(LOWORD(fixed->dwFileVersionMS)) + "." +
           std::to_string(HIWORD(fixed->dwFileVersionLS)) + "." +
           std::to_string(LOWORD(fixed->dwFileVersionLS));
}
#else
// The library's soname (libkavex.so.1): the file the library's package
// installs, and the one name that stays bound to this interface version.
// The build gives it (tools/CMakeLists.txt).
#ifndef KAVEX_LIBRARY_FILE
#define KAVEX_LIBRARY_FILE "libkavex.so.1"
#endif
constexpr const char* kLibraryName = KAVEX_LIBRARY_FILE;
constexpr const char* kWhereToPutIt =
    "Build the library (cmake --build build), or name the one to try with --library PATH (or\n"
    "the environment variable KAVEX_LIBRARY).";

void* OpenLibrary(const std::string& path, std::string* error) {
    void* library = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (library == nullptr) {
        const char* text = dlerror();
        *error = text != nullptr ? text : "unknown error";
    }
    return library;
}
void* FindSymbol(void* library, const char* name) { return dlsym(library, name); }
void CloseLibrary(void* library) { dlclose(library); }
// The file the loader took: the candidate, or for a bare file name the one
// its search found (beside kavexctl through $ORIGIN, a directory of
// LD_LIBRARY_PATH...), with links resolved.
std::string LoadedPath(void* library, const std::string& candidate) {
    std::string path = candidate;
    struct link_map* map = nullptr;
    if (candidate.find('/') == std::string::npos && dlinfo(library, RTLD_DI_LINKMAP, &map) == 0 &&
        map != nullptr && map->l_name != nullptr && std::strchr(map->l_name, '/') != nullptr) {
        path = map->l_name;
    }
    char resolved[PATH_MAX];
    if (path.find('/') != std::string::npos && realpath(path.c_str(), resolved) != nullptr) return resolved;
    return path;
}
std::string FileVersion(const std::string&) { return {}; }

#endif

// Beside the executable first, so that a copy put beside a host program
// (a client's program on Windows) tries that program's library; then the
// system's search: on Linux the dynamic loader's (LD_LIBRARY_PATH,
// kavexctl's run path, the system's library directories), on Windows the
// DLL search path. Never a directory above kavexctl's.
std::vector<std::string> Candidates() {
    constexpr std::size_t kPathLimit = 4096;
    std::vector<std::string> candidates;
    std::string directory;
    std::string beside;
    if (kavex::config::HostExecutableDirectory(kPathLimit, &directory) &&
        kavex::config::ComposePath(directory, kLibraryName, kPathLimit, &beside)) {
        candidates.push_back(beside);
    }
    candidates.push_back(kLibraryName);
    return candidates;
}

template <class Function>
void Resolve(void* library, const char* name, Function* function) {
    *function = reinterpret_cast<Function>(FindSymbol(library, name));
}

}  // namespace

KavexLibrary::~KavexLibrary() {
    if (handle_ != nullptr) CloseLibrary(handle_);
}

bool KavexLibrary::Load(std::string* error) {
    if (handle_ != nullptr) return true;
    std::vector<std::string> candidates;
    const char* fromEnvironment = std::getenv("KAVEX_LIBRARY");
    if (!chosen_.empty()) {
        candidates.push_back(chosen_);
    } else if (fromEnvironment != nullptr && *fromEnvironment != '\0') {
        candidates.push_back(fromEnvironment);
    } else {
        candidates = Candidates();
    }
    std::string reasons;
    for (const std::string& candidate : candidates) {
        std::string reason;
        handle_ = OpenLibrary(candidate, &reason);
        if (handle_ != nullptr) {
            path_ = LoadedPath(handle_, candidate);
            break;
        }
        reasons += "\n  " + candidate + ": " + reason;
    }
    if (handle_ == nullptr) {
        *error = std::string("cannot load ") + kLibraryName + reasons;
        return false;
    }
#define KAVEX_RESOLVE(name) Resolve(handle_, #name, &functions_.name);
    KAVEX_EXPORTED_FUNCTIONS(KAVEX_RESOLVE)
#undef KAVEX_RESOLVE
    return true;
}

std::string KavexLibrary::Describe() const {
    const std::string version = FileVersion(path_);
    return version.empty() ? path_ : path_ + ", " + version;
}

bool KavexLibrary::Has(const char* name) const {
#define KAVEX_HAS(function) \
    if (std::strcmp(name, #function) == 0) return functions_.function != nullptr;
    KAVEX_EXPORTED_FUNCTIONS(KAVEX_HAS)
#undef KAVEX_HAS
    return false;
}

bool KavexLibrary::LoadFor(const char* command, std::initializer_list<const char*> needed) {
    std::string error;
    if (!Load(&error)) {
        std::fprintf(stderr, "kavexctl %s: %s\n%s\n", command, error.c_str(), kWhereToPutIt);
        return false;
    }
    std::string missing;
    for (const char* name : needed) {
        if (!Has(name)) missing += std::string(missing.empty() ? "" : ", ") + name;
    }
    if (!missing.empty()) {
        std::fprintf(stderr, "kavexctl %s: %s does not export %s; it is not a complete Kavex library.\n",
                     command, path_.c_str(), missing.c_str());
        return false;
    }
    return true;
}

}  // namespace kavexctl
