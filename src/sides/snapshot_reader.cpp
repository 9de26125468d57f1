#include "sides/snapshot_reader.h"

#include <wchar.h>

#include <algorithm>
#include <cstdarg>
#include <utility>

#include <nlohmann/json.hpp>

#include "comparison/comparison_results.h"
#include "comparison/json_report.h"
#include "exclusions/exclusions.h"
#include "runtime/wide_string.h"

namespace {

using CJson = nlohmann::json;

constexpr size_t kReadSize = 64 * 1024;

// Reads a file line by line from any offset, in blocks.
class CLineReader {
public:
    explicit CLineReader(HANDLE hFile) : m_hFile(hFile), m_buffer(kReadSize) {}

    // Reading goes on at byte nOffset. False with the last error set when the
    // file cannot be positioned.
    bool Seek(uint64_t nOffset) {
        LARGE_INTEGER position;
        position.QuadPart = static_cast<LONGLONG>(nOffset);
        if (!::SetFilePointerEx(m_hFile, position, nullptr, FILE_BEGIN)) {
            return false;
        }
        m_nPos = m_nEnd = 0;
        m_nBufferOffset = nOffset;
        m_bEnd = false;
        return true;
    }

    // The next line without its end (a line feed, a carriage return before
    // it too) and the offset where it begins. False at the end of the file,
    // and on a failed read with GetError set.
    bool Next(std::string& strLine, uint64_t& nOffset) {
        strLine.clear();
        nOffset = m_nBufferOffset + m_nPos;
        bool bAny = false;
        for (;;) {
            if (m_nPos == m_nEnd && !Fill()) {
                break;
            }
            bAny = true;
            const char* const pStart = m_buffer.data() + m_nPos;
            const char* const pEnd = m_buffer.data() + m_nEnd;
            const char* const pFeed = std::find(pStart, pEnd, '\n');
            strLine.append(pStart, pFeed);
            m_nPos += pFeed - pStart;
            if (pFeed != pEnd) {
                ++m_nPos;
                break;
            }
        }
        if (!strLine.empty() && strLine.back() == '\r') {
            strLine.pop_back();
        }
        return bAny && m_dwError == ERROR_SUCCESS;
    }

    DWORD GetError() const { return m_dwError; }

private:
    bool Fill() {
        if (m_bEnd) {
            return false;
        }
        m_nBufferOffset += m_nEnd;
        m_nPos = m_nEnd = 0;
        DWORD cbRead = 0;
        if (!::ReadFile(m_hFile, m_buffer.data(), static_cast<DWORD>(m_buffer.size()), &cbRead,
                        nullptr)) {
            m_dwError = ::GetLastError();
            m_bEnd = true;
            return false;
        }
        m_nEnd = cbRead;
        m_bEnd = cbRead == 0;
        return cbRead != 0;
    }

