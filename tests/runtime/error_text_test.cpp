#include "runtime/error_text.h"

#include <gtest/gtest.h>

#include <string>

namespace {

std::wstring Compose(const std::wstring& strText, DWORD dwCode) {
    wchar_t szBuffer[SYSTEM_ERROR_TEXT_CHARS];
    ComposeSystemErrorText(strText.c_str(), dwCode, szBuffer);
    return szBuffer;
}

bool EndsWith(const std::wstring& str, const std::wstring& strEnd) {
    return str.size() >= strEnd.size() &&
           str.compare(str.size() - strEnd.size(), strEnd.size(), strEnd) == 0;
}

TEST(SystemErrorText, SystemTextIsTrimmedAndEndsWithTheCode) {
    struct {
        DWORD dwCode;
        const wchar_t* pszSuffix;
    } const kCases[] = {
        {2, L" (2)"},
        {0x80070002, L" (2)"},
        {5, L" (5)"},
        {0x80070005, L" (5)"},
        {0x8007000E, L" (14)"},
        // Facility 0: the whole code, eight upper-case hexadecimal digits.
        {0x80004005, L" (0x80004005)"},
        {0x80004001, L" (0x80004001)"},
    };
    for (const auto& tc : kCases) {
        SCOPED_TRACE(testing::Message() << std::hex << tc.dwCode);
        wchar_t szText[SYSTEM_ERROR_TEXT_CHARS];
        ASSERT_TRUE(GetSystemErrorText(tc.dwCode, szText));
        const std::wstring strText = szText;
        EXPECT_TRUE(EndsWith(strText, tc.pszSuffix)) << testing::PrintToString(strText);
        const std::wstring strMessage = strText.substr(0, strText.size() - wcslen(tc.pszSuffix));
        EXPECT_FALSE(strMessage.empty());
        EXPECT_EQ(std::wstring::npos, strMessage.find_first_of(L"\r\n"));
        EXPECT_NE(L' ', strMessage.back());
    }
}

TEST(SystemErrorText, Win32CodeAndItsHResultShareTheText) {
    wchar_t szWin32[SYSTEM_ERROR_TEXT_CHARS];
    wchar_t szHResult[SYSTEM_ERROR_TEXT_CHARS];
    ASSERT_TRUE(GetSystemErrorText(ERROR_ACCESS_DENIED, szWin32));
    ASSERT_TRUE(GetSystemErrorText(0x80070005, szHResult));
    EXPECT_EQ(std::wstring(szWin32), std::wstring(szHResult));
}

TEST(SystemErrorText, FailsWithoutTextOrBuffer) {
    // No system has a text for this made-up HRESULT (Wine has none for
    // 0x80090016 either, which Windows knows).
    wchar_t szText[SYSTEM_ERROR_TEXT_CHARS];
    EXPECT_FALSE(GetSystemErrorText(0x8FFF1234, szText));

    ::SetLastError(0);
    EXPECT_FALSE(GetSystemErrorText(2, nullptr));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER), ::GetLastError());
}

TEST(SystemErrorText, ComposesTextAndCode) {
    const std::wstring strLong300(300, L'a');
    const std::wstring strFits(250, L'a');
    struct {
        const char* pszName;
        std::wstring strText;
        DWORD dwCode;
        std::wstring strExpected;
    } const kCases[] = {
        {"line break removed", L"File not found.\r\n", 2, L"File not found. (2)"},
        {"blanks and tabs removed", L"Text. \t\r\n \t", 0x80070005, L"Text. (5)"},
        {"final period kept", L"Done.", 0, L"Done. (0)"},
        {"win32 facility without severity", L"Text.", 0x00070005, L"Text. (5)"},
        {"win32 facility, any severity", L"Text.", 0xC0070005, L"Text. (5)"},
        {"win32 facility, low 16 bits", L"Text.", 0x8007FFFF, L"Text. (65535)"},
        {"largest plain code", L"Text.", 0xFFFF, L"Text. (65535)"},
        {"facility 1", L"Text.", 0x00010000, L"Text. (0x00010000)"},
        {"facility 9, upper-case digits", L"Text.", 0x8009000F, L"Text. (0x8009000F)"},
        {"bit 28 is part of the facility", L"Text.", 0x90070005, L"Text. (0x90070005)"},
        {"fits without cut", strFits + L"\r\n", 5, strFits + L" (5)"},
        {"cut for a decimal code", strLong300, 5, std::wstring(251, L'a') + L" (5)"},
        {"cut for a hexadecimal code", strLong300, 0x80090016,
         std::wstring(242, L'a') + L" (0x80090016)"},
        {"one over", std::wstring(252, L'a'), 5, std::wstring(251, L'a') + L" (5)"},
        {"cut at a blank", std::wstring(250, L'a') + L" " + std::wstring(20, L'b'), 5,
         std::wstring(250, L'a') + L" (5)"},
        {"cut inside a surrogate pair", std::wstring(250, L'a') + L"\xD83D\xDE00" + L"tail", 5,
         std::wstring(250, L'a') + L" (5)"},
    };
    for (const auto& tc : kCases) {
        SCOPED_TRACE(tc.pszName);
        const std::wstring strResult = Compose(tc.strText, tc.dwCode);
        EXPECT_EQ(tc.strExpected, strResult);
        EXPECT_LE(strResult.size(), SYSTEM_ERROR_TEXT_CHARS - 1);
    }
}

TEST(SystemErrorText, ComposesInPlace) {
    wchar_t szBuffer[SYSTEM_ERROR_TEXT_CHARS];
    const std::wstring strText = L"Access denied.\r\n";
    wcscpy(szBuffer, strText.c_str());
    ComposeSystemErrorText(szBuffer, 0x80070005, szBuffer);
    EXPECT_EQ(std::wstring(L"Access denied. (5)"), std::wstring(szBuffer));
}

}  // namespace
