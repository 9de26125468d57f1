// The search for moves as data: which folders and files pair, from the sizes
// and values kept, with no file read.
#include "comparison/move_search.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

// A file kept: its side, its folder's display path, the folder of one side
// only that holds it ("" for a folder present on both sides), its name, size
// and value (a byte repeated; the empty contents' MD5 for a size of 0). No
// name: the folder alone, as the walk lists a folder that holds only
// folders.
struct CKept {
    int nSide;
    const wchar_t* pszFolder;
    const wchar_t* pszOneSided;
    const wchar_t* pszName;
    ULONGLONG nSize;
    BYTE value;
};

// "folder \a>\b" for each folder moved, then "\a\x>\b\x" for each file
// paired ("by name" inside a folder pair), each by its source, in the order
// added.
std::string Pairs(CMoveSearch& search) {
    std::string strPairs;
    const auto narrow = [](const std::wstring& str) { return std::string(str.begin(), str.end()); };
    const auto add = [&strPairs](const std::string& str) {
        strPairs += (strPairs.empty() ? "" : "; ") + str;
    };
    for (size_t k = 0; k < search.GetFolderCount(); ++k) {
        if (search.FolderSide(k) == 0 && search.IsMovedFolder(static_cast<uint32_t>(k))) {
            add("folder " + narrow(search.FolderPath(k)) + ">" +
                narrow(search.FolderPath(search.FolderPartner(static_cast<uint32_t>(k)))));
        }
    }
    for (size_t i = 0; i < search.GetCount(); ++i) {
        if (search[i].nSide == 0 && search[i].nPartner != CMoveSearch::npos) {
            add(narrow(search.DisplayPath(i)) + ">" +
                narrow(search.DisplayPath(search[i].nPartner)) +
                (search[i].bByFolder ? " by name" : ""));
        }
    }
    return strPairs;
}