    HANDLE m_hFile;
    std::vector<char> m_buffer;
    size_t m_nPos = 0;
    size_t m_nEnd = 0;
    uint64_t m_nBufferOffset = 0;  // where the buffer's first byte lies in the file
    bool m_bEnd = false;
    DWORD m_dwError = ERROR_SUCCESS;
};

// FNV-1a: folders and names are kept as 64-bit keys of their UTF-8 text.
uint64_t HashText(const char* p, size_t cb) {
    uint64_t nHash = 14695981039346656037ULL;
    for (size_t i = 0; i < cb; ++i) {
        nHash = (nHash ^ static_cast<unsigned char>(p[i])) * 1099511628211ULL;
    }
    return nHash;
}

uint64_t HashText(const std::string& str) {
    return HashText(str.data(), str.size());
}

std::wstring WideOf(const char* p, size_t cb) {
    std::wstring str;
    if (cb == 0) {
        return str;
    }
    const int cch = ::MultiByteToWideChar(CP_UTF8, 0, p, static_cast<int>(cb), nullptr, 0);
    str.resize(cch > 0 ? cch : 0);
    if (cch > 0) {
        ::MultiByteToWideChar(CP_UTF8, 0, p, static_cast<int>(cb), &str[0], cch);
    }
    return str;
}

std::string Utf8Of(const std::wstring& str) {
    std::string strOut;
    if (str.empty()) {
        return strOut;
    }
    const int cb = ::WideCharToMultiByte(CP_UTF8, 0, str.data(), static_cast<int>(str.size()),
                                         nullptr, 0, nullptr, nullptr);
    strOut.resize(cb > 0 ? cb : 0);
    if (cb > 0) {
        ::WideCharToMultiByte(CP_UTF8, 0, str.data(), static_cast<int>(str.size()), &strOut[0], cb,
                              nullptr, nullptr);
    }
    return strOut;
}

// The file time of a text that FormatJsonTime wrote; false for any other
// text (the text of the time found must read the same).
bool ParseJsonTime(const std::string& strText, FILETIME& ft) {
    long long nYear = 0;
    unsigned nMonth = 0, nDay = 0, nHour = 0, nMinute = 0, nSecond = 0, nFraction = 0;
    if (::sscanf(strText.c_str(), "%lld-%u-%uT%u:%u:%u.%uZ", &nYear, &nMonth, &nDay, &nHour,
                 &nMinute, &nSecond, &nFraction) != 7 ||
        nYear < 1601 || nYear > 60000 || nMonth < 1 || nMonth > 12 || nDay < 1 || nDay > 31 ||
        nHour > 23 || nMinute > 59 || nSecond > 59 || nFraction > 9999999) {
        return false;
    }
    // Days since 1970-01-01 of a proleptic Gregorian date, then since 1601.
    const long long y = nYear - (nMonth <= 2 ? 1 : 0);
    const long long nEra = y / 400;
    const long long nYearOfEra = y - nEra * 400;
    const long long nDayOfYear = (153 * (nMonth + (nMonth > 2 ? -3 : 9)) + 2) / 5 + nDay - 1;
    const long long nDayOfEra = nYearOfEra * 365 + nYearOfEra / 4 - nYearOfEra / 100 + nDayOfYear;
    const unsigned long long nDays =
        static_cast<unsigned long long>(nEra * 146097 + nDayOfEra - 719468 + 134774);
    const unsigned long long nTime =
        (nDays * 86400 + nHour * 3600ULL + nMinute * 60ULL + nSecond) * 10000000ULL + nFraction;
    ft.dwLowDateTime = static_cast<DWORD>(nTime);
    ft.dwHighDateTime = static_cast<DWORD>(nTime >> 32);
    return FormatJsonTime(ft) == strText;
}

int HexDigit(char ch) {
    return ch >= '0' && ch <= '9'   ? ch - '0'
           : ch >= 'a' && ch <= 'f' ? ch - 'a' + 10
           : ch >= 'A' && ch <= 'F' ? ch - 'A' + 10
                                    : -1;
}

// One entry of the snapshot, as read from its line.
struct CEntry {
    std::string strPath;  // UTF-8, from its first backslash
    size_t nName = 0;     // where its name begins in strPath
    bool bFolder = false;
    ULONGLONG nSize = 0;
    FILETIME ftLastWrite = {};
    CRecordedFacts recorded;
    bool bSecurity = false;  // a security verdict or its error was recorded
};

bool IsUnsigned(const CJson& value) {
    return value.is_number_unsigned() || (value.is_number_integer() && value.get<long long>() >= 0);
}

// Reads an entry line. Returns null, or what is wrong with it.
const wchar_t* ReadEntry(const CJson& line, unsigned cbHash, CEntry& entry) {
    const auto path = line.find("path");
    if (path == line.end() || !path->is_string()) {
        return L"the entry has no \"path\" text.";
    }
    entry.strPath = path->get<std::string>();
    const std::string& strPath = entry.strPath;
    const size_t nSlash = strPath.rfind('\\');
    if (strPath.empty() || strPath[0] != '\\' || nSlash + 1 == strPath.size() ||
        strPath.find("\\\\") != std::string::npos || strPath.find('\0') != std::string::npos) {
        return L"the \"path\" is not a path below the root.";
    }
    entry.nName = nSlash + 1;
    const auto type = line.find("type");
    if (type == line.end() || !type->is_string() ||
        (*type != "file" && *type != "folder")) {
        return L"the \"type\" is neither \"file\" nor \"folder\".";
    }
    entry.bFolder = *type == "folder";
    const auto size = line.find("size");
    if (!entry.bFolder) {
        if (size == line.end() || !IsUnsigned(*size)) {
            return L"the \"size\" of the file is not a whole number.";
        }
        entry.nSize = size->get<unsigned long long>();
    } else if (size != line.end()) {
        return L"a folder has a \"size\".";
    }
    const auto lastWrite = line.find("lastWrite");
    if (lastWrite == line.end() || !lastWrite->is_string() ||
        !ParseJsonTime(lastWrite->get<std::string>(), entry.ftLastWrite)) {
        return L"the \"lastWrite\" is not a time.";
    }
    entry.recorded = CRecordedFacts();
    const auto error = line.find("error");
    if (error != line.end()) {
        if (!IsUnsigned(*error) || error->get<unsigned long long>() == 0 ||
            error->get<unsigned long long>() > 0xFFFFFFFFULL) {
            return L"the \"error\" is not an error code.";
        }
        entry.recorded.dwError = static_cast<DWORD>(error->get<unsigned long long>());
    }
    const auto hash = line.find("hash");
    if (hash != line.end()) {
        if (!hash->is_string()) {
            return L"the \"hash\" is not a text.";
        }
        const std::string& strHash = hash->get_ref<const std::string&>();
        if (entry.bFolder || cbHash == 0 || entry.recorded.dwError != ERROR_SUCCESS) {
            return L"the entry has a \"hash\" that the snapshot does not record.";
        }
        if (strHash.size() != 2 * cbHash) {
            return L"the \"hash\" has the wrong length.";
        }
        for (unsigned i = 0; i < cbHash; ++i) {
            const int nHigh = HexDigit(strHash[2 * i]);
            const int nLow = HexDigit(strHash[2 * i + 1]);
            if (nHigh < 0 || nLow < 0) {
                return L"the \"hash\" is not hexadecimal.";
            }
            entry.recorded.hash[i] = static_cast<BYTE>(nHigh * 16 + nLow);
        }
        entry.recorded.cbHash = cbHash;
    } else if (cbHash != 0 && !entry.bFolder && entry.recorded.dwError == ERROR_SUCCESS) {
        return L"the file has no \"hash\".";
    }
    entry.bSecurity = false;
    const auto security = line.find("security");
    if (security != line.end()) {
        if (!security->is_boolean()) {
            return L"the \"security\" is neither true nor false.";
        }
        entry.recorded.nSecurity = security->get<bool>() ? 0 : 1;
        entry.bSecurity = true;
    }
    const auto securityError = line.find("securityError");
    if (securityError != line.end()) {
        if (!securityError->is_number_integer() || entry.bSecurity) {
            return L"the \"securityError\" is not an error code.";
        }
        entry.recorded.nSecurity = static_cast<int>(securityError->get<long long>());
        if (entry.recorded.nSecurity >= 0) {
            return L"the \"securityError\" is not an error code.";
        }
        entry.bSecurity = true;
    }
    return nullptr;
}

// A parsed line: an object, or null after a line that is not JSON.
bool ParseLine(const std::string& strLine, CJson& json) {
    json = CJson::parse(strLine, nullptr, false);
    return !json.is_discarded() && json.is_object();
}

}  // namespace

