#include "sides/name_index.h"

#include <gtest/gtest.h>

#include <string>
#include <unordered_map>
#include <vector>

namespace {

// A list of the names, in this order.
CItemList ListOf(const std::vector<std::wstring>& names) {
    CItemList list;
    for (const std::wstring& strName : names) {
        list.Add(strName.c_str(), strName.size(), FILETIME(), 0);
    }
    return list;
}

std::wstring Folded(const wchar_t* pszName) {
    std::wstring str;
    for (; *pszName != 0; ++pszName) {
        str +=
            (*pszName >= L'A' && *pszName <= L'Z') ? static_cast<wchar_t>(*pszName + 32) : *pszName;
    }
    return str;
}

TEST(NameIndexTest, PairsTwoHundredThousandNamesLikeALinearSearch) {
    // Names with case variants of A to Z (equal), of accented letters (not
    // equal) and plain duplicates, in a scrambled order.
    const size_t kCount = 200000;
    std::vector<std::wstring> names(kCount);
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
        names[i] = str;
    }
    const CItemList list = ListOf(names);
    CNameIndex index;
    index.Build(list);

    // What a linear search from the start finds: the first of equal names.
    std::unordered_map<std::wstring, size_t> first;
    for (size_t i = 0; i < kCount; ++i) {
        first.emplace(Folded(names[i].c_str()), i);
    }
    for (size_t i = 0; i < kCount; ++i) {
        ASSERT_EQ(first.at(Folded(names[i].c_str())), index.Find(names[i].c_str())) << i;
    }
    // Names that are not there, also ones equal but for an accented letter.
    for (const wchar_t* pszMissing : {L"File150000.Dat", L"", L"file1.da", L"FILE1.DATX"}) {
        EXPECT_EQ(CNameIndex::npos, index.Find(pszMissing));
    }
    std::wstring strUpper = names[kCount / 2].c_str();
    for (wchar_t& ch : strUpper) {
        ch = (ch >= L'a' && ch <= L'z') ? static_cast<wchar_t>(ch - 32) : ch;
    }
    EXPECT_EQ(first.at(Folded(names[kCount / 2].c_str())), index.Find(strUpper.c_str()));
}

TEST(NameIndexTest, EmptyIndexFindsNothing) {
    CNameIndex never;
    EXPECT_EQ(CNameIndex::npos, never.Find(L"a"));
    const CItemList none;
    CNameIndex empty;
    empty.Build(none);
    EXPECT_EQ(CNameIndex::npos, empty.Find(L"a"));
    EXPECT_EQ(CNameIndex::npos, empty.Find(L""));
}

// Pairs names given as texts and checks that the two pair lists are each
// other's inverse; returns the source's.
std::vector<size_t> Pair(const std::vector<std::wstring>& source,
                         const std::vector<std::wstring>& destination) {
    std::vector<size_t> pairs[2];
    PairNames(ListOf(source), ListOf(destination), pairs[0], pairs[1]);
    for (int nSide = 0; nSide < 2; ++nSide) {
        for (size_t i = 0; i < pairs[nSide].size(); ++i) {
            EXPECT_TRUE(pairs[nSide][i] == CNameIndex::npos ||
                        pairs[1 - nSide].at(pairs[nSide][i]) == i);
        }
    }
    return pairs[0];
}

TEST(PairNamesTest, ExactNamesFirstThenCaseTwinsInListingOrder) {
    constexpr size_t npos = CNameIndex::npos;
    struct {
        const char* pszName;
        std::vector<std::wstring> source;
        std::vector<std::wstring> destination;
        std::vector<size_t> pairs;
    } const kCases[] = {
        {"no twins: case of A to Z ignored", {L"a", L"B", L"c"}, {L"b", L"A", L"d"}, {1, 0, npos}},
        {"twins on both sides pair exactly", {L"a.txt", L"A.TXT"}, {L"A.TXT", L"a.txt"}, {1, 0}},
        {"two source twins, one destination name", {L"a.txt", L"A.TXT"}, {L"A.txt"}, {0, npos}},
        {"an exact partner wins over an earlier twin", {L"a.txt", L"A.TXT"}, {L"A.TXT"}, {npos, 0}},
        {"two destination twins, one source name", {L"X"}, {L"x", L"X"}, {1}},
        {"three and two", {L"Dup", L"DUP", L"dup", L"dUP"}, {L"dUp", L"DUP"}, {0, 1, npos, npos}},
        {"accented letters never fold", {L"\u00C9"}, {L"\u00E9"}, {npos}},
        {"an empty side", {L"a"}, {}, {npos}},
    };
    for (const auto& tc : kCases) {
        SCOPED_TRACE(tc.pszName);
        EXPECT_EQ(tc.pairs, Pair(tc.source, tc.destination));
    }
}

TEST(NameIndexTest, NamesFoldOnlyAToZ) {
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
        {L"[", L"{", false},                                  // 0x5B is not a letter: never folded
        {L"@", L"`", false},
    };
    for (const auto& tc : kCases) {
        SCOPED_TRACE(testing::Message() << "case " << (&tc - kCases));
        EXPECT_EQ(tc.bSame, IsSameName(tc.pszA, tc.pszB));
        EXPECT_EQ(tc.bSame, IsSameName(tc.pszB, tc.pszA));
    }
}

}  // namespace
