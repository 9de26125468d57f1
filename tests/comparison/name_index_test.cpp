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
        str +=
            (*pszName >= L'A' && *pszName <= L'Z') ? static_cast<wchar_t>(*pszName + 32) : *pszName;
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
    index.Build({names[0].szName, sizeof(CName), kCount});

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
    empty.Build({nullptr, sizeof(CName), 0});
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
    index.Build({listing[0].szName, sizeof(CFileEntry), listing.GetCount()});
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

constexpr size_t npos = CNameIndex::npos;

CNameList ListOf(const std::vector<CName>& names) {
    return {names.empty() ? nullptr : names[0].szName, sizeof(CName), names.size()};
}

std::vector<CName> Names(const std::vector<std::wstring>& texts) {
    std::vector<CName> names(texts.size());
    for (size_t i = 0; i < texts.size(); ++i) {
        ::wcscpy(names[i].szName, texts[i].c_str());
    }
    return names;
}

// The pairing as its rule states it, in quadratic time: exact names, then
// each unpaired source name in order takes the first unpaired destination
// name equal but for the case of A to Z.
std::vector<size_t> PairSlowly(const std::vector<CName>& source,
                               const std::vector<CName>& destination) {
    std::vector<size_t> pairs(source.size(), npos);
    std::vector<bool> taken(destination.size(), false);
    for (int nStep = 0; nStep < 2; ++nStep) {
        for (size_t i = 0; i < source.size(); ++i) {
            for (size_t j = 0; j < destination.size() && pairs[i] == npos; ++j) {
                const bool bEqual = nStep == 0
                                        ? ::wcscmp(source[i].szName, destination[j].szName) == 0
                                        : Folded(source[i].szName) == Folded(destination[j].szName);
                if (!taken[j] && bEqual) {
                    pairs[i] = j;
                    taken[j] = true;
                }
            }
        }
    }
    return pairs;
}

// Checks that the two pair lists are each other's inverse and returns the
// source's.
std::vector<size_t> Pair(const std::vector<CName>& source, const std::vector<CName>& destination) {
    std::vector<size_t> sourcePairs;
    std::vector<size_t> destinationPairs;
    PairNames(ListOf(source), ListOf(destination), sourcePairs, destinationPairs);
    EXPECT_EQ(destination.size(), destinationPairs.size());
    for (size_t j = 0; j < destinationPairs.size(); ++j) {
        if (destinationPairs[j] != npos) {
            EXPECT_EQ(j, sourcePairs.at(destinationPairs[j]));
        }
    }
    for (size_t i = 0; i < sourcePairs.size(); ++i) {
        if (sourcePairs[i] != npos) {
            EXPECT_EQ(i, destinationPairs.at(sourcePairs[i]));
        }
    }
    return sourcePairs;
}

TEST(PairNamesTest, ExactNamesFirstThenCaseTwinsInListingOrder) {
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
        {"three and two", {L"Dup", L"DUP", L"dup"}, {L"dUp", L"DUP"}, {0, 1, npos}},
        {"accented letters never fold", {L"\u00C9"}, {L"\u00E9"}, {npos}},
        {"an empty side", {L"a"}, {}, {npos}},
    };
    for (const auto& tc : kCases) {
        SCOPED_TRACE(tc.pszName);
        EXPECT_EQ(tc.pairs, Pair(Names(tc.source), Names(tc.destination)));
    }
}

TEST(PairNamesTest, AgreesWithTheRuleOnManyTwins) {
    // Names of few letters in random case: many twins on each side.
    uint32_t nRandom = 777;
    auto random = [&nRandom](uint32_t n) {
        nRandom = nRandom * 1103515245u + 12345u;
        return (nRandom >> 8) % n;
    };
    for (int nRound = 0; nRound < 20; ++nRound) {
        SCOPED_TRACE(nRound);
        std::vector<CName> sides[2];
        for (auto& side : sides) {
            std::unordered_map<std::wstring, bool> seen;  // a folder holds each name once
            for (uint32_t n = random(300); n > 0; --n) {
                std::wstring str = L"ab";
                for (wchar_t& ch : str) {
                    ch = static_cast<wchar_t>((random(3) == 0 ? L'A' : L'a') + random(2));
                }
                if (seen.emplace(str, true).second) {
                    side.emplace_back();
                    ::wcscpy(side.back().szName, str.c_str());
                }
            }
        }
        EXPECT_EQ(PairSlowly(sides[0], sides[1]), Pair(sides[0], sides[1]));
    }
}

}  // namespace
