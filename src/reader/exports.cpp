// The module's exported interface: the eight functions of include/kavex.h,
// in ordinal order as src/reader/kavex.def lists them. Each is a thin call
// into the reader code:
//   port_set.h          the six port objects, the port-name rule, and the
//                       open and close sequences of one reader port
//   card_reading.h      card code reading (GetCardCode, GetCardCodeEx)
//   configured_ports.h  the primary and further readers of "ipportconfig.ini"
#include "kavex.h"
#include "reader/card_reading.h"
#include "reader/configured_ports.h"
#include "reader/port_set.h"
#include "serial/serial_exception.h"

namespace {

constexpr int kIdVersion = 20;

// Runs the body of an exported function so that no exception of any kind
// reaches the host, which cannot catch C++ exceptions: the reader code turns
// serial errors into 0 itself, and anything else (memory running out, say)
// gives 0 here.
//
// A body that cannot throw is simply called: the call then ends the export (a
// tail call), so that a poll returns to the host through one frame fewer.
template <class Body>
int Guarded(Body body) noexcept {
    if constexpr (noexcept(body())) {
        return body();
    } else {
        try {
            return body();
        } catch (CSerialException* error) {
            error->Delete();
        } catch (...) {
        }
        return 0;
    }
}

}  // namespace

// 1
extern "C" KAVEX_API int KAVEX_CALL OpenCom(const char* portName) {
    return Guarded([&] { return OpenConfiguredReaders(portName); });
}

// 2
extern "C" KAVEX_API int KAVEX_CALL GetCardCode(char* cardCode) {
    return Guarded([&]() noexcept { return ReadCardCode(g_ComPort, cardCode); });
}

// 3
extern "C" KAVEX_API int KAVEX_CALL CloseCom(void) {
    return Guarded([] { return CloseConfiguredReaders(); });
}

// 4
extern "C" KAVEX_API int KAVEX_CALL GetIDVersion(void) { return kIdVersion; }

// 5
extern "C" KAVEX_API int KAVEX_CALL GetCardCodeEx(char* cardCode, int codeLength) {
    return Guarded([&] { return ReadExtendedCardCode(cardCode, codeLength); });
}

// 6
extern "C" KAVEX_API int KAVEX_CALL CloseComEx(void) {
    return Guarded([] { return CloseComPort(g_ComPortEx) != 0 ? 1 : 0; });
}

// 7: the configuration is never read and `reserved` is ignored; a null name
// opens nothing.
extern "C" KAVEX_API int KAVEX_CALL OpenComEx(const char* portName, int /*reserved*/) {
    if (portName == nullptr) return 0;
    return Guarded([&] { return OpenComPort(g_ComPortEx, PortNumberFromName(portName)) == 1 ? 1 : 0; });
}

// 8
extern "C" KAVEX_API int KAVEX_CALL GetOtherCardCode(char* cardCode, int readerType) {
    return Guarded([&] { return ReadFurtherCardCode(cardCode, readerType); });
}
