/*
 * A host of Kavex.dll: loads the library at run time, resolves its exports,
 * opens a card reader on the extended port and prints the codes it reads.
 *
 *   kavex_host COM3 [count]      prints `count` ten-digit codes (default 1)
 *                                from the extended port
 *   kavex_host --config [count]  opens the readers of the ipportconfig.ini
 *                                beside this program (COM1 without one) and
 *                                polls the primary and further readers
 *
 * Kavex.dll must lie beside this program or on the DLL search path. Only
 * include/kavex.h is needed to build it: the exports are resolved with
 * GetProcAddress, so no import library is involved.
 */
#include <windows.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "kavex.h"

/* The eight exports with their ordinals (see include/kavex.h). */
enum {
    kOpenCom,
    kGetCardCode,
    kCloseCom,
    kGetIDVersion,
    kGetCardCodeEx,
    kCloseComEx,
    kOpenComEx,
    kGetOtherCardCode,
    kExportCount
};
static const char* const kExportNames[kExportCount] = {"OpenCom",      "GetCardCode",     "CloseCom",
                                                       "GetIDVersion", "GetCardCodeEx",   "CloseComEx",
                                                       "OpenComEx",    "GetOtherCardCode"};

typedef int(KAVEX_CALL* GetIDVersionFn)(void);
typedef int(KAVEX_CALL* OpenComExFn)(const char* portName, int reserved);
typedef int(KAVEX_CALL* GetCardCodeExFn)(char* cardCode, int codeLength);
typedef int(KAVEX_CALL* CloseComExFn)(void);
typedef int(KAVEX_CALL* OpenComFn)(const char* portName);
typedef int(KAVEX_CALL* GetCardCodeFn)(char* cardCode);
typedef int(KAVEX_CALL* GetOtherCardCodeFn)(char* cardCode, int readerType);
typedef int(KAVEX_CALL* CloseComFn)(void);

/* The configured readers: OpenCom with no name takes the ports from the
 * configuration file. GetCardCode and GetOtherCardCode return at once when
 * no code is waiting, so the host polls them. */
static int ReadConfiguredReaders(FARPROC* exports, int count) {
    OpenComFn openCom = (OpenComFn)(void*)exports[kOpenCom];
    GetCardCodeFn getCardCode = (GetCardCodeFn)(void*)exports[kGetCardCode];
    GetOtherCardCodeFn getOtherCardCode = (GetOtherCardCodeFn)(void*)exports[kGetOtherCardCode];
    CloseComFn closeCom = (CloseComFn)(void*)exports[kCloseCom];

    if (!openCom(NULL)) {
        fprintf(stderr, "cannot open the configured readers\n");
        return 0;
    }
    printf("Reading card codes from the configured readers\n");
    fflush(stdout);
    for (int read = 0; read < count;) {
        char code[11] = {0};
        if (getCardCode(code)) {
            printf("Primary card code: %.10s\n", code);
            ++read;
        }
        for (int reader = 1; reader <= 4 && read < count; ++reader) {
            char other[11] = {0};
            if (getOtherCardCode(other, reader)) {
                printf("Reader %d card code: %.10s\n", reader, other);
                ++read;
            }
        }
        fflush(stdout);
        Sleep(100);
    }
    return closeCom();
}

int main(int argc, char** argv) {
    if (argc < 2) {
        fprintf(stderr, "usage: kavex_host COMn|--config [count]\n");
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
    if (strcmp(port, "--config") == 0) {
        const int closed = ReadConfiguredReaders(exports, count);
        FreeLibrary(kavex);
        return closed ? 0 : 1;
    }
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
