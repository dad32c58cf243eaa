#include "framework/file.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

namespace fs = std::filesystem;

namespace {

class FileTest : public ::testing::Test {
protected:
    void SetUp() override {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        directory_ = fs::temp_directory_path() / (std::string("kavex-cfile-") + info->name() + "-" +
                                                  std::to_string(reinterpret_cast<std::uintptr_t>(this)));
        fs::create_directories(directory_);
        path_ = (directory_ / "data.bin").string();
    }
    void TearDown() override {
        std::error_code ignored;
        fs::permissions(path_, fs::perms::owner_write, fs::perm_options::add, ignored);
        fs::remove_all(directory_, ignored);
    }

    // Runs `action`, which must throw a CFileException, and returns its cause
    // and code (the exception is deleted).
    template <class Action>
    static std::pair<int, LONG> CaughtCause(Action action, std::string* message = nullptr) {
        try {
            action();
        } catch (CFileException* error) {
            const std::pair<int, LONG> result{error->m_cause, error->m_lOsError};
            if (message != nullptr) *message = error->GetErrorMessage();
            error->Delete();
            return result;
        }
        ADD_FAILURE() << "no CFileException was thrown";
        return {-1, -1};
    }

    fs::path directory_;
    std::string path_;
};

TEST_F(FileTest, CreateWriteReadRoundTrip) {
    {
        CFile file(path_.c_str(), CFile::modeCreate | CFile::modeReadWrite | CFile::shareExclusive);
        EXPECT_TRUE(file.IsOpen());
        EXPECT_EQ(file.GetFilePath(), path_);
        file.Write("0123456789", 10);
        EXPECT_EQ(file.GetLength(), 10u);
        EXPECT_EQ(file.GetPosition(), 10u);
        file.SeekToBegin();
        char buffer[16] = {};
        EXPECT_EQ(file.Read(buffer, sizeof buffer), 10u);  // fewer at the end
        EXPECT_STREQ(buffer, "0123456789");
        EXPECT_EQ(file.Seek(-3, CFile::end), 7u);
        file.SetLength(4);
        EXPECT_EQ(file.GetLength(), 4u);
        file.Flush();
        file.Close();
        EXPECT_FALSE(file.IsOpen());
    }
    EXPECT_EQ(fs::file_size(path_), 4u);
}

TEST_F(FileTest, OpenModesMapToTheirDispositions) {
    std::ofstream(path_) << "keep";
    {
        CFile file(path_.c_str(), CFile::modeCreate | CFile::modeNoTruncate | CFile::modeReadWrite);
        EXPECT_EQ(file.GetLength(), 4u);  // open-always keeps the contents
    }
    {
        CFile file(path_.c_str(), CFile::modeCreate | CFile::modeWrite);
        EXPECT_EQ(file.GetLength(), 0u);  // create-always empties it
    }
    CFile file;
    CFileException error;
    EXPECT_FALSE(file.Open((directory_ / "missing.bin").string().c_str(), CFile::modeRead, &error));
    EXPECT_EQ(error.m_cause, CFileException::fileNotFound);
    EXPECT_EQ(error.m_lOsError, static_cast<LONG>(ERROR_FILE_NOT_FOUND));
    EXPECT_FALSE(file.IsOpen());
    EXPECT_FALSE(file.Open(nullptr, CFile::modeRead, &error));
    EXPECT_EQ(error.m_cause, CFileException::badPath);
}

TEST_F(FileTest, TheOpeningConstructorThrowsTheCause) {
    std::string message;
    auto [cause, code] = CaughtCause(
        [&] { CFile file((directory_ / "missing.bin").string().c_str(), CFile::modeRead); }, &message);
    EXPECT_EQ(cause, CFileException::fileNotFound);
    EXPECT_EQ(code, static_cast<LONG>(ERROR_FILE_NOT_FOUND));
    EXPECT_NE(message.find("missing.bin"), std::string::npos) << message;

    CFile holder(path_.c_str(), CFile::modeCreate | CFile::modeReadWrite | CFile::shareExclusive);
    std::tie(cause, code) =
        CaughtCause([&] { CFile second(path_.c_str(), CFile::modeRead | CFile::shareDenyNone); });
    EXPECT_EQ(cause, CFileException::sharingViolation);
    EXPECT_EQ(code, static_cast<LONG>(ERROR_SHARING_VIOLATION));
}

TEST_F(FileTest, FailingReadsAndWritesThrow) {
    std::ofstream(path_) << "abc";
    CFile file(path_.c_str(), CFile::modeRead | CFile::shareDenyNone);
    auto [cause, code] = CaughtCause([&] { file.Write("x", 1); });
    EXPECT_EQ(cause, CFileException::accessDenied);
    EXPECT_EQ(code, static_cast<LONG>(ERROR_ACCESS_DENIED));
    std::tie(cause, code) = CaughtCause([&] { file.Seek(-10, CFile::begin); });
    EXPECT_EQ(cause, CFileException::badSeek);
}

TEST_F(FileTest, DescriptionsNameTheFileAndFitTheBuffer) {
    CFileException denied(CFileException::accessDenied, ERROR_ACCESS_DENIED, "C:\\dir\\ipportconfig.ini");
    EXPECT_EQ(denied.GetErrorMessage(), "Access to C:\\dir\\ipportconfig.ini was denied.");
    char small[12];
    EXPECT_TRUE(denied.GetErrorMessage(small, sizeof small));
    EXPECT_STREQ(small, "Access to C");
    UINT help = 99;
    EXPECT_TRUE(denied.GetErrorMessage(small, sizeof small, &help));
    EXPECT_EQ(help, 0u);
    EXPECT_FALSE(denied.GetErrorMessage(nullptr, 10));

    const CFileException unnamed(CFileException::diskFull);
    EXPECT_NE(unnamed.GetErrorMessage().find("an unnamed file"), std::string::npos);
    // Every cause has a sentence of its own.
    for (int cause = CFileException::none; cause <= CFileException::endOfFile; ++cause) {
        EXPECT_FALSE(CFileException(cause, -1, "f").GetErrorMessage().empty()) << cause;
    }
    EXPECT_TRUE(denied.IsKindOf(KAVEX_RUNTIME_CLASS(CException)));
}

TEST_F(FileTest, OsErrorsMapToCauses) {
    EXPECT_EQ(CFileException::OsErrorToException(ERROR_FILE_NOT_FOUND), CFileException::fileNotFound);
    EXPECT_EQ(CFileException::OsErrorToException(ERROR_PATH_NOT_FOUND), CFileException::badPath);
    EXPECT_EQ(CFileException::OsErrorToException(ERROR_ACCESS_DENIED), CFileException::accessDenied);
    EXPECT_EQ(CFileException::OsErrorToException(ERROR_SHARING_VIOLATION), CFileException::sharingViolation);
    EXPECT_EQ(CFileException::OsErrorToException(ERROR_DISK_FULL), CFileException::diskFull);
    EXPECT_EQ(CFileException::OsErrorToException(ERROR_HANDLE_EOF), CFileException::endOfFile);
    EXPECT_EQ(CFileException::OsErrorToException(ERROR_NOT_SUPPORTED), CFileException::genericException);
}

TEST_F(FileTest, AnAttachedHandleIsNotClosedByTheObject) {
    const HANDLE handle = CreateFileA(path_.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                      FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(handle, INVALID_HANDLE_VALUE);
    { CFile attached(handle); }
    DWORD written = 0;
    EXPECT_TRUE(WriteFile(handle, "z", 1, &written, nullptr));
    EXPECT_TRUE(CloseHandle(handle));
}

}  // namespace
