// An access violation in a program set up as the run sets itself up: the
// crash handler leaves a minidump and tells the user where.
#include <gtest/gtest.h>

#include <regex>
#include <set>
#include <string>

#include <shlobj.h>

#include "support/test_support.h"

namespace {

using test::CRunResult;
using test::CTempFolder;

// The folder that the program's dumps go to: local application data,
// CompanyName, ProductName.
std::wstring DumpFolder() {
    wchar_t szLocal[MAX_PATH];
    if (FAILED(::SHGetFolderPathW(nullptr, CSIDL_LOCAL_APPDATA, nullptr, SHGFP_TYPE_CURRENT,
                                  szLocal))) {
        return std::wstring();
    }
    return std::wstring(szLocal) + L"\\Quorva Developers\\Quorva";
}

std::set<std::wstring> DumpFiles() {
    const std::vector<std::wstring> files = test::ListFiles(DumpFolder() + L"\\*.dmp");
    return std::set<std::wstring>(files.begin(), files.end());
}

std::string Narrow(const std::wstring& strText) {
    return std::string(strText.begin(), strText.end());
}

// Runs the faulting program with a temporary folder of its own, which the
// listing cache file must have left when the process is gone.
CRunResult RunProbe(const std::wstring& strArguments) {
    CTempFolder temp;
    const CRunResult result =
        test::RunProgram(test::GetProgramFolder() + L"\\quorva_crash_probe.exe", strArguments,
                         std::wstring(), {L"TMP=" + temp.Path(), L"TEMP=" + temp.Path()});
    EXPECT_TRUE(test::ListFiles(temp.Path() + L"\\*").empty())
        << "the cache file outlived the process";
    return result;
}

TEST(CrashTest, AFaultLeavesADumpAndTheMessage) {
    const CRunResult result = RunProbe(L"");
    EXPECT_EQ(0xFFFFFFFFu, result.dwExitCode);

    const std::string strMessage =
        "Faulting now.\r\n"
        "ERROR: An unhandled exception has occurred.\r\n"
        "A crash dump file was created and the application will close.\r\n"
        "\r\n"
        "Crash dump filename:\r\n";
    ASSERT_EQ(strMessage, result.strOutput.substr(0, strMessage.size()));
    const std::string strPathLine = result.strOutput.substr(strMessage.size());
    ASSERT_GE(strPathLine.size(), 2u);
    EXPECT_EQ("\r\n", strPathLine.substr(strPathLine.size() - 2));
    const std::string strPath = strPathLine.substr(0, strPathLine.size() - 2);

    const std::string strFolder = Narrow(DumpFolder()) + "\\";
    ASSERT_EQ(strFolder, strPath.substr(0, strFolder.size()));
    const std::string strName = strPath.substr(strFolder.size());
    EXPECT_TRUE(
        std::regex_match(strName, std::regex(R"(quorva_crash_probe\.exe_\d+\.\d+\.\d+\.\d+_x86_)"
                                             R"(\d{4}-\d\d-\d\d_\d{6}_\d{3}\.dmp)")))
        << strName;

    const std::wstring strDump(strPath.begin(), strPath.end());
    EXPECT_EQ("MDMP", test::ReadWholeFile(strDump).substr(0, 4));
    EXPECT_TRUE(::DeleteFileW(strDump.c_str()));
}

TEST(CrashTest, WithoutASinkTheDumpIsWrittenSilently) {
    const std::set<std::wstring> before = DumpFiles();
    const CRunResult result = RunProbe(L"nosink");
    // The process ends with the exception's own code.
    EXPECT_EQ(static_cast<DWORD>(EXCEPTION_ACCESS_VIOLATION), result.dwExitCode);
    EXPECT_EQ("Faulting now.\r\n", result.strOutput);

    std::set<std::wstring> added = DumpFiles();
    for (const std::wstring& strName : before) {
        added.erase(strName);
    }
    ASSERT_EQ(1u, added.size());
    const std::wstring strDump = DumpFolder() + L"\\" + *added.begin();
    EXPECT_EQ("MDMP", test::ReadWholeFile(strDump).substr(0, 4));
    EXPECT_TRUE(::DeleteFileW(strDump.c_str()));
}

}  // namespace
