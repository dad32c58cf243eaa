// WriteDebugLog: the exact bytes it appends to "C:\qelclientkavex.txt" and
// sends to the debugger output, a log that cannot be written, long
// messages, and several threads and processes logging at once.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "platform/win32.h"
#include "settings/debug_log.h"
#include "support/child_process.h"
#include "support/settings_env.h"

#ifndef _WIN32
#include "platform/posix/debug_output.h"
#endif

using kavex::test::FileExists;
using kavex::test::ReadBytes;

namespace {

// Where "C:\qelclientkavex.txt" is for the test's own file access.
std::string LogFile() {
#ifdef _WIN32
    return "C:\\qelclientkavex.txt";
#else
    return kavex::test::SettingsEnvironment::DriveC() + "/qelclientkavex.txt";
#endif
}

std::vector<std::string> g_debugOutput;

// A message of `size` bytes that names its writer and number: "<writer>:<n>:" then
// the writer's letter up to the size, the last two bytes CR LF.
std::string Message(int writer, int number, std::size_t size) {
    std::string text = std::to_string(writer) + ":" + std::to_string(number) + ":";
    text += std::string(size - text.size() - 2, static_cast<char>('a' + writer));
    return text + "\r\n";
}

// True when the log is whole messages of `size` bytes, `count` from each
// writer in its own order.
bool WholeMessages(const std::string& log, std::size_t size, const std::map<int, int>& counts) {
    if (log.size() % size != 0) return false;
    std::map<int, int> next;
    for (std::size_t at = 0; at < log.size(); at += size) {
        const std::string message = log.substr(at, size);
        const int writer = std::stoi(message);
        if (message != Message(writer, next[writer], size)) return false;
        ++next[writer];
    }
    return next == counts;
}

// Logs arguments[1] messages of arguments[2] bytes as writer arguments[0].
KAVEX_CHILD_ROLE(LogMany) {
    const int writer = std::stoi(arguments.at(0));
    const int count = std::stoi(arguments.at(1));
    const std::size_t size = std::stoul(arguments.at(2));
    for (int n = 0; n < count; ++n) WriteDebugLog("%s", Message(writer, n, size).c_str());
    return 0;
}

class DebugLogTest : public ::testing::Test {
protected:
    void SetUp() override {
#ifndef _WIN32
        std::filesystem::create_directories(kavex::test::SettingsEnvironment::DriveC());
        kavex::posix::SetDebugOutputSink([](const char* text) { g_debugOutput.push_back(text); });
#endif
        kavex::test::RemoveFile(LogFile());
        g_debugOutput.clear();
    }
    void TearDown() override {
#ifndef _WIN32
        kavex::posix::SetDebugOutputSink(nullptr);
#endif
        SetFileAttributesA(LogFile().c_str(), FILE_ATTRIBUTE_NORMAL);
        std::error_code ignored;
        std::filesystem::remove(LogFile(), ignored);
    }

    // The debugger output seen (the POSIX layer's sink; Windows keeps it).
    void ExpectDebugOutput(const std::vector<std::string>& expected) const {
#ifndef _WIN32
        EXPECT_EQ(g_debugOutput, expected);
#else
        (void)expected;
#endif
    }

    kavex::test::SettingsEnvironment env;
};

TEST_F(DebugLogTest, AppendsExactlyTheFormattedMessage) {
    WriteDebugLog("%d %s\r\n", 3, "cards");
    EXPECT_EQ(ReadBytes(LogFile()), "3 cards\r\n");
    WriteDebugLog("a");
    WriteDebugLog("b");
    WriteDebugLog("%s", "");
    EXPECT_EQ(ReadBytes(LogFile()), "3 cards\r\nab");
    ExpectDebugOutput({"3 cards\r\n", "a", "b", ""});

    kavex::test::RemoveFile(LogFile());
    WriteDebugLog("%s", "");
    EXPECT_TRUE(FileExists(LogFile()));
    EXPECT_EQ(ReadBytes(LogFile()), "");
}

TEST_F(DebugLogTest, KeepsWhatTheLogHeld) {
    kavex::test::WriteBytes(LogFile(), "earlier\r\n");
    WriteDebugLog("later %c", '!');
    EXPECT_EQ(ReadBytes(LogFile()), "earlier\r\nlater !");
}

TEST_F(DebugLogTest, ALongMessageIsCutForBothOutputs) {
    const std::string text(20000, 'x');
    WriteDebugLog("%s", text.c_str());
    EXPECT_EQ(ReadBytes(LogFile()), std::string(10239, 'x'));
    ExpectDebugOutput({std::string(10239, 'x')});
    kavex::test::RemoveFile(LogFile());
    WriteDebugLog("%s", std::string(10239, 'y').c_str());
    EXPECT_EQ(ReadBytes(LogFile()), std::string(10239, 'y'));
}

TEST_F(DebugLogTest, ALogThatCannotBeWrittenIsLeftOut) {
    std::filesystem::create_directory(LogFile());  // a directory of that name
    WriteDebugLog("to a directory");
    std::filesystem::remove(LogFile());
    ExpectDebugOutput({"to a directory"});

    kavex::test::WriteBytes(LogFile(), "kept");
    ASSERT_TRUE(SetFileAttributesA(LogFile().c_str(), FILE_ATTRIBUTE_READONLY));
    // Wine keeps the attribute in the permission bits, which do not stop
    // the superuser; Windows (and the POSIX layer) refuse the write.
    const HANDLE probe = CreateFileA(LogFile().c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                     nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (probe != INVALID_HANDLE_VALUE) {
        CloseHandle(probe);
        GTEST_SKIP() << "this system lets a read-only file be opened for writing (Wine run by the superuser)";
    }
    WriteDebugLog("to a read-only log");
    SetFileAttributesA(LogFile().c_str(), FILE_ATTRIBUTE_NORMAL);
    EXPECT_EQ(ReadBytes(LogFile()), "kept");
    ExpectDebugOutput({"to a directory", "to a read-only log"});
}

TEST_F(DebugLogTest, ThreadsLoggingAtOnceWriteWholeMessages) {
    constexpr int kThreads = 4, kMessages = 100;
    constexpr std::size_t kSize = 700;
    std::vector<std::thread> threads;
    for (int writer = 0; writer < kThreads; ++writer) {
        threads.emplace_back([writer] {
            for (int n = 0; n < kMessages; ++n) WriteDebugLog("%s", Message(writer, n, kSize).c_str());
        });
    }
    for (std::thread& thread : threads) thread.join();
    EXPECT_TRUE(WholeMessages(ReadBytes(LogFile()), kSize,
                              {{0, kMessages}, {1, kMessages}, {2, kMessages}, {3, kMessages}}));
}

TEST_F(DebugLogTest, ProcessesLoggingAtOnceWriteWholeMessages) {
#ifdef _WIN32
    constexpr int kMessages = 60;
#else
    constexpr int kMessages = 300;
#endif
    constexpr std::size_t kSize = 5000;
    kavex::test::ChildProcess child("LogMany", {"1", std::to_string(kMessages), std::to_string(kSize)});
    ASSERT_TRUE(child.Started());
    for (int n = 0; n < kMessages; ++n) WriteDebugLog("%s", Message(0, n, kSize).c_str());
    EXPECT_EQ(child.Wait(60000), 0);
    EXPECT_TRUE(WholeMessages(ReadBytes(LogFile()), kSize, {{0, kMessages}, {1, kMessages}}));
}

}  // namespace
