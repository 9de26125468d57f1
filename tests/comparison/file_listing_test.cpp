#include "comparison/file_listing.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "comparison/comparison_results.h"
#include "exclusions/exclusions.h"
#include "support/test_support.h"

namespace {

// Opens the program's cache file for a test and closes (deletes) it after.
class FileListingTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(g_cacheFile.Create()) << ::GetLastError();
        g_fileExclusions.clear();
    }
    void TearDown() override {
        g_cacheFile.Close();
        g_fileExclusions.clear();
    }

    BOOL List(const std::wstring& strFolder, CFileEntryArray& listing, CSideResults& side) {
        return ListFiles((strFolder + L"\\*.*").c_str(), listing, side);
    }

    test::CTempFolder m_folder;
};

std::wstring NameOf(const CFileEntry& entry) { return entry.szName; }

TEST_F(FileListingTest, RecordsHaveTheCacheFileLayout) {
    const std::wstring strFolder = m_folder / L"a";
    test::MakeFile(strFolder + L"\\only.txt", std::string(70000, 'x'));
    test::SetLastWriteTime(strFolder + L"\\only.txt", 0x01D2030405060708ULL);
    CFileEntryArray listing;
    CSideResults side;
    ASSERT_TRUE(List(strFolder, listing, side));
    ASSERT_EQ(1u, listing.GetCount());

    // The records are what the cache file holds, byte for byte.
    unsigned char record[576];
    LARGE_INTEGER zero = {};
    ASSERT_TRUE(::SetFilePointerEx(g_cacheFile.GetHandle(), zero, nullptr, FILE_BEGIN));
    DWORD cbRead = 0;
    ASSERT_TRUE(::ReadFile(g_cacheFile.GetHandle(), record, sizeof(record), &cbRead, nullptr));
    ASSERT_EQ(sizeof(record), cbRead);
    EXPECT_EQ(0, std::memcmp(record, L"only.txt", 9 * sizeof(wchar_t)));
    const unsigned char time[8] = {0x08, 0x07, 0x06, 0x05, 0x04, 0x03, 0xD2, 0x01};
    EXPECT_EQ(0, std::memcmp(record + 520, time, 8));
    EXPECT_EQ(0, record[528]);
    EXPECT_EQ(0, record[529]);
    const unsigned char size[8] = {0x70, 0x11, 0x01, 0, 0, 0, 0, 0};  // 70000
    EXPECT_EQ(0, std::memcmp(record + 568, size, 8));
}

TEST_F(FileListingTest, ShortListingAfterLongOneHoldsOnlyItsOwnRecords) {
    const std::wstring strLong = m_folder / L"long";
    const std::wstring strShort = m_folder / L"short";
    for (int i = 0; i < 300; ++i) {
        test::MakeFile(strLong + L"\\file" + std::to_wstring(i) + L".dat", "x");
    }
    test::MakeFile(strShort + L"\\one.txt", "1");
    test::MakeFile(strShort + L"\\two.txt", "22");

    CSideResults side;
    CFileEntryArray longListing;
    ASSERT_TRUE(List(strLong, longListing, side));
    EXPECT_EQ(300u, longListing.GetCount());
    CFileEntryArray shortListing;
    ASSERT_TRUE(List(strShort, shortListing, side));
    ASSERT_EQ(2u, shortListing.GetCount());
    std::wstring strNames = NameOf(shortListing[0]) + L"," + NameOf(shortListing[1]);
    EXPECT_TRUE(strNames == L"one.txt,two.txt" || strNames == L"two.txt,one.txt") << strNames.size();
    EXPECT_EQ(0, side.m_nExcludedFiles);
}

TEST_F(FileListingTest, FoldersAreSkippedAndHiddenFilesListed) {
    const std::wstring strFolder = m_folder / L"tree";
    test::MakeFolder(strFolder + L"\\sub1");
    test::MakeFolder(strFolder + L"\\sub2");
    CFileEntryArray onlyFolders;
    CSideResults side;
    ASSERT_TRUE(List(strFolder, onlyFolders, side));
    EXPECT_EQ(0u, onlyFolders.GetCount());

    test::MakeFile(strFolder + L"\\hidden.bin", "h");
    ASSERT_TRUE(::SetFileAttributesW((strFolder + L"\\hidden.bin").c_str(),
                                     FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM));
    CFileEntryArray withFile;
    ASSERT_TRUE(List(strFolder, withFile, side));
    ASSERT_EQ(1u, withFile.GetCount());
    EXPECT_EQ(L"hidden.bin", NameOf(withFile[0]));
    EXPECT_EQ(1u, withFile[0].nSize);
}

