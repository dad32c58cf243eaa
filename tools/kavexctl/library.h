// The Kavex library as kavexctl uses it: loaded at run time, like any host
// loads it, with its eight exported functions looked up by name.
#pragma once

#include <initializer_list>
#include <string>

#include "kavex.h"

namespace kavexctl {

// The exported functions; a function the loaded library lacks is null.
struct KavexFunctions {
    decltype(&::OpenCom) OpenCom = nullptr;
    decltype(&::GetCardCode) GetCardCode = nullptr;
    decltype(&::CloseCom) CloseCom = nullptr;
    decltype(&::GetIDVersion) GetIDVersion = nullptr;
    decltype(&::GetCardCodeEx) GetCardCodeEx = nullptr;
    decltype(&::CloseComEx) CloseComEx = nullptr;
    decltype(&::OpenComEx) OpenComEx = nullptr;
    decltype(&::GetOtherCardCode) GetOtherCardCode = nullptr;
};

class KavexLibrary {
public:
    KavexLibrary() = default;
    ~KavexLibrary();
    KavexLibrary(const KavexLibrary&) = delete;
    KavexLibrary& operator=(const KavexLibrary&) = delete;

    // Loads the library: $KAVEX_LIBRARY when set, else (Linux) libkavex.so.1
    // beside the kavexctl executable, then through the dynamic loader's
    // search (which reads kavexctl's run path); (Windows) Kavex.dll. False
    // with a message for the user in *error.
    bool Load(std::string* error);

    // Loads the library and checks that it has every function named in
    // `needed`; on failure prints what to do and returns false.
    bool LoadFor(const char* command, std::initializer_list<const char*> needed);

    const KavexFunctions& Functions() const { return functions_; }
    const std::string& Path() const { return path_; }
    // True when the loaded library exports `name` (one of the eight).
    bool Has(const char* name) const;

private:
    void* handle_ = nullptr;
    std::string path_;
    KavexFunctions functions_;
};

}  // namespace kavexctl
