#include "runtime/crash_dump.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "runtime/handle.h"
#include "runtime/library.h"
#include "support/test_support.h"
#include "version.h"

namespace {

using test::CTempFolder;
using test::GetProgramFolder;

std::wstring QuorvaVersionText() {
    return std::to_wstring(QUORVA_VERSION_MAJOR) + L"." + std::to_wstring(QUORVA_VERSION_MINOR) +
           L"." + std::to_wstring(QUORVA_VERSION_BUILD) + L"." +
           std::to_wstring(QUORVA_VERSION_REVISION);
}

const SYSTEMTIME kTime = {2026, 12, 0, 6, 10, 15, 30, 42};

TEST(CrashDumpPathTest, NamesTheDumpAfterProgramVersionAndTime) {
    const std::wstring strLibraries = GetProgramFolder();
    struct {
        std::wstring strModule;
        const wchar_t* pszFolder;
        const wchar_t* pszExpected;
    } cases[] = {
        // A version block gives the version and the architecture.
        {strLibraries + L"\\qvver_full.dll", L"C:\\dumps",
         L"C:\\dumps\\qvver_full.dll_3.2.17.4_x86_2026-12-06_101530_042.dmp"},
        // A folder that ends in a backslash gets no second one.
        {strLibraries + L"\\qvver_full.dll", L"C:\\dumps\\",
         L"C:\\dumps\\qvver_full.dll_3.2.17.4_x86_2026-12-06_101530_042.dmp"},
        // Without a readable version block both pieces are left out.
        {strLibraries + L"\\qvver_notrans.dll", L"C:\\dumps",
         L"C:\\dumps\\qvver_notrans.dll_2026-12-06_101530_042.dmp"},
        {L"C:\\nowhere\\quorva.exe", L"C:\\dumps",
         L"C:\\dumps\\quorva.exe_2026-12-06_101530_042.dmp"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.strModule);
        wchar_t szPath[MAX_PATH];
        ASSERT_TRUE(ComposeCrashDumpPath(c.strModule.c_str(), c.pszFolder, kTime, szPath));
        EXPECT_STREQ(c.pszExpected, szPath);
    }
}

TEST(CrashDumpPathTest, FieldsArePaddedToTheirWidths) {
    const SYSTEMTIME time = {987, 1, 0, 2, 3, 4, 5, 6};
    wchar_t szPath[MAX_PATH];
    ASSERT_TRUE(ComposeCrashDumpPath(L"C:\\q.exe", L"C:\\d", time, szPath));
    EXPECT_STREQ(L"C:\\d\\q.exe_ 987-01-02_030405_006.dmp", szPath);
}

// The composed path must fit in MAX_PATH characters with its terminator; a
// longer one fails and nothing is written past the buffer.
TEST(CrashDumpPathTest, PathsBeyondTheLimitAreRefusedWithoutOverrun) {
    const std::wstring strModule = GetProgramFolder() + L"\\qvver_full.dll";
    // "\qvver_full.dll_3.2.17.4_x86_2026-12-06_101530_042.dmp"
    const size_t cchName = 54;
    struct {
        size_t cchFolder;
        bool bFits;
    } cases[] = {
        {MAX_PATH - 1 - cchName, true}, {MAX_PATH - cchName, false},
        {MAX_PATH - 4, false},   // the folder and its separator fit, the name not
        {MAX_PATH - 1, false},   // the folder alone fills the buffer
        {MAX_PATH + 40, false},  // the folder itself is too long
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.cchFolder);
        const std::wstring strFolder = L"C:\\" + std::wstring(c.cchFolder - 3, L'f');
        std::vector<wchar_t> buffer(MAX_PATH + 64, L'#');
        ::SetLastError(0);
        const bool bComposed =
            ComposeCrashDumpPath(strModule.c_str(), strFolder.c_str(), kTime, buffer.data());
        EXPECT_EQ(c.bFits, bComposed);
        if (c.bFits) {
            EXPECT_EQ(MAX_PATH - 1, std::wcslen(buffer.data()));
        } else {
            EXPECT_EQ(ERROR_FILENAME_EXCED_RANGE, ::GetLastError());
            EXPECT_EQ(L'\0', buffer[0]);
        }
        EXPECT_TRUE(std::all_of(buffer.begin() + MAX_PATH, buffer.end(),
                                [](wchar_t ch) { return ch == L'#'; }));
    }
}

