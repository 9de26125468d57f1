#include "sides/snapshot_reader.h"

#include <algorithm>
#include <climits>
#include <cstdarg>
#include <cstring>
#include <tuple>
#include <utility>

#include "exclusions/exclusions.h"
#include "runtime/fnv1a.h"
#include "runtime/wide_string.h"
#include "sides/line_reader.h"

namespace {

constexpr size_t kReadSize = 64 * 1024;

// The fixed part of an entry's record in the temporary file; the hash value
// (cbHash bytes) and the name (cchName UTF-16 units) follow it.
struct CRecordHead {
    uint64_t nSize;
    uint64_t nLastWrite;
    uint32_t dwError;
    int32_t nSecurity;
    uint16_t cchName;
    uint8_t nFlags;  // RECORD_FOLDER, RECORD_LINK
    uint8_t cbHash;
};

enum : uint8_t {
    RECORD_FOLDER = 0x01,
    RECORD_LINK = 0x02,
};

// Folders and names are kept as 64-bit keys of their UTF-16 units.
uint64_t HashText(const wchar_t* p, size_t cch) {
    return Fnv1a64(p, cch);
}

uint64_t HashText(const std::wstring& str) {
    return HashText(str.data(), str.size());
}

bool ByPathHash(const CSnapshotReader::CFolderMark& mark, uint64_t nValue) {
    return mark.nPathHash < nValue;
}

}  // namespace

// What the check of the entries keeps while it reads them.
struct CSnapshotReader::CChecking {
    // The folders from the root to the one whose entries are read: for
    // each, the length of its path as written and as displayed (each a
    // start of strPath and strDisplay, the paths of the deepest), its
    // subfolders' names (as keys of their written form) in their order,
    // whether each could be read, and the next that may have entries of its
    // own. A deep tree costs one path, not one per level.
    struct CLevel {
        size_t cchPath = 0;
        size_t cchDisplay = 0;
        std::vector<uint64_t> subfolders;
        std::vector<bool> unread;
        size_t nNext = 0;
    };
    std::vector<CLevel> levels = std::vector<CLevel>(1);
    std::wstring strPath;
    std::wstring strDisplay;
    // The names of the folder being read, with their twin counts, errors
    // and lines, to find one that comes twice or a twin out of place; the
    // names themselves lie in strNames.
    struct CName {
        uint64_t nKey;
        unsigned nTwin;
        DWORD dwError;
        unsigned long long nLine;
        size_t nName;
        size_t cchName;
    };
    std::vector<CName> names;
    std::wstring strNames;
    // The folders of the folder being read that could not be read: their
    // marks and names; their paths are written after the folder's records.
    std::vector<std::pair<size_t, std::wstring>> unread;
    CSnapshotEnd counted;
    bool bRootMarked = false;
    bool bEnd = false;
    // The mark of the folder whose entries are read, and their number.
    size_t nBlockMark = 0;
    uint64_t nBlockEntries = 0;
    std::wstring strScratch;
};

CSnapshotReader::CSnapshotReader() = default;
CSnapshotReader::~CSnapshotReader() = default;

