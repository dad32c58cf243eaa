#include "kavexctl/library.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#else
#include <dlfcn.h>
#include <unistd.h>
#endif

namespace kavexctl {

namespace {

#ifdef _WIN32
constexpr const char* kLibraryName = "Kavex.dll";

void* OpenLibrary(const std::string& path, std::string* error) {
    HMODULE module = LoadLibraryA(path.c_str());
    if (module == nullptr) *error = "error " + std::to_string(GetLastError());
    return reinterpret_cast<void*>(module);
}
void* FindSymbol(void* library, const char* name) {
    FARPROC proc = GetProcAddress(static_cast<HMODULE>(library), name);
    return reinterpret_cast<void*>(reinterpret_cast<void (*)()>(proc));
}
void CloseLibrary(void* library) { FreeLibrary(static_cast<HMODULE>(library)); }

std::vector<std::string> Candidates() { return {kLibraryName}; }
#else
// The library's soname (libkavex.so.1): the file the library's package
// installs, and the one name that stays bound to this interface version.
constexpr const char* kLibraryName = KAVEX_LIBRARY_FILE;

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

// Beside the executable (a copy in a host program's directory), then the
// dynamic loader's search: LD_LIBRARY_PATH, kavexctl's run path (the build
// tree's library directory, or a private prefix's) and the system's
// library directories.
std::vector<std::string> Candidates() {
    std::vector<std::string> candidates;
    char self[4096];
    const ssize_t length = readlink("/proc/self/exe", self, sizeof self - 1);
    if (length > 0) {
        std::string directory(self, static_cast<size_t>(length));
        directory.erase(directory.find_last_of('/') + 1);
        candidates.push_back(directory + kLibraryName);
    }
    candidates.push_back(kLibraryName);
    return candidates;
}
#endif

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
    const char* chosen = std::getenv("KAVEX_LIBRARY");
    if (chosen != nullptr && *chosen != '\0') {
        candidates.push_back(chosen);
    } else {
        candidates = Candidates();
    }
    std::string reasons;
    for (const std::string& candidate : candidates) {
        std::string reason;
        handle_ = OpenLibrary(candidate, &reason);
        if (handle_ != nullptr) {
            path_ = candidate;
#ifndef _WIN32
            char resolved[4096];
            if (candidate.find('/') != std::string::npos &&
                realpath(candidate.c_str(), resolved) != nullptr) {
                path_ = resolved;
            }
#endif
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
        std::fprintf(stderr,
                     "kavexctl %s: %s\n"
                     "Build the library (cmake --build build) or point KAVEX_LIBRARY at it.\n",
                     command, error.c_str());
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
