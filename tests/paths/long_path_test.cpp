#include "paths/long_path.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/scoped_state.h"
#include "support/test_support.h"

namespace {

// Characters past the long path capacity that must never change.
constexpr size_t CCH_GUARD = 64;
constexpr wchar_t GUARD = L'#';

// A path buffer of MAX_LONG_PATH characters followed by guard characters.
class CGuardedBuffer {
public:
    explicit CGuardedBuffer(const std::wstring& strText = std::wstring())
        : m_buffer(MAX_LONG_PATH + CCH_GUARD, GUARD) {
        Set(strText);
    }
    void Set(const std::wstring& strText) {
        std::copy(strText.begin(), strText.end(), m_buffer.begin());
        m_buffer[strText.size()] = L'\0';
    }
    wchar_t* Get() { return m_buffer.data(); }
    std::wstring Text() const { return std::wstring(m_buffer.data()); }
    bool GuardIntact() const {
        for (size_t n = MAX_LONG_PATH; n < m_buffer.size(); ++n) {
            if (m_buffer[n] != GUARD) {
                return false;
            }
        }
        return true;
    }

private:
    std::vector<wchar_t> m_buffer;
};

// Converts pszPath with pfnConvert into another buffer and in place, and
// expects pszExpected from both.
template <typename Convert>
void ExpectIntoAnotherBufferAndInPlace(Convert pfnConvert, const wchar_t* pszPath,
                                       const wchar_t* pszExpected) {
    CGuardedBuffer out;
    ASSERT_TRUE(pfnConvert(out.Get(), pszPath));
    EXPECT_EQ(pszExpected, out.Text());
    CGuardedBuffer inPlace(pszPath);
    ASSERT_TRUE(pfnConvert(inPlace.Get(), inPlace.Get()));
    EXPECT_EQ(pszExpected, inPlace.Text());
}

// "\\?\D:\" followed by as many "a" as make a text of cch characters.
std::wstring LongText(size_t cch) {
    const std::wstring strHead = L"\\\\?\\D:\\";
    return strHead + std::wstring(cch - strHead.size(), L'a');
}

TEST(LongPathTest, NormalizesBodies) {
    static const struct {
        const wchar_t* pszPath;
        const wchar_t* pszExpected;
    } CASES[] = {
        {L"\\\\?\\D:\\a\\.\\b\\..\\c", L"\\\\?\\D:\\a\\c"},
        {L"\\\\?\\D:\\..\\x", L"\\\\?\\D:\\x"},
        {L"\\\\?\\D:\\dir\\name...", L"\\\\?\\D:\\dir\\name"},
        {L"\\\\?\\D:\\dir\\...", L"\\\\?\\D:\\dir\\"},
        {L"\\\\?\\D:", L"\\\\?\\D:\\"},
        {L"\\\\?\\D:\\a\\.", L"\\\\?\\D:\\a"},
        {L"\\\\?\\D:\\a\\b\\..\\..\\..", L"\\\\?\\D:\\"},
        {L"\\\\?\\D:\\.name\\..name\\...x\\a...b", L"\\\\?\\D:\\.name\\..name\\...x\\a...b"},
        {L"\\\\?\\D:\\a\\...\\b", L"\\\\?\\D:\\a\\...\\b"},
        {L"\\\\?\\D:\\a\\\\b", L"\\\\?\\D:\\a\\\\b"},
        {L"\\\\?\\UNC\\server\\share\\a\\..\\b", L"\\\\?\\UNC\\server\\share\\b"},
        {L"\\\\?\\unc\\server\\share\\.\\b", L"\\\\?\\unc\\server\\share\\b"},
        {L"\\\\server\\share\\.\\x\\..\\y", L"\\\\server\\share\\y"},
        {L"D:\\a\\b\\..", L"D:\\a"},
        {L"a\\..\\b", L"b"},
        {L"..\\x", L"x"},
        {L"\\..\\x", L"\\x"},
        {L"\\a\\..\\x", L"\\x"},
        {L".\\x", L"x"},
        {L".", L""},
        {L"", L""},
    };
    for (const auto& tc : CASES) {
        SCOPED_TRACE(tc.pszPath);
        // In place too, as CombinePath and MakeLongPath use it.
        ExpectIntoAnotherBufferAndInPlace(NormalizeLongPath, tc.pszPath, tc.pszExpected);
    }
}

TEST(LongPathTest, MakesLongPathsOfRoots) {
    test::CScopedEnvironmentVariable drive(L"QV_TEST_DRIVE_ROOT", L"D:\\data");
    test::CScopedEnvironmentVariable server(L"QV_TEST_SERVER_ROOT", L"\\\\server\\share");
    static const struct {
        const wchar_t* pszPath;
        const wchar_t* pszExpected;
    } CASES[] = {
        {L"D:\\data", L"\\\\?\\D:\\data"},
        {L"D:\\data\\..\\x\\.\\y", L"\\\\?\\D:\\x\\y"},
        {L"D:\\data.", L"\\\\?\\D:\\data"},
        {L"D:", L"\\\\?\\D:\\"},
        {L"\\\\?\\D:\\a\\.\\b", L"\\\\?\\D:\\a\\b"},
        {L"\\\\server\\share\\dir", L"\\\\?\\UNC\\server\\share\\dir"},
        // A UNC path is taken as written: no environment expansion.
        {L"\\\\server\\share\\%QV_TEST_DRIVE_ROOT%",
         L"\\\\?\\UNC\\server\\share\\%QV_TEST_DRIVE_ROOT%"},
        {L"%QV_TEST_DRIVE_ROOT%\\sub", L"\\\\?\\D:\\data\\sub"},
        {L"%QV_TEST_SERVER_ROOT%\\dir", L"\\\\?\\UNC\\server\\share\\dir"},
    };
    for (const auto& tc : CASES) {
        SCOPED_TRACE(tc.pszPath);
        ExpectIntoAnotherBufferAndInPlace(MakeLongPath, tc.pszPath, tc.pszExpected);
    }
}

TEST(LongPathTest, ResolvesRelativeRootsAgainstTheCurrentFolder) {
    test::CTempFolder temp;
    test::CScopedCurrentFolder current(temp.Path());
    test::CScopedEnvironmentVariable relative(L"QV_TEST_RELATIVE", L"sub");
    static const struct {
        const wchar_t* pszPath;
        const wchar_t* pszRelative;
    } CASES[] = {
        {L"sub", L"\\sub"},
        {L"sub\\..\\other", L"\\other"},
        // Expanded before the root is made absolute.
        {L"%QV_TEST_RELATIVE%\\x", L"\\sub\\x"},
    };
    for (const auto& tc : CASES) {
        SCOPED_TRACE(tc.pszPath);
        CGuardedBuffer out;
        ASSERT_TRUE(MakeLongPath(out.Get(), tc.pszPath));
        EXPECT_EQ(L"\\\\?\\" + temp.Path() + tc.pszRelative, out.Text());
    }
}

TEST(LongPathTest, AppendsComponents) {
    static const struct {
        const wchar_t* pszPath;
        const wchar_t* pszComponent;
        const wchar_t* pszExpected;
    } CASES[] = {
        {L"\\\\?\\D:\\data", L"\\", L"\\\\?\\D:\\data"},
        {L"\\\\?\\D:\\data", L"*.*", L"\\\\?\\D:\\data\\*.*"},
        {L"\\\\?\\D:\\data\\", L"report.txt", L"\\\\?\\D:\\data\\report.txt"},
        {L"\\\\?\\D:\\data", L"\\report.txt", L"\\\\?\\D:\\data\\report.txt"},
        {L"\\\\?\\D:\\a\\b", L"..\\x", L"\\\\?\\D:\\a\\x"},
        {L"\\\\?\\D:\\a", L"..", L"\\\\?\\D:\\"},
        {L"\\\\?\\D:", L"", L"\\\\?\\D:\\"},
        {L"\\\\?\\D:", L"\\", L"\\\\?\\D:\\"},
        {L"\\\\?\\D:\\a", L".name", L"\\\\?\\D:\\a\\.name"},
        {L"\\\\?\\D:\\a", L"..name", L"\\\\?\\D:\\a\\..name"},
        {L"\\\\?\\D:\\a", L"...\\b", L"\\\\?\\D:\\a\\...\\b"},
        // Trailing dots never name a file with the prefix.
        {L"\\\\?\\D:\\a", L"...", L"\\\\?\\D:\\a\\"},
        {L"\\\\?\\D:\\a", L"\\\\?\\E:\\x\\.\\y", L"\\\\?\\E:\\x\\y"},
        {L"\\\\?\\D:\\a", L"E:\\x\\..\\y", L"\\\\?\\E:\\y"},
        {L"\\\\?\\D:\\a", L"\\\\server\\share\\x", L"\\\\?\\UNC\\server\\share\\x"},
        {L"\\\\?\\UNC\\server\\share", L"dir", L"\\\\?\\UNC\\server\\share\\dir"},
        {L"\\", L"report.txt", L"\\report.txt"},
    };
    for (const auto& tc : CASES) {
        SCOPED_TRACE(std::wstring(tc.pszPath) + L" + " + tc.pszComponent);
        CGuardedBuffer path(tc.pszPath);
        ASSERT_TRUE(AppendPath(path.Get(), tc.pszComponent));
        EXPECT_EQ(tc.pszExpected, path.Text());
    }
}

TEST(LongPathTest, CombinesIntoAnotherBuffer) {
    CGuardedBuffer out(L"old");
    EXPECT_EQ(out.Get(), CombinePath(out.Get(), L"\\\\?\\D:\\a\\b", L"..\\c"));
    EXPECT_EQ(L"\\\\?\\D:\\a\\c", out.Text());

    EXPECT_EQ(out.Get(), CombinePath(out.Get(), nullptr, nullptr));
    EXPECT_EQ(L"", out.Text());

    static const struct {
        const wchar_t* pszBase;
        const wchar_t* pszComponent;
    } INVALID[] = {
        {L"\\\\?\\D:\\a", nullptr},
        {nullptr, L"relative"},
    };
    for (const auto& tc : INVALID) {
        SCOPED_TRACE(tc.pszBase ? tc.pszBase : tc.pszComponent);
        out.Set(L"old");
        ::SetLastError(ERROR_SUCCESS);
        EXPECT_EQ(nullptr, CombinePath(out.Get(), tc.pszBase, tc.pszComponent));
        EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER), ::GetLastError());
        EXPECT_EQ(L"", out.Text());
    }
    ::SetLastError(ERROR_SUCCESS);
    EXPECT_EQ(nullptr, CombinePath(nullptr, L"\\\\?\\D:\\a", L"b"));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER), ::GetLastError());
}

