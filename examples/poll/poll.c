/*
 * A host that polls the card readers, as a registration client does. The
 * same source builds on Windows (against Kavex.dll) and on Linux (against
 * libkavex.so.1):
 *
 *   kavex_poll                the readers of the ipportconfig.ini beside
 *                             this program (COM1 alone without one)
 *   kavex_poll COM3 [COUNT]   the primary reader on COM3 and the configured
 *                             further readers
 *
 * It prints each code as it arrives and ends after COUNT codes, or after
 * about a minute. Exit status 0 when COUNT codes (or, without COUNT, no
 * error) came.
 */
#if !defined(_WIN32) && !defined(_POSIX_C_SOURCE)
#define _POSIX_C_SOURCE 200809L /* nanosleep */
#endif

#include <stdio.h>
#include <stdlib.h>

#include "kavex.h"

/* The pause between polls: the one line that differs between the systems. */
#ifdef _WIN32
#include <windows.h>
static void PauseMs(int ms) { Sleep((DWORD)ms); }
#else
#include <time.h>
static void PauseMs(int ms) {
    struct timespec pause;
    pause.tv_sec = ms / 1000;
    pause.tv_nsec = (long)(ms % 1000) * 1000000L;
    nanosleep(&pause, NULL);
}
#endif

int main(int argc, char** argv) {
    const char* port = argc > 1 ? argv[1] : NULL; /* NULL: the configured port */
    const int wanted = argc > 2 ? atoi(argv[2]) : 0;
    char code[11];
    int codes = 0;
    int poll;
    int reader;

    if (!OpenCom(port)) {
        fprintf(stderr, "cannot open the card reader on %s\n", port != NULL ? port : "the configured port");
        return 1;
    }
    printf("polling the card readers\n");
    for (poll = 0; poll < 600 && (wanted == 0 || codes < wanted); ++poll) { /* about a minute */
        code[10] = '\0';
        if (GetCardCode(code)) {
            printf("card %s\n", code);
            ++codes;
        }
        for (reader = 1; reader <= 4; ++reader) {
            code[10] = '\0';
            if (GetOtherCardCode(code, reader)) {
                printf("reader %d: card %s\n", reader, code);
                ++codes;
            }
        }
        fflush(stdout);
        PauseMs(100);
    }
    CloseCom();
    return codes >= wanted ? 0 : 1;
}
