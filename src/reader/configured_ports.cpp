// The exported functions of the configured reader ports: the primary reader
// and up to four further readers, whose port numbers come from the caller's
// port name (primary only) or from "ipportconfig.ini". The configuration is
// loaded anew on every call; nothing of it is cached.
#include "config/port_config.h"
#include "kavex.h"
#include "reader/card_reading.h"
#include "reader/port_set.h"

namespace {

constexpr int kFurtherReaders = 4;

// The configured port of further reader k (1 to 4); 0 when it is absent or
// the configuration has no record.
int ConfiguredFurtherPort(const CPortConfig& config, int readerType) {
    if (config.m_pRecord == nullptr) return 0;
    return config.m_pRecord->FurtherPorts[readerType - 1];
}

}  // namespace

// Closes every further reader the configuration names, in reader order,
// stopping at the first that fails to close. 1 when all closed.
int CloseFurtherComs() {
    CPortConfig config;
    for (int readerType = 1; readerType <= kFurtherReaders; ++readerType) {
        if (ConfiguredFurtherPort(config, readerType) == 0) continue;
        if (CloseComPort(*FurtherComPort(readerType)) == 0) return 0;
    }
    return 1;
}

extern "C" KAVEX_API int KAVEX_CALL OpenCom(const char* portName) {
    CPortConfig config;
    int primary = 1;
    if (portName != nullptr) {
        primary = PortNumberFromName(portName);
    } else if (config.m_pRecord != nullptr) {
        primary = config.m_pRecord->PrimaryPort;
    }
    // Further readers first; a reader on the primary's port is skipped, and
    // a further reader that fails to open does not fail the call.
    for (int readerType = 1; readerType <= kFurtherReaders; ++readerType) {
        const int port = ConfiguredFurtherPort(config, readerType);
        if (port != 0 && port != primary) OpenComPort(*FurtherComPort(readerType), port);
    }
    return OpenComPort(g_ComPort, primary) == 1 ? 1 : 0;
}

extern "C" KAVEX_API int KAVEX_CALL CloseCom(void) {
    if (CloseComPort(g_ComPort) == 0) return 0;
    return CloseFurtherComs();
}

extern "C" KAVEX_API int KAVEX_CALL GetOtherCardCode(char* cardCode, int readerType) {
    if (cardCode == nullptr) return 0;
    CPortConfig config;
    if (config.GetFurtherPort(readerType) == 0) return 0;
    CSerialPort* port = FurtherComPort(readerType);
    if (port == nullptr) return 0;
    return ReadCardCode(*port, cardCode);
}
