// kavexctl config, run as the people who install readers run it.
#ifndef _WIN32
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>

#include "config/port_config.h"
#include "support/config_dir.h"
#include "support/tool_run.h"

namespace fs = std::filesystem;

using kavex::test::ToolRun;

namespace {

class KavexctlConfigTest : public ::testing::Test {
protected:
    void SetUp() override {
        tool_ = kavex::test::BuiltKavexctl();
        if (tool_.empty()) GTEST_SKIP() << "kavexctl is not built";
        file_ = directory.ConfigPath();
    }

    // Runs kavexctl with `arguments` (stderr joins stdout), after `runner`
    // (a command that runs another, such as timeout) when one is given.
    ToolRun Kavexctl(const std::string& arguments, const std::string& runner = "") const {
        return kavex::test::RunTool(tool_, arguments, runner);
    }

    kavex::test::ConfigDirectory directory;
    fs::path tool_;
    std::string file_;
};

TEST_F(KavexctlConfigTest, SetWritesAFileTheLibraryLoads) {
    const ToolRun set =
        Kavexctl("config set --file '" + file_ + "' PrimaryPort=3 FurtherPorts=4,0,7,0 Text0=网吧");
    ASSERT_EQ(set.exitCode, 0) << set.out;
    CPortConfig config;
    EXPECT_EQ(config.GetPrimaryPort(), 3);
    EXPECT_EQ(config.GetFurtherPort(1), 4);
    EXPECT_EQ(config.GetFurtherPort(3), 7);
    EXPECT_STREQ(config.m_pRecord->Text0, "\xCD\xF8\xB0\xC9");  // GBK
    EXPECT_EQ(config.GetNumber88(), 5000);                      // defaults for the rest

    const ToolRun show = Kavexctl("config show --json --file '" + file_ + "'");
    ASSERT_EQ(show.exitCode, 0) << show.out;
    EXPECT_NE(show.out.find("\"PrimaryPort\": 3,"), std::string::npos) << show.out;
    EXPECT_NE(show.out.find("\"FurtherPorts\": [4, 0, 7, 0],"), std::string::npos) << show.out;
    EXPECT_NE(show.out.find("\"Text0\": \"网吧\","), std::string::npos) << show.out;
    EXPECT_NE(show.out.find("\"Number117\": 1001,"), std::string::npos) << show.out;
}

TEST_F(KavexctlConfigTest, BadRequestsLeaveTheFileUntouched) {
    ASSERT_EQ(Kavexctl("config init --file '" + file_ + "'").exitCode, 0);
    const std::string before = directory.ReadConfigBytes();
    const std::string refused[] = {
        "PrimaryPort=256", "PrimaryPort=0",      "Byte187=21", "FurtherPorts=1,2,3",
        "Nonsense=1",      "Number88=12x",       "Checksum=1", "Text288=" + std::string(20, 'a'),
        "Short332=40000",  "PrimaryPort=2 Bad=1"};
    for (const std::string& assignment : refused) {
        const ToolRun run = Kavexctl("config set --file '" + file_ + "' " + assignment);
        EXPECT_EQ(run.exitCode, 2) << assignment << ": " << run.out;
        EXPECT_FALSE(run.out.empty());
        EXPECT_EQ(directory.ReadConfigBytes(), before) << assignment;
    }
    EXPECT_EQ(Kavexctl("config set --file '" + file_ + "'").exitCode, 2);
    EXPECT_EQ(Kavexctl("config show").exitCode, 2);
}

TEST_F(KavexctlConfigTest, ShowExplainsWhyAFileIsInvalid) {
    ToolRun run = Kavexctl("config show --file '" + file_ + "'");
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_NE(run.out.find("no such file"), std::string::npos) << run.out;

    directory.WriteConfigBytes(std::string(100, 'x'));
    run = Kavexctl("config show --file '" + file_ + "'");
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_NE(run.out.find("100 bytes long"), std::string::npos) << run.out;
    // set refuses to overwrite a damaged file.
    EXPECT_EQ(Kavexctl("config set --file '" + file_ + "' PrimaryPort=2").exitCode, 1);
    EXPECT_EQ(directory.ReadConfigBytes(), std::string(100, 'x'));

    kavex::test::WritePortConfig(directory, 2, {0, 0, 0, 0});
    std::string bytes = directory.ReadConfigBytes();
    bytes[5000] = static_cast<char>(bytes[5000] ^ 0x10);
    directory.WriteConfigBytes(bytes);
    run = Kavexctl("config show --file '" + file_ + "'");
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_NE(run.out.find("CRC-32 does not match"), std::string::npos) << run.out;
}

TEST_F(KavexctlConfigTest, ReadOnlyFileIsReportedAndKept) {
    kavex::test::WritePortConfig(directory, 2, {0, 0, 0, 0});
    ASSERT_TRUE(SetFileAttributesA(file_.c_str(), FILE_ATTRIBUTE_READONLY));
    const std::string before = directory.ReadConfigBytes();
    const ToolRun run = Kavexctl("config set --file '" + file_ + "' PrimaryPort=5");
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_NE(run.out.find("denied"), std::string::npos) << run.out;
    EXPECT_EQ(directory.ReadConfigBytes(), before);
    EXPECT_EQ(Kavexctl("config show --file '" + file_ + "'").exitCode, 0);
}

// A file that is no file (here a FIFO, which a plain open would wait on for
// a writer) ends the command at once with a file error. `timeout` bounds
// the run, so a command that waits fails the test instead of hanging it.
TEST_F(KavexctlConfigTest, AFifoEndsTheCommandAtOnce) {
    ASSERT_EQ(mkfifo(file_.c_str(), 0600), 0);
    for (const std::string& command :
         {"config show --file '" + file_ + "'", "config set --file '" + file_ + "' PrimaryPort=2"}) {
        SCOPED_TRACE(command);
        const auto start = std::chrono::steady_clock::now();
        const ToolRun run = Kavexctl(command, "timeout -k 1 20 ");
        const auto took =
            std::chrono::duration_cast<std::chrono::seconds>(std::chrono::steady_clock::now() - start)
                .count();
        EXPECT_EQ(run.exitCode, 1) << run.out;  // 124: it had to be stopped
        EXPECT_LT(took, 10);
    }
    EXPECT_TRUE(fs::is_fifo(file_));
}

}  // namespace
#endif
