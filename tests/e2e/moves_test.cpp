// End-to-end: /moves reports a reorganised tree as the moves it underwent,
// from two folders or against a snapshot of either.
#include <gtest/gtest.h>

#include <regex>
#include <string>

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
    // each on a line of its own at the verbose level.
    const auto findings = [](bool bVerbose) {
        return std::wstring(
                   L"\\a\\c.txt: file not found in destination, 3 bytes expected.\n"
                   L"\\a\\in.txt: file moved to \\new\\in.txt.\n"
                   L"\\a\\x.txt: file moved to \\b\\x2.txt.\n"
                   L"\\b\\c.txt: file not found in source, 3 bytes expected.\n"
                   L"\\b\\copy-c.txt: file not found in source, 6 bytes expected.\n"
                   L"\\new: folder not found in source.\n") +
               (bVerbose ? L"\\new\\fresh.txt: file not found in source, 5 bytes expected.\n"
                         : L"") +
               L"\\old: folder not found in destination.\n"
               L"\\old\\deep\\both.txt: file moved to \\new\\both.txt.\n"
               L"\\old\\deep\\out.txt: file moved to \\b\\out.txt.\n" +
               (bVerbose ? L"\\old\\stay.txt: file not found in destination, 5 bytes expected.\n"
                         : L"") +
               L"\\r.txt: file moved to \\r-2025.txt.\n"
               L"\\t\\2.txt: file moved to \\b\\copy-a.txt.\n"
               L"\\t\\3.txt: file moved to \\b\\copy-b.txt.\n";
    };
    e2e::CCounts counts;
    counts.nIdentical = 1;
    counts.nMoved = 7;
    counts.strVerifiedBytes = L"6 bytes";
    counts.source = {10, 0, 3, 0, 0, 0, 1};
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
            "source: listed 10/62 identical 1/6 moved 7/48 different 0/0 missing 2/8 "
            "notVerified 0/0 excluded 0/0; destination: listed 11/68 identical 1/6 "
            "moved 7/48 different 0/0 missing 3/14 notVerified 0/0 excluded 0/0",
            e2e::FileAccounts(strReport));
    }
}

}  // namespace
