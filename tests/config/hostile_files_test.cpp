// The port configuration file in a hostile place: a path that is no regular
// file, a save racing with the opens of another process, links, other
// owners' permissions and the leftovers of interrupted saves; and the
// settings file, the other sealed file, as no regular file and behind links.
// POSIX only: each case builds what Windows has no equivalent for, or needs
// fork.
#ifndef _WIN32

#include <fcntl.h>
#include <gtest/gtest.h>
#include <pty.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <filesystem>
#include <string>

#include "config/port_config.h"
#include "kavex.h"
#include "reader/port_set.h"
#include "settings/version_config.h"
#include "support/config_dir.h"
#include "support/fake_reader.h"
#include "support/reader_timing.h"
#include "support/settings_env.h"

using kavex::test::Bounded;
using kavex::test::ConfigDirectory;
using kavex::test::FakeReader;
using kavex::test::TestPrefix;

namespace fs = std::filesystem;

namespace {

class HostileFilesTest : public ::testing::Test {
protected:
    std::string Beside(const std::string& name) const { return directory.Path() + "/" + name; }
    // Makes an empty file beside the configuration whose last change was
    // `ageSeconds` ago (a negative age: in the future).
    std::string MakeTemp(const std::string& name, int ageSeconds) const {
        const std::string path = Beside(name);
        const int fd = open(path.c_str(), O_CREAT | O_WRONLY, 0644);
        EXPECT_GE(fd, 0) << path;
        close(fd);
        const timespec times[2] = {{time(nullptr) - ageSeconds, 0}, {time(nullptr) - ageSeconds, 0}};
        utimensat(AT_FDCWD, path.c_str(), times, 0);
        return path;
    }
    int TemporaryFiles() const {
        int temps = 0;
        for (const auto& entry : fs::directory_iterator(directory.Path())) {
            if (entry.path().filename().string().rfind("~kv", 0) == 0) ++temps;
        }
        return temps;
    }

