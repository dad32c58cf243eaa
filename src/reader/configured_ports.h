// The configured reader ports: the primary reader and up to four further
// readers, whose port numbers come from the caller's port name (primary
// only) or from "ipportconfig.ini". The configuration is loaded anew on every
// call; nothing of it is cached.
#pragma once

#include "config/port_config.h"

constexpr int kFurtherReaderCount = 4;

// What opening the readers does with one configuration: the policy that
// OpenCom follows, and that tools report to the people who set readers up.
struct ReaderPortPlan {
    enum class Further {
        kAbsent,         // no port configured (entry 0)
        kSameAsPrimary,  // the entry names the primary's port: left untouched
        kOpened,         // OpenCom opens it (a failure is silent)
    };
    int primary = 1;                        // port number of the primary reader
    int further[kFurtherReaderCount] = {};  // configured port of reader k+1, 0 when absent
    Further use[kFurtherReaderCount] = {};
};

// The plan for `config` and the caller's port name (null: the configured
// primary port). The primary number follows the module's port-name rule.
ReaderPortPlan PlanReaderPorts(CPortConfig& config, const char* portName);

// OpenCom: opens the further readers the plan opens, in reader order, then
// the primary reader. 1 when the primary reader opened and was set up.
int OpenConfiguredReaders(const char* portName);

// CloseCom: closes the primary reader, then (when that succeeded) every
// further reader the configuration names now. 1 when all closed.
int CloseConfiguredReaders();

// Closes every further reader the configuration names, in reader order,
// stopping at the first that fails to close. 1 when all closed.
int CloseFurtherComs();

// GetOtherCardCode: a card code from further reader `readerType` (1 to 4),
// when the configuration names a port for it. 1 with a code, else 0.
int ReadFurtherCardCode(char* cardCode, int readerType);
