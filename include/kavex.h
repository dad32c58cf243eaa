/*
 * Kavex card-reader library: the exported interface.
 *
 * A host opens the reader ports, polls them for card codes (strings of ASCII
 * digits) and closes them again. All functions return 32-bit ints, use the
 * Win32 standard calling convention on 32-bit Windows and are exported from
 * Kavex.dll by undecorated name with the ordinals given below.
 *
 * Threads: call the functions from one thread at a time, with one exception.
 * To cancel a GetCardCodeEx (or GetCardCode) that is waiting, call
 * CloseComEx (or CloseCom) from another thread: the wait ends within about
 * 100 ms, the read function returns 0, and GetCardCodeEx keeps every digit
 * it had gathered for its next call. No exception ever leaves a function.
 */
#ifndef KAVEX_H
#define KAVEX_H

#if defined(_WIN32) && !defined(_WIN64)
#define KAVEX_CALL __stdcall
#else
#define KAVEX_CALL
#endif

#if defined(_WIN32)
#define KAVEX_API
#elif defined(KAVEX_BUILDING_LIBRARY)
#define KAVEX_API __attribute__((visibility("default")))
#else
#define KAVEX_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Ordinal 1. Opens the primary reader on portName ("COM1"... only the fourth
 * character counts), or on the configured port when portName is null, and the
 * configured further readers. 1 when the primary reader opened. */
KAVEX_API int KAVEX_CALL OpenCom(const char* portName);

/* Ordinal 2. Reads a ten-digit code from the primary reader into cardCode
 * (11 bytes). 1 with a code, 0 when none is waiting. */
KAVEX_API int KAVEX_CALL GetCardCode(char* cardCode);

/* Ordinal 3. Closes the primary and the configured further readers. */
KAVEX_API int KAVEX_CALL CloseCom(void);

/* Ordinal 4. Always 20. */
KAVEX_API int KAVEX_CALL GetIDVersion(void);

/* Ordinal 5. Waits for codeLength digits (0 to 50) on the extended port and
 * writes them with a terminator to cardCode (codeLength + 1 bytes); digits
 * beyond codeLength are kept for the next call. Returns the digits written. */
KAVEX_API int KAVEX_CALL GetCardCodeEx(char* cardCode, int codeLength);

/* Ordinal 6. Closes the extended port. 1 when it closed or was not open.
 * May be called from another thread to cancel a waiting GetCardCodeEx. */
KAVEX_API int KAVEX_CALL CloseComEx(void);

/* Ordinal 7. Opens the extended port on portName ("COM1"... only the fourth
 * character counts); reserved is ignored. 1 when it opened. */
KAVEX_API int KAVEX_CALL OpenComEx(const char* portName, int reserved);

/* Ordinal 8. Reads a ten-digit code from further reader readerType (1 to 4)
 * into cardCode (11 bytes). 1 with a code, else 0. */
KAVEX_API int KAVEX_CALL GetOtherCardCode(char* cardCode, int readerType);

#ifdef __cplusplus
}
#endif

#endif /* KAVEX_H */