TEST(LongPathTest, PassesOnFailuresOfAbsoluteComponents) {
    // 300 characters: more than an absolute component may expand to.
    test::CScopedEnvironmentVariable tooLong(L"QV_TEST_TOO_LONG", std::wstring(300, L'x'));
    CGuardedBuffer path(L"\\\\?\\D:\\a");
    ::SetLastError(ERROR_SUCCESS);
    EXPECT_FALSE(AppendPath(path.Get(), L"E:\\%QV_TEST_TOO_LONG%"));
    EXPECT_EQ(static_cast<DWORD>(ERROR_FILENAME_EXCED_RANGE), ::GetLastError());
    EXPECT_EQ(L"", path.Text());
}

TEST(LongPathTest, FailsCleanlyWhenAResultDoesNotFit) {
    // Text and terminator fill the buffer exactly: that still fits.
    {
        CGuardedBuffer path(LongText(MAX_LONG_PATH - 3));
        ASSERT_TRUE(AppendPath(path.Get(), L"b"));
        EXPECT_EQ(LongText(MAX_LONG_PATH - 3) + L"\\b", path.Text());
        EXPECT_TRUE(path.GuardIntact());
        // A full buffer with an empty component only normalises.
        CGuardedBuffer full(LongText(MAX_LONG_PATH - 1));
        ASSERT_TRUE(AppendPath(full.Get(), L""));
        EXPECT_EQ(LongText(MAX_LONG_PATH - 1), full.Text());
        EXPECT_TRUE(full.GuardIntact());
    }
    static const struct {
        const wchar_t* pszName;
        size_t cchBase;
        const wchar_t* pszComponent;
    } CASES[] = {
        {L"one character over", MAX_LONG_PATH - 3, L"bc"},
        {L"far over", MAX_LONG_PATH - 3, L"bcdefghijklmnopqrstuvwxyz"},
        {L"full base", MAX_LONG_PATH - 1, L"b"},
    };
    for (const auto& tc : CASES) {
        SCOPED_TRACE(tc.pszName);
        CGuardedBuffer path(LongText(tc.cchBase));
        ::SetLastError(ERROR_SUCCESS);
        EXPECT_FALSE(AppendPath(path.Get(), tc.pszComponent));
        EXPECT_EQ(static_cast<DWORD>(ERROR_ARITHMETIC_OVERFLOW), ::GetLastError());
        EXPECT_EQ(L"", path.Text());
        EXPECT_TRUE(path.GuardIntact());
    }

    // Source texts without a terminator within the capacity.
    const std::wstring strTooLong = LongText(MAX_LONG_PATH);
    const std::wstring strUncTooLong = L"\\\\server\\" + std::wstring(MAX_LONG_PATH - 15, L's');
    static const struct {
        const wchar_t* pszName;
        int nFunction;  // 0 NormalizeLongPath, 1 MakeLongPath, 2 CombinePath
        const std::wstring* pstrSource;
    } SOURCES[] = {
        {L"normalize", 0, &strTooLong},
        {L"make prefixed", 1, &strTooLong},
        {L"make UNC, prefix makes it too long", 1, &strUncTooLong},
        {L"combine with a too long base", 2, &strTooLong},
    };
    for (const auto& tc : SOURCES) {
        SCOPED_TRACE(tc.pszName);
        CGuardedBuffer out(L"old");
        ::SetLastError(ERROR_SUCCESS);
        bool bResult = true;
        switch (tc.nFunction) {
            case 0:
                bResult = NormalizeLongPath(out.Get(), tc.pstrSource->c_str()) != FALSE;
                break;
            case 1:
                bResult = MakeLongPath(out.Get(), tc.pstrSource->c_str()) != FALSE;
                break;
            default:
                bResult = CombinePath(out.Get(), tc.pstrSource->c_str(), L"x") != nullptr;
                break;
        }
        EXPECT_FALSE(bResult);
        EXPECT_EQ(static_cast<DWORD>(ERROR_ARITHMETIC_OVERFLOW), ::GetLastError());
        EXPECT_EQ(L"", out.Text());
        EXPECT_TRUE(out.GuardIntact());
    }

    // The longest UNC path whose long form still fits.
    const std::wstring strUncFits = L"\\\\server\\" + std::wstring(MAX_LONG_PATH - 16, L's');
    CGuardedBuffer out;
    ASSERT_TRUE(MakeLongPath(out.Get(), strUncFits.c_str()));
    EXPECT_EQ(MAX_LONG_PATH - 1, out.Text().size());
    EXPECT_EQ(L"\\\\?\\UNC\\server\\", out.Text().substr(0, 15));
    EXPECT_TRUE(out.GuardIntact());
}

