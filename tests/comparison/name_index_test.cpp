#include "comparison/name_index.h"

#include <gtest/gtest.h>

#include <string>
#include <unordered_map>
#include <vector>

#include "comparison/file_listing.h"

namespace {

struct CName {
    wchar_t szName[24];
};

std::wstring Folded(const wchar_t* pszName) {
    std::wstring str;
    for (; *pszName != 0; ++pszName) {
        str += (*pszName >= L'A' && *pszName <= L'Z') ? static_cast<wchar_t>(*pszName + 32) : *pszName;
    }
    return str;
}

TEST(NameIndexTest, PairsTwoHundredThousandNamesLikeALinearSearch) {
    // Names with case variants of A to Z (equal), of accented letters (not
    // equal) and plain duplicates, in a scrambled order.
    const size_t kCount = 200000;
    std::vector<CName> names(kCount);
    uint32_t nRandom = 12345;
    for (size_t i = 0; i < kCount; ++i) {
        nRandom = nRandom * 1103515245u + 12345u;
        const unsigned nKey = (nRandom >> 8) % 150000;
        std::wstring str = L"File" + std::to_wstring(nKey) + L".Dat";
        if (nRandom & 0x10) {
            str[0] = L'f';
        }
        if (nRandom & 0x20) {
            str.back() = L'T';
        }
        if ((nRandom & 0x1C0) == 0x40) {
            str += L'\u00C9';  // capital E acute: never folded
        } else if ((nRandom & 0x1C0) == 0x80) {
            str += L'\u00E9';
        }
        ::wcscpy(names[i].szName, str.c_str());
    }
    CNameIndex index;
    index.Build(names[0].szName, sizeof(CName), kCount);

    // What a linear search from the start finds: the first of equal names.
    std::unordered_map<std::wstring, size_t> first;
    for (size_t i = 0; i < kCount; ++i) {
        first.emplace(Folded(names[i].szName), i);
    }
    for (size_t i = 0; i < kCount; ++i) {
        ASSERT_EQ(first.at(Folded(names[i].szName)), index.Find(names[i].szName)) << i;
    }
    // Names that are not there, also ones equal but for an accented letter.
    for (const wchar_t* pszMissing : {L"File150000.Dat", L"", L"file1.da", L"FILE1.DATX"}) {
        EXPECT_EQ(CNameIndex::npos, index.Find(pszMissing));
    }
    std::wstring strUpper = names[kCount / 2].szName;
    for (wchar_t& ch : strUpper) {
        ch = (ch >= L'a' && ch <= L'z') ? static_cast<wchar_t>(ch - 32) : ch;
    }
    EXPECT_EQ(first.at(Folded(names[kCount / 2].szName)), index.Find(strUpper.c_str()));
}

TEST(NameIndexTest, EmptyIndexFindsNothing) {
    CNameIndex never;
    EXPECT_EQ(CNameIndex::npos, never.Find(L"a"));
    CNameIndex empty;
    empty.Build(nullptr, sizeof(CName), 0);
    EXPECT_EQ(CNameIndex::npos, empty.Find(L"a"));
    EXPECT_EQ(CNameIndex::npos, empty.Find(L""));
}

TEST(NameIndexTest, AgreesWithFindEntryOnAListing) {
    CFileEntryArray listing;
    ASSERT_TRUE(listing.SetCount(4));
    const wchar_t* const kNames[] = {L"b.txt", L"README", L"ReadMe", L"\u00C9t\u00E9"};
    for (int i = 0; i < 4; ++i) {
        ::wcscpy(listing[i].szName, kNames[i]);
        listing[i].nSize = i;
    }
    CNameIndex index;
    index.Build(listing[0].szName, sizeof(CFileEntry), listing.GetCount());
    for (const wchar_t* pszName : {L"readme", L"B.TXT", L"\u00E9t\u00E9", L"\u00C9T\u00C9", L"x"}) {
        SCOPED_TRACE(testing::Message() << "name of " << wcslen(pszName) << " characters");
        CFileEntry entry;
        const bool bFound = FindEntry(listing, pszName, entry);
        const size_t nIndex = index.Find(pszName);
        ASSERT_EQ(bFound, nIndex != CNameIndex::npos);
        if (bFound) {
            EXPECT_EQ(entry.nSize, listing[nIndex].nSize);
        }
    }
}

}  // namespace
