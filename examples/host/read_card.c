/*
 * A host of Kavex.dll that is linked against its import library, the way
 * most C and C++ hosts use it: Kavex.lib with MSVC, libkavex.dll.a with
 * MinGW (see README.txt of the release for the one-line builds).
 *
 *   read_card [COMn] [count]
 *
 * Opens the readers as a client program does: the primary reader on COMn,
 * or, without a name, on the port of the ipportconfig.ini beside this
 * program (COM1 when there is none), and the further readers configured
 * there. Prints each card code as it arrives, until Ctrl-C or `count`
 * codes, then closes the readers. Kavex.dll must lie beside the program or
 * on the DLL search path.
 */
#include <windows.h>

#include <stdio.h>
#include <stdlib.h>

#include "kavex.h"

static volatile LONG g_stop = 0;

/* Ctrl-C and Ctrl-Break: the polling loop below ends and closes the ports. */
static BOOL WINAPI OnConsoleControl(DWORD type) {
    (void)type;
    InterlockedExchange(&g_stop, 1);
    return TRUE;
}

int main(int argc, char** argv) {
    const char* port = argc > 1 ? argv[1] : NULL;   /* NULL: the configured port */
    const int count = argc > 2 ? atoi(argv[2]) : 0; /* 0: until Ctrl-C */

    printf("Kavex interface version %d\n", GetIDVersion());
    if (!OpenCom(port)) {
        fprintf(stderr, "cannot open the card reader on %s\n", port != NULL ? port : "the configured port");
        CloseCom(); /* further readers that did open */
        return 1;
    }
    SetConsoleCtrlHandler(OnConsoleControl, TRUE);
    printf("Waiting for cards; Ctrl-C ends.\n");
    fflush(stdout);

    /* GetCardCode and GetOtherCardCode return at once, 1 with a code and 0
     * when none is waiting: poll every 100 ms. Byte 10 of the buffer is not
     * always written, so it is cleared before each call. */
    int read = 0;
    while (!g_stop && (count == 0 || read < count)) {
        char code[11];
        code[10] = '\0';
        if (GetCardCode(code)) {
            printf("primary reader: %s\n", code);
            ++read;
        }
        for (int reader = 1; reader <= 4; ++reader) {
            code[10] = '\0';
            if (GetOtherCardCode(code, reader)) {
                printf("reader %d: %s\n", reader, code);
                ++read;
            }
        }
        fflush(stdout);
        Sleep(100);
    }
    return CloseCom() ? 0 : 1;
}
