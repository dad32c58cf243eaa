#include "reader/configured_ports.h"

#include "reader/card_reading.h"
#include "reader/port_set.h"

ReaderPortPlan PlanReaderPorts(CPortConfig& config, const char* portName) {
    ReaderPortPlan plan;
    if (portName != nullptr) {
        plan.primary = PortNumberFromName(portName);
    } else if (config.m_pRecord != nullptr) {
        plan.primary = config.m_pRecord->PrimaryPort;
    }
    // Each entry is compared with the primary only: two further readers on
    // one port are both attempted, and the second open fails silently.
    for (int k = 0; k < kFurtherReaderCount; ++k) {
        plan.further[k] = config.GetFurtherPort(k + 1);
        if (plan.further[k] == 0) {
            plan.use[k] = ReaderPortPlan::Further::kAbsent;
        } else if (plan.further[k] == plan.primary) {
            plan.use[k] = ReaderPortPlan::Further::kSameAsPrimary;
        } else {
            plan.use[k] = ReaderPortPlan::Further::kOpened;
        }
    }
    return plan;
}

int OpenConfiguredReaders(const char* portName) {
    CPortConfig config;
    const ReaderPortPlan plan = PlanReaderPorts(config, portName);
    // Further readers first; only the primary reader's open decides the result.
    for (int k = 0; k < kFurtherReaderCount; ++k) {
        if (plan.use[k] == ReaderPortPlan::Further::kOpened)
            OpenComPort(*FurtherComPort(k + 1), plan.further[k]);
    }
    return OpenComPort(g_ComPort, plan.primary) == 1 ? 1 : 0;
}

int CloseFurtherComs() {
    CPortConfig config;
    for (int readerType = 1; readerType <= kFurtherReaderCount; ++readerType) {
        if (config.GetFurtherPort(readerType) == 0) continue;
        if (CloseComPort(*FurtherComPort(readerType)) == 0) return 0;
    }
    return 1;
}

int CloseConfiguredReaders() {
    if (CloseComPort(g_ComPort) == 0) return 0;
    return CloseFurtherComs();
}

int ReadFurtherCardCode(char* cardCode, int readerType) {
    if (cardCode == nullptr) return 0;
    CSerialPort* port = FurtherComPort(readerType);
    if (port == nullptr) return 0;  // not a reader type 1 to 4
    CPortConfig config;
    if (config.GetFurtherPort(readerType) == 0) return 0;  // no port configured for it
    return ReadCardCode(*port, cardCode);
}
