#include "runtime/library.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include <shlobj.h>
#include <shlwapi.h>

#include "runtime/version_info.h"
#include "support/scoped_state.h"
#include "support/test_support.h"

namespace {

// The test library built beside the tests: it exports QvTestAnswer and sets
// the last error to ERROR_CANCELLED when FreeLibrary unloads it.
const wchar_t TEST_LIBRARY[] = L"qvver_full.dll";

std::wstring TestLibraryPath(const wchar_t* pszName = TEST_LIBRARY) {
    return test::GetProgramFolder() + L"\\" + pszName;
}

std::wstring ModuleFileName(HMODULE hModule) {
    wchar_t szPath[MAX_PATH];
    const DWORD cch = ::GetModuleFileNameW(hModule, szPath, MAX_PATH);
    return std::wstring(szPath, cch < MAX_PATH ? cch : 0);
}

std::wstring FolderOf(const std::wstring& strPath) {
    return strPath.substr(0, strPath.find_last_of(L'\\'));
}

bool SameText(const std::wstring& strA, const std::wstring& strB) {
    return ::lstrcmpiW(strA.c_str(), strB.c_str()) == 0;
}

bool IsLoaded(const wchar_t* pszName) {
    return ::GetModuleHandleW(pszName) != nullptr;
}

std::wstring LocalAppData() {
    wchar_t szPath[MAX_PATH];
    if (::SHGetFolderPathW(nullptr, CSIDL_LOCAL_APPDATA, nullptr, SHGFP_TYPE_CURRENT, szPath) !=
        S_OK) {
        return std::wstring();
    }
    return szPath;
}

bool IsFolder(const std::wstring& strPath) {
    const DWORD dwAttributes = ::GetFileAttributesW(strPath.c_str());
    return dwAttributes != INVALID_FILE_ATTRIBUTES && (dwAttributes & FILE_ATTRIBUTE_DIRECTORY);
}

// Removes a folder (or a file) under the local application data before and
// after the test.
class CAppDataCleanup {
public:
    explicit CAppDataCleanup(const std::wstring& strName)
        : m_strPath(LocalAppData() + L"\\" + strName) {
        Remove();
    }
    ~CAppDataCleanup() { Remove(); }
    const std::wstring& Path() const { return m_strPath; }

