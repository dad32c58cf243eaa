/*
 * A host of Kavex.dll: loads the library at run time, resolves its exports,
 * opens a card reader on the extended port and prints the codes it reads.
 *
 *   kavex_host COM3 [count]     prints `count` ten-digit codes (default 1)
 *
 * Kavex.dll must lie beside this program or on the DLL search path. Only
 * include/kavex.h is needed to build it: the exports are resolved with
 * GetProcAddress, so no import library is involved.
 */
#include <windows.h>

#include <stdio.h>
#include <stdlib.h>

#include "kavex.h"

/* The eight exports with their ordinals (see include/kavex.h). */
enum { kOpenCom, kGetCardCode, kCloseCom, kGetIDVersion, kGetCardCodeEx, kCloseComEx, kOpenComEx,
       kGetOtherCardCode, kExportCount };
static const char* const kExportNames[kExportCount] = {
    "OpenCom", "GetCardCode", "CloseCom", "GetIDVersion",
    "GetCardCodeEx", "CloseComEx", "OpenComEx", "GetOtherCardCode"};

typedef int(KAVEX_CALL* GetIDVersionFn)(void);
typedef int(KAVEX_CALL* OpenComExFn)(const char* portName, int reserved);
typedef int(KAVEX_CALL* GetCardCodeExFn)(char* cardCode, int codeLength);
typedef int(KAVEX_CALL* CloseComExFn)(void);

int main(int argc, char** argv) {
    if (argc < 2) {
        fprintf(stderr, "usage: kavex_host COMn [count]\n");
        return 2;
    }
    const char* port = argv[1];
    const int count = argc > 2 ? atoi(argv[2]) : 1;

    HMODULE kavex = LoadLibraryA("Kavex.dll");
    if (kavex == NULL) {
        fprintf(stderr, "cannot load Kavex.dll (error %lu)\n", GetLastError());
        return 1;
    }

    /* Every export must be there, and its name and its ordinal must lead to
     * the same function. */
    FARPROC exports[kExportCount];
    for (int i = 0; i < kExportCount; ++i) {
        FARPROC byName = GetProcAddress(kavex, kExportNames[i]);
        FARPROC byOrdinal = GetProcAddress(kavex, MAKEINTRESOURCEA(i + 1));
        if (byName == NULL || byName != byOrdinal) {
            fprintf(stderr, "Kavex.dll: %s is not export %d\n", kExportNames[i], i + 1);
            FreeLibrary(kavex);
            return 1;
        }
        exports[i] = byName;
    }
    GetIDVersionFn getIDVersion = (GetIDVersionFn)(void*)exports[kGetIDVersion];
    OpenComExFn openComEx = (OpenComExFn)(void*)exports[kOpenComEx];
    GetCardCodeExFn getCardCodeEx = (GetCardCodeExFn)(void*)exports[kGetCardCodeEx];
    CloseComExFn closeComEx = (CloseComExFn)(void*)exports[kCloseComEx];

    printf("Kavex.dll version %d\n", getIDVersion());
    if (!openComEx(port, 0)) {
        fprintf(stderr, "cannot open the reader on %s\n", port);
        FreeLibrary(kavex);
        return 1;
    }
    printf("Reading card codes on %s\n", port);
    fflush(stdout);

    /* GetCardCodeEx waits until the reader has sent ten digits; a host with a
     * user interface calls it from a worker thread. */
    for (int i = 0; i < count; ++i) {
        char code[11];
        const int digits = getCardCodeEx(code, 10);
        printf("Card code: %.*s\n", digits, code);
        fflush(stdout);
    }

    const int closed = closeComEx();
    FreeLibrary(kavex);
    return closed ? 0 : 1;
}
