#include "serial/serial_exception.h"

#include <gtest/gtest.h>
#ifdef _WIN32
#include <gmock/gmock.h>
#endif

#include <cstring>

#include "support/failing_allocation.h"

namespace {

CSerialException* Catch(DWORD code) {
    try {
        ThrowSerialException(code);
    } catch (CSerialException* error) {
        return error;
    }
    return nullptr;
}

TEST(SerialExceptionTest, CarriesTheCodeOfTheFailedCall) {
    SetLastError(ERROR_ACCESS_DENIED);
    CSerialException* error = Catch(0);
    ASSERT_NE(error, nullptr);
    EXPECT_EQ(error->m_dwErrorCode, ERROR_ACCESS_DENIED);
    EXPECT_TRUE(error->m_bAutoDelete);
    error->Delete();

    SetLastError(ERROR_ACCESS_DENIED);
    error = Catch(ERROR_CALL_NOT_IMPLEMENTED);  // an explicit code wins
    EXPECT_EQ(error->m_dwErrorCode, ERROR_CALL_NOT_IMPLEMENTED);
    error->Delete();

    SetLastError(0);
    error = Catch(0);
    EXPECT_EQ(error->m_dwErrorCode, 0u);
    error->Delete();
}

TEST(SerialExceptionTest, OutOfMemoryThrowsTheExceptionMadeAtLoadWhichDeleteKeeps) {
    if (!kavex::test::FailingAllocations::Available()) {
        GTEST_SKIP() << "allocation failures cannot be injected: a memory checker replaces operator new";
    }
    CSerialException* first = nullptr;
    CSerialException* second = nullptr;
    {
        // No allocation succeeds: the exception thrown must exist already.
        kavex::test::FailingAllocations noMemory(1000);
        first = Catch(ERROR_ACCESS_DENIED);
        ASSERT_NE(first, nullptr);
        EXPECT_EQ(first->m_dwErrorCode, ERROR_ACCESS_DENIED);
        EXPECT_FALSE(first->m_bAutoDelete);
        EXPECT_TRUE(first->IsKindOf(KAVEX_RUNTIME_CLASS(CSerialException)));
        first->Delete();  // leaves it alone (the memory checkers see no free)

        second = Catch(ERROR_INVALID_HANDLE);  // thrown again, with the new code
        EXPECT_GE(noMemory.Failed(), 2);
    }
    EXPECT_EQ(second, first);
    EXPECT_EQ(second->m_dwErrorCode, ERROR_INVALID_HANDLE);
    second->Delete();

    // With memory again, each throw has an exception of its own.
    CSerialException* fresh = Catch(ERROR_ACCESS_DENIED);
    EXPECT_NE(fresh, first);
    EXPECT_TRUE(fresh->m_bAutoDelete);
    fresh->Delete();
}

TEST(SerialExceptionTest, CanBeCaughtThroughItsBases) {
    try {
        ThrowSerialException(ERROR_INVALID_HANDLE);
    } catch (CException* error) {
        EXPECT_TRUE(error->IsKindOf(KAVEX_RUNTIME_CLASS(CSerialException)));
        EXPECT_TRUE(error->IsKindOf(KAVEX_RUNTIME_CLASS(CObject)));
        EXPECT_STREQ(error->GetRuntimeClass()->m_lpszClassName, "CSerialException");
        EXPECT_STREQ(error->GetRuntimeClass()->m_pBaseClass->m_lpszClassName, "CException");
        error->Delete();
    }
}

TEST(SerialExceptionTest, ErrorMessageIsTheSystemTextTruncatedToTheBuffer) {
    CSerialException error(ERROR_ACCESS_DENIED);
    error.m_bAutoDelete = FALSE;
    char text[64];
    UINT help = 7;
    ASSERT_TRUE(error.GetErrorMessage(text, sizeof text, &help));
    EXPECT_EQ(help, 0u);
#ifdef _WIN32
    // The system's own text, passed on whole: Windows says "Access is
    // denied.", Wine "Access denied.".
    EXPECT_THAT(std::string(text), ::testing::AnyOf("Access is denied.\r\n", "Access denied.\r\n"));
    EXPECT_EQ(error.GetErrorMessage(), std::string(text));
#else
    EXPECT_STREQ(text, "Access is denied.\r\n");
    EXPECT_EQ(error.GetErrorMessage(), "Access is denied.\r\n");
#endif

    char shortText[7];
    std::memset(shortText, 'x', sizeof shortText);
    ASSERT_TRUE(error.GetErrorMessage(shortText, sizeof shortText));
    EXPECT_STREQ(shortText, "Access");
}

TEST(SerialExceptionTest, UnknownCodeGivesFalseAndAnEmptyText) {
    CSerialException error(0x7FFF1234);
    char text[16] = "unchanged";
    UINT help = 7;
    EXPECT_FALSE(error.GetErrorMessage(text, sizeof text, &help));
    EXPECT_EQ(text[0], '\0');
    EXPECT_EQ(help, 0u);
    EXPECT_EQ(error.GetErrorMessage(), "");
}

TEST(SerialExceptionTest, EveryCodeTheLayerReportsHasAText) {
    for (DWORD code :
         {ERROR_FILE_NOT_FOUND, ERROR_ACCESS_DENIED, ERROR_INVALID_HANDLE, ERROR_INVALID_PARAMETER,
          ERROR_INSUFFICIENT_BUFFER, ERROR_DEVICE_NOT_CONNECTED, ERROR_IO_DEVICE, ERROR_GEN_FAILURE,
          ERROR_NOT_SUPPORTED, ERROR_INVALID_FUNCTION, ERROR_SHARING_VIOLATION}) {
        EXPECT_NE(CSerialException(code).GetErrorMessage(), "") << code;
    }
}

TEST(SerialExceptionTest, ReportErrorShowsTheText) {
#ifdef _WIN32
    GTEST_SKIP() << "on Windows this is a real message box, which waits for a user";
#endif
    CSerialException error(ERROR_ACCESS_DENIED);
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(error.ReportError(), IDOK);
    EXPECT_NE(::testing::internal::GetCapturedStderr().find("Access is denied."), std::string::npos);

    CSerialException unknown(0x7FFF1234);
    ::testing::internal::CaptureStderr();
    unknown.ReportError();
    EXPECT_NE(::testing::internal::GetCapturedStderr().find("无法获取错误信息"), std::string::npos);
}

}  // namespace
