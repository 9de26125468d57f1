#include "sides/snapshot_format.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "runtime/error_text.h"

namespace {

CSnapshotEntry File(const std::wstring& strFolder, const std::wstring& strName) {
    CSnapshotEntry entry;
    entry.strFolder = strFolder;
    entry.strName = strName;
    entry.nSize = 1024;
    entry.ftLastWrite = {0x12345678, 0x01D9A000};
    return entry;
}

CSnapshotEntry Folder(const std::wstring& strName, DWORD dwError = ERROR_SUCCESS) {
    CSnapshotEntry entry = File(L"", strName);
    entry.bFolder = true;
    entry.nSize = 0;
    entry.dwError = dwError;
    return entry;
}

CSnapshotEntry WithHash(CSnapshotEntry entry) {
    entry.cbHash = 16;
    for (BYTE i = 0; i < 16; ++i) {
        entry.hash[i] = static_cast<BYTE>(i * 17);
    }
    return entry;
}

CSnapshotEntry With(CSnapshotEntry entry, DWORD dwError, int nSecurity, unsigned nTwin = 0) {
    entry.dwError = dwError;
    entry.bSecurity = true;
    entry.nSecurity = nSecurity;
    entry.nTwin = nTwin;
    return entry;
}

// Each item written and read back, its fields compared one by one, with the
// header that the line was written under.
TEST(SnapshotFormatTest, EveryEntryReadsBackAsItWasWritten) {
    CSnapshotHeader plain;
    CSnapshotHeader hashed;
    hashed.strHash = "md5";
    CSnapshotHeader secured;
    secured.bSecurity = true;
    CSnapshotEntry link = Folder(L"alias");
    link.bLink = true;
    CSnapshotEntry largest = File(L"", L"big");
    largest.nSize = 0x7FFFFFFFFFFFFFFFULL;
    const std::wstring strLong(255, L'n');
    std::wstring strDeep;
    for (int i = 0; i < 40; ++i) {
        strDeep += L"\\folder" + std::to_wstring(i);  // beyond 260 characters
    }
    const struct {
        const char* pszName;
        const CSnapshotHeader& header;
        CSnapshotEntry entry;
    } kCases[] = {
        {"a file", plain, File(L"", L"a.txt")},
        {"a file in a folder", plain, File(L"\\docs\\more", L"b.txt")},
        {"a folder", plain, Folder(L"docs")},
        {"a link to a folder", plain, link},
        {"a folder that could not be listed", plain, Folder(L"private", ERROR_ACCESS_DENIED)},
        {"a special file", hashed, With(File(L"", L"pipe"), 1630, 0)},
        {"a file that changed while read", hashed,
         With(File(L"", L"busy"), FILE_CHANGED_WHILE_READ, 0)},
        {"an unaddressable name", plain, With(File(L"", L"bad"), ERROR_INVALID_NAME, 0)},
        {"a hash value", hashed, WithHash(File(L"", L"h.bin"))},
        {"an owner and a DACL", secured, With(File(L"", L"s"), ERROR_SUCCESS, 0)},
        {"no owner or DACL", secured, With(File(L"", L"s"), ERROR_SUCCESS, 1)},
        {"security unread", secured, With(File(L"", L"s"), ERROR_SUCCESS, E_ACCESSDENIED)},
        {"the largest size", plain, largest},
        {"a backslash in a name", plain, File(L"", L"back\\slash.txt")},
        {"a backslash in a folder's name", plain, File(L"\\b%005Cd", L"x.txt")},
        {"a percent sign", plain, File(L"\\100%0025", L"50%.txt")},
        {"control characters", plain, File(L"", L"tab\tline\nbell\x07")},
        {"half a surrogate pair", plain, File(L"", L"lone\xD800.txt")},
        {"a whole surrogate pair", plain, File(L"", L"pair\xD83D\xDE00.txt")},
        {"quotes in a folder's name", plain, File(L"\\\"q\"", L"x")},
        {"a name listed twice", plain, With(File(L"", L"bad\xFFFD.txt"), ERROR_SUCCESS, 0, 1)},
        {"a name of 255 characters", plain, File(L"", strLong)},
        {"a path beyond 260 characters", plain, File(strDeep, strLong)},
    };
    CSnapshotLine line;
    for (const auto& tc : kCases) {
        SCOPED_TRACE(tc.pszName);
        std::string strLine;
        AppendSnapshotEntry(strLine, tc.entry, tc.header.bSecurity);
        ASSERT_EQ('\n', strLine.back());
        strLine.pop_back();
        EXPECT_LE(strLine.size(), kMaxEntryLine);
        ASSERT_EQ(nullptr, line.Parse(strLine.data(), strLine.size()));
        EXPECT_FALSE(IsSnapshotEnd(line));
        CSnapshotEntry read;
        const wchar_t* const pszWrong = ReadSnapshotEntry(line, tc.header, read);
        ASSERT_EQ(nullptr, pszWrong) << std::string(pszWrong, pszWrong + wcslen(pszWrong));
        const CSnapshotEntry& e = tc.entry;
        EXPECT_EQ(e.strFolder, read.strFolder);
        EXPECT_EQ(e.strName, read.strName);
        EXPECT_EQ(e.nTwin, read.nTwin);
        EXPECT_EQ(e.bFolder, read.bFolder);
        EXPECT_EQ(e.bLink, read.bLink);
        EXPECT_EQ(e.nSize, read.nSize);
        EXPECT_EQ(e.ftLastWrite.dwLowDateTime, read.ftLastWrite.dwLowDateTime);
        EXPECT_EQ(e.ftLastWrite.dwHighDateTime, read.ftLastWrite.dwHighDateTime);
        EXPECT_EQ(e.dwError, read.dwError);
        EXPECT_EQ(e.cbHash, read.cbHash);
        EXPECT_EQ(0, memcmp(e.hash, read.hash, e.cbHash));
        EXPECT_EQ(tc.header.bSecurity ? e.nSecurity : 0, read.nSecurity);
    }
}

// The header, the counts of what was excluded and the closing line read
// back too; a version 1 header is still read, its texts as they stand.
TEST(SnapshotFormatTest, HeaderExclusionsAndClosingLineReadBack) {
    CSnapshotHeader header;
    header.strRoot = L"C:\\data 100%";
    header.ftCreated = {0x89ABCDEF, 0x01DA0000};
    header.bSubdir = true;
    header.strHash = "sha256";
    header.strFileExclusions = L"C:\\lists\\files.txt";
    header.fileWildcards = {L"*.tmp", L"cache\\*.bak", L"50%"};
    header.folderWildcards = {L"cache"};
    std::string strText;
    ASSERT_TRUE(AppendSnapshotHeader(strText, header));
    CSnapshotExcluded excluded;
    excluded.strFolder = L"\\b%005Cd";
    excluded.bFolders = true;
    excluded.nCount = 3;
    AppendSnapshotExcluded(strText, excluded);
    CSnapshotEnd end;
    end.nFiles = 5;
    end.nFolders = 2;
    end.nBytes = 0xFFFFFFFFFFFFFFFFULL;
    end.nChecksum = 0x0123456789ABCDEFULL;
    AppendSnapshotEnd(strText, end);

    const size_t nFirst = strText.find('\n');
    const size_t nSecond = strText.find('\n', nFirst + 1);
    CSnapshotLine line;
    ASSERT_EQ(nullptr, line.Parse(strText.data(), nFirst));
    CSnapshotHeader read;
    ASSERT_EQ(nullptr, ReadSnapshotHeader(line, read));
    EXPECT_EQ(3u, read.nVersion);
    EXPECT_EQ(header.strRoot, read.strRoot);
    EXPECT_EQ(header.ftCreated.dwLowDateTime, read.ftCreated.dwLowDateTime);
    EXPECT_TRUE(read.bSubdir);
    EXPECT_FALSE(read.bSecurity);
    EXPECT_EQ("sha256", read.strHash);
    EXPECT_EQ(header.strFileExclusions, read.strFileExclusions);
    EXPECT_EQ(L"", read.strFolderExclusions);
    EXPECT_EQ(header.fileWildcards, read.fileWildcards);
    EXPECT_EQ(header.folderWildcards, read.folderWildcards);

    ASSERT_EQ(nullptr, line.Parse(strText.data() + nFirst + 1, nSecond - nFirst - 1));
    ASSERT_TRUE(IsSnapshotExcluded(line));
    CSnapshotExcluded readExcluded;
    ASSERT_EQ(nullptr, ReadSnapshotExcluded(line, read, readExcluded));
    EXPECT_EQ(excluded.strFolder, readExcluded.strFolder);
    EXPECT_TRUE(readExcluded.bFolders);
    EXPECT_EQ(3u, readExcluded.nCount);

    ASSERT_EQ(nullptr, line.Parse(strText.data() + nSecond + 1, strText.size() - nSecond - 2));
    ASSERT_TRUE(IsSnapshotEnd(line));
    CSnapshotEnd readEnd;
    ASSERT_EQ(nullptr, ReadSnapshotEnd(line, read, readEnd));
    EXPECT_EQ(5u, readEnd.nFiles);
    EXPECT_EQ(2u, readEnd.nFolders);
    EXPECT_EQ(end.nBytes, readEnd.nBytes);
    EXPECT_TRUE(readEnd.bChecksum);
    EXPECT_EQ(end.nChecksum, readEnd.nChecksum);

    const std::string strVersion1 =
        "{\"format\": \"quorva-snapshot\", \"version\": 1, \"root\": \"C:\\\\100%\", "
        "\"created\": \"2026-12-07T14:05:09.1234567Z\", \"options\": {\"subdir\": false, "
        "\"hash\": null, \"security\": false, \"fileExclusions\": null, "
        "\"folderExclusions\": null}}";
    ASSERT_EQ(nullptr, line.Parse(strVersion1.data(), strVersion1.size()));
    ASSERT_EQ(nullptr, ReadSnapshotHeader(line, read));
    EXPECT_EQ(1u, read.nVersion);
    EXPECT_EQ(L"C:\\100%", read.strRoot);
    EXPECT_TRUE(read.fileWildcards.empty());
}

}  // namespace