    void Remove() const {
        if (!::DeleteFileW(m_strPath.c_str())) {
            test::RemoveTree(m_strPath);
        }
    }

private:
    std::wstring m_strPath;
};

TEST(LibraryTest, ExpandsAndCompletesPaths) {
    test::CTempFolder temp;
    test::CScopedCurrentFolder current(temp.Path());
    test::CScopedEnvironmentVariable drive(L"QV_TEST_DRIVE_ROOT", L"D:\\data");
    test::CScopedEnvironmentVariable relative(L"QV_TEST_RELATIVE", L"sub");
    const struct {
        const wchar_t* pszSource;
        std::wstring strExpected;
    } CASES[] = {
        {L"%QV_TEST_DRIVE_ROOT%\\sub\\..\\x", L"D:\\data\\x"},
        {L"D:\\a\\.\\b", L"D:\\a\\b"},
        {L"\\\\server\\share\\a\\..\\b", L"\\\\server\\share\\b"},
        {L"sub", temp.Path() + L"\\sub"},
        {L"sub\\..\\y", temp.Path() + L"\\y"},
        {L"%QV_TEST_RELATIVE%", temp.Path() + L"\\sub"},
        // As the platform resolves an ordinary path.
        {L"D:/a/b. ", L"D:\\a\\b"},
        {L"\\rooted", temp.Path().substr(0, 2) + L"\\rooted"},
    };
    for (const auto& tc : CASES) {
        SCOPED_TRACE(tc.pszSource);
        wchar_t szOut[MAX_PATH];
        ASSERT_TRUE(ExpandFullPath(tc.pszSource, szOut, MAX_PATH));
        EXPECT_EQ(tc.strExpected, szOut);
    }
}

TEST(LibraryTest, RejectsPathsThatDoNotFit) {
    // "D:\" and the variable's value: 259 characters fit with the terminator.
    test::CScopedEnvironmentVariable fits(L"QV_TEST_FITS", std::wstring(MAX_PATH - 4, L'f'));
    test::CScopedEnvironmentVariable over(L"QV_TEST_OVER", std::wstring(MAX_PATH - 3, L'o'));
    test::CScopedEnvironmentVariable tooFar(L"QV_TEST_FAR", std::wstring(1000, L'o'));

    wchar_t szOut[MAX_PATH];
    ASSERT_TRUE(ExpandFullPath(L"D:\\%QV_TEST_FITS%", szOut, MAX_PATH));
    EXPECT_EQ(L"D:\\" + std::wstring(MAX_PATH - 4, L'f'), szOut);

    static const struct {
        const wchar_t* pszSource;
        DWORD cchOut;
        DWORD dwError;
    } CASES[] = {
        {L"D:\\%QV_TEST_OVER%", MAX_PATH, ERROR_FILENAME_EXCED_RANGE},
        {L"D:\\%QV_TEST_FAR%", MAX_PATH, ERROR_FILENAME_EXCED_RANGE},
        {L"%QV_TEST_FAR%", MAX_PATH, ERROR_FILENAME_EXCED_RANGE},
        {L"D:\\data", 7, ERROR_INSUFFICIENT_BUFFER},
        {L"", MAX_PATH, ERROR_INVALID_NAME},
        {L"D:\\data", 8, ERROR_SUCCESS},
    };
    for (const auto& tc : CASES) {
        SCOPED_TRACE(std::wstring(tc.pszSource) + L" in " + std::to_wstring(tc.cchOut));
        std::vector<wchar_t> out(tc.cchOut + 16, L'#');
        ::SetLastError(ERROR_SUCCESS);
        const BOOL bResult = ExpandFullPath(tc.pszSource, out.data(), tc.cchOut);
        if (tc.dwError == ERROR_SUCCESS) {
            EXPECT_TRUE(bResult);
            EXPECT_STREQ(L"D:\\data", out.data());
        } else {
            EXPECT_FALSE(bResult);
            EXPECT_EQ(tc.dwError, ::GetLastError());
            EXPECT_EQ(L'\0', out[0]);
        }
        for (size_t n = tc.cchOut; n < out.size(); ++n) {
            ASSERT_EQ(L'#', out[n]) << "written past the buffer at " << n;
        }
    }
}

TEST(LibraryTest, LoadsBareNamesFromTheSystemFolderOnly) {
    test::CTempFolder temp;
    // Planted in the current folder: a library of no system name and one
    // named as a system library.
    for (const wchar_t* pszName : {L"qvlocal.dll", L"dbghelp.dll", L"sub\\qvsub.dll"}) {
        test::MakeFile(temp / pszName);
        ASSERT_TRUE(::CopyFileW(TestLibraryPath().c_str(), (temp / pszName).c_str(), FALSE));
    }
    test::CScopedCurrentFolder current(temp.Path());
    wchar_t szSystem[MAX_PATH];
    ASSERT_NE(0u, ::GetSystemDirectoryW(szSystem, MAX_PATH));

    const struct {
        const wchar_t* pszName;
        std::wstring strExpected;  // the file loaded; empty: none
    } CASES[] = {
        {L"dbghelp.dll", std::wstring(szSystem) + L"\\dbghelp.dll"},
        {L"qvlocal.dll", std::wstring()},
        {L"qvnowhere.dll", std::wstring()},
        // A name with a folder is made absolute against the current folder.
        {L"sub\\qvsub.dll", temp / L"sub\\qvsub.dll"},
    };
    for (const auto& tc : CASES) {
        SCOPED_TRACE(tc.pszName);
        ::SetLastError(ERROR_SUCCESS);
        CModuleHandle hModule(LoadSystemLibrary(tc.pszName));
        if (tc.strExpected.empty()) {
            EXPECT_FALSE(hModule);
            EXPECT_EQ(static_cast<DWORD>(ERROR_MOD_NOT_FOUND), ::GetLastError());
        } else {
            ASSERT_TRUE(hModule);
            EXPECT_TRUE(SameText(tc.strExpected, ModuleFileName(hModule.Get())))
                << ModuleFileName(hModule.Get());
        }
    }
}

TEST(LibraryTest, ReleasingALibraryKeepsTheLastError) {
    const std::wstring strPath = TestLibraryPath();
    // The test library's unloading does change the last error.
    {
        HMODULE hModule = ::LoadLibraryExW(strPath.c_str(), nullptr, 0);
        ASSERT_NE(nullptr, hModule);
        ::SetLastError(ERROR_FILE_NOT_FOUND);
        ::FreeLibrary(hModule);
        ASSERT_EQ(static_cast<DWORD>(ERROR_CANCELLED), ::GetLastError());
    }
    {
        CModule module;
        ASSERT_TRUE(module.Load(strPath.c_str()));
        EXPECT_TRUE(IsLoaded(TEST_LIBRARY));
        ::SetLastError(ERROR_FILE_NOT_FOUND);
        module.Free();
        EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_NOT_FOUND), ::GetLastError());
        EXPECT_EQ(nullptr, module.Get());
        EXPECT_FALSE(IsLoaded(TEST_LIBRARY));
    }
    {
        CModule module;
        ASSERT_TRUE(module.Load(strPath.c_str()));
        const HMODULE hLoaded = module.Get();
        // A failed load leaves the library held.
        EXPECT_FALSE(module.Load(L"qvnowhere.dll"));
        EXPECT_EQ(hLoaded, module.Get());
        ::SetLastError(ERROR_PATH_NOT_FOUND);
    }
    EXPECT_EQ(static_cast<DWORD>(ERROR_PATH_NOT_FOUND), ::GetLastError());
    EXPECT_FALSE(IsLoaded(TEST_LIBRARY));
}