DWORD CSnapshotReader::Open(const wchar_t* pszPath) {
    m_hFile.Reset(::CreateFileW(pszPath, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!m_hFile) {
        return ::GetLastError();
    }
    if (!m_records.Create()) {
        return ::GetLastError();
    }
    m_pRecordWriter = std::make_unique<CSpillWriter>(m_records.GetHandle());
    return ERROR_SUCCESS;
}

DWORD CSnapshotReader::Read() {
    const bool bChecked = Check();
    m_pRecordWriter.reset();
    if (bChecked) {
        m_hFile.Reset();  // everything is in the records now
        m_pRecordReader =
            std::make_unique<CSpillReader>(m_records.GetHandle(), UINT64_MAX, kReadSize);
        return ERROR_SUCCESS;
    }
    return m_dwReadError != ERROR_SUCCESS ? m_dwReadError : ERROR_INVALID_DATA;
}

bool CSnapshotReader::Damaged(unsigned long long nLine, const wchar_t* pszFormat, ...) {
    va_list args;
    va_start(args, pszFormat);
    m_strDamage = FormatStringV(pszFormat, args);
    va_end(args);
    m_nDamagedLine = nLine;
    return false;
}

bool CSnapshotReader::CheckHeader(CLineReader& reader) {
    const char* pLine = nullptr;
    size_t cbLine = 0;
    switch (reader.Next(kMaxHeaderLine, pLine, cbLine)) {
        case CLineReader::Result::End:
            return Damaged(1, L"the file is empty.");
        case CLineReader::Result::Failed:
            m_dwReadError = reader.GetError();
            return false;
        default:
            break;
    }
    // A byte-order mark (as an editor of Windows may add when it saves the
    // file again) is no part of the header.
    static const char kByteOrderMark[] = "\xEF\xBB\xBF";
    if (cbLine >= 3 && std::memcmp(pLine, kByteOrderMark, 3) == 0) {
        pLine += 3;
        cbLine -= 3;
    }
    // Whatever else is given as a side is refused by its first byte, or
    // after the longest header, never read through.
    if (cbLine == 0 || *pLine != '{') {
        return Damaged(1, L"the file is not a quorva snapshot.");
    }
    if (cbLine > kMaxHeaderLine) {
        return Damaged(1, L"the line is longer than a snapshot's header can be.");
    }
    CSnapshotLine line;
    const wchar_t* pszWrong = line.Parse(pLine, cbLine);
    if (pszWrong == nullptr) {
        pszWrong = ReadSnapshotHeader(line, m_header);
    }
    return pszWrong == nullptr || Damaged(1, L"%s", pszWrong);
}

bool CSnapshotReader::Check() {
    CLineReader reader(m_hFile.Get(), kMaxHeaderLine);
    if (!CheckHeader(reader)) {
        return false;
    }
    CChecking checking;
    CSnapshotLine line;
    CSnapshotEntry entry;
    unsigned long long nLine = 1;
    const char* pLine = nullptr;
    size_t cbLine = 0;
    for (;;) {
        const CLineReader::Result result = reader.Next(kMaxEntryLine, pLine, cbLine);
        if (result == CLineReader::Result::End) {
            break;
        }
        if (result == CLineReader::Result::Failed) {
            m_dwReadError = reader.GetError();
            return false;
        }
        ++nLine;
        if (result == CLineReader::Result::TooLong) {
            return Damaged(nLine, L"the line is longer than a snapshot's line can be.");
        }
        if (checking.bEnd) {
            return Damaged(nLine, L"a line follows the closing line.");
        }
        if (const wchar_t* const pszWrong = line.Parse(pLine, cbLine)) {
            return Damaged(nLine, L"%s", pszWrong);
        }
        if (IsSnapshotEnd(line)) {
            if (!CheckEnd(checking, nLine, line, reader.GetChecksumBefore())) {
                return false;
            }
            continue;
        }
        if (IsSnapshotExcluded(line)) {
            if (!CheckExcluded(checking, nLine, line)) {
                return false;
            }
            continue;
        }
        if (const wchar_t* const pszWrong = ReadSnapshotEntry(line, m_header, entry)) {
            return Damaged(nLine, L"%s", pszWrong);
        }
        if (!CheckEntry(checking, nLine, entry)) {
            return false;
        }
    }
    if (!checking.bEnd) {
        return Damaged(nLine + 1, L"the closing line is missing.");
    }
    if (!Record(nullptr, 0, true)) {
        return false;
    }
    std::sort(m_marks.begin(), m_marks.end(),
              [](const CFolderMark& a, const CFolderMark& b) { return a.nPathHash < b.nPathHash; });
    return true;
}

bool CSnapshotReader::CheckEnd(CChecking& checking, unsigned long long nLine,
                               const CSnapshotLine& line, uint64_t nChecksum) {
    CSnapshotEnd end;
    if (const wchar_t* const pszWrong = ReadSnapshotEnd(line, m_header, end)) {
        return Damaged(nLine, L"%s", pszWrong);
    }
    // Any change to the bytes before the closing line, one that reads as
    // other facts (a digit of a hash value, a time) or a line end, shows here.
    if (end.bChecksum && end.nChecksum != nChecksum) {
        return Damaged(nLine, L"the snapshot was changed after it was written.");
    }
    const CSnapshotEnd& counted = checking.counted;
    if (end.nFiles != counted.nFiles || end.nFolders != counted.nFolders ||
        end.nBytes != counted.nBytes) {
        return Damaged(nLine,
                       L"the closing line counts %I64u files, %I64u folders and %I64u "
                       L"bytes; the snapshot holds %I64u, %I64u and %I64u.",
                       end.nFiles, end.nFolders, end.nBytes, counted.nFiles, counted.nFolders,
                       counted.nBytes);
    }
    checking.bEnd = true;
    return CloseFolder(checking);
}

bool CSnapshotReader::CheckExcluded(CChecking& checking, unsigned long long nLine,
                                    const CSnapshotLine& line) {
    CSnapshotExcluded excluded;
    if (const wchar_t* const pszWrong = ReadSnapshotExcluded(line, m_header, excluded)) {
        return Damaged(nLine, L"%s", pszWrong);
    }
    // It comes before the folder's entries, once for each kind.
    if ((excluded.strFolder != checking.strPath || !checking.bRootMarked) &&
        !EnterFolder(checking, nLine, excluded.strFolder)) {
        return false;
    }
    CFolderMark& mark = m_marks[checking.nBlockMark];
    uint32_t& nCount = excluded.bFolders ? mark.nExcludedFolders : mark.nExcludedFiles;
    if (nCount != 0 || checking.nBlockEntries != 0) {
        return Damaged(nLine, L"the entry comes out of order.");
    }
    nCount = static_cast<uint32_t>(excluded.nCount);
    return true;
}

bool CSnapshotReader::CheckNames(CChecking& checking) {
    auto& names = checking.names;
    const std::wstring& strNames = checking.strNames;
    const auto compareNames = [&](const CChecking::CName& a, const CChecking::CName& b) {
        return strNames.compare(a.nName, a.cchName, strNames, b.nName, b.cchName);
    };
    // By name (its key first), then by twin count: a name listed n times
    // has the twin counts 0 to n-1, in the order of its lines, and carries
    // the error of a name that cannot be addressed each time.
    std::sort(names.begin(), names.end(),
              [&](const CChecking::CName& a, const CChecking::CName& b) {
                  if (a.nKey != b.nKey) {
                      return a.nKey < b.nKey;
                  }
                  const int nOrder = compareNames(a, b);
                  return nOrder != 0 ? nOrder < 0 : a.nTwin < b.nTwin;
              });
    const auto sameName = [&](size_t i, size_t j) {
        return names[i].nKey == names[j].nKey && compareNames(names[i], names[j]) == 0;
    };
    for (size_t nFirst = 0, nEnd = 0; nFirst < names.size(); nFirst = nEnd) {
        for (nEnd = nFirst + 1; nEnd < names.size() && sameName(nFirst, nEnd); ++nEnd) {
        }
        for (size_t i = nFirst + 1; i < nEnd; ++i) {
            if (names[i].nTwin == names[i - 1].nTwin) {
                return Damaged(std::max(names[i].nLine, names[i - 1].nLine),
                               L"the entry comes twice.");
            }
        }
        for (size_t i = nFirst; i < nEnd; ++i) {
            if (names[i].nTwin != i - nFirst ||
                (i != nFirst && names[i].nLine < names[i - 1].nLine)) {
                return Damaged(names[i].nLine,
                               L"the \"twin\" does not count the earlier entries of its name.");
            }
            if (nEnd - nFirst > 1 && names[i].dwError != ERROR_INVALID_NAME) {
                return Damaged(names[i].nLine,
                               L"the name is listed twice without the error of a name that "
                               L"cannot be addressed.");
            }
        }
    }
    names.clear();
    checking.strNames.clear();
    return true;
}

bool CSnapshotReader::CloseFolder(CChecking& checking) {
    if (!CheckNames(checking)) {
        return false;
    }
    if (checking.nBlockMark < m_marks.size()) {
        m_marks[checking.nBlockMark].nEntries = checking.nBlockEntries;
    }
    // The paths of its folders that could not be read follow its records,
    // so that each is known by its path and not by its key alone.
    std::wstring& strPath = checking.strScratch;
    for (const auto& unread : checking.unread) {
        strPath.assign(checking.strDisplay);
        strPath += L'\\';
        strPath += unread.second;
        m_marks[unread.first].nOffset = m_nRecordsSize;
        if (!RecordPath(strPath)) {
            return false;
        }
    }
    checking.unread.clear();
    return true;
}

bool CSnapshotReader::EnterFolder(CChecking& checking, unsigned long long nLine,
                                  const std::wstring& strFolder) {
    if (!CloseFolder(checking)) {
        return false;
    }
    auto& levels = checking.levels;
    if (strFolder.empty()) {
        if (checking.bRootMarked || levels.size() != 1) {
            return Damaged(nLine, L"the entry comes out of order.");
        }
    } else {
        // A folder's entries come after those of its parent and of the
        // subfolders listed before it in the parent. The parent is the
        // level whose path is strFolder up to its last backslash: each
        // level's path is a start of the deepest's.
        const size_t nSlash = strFolder.rfind(L'\\');
        while (levels.size() > 1 && levels.back().cchPath > nSlash) {
            levels.pop_back();
        }
        if (levels.back().cchPath != nSlash ||
            checking.strPath.compare(0, nSlash, strFolder, 0, nSlash) != 0) {
            return Damaged(nLine, L"the entry comes out of order.");
        }
        CChecking::CLevel& parent = levels.back();
        checking.strPath.resize(parent.cchPath);
        checking.strDisplay.resize(parent.cchDisplay);
        const uint64_t nKey =
            HashText(strFolder.data() + nSlash + 1, strFolder.size() - nSlash - 1);
        const auto it =
            std::find(parent.subfolders.begin() + parent.nNext, parent.subfolders.end(), nKey);
        if (it == parent.subfolders.end()) {
            return Damaged(nLine, L"the entry comes out of order.");
        }
        parent.nNext = it - parent.subfolders.begin() + 1;
        if (parent.unread[parent.nNext - 1]) {
            return Damaged(nLine, L"the entry lies in a link or a folder that could not be read.");
        }
        checking.strPath.append(strFolder, nSlash, std::wstring::npos);
        std::wstring& strName = checking.strScratch;
        strName.assign(strFolder, nSlash, std::wstring::npos);
        if (m_header.nVersion >= 2) {
            Unescape(strName);
        }
        checking.strDisplay += strName;
        levels.emplace_back();
        levels.back().cchPath = checking.strPath.size();
        levels.back().cchDisplay = checking.strDisplay.size();
    }
    checking.bRootMarked = true;
    checking.nBlockMark = m_marks.size();
    checking.nBlockEntries = 0;
    m_marks.push_back({HashText(checking.strDisplay), m_nRecordsSize, 0, ERROR_SUCCESS, 0, 0});
    return RecordPath(checking.strDisplay);
}

bool CSnapshotReader::RecordPath(const std::wstring& strPath) {
    const uint32_t cchPath = static_cast<uint32_t>(strPath.size());
    return Record(&cchPath, sizeof(cchPath)) && Record(strPath.data(), cchPath * sizeof(wchar_t));
}

bool CSnapshotReader::CheckEntry(CChecking& checking, unsigned long long nLine,
                                 const CSnapshotEntry& entry) {
    if (entry.strFolder != checking.strPath || (entry.strFolder.empty() && !checking.bRootMarked)) {
        if (!EnterFolder(checking, nLine, entry.strFolder)) {
            return false;
        }
    }
    const std::wstring& strName = entry.strName;
    if (strName.size() > 0xFFFF) {
        return Damaged(nLine, L"the name is too long.");
    }
    // No platform's path is longer, so no listing recorded it.
    if (checking.strDisplay.size() + 1 + strName.size() > kMaxSnapshotPath) {
        return Damaged(nLine, L"the path is longer than %u characters.",
                       static_cast<unsigned>(kMaxSnapshotPath));
    }
    CRecordHead head = {};
    head.nSize = entry.nSize;
    head.nLastWrite = (static_cast<uint64_t>(entry.ftLastWrite.dwHighDateTime) << 32) |
                      entry.ftLastWrite.dwLowDateTime;
    head.dwError = entry.dwError;
    head.nSecurity = entry.nSecurity;
    head.cchName = static_cast<uint16_t>(strName.size());
    head.nFlags = (entry.bFolder ? RECORD_FOLDER : 0) | (entry.bLink ? RECORD_LINK : 0);
    head.cbHash = static_cast<uint8_t>(entry.cbHash);
    if (!Record(&head, sizeof(head)) || !Record(entry.hash, head.cbHash) ||
        !Record(strName.data(), strName.size() * sizeof(wchar_t))) {
        return false;
    }
    ++checking.nBlockEntries;
    checking.names.push_back({HashText(strName), entry.nTwin, entry.dwError, nLine,
                              checking.strNames.size(), strName.size()});
    checking.strNames += strName;
    CSnapshotEnd& counted = checking.counted;
    if (!entry.bFolder) {
        if (entry.nSize > ULLONG_MAX - counted.nBytes) {
            return Damaged(nLine, L"the sizes of the files add up to 2^64 bytes or more.");
        }
        ++counted.nFiles;
        counted.nBytes += entry.nSize;
        return true;
    }
    ++counted.nFolders;
    CChecking::CLevel& level = checking.levels.back();
    // The subfolder as the paths of its entries will write it.
    std::wstring& strWritten = checking.strScratch;
    strWritten.clear();
    if (m_header.nVersion >= 2) {
        AppendEscaped(strWritten, strName.data(), strName.size(), false);
    } else {
        strWritten = strName;
    }
    level.subfolders.push_back(HashText(strWritten));
    level.unread.push_back(entry.dwError != ERROR_SUCCESS || entry.bLink);
    if (entry.dwError != ERROR_SUCCESS) {
        std::wstring& strPath = checking.strScratch;
        strPath.assign(checking.strDisplay);
        strPath += L'\\';
        strPath += strName;
        checking.unread.emplace_back(m_marks.size(), strName);
        m_marks.push_back({HashText(strPath), 0, 0, entry.dwError, 0, 0});
    }
    return true;
}

bool CSnapshotReader::Record(const void* pData, size_t cb, bool bFlush) {
    m_nRecordsSize += cb;
    if ((cb != 0 && !m_pRecordWriter->Add(pData, cb)) || (bFlush && !m_pRecordWriter->Flush())) {
        m_dwReadError = ::GetLastError();
        return false;
    }
    return true;
}

DWORD CSnapshotReader::SeekFolder(const std::wstring& strFolder, const CFolderMark*& pMark) {
    pMark = nullptr;
    const uint64_t nKey = HashText(strFolder);
    // Two folders whose keys are equal are told apart by the path written
    // before their records (after its parent's for one that could not be
    // read). The records are mostly read in the order written: the next
    // folder's often lie in the buffer already.
    std::wstring& strRecorded = m_strRecordedPath;
    for (auto it = std::lower_bound(m_marks.begin(), m_marks.end(), nKey, ByPathHash);
         it != m_marks.end() && it->nPathHash == nKey; ++it) {
        DWORD dwError = m_pRecordReader->Seek(it->nOffset);
        uint32_t cchPath = 0;
        if (dwError == ERROR_SUCCESS) {
            dwError = m_pRecordReader->Read(&cchPath, sizeof(cchPath));
        }
        strRecorded.resize(cchPath);
        if (dwError == ERROR_SUCCESS && cchPath != 0) {
            dwError = m_pRecordReader->Read(&strRecorded[0], cchPath * sizeof(wchar_t));
        }
        if (dwError != ERROR_SUCCESS) {
            return dwError;
        }
        if (strRecorded == strFolder) {
            if (it->dwError != ERROR_SUCCESS) {
                return it->dwError;
            }
            pMark = &*it;
            return ERROR_SUCCESS;
        }
    }
    return ERROR_SUCCESS;  // a folder without entries
}

DWORD CSnapshotReader::List(const std::wstring& strFolder, const std::wstring& strRelative,
                            CItemList& files, CItemList* pFolders, CUnaddressable& unaddressable,
                            CExcludedCounts& counts) {
    const CFolderMark* pMark = nullptr;
    const DWORD dwSeekError = SeekFolder(strFolder, pMark);
    if (dwSeekError != ERROR_SUCCESS || pMark == nullptr) {
        return dwSeekError;
    }
    // What the exclusions left out when the folder was recorded is left out
    // again.
    counts.m_nExcludedFiles += pMark->nExcludedFiles;
    if (pFolders != nullptr) {
        counts.m_nExcludedFolders += pMark->nExcludedFolders;
    }
    const bool bRecordedFiles = HashSizeOf(m_header) != 0 || m_header.bSecurity;
    CExclusionTest excludedFile(g_fileExclusions, strRelative.c_str());
    CExclusionTest excludedFolder(g_folderExclusions, strRelative.c_str());
    std::wstring strName;
    for (uint64_t n = 0; n < pMark->nEntries; ++n) {
        CRecordHead head;
        CRecordedFacts recorded;
        DWORD dwError = m_pRecordReader->Read(&head, sizeof(head));
        if (dwError == ERROR_SUCCESS && head.cbHash > HASH_MAX_VALUE_SIZE) {
            dwError = ERROR_INVALID_DATA;
        }
        if (dwError == ERROR_SUCCESS) {
            dwError = m_pRecordReader->Read(recorded.hash, head.cbHash);
        }
        strName.resize(head.cchName);
        if (dwError == ERROR_SUCCESS && head.cchName != 0) {
            dwError = m_pRecordReader->Read(&strName[0], head.cchName * sizeof(wchar_t));
        }
        if (dwError != ERROR_SUCCESS) {
            return dwError;
        }
        recorded.dwError = head.dwError;
        recorded.nSecurity = head.nSecurity;
        recorded.cbHash = head.cbHash;
        FILETIME ftLastWrite;
        ftLastWrite.dwLowDateTime = static_cast<DWORD>(head.nLastWrite);
        ftLastWrite.dwHighDateTime = static_cast<DWORD>(head.nLastWrite >> 32);
        // A name that could not be addressed (a path separator, a name
        // listed twice) was recorded with its error, and is so again,
        // whichever the kind. A name that Windows forbids but a listing
        // pairs (one with "?" or "*") was recorded with the same error when
        // it was opened or searched: it pairs again.
        const bool bUnaddressable =
            head.dwError == ERROR_INVALID_NAME &&
            (HoldsPathSeparator(strName.c_str()) || !HoldsForbiddenCharacter(strName.c_str()));
        if (head.nFlags & RECORD_FOLDER) {
            if (pFolders == nullptr) {
                continue;
            }
            if (excludedFolder.IsExcluded(strName.c_str(), strName.size())) {
                ++counts.m_nExcludedFolders;
                continue;
            }
            if (bUnaddressable) {
                unaddressable.folders.Add(strName.c_str(), strName.size(), ftLastWrite, 0);
                continue;
            }
            pFolders->Add(strName.c_str(), strName.size(), ftLastWrite, 0,
                          (head.nFlags & RECORD_LINK) != 0);
            pFolders->AddRecorded(recorded);
            continue;
        }
        if (excludedFile.IsExcluded(strName.c_str(), strName.size())) {
            ++counts.m_nExcludedFiles;
            continue;
        }
        if (bUnaddressable) {
            unaddressable.files.Add(strName.c_str(), strName.size(), ftLastWrite, head.nSize);
            continue;
        }
        files.Add(strName.c_str(), strName.size(), ftLastWrite, head.nSize);
        if (bRecordedFiles) {
            files.AddRecorded(recorded);
        }
    }
    return ERROR_SUCCESS;
}

DWORD CSnapshotReader::Probe(const std::wstring& strFolder) {
    const CFolderMark* pMark = nullptr;
    return SeekFolder(strFolder, pMark);
}
