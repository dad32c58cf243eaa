// The extended port's exported open and close, and the version query.
#include "kavex.h"
#include "reader/port_set.h"

extern "C" KAVEX_API int KAVEX_CALL OpenComEx(const char* portName, int /*reserved*/) {
    if (portName == nullptr) return 0;
    return OpenComPort(g_ComPortEx, PortNumberFromName(portName)) == 1 ? 1 : 0;
}

extern "C" KAVEX_API int KAVEX_CALL CloseComEx(void) { return CloseComPort(g_ComPortEx) != 0 ? 1 : 0; }

extern "C" KAVEX_API int KAVEX_CALL GetIDVersion(void) { return 20; }