using PFN_QV_TEST_ANSWER = int (*)();

TEST(LibraryTest, ResolvesProceduresOfLibraries) {
    const std::wstring strPath = TestLibraryPath();
    CModuleProcPtr<PFN_QV_TEST_ANSWER> answer;
    ASSERT_TRUE(answer.Load(strPath.c_str(), "QvTestAnswer"));
    ASSERT_TRUE(answer);
    EXPECT_EQ(42, answer.Get()());
    EXPECT_NE(nullptr, answer.GetModule());

    // Resolving in a library of the caller's releases the own one.
    const HMODULE hKernel = ::GetModuleHandleW(L"kernel32.dll");
    ASSERT_TRUE(answer.Resolve(hKernel, "GetTickCount"));
    EXPECT_EQ(nullptr, answer.GetModule());
    EXPECT_FALSE(IsLoaded(TEST_LIBRARY));

    ::SetLastError(ERROR_SUCCESS);
    EXPECT_FALSE(answer.Resolve(nullptr, "GetTickCount"));
    EXPECT_FALSE(answer);
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_HANDLE), ::GetLastError());

    CProcPtr<PFN_QV_TEST_ANSWER> plain;
    HMODULE hModule = ::LoadLibraryExW(strPath.c_str(), nullptr, 0);
    ASSERT_NE(nullptr, hModule);
    EXPECT_TRUE(plain.Resolve(hModule, "QvTestAnswer"));
    EXPECT_EQ(42, plain.Get()());
    ::FreeLibrary(hModule);
}

TEST(LibraryTest, AFailedLookupKeepsItsErrorAfterTheRelease) {
    CModuleProcPtr<PFN_QV_TEST_ANSWER> missing;
    ::SetLastError(ERROR_SUCCESS);
    EXPECT_FALSE(missing.Load(TestLibraryPath().c_str(), "QvNoSuchProcedure"));
    // Not ERROR_CANCELLED from the library's unloading.
    EXPECT_EQ(static_cast<DWORD>(ERROR_PROC_NOT_FOUND), ::GetLastError());
    EXPECT_FALSE(missing);
    EXPECT_EQ(nullptr, missing.GetModule());
    EXPECT_FALSE(IsLoaded(TEST_LIBRARY));

    ::SetLastError(ERROR_SUCCESS);
    EXPECT_FALSE(missing.Load(L"qvnowhere.dll", "QvTestAnswer"));
    EXPECT_EQ(static_cast<DWORD>(ERROR_MOD_NOT_FOUND), ::GetLastError());
}

TEST(LibraryTest, CreatesApplicationDataFolders) {
    const std::wstring strCompany =
        L"Quorva Test Company " + std::to_wstring(::GetCurrentProcessId());
    const std::wstring strProduct =
        L"Quorva Test Product " + std::to_wstring(::GetCurrentProcessId());
    CAppDataCleanup company(strCompany);
    CAppDataCleanup product(strProduct);
    ASSERT_FALSE(LocalAppData().empty());

    const struct {
        const wchar_t* pszName;
        const wchar_t* pszCompany;
        std::wstring strExpected;
    } CASES[] = {
        {L"company and product", strCompany.c_str(), company.Path() + L"\\" + strProduct},
        {L"no company", nullptr, product.Path()},
        {L"empty company", L"", product.Path()},
    };
    for (const auto& tc : CASES) {
        SCOPED_TRACE(tc.pszName);
        // The second time the folders exist already.
        for (int nTime = 0; nTime < 2; ++nTime) {
            wchar_t szPath[MAX_PATH];
            ASSERT_TRUE(CreateAppDataFolder(tc.pszCompany, strProduct.c_str(), szPath));
            EXPECT_EQ(tc.strExpected, szPath);
            EXPECT_TRUE(IsFolder(szPath));
        }
    }

    // A file where the company folder belongs.
    company.Remove();
    test::MakeFile(company.Path(), "not a folder");
    wchar_t szPath[MAX_PATH];
    ::SetLastError(ERROR_SUCCESS);
    EXPECT_FALSE(CreateAppDataFolder(strCompany.c_str(), strProduct.c_str(), szPath));
    EXPECT_EQ(static_cast<DWORD>(ERROR_ALREADY_EXISTS), ::GetLastError());
}

