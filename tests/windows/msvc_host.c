/*
 * A host of Kavex.dll built as an MSVC user builds one: compiled by clang-cl
 * in MSVC mode and linked by lld-link against Kavex.lib (with /SAFESEH on
 * 32-bit), so that every one of the eight import symbols must resolve.
 *
 *   kavex_msvc_host COMn
 *
 * Reads one ten-digit code on the extended port, prints "Card code: ..."
 * and checks the other exports on a port without a device (COM9). No C
 * run-time library is linked, only KERNEL32: the program needs no more, and
 * the MinGW run-time objects are not built for /SAFESEH. Exits 0 when every
 * result was as expected.
 */
#include <windows.h>

#include "kavex.h"

static HANDLE g_out;
static int g_failures;

static int Length(const char* text) {
    int length = 0;
    while (text[length] != '\0') ++length;
    return length;
}

static void Print(const char* text) {
    DWORD written;
    WriteFile(g_out, text, (DWORD)Length(text), &written, NULL);
}

static void PrintNumber(int number) {
    char digits[12];
    int at = (int)sizeof digits - 1;
    unsigned value = number < 0 ? 0u - (unsigned)number : (unsigned)number;
    digits[at] = '\0';
    do {
        digits[--at] = (char)('0' + value % 10);
        value /= 10;
    } while (value != 0 && at > 1);
    if (number < 0) digits[--at] = '-';
    Print(digits + at);
}

static void Expect(const char* call, int result, int expected) {
    Print(result == expected ? "ok: " : "FAILED: ");
    Print(call);
    Print(" gives ");
    PrintNumber(result);
    Print("\n");
    if (result != expected) ++g_failures;
}

/* The first argument of the command line, after the program's name. */
static const char* PortArgument(char* line) {
    char* at = line;
    if (*at == '"') {
        ++at;
        while (*at != '\0' && *at != '"') ++at;
        if (*at == '"') ++at;
    } else {
        while (*at != '\0' && *at != ' ' && *at != '\t') ++at;
    }
    while (*at == ' ' || *at == '\t') ++at;
    char* end = at;
    while (*end != '\0' && *end != ' ' && *end != '\t') ++end;
    *end = '\0';
    return at;
}

void __cdecl HostMain(void) {
    char code[11];
    const char* port = PortArgument(GetCommandLineA());
    g_out = GetStdHandle(STD_OUTPUT_HANDLE);
    if (*port == '\0') {
        Print("usage: kavex_msvc_host COMn\n");
        ExitProcess(2);
    }

    Expect("GetIDVersion()", GetIDVersion(), 20);
    Expect("OpenCom(\"COM9\") (no device)", OpenCom("COM9"), 0);
    Expect("GetCardCode() on a closed port", GetCardCode(code), 0);
    Expect("GetOtherCardCode(code, 1) without a further reader", GetOtherCardCode(code, 1), 0);
    Expect("CloseCom()", CloseCom(), 1);

    if (OpenComEx(port, 0) != 1) {
        Print("FAILED: OpenComEx cannot open the port\n");
        ExitProcess(1);
    }
    Print("Reading on ");
    Print(port);
    Print("\n");
    const int digits = GetCardCodeEx(code, 10);
    Expect("GetCardCodeEx(code, 10)", digits, 10);
    if (digits == 10) {
        Print("Card code: ");
        Print(code);
        Print("\n");
    }
    Expect("CloseComEx()", CloseComEx(), 1);
    ExitProcess(g_failures == 0 ? 0 : 1);
}
