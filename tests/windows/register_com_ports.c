/*
 * Registers COM ports as Windows' serial port drivers do, for the tests of
 * `kavexctl ports`:
 *
 *   register_com_ports DEVICE=COMn ...   e.g. \Device\Serial0=COM1
 *
 * Each pair becomes a value of HKEY_LOCAL_MACHINE\HARDWARE\DEVICEMAP\SERIALCOMM
 * (name DEVICE, REG_SZ data COMn). HKLM\HARDWARE lives only as long as the
 * system runs, so the key is made volatile, as the drivers' entries are:
 * reg.exe cannot write there. Exits 0 when every value was written.
 */
#include <windows.h>

#include <stdio.h>
#include <string.h>

int main(int argc, char** argv) {
    HKEY key;
    LONG result = RegCreateKeyExA(HKEY_LOCAL_MACHINE, "HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, NULL,
                                  REG_OPTION_VOLATILE, KEY_SET_VALUE, NULL, &key, NULL);
    if (result != ERROR_SUCCESS) {
        fprintf(stderr, "register_com_ports: cannot create the SERIALCOMM key (error %ld)\n", (long)result);
        return 1;
    }
    int failed = 0;
    for (int i = 1; i < argc; ++i) {
        char device[256];
        const char* equals = strchr(argv[i], '=');
        if (equals == NULL || (size_t)(equals - argv[i]) >= sizeof device) {
            fprintf(stderr, "register_com_ports: expected DEVICE=COMn, not '%s'\n", argv[i]);
            failed = 1;
            continue;
        }
        memcpy(device, argv[i], (size_t)(equals - argv[i]));
        device[equals - argv[i]] = '\0';
        const char* name = equals + 1;
        result = RegSetValueExA(key, device, 0, REG_SZ, (const BYTE*)name, (DWORD)strlen(name) + 1);
        if (result != ERROR_SUCCESS) {
            fprintf(stderr, "register_com_ports: cannot write %s (error %ld)\n", device, (long)result);
            failed = 1;
        }
    }
    RegCloseKey(key);
    return failed;
}