TEST(LibraryTest, NamesTheApplicationDataFolderAfterTheVersion) {
    CAppDataCleanup company(L"Quorva Unit Test Company");
    CAppDataCleanup product(L"Quorva Unit Test Product");
    const struct {
        const wchar_t* pszLibrary;
        std::wstring strExpected;  // empty: no folder
    } CASES[] = {
        // Blanks at both ends of both values are dropped.
        {L"qvver_full.dll", company.Path() + L"\\Quorva Unit Test Product"},
        // A company of blanks only: no company level.
        {L"qvver_blankco.dll", product.Path()},
        // No CompanyName in the first translation: no folder at all.
        {L"qvver_nodesc.dll", std::wstring()},
    };
    for (const auto& tc : CASES) {
        SCOPED_TRACE(tc.pszLibrary);
        company.Remove();
        product.Remove();
        CVersionInfo versionInfo;
        ASSERT_TRUE(versionInfo.Load(TestLibraryPath(tc.pszLibrary).c_str()));
        wchar_t szPath[MAX_PATH];
        ::SetLastError(ERROR_SUCCESS);
        const BOOL bResult = CreateAppDataFolderFromVersion(versionInfo, szPath);
        if (tc.strExpected.empty()) {
            EXPECT_FALSE(bResult);
            EXPECT_NE(static_cast<DWORD>(ERROR_SUCCESS), ::GetLastError());
            EXPECT_FALSE(IsFolder(company.Path()));
            EXPECT_FALSE(IsFolder(product.Path()));
        } else {
            ASSERT_TRUE(bResult);
            EXPECT_EQ(tc.strExpected, szPath);
            EXPECT_TRUE(IsFolder(tc.strExpected));
        }
    }
}

TEST(LibraryTest, NamesTheApplicationDataFolderAfterTheProgramsResource) {
    // The unit-test program carries the program's own version resource.
    wchar_t szPath[MAX_PATH];
    ASSERT_TRUE(GetAppDataFolder(szPath)) << ::GetLastError();
    wchar_t szLocal[MAX_PATH];
    ASSERT_EQ(S_OK, ::SHGetFolderPathW(nullptr, CSIDL_LOCAL_APPDATA, nullptr, 0, szLocal));
    EXPECT_EQ(std::wstring(szLocal) + L"\\Quorva Developers\\Quorva", std::wstring(szPath));
    EXPECT_TRUE(::PathIsDirectoryW(szPath));
}

TEST(LibraryTest, CreatesFreshTemporaryFiles) {
    wchar_t szTemp[MAX_PATH];
    ASSERT_NE(0u, ::GetTempPathW(MAX_PATH, szTemp));
    std::wstring strFolder = szTemp;
    if (!strFolder.empty() && strFolder.back() == L'\\') {
        strFolder.pop_back();
    }
    wchar_t szFirst[MAX_PATH];
    wchar_t szSecond[MAX_PATH];
    ASSERT_TRUE(CreateTempFileName(szFirst));
    const bool bSecond = CreateTempFileName(szSecond) != FALSE;
    const std::wstring strFirst = szFirst;
    const std::wstring strSecond = bSecond ? szSecond : L"";
    const std::string strFirstBytes = test::ReadWholeFile(strFirst);
    ::DeleteFileW(szFirst);
    if (bSecond) {
        ::DeleteFileW(szSecond);
    }
    ASSERT_TRUE(bSecond);
    EXPECT_NE(strFirst, strSecond);
    for (const std::wstring& strPath : {strFirst, strSecond}) {
        SCOPED_TRACE(strPath);
        EXPECT_TRUE(SameText(strFolder, FolderOf(strPath)));
        const std::wstring strName = strPath.substr(strPath.find_last_of(L'\\') + 1);
        EXPECT_TRUE(SameText(L"quo", strName.substr(0, 3)));
        EXPECT_TRUE(SameText(L".tmp", strName.substr(strName.size() - 4)));
    }
    EXPECT_TRUE(strFirstBytes.empty());
}

}  // namespace
