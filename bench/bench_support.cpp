#include "bench_support.h"

#include <dirent.h>
#include <fcntl.h>
#include <malloc.h>
#include <time.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <stdexcept>
#include <utility>

#include "config/port_config.h"
#include "config/sealed_file.h"
#include "platform/posix/module_path.h"

namespace kavex::bench {

namespace {

std::string MakeTemporaryDirectory(const char* name) {
    std::string pattern = (std::filesystem::temp_directory_path() / name).string() + "-XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("cannot create a temporary directory");
    return pattern;
}

std::vector<SummaryRow>& Rows() {
    static std::vector<SummaryRow> rows;
    return rows;
}

}  // namespace

double NowNs() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<double>(now.tv_sec) * 1e9 + static_cast<double>(now.tv_nsec);
}

Prefix::Prefix() : path_(MakeTemporaryDirectory("kavex-bench")) {
    std::filesystem::create_directories(path_ + "/dosdevices");
    setenv("KAVEX_PREFIX", path_.c_str(), 1);
}

Prefix::~Prefix() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

void Prefix::Link(int portNumber, const std::string& target) const {
    std::filesystem::create_symlink(target, path_ + "/dosdevices/com" + std::to_string(portNumber));
}

Line::Line() {
    master_ = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0) {
        throw std::runtime_error("cannot create a pseudo-terminal");
    }
    slavePath_ = ptsname(master_);
    keeper_ = open(slavePath_.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    termios settings{};
    if (keeper_ < 0 || tcgetattr(keeper_, &settings) != 0) throw std::runtime_error("cannot open the line");
    cfmakeraw(&settings);
    tcsetattr(keeper_, TCSANOW, &settings);
}

Line::Line(const Prefix& prefix, int portNumber) : Line() { prefix.Link(portNumber, slavePath_); }

Line::~Line() {
    if (keeper_ >= 0) close(keeper_);
    if (master_ >= 0) close(master_);
}

void Line::Send(const char* bytes, std::size_t count) const {
    std::size_t sent = 0;
    while (sent < count) {
        const ssize_t n = write(master_, bytes + sent, count - sent);
        if (n <= 0) throw std::runtime_error("cannot write to the line");
        sent += static_cast<std::size_t>(n);
    }
}

