#include "runtime/version_info.h"

#include <gtest/gtest.h>

#include <string>

#include "support/test_support.h"

namespace {

std::wstring TestLibraryPath(const wchar_t* pszName) {
    return test::GetProgramFolder() + L"\\" + pszName;
}

std::wstring OwnPath() {
    wchar_t szPath[MAX_PATH];
    const DWORD cch = ::GetModuleFileNameW(nullptr, szPath, MAX_PATH);
    return std::wstring(szPath, cch < MAX_PATH ? cch : 0);
}

// What the line ends with on this system: ", 32-bit." for a 32-bit process
// on 64-bit Windows.
std::wstring Wow64Suffix() {
    return IsWow64() ? L", 32-bit." : L"";
}

TEST(VersionInfoTest, ComposesTheVersionLine) {
    const struct {
        const wchar_t* pszLibrary;
        bool bResult;
        std::wstring strExpected;
    } CASES[] = {
        // The third part is the build; a pre-release flag outside the flags
        // mask still counts.
        {L"qvver_full.dll", true, L"Quorva Test Library - Version 3.2 (build 17) [BETA]"},
        {L"qvver_blankco.dll", true, L"Blank Company Library - Version 1.0 (build 5)"},
        // No FileDescription in the first translation, only in the second.
        {L"qvver_nodesc.dll", false, L"untouched"},
    };
    for (const auto& tc : CASES) {
        SCOPED_TRACE(tc.pszLibrary);
        CConsoleVersionInfo versionInfo;
        ASSERT_TRUE(versionInfo.Load(TestLibraryPath(tc.pszLibrary).c_str()));
        std::wstring strLine = L"untouched";
        EXPECT_EQ(tc.bResult, versionInfo.GetVersionLine(strLine));
        EXPECT_EQ(tc.bResult ? tc.strExpected + Wow64Suffix() : tc.strExpected, strLine);
    }
}

TEST(VersionInfoTest, ReadsTheFixedPart) {
    CVersionInfo versionInfo;
    ASSERT_TRUE(versionInfo.Load(TestLibraryPath(L"qvver_full.dll").c_str()));
    EXPECT_EQ(0xFEEF04BDu, versionInfo.dwSignature);
    EXPECT_EQ(static_cast<DWORD>(MAKELONG(2, 3)), versionInfo.dwFileVersionMS);
    EXPECT_EQ(static_cast<DWORD>(MAKELONG(4, 17)), versionInfo.dwFileVersionLS);
    EXPECT_EQ(static_cast<DWORD>(VS_FF_PRERELEASE), versionInfo.dwFileFlags & VS_FF_PRERELEASE);
    EXPECT_EQ(0u, versionInfo.dwFileFlagsMask & VS_FF_PRERELEASE);
    EXPECT_EQ(static_cast<DWORD>(VFT_DLL), versionInfo.dwFileType);
}

TEST(VersionInfoTest, GivesTrimmedValuesOfTheFirstTranslation) {
    const struct {
        const wchar_t* pszLibrary;
        const wchar_t* pszName;
        const wchar_t* pszExpected;  // null: not found
    } CASES[] = {
        {L"qvver_full.dll", L"FileDescription", L"Quorva Test Library"},
        {L"qvver_full.dll", L"LegalCopyright", L"Copyright (c) 2026 Quorva test data."},
        {L"qvver_full.dll", L"CompanyName", L"Quorva Unit Test Company"},
        {L"qvver_full.dll", L"ProductName", L"Quorva Unit Test Product"},
        {L"qvver_full.dll", L"Comments", nullptr},
        {L"qvver_blankco.dll", L"CompanyName", L""},
        {L"qvver_nodesc.dll", L"LegalCopyright", L"Copyright (c) 2026 Quorva test data."},
        {L"qvver_nodesc.dll", L"FileDescription", nullptr},
        {L"qvver_nodesc.dll", L"CompanyName", nullptr},
    };
    for (const auto& tc : CASES) {
        SCOPED_TRACE(std::wstring(tc.pszLibrary) + L" " + tc.pszName);
        CVersionInfo versionInfo;
        ASSERT_TRUE(versionInfo.Load(TestLibraryPath(tc.pszLibrary).c_str()));
        std::wstring strValue = L"untouched";
        ::SetLastError(ERROR_SUCCESS);
        if (tc.pszExpected == nullptr) {
            EXPECT_FALSE(versionInfo.GetStringValue(tc.pszName, strValue));
            // VerQueryValueW's own code (Wine: ERROR_RESOURCE_TYPE_NOT_FOUND).
            EXPECT_NE(static_cast<DWORD>(ERROR_SUCCESS), ::GetLastError());
            EXPECT_EQ(L"untouched", strValue);
        } else {
            EXPECT_TRUE(versionInfo.GetStringValue(tc.pszName, strValue));
            EXPECT_EQ(tc.pszExpected, strValue);
        }
    }

    CConsoleVersionInfo versionInfo;
    ASSERT_TRUE(versionInfo.Load(TestLibraryPath(L"qvver_full.dll").c_str()));
    std::wstring strCopyright;
    EXPECT_TRUE(versionInfo.GetCopyright(strCopyright));
    EXPECT_EQ(L"Copyright (c) 2026 Quorva test data.", strCopyright);
}

TEST(VersionInfoTest, LoadsNothingFromFilesWithoutAUsableResource) {
    test::CTempFolder temp;
    test::MakeFile(temp / L"text.txt", "not a program\r\n");
    const struct {
        const wchar_t* pszName;
        std::wstring strPath;
    } CASES[] = {
        {L"program without a version resource", OwnPath()},
        {L"text file", temp / L"text.txt"},
        {L"missing file", temp / L"missing.dll"},
        {L"no translation table", TestLibraryPath(L"qvver_notrans.dll")},
    };
    for (const auto& tc : CASES) {
        SCOPED_TRACE(tc.pszName);
        CVersionInfo versionInfo;
        // Loaded first: a failed load empties the object.
        ASSERT_TRUE(versionInfo.Load(TestLibraryPath(L"qvver_full.dll").c_str()));
        ::SetLastError(ERROR_SUCCESS);
        EXPECT_FALSE(versionInfo.Load(tc.strPath.c_str()));
        EXPECT_NE(static_cast<DWORD>(ERROR_SUCCESS), ::GetLastError());
        EXPECT_FALSE(versionInfo.IsLoaded());
        EXPECT_EQ(0u, versionInfo.dwSignature);
        EXPECT_EQ(0u, versionInfo.dwFileVersionMS);
        std::wstring strValue;
        ::SetLastError(ERROR_SUCCESS);
        EXPECT_FALSE(versionInfo.GetStringValue(L"FileDescription", strValue));
        EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_DATA), ::GetLastError());
    }
}

TEST(VersionInfoTest, ReadsTheRunningProgram) {
    // The test program has no version resource: nothing to show.
    CConsoleVersionInfo versionInfo;
    EXPECT_FALSE(versionInfo.IsLoaded());
    std::wstring strLine;
    EXPECT_FALSE(versionInfo.GetVersionLine(strLine));
    EXPECT_TRUE(strLine.empty());
}

TEST(VersionInfoTest, TellsA32BitProcessOn64BitWindows) {
    SYSTEM_INFO info;
    ::GetNativeSystemInfo(&info);
    const bool bNative64 = info.wProcessorArchitecture == PROCESSOR_ARCHITECTURE_AMD64 ||
                           info.wProcessorArchitecture == PROCESSOR_ARCHITECTURE_IA64 ||
                           info.wProcessorArchitecture == PROCESSOR_ARCHITECTURE_ARM64;
    EXPECT_EQ(bNative64 && sizeof(void*) == 4, IsWow64());
}

}  // namespace
