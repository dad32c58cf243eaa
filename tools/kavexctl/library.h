// The Kavex library as kavexctl uses it: loaded at run time, like any host
// loads it, with its eight exported functions looked up by name.
#pragma once

#include <initializer_list>
#include <string>
#include <utility>

#include "kavex.h"
#include "kavexctl/options.h"

namespace kavexctl {

// The eight exported functions of kavex.h, in ordinal order: the one list
// from which kavexctl's table of functions, their lookup and the check that
// a library has them are all made.
#define KAVEX_EXPORTED_FUNCTIONS(X) \
    X(OpenCom)                      \
    X(GetCardCode)                  \
    X(CloseCom)                     \
    X(GetIDVersion)                 \
    X(GetCardCodeEx)                \
    X(CloseComEx)                   \
    X(OpenComEx)                    \
    X(GetOtherCardCode)

// The exported functions; a function the loaded library lacks is null.
struct KavexFunctions {
#define KAVEX_FUNCTION_POINTER(name) decltype(&::name) name = nullptr;
    KAVEX_EXPORTED_FUNCTIONS(KAVEX_FUNCTION_POINTER)
#undef KAVEX_FUNCTION_POINTER
};

// "--library PATH": the option of every command that loads the library.
constexpr OptionSpec kLibraryOption = {"library", true};

class KavexLibrary {
public:
    // `chosen`: the library to load, from --library; "" for the usual search.
    explicit KavexLibrary(std::string chosen = "") : chosen_(std::move(chosen)) {}
    ~KavexLibrary();
    KavexLibrary(const KavexLibrary&) = delete;
    KavexLibrary& operator=(const KavexLibrary&) = delete;

    // Loads the library: the one chosen with --library, else $KAVEX_LIBRARY
    // when set, else (Linux) libkavex.so.1 beside the kavexctl executable,
    // then through the dynamic loader's search (which reads kavexctl's run
    // path); (Windows) Kavex.dll beside kavexctl.exe, then on the system's
    // search path. False with a message for the user in *error.
    bool Load(std::string* error);

    // Loads the library and checks that it has every function named in
    // `needed`; on failure prints what to do and returns false.
    bool LoadFor(const char* command, std::initializer_list<const char*> needed);

    const KavexFunctions& Functions() const { return functions_; }
    // The file that was loaded, as a full path where the system tells it
    // (on Linux with links resolved: libkavex.so.1.0.0).
    const std::string& Path() const { return path_; }
    // Path(), with the file version of its version resource on Windows
    // (C:\client\Kavex.dll, file version 1.0.0.0), for messages.
    std::string Describe() const;
    // True when the loaded library exports `name` (one of the eight).
    bool Has(const char* name) const;

private:
    std::string chosen_;
    void* handle_ = nullptr;
    std::string path_;
    KavexFunctions functions_;
};

}  // namespace kavexctl
