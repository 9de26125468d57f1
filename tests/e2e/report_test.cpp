// The banner and the report of wrong parameters, as quorva.exe writes them.
#include <gtest/gtest.h>

#include <algorithm>
#include <cwctype>
#include <string>

#include "e2e/e2e_support.h"
#include "support/test_support.h"

namespace {

const wchar_t kUsage[] =
    L"<srcpath> <dstpath> [/date [<tolerance>]] [/display [<level>\n"
    L"\t[<mode>]]] [/exfile <file.ext>] [/exfolder <file.ext>] [/hash [<alg>]]\n"
    L"\t[/content] [/moves] [/report <file.json>] [/security] [/snapshot <file>]\n"
    L"\t[/strict] [/subdir] [/threads <n>] [/oneway] [/recopy <file>]\n"
    L"\t[/recopy0 <file>] [/manifest <file>] [/?]\n"
    L"\n"
    L"Where:\n"
    L"\n"
    L"  srcpath     Fully or partially qualified source path.\n"
    L"  dstpath     Fully or partially qualified destination path.\n"
    L"\n"
    L"Optional flags:\n"
    L"\n"
    L"  /date       Compares modification dates of files. The optional <tolerance>\n"
    L"              value specifies the maximum gap in milliseconds allowed between\n"
    L"              the source and the destination dates. If this value is not set,\n"
    L"              the dates must exactly match.\n"
    L"              An optional second value, in hours, also accepts whole-hour shifts.\n"
    L"  /display    Sets the level of information that will be displayed and\n"
    L"               optionally the translation mode.\n"
    L"               <level> is either of the following values:\n"
    L"                none    - no display at all.\n"
    L"                normal  - displays errors only (default).\n"
    L"                verbose - displays errors and all compared files.\n"
    L"               <mode> is either of the following translation modes:\n"
    L"                text    - default output.\n"
    L"                unicode - UTF-16 output.\n"
    L"                utf8    - UTF-8 output.\n"
    L"  /exfile     Specifies a text file that holds wildcards of files to ignore.\n"
    L"  /exfolder   Specifies a text file that holds wildcards of folders to ignore.\n"
    L"  /hash       Compares file hash values.\n"
    L"               <alg> is either of the following values:\n"
    L"                md5     - hash files using MD5 algorithm (default).\n"
    L"                sha1    - hash files using SHA1 algorithm.\n"
    L"                sha256  - hash files using SHA256 algorithm.\n"
    L"  /moves      Reports files that were moved or renamed, found by their hash.\n"
    L"  /content    Compares file contents byte by byte.\n"
    L"  /report     Writes every finding and the summary to a JSON file.\n"
    L"  /security   Verifies that the files have valid owners and DACLs.\n"
    L"  /snapshot   Records the source folder in a file instead of comparing it.\n"
    L"  /strict     Counts whatever could not be compared as a difference.\n"
    L"  /subdir     Compares subfolders recursively.\n"
    L"  /threads    Sets the number of threads that read and hash files.\n"
    L"  /oneway     Asks only whether the destination holds every source file:\n"
    L"              extra files and moves are no differences.\n"
    L"  /recopy     Writes the source files that the destination lacks as they\n"
    L"              are, one path a line, for rsync --files-from.\n"
    L"  /recopy0    The same, each path ended by a NUL, for rsync --from0.\n"
    L"  /manifest   Writes the source folder's checksum manifest, as sha256sum\n"
    L"              does, instead of comparing it.\n"
    L"  /?          Displays this help message.\n";

// The usage block with the empty line that ends it.
std::wstring UsageBlock(const std::wstring& strProgram = L"quorva") {
    return L"Usage:\n\n  " + strProgram + L" " + kUsage + L"\n";
}

std::wstring Upper(std::wstring str) {
    for (wchar_t& ch : str) {
        ch = static_cast<wchar_t>(std::towupper(ch));
    }
    return str;
}

// Replaces "{src}" and "{dst}" with the quoted folders of the trees,
// "{SRC}" with the source folder in upper case, "{?dst}" with the
// destination in the \\?\ form, "{lnk}" with a link to the source and
// "{Zsrc}" with the source through drive Z:.
std::wstring Substitute(std::wstring strArguments, const e2e::CTwoTrees& trees) {
    const struct {
        const wchar_t* pszName;
        std::wstring strValue;
    } names[] = {{L"{src}", test::Quote(trees.Source())},
                 {L"{dst}", test::Quote(trees.Destination())},
                 {L"{SRC}", test::Quote(Upper(trees.Source()))},
                 {L"{?dst}", test::Quote(L"\\\\?\\" + trees.Destination())},
                 {L"{lnk}", test::Quote(trees.Root() / L"lnk")},
                 {L"{Zsrc}", test::Quote(L"Z:" + test::UnixPathOf(trees.Source()))},
                 {L"{missing}", test::Quote(trees.Root() / L"missing")}};
    for (const auto& name : names) {
        const std::wstring strName = name.pszName;
        for (size_t pos; (pos = strArguments.find(strName)) != std::wstring::npos;) {
            strArguments.replace(pos, strName.size(), name.strValue);
        }
    }
    return strArguments;
}

TEST(Report, ShowsWhatIsWrongWithTheParameters) {
    const e2e::CTwoTrees trees;
    test::MakeUnixSymlink("src", trees.Root() / L"lnk");
    const std::wstring strBanner = e2e::Banner();
    const std::wstring strUsage = UsageBlock();
    const std::wstring strReportInside =
        L"ERROR: the report file must not be inside the source or destination folder.\n\n";

    struct {
        const char* pszName;
        std::wstring strArguments;
        std::wstring strOutput;
    } cases[] = {
        {"help", L"/?", strBanner + strUsage},
        {"help by name", L"/help", strBanner + strUsage},
        {"help by abbreviation", L"/he", strBanner + strUsage},
        {"help with a dash", L"-?", strBanner + strUsage},
        {"help with valid paths", L"{src} {dst} /?", strBanner + strUsage},
        {"no arguments", L"", strBanner + strUsage + L"ERROR: a source path is required.\n\n"},
        {"source missing", L"{missing} {dst}",
         strBanner + strUsage + L"ERROR: the source path does not exist.\n\n"},
        {"report inside the source", L"{src} {dst} /report {src}\\r.json",
         strBanner + strUsage + strReportInside},
        {"report through a link into the source", L"{src} {dst} /report {lnk}\\r.json",
         strBanner + strUsage + strReportInside},
        {"report inside the destination in the \\\\?\\ form", L"{src} {dst} /report {?dst}\\r.json",
         strBanner + strUsage + strReportInside},
        {"report inside the source through drive Z:", L"{src} {dst} /report {Zsrc}\\r.json",
         strBanner + strUsage + strReportInside},
        {"report deep inside the destination with subdir",
         L"{src} {dst} /subdir /report {dst}\\a\\b\\r.json",
         strBanner + strUsage + strReportInside},
        {"report in a folder that does not exist", L"{src} {dst} /report {missing}\\r.json",
         strBanner + strUsage + L"ERROR: the folder of the report file does not exist.\n\n"},
        {"content and hash", L"{src} {dst} /content /h:sha1",
         strBanner + strUsage + L"ERROR: choose /hash or /content.\n\n"},
        {"moves without hash", L"{src} {dst} /m",
         strBanner + strUsage + L"ERROR: /moves needs /hash.\n\n"},
        {"moves with content", L"{src} {dst} /moves /content",
         strBanner + strUsage + L"ERROR: /moves needs /hash.\n\n"},
        {"source and destination equal but for case", L"{src} {SRC}",
         strBanner + strUsage + L"ERROR: source and destination paths must be different.\n\n"},
        {"unknown parameter", L"{src} {dst} /x",
         strBanner + strUsage + L"Unknown parameter(s):\n\n\t/x\n\n"},
        {"third positional argument", L"{src} {dst} extra",
         strBanner + strUsage + L"Unknown parameter(s):\n\n\textra\n\n"},
        {"file exclusions that are a folder", L"{src} {dst} /exfile:{dst}",
         strBanner + strUsage + L"ERROR: the specified file for file exclusions is a folder.\n\n"},
        {"empty file exclusions", L"{src} {dst} /exfile:",
         strBanner + L"Invalid parameter value(s):\n\n\t/exfile\n\n"},
        {"invalid value", L"{src} {dst} /hash:x",
         strBanner + L"Invalid parameter value(s):\n\n\t/hash (expected: md5,sha1,sha256)\n\n"},
        {"two invalid values", L"{src} {dst} /date:1.5 /display:progress",
         strBanner + L"Invalid parameter value(s):\n\n\t/date (expected: milliseconds)\n\t/display "
                     L"(expected: "
                     L"none,normal,verbose)\n\n"},
        {"invalid value and failed validation", L"{src} /hash:x",
         strBanner + strUsage +
             L"Invalid parameter value(s):\n\n\t/hash (expected: md5,sha1,sha256)\n\n"
             L"ERROR: a destination path is required.\n\n"},
        {"invalid value and unknown parameter", L"{src} {dst} /hash:md5,sha1 /x /y:1",
         strBanner + strUsage + L"Invalid parameter value(s):\n\n\t/hash\n\n" +
             L"Unknown parameter(s):\n\n\t/x\n\t/y\n\n"},
        {"display none with an unknown parameter", L"{src} {dst} /x /display:none", L""},
        {"display none without arguments", L"/display:none", L""},
        {"display none with help", L"/d:1 /di:n /?", L""},
    };
    for (const auto& tc : cases) {
        SCOPED_TRACE(tc.pszName);
        const test::CRunResult result = test::RunQuorva(Substitute(tc.strArguments, trees));
        EXPECT_EQ(1u, result.dwExitCode);
        EXPECT_EQ(test::Crlf(tc.strOutput), result.strOutput);
    }
}

TEST(Report, ComparesTheFolderThatEachSpellingOfARootNames) {
    // Each row spells src and dst ({x}), which differ in one file's size, and
    // is run twice: its src against its dst, then src's full path against
    // its src, which is the same folder.
    const e2e::CTwoTrees trees;
    test::MakeFile(trees.Source(L"x.txt"), "1");
    test::MakeFile(trees.Destination(L"x.txt"), "22");
    test::MakeUnixSymlink("src", trees.Root() / L"src-link");
    test::MakeUnixSymlink("dst", trees.Root() / L"dst-link");
    const std::wstring strRoot = trees.Root().Path();
    std::wstring strSlashes = strRoot;
    std::replace(strSlashes.begin(), strSlashes.end(), L'\\', L'/');
    std::wstring strOnZ = L"Z:" + test::UnixPathOf(strRoot);
    std::replace(strOnZ.begin(), strOnZ.end(), L'/', L'\\');
    const auto fill = [&](std::wstring str, const wchar_t* pszFolder) {
        const std::pair<std::wstring, std::wstring> kNames[] = {
            {L"{R}", strRoot},
            {L"{R/}", strSlashes},
            {L"{Z}", strOnZ},
            {L"{x}", pszFolder},
            {L"{long}", std::wstring(300, L'x')},
            {L"{rooted}", strRoot.substr(2)},  // without its drive
        };
        for (const auto& name : kNames) {
            for (size_t pos; (pos = str.find(name.first)) != std::wstring::npos;) {
                str.replace(pos, name.first.size(), name.second);
            }
        }
        return str;
    };

    struct {
        const char* pszName;
        const wchar_t* pszFolder;  // the current folder
        const wchar_t* pszSpelling;
        const wchar_t* pszShown;      // null: refused with the two errors
        const wchar_t* pszError;      // of the first run
        const wchar_t* pszSameError;  // of the second run
    } const kCases[] = {
        {"forward slashes", L"{R}", L"{R/}/{x}", L"{R}\\{x}", nullptr, nullptr},
        {"trailing blank", L"{R}", L"{R}\\{x} ", L"{R}\\{x}", nullptr, nullptr},
        {"trailing dot", L"{R}", L"{R}\\{x}.", L"{R}\\{x}", nullptr, nullptr},
        {"dot and dot-dot", L"{R}\\src", L"..\\{x}\\.", L"{R}\\{x}", nullptr, nullptr},
        {"drive-relative", L"{Z}", L"Z:{x}", L"{Z}\\{x}", nullptr, nullptr},
        {"rooted without a drive", L"{R}\\dst", L"{rooted}\\{x}", L"{R}\\{x}", nullptr, nullptr},
        {"trailing backslash", L"{R}", L"{R}\\{x}\\", L"{R}\\{x}\\", nullptr, nullptr},
        {"symbolic links", L"{R}", L"{R}\\{x}-link", L"{R}\\{x}-link", nullptr, nullptr},
        {"too long", L"{R}", L"{R}\\{long}\\{x}", nullptr, L"the source path is too long.",
         L"the destination path is too long."},
        {"empty", L"{R}", L"", nullptr, L"a source path is required.",
         L"a destination path is required."},
    };
    e2e::CCounts counts;
    counts.nSizeMismatches = 1;
    counts.source.nTested = 1;
    counts.destination.nTested = 1;
    const std::wstring strRefused = e2e::Banner() + UsageBlock() + L"ERROR: ";
    for (const auto& tc : kCases) {
        SCOPED_TRACE(tc.pszName);
        const std::wstring strFolder = fill(tc.pszFolder, L"");
        const test::CRunResult different =
            test::RunQuorva(test::Quote(fill(tc.pszSpelling, L"src")) + L" " +
                                test::Quote(fill(tc.pszSpelling, L"dst")),
                            strFolder);
        const test::CRunResult same = test::RunQuorva(
            test::Quote(trees.Source()) + L" " + test::Quote(fill(tc.pszSpelling, L"src")),
            strFolder);
        if (tc.pszShown != nullptr) {
            EXPECT_EQ(4u, different.dwExitCode);
            EXPECT_EQ(
                e2e::CompletedOutput(L"", fill(tc.pszShown, L"src"), fill(tc.pszShown, L"dst"),
                                     L"\\x.txt: file sizes are different! (1 bytes != 2 bytes).\n",
                                     e2e::Summary(counts)),
                e2e::NormalizeDuration(different.strOutput));
        } else {
            EXPECT_EQ(1u, different.dwExitCode);
            EXPECT_EQ(test::Crlf(strRefused + tc.pszError + L"\n\n"), different.strOutput);
        }
        EXPECT_EQ(1u, same.dwExitCode);
        EXPECT_EQ(
            test::Crlf(strRefused +
                       (tc.pszSameError ? tc.pszSameError
                                        : L"source and destination paths must be different.") +
                       L"\n\n"),
            same.strOutput);
    }
}

// On a file system that tells case apart, "src" and "SRC" are two folders.
TEST(Report, ComparesTwoRootsThatDifferInCaseOnly) {
    const e2e::CTwoTrees trees;
    test::MakeFolder(trees.Root() / L"upper");
    test::RenameThroughUnix(trees.Root() / L"upper", L"SRC");
    const test::CRunResult result =
        test::RunQuorva(test::Quote(trees.Source()) + L" " + test::Quote(trees.Root() / L"SRC"));
    EXPECT_EQ(0u, result.dwExitCode);
    EXPECT_EQ(
        e2e::CompletedOutput(L"", trees.Source(), trees.Root() / L"SRC", L"", e2e::kIdentical),
        e2e::NormalizeDuration(result.strOutput));
}

TEST(Report, WritesEachTranslationMode) {
    const std::wstring strText = e2e::Banner() + UsageBlock();
    EXPECT_EQ(test::Utf16Crlf(strText), test::RunQuorva(L"/? /display:,unicode").strOutput);
    EXPECT_EQ(test::Utf8Crlf(strText), test::RunQuorva(L"/? /display:,utf8").strOutput);
    EXPECT_EQ(test::Crlf(strText), test::RunQuorva(L"/? /display:,text").strOutput);
    EXPECT_EQ(test::Utf16Crlf(strText), test::RunQuorva(L"/? /display:normal,unicode").strOutput);
}

TEST(Report, NamesTheProgramByItsFileName) {
    // The name is the file name in lower case, without folder and extension.
    const test::CTempFolder folder;
    const std::wstring strProgram = folder / L"Check.Tool.EXE";
    ASSERT_TRUE(::CopyFileW(test::GetQuorvaPath().c_str(), strProgram.c_str(), TRUE));
    const test::CRunResult result = test::RunProgram(strProgram, L"/?");
    EXPECT_EQ(1u, result.dwExitCode);
    EXPECT_EQ(test::Crlf(e2e::Banner() + UsageBlock(L"check.tool")), result.strOutput);
}

TEST(Report, ShowsOnlyTheBannerForValidParameters) {
    const e2e::CTwoTrees trees;
    const test::CRunResult result = trees.Run(L"/hash:sha1 /date:250 /subdir");
    const std::string strBanner = test::Crlf(e2e::Banner());
    EXPECT_EQ(strBanner, result.strOutput.substr(0, strBanner.size()));
}

}  // namespace