unsigned HashSizeOfName(const std::string& strName) {
    return strName == "md5" ? 16 : strName == "sha1" ? 20 : strName == "sha256" ? 32 : 0;
}

DWORD CSnapshotReader::Open(const wchar_t* pszPath) {
    m_hFile.Reset(::CreateFileW(pszPath, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!m_hFile) {
        return ::GetLastError();
    }
    if (Check()) {
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

bool CSnapshotReader::Check() {
    CLineReader reader(m_hFile.Get());
    std::string strLine;
    uint64_t nOffset = 0;
    CJson json;
    unsigned long long nLine = 1;
    if (!reader.Next(strLine, nOffset)) {
        m_dwReadError = reader.GetError();
        return m_dwReadError == ERROR_SUCCESS && Damaged(1, L"the file is empty.");
    }
    if (!ParseLine(strLine, json)) {
        return Damaged(1, L"the line is not a JSON object.");
    }
    const auto format = json.find("format");
    if (format == json.end() || *format != "quorva-snapshot") {
        return Damaged(1, L"the file is not a quorva snapshot.");
    }
    const auto version = json.find("version");
    if (version == json.end() || *version != 1) {
        return Damaged(1, L"the snapshot's version is not 1.");
    }
    const auto root = json.find("root");
    const auto created = json.find("created");
    const auto options = json.find("options");
    if (root == json.end() || !root->is_string() || created == json.end() ||
        !created->is_string() || !ParseJsonTime(*created, m_header.ftCreated) ||
        options == json.end() || !options->is_object()) {
        return Damaged(1, L"the header lacks \"root\", \"created\" or \"options\".");
    }
    const std::string& strRoot = root->get_ref<const std::string&>();
    m_header.strRoot = WideOf(strRoot.data(), strRoot.size());
    const auto subdir = options->find("subdir");
    const auto hash = options->find("hash");
    const auto security = options->find("security");
    const auto fileExclusions = options->find("fileExclusions");
    const auto folderExclusions = options->find("folderExclusions");
    const auto isTextOrNull = [&](const CJson::const_iterator& it) {
        return it != options->end() && (it->is_string() || it->is_null());
    };
    if (subdir == options->end() || !subdir->is_boolean() || security == options->end() ||
        !security->is_boolean() || !isTextOrNull(hash) || !isTextOrNull(fileExclusions) ||
        !isTextOrNull(folderExclusions) ||
        (hash->is_string() && HashSizeOfName(hash->get<std::string>()) == 0)) {
        return Damaged(1, L"the \"options\" of the header are not those of a snapshot.");
    }
    m_header.bSubdir = subdir->get<bool>();
    m_header.bSecurity = security->get<bool>();
    m_header.strHash = hash->is_string() ? hash->get<std::string>() : std::string();
    m_cbHash = HashSizeOfName(m_header.strHash);
    const auto textOf = [](const CJson& value) {
        return value.is_string() ? WideOf(value.get_ref<const std::string&>().data(),
                                          value.get_ref<const std::string&>().size())
                                 : std::wstring();
    };
    m_header.strFileExclusions = textOf(*fileExclusions);
    m_header.strFolderExclusions = textOf(*folderExclusions);

    // The folders from the root to the one whose entries are read: for each,
    // its subfolders' names (as keys) in their order, whether each could be
    // read, and the next that may have entries of its own.
    struct CLevel {
        std::string strPath;
        std::vector<uint64_t> subfolders;
        std::vector<bool> unread;
        size_t nNext = 0;
    };
    std::vector<CLevel> levels(1);
    // The names of the folder being read, with their lines, to find one
    // that comes twice.
    std::vector<std::pair<uint64_t, unsigned long long>> names;
    const auto checkNames = [&]() {
        std::sort(names.begin(), names.end());
        for (size_t i = 1; i < names.size(); ++i) {
            if (names[i].first == names[i - 1].first) {
                return Damaged(names[i].second, L"the entry comes twice.");
            }
        }
        names.clear();
        return true;
    };
    unsigned long long nFiles = 0;
    unsigned long long nFolders = 0;
    unsigned long long nBytes = 0;
    bool bRootMarked = false;
    bool bEnd = false;
    CEntry entry;
    while (reader.Next(strLine, nOffset)) {
        ++nLine;
        if (bEnd) {
            return Damaged(nLine, L"a line follows the closing line.");
        }
        if (!ParseLine(strLine, json)) {
            return Damaged(nLine, L"the line is not a JSON object.");
        }
        const auto end = json.find("end");
        if (end != json.end()) {
            const auto count = [&](const char* pszName, unsigned long long& nValue) {
                const auto it = end->is_object() ? end->find(pszName) : end->end();
                if (it == end->end() || !IsUnsigned(*it)) {
                    return false;
                }
                nValue = it->get<unsigned long long>();
                return true;
            };
            unsigned long long nEndFiles = 0, nEndFolders = 0, nEndBytes = 0;
            if (!count("files", nEndFiles) || !count("folders", nEndFolders) ||
                !count("bytes", nEndBytes)) {
                return Damaged(nLine, L"the closing line lacks a count.");
            }
            if (nEndFiles != nFiles || nEndFolders != nFolders || nEndBytes != nBytes) {
                return Damaged(nLine,
                               L"the closing line counts %I64u files, %I64u folders and %I64u "
                               L"bytes; the snapshot holds %I64u, %I64u and %I64u.",
                               nEndFiles, nEndFolders, nEndBytes, nFiles, nFolders, nBytes);
            }
            if (!checkNames()) {
                return false;
            }
            bEnd = true;
            continue;
        }
        const wchar_t* pszWrong = ReadEntry(json, m_cbHash, entry);
        if (pszWrong == nullptr && m_header.bSecurity && !entry.bFolder && !entry.bSecurity) {
            pszWrong = L"the file has no \"security\".";
        }
        if (pszWrong != nullptr) {
            return Damaged(nLine, L"%s", pszWrong);
        }
        const std::string strParent = entry.strPath.substr(0, entry.nName - 1);
        if (strParent != levels.back().strPath || (strParent.empty() && !bRootMarked)) {
            if (!checkNames()) {
                return false;
            }
            if (strParent.empty()) {
                if (bRootMarked || levels.size() != 1) {
                    return Damaged(nLine, L"the entry comes out of order.");
                }
            } else {
                // A folder's entries come after those of its parent and of
                // the subfolders listed before it in the parent.
                const size_t nSlash = strParent.rfind('\\');
                const std::string strGrandparent = strParent.substr(0, nSlash);
                while (!levels.empty() && levels.back().strPath != strGrandparent) {
                    levels.pop_back();
                }
                if (levels.empty()) {
                    return Damaged(nLine, L"the entry comes out of order.");
                }
                CLevel& parent = levels.back();
                const uint64_t nKey = HashText(strParent.data() + nSlash + 1,
                                               strParent.size() - nSlash - 1);
                const auto it = std::find(parent.subfolders.begin() + parent.nNext,
                                          parent.subfolders.end(), nKey);
                if (it == parent.subfolders.end()) {
                    return Damaged(nLine, L"the entry comes out of order.");
                }
                parent.nNext = it - parent.subfolders.begin() + 1;
                if (parent.unread[parent.nNext - 1]) {
                    return Damaged(nLine, L"the entry lies in a folder that could not be read.");
                }
                levels.emplace_back();
                levels.back().strPath = strParent;
            }
            bRootMarked = true;
            m_marks.push_back({HashText(strParent), nOffset, nLine, ERROR_SUCCESS});
        }
        const uint64_t nName =
            HashText(entry.strPath.data() + entry.nName, entry.strPath.size() - entry.nName);
        names.emplace_back(nName, nLine);
        if (entry.bFolder) {
            ++nFolders;
            levels.back().subfolders.push_back(nName);
            levels.back().unread.push_back(entry.recorded.dwError != ERROR_SUCCESS);
            if (entry.recorded.dwError != ERROR_SUCCESS) {
                m_marks.push_back(
                    {HashText(entry.strPath), nOffset, nLine, entry.recorded.dwError});
            }
        } else {
            ++nFiles;
            nBytes += entry.nSize;
        }
    }
    if (reader.GetError() != ERROR_SUCCESS) {
        m_dwReadError = reader.GetError();
        return false;
    }
    if (!bEnd) {
        return Damaged(nLine + 1, L"the closing line is missing.");
    }
    std::sort(m_marks.begin(), m_marks.end(),
              [](const CFolderMark& a, const CFolderMark& b) { return a.nPathHash < b.nPathHash; });
    return true;
}

DWORD CSnapshotReader::List(const std::wstring& strFolder, CItemList& files, CItemList* pFolders,
                            CSideResults& counts) {
    const std::string strPath = Utf8Of(strFolder);
    const uint64_t nKey = HashText(strPath);
    auto it = std::lower_bound(
        m_marks.begin(), m_marks.end(), nKey,
        [](const CFolderMark& mark, uint64_t nValue) { return mark.nPathHash < nValue; });
    CLineReader reader(m_hFile.Get());
    std::string strLine;
    uint64_t nOffset = 0;
    CJson json;
    CEntry entry;
    // Two folders whose keys are equal are told apart by their lines.
    const auto readEntry = [&]() {
        return reader.Next(strLine, nOffset) && ParseLine(strLine, json) &&
               json.find("end") == json.end() && ReadEntry(json, m_cbHash, entry) == nullptr;
    };
    for (; it != m_marks.end() && it->nPathHash == nKey; ++it) {
        if (!reader.Seek(it->nOffset)) {
            return ::GetLastError();
        }
        if (!readEntry()) {
            return reader.GetError() != ERROR_SUCCESS ? reader.GetError() : ERROR_INVALID_DATA;
        }
        if (it->dwError != ERROR_SUCCESS) {
            if (entry.strPath == strPath) {
                return it->dwError;
            }
        } else if (entry.strPath.compare(0, entry.nName - 1, strPath) == 0 &&
                   entry.nName - 1 == strPath.size()) {
            break;
        }
    }
    if (it == m_marks.end() || it->nPathHash != nKey) {
        return ERROR_SUCCESS;  // a folder without entries
    }
    const bool bRecordedFiles = m_cbHash != 0 || m_header.bSecurity;
    do {
        const std::wstring strName =
            WideOf(entry.strPath.data() + entry.nName, entry.strPath.size() - entry.nName);
        if (entry.bFolder) {
            if (pFolders == nullptr) {
                continue;
            }
            if (IsExcludedName(g_folderExclusions, strName.c_str())) {
                ++counts.m_nExcludedFolders;
                continue;
            }
            pFolders->Add(strName.c_str(), strName.size(), entry.ftLastWrite, 0);
            pFolders->AddRecorded(entry.recorded);
            continue;
        }
        if (IsExcludedFile(strName.c_str())) {
            ++counts.m_nExcludedFiles;
            continue;
        }
        files.Add(strName.c_str(), strName.size(), entry.ftLastWrite, entry.nSize);
        if (bRecordedFiles) {
            files.AddRecorded(entry.recorded);
        }
    } while (readEntry() && entry.nName - 1 == strPath.size() &&
             entry.strPath.compare(0, strPath.size(), strPath) == 0);
    return reader.GetError();
}

DWORD CSnapshotReader::Probe(const std::wstring& strFolder) {
    const uint64_t nKey = HashText(Utf8Of(strFolder));
    for (const CFolderMark& mark : m_marks) {
        if (mark.nPathHash == nKey && mark.dwError != ERROR_SUCCESS) {
            return mark.dwError;
        }
    }
    return ERROR_SUCCESS;
}