TEST(CrashDumpPathTest, ProgramDumpsGoToItsApplicationDataFolder) {
    wchar_t szFolder[MAX_PATH];
    ASSERT_TRUE(GetAppDataFolder(szFolder));
    wchar_t szPath[MAX_PATH];
    ASSERT_TRUE(GetCrashDumpPath(szPath));
    const std::wstring strPath = szPath;
    const std::wstring strPrefix =
        std::wstring(szFolder) + L"\\quorva_unit_tests.exe_" + QuorvaVersionText() + L"_x86_";
    EXPECT_EQ(strPrefix, strPath.substr(0, strPrefix.size()));
    // _yyyy-mm-dd_hhmmss_mmm.dmp
    EXPECT_EQ(strPrefix.size() + 25, strPath.size());
    EXPECT_EQ(L".dmp", strPath.substr(strPath.size() - 4));
}

// Exception pointers as the system hands them to the filter.
struct CRaisedException {
    EXCEPTION_RECORD record = {};
    CONTEXT context = {};
    EXCEPTION_POINTERS pointers = {&record, &context};

    CRaisedException() {
        record.ExceptionCode = EXCEPTION_ACCESS_VIOLATION;
        record.ExceptionAddress = reinterpret_cast<void*>(&::RtlCaptureContext);
        ::RtlCaptureContext(&context);
    }
};

std::string ReadFileStart(const std::wstring& strPath, size_t cb) {
    CFileHandle hFile(::CreateFileW(strPath.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                    OPEN_EXISTING, 0, nullptr));
    std::string strData(cb, '\0');
    DWORD cbRead = 0;
    if (!hFile || !::ReadFile(hFile.Get(), &strData[0], static_cast<DWORD>(cb), &cbRead, nullptr)) {
        return std::string();
    }
    strData.resize(cbRead);
    return strData;
}

TEST(CrashDumpTest, WritesAMinidumpOfTheProcess) {
    CTempFolder folder;
    const std::wstring strPath = folder.Path() + L"\\test.dmp";
    {
        CFileHandle hFile(::CreateFileW(strPath.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                        FILE_ATTRIBUTE_NORMAL, nullptr));
        ASSERT_TRUE(static_cast<bool>(hFile));
        CRaisedException exception;
        ASSERT_TRUE(WriteCrashDump(hFile.Get(), &exception.pointers, ::GetCurrentThreadId()));
    }
    EXPECT_EQ("MDMP", ReadFileStart(strPath, 4));
}

// The filter hands the dump's path to the sink; the console's own sink ends
// the process, so a recording one stands in for it here.
class CRecordingSink : public CCrashSink {
public:
    void ReportCrash(const wchar_t* pszDumpPath) override { m_dumps.push_back(pszDumpPath); }

    std::vector<std::wstring> m_dumps;
};

TEST(CrashDumpTest, FilterWritesTheDumpAndTellsTheSink) {
    CRecordingSink sink;
    SetCrashSink(&sink);
    CRaisedException exception;
    const LONG lDisposition = CrashDumpFilter(&exception.pointers);
    SetCrashSink(nullptr);

    EXPECT_EQ(EXCEPTION_EXECUTE_HANDLER, lDisposition);
    ASSERT_EQ(1u, sink.m_dumps.size());
    EXPECT_EQ("MDMP", ReadFileStart(sink.m_dumps[0], 4));
    EXPECT_TRUE(::DeleteFileW(sink.m_dumps[0].c_str()));
}

}  // namespace