TEST(LongPathTest, AddsABackslashOnlyWhereItFits) {
    static const struct {
        const wchar_t* pszName;
        std::wstring strPath;
        BOOL bResult;
        std::wstring strExpected;
    } CASES[] = {
        {L"plain", L"\\\\?\\D:\\a", TRUE, L"\\\\?\\D:\\a\\"},
        {L"has one", L"\\\\?\\D:\\a\\", TRUE, L"\\\\?\\D:\\a\\"},
        {L"empty", L"", TRUE, L""},
        {L"fills the buffer", LongText(MAX_LONG_PATH - 2), TRUE,
         LongText(MAX_LONG_PATH - 2) + L"\\"},
        {L"no room", LongText(MAX_LONG_PATH - 1), FALSE, LongText(MAX_LONG_PATH - 1)},
    };
    for (const auto& tc : CASES) {
        SCOPED_TRACE(tc.pszName);
        CGuardedBuffer path(tc.strPath);
        ::SetLastError(ERROR_SUCCESS);
        EXPECT_EQ(tc.bResult, AddBackslash(path.Get()));
        EXPECT_EQ(tc.strExpected, path.Text());
        EXPECT_TRUE(path.GuardIntact());
        if (!tc.bResult) {
            EXPECT_EQ(static_cast<DWORD>(ERROR_ARITHMETIC_OVERFLOW), ::GetLastError());
        }
    }
}

