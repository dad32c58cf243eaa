// kavexctl ports: the COM ports of this machine, the device behind each and
// whether it can be opened now.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "kavexctl/commands.h"
#include "kavexctl/options.h"
#include "kavexctl/port_probe.h"
#include "kavexctl/registered_ports.h"

#ifndef _WIN32
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>

#endif

namespace kavexctl {

void PrintPortsUsage(FILE* out) {
    std::fprintf(out,
#ifdef _WIN32
                 "usage: kavexctl ports\n"
                 "\n"
                 "Lists the COM ports Windows has registered (HKEY_LOCAL_MACHINE\\HARDWARE\\DEVICEMAP\\\n"
                 "SERIALCOMM), the device behind each and whether it can be opened now.\n"
#else
                 "usage: kavexctl ports [--all]\n"
                 "\n"
                 "Lists COM1 to COM255 as the library finds them and whether each can be opened now.\n"
                 "On Linux COMn is $KAVEX_PREFIX/dosdevices/comn when that link exists, else\n"
                 "/dev/ttyS(n-1); USB adapters (/dev/ttyUSB*, /dev/ttyACM*) get a COM name from such a\n"
                 "link. --all also shows /dev/ttyS ports with no hardware behind them.\n"
#endif
    );
}

namespace {

#ifdef _WIN32

int ListPorts(bool) {
    std::vector<RegisteredPort> ports;
    std::string error;
    if (!RegisteredComPorts(&ports, &error)) {
        std::fprintf(stderr, "kavexctl ports: %s\n", error.c_str());
        return kExitFailure;
    }
    if (ports.empty()) {
        std::printf(
            "No COM ports are registered (HKEY_LOCAL_MACHINE\\HARDWARE\\DEVICEMAP\\SERIALCOMM is empty):\n"
            "plug the reader in, or install the driver of its USB adapter.\n");
        return kExitOk;
    }
    std::printf("%-6s %-24s %s\n", "PORT", "DEVICE", "STATUS");
    for (const RegisteredPort& port : ports) {
        std::string status;
        if (port.number == 0) {
            status = "not a COM port name";
        } else {
            status = Describe(ProbePort(port.number));
            if (port.number > 9) status += "; above COM9, a host cannot name it";
        }
        std::printf("%-6s %-24s %s\n", port.name.c_str(), port.device.c_str(), status.c_str());
    }
    std::printf(
        "\nA host names COM1 to COM9 only (the fourth character of the name counts: COM10 is\n"
        "COM1). Device Manager gives a port another number (the port's Properties, Port\n"
        "Settings, Advanced).\n");
    return kExitOk;
}

#else

namespace fs = std::filesystem;

std::string Canonical(const std::string& path) {
    std::error_code error;
    const fs::path resolved = fs::canonical(path, error);
    return error ? path : resolved.string();
}

// /dev/ttyUSB* and /dev/ttyACM*, sorted.
std::vector<std::string> UsbDevices() {
    std::vector<std::string> devices;
    std::error_code error;
    for (const auto& entry : fs::directory_iterator("/dev", error)) {
        const std::string name = entry.path().filename().string();
        if (name.rfind("ttyUSB", 0) == 0 || name.rfind("ttyACM", 0) == 0)
            devices.push_back(entry.path().string());
    }
    std::sort(devices.begin(), devices.end());
    return devices;
}

int ListPorts(bool all) {
    const std::string prefix = SystemPrefix();
    std::vector<std::string> reached;  // devices that have a COM name
    std::vector<int> freeNames;        // COM1..COM9 with no device that works
    int shown = 0, hidden = 0;
    for (int n = 1; n <= 255; ++n) {
        const std::string path = ComDevice(n);
        struct stat info {};
        if (lstat(path.c_str(), &info) != 0) {
            if (n <= 9) freeNames.push_back(n);
            continue;
        }
        const PortProbe probe = ProbePort(n);
        if (!probe.mapped && probe.state == PortState::kNoHardware) {
            if (n <= 9) freeNames.push_back(n);
            if (!all) {
                ++hidden;
                continue;
            }
        }
        reached.push_back(Canonical(path));
        if (shown++ == 0) std::printf("%-6s %-34s %s\n", "PORT", "DEVICE", "STATUS");
        std::string device = probe.device + (probe.mapped ? " (link)" : "");
        std::string status = Describe(probe);
        if (n > 9) status += "; above COM9, a host cannot name it";
        std::printf("COM%-3d %-34s %s\n", n, device.c_str(), status.c_str());
    }
    if (shown == 0) std::printf("No COM ports found.\n");
    if (hidden > 0) {
        std::printf("(%d /dev/ttyS port%s with no hardware behind %s not shown; --all shows them)\n", hidden,
                    hidden == 1 ? "" : "s", hidden == 1 ? "it" : "them");
    }

    std::vector<std::string> unnamed;
    for (const std::string& device : UsbDevices()) {
        if (std::find(reached.begin(), reached.end(), Canonical(device)) == reached.end())
            unnamed.push_back(device);
    }
    if (!unnamed.empty()) {
        const std::string directory = prefix + "/dosdevices";
        const bool writable = access(directory.c_str(), W_OK) == 0 || access(prefix.c_str(), W_OK) == 0;
        const std::string sudo = writable ? "" : "sudo ";
        std::printf("\nDevices without a COM name (a host cannot open them yet):\n");
        size_t next = 0;
        for (const std::string& device : unnamed) {
            const PortProbe probe = ProbeDevice(device);
            std::printf("  %-30s %s\n", device.c_str(), Describe(probe).c_str());
            const int n = next < freeNames.size() ? freeNames[next++] : 9;
            std::printf("    give it a COM name:  %smkdir -p %s && %sln -sfn %s %s/com%d\n", sudo.c_str(),
                        directory.c_str(), sudo.c_str(), device.c_str(), directory.c_str(), n);
        }
    }
    std::printf(
        "\nKAVEX_PREFIX is %s. A host names COM1 to COM9 only (the fourth character of the name\n"
        "counts: COM10 is COM1); map any device to one of them with a link in %s/dosdevices.\n",
        prefix.c_str(), prefix.c_str());
    return kExitOk;
}

#endif

}  // namespace

int RunPorts(int argc, char** argv) {
    ParsedArgs args;
    if (!ParseArgs("ports", argc, argv, {{"all", false}}, &args)) return kExitUsage;
    if (args.help) {
        PrintPortsUsage(stdout);
        return kExitOk;
    }
    if (!args.operands.empty()) {
        std::fprintf(stderr, "kavexctl ports: unexpected argument '%s'\n\n", args.operands[0].c_str());
        PrintPortsUsage(stderr);
        return kExitUsage;
    }
    const bool all = args.Has("all");
    return ListPorts(all);
}

}  // namespace kavexctl
