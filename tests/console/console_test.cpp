#include <gtest/gtest.h>

#include <cwctype>
#include <string>
#include <vector>

#include "console/console.h"
#include "console/test_console.h"
#include "hashing/hash.h"
#include "support/scoped_state.h"
#include "support/test_support.h"

namespace {

using test::Parse;

// A temporary folder holding the folders "src" and "dst" and the exclusion
// list "exclusions.txt" that the option tests name.
class COptionFolders : public test::CTempFolder {
public:
    COptionFolders() {
        test::MakeFolder(*this / L"src");
        test::MakeFolder(*this / L"dst");
        test::MakeFolder(*this / L"src\\sub");
        test::MakeFile(*this / L"exclusions.txt", "*.tmp\r\n");
    }
};

// The program's console writing to a file of its own, with the parse
// results open to the tests.
class CConsoleUnderTest : private test::COutputFile, public CConsole {
public:
    CConsoleUnderTest() : CConsole(m_pFile) {}

    using CBaseConsole::m_dwDisplayLevels;
    using CBaseConsole::m_dwFlags;
    using CBaseConsole::m_hrError;
    using CBaseConsole::m_nDisplayLevel;
    using CBaseConsole::m_strError;
    using CBaseConsole::m_strInvalid;
    using CBaseConsole::m_strUnknown;
    using CMessageWriter::m_dwDecoration;
};

// Replaces "{src}", "{dst}" and "{root}" in an argument.
std::wstring Substitute(std::wstring strArgument, const std::wstring& strRoot) {
    const struct {
        const wchar_t* pszName;
        std::wstring strValue;
    } names[] = {
        {L"{src}", strRoot + L"\\src"}, {L"{dst}", strRoot + L"\\dst"}, {L"{root}", strRoot}};
    for (const auto& name : names) {
        const std::wstring strName = name.pszName;
        for (size_t pos; (pos = strArgument.find(strName)) != std::wstring::npos;) {
            strArgument.replace(pos, strName.size(), name.strValue);
        }
    }
    return strArgument;
}

std::wstring Upper(std::wstring str) {
    for (wchar_t& ch : str) {
        ch = static_cast<wchar_t>(std::towupper(ch));
    }
    return str;
}

const DWORD HELP_FLAG = 0x02;
const DWORD DISPLAY_FLAG = 0x01;

TEST(Console, StartsWithPrefixesAndThreeDisplayLevels) {
    CConsoleUnderTest console;
    EXPECT_EQ(static_cast<DWORD>(DECO_PREFIX), console.m_dwDecoration);
    EXPECT_EQ(13u, console.m_dwDisplayLevels);
    EXPECT_EQ(DISPLAY_NORMAL, console.m_nDisplayLevel);
    EXPECT_EQ(0u, console.m_dwOptions);
    EXPECT_EQ(0, console.m_nHashAlgorithm);
    EXPECT_EQ(0, console.m_nDateTolerance);
}

// Each row of the table of hash algorithms as its users read it: /hash takes
// its keyword, the run shows its display name, the report and the snapshot
// write its record name and find the row by it, and CryptoAPI computes a
// value of its size by its identifier.
TEST(Console, HashAlgorithmsAreReadFromTheirTable) {
    const COptionFolders root;
    CHashProvider provider;
    for (const CHashAlgorithm& row : g_hashAlgorithms) {
        SCOPED_TRACE(row.pszRecordName);
        CConsoleUnderTest console;
        Parse(console, {root / L"src", root / L"dst", std::wstring(L"/hash:") + row.pszKeyword});
        EXPECT_EQ(&row, console.GetHashAlgorithm());
        EXPECT_EQ(&row, FindHashAlgorithm(row.nId));
        EXPECT_EQ(&row, FindHashAlgorithmByRecordName(row.pszRecordName));
        EXPECT_EQ(Upper(row.pszKeyword), row.pszDisplay);
        EXPECT_EQ(std::string(row.pszRecordName),
                  std::string(row.pszKeyword, row.pszKeyword + wcslen(row.pszKeyword)));
        CHashObject hash(provider);
        ASSERT_TRUE(hash.BeginHash(row.algId));
        ASSERT_TRUE(hash.FinishHash());
        EXPECT_EQ(row.cbValue, hash.GetValueSize());
    }
    EXPECT_EQ(nullptr, FindHashAlgorithmByRecordName("MD5"));
    EXPECT_EQ(nullptr, CConsoleUnderTest().GetHashAlgorithm());
}

TEST(Console, ParsesOptions) {
    const COptionFolders root;
    const std::wstring kMilliseconds = L"\t/date (expected: milliseconds)\n";
    const std::wstring kHours = L"\t/date (expected: milliseconds,0 to 26 hours)\n";
    const std::wstring kThreads = L"\t/threads (expected: 1 to 64)\n";

    struct {
        const char* pszName;
        std::vector<std::wstring> arguments;  // after "{src}" "{dst}"
        DWORD dwOptions;
        int nHashAlgorithm;
        LONGLONG nDateTolerance;
        std::wstring strInvalid;
        std::wstring strUnknown;
        DWORD dwFlags;  // framework flags
        int nDateShiftHours = 0;
        DWORD nHashThreads = 0;
    } cases[] = {
        {"no option", {}, 0, 0, 0, L"", L"", 0},
        {"hash alone is md5", {L"/hash"}, OPT_HASH, HASH_MD5, 0, L"", L"", 0},
        {"hash by abbreviation", {L"/hash:s"}, OPT_HASH, HASH_SHA1, 0, L"", L"", 0},
        {"hash sha is sha1", {L"/hash:sha"}, OPT_HASH, HASH_SHA1, 0, L"", L"", 0},
        {"hash sha2 is sha256", {L"/hash:sha2"}, OPT_HASH, HASH_SHA256, 0, L"", L"", 0},
        {"hash ignores case", {L"/HASH:Md5"}, OPT_HASH, HASH_MD5, 0, L"", L"", 0},
        {"hash value as next argument", {L"/hash", L"sha1"}, OPT_HASH, HASH_SHA1, 0, L"", L"", 0},
        {"hash with two values", {L"/hash:md5,sha1"}, OPT_HASH, 0, 0, L"\t/hash\n", L"", 0},
        {"hash with two arguments",
         {L"/hash", L"md5", L"sha1"},
         OPT_HASH,
         0,
         0,
         L"\t/hash\n",
         L"",
         0},
        {"hash unknown algorithm",
         {L"/hash:x"},
         OPT_HASH,
         0,
         0,
         L"\t/hash (expected: md5,sha1,sha256)\n",
         L"",
         0},
        {"hash empty value is md5", {L"/hash:"}, OPT_HASH, HASH_MD5, 0, L"", L"", 0},
        {"date with colon", {L"/date:250"}, OPT_DATE, 0, 2500000, L"", L"", 0},
        {"date value as next argument", {L"/date", L"250"}, OPT_DATE, 0, 2500000, L"", L"", 0},
        {"date with a unit", {L"/date:2s"}, OPT_DATE, 0, 0, kMilliseconds, L"", 0},
        {"date without value at the end", {L"/date"}, OPT_DATE, 0, 0, L"", L"", 0},
        {"date without value before an option",
         {L"/date", L"/security"},
         OPT_DATE | OPT_SECURITY,
         0,
         0,
         L"",
         L"",
         0},
        {"date empty value", {L"/date:"}, OPT_DATE, 0, 0, L"", L"", 0},
        {"date refused keeps the tolerance",
         {L"/date:5", L"/date:abc"},
         OPT_DATE,
         0,
         50000,
         kMilliseconds,
         L"",
         0},
        {"date with shifts", {L"/date:2000,1"}, OPT_DATE, 0, 20000000, L"", L"", 0, 1},
        {"date shifts as next arguments", {L"/date", L"", L"26"}, OPT_DATE, 0, 0, L"", L"", 0, 26},
        {"date shifts above 26 hours", {L"/date:1,27"}, OPT_DATE, 0, 0, kHours, L"", 0},
        {"date with three values", {L"/date:1,2,3"}, OPT_DATE, 0, 0, kHours, L"", 0},
        {"date beyond 64 bits",
         {L"/date:99999999999999999999"},
         OPT_DATE,
         0,
         0,
         kMilliseconds,
         L"",
         0},
        {"date product beyond 64 bits",
         {L"/date:922337203685478"},
         OPT_DATE,
         0,
         0,
         kMilliseconds,
         L"",
         0},
        // Its product wraps to a positive number in 64 bits.
        {"date product that would wrap positive",
         {L"/date:2000000000000000"},
         OPT_DATE,
         0,
         0,
         kMilliseconds,
         L"",
         0},
        {"date largest tolerance",
         {L"/date:922337203685477"},
         OPT_DATE,
         0,
         9223372036854770000LL,
         L"",
         L"",
         0},
        {"date leading zeros",
         {L"/date:0000000000000000000000007"},
         OPT_DATE,
         0,
         70000,
         L"",
         L"",
         0},
        {"d is date", {L"/d:3"}, OPT_DATE, 0, 30000, L"", L"", 0},
        {"di is display", {L"/di:verbose"}, 0, 0, 0, L"", L"", DISPLAY_FLAG},
        {"h is hash", {L"/h"}, OPT_HASH, HASH_MD5, 0, L"", L"", 0},
        {"c is content", {L"/c"}, OPT_CONTENT, 0, 0, L"", L"", 0},
        {"he is help", {L"/he"}, 0, 0, 0, L"", L"", HELP_FLAG},
        {"m is moves", {L"/m", L"/h"}, OPT_MOVES | OPT_HASH, HASH_MD5, 0, L"", L"", 0},
        {"s is security", {L"/s"}, OPT_SECURITY, 0, 0, L"", L"", 0},
        {"st is strict", {L"/st"}, OPT_STRICT, 0, 0, L"", L"", 0},
        {"t is threads", {L"/t:64"}, OPT_THREADS, 0, 0, L"", L"", 0, 0, 64},
        {"threads 0", {L"/threads:0"}, OPT_THREADS, 0, 0, kThreads, L"", 0},
        {"threads 65", {L"/threads:65"}, OPT_THREADS, 0, 0, kThreads, L"", 0},
        {"threads not a number", {L"/threads:x"}, OPT_THREADS, 0, 0, kThreads, L"", 0},
        {"threads without value", {L"/threads"}, OPT_THREADS, 0, 0, kThreads, L"", 0},
        {"su is subdir", {L"/su"}, OPT_SUBDIR, 0, 0, L"", L"", 0},
        {"flags ignore their values",
         {L"/security:a,b", L"/subdir", L"x", L"y"},
         OPT_SECURITY | OPT_SUBDIR,
         0,
         0,
         L"",
         L"",
         0},
        {"exfile", {L"/exfile", L"{root}\\exclusions.txt"}, OPT_EXFILE, 0, 0, L"", L"", 0},
        {"exfolder", {L"/exfolder:{root}\\exclusions.txt"}, OPT_EXFOLDER, 0, 0, L"", L"", 0},
        {"exfolder with two values",
         {L"/exfolder:a;b"},
         OPT_EXFOLDER,
         0,
         0,
         L"\t/exfolder\n",
         L"",
         0},
        {"exfolder without value", {L"/exfolder"}, OPT_EXFOLDER, 0, 0, L"\t/exfolder\n", L"", 0},
        {"r is report", {L"/r", L"{root}\\r.json"}, OPT_REPORT, 0, 0, L"", L"", 0},
        {"exfile with two values", {L"/exfile:a,b"}, OPT_EXFILE, 0, 0, L"\t/exfile\n", L"", 0},
        {"exfile without value", {L"/exfile"}, OPT_EXFILE, 0, 0, L"\t/exfile\n", L"", 0},
        {"exfolder empty value", {L"/exfolder:"}, OPT_EXFOLDER, 0, 0, L"\t/exfolder\n", L"", 0},
        {"progress is refused",
         {L"/display:progress"},
         0,
         0,
         0,
         L"\t/display (expected: none,normal,verbose)\n",
         L"",
         DISPLAY_FLAG},
        {"unknown option", {L"/x"}, 0, 0, 0, L"", L"\t/x\n", HELP_FLAG},
        {"third positional", {L"{root}"}, 0, 0, 0, L"", L"\t{root}\n", HELP_FLAG},
        {"a path after the snapshot's",
         {L"/snapshot", L"{root}\\s.json", L"{root}"},
         OPT_SNAPSHOT,
         0,
         0,
         L"",
         L"\t{root}\n",
         HELP_FLAG},
        {"folder after an option with colon",
         {L"/subdir:1", L"{root}"},
         OPT_SUBDIR,
         0,
         0,
         L"",
         L"\t{root}\n",
         HELP_FLAG},
    };
    for (const auto& tc : cases) {
        SCOPED_TRACE(tc.pszName);
        std::vector<std::wstring> arguments = {root / L"src", root / L"dst"};
        for (const std::wstring& str : tc.arguments) {
            arguments.push_back(Substitute(str, root.Path()));
        }
        CConsoleUnderTest console;
        Parse(console, arguments);
        EXPECT_EQ(tc.dwOptions, console.m_dwOptions);
        EXPECT_EQ(tc.nHashAlgorithm, console.m_nHashAlgorithm);
        EXPECT_EQ(tc.nDateTolerance, console.m_nDateTolerance);
        EXPECT_EQ(tc.nDateShiftHours, console.m_nDateShiftHours);
        EXPECT_EQ(tc.nHashThreads, console.m_nHashThreads);
        EXPECT_EQ(Substitute(tc.strInvalid, root.Path()), console.m_strInvalid);
        EXPECT_EQ(Substitute(tc.strUnknown, root.Path()), console.m_strUnknown);
        EXPECT_EQ(tc.dwFlags, console.m_dwFlags);
        // The paths are valid: only a help request stops the validation.
        EXPECT_EQ(L"", console.m_strError);
        EXPECT_EQ(root / L"src", console.m_strSourcePath);
        EXPECT_EQ(root / L"dst", console.m_strDestinationPath);
        if (tc.strInvalid.empty() && (tc.dwOptions & OPT_EXFOLDER)) {
            EXPECT_EQ(root / L"exclusions.txt", console.m_strFolderExclusions);
        } else {
            EXPECT_EQ(L"", console.m_strFolderExclusions);
        }
        if (tc.strInvalid.empty() && (tc.dwOptions & OPT_EXFILE)) {
            EXPECT_EQ(root / L"exclusions.txt", console.m_strFileExclusions);
        } else {
            EXPECT_EQ(L"", console.m_strFileExclusions);
        }
        EXPECT_EQ(tc.strInvalid.empty() && (tc.dwOptions & OPT_REPORT) ? root / L"r.json" : L"",
                  console.m_strReportPath);
    }
}

TEST(Console, ValidatesPaths) {
    const COptionFolders root;

    struct {
        const char* pszName;
        std::vector<std::wstring> arguments;
        std::wstring strError;  // empty: valid
        bool bHelp;
    } cases[] = {
        {"valid", {L"{src}", L"{dst}"}, L"", false},
        {"valid with exclusion file",
         {L"{src}", L"{dst}", L"/exfile", L"{root}\\exclusions.txt"},
         L"",
         false},
        {"no source", {}, L"a source path is required.", true},
        {"source missing", {L"{root}\\none"}, L"the source path does not exist.", true},
        {"source is a file, read as a snapshot", {L"{root}\\exclusions.txt", L"{dst}"}, L"", false},
        {"source is a device",
         {L"Z:\\dev\\null", L"{dst}"},
         L"the source path is not a folder, a snapshot or a manifest.",
         true},
        {"destination is a device",
         {L"{src}", L"Z:\\dev\\zero"},
         L"the destination path is not a folder, a snapshot or a manifest.",
         true},
        {"snapshot of a file",
         {L"{root}\\exclusions.txt", L"/snapshot", L"{root}\\s.json"},
         L"the source path of a snapshot must be a folder.",
         true},
        {"snapshot with a destination",
         {L"{src}", L"{dst}", L"/sn", L"{root}\\s.json"},
         L"a snapshot records one folder: no destination path may be given.",
         true},
        {"snapshot with a report",
         {L"{src}", L"/snapshot", L"{root}\\s.json", L"/report", L"{root}\\r.json"},
         L"/content, /date and /report cannot be used with /snapshot.",
         true},
        {"snapshot with moves",
         {L"{src}", L"/snapshot", L"{root}\\s.json", L"/hash", L"/m"},
         L"/moves applies to comparisons.",
         true},
        {"snapshot one way",
         {L"{src}", L"/snapshot", L"{root}\\s.json", L"/o"},
         L"/oneway applies to comparisons.",
         true},
        {"snapshot with a recopy list",
         {L"{src}", L"/snapshot", L"{root}\\s.json", L"/recopy", L"{root}\\l.txt"},
         L"/recopy applies to comparisons.",
         true},
        {"snapshot with a NUL recopy list",
         {L"{src}", L"/snapshot", L"{root}\\s.json", L"/recopy0", L"{root}\\l.txt"},
         L"/recopy0 applies to comparisons.",
         true},
        {"both recopy lists",
         {L"{src}", L"{dst}", L"/rec", L"{root}\\l.txt", L"/recopy0", L"{root}\\l0.txt"},
         L"choose /recopy or /recopy0.",
         true},
        {"recopy list inside a compared folder",
         {L"{src}", L"{dst}", L"/recopy", L"{dst}\\l.txt"},
         L"the recopy list must not be inside the source or destination folder.",
         true},
        {"one way with a recopy list",
         {L"{src}", L"{dst}", L"/o", L"/recopy", L"{root}\\l.txt"},
         L"",
         false},
        {"snapshot inside the folder it records",
         {L"{src}", L"/snapshot", L"{src}\\s.json"},
         L"the snapshot file must not be inside the folder it records.",
         true},
        {"source missing before destination missing",
         {L"{root}\\none", L"{root}\\none2"},
         L"the source path does not exist.",
         true},
        {"no destination", {L"{src}"}, L"a destination path is required.", true},
        {"destination missing",
         {L"{src}", L"{root}\\none"},
         L"the destination path does not exist.",
         true},
        {"same folder",
         {L"{src}", L"{src}"},
         L"source and destination paths must be different.",
         true},
        {"same folder but for case",
         {L"{src}", L"{SRC}"},
         L"source and destination paths must be different.",
         true},
        {"exclusion file missing",
         {L"{src}", L"{dst}", L"/exfile", L"{root}\\none.txt"},
         L"the specified file for file exclusions does not exist.",
         true},
        {"folder exclusion file missing",
         {L"{src}", L"{dst}", L"/exfolder", L"{root}\\none.txt"},
         L"the specified file for folder exclusions does not exist.",
         true},
        {"folder exclusion file is a folder",
         {L"{src}", L"{dst}", L"/exfolder", L"{root}"},
         L"the specified file for folder exclusions is a folder.",
         true},
        {"file exclusions are checked first",
         {L"{src}", L"{dst}", L"/exfolder:{root}\\none.txt", L"/exfile:{root}\\none.txt"},
         L"the specified file for file exclusions does not exist.",
         true},
        {"report in a subfolder without subdir",
         {L"{src}", L"{dst}", L"/report", L"{src}\\sub\\r.json"},
         L"",
         false},
        {"report in a folder whose name begins with the source's",
         {L"{src}", L"{dst}", L"/subdir", L"/report", L"{src}2\\r.json"},
         L"the folder of the report file does not exist.",
         true},
        {"help stops the validation", {L"/?"}, L"", true},
        {"unknown parameter stops the validation", {L"{src}", L"{src}", L"/x"}, L"", true},
        {"invalid value does not", {L"/hash:x"}, L"a source path is required.", true},
    };
    for (const auto& tc : cases) {
        SCOPED_TRACE(tc.pszName);
        std::vector<std::wstring> arguments;
        for (const std::wstring& str : tc.arguments) {
            arguments.push_back(str == L"{SRC}" ? Upper(root / L"src")
                                                : Substitute(str, root.Path()));
        }
        CConsoleUnderTest console;
        Parse(console, arguments);
        EXPECT_EQ(tc.strError, console.m_strError);
        EXPECT_EQ(0, console.m_hrError);
        EXPECT_EQ(tc.bHelp, (console.m_dwFlags & HELP_FLAG) != 0);
        EXPECT_EQ(tc.strError.empty() && !tc.bHelp, console.Validate());
    }
}

TEST(Console, MakesPathsAbsolute) {
    const COptionFolders root;
    const test::CScopedCurrentFolder currentFolder(root.Path());
    const test::CScopedEnvironmentVariable rootVariable(L"QUORVA_CONSOLE_TEST_ROOT", root.Path());
    // Expands to more characters than a path may hold.
    const test::CScopedEnvironmentVariable longVariable(
        L"QUORVA_CONSOLE_TEST_LONG", root.Path() + L"\\" + std::wstring(270, L'a'));

    struct {
        const char* pszName;
        std::vector<std::wstring> arguments;
        std::wstring strSource;
        std::wstring strDestination;
        std::wstring strFileExclusions;
        std::wstring strError;
    } cases[] = {
        {"relative to the current folder",
         {L"src", L"dst", L"/exfile:exclusions.txt"},
         L"{src}",
         L"{dst}",
         L"{root}\\exclusions.txt",
         L""},
        {"environment references",
         {L"%QUORVA_CONSOLE_TEST_ROOT%\\src", L"%QUORVA_CONSOLE_TEST_ROOT%\\dst", L"/exfile",
          L"%QUORVA_CONSOLE_TEST_ROOT%\\exclusions.txt"},
         L"{src}",
         L"{dst}",
         L"{root}\\exclusions.txt",
         L""},
        {"expansion too long for a source",
         {L"%QUORVA_CONSOLE_TEST_LONG%", L"dst"},
         L"",
         L"{dst}",
         L"",
         L"the source path is too long."},
        {"expansion too long for a destination",
         {L"src", L"%QUORVA_CONSOLE_TEST_LONG%"},
         L"{src}",
         L"",
         L"",
         L"the destination path is too long."},
        {"expansion too long for file exclusions",
         {L"src", L"dst", L"/exfile", L"%QUORVA_CONSOLE_TEST_LONG%"},
         L"{src}",
         L"{dst}",
         L"",
         L"the file exclusions path is too long."},
        {"expansion too long for folder exclusions",
         {L"src", L"dst", L"/exfolder:%QUORVA_CONSOLE_TEST_LONG%"},
         L"{src}",
         L"{dst}",
         L"",
         L"the folder exclusions path is too long."},
        {"expansion too long for a report",
         {L"src", L"dst", L"/report", L"%QUORVA_CONSOLE_TEST_LONG%"},
         L"{src}",
         L"{dst}",
         L"",
         L"the report path is too long."},
    };
    for (const auto& tc : cases) {
        SCOPED_TRACE(tc.pszName);
        CConsoleUnderTest console;
        Parse(console, tc.arguments);
        EXPECT_EQ(Substitute(tc.strSource, root.Path()), console.m_strSourcePath);
        EXPECT_EQ(Substitute(tc.strDestination, root.Path()), console.m_strDestinationPath);
        EXPECT_EQ(Substitute(tc.strFileExclusions, root.Path()), console.m_strFileExclusions);
        EXPECT_EQ(tc.strError, console.m_strError);
        EXPECT_EQ(L"", console.m_strInvalid);
        EXPECT_EQ(L"", console.m_strUnknown);
    }
}

}  // namespace
