#include "sides/file_listing.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "exclusions/exclusions.h"
#include "reports/comparison_results.h"
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

    BOOL List(const std::wstring& strFolder, CItemList& listing, CExcludedCounts& side) {
        return ListFiles((strFolder + L"\\*.*").c_str(), listing, side);
    }

    test::CTempFolder m_folder;
};

TEST_F(FileListingTest, RecordsHaveTheCacheFileLayout) {
    const std::wstring strFolder = m_folder / L"a";
    test::MakeFile(strFolder + L"\\only.txt", std::string(70000, 'x'));
    test::SetLastWriteTime(strFolder + L"\\only.txt", 0x01D2030405060708ULL);
    CItemList listing;
    CExcludedCounts side;
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
    // And read back into the list as they were written.
    EXPECT_STREQ(L"only.txt", listing.Name(0));
    EXPECT_EQ(70000u, listing[0].nSize);
    EXPECT_EQ(0x05060708u, listing[0].ftLastWrite.dwLowDateTime);
}

TEST_F(FileListingTest, ShortListingAfterLongOneHoldsOnlyItsOwnRecords) {
    const std::wstring strLong = m_folder / L"long";
    const std::wstring strShort = m_folder / L"short";
    for (int i = 0; i < 300; ++i) {
        test::MakeFile(strLong + L"\\file" + std::to_wstring(i) + L".dat", "x");
    }
    test::MakeFile(strShort + L"\\one.txt", "1");
    test::MakeFile(strShort + L"\\two.txt", "22");

    CExcludedCounts side;
    CItemList longListing;
    ASSERT_TRUE(List(strLong, longListing, side));
    EXPECT_EQ(300u, longListing.GetCount());
    CItemList shortListing;
    ASSERT_TRUE(List(strShort, shortListing, side));
    ASSERT_EQ(2u, shortListing.GetCount());
    std::wstring strNames = shortListing.Name(0) + std::wstring(L",") + shortListing.Name(1);
    EXPECT_TRUE(strNames == L"one.txt,two.txt" || strNames == L"two.txt,one.txt")
        << strNames.size();
    EXPECT_EQ(0, side.m_nExcludedFiles);
}

TEST_F(FileListingTest, FoldersAreSkippedAndHiddenFilesListed) {
    const std::wstring strFolder = m_folder / L"tree";
    test::MakeFolder(strFolder + L"\\sub1");
    test::MakeFolder(strFolder + L"\\sub2");
    CItemList onlyFolders;
    CExcludedCounts side;
    ASSERT_TRUE(List(strFolder, onlyFolders, side));
    EXPECT_EQ(0u, onlyFolders.GetCount());

    test::MakeFile(strFolder + L"\\hidden.bin", "h");
    ASSERT_TRUE(::SetFileAttributesW((strFolder + L"\\hidden.bin").c_str(),
                                     FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM));
    CItemList withFile;
    ASSERT_TRUE(List(strFolder, withFile, side));
    ASSERT_EQ(1u, withFile.GetCount());
    EXPECT_STREQ(L"hidden.bin", withFile.Name(0));
    EXPECT_EQ(1u, withFile[0].nSize);
}

TEST_F(FileListingTest, ExcludedFilesAreCountedOnceAndLeftOut) {
    const std::wstring strFolder = m_folder / L"ex";
    test::MakeFile(strFolder + L"\\keep.txt", "k");
    test::MakeFile(strFolder + L"\\drop.tmp", "d");
    test::MakeFile(strFolder + L"\\drop.log", "d");
    test::MakeFolder(strFolder + L"\\folder.tmp");
    g_fileExclusions = {L"*.tmp", L"drop.*", L"*.log"};
    CItemList listing;
    CExcludedCounts side;
    ASSERT_TRUE(List(strFolder, listing, side));
    ASSERT_EQ(1u, listing.GetCount());
    EXPECT_STREQ(L"keep.txt", listing.Name(0));
    EXPECT_EQ(2, side.m_nExcludedFiles);  // drop.tmp matches two wildcards, counted once

    g_fileExclusions = {L"*.*"};
    CItemList none;
    CExcludedCounts allExcluded;
    ASSERT_TRUE(List(strFolder, none, allExcluded));
    EXPECT_EQ(0u, none.GetCount());
    EXPECT_EQ(3, allExcluded.m_nExcludedFiles);
}

TEST_F(FileListingTest, MissingFolderFailsWithTheSearchError) {
    CItemList listing;
    CExcludedCounts side;
    EXPECT_FALSE(List(m_folder / L"does-not-exist", listing, side));
    EXPECT_EQ(static_cast<DWORD>(ERROR_PATH_NOT_FOUND), ::GetLastError());
}

}  // namespace