TEST(LongPathTest, AssignsAndAppendsInLongPathMode) {
    CLongPath itemPath(FALSE);
    CLongPath searchPath(FALSE);
    EXPECT_STREQ(L"", itemPath.GetPath());

    ASSERT_TRUE(itemPath.Assign(L"D:\\data"));
    ASSERT_TRUE(itemPath.Append(L"\\"));
    EXPECT_STREQ(L"\\\\?\\D:\\data", itemPath.GetPath());
    ASSERT_TRUE(searchPath.Assign(itemPath.GetPath()));
    ASSERT_TRUE(searchPath.Append(L"*.*"));
    EXPECT_STREQ(L"\\\\?\\D:\\data\\*.*", searchPath.GetPath());

    ASSERT_TRUE(itemPath.Assign(L"D:\\data"));
    ASSERT_TRUE(itemPath.Append(L"\\"));
    ASSERT_TRUE(itemPath.Append(L"report.txt"));
    EXPECT_STREQ(L"\\\\?\\D:\\data\\report.txt", itemPath.GetPath());

    // Assigning an object's own text keeps it.
    ASSERT_TRUE(itemPath.Assign(itemPath.GetPath()));
    EXPECT_STREQ(L"\\\\?\\D:\\data\\report.txt", itemPath.GetPath());

    // Before any Assign, Append assigns.
    CLongPath fresh(FALSE);
    ASSERT_TRUE(fresh.Append(L"\\\\server\\share"));
    EXPECT_STREQ(L"\\\\?\\UNC\\server\\share", fresh.GetPath());
}

