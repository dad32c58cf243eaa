#include "fuzz_support.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>

namespace kavex::fuzz {

std::string FuzzInput::Bytes(std::size_t count) {
    if (count > Left()) count = Left();
    std::string bytes(reinterpret_cast<const char*>(data_ + position_), count);
    position_ += count;
    return bytes;
}

std::string FuzzInput::Token(char separator) {
    std::string token;
    while (!Empty()) {
        const char c = static_cast<char>(data_[position_++]);
        if (c == separator) break;
        token += c;
    }
    return token;
}

namespace {

std::string MakeScratchDirectory() {
    struct stat status {};
    const bool shm =
        stat("/dev/shm", &status) == 0 && S_ISDIR(status.st_mode) && access("/dev/shm", W_OK) == 0;
    std::string pattern = std::string(shm ? "/dev/shm" : "/tmp") + "/kavex-fuzz-XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr) {
        std::perror("mkdtemp");
        std::abort();
    }
    return pattern;
}

// Registered once the directory exists, so it runs before the directory's
// name is destroyed.
void RemoveScratchDirectory() {
    std::error_code ignored;
    std::filesystem::remove_all(ScratchDirectory(), ignored);
}

}  // namespace

const std::string& ScratchDirectory() {
    static const std::string directory = [] {
        std::string made = MakeScratchDirectory();
        return made;
    }();
    static const bool removal = std::atexit(RemoveScratchDirectory) == 0;
    (void)removal;
    return directory;
}

void PutFile(const std::string& path, const std::string* bytes) {
    std::error_code ignored;
    std::filesystem::permissions(path, std::filesystem::perms::owner_write,
                                 std::filesystem::perm_options::add, ignored);
    std::filesystem::remove(path, ignored);
    if (bytes == nullptr) return;
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes->data(), static_cast<std::streamsize>(bytes->size()));
}

std::string FileBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return "<missing>";
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void Violated(const char* what, const char* file, int line) {
    std::fprintf(stderr, "\n%s:%d: expected %s\n", file, line, what);
    std::abort();
}

}  // namespace kavex::fuzz
