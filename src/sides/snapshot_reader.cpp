#include "sides/snapshot_reader.h"

#include <wchar.h>

#include <algorithm>
#include <climits>
#include <cstdarg>
#include <cstring>
#include <utility>

#include <nlohmann/json.hpp>

#include "exclusions/exclusions.h"
#include "runtime/error_text.h"
#include "runtime/file_time.h"
#include "runtime/wide_string.h"

namespace {

using CJson = nlohmann::json;

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

// Reads a file line by line, in blocks.
class CLineReader {
public:
    explicit CLineReader(HANDLE hFile) : m_hFile(hFile), m_buffer(kReadSize) {}

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
    // A UTF-8 text never has more UTF-16 units than bytes.
    std::wstring str(cb, L'\0');
    const int cch = cb == 0 ? 0
                            : ::MultiByteToWideChar(CP_UTF8, 0, p, static_cast<int>(cb), &str[0],
                                                    static_cast<int>(cb));
    str.resize(cch > 0 ? cch : 0);
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
    bool bLink = false;  // a link to a folder, never entered
    ULONGLONG nSize = 0;
    FILETIME ftLastWrite = {};
    CRecordedFacts recorded;
    bool bSecurity = false;  // a security verdict or its error was recorded
};

// The members of one line as the JSON library reads them, without building
// a document: the line is read for each folder twice (checked, then
// compared), and a snapshot may hold millions. The members of an object
// inside the line's object are named "outer.inner"; what lies deeper is
// left out.
class CLineMembers : public nlohmann::json_sax<CJson> {
public:
    enum class Kind { Null, Boolean, Integer, Unsigned, Float, Text, Object, Array };
    struct CValue {
        Kind kind = Kind::Null;
        bool b = false;
        long long n = 0;
        unsigned long long u = 0;
        std::string str;
    };

    // Reads strLine; false when it is not one JSON object.
    bool Read(const std::string& strLine) {
        m_nUsed = 0;
        m_nDepth = 0;
        m_pCurrent = nullptr;
        m_bObject = false;
        return CJson::sax_parse(strLine, this) && m_bObject;
    }
    // The member's value, or null when the line has no such member.
    const CValue* Find(const char* pszName) const {
        for (size_t i = 0; i < m_nUsed; ++i) {
            if (m_members[i].first == pszName) {
                return &m_members[i].second;
            }
        }
        return nullptr;
    }

    bool null() override { return Set(Kind::Null); }
    bool boolean(bool b) override {
        if (CValue* p = Set(Kind::Boolean)) {
            p->b = b;
        }
        return true;
    }
    bool number_integer(number_integer_t n) override {
        if (CValue* p = Set(Kind::Integer)) {
            p->n = n;
        }
        return true;
    }
    bool number_unsigned(number_unsigned_t u) override {
        if (CValue* p = Set(Kind::Unsigned)) {
            p->u = u;
        }
        return true;
    }
    bool number_float(number_float_t, const string_t&) override { return Set(Kind::Float), true; }
    bool string(string_t& str) override {
        if (CValue* p = Set(Kind::Text)) {
            p->str.assign(str);  // into the room of the line before
        }
        return true;
    }
    bool binary(binary_t&) override { return Set(Kind::Array), true; }
    bool start_object(std::size_t) override {
        if (m_nDepth == 0) {
            m_bObject = true;
        } else if (m_nDepth == 1 && m_pCurrent != nullptr) {
            m_pCurrent->kind = Kind::Object;
            m_strOuter = m_members[m_nUsed - 1].first;
        }
        m_pCurrent = nullptr;
        ++m_nDepth;
        return true;
    }
    bool end_object() override {
        --m_nDepth;
        m_pCurrent = nullptr;
        return true;
    }
    bool start_array(std::size_t) override {
        Set(Kind::Array);
        m_pCurrent = nullptr;
        ++m_nDepth;
        return true;
    }
    bool end_array() override {
        --m_nDepth;
        return true;
    }
    bool key(string_t& strKey) override {
        if (m_nDepth > 2) {
            m_pCurrent = nullptr;
            return true;
        }
        if (m_nUsed == m_members.size()) {
            m_members.emplace_back();
        }
        auto& member = m_members[m_nUsed++];
        if (m_nDepth == 1) {
            member.first.assign(strKey);
        } else {
            member.first = m_strOuter + '.' + strKey;
        }
        member.second.kind = Kind::Null;
        m_pCurrent = &member.second;
        return true;
    }
    bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception&) override {
        return false;
    }

private:
    // The value being read, with its kind; null where it is not kept.
    CValue* Set(Kind kind) {
        CValue* const p = m_pCurrent;
        if (p != nullptr) {
            p->kind = kind;
        }
        m_pCurrent = nullptr;
        return p;
    }