// The long form of the full paths that the command line gives, as roots and
// as the report's target, and the paths of the items below a root.
TEST(LongPathTest, LongFormsOfFullPathsAndTheirChildren) {
    const std::wstring strAtLimit = L"C:\\" + std::wstring(MAX_PATH - 4, L'x');
    const struct {
        const char* pszName;
        std::wstring strFullPath;
        std::wstring strLongForm;
        std::wstring strRoot;   // LongRoot
        std::wstring strChild;  // JoinPath(root, "a.txt")
    } kCases[] = {
        {"drive root", L"C:\\", L"\\\\?\\C:\\", L"\\\\?\\C:", L"\\\\?\\C:\\a.txt"},
        {"folder with a final backslash", L"C:\\d\\", L"\\\\?\\C:\\d\\", L"\\\\?\\C:\\d",
         L"\\\\?\\C:\\d\\a.txt"},
        {"UNC", L"\\\\srv\\share\\d", L"\\\\?\\UNC\\srv\\share\\d", L"\\\\?\\UNC\\srv\\share\\d",
         L"\\\\?\\UNC\\srv\\share\\d\\a.txt"},
        {"prefixed", L"\\\\?\\C:\\d", L"\\\\?\\C:\\d", L"\\\\?\\C:\\d", L"\\\\?\\C:\\d\\a.txt"},
        {"device", L"\\\\.\\C:\\d", L"\\\\.\\C:\\d", L"\\\\.\\C:\\d", L"\\\\.\\C:\\d\\a.txt"},
        {"at the length limit of the command line", strAtLimit, L"\\\\?\\" + strAtLimit,
         L"\\\\?\\" + strAtLimit, L"\\\\?\\" + strAtLimit + L"\\a.txt"},
    };
    for (const auto& tc : kCases) {
        SCOPED_TRACE(tc.pszName);
        EXPECT_EQ(tc.strLongForm, LongFormOf(tc.strFullPath));
        EXPECT_EQ(tc.strRoot, LongRoot(tc.strFullPath));
        EXPECT_EQ(tc.strChild, JoinPath(LongRoot(tc.strFullPath), L"a.txt"));
    }
}

TEST(LongPathTest, KeepsRawTextsUnchanged) {
    CLongPath displayPath(TRUE);
    ASSERT_TRUE(displayPath.Assign(L"\\"));
    EXPECT_STREQ(L"\\", displayPath.GetPath());
    ASSERT_TRUE(displayPath.Append(L"report.txt"));
    EXPECT_STREQ(L"\\report.txt", displayPath.GetPath());

    ASSERT_TRUE(displayPath.Assign(L"a\\.\\b."));
    EXPECT_STREQ(L"a\\.\\b.", displayPath.GetPath());

    const std::wstring strFits(MAX_LONG_PATH - 1, L'x');
    ASSERT_TRUE(displayPath.Assign(strFits.c_str()));
    EXPECT_EQ(strFits, displayPath.GetPath());

    const std::wstring strTooLong(MAX_LONG_PATH, L'x');
    ::SetLastError(ERROR_SUCCESS);
    EXPECT_FALSE(displayPath.Assign(strTooLong.c_str()));
    EXPECT_EQ(static_cast<DWORD>(ERROR_ARITHMETIC_OVERFLOW), ::GetLastError());
    EXPECT_STREQ(L"", displayPath.GetPath());

    ::SetLastError(ERROR_SUCCESS);
    EXPECT_FALSE(displayPath.Assign(nullptr));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER), ::GetLastError());
}

TEST(LongPathTest, MapsRuntimeErrorNumbers) {
    static const struct {
        int nErrno;
        DWORD dwExpected;
    } CASES[] = {
        {22, ERROR_INVALID_PARAMETER},
        {34, ERROR_ARITHMETIC_OVERFLOW},
        {2, ERROR_FILE_NOT_FOUND},
        {13, ERROR_ACCESS_DENIED},
        {80, 262560},
        // Not in the table: the last error stays.
        {15, 12345},
        {0, 12345},
        {-1, 12345},
    };
    for (const auto& tc : CASES) {
        SCOPED_TRACE(tc.nErrno);
        ::SetLastError(12345);
        SetLastErrorFromErrno(tc.nErrno);
        EXPECT_EQ(tc.dwExpected, ::GetLastError());
    }
}

}  // namespace