TEST_F(FileListingTest, ExcludedFilesAreCountedOnceAndLeftOut) {
    const std::wstring strFolder = m_folder / L"ex";
    test::MakeFile(strFolder + L"\\keep.txt", "k");
    test::MakeFile(strFolder + L"\\drop.tmp", "d");
    test::MakeFile(strFolder + L"\\drop.log", "d");
    test::MakeFolder(strFolder + L"\\folder.tmp");
    g_fileExclusions = {L"*.tmp", L"drop.*", L"*.log"};
    CFileEntryArray listing;
    CSideResults side;
    ASSERT_TRUE(List(strFolder, listing, side));
    ASSERT_EQ(1u, listing.GetCount());
    EXPECT_EQ(L"keep.txt", NameOf(listing[0]));
    EXPECT_EQ(2, side.m_nExcludedFiles);  // drop.tmp matches two wildcards, counted once

    g_fileExclusions = {L"*.*"};
    CFileEntryArray none;
    CSideResults allExcluded;
    ASSERT_TRUE(List(strFolder, none, allExcluded));
    EXPECT_EQ(0u, none.GetCount());
    EXPECT_EQ(3, allExcluded.m_nExcludedFiles);
}

TEST_F(FileListingTest, MissingFolderFailsWithTheSearchError) {
    CFileEntryArray listing;
    CSideResults side;
    EXPECT_FALSE(List(m_folder / L"does-not-exist", listing, side));
    EXPECT_EQ(static_cast<DWORD>(ERROR_PATH_NOT_FOUND), ::GetLastError());
}

TEST(FileEntryTest, NewEntryIsEmpty) {
    CFileEntry entry;
    EXPECT_EQ(0, entry.szName[0]);
    EXPECT_EQ(0, entry.szSizeText[0]);
    EXPECT_EQ(0u, entry.nSize);
    EXPECT_EQ(0u, entry.ftLastWrite.dwLowDateTime | entry.ftLastWrite.dwHighDateTime);
}

TEST(FindEntryTest, NamesFoldOnlyAToZ) {
    struct {
        const wchar_t* pszA;
        const wchar_t* pszB;
        bool bSame;
    } const kCases[] = {
        {L"Report.TXT", L"report.txt", true},
        {L"ABCXYZ", L"abcxyz", true},
        {L"a", L"a", true},
        {L"", L"", true},
        {L"a", L"ab", false},
        {L"ab", L"a", false},
        {L"\u00C9t\u00E9.txt", L"\u00E9t\u00E9.txt", false},  // accented capital E
        {L"[", L"{", false},  // 0x5B is not a letter: never folded
        {L"@", L"`", false},
    };
    for (const auto& tc : kCases) {
        SCOPED_TRACE(testing::Message() << "case " << (&tc - kCases));
        EXPECT_EQ(tc.bSame, IsSameName(tc.pszA, tc.pszB));
        EXPECT_EQ(tc.bSame, IsSameName(tc.pszB, tc.pszA));
    }
}

TEST(FindEntryTest, FindsFirstOfTwoNamesEqualButForCase) {
    CFileEntryArray listing;
    ASSERT_TRUE(listing.SetCount(3));
    const wchar_t* const names[] = {L"other.txt", L"Data.txt", L"DATA.TXT"};
    for (int i = 0; i < 3; ++i) {
        ::wcscpy(listing[i].szName, names[i]);
        listing[i].nSize = 100 + i;
        listing[i].ftLastWrite.dwLowDateTime = 7 + i;
        ::wcscpy(listing[i].szSizeText, L"stale");
    }

    CFileEntry found;
    ASSERT_TRUE(FindEntry(listing, L"data.txt", found));
    EXPECT_STREQ(L"Data.txt", found.szName);
    EXPECT_EQ(101u, found.nSize);
    EXPECT_EQ(8u, found.ftLastWrite.dwLowDateTime);
    EXPECT_EQ(0, found.szSizeText[0]);  // the size text is not copied

    CFileEntry untouched;
    ::wcscpy(untouched.szName, L"keep");
    EXPECT_FALSE(FindEntry(listing, L"d\u00C1ta.txt", untouched));
    EXPECT_STREQ(L"keep", untouched.szName);
}

}  // namespace