    std::vector<std::pair<std::string, CValue>> m_members;  // reused from line to line
    size_t m_nUsed = 0;
    int m_nDepth = 0;
    CValue* m_pCurrent = nullptr;
    std::string m_strOuter;
    bool m_bObject = false;
};

using CValue = CLineMembers::CValue;
using Kind = CLineMembers::Kind;

// A whole number of at least 0: its value.
bool GetUnsigned(const CValue* p, unsigned long long& n) {
    if (p == nullptr || (p->kind != Kind::Unsigned && (p->kind != Kind::Integer || p->n < 0))) {
        return false;
    }
    n = p->kind == Kind::Unsigned ? p->u : static_cast<unsigned long long>(p->n);
    return true;
}

// Reads an entry line. Returns null, or what is wrong with it.
const wchar_t* ReadEntry(const CLineMembers& line, unsigned cbHash, CEntry& entry) {
    const CValue* const path = line.Find("path");
    if (path == nullptr || path->kind != Kind::Text) {
        return L"the entry has no \"path\" text.";
    }
    entry.strPath = path->str;
    const std::string& strPath = entry.strPath;
    const size_t nSlash = strPath.rfind('\\');
    if (strPath.empty() || strPath[0] != '\\' || nSlash + 1 == strPath.size() ||
        strPath.find("\\\\") != std::string::npos || strPath.find('\0') != std::string::npos) {
        return L"the \"path\" is not a path below the root.";
    }
    entry.nName = nSlash + 1;
    const CValue* const type = line.Find("type");
    if (type == nullptr || type->kind != Kind::Text ||
        (type->str != "file" && type->str != "folder")) {
        return L"the \"type\" is neither \"file\" nor \"folder\".";
    }
    entry.bFolder = type->str == "folder";
    const CValue* const link = line.Find("link");
    if (link != nullptr && (link->kind != Kind::Boolean || !entry.bFolder)) {
        return L"the \"link\" is not true or false of a folder.";
    }
    entry.bLink = link != nullptr && link->b;
    const CValue* const size = line.Find("size");
    if (!entry.bFolder) {
        if (!GetUnsigned(size, entry.nSize)) {
            return L"the \"size\" of the file is not a whole number.";
        }
    } else if (size != nullptr) {
        return L"a folder has a \"size\".";
    }
    const CValue* const lastWrite = line.Find("lastWrite");
    if (lastWrite == nullptr || lastWrite->kind != Kind::Text ||
        !ParseJsonTime(lastWrite->str, entry.ftLastWrite)) {
        return L"the \"lastWrite\" is not a time.";
    }
    entry.recorded = CRecordedFacts();
    const CValue* const error = line.Find("error");
    if (error != nullptr && error->kind == Kind::Null) {
        // No system code: a file that changed while it was read.
        if (entry.bFolder) {
            return L"the \"error\" is not an error code.";
        }
        entry.recorded.dwError = FILE_CHANGED_WHILE_READ;
    } else if (error != nullptr) {
        unsigned long long nError = 0;
        if (!GetUnsigned(error, nError) || nError == 0 || nError > 0xFFFFFFFFULL) {
            return L"the \"error\" is not an error code.";
        }
        entry.recorded.dwError = static_cast<DWORD>(nError);
    }
    const CValue* const hash = line.Find("hash");
    if (hash != nullptr) {
        if (hash->kind != Kind::Text) {
            return L"the \"hash\" is not a text.";
        }
        const std::string& strHash = hash->str;
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
    const CValue* const security = line.Find("security");
    if (security != nullptr) {
        if (security->kind != Kind::Boolean) {
            return L"the \"security\" is neither true nor false.";
        }
        entry.recorded.nSecurity = security->b ? 0 : 1;
        entry.bSecurity = true;
    }
    const CValue* const securityError = line.Find("securityError");
    if (securityError != nullptr) {
        if (securityError->kind != Kind::Integer || securityError->n >= 0 ||
            securityError->n < INT_MIN || entry.bSecurity) {
            return L"the \"securityError\" is not an error code.";
        }
        entry.recorded.nSecurity = static_cast<int>(securityError->n);
        entry.bSecurity = true;
    }
    return nullptr;
}

// The header line as a document.
bool ParseLine(const std::string& strLine, CJson& json) {
    json = CJson::parse(strLine, nullptr, false);
    return !json.is_discarded() && json.is_object();
}

}  // namespace

