// End-to-end: /moves reports a reorganised tree as the moves it underwent,
// from two folders or against a snapshot of either.
#include <gtest/gtest.h>

#include <regex>
#include <string>
#include <utility>
#include <vector>

#include "e2e/e2e_support.h"
#include "support/test_support.h"

namespace {

TEST(MovesTest, AReorganisedTreeReadsAsItsMoves) {
    const e2e::CTwoTrees trees;
    const struct {
        const wchar_t* pszSource;
        const wchar_t* pszDestination;
        const char* pszData;
    } kFiles[] = {
        {L"t\\1.txt", L"t\\1.txt", "triple"},       // stays
        {L"t\\2.txt", L"b\\copy-a.txt", "triple"},  // two of three identical files moved
        {L"t\\3.txt", L"b\\copy-b.txt", "triple"},
        {nullptr, L"b\\copy-c.txt", "triple"},                         // a third copy: missing
        {L"a\\x.txt", L"b\\x2.txt", "across"},                         // across folders
        {L"r.txt", L"r-2025.txt", "report"},                           // a rename in place
        {L"a\\in.txt", L"new\\in.txt", "into"},                        // into a folder of one side
        {L"old\\deep\\out.txt", L"b\\out.txt", "out of"},              // out of one
        {L"old\\deep\\both.txt", L"new\\both.txt", "renamed folder"},  // from one to the other
        {L"old\\stay.txt", nullptr, "stays"},
        {nullptr, L"new\\fresh.txt", "fresh"},
        {L"a\\c.txt", L"b\\c.txt", "abc"},  // moved and changed: two missing files
    };
    for (const auto& file : kFiles) {
        const bool bChanged = std::string(file.pszData) == "abc";
        if (file.pszSource != nullptr) {
            test::MakeFile(trees.Source(file.pszSource), file.pszData);
        }
        if (file.pszDestination != nullptr) {
            test::MakeFile(trees.Destination(file.pszDestination), bChanged ? "abd" : file.pszData);
        }
    }
    test::MakeFolder(trees.Source(L"b"));
    test::MakeFolder(trees.Destination(L"a"));
    const std::wstring strSnapshot = trees.Root() / L"s.json";
    // The files of a folder of one side only that did not move are missing,
    // each on a line of its own at the verbose level. \old\deep holds half
    // of its files in \new: a folder move, compared under its new name.
    const auto findings = [](bool bVerbose) {
        return std::wstring(
                   L"\\a\\c.txt: file not found in destination, 3 bytes expected.\n"
                   L"\\a\\in.txt: file moved to \\new\\in.txt.\n"
                   L"\\a\\x.txt: file moved to \\b\\x2.txt.\n"
                   L"\\b\\c.txt: file not found in source, 3 bytes expected.\n"
                   L"\\b\\copy-c.txt: file not found in source, 6 bytes expected.\n"
                   L"\\old: folder not found in destination.\n"
                   L"\\old\\deep: folder moved to \\new.\n") +
               (bVerbose ? L"\\old\\deep\\both.txt: files are identical "
                           L"(ab849b91916803547d0a5a978d8824ae).\n"
                         : L"") +
               L"\\old\\deep\\fresh.txt: file not found in source, 5 bytes expected.\n"
               L"\\old\\deep\\out.txt: file moved to \\b\\out.txt.\n" +
               (bVerbose ? L"\\old\\stay.txt: file not found in destination, 5 bytes expected.\n"
                         : L"") +
               L"\\r.txt: file moved to \\r-2025.txt.\n"
               L"\\t\\2.txt: file moved to \\b\\copy-a.txt.\n"
               L"\\t\\3.txt: file moved to \\b\\copy-b.txt.\n";
    };
    e2e::CCounts counts;
    counts.nIdentical = 2;
    counts.nMoved = 6;
    counts.nMovedFolders = 1;
    counts.strVerifiedBytes = L"20 bytes";
    counts.source = {10, 0, 3};
    counts.destination = {11, 0, 2, 0, 0, 0, 1};
    const std::wstring strSummary = e2e::Summary(counts, e2e::SHOW_HASH | e2e::SHOW_MOVES);

    struct {
        const char* pszName;
        const wchar_t* pszSnapshot;  // the side recorded first, or none
        std::wstring strOptions;
        std::wstring strIdentical;  // the findings of the walk before the moves
    } const kCases[] = {
        {"folders", nullptr, L"/subdir /hash /moves", L""},
        {"folders, verbose, abbreviated", nullptr, L"/subdir /h /m /display:verbose",
         L"\\t\\1.txt: files are identical (66f1f45439ed1cb1deb38ec293647bb3).\n"},
        {"a snapshot of the source", L"source", L"/subdir /hash /moves", L""},
        {"a snapshot of the destination", L"destination", L"/subdir /hash /moves", L""},
    };
    for (const auto& tc : kCases) {
        SCOPED_TRACE(tc.pszName);
        std::wstring strSource = trees.Source();
        std::wstring strDestination = trees.Destination();
        if (tc.pszSnapshot != nullptr) {
            std::wstring& strSide = tc.pszSnapshot[0] == L's' ? strSource : strDestination;
            ASSERT_EQ(0u, test::RunQuorva(test::Quote(strSide) + L" /snapshot " +
                                          test::Quote(strSnapshot) + L" /subdir /hash")
                              .dwExitCode);
            strSide = strSnapshot;
        }
        const std::wstring strReport = trees.Root() / L"report.json";
        const test::CRunResult result =
            test::RunQuorva(test::Quote(strSource) + L" " + test::Quote(strDestination) + L" " +
                            tc.strOptions + L" /report " + test::Quote(strReport));
        EXPECT_EQ(4u, result.dwExitCode);
        // A snapshot's start line names the folder it recorded, and when.
        static const std::regex kRecorded(" \\(snapshot [^,]*, [-0-9]* [0-9:]* UTC\\)");
        EXPECT_EQ(
            trees.CompletedOutput(e2e::kMd5Line,
                                  tc.strIdentical + findings(!tc.strIdentical.empty()), strSummary),
            e2e::NormalizeDuration(std::regex_replace(result.strOutput, kRecorded, "")));
        EXPECT_EQ(
            "source: listed 10/62 identical 2/20 moved 6/34 different 0/0 missing 2/8 "
            "notVerified 0/0 excluded 0/0; destination: listed 11/68 identical 2/20 "
            "moved 6/34 different 0/0 missing 3/14 notVerified 0/0 excluded 0/0",
            e2e::FileAccounts(strReport));
    }
}

// The candidates for a move: empty files never pair, a file pairs first with
// one of the same name, and one that cannot be read stays missing with the
// reason it could not be searched. Trees made through Unix, which can make
// a name that Windows cannot open.
TEST(MovesTest, TheCandidatesForAMove) {
    const std::wstring kReason = e2e::SystemText(ERROR_INVALID_NAME) + L"\n";
    struct {
        const char* pszName;
        const wchar_t* pszSource;  // shell commands that make each tree
        const wchar_t* pszDestination;
        std::wstring strFindings;
        e2e::CCounts counts;
        const char* pszAccounts;
    } const kCases[] = {
        {"empty files never pair",
         L": > lock.pid && : > .gitkeep",
         L": > done.flag && : > __init__.py",
         L"\\.gitkeep: file not found in destination, 0 bytes expected.\n"
         L"\\__init__.py: file not found in source, 0 bytes expected.\n"
         L"\\done.flag: file not found in source, 0 bytes expected.\n"
         L"\\lock.pid: file not found in destination, 0 bytes expected.\n",
         {0, 0, 0, 0, {2, 0, 2}, {2, 0, 2}},
         "source: listed 2/0 identical 0/0 moved 0/0 different 0/0 missing 2/0 notVerified 0/0 "
         "excluded 0/0; destination: listed 2/0 identical 0/0 moved 0/0 different 0/0 missing 2/0 "
         "notVerified 0/0 excluded 0/0"},
        {"the same name first",
         L"mkdir a && echo same > a/x.txt && echo same > y.txt",
         L"mkdir d && echo same > d/y.txt && echo same > x.txt",
         L"\\a: folder not found in destination.\n"
         L"\\a\\x.txt: file moved to \\x.txt.\n"
         L"\\d: folder not found in source.\n"
         L"\\y.txt: file moved to \\d\\y.txt.\n",
         {0, 0, 0, 0, {2, 0, 0, 0, 0, 0, 1}, {2, 0, 0, 0, 0, 0, 1}, 2},
         "source: listed 2/10 identical 0/0 moved 2/10 different 0/0 missing 0/0 notVerified 0/0 "
         "excluded 0/0; destination: listed 2/10 identical 0/0 moved 2/10 different 0/0 missing "
         "0/0 notVerified 0/0 excluded 0/0"},
        {"an unreadable candidate stays missing, with its reason",
         L"echo abc > x.txt",
         L"echo abc > 'y?.txt'",
         L"\\x.txt: file not found in destination, 4 bytes expected.\n"
         L"\\y?.txt: file not found in source, 4 bytes expected.\n" +
             kReason,
         {0, 0, 0, 0, {1, 0, 1}, {1, 0, 1}},
         "source: listed 1/4 identical 0/0 moved 0/0 different 0/0 missing 1/4 notVerified 0/0 "
         "excluded 0/0; destination: listed 1/4 identical 0/0 moved 0/0 different 0/0 missing 1/4 "
         "notVerified 0/0 excluded 0/0"},
    };
    for (const auto& tc : kCases) {
        SCOPED_TRACE(tc.pszName);
        const e2e::CTwoTrees trees;
        const std::wstring strTop = test::UnixPathOf(trees.Root().Path());
        test::RunUnixCommand(L"/bin/sh -c " +
                             test::Quote(L"cd '" + strTop + L"/src' && " + tc.pszSource +
                                         L" && cd '" + strTop + L"/dst' && " + tc.pszDestination +
                                         L" && : > '" + strTop + L"/made'"));
        for (int i = 0; i < 500 && test::ListFiles(trees.Root() / L"made").empty(); ++i) {
            ::Sleep(10);
        }
        const std::wstring strReport = trees.Root() / L"report.json";
        const test::CRunResult result =
            trees.Run(L"/subdir /hash /moves /report " + test::Quote(strReport));
        EXPECT_EQ(4u, result.dwExitCode);
        EXPECT_EQ(trees.CompletedOutput(e2e::kMd5Line, tc.strFindings,
                                        e2e::Summary(tc.counts, e2e::SHOW_HASH | e2e::SHOW_MOVES)),
                  e2e::NormalizeDuration(result.strOutput));
        EXPECT_EQ(tc.pszAccounts, e2e::FileAccounts(strReport));
        test::RunUnixCommand(L"/bin/sh -c " +
                             test::Quote(L"rm -rf '" + strTop + L"/src' '" + strTop + L"/dst' '" +
                                         strTop + L"/made'"));
    }
}

// Folder moves: a renamed folder is one finding, and is then compared under
// its new name as any folder pair, every file that differs or is missing
// reported by its source-side path; a renamed subfolder pairs on its own,
// and one that pairs nowhere is missing.
TEST(MovesTest, AFolderMovedIsComparedUnderItsNewName) {
    struct {
        const char* pszName;
        std::vector<std::pair<const wchar_t*, const char*>> source;
        std::vector<std::pair<const wchar_t*, const char*>> destination;
        std::wstring strFindings;
        e2e::CCounts counts;
        const char* pszAccounts;
        const char* pszExcluded = nullptr;  // the file exclusion list, if any
    } const kCases[] = {
        {"a renamed folder with one file damaged, one gone, one added",
         {{L"a\\1.txt", "alpha"},
          {L"a\\2.txt", "bravo"},
          {L"a\\3.txt", "charlie"},
          {L"a\\4.txt", "delta"}},
         {{L"b\\1.txt", "alpha"},
          {L"b\\2.txt", "bravo"},
          {L"b\\3.txt", "charlIe"},
          {L"b\\5.txt", "echo!"}},
         L"\\a: folder moved to \\b.\n"
         L"\\a\\3.txt: file contents are different! (bf779e0933a882808585d19455cd7937 != "
         L"ec9f7f47e005012ac67b750ad02a46ac).\n"
         L"\\a\\4.txt: file not found in destination, 5 bytes expected.\n"
         L"\\a\\5.txt: file not found in source, 5 bytes expected.\n",
         {2, 0, 0, 1, {4, 0, 1}, {4, 0, 1}, 0, L"10 bytes", -1, -1, -1, 1},
         "source: listed 4/22 identical 2/10 moved 0/0 different 1/7 missing 1/5 notVerified 0/0 "
         "excluded 0/0; destination: listed 4/22 identical 2/10 moved 0/0 different 1/7 missing "
         "1/5 notVerified 0/0 excluded 0/0"},
        {"nested renamed folders",
         {{L"p\\q\\f1", "one"}, {L"p\\q\\f2", "two"}, {L"m\\n\\g", "three"}},
         {{L"P2\\Q2\\f1", "one"}, {L"P2\\Q2\\f2", "two"}, {L"M2\\n\\g", "three"}},
         L"\\P2: folder not found in source.\n"
         L"\\m: folder moved to \\M2.\n"
         L"\\p: folder not found in destination.\n"
         L"\\p\\q: folder moved to \\P2\\Q2.\n",
         {3, 0, 0, 0, {3, 0, 0, 0, 0, 0, 1}, {3, 0, 0, 0, 0, 0, 1}, 0, L"11 bytes", -1, -1, -1, 2},
         "source: listed 3/11 identical 3/11 moved 0/0 different 0/0 missing 0/0 notVerified 0/0 "
         "excluded 0/0; destination: listed 3/11 identical 3/11 moved 0/0 different 0/0 missing "
         "0/0 notVerified 0/0 excluded 0/0"},
        {"subfolders without a namesake: one moved elsewhere, one missing",
         {{L"a\\1.txt", "alpha"},
          {L"a\\2.txt", "bravo"},
          {L"a\\old\\f.txt", "foxtrot"},
          {L"a\\gone\\g.txt", "golf"}},
         {{L"b\\1.txt", "alpha"}, {L"b\\2.txt", "bravo"}, {L"new\\f.txt", "foxtrot"}},
         L"\\a: folder moved to \\b.\n"
         L"\\a\\gone: folder not found in destination.\n"
         L"\\a\\old: folder moved to \\new.\n",
         {3, 0, 0, 0, {4}, {3, 0, 1, 0, 0, 0, 1}, 0, L"17 bytes", -1, -1, -1, 2},
         "source: listed 4/21 identical 3/17 moved 0/0 different 0/0 missing 1/4 notVerified 0/0 "
         "excluded 0/0; destination: listed 3/17 identical 3/17 moved 0/0 different 0/0 missing "
         "0/0 notVerified 0/0 excluded 0/0"},
        {"a moved folder partly excluded",
         {{L"a\\1.txt", "alpha"}, {L"a\\2.txt", "bravo"}, {L"a\\x.tmp", "t1"}},
         {{L"b\\1.txt", "alpha"}, {L"b\\2.txt", "bravo"}, {L"b\\x.tmp", "t22"}},
         L"\\a: folder moved to \\b.\n",
         {2, 0, 0, 0, {2, 0, 0, 1}, {2, 0, 0, 1}, 0, L"10 bytes", -1, -1, -1, 1},
         "source: listed 3/10 identical 2/10 moved 0/0 different 0/0 missing 0/0 notVerified 0/0 "
         "excluded 1/0; destination: listed 3/10 identical 2/10 moved 0/0 different 0/0 missing "
         "0/0 notVerified 0/0 excluded 1/0",
         "*.tmp\n"},
    };
    for (const auto& tc : kCases) {
        SCOPED_TRACE(tc.pszName);
        const e2e::CTwoTrees trees;
        for (const auto& file : tc.source) {
            test::MakeFile(trees.Source(file.first), file.second);
        }
        for (const auto& file : tc.destination) {
            test::MakeFile(trees.Destination(file.first), file.second);
        }
        const std::wstring strReport = trees.Root() / L"report.json";
        const std::wstring strList = trees.Root() / L"list.txt";
        std::wstring strHeader = e2e::kMd5Line;
        std::wstring strOptions = L"/subdir /hash /moves /report " + test::Quote(strReport);
        if (tc.pszExcluded != nullptr) {
            test::MakeFile(strList, tc.pszExcluded);
            strOptions += L" /exfile:" + test::Quote(strList);
            strHeader = L"Loading file exclusions from " + strList +
                        L" (Latin-1)...\n1 file exclusion(s) loaded.\n\n" + strHeader;
        }
        const test::CRunResult result = trees.Run(strOptions);
        EXPECT_EQ(4u, result.dwExitCode);
        EXPECT_EQ(trees.CompletedOutput(
                      strHeader, tc.strFindings,
                      e2e::Summary(tc.counts, e2e::SHOW_HASH | e2e::SHOW_MOVES |
                                                  (tc.pszExcluded ? e2e::SHOW_EXFILE : 0))),
                  e2e::NormalizeDuration(result.strOutput));
        EXPECT_EQ(tc.pszAccounts, e2e::FileAccounts(strReport));
    }
}

}  // namespace
