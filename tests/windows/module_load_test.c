/*
 * Loads and unloads Kavex.dll the way a host does and checks what the module
 * does at load and unload:
 *
 *   kavex_module_test PRIMARY EXTENDED     e.g. kavex_module_test COM2 COM1
 *
 * Loading opens no port; OpenCom opens the primary reader port (g_ComPort)
 * and OpenComEx the extended one (g_ComPortEx); FreeLibrary, with both still
 * open, unloads the module and closes both, so the devices can be opened
 * again and the module loaded and used once more.
 *
 * Who holds a device can only be seen from outside Wine, so at each
 * checkpoint the program prints "CHECKPOINT <name>" and waits for a line on
 * its input; scripts/test-windows.sh then reads who holds the
 * pseudo-terminals from the TIOCMGET shim's log of descriptors opened and
 * closed (tests/windows/tiocmget_shim.c), and, from the order in which the
 * ports are let go at unload, checks that g_ComPortEx is destroyed before
 * g_ComPort: the reverse of their construction order. With its input at end
 * of file the program runs straight through. Prints PASS and exits 0 when
 * every check made here held.
 */
#include <windows.h>

#include <stdio.h>
#include <string.h>

#include "kavex.h"

typedef int(KAVEX_CALL* OpenComFn)(const char* portName);
typedef int(KAVEX_CALL* OpenComExFn)(const char* portName, int reserved);
typedef int(KAVEX_CALL* CloseFn)(void);
typedef int(KAVEX_CALL* GetIDVersionFn)(void);

static int g_failures = 0;

static void Check(int condition, const char* what) {
    printf("%s: %s\n", condition ? "ok" : "FAILED", what);
    if (!condition) ++g_failures;
}

static void Checkpoint(const char* name) {
    char line[64];
    printf("CHECKPOINT %s\n", name);
    fflush(stdout);
    if (fgets(line, sizeof line, stdin) == NULL) return;
}

/* Opens the device exclusively, as the module does, and closes it again. */
static int CanOpen(const char* portName) {
    char device[32];
    snprintf(device, sizeof device, "\\\\.\\%s", portName);
    HANDLE handle = CreateFileA(device, GENERIC_READ | GENERIC_WRITE, 0, NULL, OPEN_EXISTING, 0, NULL);
    if (handle == INVALID_HANDLE_VALUE) return 0;
    CloseHandle(handle);
    return 1;
}

static FARPROC Export(HMODULE module, const char* name) {
    FARPROC function = GetProcAddress(module, name);
    if (function == NULL) printf("FAILED: Kavex.dll does not export %s\n", name);
    return function;
}

int main(int argc, char** argv) {
    if (argc != 3) {
        fprintf(stderr, "usage: kavex_module_test PRIMARY EXTENDED\n");
        return 2;
    }
    const char* primary = argv[1];
    const char* extended = argv[2];
    setvbuf(stdout, NULL, _IONBF, 0);

    Check(GetModuleHandleA("Kavex.dll") == NULL, "Kavex.dll is not loaded before LoadLibraryA");
    HMODULE kavex = LoadLibraryA("Kavex.dll");
    if (kavex == NULL) {
        printf("FAILED: cannot load Kavex.dll (error %lu)\n", GetLastError());
        return 1;
    }
    OpenComFn openCom = (OpenComFn)(void*)Export(kavex, "OpenCom");
    OpenComExFn openComEx = (OpenComExFn)(void*)Export(kavex, "OpenComEx");
    GetIDVersionFn getIDVersion = (GetIDVersionFn)(void*)Export(kavex, "GetIDVersion");
    if (openCom == NULL || openComEx == NULL || getIDVersion == NULL) return 1;
    Check(getIDVersion() == 20, "GetIDVersion gives 20 after load");
    Checkpoint("loaded");

    Check(openCom(primary) == 1, "OpenCom opens the primary reader port");
    Check(openComEx(extended, 0) == 1, "OpenComEx opens the extended port");
    Checkpoint("open");

    /* Unload with both ports still open: the port objects close them. */
    Check(FreeLibrary(kavex) != 0, "FreeLibrary succeeds");
    Check(GetModuleHandleA("Kavex.dll") == NULL, "Kavex.dll is gone after FreeLibrary");
    Checkpoint("unloaded");

    Check(CanOpen(primary), "the primary reader's device opens again after unload");
    Check(CanOpen(extended), "the extended port's device opens again after unload");

    /* A second load starts from fresh port objects. */
    kavex = LoadLibraryA("Kavex.dll");
    Check(kavex != NULL, "Kavex.dll loads again");
    if (kavex != NULL) {
        openComEx = (OpenComExFn)(void*)Export(kavex, "OpenComEx");
        CloseFn closeComEx = (CloseFn)(void*)Export(kavex, "CloseComEx");
        if (openComEx != NULL && closeComEx != NULL) {
            Check(openComEx(extended, 0) == 1, "OpenComEx opens the extended port after a reload");
            Check(closeComEx() == 1, "CloseComEx closes it");
        } else {
            ++g_failures;
        }
        FreeLibrary(kavex);
    }

    if (g_failures != 0) {
        printf("FAIL: %d check(s)\n", g_failures);
        return 1;
    }
    printf("PASS\n");
    return 0;
}