unsigned HashSizeOfName(const std::string& strName) {
    return strName == "md5" ? 16 : strName == "sha1" ? 20 : strName == "sha256" ? 32 : 0;
}

CSnapshotReader::CSnapshotReader() = default;
CSnapshotReader::~CSnapshotReader() = default;

DWORD CSnapshotReader::Open(const wchar_t* pszPath) {
    m_hFile.Reset(::CreateFileW(pszPath, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!m_hFile) {
        return ::GetLastError();
    }
    return m_records.Create() ? ERROR_SUCCESS : ::GetLastError();
}

DWORD CSnapshotReader::Read() {
    if (Check()) {
        m_hFile.Reset();  // everything is in the records now
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
    // The mark of the folder whose entries are read, and their number.
    size_t nBlockMark = m_marks.size();
    uint64_t nBlockEntries = 0;
    const auto endBlock = [&]() {
        if (nBlockMark < m_marks.size()) {
            m_marks[nBlockMark].nEntries = nBlockEntries;
        }
    };
    CEntry entry;
    CLineMembers line;
    while (reader.Next(strLine, nOffset)) {
        ++nLine;
        if (bEnd) {
            return Damaged(nLine, L"a line follows the closing line.");
        }
        if (!line.Read(strLine)) {
            return Damaged(nLine, L"the line is not a JSON object.");
        }
        if (line.Find("end") != nullptr) {
            unsigned long long nEndFiles = 0, nEndFolders = 0, nEndBytes = 0;
            if (!GetUnsigned(line.Find("end.files"), nEndFiles) ||
                !GetUnsigned(line.Find("end.folders"), nEndFolders) ||
                !GetUnsigned(line.Find("end.bytes"), nEndBytes)) {
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
        const wchar_t* pszWrong = ReadEntry(line, m_cbHash, entry);
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
                const uint64_t nKey =
                    HashText(strParent.data() + nSlash + 1, strParent.size() - nSlash - 1);
                const auto it = std::find(parent.subfolders.begin() + parent.nNext,
                                          parent.subfolders.end(), nKey);
                if (it == parent.subfolders.end()) {
                    return Damaged(nLine, L"the entry comes out of order.");
                }
                parent.nNext = it - parent.subfolders.begin() + 1;
                if (parent.unread[parent.nNext - 1]) {
                    return Damaged(nLine,
                                   L"the entry lies in a link or a folder that could not be read.");
                }
                levels.emplace_back();
                levels.back().strPath = strParent;
            }
            bRootMarked = true;
            endBlock();
            nBlockMark = m_marks.size();
            nBlockEntries = 0;
            m_marks.push_back({HashText(strParent), m_nRecordsSize, 0, ERROR_SUCCESS});
            const uint32_t cbPath = static_cast<uint32_t>(strParent.size());
            if (!Record(&cbPath, sizeof(cbPath)) || !Record(strParent.data(), cbPath)) {
                return false;
            }
        }
        const std::wstring strName =
            WideOf(entry.strPath.data() + entry.nName, entry.strPath.size() - entry.nName);
        if (strName.size() > 0xFFFF) {
            return Damaged(nLine, L"the name is too long.");
        }
        CRecordHead head = {};
        head.nSize = entry.nSize;
        head.nLastWrite = (static_cast<uint64_t>(entry.ftLastWrite.dwHighDateTime) << 32) |
                          entry.ftLastWrite.dwLowDateTime;
        head.dwError = entry.recorded.dwError;
        head.nSecurity = entry.recorded.nSecurity;
        head.cchName = static_cast<uint16_t>(strName.size());
        head.nFlags = (entry.bFolder ? RECORD_FOLDER : 0) | (entry.bLink ? RECORD_LINK : 0);
        head.cbHash = static_cast<uint8_t>(entry.recorded.cbHash);
        if (!Record(&head, sizeof(head)) || !Record(entry.recorded.hash, head.cbHash) ||
            !Record(strName.data(), strName.size() * sizeof(wchar_t))) {
            return false;
        }
        ++nBlockEntries;
        const uint64_t nName =
            HashText(entry.strPath.data() + entry.nName, entry.strPath.size() - entry.nName);
        names.emplace_back(nName, nLine);
        if (entry.bFolder) {
            ++nFolders;
            levels.back().subfolders.push_back(nName);
            levels.back().unread.push_back(entry.recorded.dwError != ERROR_SUCCESS || entry.bLink);
            if (entry.recorded.dwError != ERROR_SUCCESS) {
                m_marks.push_back({HashText(entry.strPath), 0, 0, entry.recorded.dwError});
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
    endBlock();
    if (!Record(nullptr, 0, true)) {
        return false;
    }
    std::sort(m_marks.begin(), m_marks.end(),
              [](const CFolderMark& a, const CFolderMark& b) { return a.nPathHash < b.nPathHash; });
    return true;
}

bool CSnapshotReader::Record(const void* pData, size_t cb, bool bFlush) {
    if (cb != 0) {
        m_strPending.append(static_cast<const char*>(pData), cb);
        m_nRecordsSize += cb;
    }
    if (m_strPending.size() < kReadSize && !bFlush) {
        return true;
    }
    DWORD cbWritten = 0;
    if (!::WriteFile(m_records.GetHandle(), m_strPending.data(),
                     static_cast<DWORD>(m_strPending.size()), &cbWritten, nullptr)) {
        m_dwReadError = ::GetLastError();
        return false;
    }
    if (cbWritten != m_strPending.size()) {
        m_dwReadError = ERROR_WRITE_FAULT;
        return false;
    }
    m_strPending.clear();
    return true;
}

DWORD CSnapshotReader::ReadRecord(void* pData, size_t cb) {
    char* p = static_cast<char*>(pData);
    while (cb > 0) {
        if (m_nReadPos == m_nReadEnd) {
            m_nReadOffset += m_nReadEnd;
            m_nReadPos = m_nReadEnd = 0;
            m_readBuffer.resize(kReadSize);
            DWORD cbRead = 0;
            if (!::ReadFile(m_records.GetHandle(), m_readBuffer.data(),
                            static_cast<DWORD>(m_readBuffer.size()), &cbRead, nullptr)) {
                return ::GetLastError();
            }
            if (cbRead == 0) {
                return ERROR_HANDLE_EOF;
            }
            m_nReadEnd = cbRead;
        }
        const size_t cbCopied = std::min(cb, m_nReadEnd - m_nReadPos);
        std::memcpy(p, m_readBuffer.data() + m_nReadPos, cbCopied);
        m_nReadPos += cbCopied;
        p += cbCopied;
        cb -= cbCopied;
    }
    return ERROR_SUCCESS;
}

DWORD CSnapshotReader::List(const std::wstring& strFolder, const std::wstring& strRelative,
                            CItemList& files, CItemList* pFolders, CUnaddressable& unaddressable,
                            CExcludedCounts& counts) {
    const std::string strPath = Utf8Of(strFolder);
    const uint64_t nKey = HashText(strPath);
    auto it = std::lower_bound(
        m_marks.begin(), m_marks.end(), nKey,
        [](const CFolderMark& mark, uint64_t nValue) { return mark.nPathHash < nValue; });
    // Two folders whose keys are equal are told apart by the path before
    // their records. The records are mostly read in the order written: the
    // next folder's often lie in the buffer already.
    std::string strRecorded;
    for (; it != m_marks.end() && it->nPathHash == nKey; ++it) {
        if (it->dwError != ERROR_SUCCESS) {
            return it->dwError;
        }
        if (it->nOffset >= m_nReadOffset && it->nOffset < m_nReadOffset + m_nReadEnd) {
            m_nReadPos = static_cast<size_t>(it->nOffset - m_nReadOffset);
        } else {
            LARGE_INTEGER position;
            position.QuadPart = static_cast<LONGLONG>(it->nOffset);
            if (!::SetFilePointerEx(m_records.GetHandle(), position, nullptr, FILE_BEGIN)) {
                return ::GetLastError();
            }
            m_nReadOffset = it->nOffset;
            m_nReadPos = m_nReadEnd = 0;
        }
        uint32_t cbPath = 0;
        DWORD dwError = ReadRecord(&cbPath, sizeof(cbPath));
        strRecorded.resize(cbPath);
        if (dwError == ERROR_SUCCESS && cbPath != 0) {
            dwError = ReadRecord(&strRecorded[0], cbPath);
        }
        if (dwError != ERROR_SUCCESS) {
            return dwError;
        }
        if (strRecorded == strPath) {
            break;
        }
    }
    if (it == m_marks.end() || it->nPathHash != nKey) {
        return ERROR_SUCCESS;  // a folder without entries
    }
    const bool bRecordedFiles = m_cbHash != 0 || m_header.bSecurity;
    // Exclusions by name, or by the display path where a wildcard holds a
    // backslash, as for a folder on the disk.
    const bool bFilesByPath = HasPathWildcard(g_fileExclusions);
    const bool bFoldersByPath = HasPathWildcard(g_folderExclusions);
    std::wstring strItem = strRelative + L"\\";
    const size_t cchFolder = strItem.size();
    const auto isExcluded = [&](const CStringList& list, bool bByPath,
                                const std::wstring& strName) {
        if (!bByPath) {
            return IsExcludedName(list, strName.c_str());
        }
        strItem.resize(cchFolder);
        strItem += strName;
        return IsExcludedPath(list, strItem.c_str());
    };
    std::wstring strName;
    for (uint64_t n = 0; n < it->nEntries; ++n) {
        CRecordHead head;
        CRecordedFacts recorded;
        DWORD dwError = ReadRecord(&head, sizeof(head));
        if (dwError == ERROR_SUCCESS && head.cbHash > HASH_MAX_VALUE_SIZE) {
            dwError = ERROR_INVALID_DATA;
        }
        if (dwError == ERROR_SUCCESS) {
            dwError = ReadRecord(recorded.hash, head.cbHash);
        }
        strName.resize(head.cchName);
        if (dwError == ERROR_SUCCESS && head.cchName != 0) {
            dwError = ReadRecord(&strName[0], head.cchName * sizeof(wchar_t));
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
        // A name that could not be addressed was recorded with its error,
        // and is so again, whichever the kind. A name that Windows forbids
        // but a listing pairs (one with "?" or "*") was recorded with the
        // same error when it was opened: it pairs again.
        const bool bUnaddressable =
            head.dwError == ERROR_INVALID_NAME && HoldsPathSeparator(strName.c_str());
        if (head.nFlags & RECORD_FOLDER) {
            if (pFolders == nullptr) {
                continue;
            }
            if (isExcluded(g_folderExclusions, bFoldersByPath, strName)) {
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
        if (isExcluded(g_fileExclusions, bFilesByPath, strName)) {
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
    const uint64_t nKey = HashText(Utf8Of(strFolder));
    for (const CFolderMark& mark : m_marks) {
        if (mark.nPathHash == nKey && mark.dwError != ERROR_SUCCESS) {
            return mark.dwError;
        }
    }
    return ERROR_SUCCESS;
}
