#include "exclusions/exclusions.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "runtime/handle.h"
#include "support/test_support.h"

namespace {

using test::CTempFolder;
using test::MakeFile;

// UTF-16 little-endian with its mark.
std::string Utf16Le(const std::wstring& strText) {
    return "\xFF\xFE" + test::Utf16LeBytes(strText);
}

// Puts a list into g_fileExclusions for one test and puts the old one back.
class CFileExclusionsScope {
public:
    explicit CFileExclusionsScope(CStringList list) : m_saved(std::move(g_fileExclusions)) {
        g_fileExclusions = std::move(list);
    }
    ~CFileExclusionsScope() { g_fileExclusions = std::move(m_saved); }

private:
    CStringList m_saved;
};

TEST(ExclusionsTest, LoadsTrimmedWildcardsInLineOrder) {
    struct CLoadCase {
        const char* pszName;
        std::string strBytes;
        CStringList expected;
    };
    const std::string strTypical = "; build output\r\n*.obj\r\n\r\n  *.TMP\t\r\nmy file.txt\r\n";
    const CStringList typical = {L"*.obj", L"*.TMP", L"my file.txt"};
    const std::vector<CLoadCase> cases = {
        {"empty file", "", {}},
        {"comments, blank and white-space-only lines",
         "; one\n\n   \n\t\r\n  ; indented comment\n\t;tabbed comment\n\v\f\n",
         {}},
        {"blanks before and a tab after", "   *.tmp\t\n", {L"*.tmp"}},
        {"other white space at both ends", "\v\f *.log \f\v\r\n", {L"*.log"}},
        {"blanks then a semicolon", "   ; *.tmp\n", {}},
        {"semicolon after a wildcard", "a ;b\n", {L"a ;b"}},
        {"inner white space stays", "  x  y\t z \n", {L"x  y\t z"}},
        {"duplicates kept", "*.bak\n*.bak\n", {L"*.bak", L"*.bak"}},
        {"last line without a line end", "*.a\n*.b", {L"*.a", L"*.b"}},
        {"8-bit", strTypical, typical},
        {"utf-8 with its mark", "\xEF\xBB\xBF" + strTypical, typical},
        {"utf-16 le with its mark", Utf16Le(std::wstring(strTypical.begin(), strTypical.end())),
         typical},
        {"beyond 8 bits", Utf16Le(L"\u00C9t\u00E9*.\u20AC\n"), {L"\u00C9t\u00E9*.\u20AC"}},
        {"a long wildcard", std::string(300, '?') + "\n", {std::wstring(300, L'?')}},
    };
    for (const CLoadCase& tc : cases) {
        SCOPED_TRACE(tc.pszName);
        CTempFolder folder;
        const std::wstring strPath = folder / L"exclusions.txt";
        MakeFile(strPath, tc.strBytes);
        CStringList list;
        EXPECT_EQ(S_FALSE, LoadExclusions(strPath.c_str(), list));
        EXPECT_EQ(tc.expected, list);
        // The file was closed: it can be opened exclusively.
        EXPECT_TRUE(test::CanOpenExclusively(strPath));
    }
}

TEST(ExclusionsTest, LoadAppendsToTheGivenList) {
    CTempFolder folder;
    const std::wstring strPath = folder / L"exclusions.txt";
    MakeFile(strPath, "*.b\n");
    CStringList list = {L"*.a"};
    EXPECT_EQ(S_FALSE, LoadExclusions(strPath.c_str(), list));
    EXPECT_EQ((CStringList{L"*.a", L"*.b"}), list);
}

TEST(ExclusionsTest, FailedLoadReportsTheCauseAndAddsNothing) {
    struct CFailCase {
        const char* pszName;
        std::wstring strPath;
        HRESULT hr;
    };
    CTempFolder folder;
    const std::wstring strBigEndian = folder / L"big-endian.txt";
    MakeFile(strBigEndian, std::string("\xFE\xFF\0*\0.\0a\0\n", 10));
    const std::wstring strBusy = folder / L"busy.txt";
    MakeFile(strBusy, "*.a\n");
    CFileHandle hWriter(::CreateFileW(strBusy.c_str(), GENERIC_WRITE,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                      FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(hWriter);
    const std::vector<CFailCase> cases = {
        {"missing file", folder / L"missing.txt", static_cast<HRESULT>(0x80070002)},
        {"a folder", folder.Path(), static_cast<HRESULT>(0x80070005)},
        {"held open for writing", strBusy, static_cast<HRESULT>(0x80070020)},
        {"big-endian mark", strBigEndian, HResultFromWin32(ERROR_UNSUPPORTED_TYPE)},
    };
    for (const CFailCase& tc : cases) {
        SCOPED_TRACE(tc.pszName);
        CStringList list = {L"kept"};
        EXPECT_EQ(tc.hr, LoadExclusions(tc.strPath.c_str(), list));
        EXPECT_EQ(CStringList{L"kept"}, list);
    }
    CStringList list;
    EXPECT_EQ(E_INVALIDARG, LoadExclusions(nullptr, list));
}

// A list that outgrows the memory, or a line longer than a string can be,
// is a failed load.
TEST(ExclusionsTest, AListThatCannotBeHeldIsNotLoaded) {
    std::wstring str;
    const struct {
        const char* pszName;
        std::function<HRESULT()> store;
        HRESULT hr;
    } kCases[] = {
        {"stored", [] { return S_FALSE; }, S_FALSE},
        {"no memory", []() -> HRESULT { throw std::bad_alloc(); }, E_OUTOFMEMORY},
        {"a string beyond its largest size",
         [&] {
             str.resize(str.max_size() + 1);
             return S_OK;
         },
         E_OUTOFMEMORY},
    };
    for (const auto& tc : kCases) {
        SCOPED_TRACE(tc.pszName);
        EXPECT_EQ(tc.hr, StoreList(tc.store));
    }
}

TEST(ExclusionsTest, MatchesBareNamesAgainstTheList) {
    struct CMatchCase {
        CStringList list;
        const wchar_t* pszName;
        bool bExcluded;
    };
    const CMatchCase cases[] = {
        {{}, L"a.txt", false},
        {{L"*.TXT"}, L"notes.txt", true},
        {{L"*.txt"}, L"NOTES.TXT", true},
        {{L"NOTES.*"}, L"notes.md", true},
        {{L"*.txt"}, L"notes.txt.bak", false},
        {{L"*.*"}, L"README", true},
        {{L"*.*"}, L"a.b.c", true},
        {{L"?.c"}, L"a.c", true},
        {{L"?.c"}, L"ab.c", false},
        {{L"a ;b"}, L"b", true},
        {{L"a ;b"}, L"a", false},
        {{L"a ;b"}, L"a ", true},
        {{L"*.obj;*.pdb"}, L"x.pdb", true},
        {{L"*.obj", L"*.pdb"}, L"x.pdb", true},
        {{L"*.obj", L"*.pdb"}, L"x.exe", false},
        {{L"*.bak", L"*.bak"}, L"a.bak", true},
        {{L"*.bak", L"*.bak"}, L"a.txt", false},
        {{L"sub\\x.txt"}, L"x.txt", false},
        {{L"*\\*"}, L"x.txt", false},
        {{L"*\\x.txt"}, L"x.txt", false},
        {{L"\u00C9T\u00C9.*"}, L"\u00E9t\u00E9.doc", true},
        {{L"*.txt"}, nullptr, false},
    };
    for (const CMatchCase& tc : cases) {
        std::wstring strTrace = tc.pszName ? tc.pszName : L"(null)";
        for (const std::wstring& strWildcard : tc.list) {
            strTrace += L" | " + strWildcard;
        }
        SCOPED_TRACE(std::string(strTrace.begin(), strTrace.end()));
        EXPECT_EQ(tc.bExcluded, IsExcludedName(tc.list, tc.pszName));
    }
}

TEST(ExclusionsTest, LoadedListExcludesFiles) {
    CTempFolder folder;
    const std::wstring strPath = folder / L"exclusions.txt";
    MakeFile(strPath, Utf16Le(L"; temporary files\r\n  *.TMP\r\n~*\r\n"));
    CFileExclusionsScope scope{CStringList()};
    ASSERT_EQ(S_FALSE, LoadExclusions(strPath.c_str(), g_fileExclusions));
    EXPECT_EQ(2u, g_fileExclusions.size());
    EXPECT_TRUE(IsExcludedName(g_fileExclusions, L"build.tmp"));
    EXPECT_TRUE(IsExcludedName(g_fileExclusions, L"~lock"));
    EXPECT_FALSE(IsExcludedName(g_fileExclusions, L"build.txt"));
    EXPECT_FALSE(IsExcludedName(g_fileExclusions, L"temporary files"));
}

}  // namespace