BareEnd::BareEnd(const Line& line) {
    fd_ = open(line.SlavePath().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    termios settings{};
    if (fd_ < 0 || tcgetattr(fd_, &settings) != 0) throw std::runtime_error("cannot open the line");
    cfmakeraw(&settings);
    tcsetattr(fd_, TCSANOW, &settings);
}

BareEnd::~BareEnd() {
    if (fd_ >= 0) close(fd_);
}

HostDirectory::HostDirectory() : path_(MakeTemporaryDirectory("kavex-bench-host")) {
    configPath_ = path_ + "/" + kavex::config::kPortConfigFileName;
    const std::string executable = path_ + "/host-program";
    kavex::posix::OverrideModuleFileName(executable.c_str());
}

HostDirectory::~HostDirectory() {
    kavex::posix::OverrideModuleFileName(nullptr);
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

void HostDirectory::WriteConfig(std::array<int, 4> furtherPorts) const {
    auto record = std::make_unique<PortConfigRecord>();
    CPortConfig::SetDefaults(*record);
    for (std::size_t k = 0; k < furtherPorts.size(); ++k)
        record->FurtherPorts[k] = static_cast<std::uint8_t>(furtherPorts[k]);
    std::string error;
    if (!kavex::config::WriteSealedFile(configPath_.c_str(), record.get(), sizeof *record, &error)) {
        throw std::runtime_error("cannot write the configuration: " + error);
    }
}

namespace floors {

void Rc4(const std::uint8_t* key, int keyLength, std::uint8_t* buffer, int length) {
    std::uint8_t s[256];
    for (int k = 0; k < 256; ++k) s[k] = static_cast<std::uint8_t>(k);
    std::uint8_t j = 0;
    for (int k = 0; k < 256; ++k) {
        j = static_cast<std::uint8_t>(j + s[k] + key[k % keyLength]);
        std::swap(s[k], s[j]);
    }
    std::uint8_t i = 0;
    j = 0;
    for (int k = 0; k < length; ++k) {
        i = static_cast<std::uint8_t>(i + 1);
        j = static_cast<std::uint8_t>(j + s[i]);
        std::swap(s[i], s[j]);
        buffer[k] ^= s[static_cast<std::uint8_t>(s[i] + s[j])];
    }
}

std::uint32_t Crc32(const std::uint8_t* data, std::size_t length) {
    return static_cast<std::uint32_t>(crc32(0L, data, static_cast<uInt>(length)));
}

bool LoadConfigAndPoll(const char* path, int lineFd) {
    constexpr int kSize = sizeof(PortConfigRecord);
    alignas(16) std::uint8_t record[kSize];
    const int fd = open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    const ssize_t got = read(fd, record, kSize);
    close(fd);
    if (got != kSize) return false;
    Rc4(kavex::config::kSealingKey, kavex::config::kSealingKeyLength, record, kSize);
    std::uint32_t stored = 0;
    std::memcpy(&stored, record + kSize - 4, 4);
    const bool verified = Crc32(record, kSize - 4) == stored;
    char buffer[10];
    Read(lineFd, buffer);
    return verified;
}

bool OpenAndClose(const char* path, const termios& settings) {
    const int fd = open(path, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return false;
    const bool set = tcsetattr(fd, TCSANOW, &settings) == 0;
    close(fd);
    return set;
}

}  // namespace floors

double Comparison::Median(std::vector<double> values) {
    if (values.empty()) return 0;
    const auto middle = values.begin() + static_cast<std::ptrdiff_t>(values.size() / 2);
    std::nth_element(values.begin(), middle, values.end());
    return *middle;
}

void Comparison::Record() const { AddSummaryRow({figure_, CallNs(), FloorNs(), target_, "ns"}); }

void AddSummaryRow(const SummaryRow& row) {
    auto& rows = Rows();
    // A benchmark that runs again (repetitions) replaces its earlier line.
    for (auto& existing : rows) {
        if (existing.figure == row.figure) {
            existing = row;
            return;
        }
    }
    rows.push_back(row);
}

void PrintSummary() {
    if (Rows().empty()) return;
    std::printf("\n%-58s %12s %12s %8s %8s\n", "figure (medians of interleaved rounds)", "call", "floor",
                "ratio", "target");
    for (const SummaryRow& row : Rows()) {
        const double ratio = row.floor > 0 ? row.value / row.floor : 0;
        char value[32], floor[32];
        std::snprintf(value, sizeof value, "%.1f %s", row.value, row.unit);
        std::snprintf(floor, sizeof floor, "%.1f %s", row.floor, row.unit);
        std::printf("%-58s %12s %12s %7.2fx", row.figure.c_str(), value, floor, ratio);
        if (row.target > 0) {
            std::printf(" %7.2fx %s\n", row.target, ratio <= row.target ? "ok" : "OVER");
        } else {
            std::printf("\n");
        }
    }
}

Resources CurrentResources() {
    Resources resources;
    if (FILE* statm = std::fopen("/proc/self/statm", "r")) {
        long size = 0, resident = 0;
        if (std::fscanf(statm, "%ld %ld", &size, &resident) == 2) {
            resources.residentKb = resident * (sysconf(_SC_PAGESIZE) / 1024);
        }
        std::fclose(statm);
    }
    resources.heapBytes = static_cast<long>(mallinfo2().uordblks);
    if (DIR* fds = opendir("/proc/self/fd")) {
        while (const dirent* entry = readdir(fds)) {
            if (entry->d_name[0] != '.') ++resources.descriptors;
        }
        closedir(fds);
        --resources.descriptors;  // the directory's own
    }
    return resources;
}

}  // namespace kavex::bench
