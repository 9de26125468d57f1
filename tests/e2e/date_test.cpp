// End-to-end: /date compares last-write times within a tolerance and shows
// both times, as stored, in the user's date and time formats.
#include <gtest/gtest.h>

#include "e2e/e2e_support.h"

namespace {

// 2024-01-02 12:00:00 UTC in FILETIME units.
constexpr uint64_t kNoon = 133486704000000000ULL;
// An hour in FILETIME units.
constexpr uint64_t kHour = 36000000000ULL;
// 2 * 10^10 seconds before 1970 (in the year 1336): a negative count, its
// top bit set, which the platform cannot show as a date.
constexpr uint64_t kBefore1601 = 0xFED726EE1A2A8000ULL;

// The text the platform gives for a FILETIME in the short date and default
// time formats, without any time-zone conversion; with nDigits, the
// locale's seconds followed by its decimal separator and that many digits of
// the fraction.
std::wstring TimeText(uint64_t nTime, unsigned nDigits = 0) {
    FILETIME ft;
    ft.dwLowDateTime = static_cast<DWORD>(nTime);
    ft.dwHighDateTime = static_cast<DWORD>(nTime >> 32);
    SYSTEMTIME st;
    ::FileTimeToSystemTime(&ft, &st);
    wchar_t szPicture[80];
    wchar_t szDecimal[8];
    ::GetLocaleInfoW(LOCALE_USER_DEFAULT, LOCALE_STIMEFORMAT, szPicture, 80);
    ::GetLocaleInfoW(LOCALE_USER_DEFAULT, LOCALE_SDECIMAL, szDecimal, 8);
    std::wstring strPicture = szPicture;
    const std::wstring strFraction =
        std::to_wstring(nTime % 10000000 + 10000000).substr(1, nDigits);
    strPicture.replace(strPicture.find(L"ss"), 2, L"ss'" + (szDecimal + strFraction) + L"'");
    wchar_t szDate[128];
    wchar_t szTime[128];
    ::GetDateFormatW(LOCALE_USER_DEFAULT, 0, &st, nullptr, szDate, 128);
    ::GetTimeFormatW(LOCALE_USER_DEFAULT, 0, &st, nDigits ? strPicture.c_str() : nullptr, szTime,
                     128);
    return std::wstring(szDate) + L" " + szTime;
}

// The summary of one pair of files, tested once however many of its facts
// differ.
std::wstring DateSummary(int nSize, int nDate, int nHash, bool bHash) {
    e2e::CCounts counts;
    counts.nSizeMismatches = nSize;
    counts.nDateMismatches = nDate;
    counts.nHashMismatches = nHash;
    counts.source.nTested = 1;
    counts.destination.nTested = 1;
    counts.nDifferent = 1;
    return e2e::Summary(counts, e2e::SHOW_DATE | (bHash ? e2e::SHOW_HASH : 0));
}

TEST(DateTest, ToleranceAndMoreRecentFindings) {
    struct {
        const char* pszName;
        const wchar_t* pszOption;
        uint64_t nSource;
        uint64_t nDestination;
        const char* pszDestinationContents;
        const wchar_t* pszFinding;  // before the two times; null: no date finding
        const wchar_t* pszRelation;
        unsigned nDigits = 0;                    // of the fraction of a second in both texts
        const wchar_t* pszSourceText = nullptr;  // null: the platform's text of nSource
    } const kCases[] = {
        {"equal times", L"/date:", kNoon, kNoon, "same", nullptr, nullptr},
        {"an hour off, shifts of an hour", L"/date:2000,1", kNoon, kNoon + kHour, "same", nullptr,
         nullptr},
        {"1.5 s beyond an hour", L"/date:2000,1", kNoon + kHour + 15000000, kNoon, "same", nullptr,
         nullptr},
        {"3 s beyond an hour", L"/date:2000,1", kNoon, kNoon + kHour + 30000000, "same",
         L": file in destination is more recent! (", L" < "},
        {"gap equal to the tolerance", L"/date:1000", kNoon, kNoon + 10000000, "same", nullptr,
         nullptr},
        {"gap one unit beyond", L"/date:1000", kNoon, kNoon + 10000001, "same",
         L": file in destination is more recent! (", L" < "},
        {"source more recent, value as next argument", L"/date 1000", kNoon + 10000001, kNoon,
         "same", L": file in source is more recent! (", L" > "},
        // No fact hides another: the time finding first, then the pair as
        // if its times agreed.
        {"times and sizes differ", L"/date:0", kNoon, kNoon + 20000000, "longer!",
         L": file in destination is more recent! (", L" < "},
        {"times and contents differ, with /hash", L"/date:0 /hash", kNoon, kNoon + 20000000, "SAME",
         L": file in destination is more recent! (", L" < "},
        {"times differ only, with /hash", L"/date:0 /hash", kNoon + 20000000, kNoon, "same",
         L": file in source is more recent! (", L" > "},
        {"sizes compared when dates pass", L"/date:5", kNoon, kNoon + 50000, "longer!", nullptr,
         nullptr},
        {"texts that would read the same carry milliseconds", L"/date:0", kNoon + 2500000,
         kNoon + 7500000, "same", L": file in destination is more recent! (", L" < ", 3},
        {"and then all seven digits", L"/date:0", kNoon + 2, kNoon + 1, "same",
         L": file in source is more recent! (", L" > ", 7},
        // Only Unix sets it (on a file system that keeps it); the report
        // names the same instant.
        {"a time before 1601", L"/date:", kBefore1601, kNoon, "same",
         L": file in destination is more recent! (", L" < ", 0, L"1336-03-23T12:26:40Z"},
    };
    for (const auto& tc : kCases) {
        SCOPED_TRACE(tc.pszName);
        // Unlike ext4, tmpfs keeps times up to the end of 64-bit seconds.
        const bool bUnixTime = tc.nSource == kBefore1601;
        e2e::CTwoTrees trees(bUnixTime ? L"Z:\\dev\\shm" : L"");
        test::MakeFile(trees.Source(L"f.txt"), "same");
        test::MakeFile(trees.Destination(L"f.txt"), tc.pszDestinationContents);
        if (bUnixTime) {
            test::RunUnixCommand(L"/bin/touch -d @-20000000000 " +
                                 test::Quote(test::UnixPathOf(trees.Source(L"f.txt"))));
            for (int i = 0; i < 500 && test::GetLastWriteTime(trees.Source(L"f.txt")) != tc.nSource;
                 ++i) {
                ::Sleep(10);
            }
            ASSERT_EQ(tc.nSource, test::GetLastWriteTime(trees.Source(L"f.txt")));
        } else {
            test::SetLastWriteTime(trees.Source(L"f.txt"), tc.nSource);
        }
        test::SetLastWriteTime(trees.Destination(L"f.txt"), tc.nDestination);
        const std::string strContents = tc.pszDestinationContents;
        const bool bSizesDiffer = strContents.size() != 4;
        const bool bHash = std::wstring(tc.pszOption).find(L"/hash") != std::wstring::npos;
        const bool bContentsDiffer = bHash && !bSizesDiffer && strContents != "same";

        std::wstring strFindings;
        if (tc.pszFinding != nullptr) {
            strFindings = std::wstring(L"\\f.txt") + tc.pszFinding +
                          (tc.pszSourceText ? tc.pszSourceText : TimeText(tc.nSource, tc.nDigits)) +
                          tc.pszRelation + TimeText(tc.nDestination, tc.nDigits) + L").\n";
        }
        if (bSizesDiffer) {
            strFindings += L"\\f.txt: file sizes are different! (4 bytes != 7 bytes).\n";
        }
        if (bContentsDiffer) {
            strFindings +=
                L"\\f.txt: file contents are different! "
                L"(51037a4a37730f52c8732586d3aaa316 != "
                L"c706ffd80b0ad0a4ef605c581e95252b).\n";
        }
        const std::wstring strVerdict =
            strFindings.empty() ? e2e::kIdentical
                                : DateSummary(bSizesDiffer ? 1 : 0, tc.pszFinding ? 1 : 0,
                                              bContentsDiffer ? 1 : 0, bHash);
        // A time zone far from UTC: the times must still show as stored.
        const std::wstring strReport = trees.Root() / L"r.json";
        const test::CRunResult result =
            trees.Run(tc.pszOption + (bUnixTime ? L" /report " + test::Quote(strReport) : L""),
                      {L"TZ=JST-9"});
        EXPECT_EQ(strFindings.empty() ? 0u : 4u, result.dwExitCode);
        EXPECT_EQ(trees.CompletedOutput(bHash ? e2e::kMd5Line : L"", strFindings, strVerdict),
                  e2e::NormalizeDuration(result.strOutput));
        if (bUnixTime) {
            EXPECT_NE(
                std::string::npos,
                test::ReadWholeFile(strReport).find(
                    "\"source\": {\"size\": 4, \"lastWrite\": \"1336-03-23T12:26:40.0000000Z\"}"));
        }
    }
}

TEST(DateTest, NoonUtcShowsAsNoonWhateverTheTimeZone) {
    // The platform's own text for 12:00:00 in this locale, e.g. "12:00:00 PM".
    SYSTEMTIME st = {};
    st.wYear = 2024;
    st.wMonth = 1;
    st.wDay = 2;
    st.wHour = 12;
    wchar_t szNoon[64];
    ::GetTimeFormatW(LOCALE_USER_DEFAULT, 0, &st, nullptr, szNoon, 64);

    e2e::CTwoTrees trees;
    test::MakeFile(trees.Source(L"f.txt"), "x");
    test::MakeFile(trees.Destination(L"f.txt"), "x");
    test::SetLastWriteTime(trees.Source(L"f.txt"), kNoon);
    test::SetLastWriteTime(trees.Destination(L"f.txt"), kNoon + 36000000000ULL);  // 13:00
    for (const wchar_t* pszZone : {L"TZ=UTC", L"TZ=JST-9", L"TZ=EST+5"}) {
        SCOPED_TRACE(testing::Message() << static_cast<char>(pszZone[3]));
        const test::CRunResult result = trees.Run(L"/date:", {pszZone});
        const std::wstring strWide(result.strOutput.begin(), result.strOutput.end());
        EXPECT_NE(std::wstring::npos, strWide.find(std::wstring(L" ") + szNoon + L" < "))
            << result.strOutput;
    }
}

}  // namespace