    ConfigDirectory directory;
};

// Loads and saves with "ipportconfig.ini" standing for `what`: each returns
// at once and fails, and the opens fall back to the defaults.
void ExpectRefusedAtOnce(const char* what) {
    SCOPED_TRACE(what);
    Bounded(
        3000,
        [] {
            CPortConfig config;  // loads
            EXPECT_EQ(config.Load(), 0);
            EXPECT_EQ(config.GetPrimaryPort(), 1);  // the defaults
            EXPECT_EQ(config.SetNumber88(1), 0);    // saves
            return 0;
        },
        what);
}

TEST_F(HostileFilesTest, APathThatIsNoRegularFileIsRefusedAtOnce) {
    const std::string config = directory.ConfigPath();

    ASSERT_EQ(mkfifo(config.c_str(), 0600), 0);
    ExpectRefusedAtOnce("a FIFO");
    ASSERT_TRUE(fs::is_fifo(config));  // a failed save leaves it alone
    fs::remove(config);

    int master = -1, slave = -1;
    char terminal[128] = {};
    ASSERT_EQ(openpty(&master, &slave, terminal, nullptr, nullptr), 0);
    fs::create_symlink(terminal, config);
    ExpectRefusedAtOnce("a link to a terminal");
    close(master);
    close(slave);
    fs::remove(config);

    const int listener = socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    ASSERT_LT(config.size(), sizeof address.sun_path);
    std::memcpy(address.sun_path, config.c_str(), config.size() + 1);
    ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ExpectRefusedAtOnce("a socket");
    close(listener);
    fs::remove(config);

    fs::create_directory(config);
    ExpectRefusedAtOnce("a directory");
}

// One process saves the file over and over while this one opens and closes
// its readers: every open sees the configured ports, never the defaults, no
// further reader stays open, and no save fails.
TEST_F(HostileFilesTest, SavesRacingWithOpensNeverLetAnOpenUseTheDefaults) {
    TestPrefix prefix;  // COM1, the default primary, has no device
    FakeReader primary(prefix, 2);
    FakeReader further(prefix, 3);
    kavex::test::WritePortConfig(directory, 2, {3, 0, 0, 0});

    constexpr int kSaves = 300;
    const pid_t saver = fork();
    ASSERT_GE(saver, 0);
    if (saver == 0) {
        int failed = 0;
        for (int k = 0; k < kSaves; ++k) {
            CPortConfig config;
            if (config.GetPrimaryPort() != 2 || config.SetNumber88(k) != 1) ++failed;
        }
        _exit(failed > 255 ? 255 : failed);
    }

    int opens = 0, defaults = 0, leftOpen = 0, closeFailures = 0;
    int status = 0;
    while (waitpid(saver, &status, WNOHANG) == 0 || opens < 1000) {
        ++opens;
        if (OpenCom(nullptr) != 1) ++defaults;  // COM1 is all the defaults give
        if (CloseCom() != 1) ++closeFailures;
        if (g_ComPort.IsOpen() || g_FurtherComPort1.IsOpen()) ++leftOpen;
        g_ComPort.Close();
        g_FurtherComPort1.Close();
        if (opens > 100000) break;
    }
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "saves that failed";
    EXPECT_EQ(defaults, 0) << "of " << opens << " opens";
    EXPECT_EQ(closeFailures, 0) << "of " << opens << " closes";
    EXPECT_EQ(leftOpen, 0) << "of " << opens << " closes";
    EXPECT_EQ(CPortConfig().GetNumber88(), kSaves - 1);
}

TEST_F(HostileFilesTest, ASaveFollowsALinkAndKeepsTheFilesPermissionsAndOwner) {
    const std::string realDirectory = Beside("elsewhere");
    fs::create_directory(realDirectory);
    const std::string real = realDirectory + "/ports.ini";
    kavex::test::WritePortConfig(directory, 4, {0, 0, 0, 0});
    fs::rename(directory.ConfigPath(), real);
    ASSERT_EQ(chmod(real.c_str(), 0640), 0);
    const bool mayChown = geteuid() == 0;
    if (mayChown) {
        ASSERT_EQ(chown(real.c_str(), 4321, 4321), 0);
    }
    fs::create_symlink(real, directory.ConfigPath());

    CPortConfig config;
    ASSERT_EQ(config.GetPrimaryPort(), 4);
    ASSERT_EQ(config.SetNumber88(77), 1);

    EXPECT_TRUE(fs::is_symlink(directory.ConfigPath()));
    struct stat status {};
    ASSERT_EQ(stat(real.c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 07777, 0640u);
    if (mayChown) {
        EXPECT_EQ(status.st_uid, 4321u);
        EXPECT_EQ(status.st_gid, 4321u);
    }
    EXPECT_EQ(CPortConfig().GetNumber88(), 77);  // read through the link
    // No temporary file is left beside the link or beside the file.
    for (const std::string& place : {directory.Path(), realDirectory}) {
        for (const auto& entry : fs::directory_iterator(place)) {
            EXPECT_NE(entry.path().extension(), ".tmp") << entry.path();
        }
    }
}

// A link to a file whose own path is too long for a save to name: the save
// is refused with the reason, and neither the link nor the file changes.
TEST_F(HostileFilesTest, ALinkToAPathTooLongIsRefusedWithTheReason) {
    std::string deep = Beside("deep");
    while (deep.size() < MAX_PATH + 20) deep += "/" + std::string(40, 'd');
    fs::create_directories(deep);
    const std::string real = deep + "/ports.ini";
    kavex::test::WritePortConfig(directory, 4, {0, 0, 0, 0});
    const std::string before = directory.ReadConfigBytes();
    fs::rename(directory.ConfigPath(), real);
    fs::create_symlink(real, directory.ConfigPath());

    CPortConfig config;
    ASSERT_EQ(config.GetPrimaryPort(), 4);  // a load goes through the link
    testing::internal::CaptureStdout();
    EXPECT_EQ(config.SetNumber88(5), 0);
    const std::string said = testing::internal::GetCapturedStdout();
    EXPECT_NE(said.find("characters long"), std::string::npos) << said;
    EXPECT_TRUE(fs::is_symlink(directory.ConfigPath()));
    EXPECT_EQ(directory.ReadConfigBytes(), before);
    for (const std::string& place : {directory.Path(), deep}) {
        for (const auto& entry : fs::directory_iterator(place)) {
            EXPECT_NE(entry.path().extension(), ".tmp") << entry.path();
        }
    }
}

TEST_F(HostileFilesTest, AFileWithSeveralHardLinksIsNotSplitByASave) {
    kavex::test::WritePortConfig(directory, 5, {0, 0, 0, 0});
    const std::string other = Beside("other-name.ini");
    ASSERT_EQ(link(directory.ConfigPath().c_str(), other.c_str()), 0);
    const std::string before = directory.ReadConfigBytes();

    CPortConfig config;
    testing::internal::CaptureStdout();
    EXPECT_EQ(config.SetNumber88(5), 0);
    const std::string said = testing::internal::GetCapturedStdout();
    EXPECT_NE(said.find("hard links"), std::string::npos) << said;
    EXPECT_EQ(directory.ReadConfigBytes(), before);
    struct stat status {};
    ASSERT_EQ(stat(other.c_str(), &status), 0);
    EXPECT_EQ(status.st_nlink, 2u);  // still one file under two names
}

TEST_F(HostileFilesTest, ASaveRemovesWhatInterruptedSavesLeftBehind) {
    kavex::test::WritePortConfig(directory, 6, {0, 0, 0, 0});
    for (int k = 1; k <= 40; ++k) MakeTemp("~kv" + std::to_string(1000 + k) + ".tmp", 60);
    const std::string fresh = MakeTemp("~kvAAAA.tmp", 0);  // a save that is running now
    const std::string held = MakeTemp("~kvBBBB.tmp", 60);  // a save that is still writing
    const HANDLE holder =
        CreateFileA(held.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(holder, INVALID_HANDLE_VALUE);
    const std::string unrelated = MakeTemp("notes.tmp", 60);

    ASSERT_EQ(CPortConfig().SetNumber88(1), 1);

    EXPECT_EQ(TemporaryFiles(), 2);
    EXPECT_TRUE(fs::exists(fresh));
    EXPECT_TRUE(fs::exists(held));
    EXPECT_TRUE(fs::exists(unrelated));
    CloseHandle(holder);
}

// Hundreds of young temporary files (saves running now) listed before and
// after the stale ones do not keep a save from reaching the stale ones.
TEST_F(HostileFilesTest, YoungTemporaryFilesDoNotHideStaleOnes) {
    kavex::test::WritePortConfig(directory, 6, {0, 0, 0, 0});
    constexpr int kYoung = 300;  // on each side: more than a save once looked at
    constexpr int kStale = 20;
    char name[32];
    for (int k = 0; k < kYoung; ++k) {
        std::snprintf(name, sizeof name, "~kv%X.tmp", 0x1000 + k);
        MakeTemp(name, -60);
    }
    for (int k = 0; k < kStale; ++k) {
        std::snprintf(name, sizeof name, "~kv%X.tmp", 0x2000 + k);
        MakeTemp(name, 60);
    }
    for (int k = 0; k < kYoung; ++k) {
        std::snprintf(name, sizeof name, "~kv%X.tmp", 0x3000 + k);
        MakeTemp(name, -60);
    }

    ASSERT_EQ(CPortConfig().SetNumber88(1), 1);

    EXPECT_EQ(TemporaryFiles(), 2 * kYoung);
    for (int k = 0; k < kStale; ++k) {
        std::snprintf(name, sizeof name, "~kv%X.tmp", 0x2000 + k);
        EXPECT_FALSE(fs::exists(Beside(name))) << name;
    }
}

// A process killed in the middle of its saves leaves temporary files; the
// next save after they have aged removes them, so they never pile up.
TEST_F(HostileFilesTest, KilledSavesDoNotPileUpTemporaryFiles) {
    kavex::test::WritePortConfig(directory, 7, {0, 0, 0, 0});
    for (int round = 0; round < 20; ++round) {
        const pid_t saver = fork();
        ASSERT_GE(saver, 0);
        if (saver == 0) {
            for (;;) CPortConfig().SetNumber88(round);
        }
        usleep(static_cast<useconds_t>(2000 + 997 * round % 5000));
        kill(saver, SIGKILL);
        waitpid(saver, nullptr, 0);
    }
    CPortConfig survivor;
    EXPECT_EQ(survivor.GetPrimaryPort(), 7);  // the file is whole: old or new
    sleep(3);                                 // every leftover is now stale
    ASSERT_EQ(survivor.SetNumber88(99), 1);
    for (const auto& entry : fs::directory_iterator(directory.Path())) {
        EXPECT_NE(entry.path().extension(), ".tmp") << entry.path();
    }
}

// The settings file "qelversion.cfg", loaded and saved by name.
class HostileSettingsFileTest : public ::testing::Test {
protected:
    kavex::test::SettingsEnvironment env;
    const std::string file = env.LocatedFile();
};

TEST_F(HostileSettingsFileTest, AFifoIsRefusedAtOnce) {
    ASSERT_EQ(mkfifo(file.c_str(), 0600), 0);
    Bounded(
        3000,
        [&] {
            CVersionConfig config(file.c_str(), FALSE);  // loads it
            EXPECT_EQ(config.Load(file.c_str()), FALSE);
            EXPECT_EQ(config.Load(nullptr), FALSE);  // the located file
            EXPECT_EQ(config.Save(file.c_str()), FALSE);
            return 0;
        },
        "the settings file as a FIFO");
    EXPECT_TRUE(fs::is_fifo(file));  // a failed save leaves it alone
}

TEST_F(HostileSettingsFileTest, ASaveFollowsALinkAndKeepsTheFilesMode) {
    const std::string realDirectory = env.Scratch() + "/elsewhere";
    fs::create_directory(realDirectory);
    const std::string real = realDirectory + "/settings.cfg";
    CVersionConfig config(real.c_str(), FALSE);
    ASSERT_EQ(config.Save(real.c_str()), TRUE);
    ASSERT_EQ(chmod(real.c_str(), 0640), 0);
    fs::create_symlink(real, file);

    ASSERT_EQ(config.Load(file.c_str()), TRUE);
    ASSERT_EQ(config.SetNumber743(743), TRUE);  // saved to the file last loaded: the link

    EXPECT_TRUE(fs::is_symlink(file));
    struct stat status {};
    ASSERT_EQ(stat(real.c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 07777, 0640u);
    VersionConfigRecord record{};
    ASSERT_TRUE(kavex::test::UnsealImage(kavex::test::ReadBytes(real), &record));
    EXPECT_EQ(+record.Number743, 743);
    for (const std::string& place : {env.ExecutableDirectory(), realDirectory}) {
        for (const auto& entry : fs::directory_iterator(place)) {
            EXPECT_NE(entry.path().extension(), ".tmp") << entry.path();
        }
    }
}

// As for the port configuration: a save would split the names, so it is
// refused with the reason and the file stays one file under both names.
TEST_F(HostileSettingsFileTest, AFileWithSeveralHardLinksIsRefused) {
    CVersionConfig config(file.c_str(), FALSE);
    ASSERT_EQ(config.Save(file.c_str()), TRUE);
    const std::string other = env.Scratch() + "/other-name.cfg";
    ASSERT_EQ(link(file.c_str(), other.c_str()), 0);
    const std::string before = kavex::test::ReadBytes(file);

    testing::internal::CaptureStdout();
    EXPECT_EQ(config.SetNumber743(5), FALSE);
    const std::string said = testing::internal::GetCapturedStdout();
    EXPECT_NE(said.find("hard links"), std::string::npos) << said;
    EXPECT_EQ(kavex::test::ReadBytes(file), before);
    struct stat status {};
    ASSERT_EQ(stat(other.c_str(), &status), 0);
    EXPECT_EQ(status.st_nlink, 2u);
}

}  // namespace

#endif  // _WIN32
