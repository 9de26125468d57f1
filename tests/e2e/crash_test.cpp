// An access violation in a program set up as the run sets itself up: the
// crash handler leaves a minidump and tells the user where.
#include <gtest/gtest.h>

#include <memory>
#include <regex>
#include <set>
#include <string>
#include <vector>

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

// The dump files that appeared since before.
std::vector<std::wstring> AddedDumps(const std::set<std::wstring>& before) {
    std::vector<std::wstring> added;
    for (const std::wstring& strName : DumpFiles()) {
        if (before.count(strName) == 0) {
            added.push_back(DumpFolder() + L"\\" + strName);
        }
    }
    return added;
}

// Wine loads its own DbgHelp in place of any file of that name unless told to
// prefer the file for the probe, which this does for its lifetime.
class CPreferNativeDbgHelp {
public:
    CPreferNativeDbgHelp() {
        HKEY hKey = nullptr;
        EXPECT_EQ(ERROR_SUCCESS, ::RegCreateKeyExW(HKEY_CURRENT_USER, kOverrides, 0, nullptr, 0,
                                                   KEY_SET_VALUE, nullptr, &hKey, nullptr));
        static const wchar_t kOrder[] = L"native,builtin";
        EXPECT_EQ(ERROR_SUCCESS,
                  ::RegSetValueExW(hKey, L"dbghelp", 0, REG_SZ,
                                   reinterpret_cast<const BYTE*>(kOrder), sizeof(kOrder)));
        ::RegCloseKey(hKey);
    }
    ~CPreferNativeDbgHelp() { ::RegDeleteTreeW(HKEY_CURRENT_USER, kProgram); }

private:
    static constexpr const wchar_t* kProgram =
        L"Software\\Wine\\AppDefaults\\quorva_crash_probe.exe";
    static constexpr const wchar_t* kOverrides =
        L"Software\\Wine\\AppDefaults\\quorva_crash_probe.exe\\DllOverrides";
};

// Runs the faulting program with a temporary folder of its own, which the
// listing cache file must have left when the process is gone. With
// bPlanted, a copy of the program runs from a folder that also holds a
// library named DbgHelp.dll (without MiniDumpWriteDump), which is its
// current folder too.
CRunResult RunProbe(const std::wstring& strArguments, bool bPlanted = false) {
    CTempFolder temp;
    CTempFolder bin;
    std::wstring strProgram = test::GetProgramFolder() + L"\\quorva_crash_probe.exe";
    std::unique_ptr<CPreferNativeDbgHelp> pPreferNative;
    if (bPlanted) {
        pPreferNative = std::make_unique<CPreferNativeDbgHelp>();
        const std::wstring strCopy = bin / L"quorva_crash_probe.exe";
        EXPECT_TRUE(::CopyFileW(strProgram.c_str(), strCopy.c_str(), TRUE));
        EXPECT_TRUE(::CopyFileW((test::GetProgramFolder() + L"\\qvver_full.dll").c_str(),
                                (bin / L"DbgHelp.dll").c_str(), TRUE));
        strProgram = strCopy;
    }
    const CRunResult result =
        test::RunProgram(strProgram, strArguments, bPlanted ? bin.Path() : std::wstring(),
                         {L"TMP=" + temp.Path(), L"TEMP=" + temp.Path()});
    EXPECT_TRUE(test::ListFiles(temp.Path() + L"\\*").empty())
        << "the cache file outlived the process";
    return result;
}

// One test for every crash, so that no two runs share the dump folder at
// once: each finds the one dump it left.
TEST(CrashTest, AFailureLeavesOneDumpAndTheMessage) {
    const struct {
        const wchar_t* pszArguments;
        bool bPlanted;
        DWORD dwExitCode = 0xFFFFFFFFu;
    } CASES[] = {
        {L"", false},
        // The system's DbgHelp writes the dump, not the planted one.
        {L"", true},
        // One dump and one message, whichever thread gets there first.
        {L"twothreads", false},
        // Out of memory, uncaught, ends as a fault does: nothing from the
        // runtime's own terminate.
        {L"nomemory", false},
        {L"nomemorythread", false},
        // A stack overflow: the dump and the message are written all the same.
        {L"overflow", false},
        // Without a sink the dump is written silently, and the process ends
        // with the exception's own code.
        {L"nosink", false, static_cast<DWORD>(EXCEPTION_ACCESS_VIOLATION)},
    };
    const std::string strMessage =
        "Faulting now.\r\n"
        "ERROR: An unhandled exception has occurred.\r\n"
        "A crash dump file was created and the application will close.\r\n"
        "\r\n"
        "Crash dump filename:\r\n";
    const std::string strFolder = Narrow(DumpFolder()) + "\\";
    for (const auto& tc : CASES) {
        SCOPED_TRACE(testing::Message()
                     << Narrow(tc.pszArguments) << (tc.bPlanted ? " planted" : ""));
        const std::set<std::wstring> before = DumpFiles();
        const CRunResult result = RunProbe(tc.pszArguments, tc.bPlanted);
        const std::vector<std::wstring> added = AddedDumps(before);
        EXPECT_EQ(tc.dwExitCode, result.dwExitCode);
        ASSERT_EQ(1u, added.size());
        const std::string strPath = Narrow(added[0]);
        if (tc.dwExitCode != 0xFFFFFFFFu) {
            EXPECT_EQ("Faulting now.\r\n", result.strOutput);
        } else {
            EXPECT_EQ(strMessage + strPath + "\r\n", result.strOutput);
            const std::string strName = strPath.substr(strFolder.size());
            EXPECT_TRUE(std::regex_match(
                strName, std::regex(R"(quorva_crash_probe\.exe_\d+\.\d+\.\d+\.\d+_x86_)"
                                    R"(\d{4}-\d\d-\d\d_\d{6}_\d{3}\.dmp)")))
                << strName;
        }
        EXPECT_EQ("MDMP", test::ReadWholeFile(added[0]).substr(0, 4));
        EXPECT_TRUE(::DeleteFileW(added[0].c_str()));
    }
}

}  // namespace