TEST(MoveSearchTest, FoldersAndFilesPairBySizeAndValue) {
    const BYTE kEmptyMd5[] = {0xd4, 0x1d, 0x8c, 0xd9, 0x8f, 0x00, 0xb2, 0x04,
                              0xe9, 0x80, 0x09, 0x98, 0xec, 0xf8, 0x42, 0x7e};
    const struct {
        const char* pszName;
        std::vector<CKept> kept;
        const char* pszPairs;
    } kCases[] = {
        {"copies: first with first, in path order",
         {{0, L"\\t", L"", L"1", 6, 1},
          {0, L"\\t", L"", L"2", 6, 1},
          {1, L"\\b", L"", L"x", 6, 1},
          {1, L"\\b", L"", L"y", 6, 1},
          {1, L"\\b", L"", L"z", 6, 1}},
         "\\t\\1>\\b\\x; \\t\\2>\\b\\y"},
        {"empty files never pair",
         {{0, L"", L"", L"lock.pid", 0, 0}, {1, L"", L"", L"done.flag", 0, 0}},
         ""},
        {"the same name first",
         {{0, L"\\a", L"", L"x", 5, 1},
          {0, L"\\b", L"", L"y", 5, 1},
          {1, L"\\c", L"", L"y", 5, 1},
          {1, L"\\e", L"", L"x", 5, 1}},
         "\\a\\x>\\e\\x; \\b\\y>\\c\\y"},
        {"a folder holding half its files elsewhere",
         {{0, L"\\a", L"\\a", L"1", 5, 1},
          {0, L"\\a", L"\\a", L"2", 5, 2},
          {1, L"\\b", L"\\b", L"1", 5, 1},
          {1, L"\\b", L"\\b", L"2", 5, 3}},
         "folder \\a>\\b; \\a\\1>\\b\\1 by name; \\a\\2>\\b\\2 by name"},
        {"less than half: file moves only",
         {{0, L"\\a", L"\\a", L"1", 5, 1},
          {0, L"\\a", L"\\a", L"2", 5, 2},
          {0, L"\\a", L"\\a", L"3", 5, 3},
          {1, L"\\b", L"\\b", L"1", 5, 1}},
         "\\a\\1>\\b\\1"},
        {"nested folders: the inner one pairs on its own",
         {{0, L"\\p", L"\\p", nullptr, 0, 0},
          {1, L"\\P2", L"\\P2", nullptr, 0, 0},
          {0, L"\\p\\q", L"\\p", L"f", 5, 1},
          {0, L"\\p\\q", L"\\p", L"g", 5, 2},
          {1, L"\\P2\\Q2", L"\\P2", L"f", 5, 1},
          {1, L"\\P2\\Q2", L"\\P2", L"g", 5, 2}},
         "folder \\p\\q>\\P2\\Q2; \\p\\q\\f>\\P2\\Q2\\f by name; \\p\\q\\g>\\P2\\Q2\\g by name"},
        {"nested folders: a namesake pairs by name",
         {{0, L"\\p", L"\\p", nullptr, 0, 0},
          {1, L"\\P", L"\\P", nullptr, 0, 0},
          {0, L"\\p\\q", L"\\p", L"f", 5, 1},
          {1, L"\\P\\q", L"\\P", L"f", 5, 1}},
         "folder \\p>\\P; \\p\\q\\f>\\P\\q\\f by name"},
        {"inside a pair, names equal but for case pair, equal names first",
         {{0, L"\\a", L"\\a", L"1", 5, 1},
          {0, L"\\a", L"\\a", L"Notes.txt", 5, 2},
          {0, L"\\a", L"\\a", L"X", 5, 3},
          {0, L"\\a", L"\\a", L"x", 5, 4},
          {1, L"\\b", L"\\b", L"1", 5, 1},
          {1, L"\\b", L"\\b", L"notes.TXT", 5, 5},
          {1, L"\\b", L"\\b", L"x", 5, 4}},
         "folder \\a>\\b; \\a\\1>\\b\\1 by name; \\a\\Notes.txt>\\b\\notes.TXT by name; "
         "\\a\\x>\\b\\x by name"},
        {"nested folders: a namesake but for case pairs by name",
         {{0, L"\\p", L"\\p", L"1", 5, 1},
          {1, L"\\P", L"\\P", L"1", 5, 1},
          {0, L"\\p\\Q", L"\\p", L"f", 5, 2},
          {1, L"\\P\\q", L"\\P", L"f", 5, 2}},
         "folder \\p>\\P; \\p\\1>\\P\\1 by name; \\p\\Q\\f>\\P\\q\\f by name"},
        {"nested folders without namesake: one pairs elsewhere, one is missing",
         {{0, L"\\p", L"\\p", L"1", 5, 1},
          {0, L"\\p", L"\\p", L"2", 5, 2},
          {0, L"\\p\\old", L"\\p", L"f", 5, 3},
          {0, L"\\p\\gone", L"\\p", L"g", 5, 4},
          {1, L"\\P", L"\\P", L"1", 5, 1},
          {1, L"\\P", L"\\P", L"2", 5, 2},
          {1, L"\\new", L"\\new", L"f", 5, 3}},
         "folder \\p>\\P; folder \\p\\old>\\new; \\p\\1>\\P\\1 by name; \\p\\2>\\P\\2 by name; "
         "\\p\\old\\f>\\new\\f by name"},
        {"a tie: the first destination path",
         {{0, L"\\a", L"\\a", L"1", 5, 1},
          {1, L"\\c", L"\\c", L"1", 5, 1},
          {1, L"\\b", L"\\b", L"1", 5, 1}},
         "folder \\a>\\b; \\a\\1>\\b\\1 by name"},
    };
    for (const auto& tc : kCases) {
        SCOPED_TRACE(tc.pszName);
        CMoveSearch search;
        for (const CKept& kept : tc.kept) {
            const std::wstring strFolder = kept.pszFolder;
            const bool bOneSided = *kept.pszOneSided != 0;
            const uint32_t nFolder = search.AddFolder(
                strFolder, kept.nSide == 0 || !bOneSided ? L"S" + strFolder : L"",
                kept.nSide == 1 || !bOneSided ? L"D" + strFolder : L"", kept.pszOneSided);
            if (kept.pszName == nullptr) {
                continue;
            }
            BYTE value[16];
            std::memset(value, kept.value, sizeof(value));
            search.Add(kept.nSide, nFolder, kept.pszName, false, !bOneSided, kept.nSize, FILETIME{},
                       false, kept.nSize == 0 ? kEmptyMd5 : value, 16);
        }
        search.PairFolders();
        search.Match();
        EXPECT_EQ(tc.pszPairs, Pairs(search));
    }
}

}  // namespace
