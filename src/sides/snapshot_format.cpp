#include "sides/snapshot_format.h"

#include <climits>
#include <cstring>

#include "hashing/hash_algorithm.h"
#include "runtime/error_text.h"
#include "runtime/file_time.h"
#include "runtime/hex_text.h"
#include "runtime/json_text.h"

namespace {

// The names of the fields, for the writer and the reader.
const char kFormat[] = "format";
const char kFormatName[] = "quorva-snapshot";
const char kVersion[] = "version";
const char kRoot[] = "root";
const char kCreated[] = "created";
const char kOptions[] = "options";
const char kSubdir[] = "subdir";
const char kHash[] = "hash";
const char kSecurity[] = "security";
const char kFileExclusions[] = "fileExclusions";
const char kFolderExclusions[] = "folderExclusions";
const char kExcludedFiles[] = "excludedFiles";
const char kExcludedFolders[] = "excludedFolders";
const char kPath[] = "path";
const char kType[] = "type";
const char kFile[] = "file";
const char kFolder[] = "folder";
const char kSize[] = "size";
const char kLastWrite[] = "lastWrite";
const char kLink[] = "link";
const char kError[] = "error";
const char kReason[] = "reason";
const char kSecurityError[] = "securityError";
const char kTwin[] = "twin";
const char kEnd[] = "end";
const char kFiles[] = "files";
const char kFolders[] = "folders";
const char kBytes[] = "bytes";
const char kChecksum[] = "checksum";

using Kind = CJsonValue::Kind;

void AppendName(std::string& str, const char* pszName) {
    str += '"';
    str += pszName;
    str += "\": ";
}

// A member after the first: the comma, then the name.
void AppendNext(std::string& str, const char* pszName) {
    str += ", ";
    AppendName(str, pszName);
}

void AppendText(std::string& str, const std::wstring& strText) {
    std::wstring strEscaped;
    AppendEscaped(strEscaped, strText.data(), strText.size(), true);
    AppendJsonString(str, strEscaped.c_str());
}

void AppendTextOrNull(std::string& str, const std::wstring& strText) {
    if (strText.empty()) {
        str += "null";
    } else {
        AppendText(str, strText);
    }
}

void AppendTexts(std::string& str, const CStringList& texts) {
    str += '[';
    for (size_t i = 0; i < texts.size(); ++i) {
        str += i == 0 ? "" : ", ";
        AppendText(str, texts[i]);
    }
    str += ']';
}

const char* Bool(bool b) {
    return b ? "true" : "false";
}

// The UTF-16 unit of four hexadecimal digits at p; false when they are not.
template <typename TChar>
bool ReadUnit(const TChar* p, unsigned& nUnit) {
    char digits[4];
    for (int i = 0; i < 4; ++i) {
        if (p[i] < 0x20 || p[i] > 0x7E) {
            return false;
        }
        digits[i] = static_cast<char>(p[i]);
    }
    BYTE bytes[2];
    if (!ParseHexBytes(digits, 2, bytes)) {
        return false;
    }
    nUnit = bytes[0] * 256u + bytes[1];
    return true;
}

// A text as the header's version wrote it: false when an escape is not '%'
// and four hexadecimal digits.
bool ReadText(const char* p, size_t cb, unsigned nVersion, std::wstring& strOut) {
    AssignFromUtf8(strOut, p, cb);
    return nVersion < 2 || Unescape(strOut);
}

bool ReadText(std::string_view strText, unsigned nVersion, std::wstring& strOut) {
    return ReadText(strText.data(), strText.size(), nVersion, strOut);
}

const CJsonValue* FindKind(const CSnapshotLine& line, const char* pszName, Kind kind,
                           const char* pszParent = nullptr) {
    const CJsonValue* const p = line.Find(pszName, pszParent);
    return p != nullptr && p->kind == kind ? p : nullptr;
}

// A whole number from 0 to nMax: its value.
bool GetWhole(const CJsonValue* p, unsigned long long nMax, unsigned long long& n) {
    if (p == nullptr || p->kind != Kind::Integer || (p->bNegative && p->u != 0) || p->u > nMax) {
        return false;
    }
    n = p->u;
    return true;
}

bool ReadTexts(const CJsonValue* p, unsigned nVersion, CStringList& texts) {
    texts.clear();
    if (p == nullptr || (p->kind != Kind::Texts && p->kind != Kind::Array)) {
        return false;
    }
    for (const std::string_view& strText : p->texts) {
        texts.emplace_back();
        if (!ReadText(strText, nVersion, texts.back())) {
            return false;
        }
    }
    // An array that holds anything but texts is none, however many texts
    // it also holds.
    return p->kind == Kind::Texts;
}

// The path's name, and the folder holding it: false when the path is not
// one below the root or its name no listing holds.
bool ReadPath(std::string_view strPath, unsigned nVersion, CSnapshotEntry& entry) {
    const size_t nSlash = strPath.rfind('\\');
    if (strPath.empty() || strPath[0] != '\\' || nSlash + 1 == strPath.size() ||
        strPath.find("\\\\") != std::string::npos || strPath.find('\0') != std::string::npos) {
        return false;
    }
    AssignFromUtf8(entry.strFolder, strPath.data(), nSlash);
    if (!ReadText(strPath.data() + nSlash + 1, strPath.size() - nSlash - 1, nVersion,
                  entry.strName)) {
        return false;
    }
    const std::wstring& strName = entry.strName;
    return !strName.empty() && strName != L"." && strName != L".." &&
           strName.find(L'/') == std::wstring::npos && strName.find(L'\0') == std::wstring::npos;
}

const wchar_t* ReadHash(const CJsonValue* hash, unsigned cbHash, CSnapshotEntry& entry) {
    if (hash->kind != Kind::Text) {
        return L"the \"hash\" is not a text.";
    }
    if (entry.bFolder || cbHash == 0 || entry.dwError != ERROR_SUCCESS) {
        return L"the entry has a \"hash\" that the snapshot does not record.";
    }
    const std::string_view strHash = hash->str;
    if (strHash.size() != 2 * cbHash) {
        return L"the \"hash\" has the wrong length.";
    }
    if (!ParseHexBytes(strHash.data(), cbHash, entry.hash)) {
        return L"the \"hash\" is not hexadecimal.";
    }
    entry.cbHash = cbHash;
    return nullptr;
}

const wchar_t* ReadSecurity(const CSnapshotLine& line, bool bRecorded, CSnapshotEntry& entry) {
    entry.bSecurity = false;
    entry.nSecurity = 0;
    if (const CJsonValue* const security = line.Find(kSecurity)) {
        if (security->kind != Kind::Boolean) {
            return L"the \"security\" is neither true nor false.";
        }
        entry.nSecurity = security->b ? 0 : 1;
        entry.bSecurity = true;
    }
    if (const CJsonValue* const error = line.Find(kSecurityError)) {
        if (error->kind != Kind::Integer || !error->bNegative || error->u == 0 ||
            error->u > 0x80000000ULL || entry.bSecurity) {
            return L"the \"securityError\" is not an error code.";
        }
        entry.nSecurity = static_cast<int>(0 - error->u);
        entry.bSecurity = true;
    }
    if (bRecorded && !entry.bFolder && !entry.bSecurity) {
        return L"the file has no \"security\".";
    }
    return nullptr;
}

// The kind, the size and the time of an entry.
const wchar_t* ReadFacts(const CSnapshotLine& line, CSnapshotEntry& entry) {
    const CJsonValue* const type = FindKind(line, kType, Kind::Text);
    if (type == nullptr || (type->str != kFile && type->str != kFolder)) {
        return L"the \"type\" is neither \"file\" nor \"folder\".";
    }
    entry.bFolder = type->str == kFolder;
    const CJsonValue* const link = line.Find(kLink);
    if (link != nullptr && (link->kind != Kind::Boolean || !entry.bFolder)) {
        return L"the \"link\" is not true or false of a folder.";
    }
    entry.bLink = link != nullptr && link->b;
    const CJsonValue* const size = line.Find(kSize);
    entry.nSize = 0;
    if (!entry.bFolder && !GetWhole(size, LLONG_MAX, entry.nSize)) {
        return L"the \"size\" of the file is not a whole number below 2^63.";
    }
    if (entry.bFolder && size != nullptr) {
        return L"a folder has a \"size\".";
    }
    const CJsonValue* const lastWrite = FindKind(line, kLastWrite, Kind::Text);
    if (lastWrite == nullptr || !ParseJsonTime(lastWrite->str, entry.ftLastWrite)) {
        return L"the \"lastWrite\" is not a time.";
    }
    return nullptr;
}

}  // namespace

unsigned HashSizeOf(const CSnapshotHeader& header) {
    const CHashAlgorithm* const pAlgorithm = FindHashAlgorithmByRecordName(header.strHash);
    return pAlgorithm != nullptr ? pAlgorithm->cbValue : 0;
}

void AppendEscaped(std::wstring& str, const wchar_t* pszText, size_t cchText, bool bSeparators) {
    for (size_t i = 0; i < cchText; ++i) {
        const wchar_t ch = pszText[i];
        const bool bPair = IsHighSurrogate(ch) && i + 1 < cchText && IsLowSurrogate(pszText[i + 1]);
        if (ch == L'%' || (ch == L'\\' && !bSeparators) ||
            ((IsHighSurrogate(ch) || IsLowSurrogate(ch)) && !bPair)) {
            static const wchar_t kDigits[] = L"0123456789ABCDEF";
            str += L'%';
            for (int nShift = 12; nShift >= 0; nShift -= 4) {
                str += kDigits[(ch >> nShift) & 0xF];
            }
            continue;
        }
        str += ch;
        if (bPair) {
            str += pszText[++i];
        }
    }
}

bool Unescape(std::wstring& str) {
    size_t nOut = str.find(L'%');
    if (nOut == std::wstring::npos) {
        return true;
    }
    for (size_t i = nOut; i < str.size(); ++i) {
        wchar_t ch = str[i];
        if (ch == L'%') {
            unsigned nUnit = 0;
            if (i + 4 >= str.size() || !ReadUnit(str.data() + i + 1, nUnit)) {
                return false;
            }
            ch = static_cast<wchar_t>(nUnit);
            i += 4;
        }
        str[nOut++] = ch;
    }
    str.resize(nOut);
    return true;
}

bool AppendSnapshotHeader(std::string& str, const CSnapshotHeader& header) {
    std::string strLine = "{";
    AppendName(strLine, kFormat);
    AppendJsonNameOrNull(strLine, kFormatName);
    AppendNext(strLine, kVersion);
    strLine += std::to_string(kSnapshotVersion);
    AppendNext(strLine, kRoot);
    AppendText(strLine, header.strRoot);
    AppendNext(strLine, kCreated);
    strLine += '"' + FormatJsonTime(header.ftCreated) + '"';
    AppendNext(strLine, kOptions);
    strLine += '{';
    AppendName(strLine, kSubdir);
    strLine += Bool(header.bSubdir);
    AppendNext(strLine, kHash);
    AppendJsonNameOrNull(strLine, header.strHash.empty() ? nullptr : header.strHash.c_str());
    AppendNext(strLine, kSecurity);
    strLine += Bool(header.bSecurity);
    AppendNext(strLine, kFileExclusions);
    AppendTextOrNull(strLine, header.strFileExclusions);
    AppendNext(strLine, kFolderExclusions);
    AppendTextOrNull(strLine, header.strFolderExclusions);
    AppendNext(strLine, kExcludedFiles);
    AppendTexts(strLine, header.fileWildcards);
    AppendNext(strLine, kExcludedFolders);
    AppendTexts(strLine, header.folderWildcards);
    strLine += "}}\n";
    if (strLine.size() > kMaxHeaderLine) {
        return false;
    }
    str += strLine;
    return true;
}

void AppendSnapshotEntry(std::string& str, const CSnapshotEntry& entry, bool bSecurity) {
    std::wstring strPath = entry.strFolder;
    strPath += L'\\';
    AppendEscaped(strPath, entry.strName.data(), entry.strName.size(), false);
    str += '{';
    AppendName(str, kPath);
    AppendJsonString(str, strPath.c_str());
    AppendNext(str, kType);
    str += '"';
    str += entry.bFolder ? kFolder : kFile;
    str += '"';
    if (!entry.bFolder) {
        AppendNext(str, kSize);
        str += std::to_string(entry.nSize);
    }
    AppendNext(str, kLastWrite);
    str += '"' + FormatJsonTime(entry.ftLastWrite) + '"';
    if (entry.cbHash != 0) {
        AppendNext(str, kHash);
        AppendJsonHash(str, entry.hash, entry.cbHash);
    }
    if (entry.bLink) {
        AppendNext(str, kLink);
        str += "true";
    }
    if (entry.dwError == FILE_CHANGED_WHILE_READ) {
        // No system code: the program's own reason says what happened.
        AppendNext(str, kError);
        str += "null";
        AppendNext(str, kReason);
        AppendJsonString(str, entry.strReason.c_str());
    } else if (entry.dwError != ERROR_SUCCESS) {
        AppendNext(str, kError);
        str += std::to_string(entry.dwError);
    }
    if (bSecurity && !entry.bFolder) {
        AppendNext(str, entry.nSecurity < 0 ? kSecurityError : kSecurity);
        str += entry.nSecurity < 0 ? std::to_string(entry.nSecurity) : Bool(entry.nSecurity == 0);
    }
    if (entry.nTwin != 0) {
        AppendNext(str, kTwin);
        str += std::to_string(entry.nTwin);
    }
    str += "}\n";
}

void AppendSnapshotExcluded(std::string& str, const CSnapshotExcluded& excluded) {
    str += '{';
    AppendName(str, kFolder);
    AppendJsonString(str, excluded.strFolder.c_str());
    AppendNext(str, excluded.bFolders ? kExcludedFolders : kExcludedFiles);
    str += std::to_string(excluded.nCount) + "}\n";
}

void AppendSnapshotEnd(std::string& str, const CSnapshotEnd& end) {
    str += '{';
    AppendName(str, kEnd);
    str += '{';
    AppendName(str, kFiles);
    str += std::to_string(end.nFiles);
    AppendNext(str, kFolders);
    str += std::to_string(end.nFolders);
    AppendNext(str, kBytes);
    str += std::to_string(end.nBytes);
    // Most significant byte first, as xxHash writes its values.
    BYTE checksum[sizeof(end.nChecksum)];
    for (size_t i = 0; i < sizeof(checksum); ++i) {
        checksum[i] = static_cast<BYTE>(end.nChecksum >> (8 * (sizeof(checksum) - 1 - i)));
    }
    AppendNext(str, kChecksum);
    str += '"';
    AppendHexBytes(str, checksum, sizeof(checksum));
    str += "\"}}\n";
}

const wchar_t* ReadSnapshotHeader(const CSnapshotLine& line, CSnapshotHeader& header) {
    const CJsonValue* const format = FindKind(line, kFormat, Kind::Text);
    if (format == nullptr || format->str != kFormatName) {
        return L"the file is not a quorva snapshot.";
    }
    unsigned long long nVersion = 0;
    if (!GetWhole(line.Find(kVersion), kSnapshotVersion, nVersion) || nVersion == 0) {
        return L"the snapshot's version is not 1, 2 or 3.";
    }
    header.nVersion = static_cast<unsigned>(nVersion);
    const CJsonValue* const root = FindKind(line, kRoot, Kind::Text);
    const CJsonValue* const created = FindKind(line, kCreated, Kind::Text);
    if (root == nullptr || created == nullptr || !ParseJsonTime(created->str, header.ftCreated) ||
        FindKind(line, kOptions, Kind::Object) == nullptr ||
        !ReadText(root->str, header.nVersion, header.strRoot)) {
        return L"the header lacks \"root\", \"created\" or \"options\".";
    }
    const CJsonValue* const subdir = FindKind(line, kSubdir, Kind::Boolean, kOptions);
    const CJsonValue* const security = FindKind(line, kSecurity, Kind::Boolean, kOptions);
    const CJsonValue* const hash = line.Find(kHash, kOptions);
    bool bRight = subdir != nullptr && security != nullptr && hash != nullptr &&
                  (hash->kind == Kind::Null ||
                   (hash->kind == Kind::Text &&
                    FindHashAlgorithmByRecordName(std::string(hash->str)) != nullptr));
    const char* const lists[] = {kFileExclusions, kFolderExclusions};
    std::wstring* const paths[] = {&header.strFileExclusions, &header.strFolderExclusions};
    for (int i = 0; i < 2 && bRight; ++i) {
        const CJsonValue* const list = line.Find(lists[i], kOptions);
        bRight = list != nullptr && (list->kind == Kind::Null || list->kind == Kind::Text);
        paths[i]->clear();
        if (bRight && list->kind == Kind::Text) {
            bRight = ReadText(list->str, header.nVersion, *paths[i]);
        }
    }
    header.fileWildcards.clear();
    header.folderWildcards.clear();
    if (bRight && header.nVersion >= 2) {
        bRight =
            ReadTexts(line.Find(kExcludedFiles, kOptions), header.nVersion, header.fileWildcards) &&
            ReadTexts(line.Find(kExcludedFolders, kOptions), header.nVersion,
                      header.folderWildcards);
    }
    if (!bRight) {
        return L"the \"options\" of the header are not those of a snapshot.";
    }
    header.bSubdir = subdir->b;
    header.bSecurity = security->b;
    header.strHash = hash->kind == Kind::Text ? std::string(hash->str) : std::string();
    return nullptr;
}

bool IsSnapshotExcluded(const CSnapshotLine& line) {
    return line.Find(kFolder) != nullptr;
}

const wchar_t* ReadSnapshotExcluded(const CSnapshotLine& line, const CSnapshotHeader& header,
                                    CSnapshotExcluded& excluded) {
    const CJsonValue* const folder = FindKind(line, kFolder, Kind::Text);
    const CJsonValue* const files = line.Find(kExcludedFiles);
    const CJsonValue* const folders = line.Find(kExcludedFolders);
    excluded.bFolders = folders != nullptr;
    if (header.nVersion < 2 || folder == nullptr || (files != nullptr) == (folders != nullptr) ||
        !GetWhole(files != nullptr ? files : folders, UINT_MAX, excluded.nCount) ||
        excluded.nCount == 0 || (!folder->str.empty() && folder->str[0] != '\\')) {
        return L"the line does not count what a folder's exclusions left out.";
    }
    // No writer counts what no wildcard of the header can leave out.
    if ((excluded.bFolders ? header.folderWildcards : header.fileWildcards).empty()) {
        return L"the line counts what the snapshot's exclusions cannot leave out.";
    }
    excluded.strFolder = FromUtf8(folder->str.data(), folder->str.size());
    return nullptr;
}

bool IsSnapshotEnd(const CSnapshotLine& line) {
    return line.Find(kEnd) != nullptr;
}

const wchar_t* ReadSnapshotEnd(const CSnapshotLine& line, const CSnapshotHeader& header,
                               CSnapshotEnd& end) {
    if (!GetWhole(line.Find(kFiles, kEnd), ULLONG_MAX, end.nFiles) ||
        !GetWhole(line.Find(kFolders, kEnd), ULLONG_MAX, end.nFolders) ||
        !GetWhole(line.Find(kBytes, kEnd), ULLONG_MAX, end.nBytes)) {
        return L"the closing line lacks a count.";
    }
    end.bChecksum = false;
    end.nChecksum = 0;
    if (header.nVersion < kSnapshotChecksumVersion) {
        return nullptr;
    }
    const CJsonValue* const checksum = FindKind(line, kChecksum, Kind::Text, kEnd);
    BYTE value[sizeof(end.nChecksum)];
    if (checksum == nullptr || checksum->str.size() != 2 * sizeof(value) ||
        !ParseHexBytes(checksum->str.data(), sizeof(value), value)) {
        return L"the closing line lacks its checksum.";
    }
    for (const BYTE b : value) {
        end.nChecksum = (end.nChecksum << 8) | b;
    }
    end.bChecksum = true;
    return nullptr;
}

const wchar_t* ReadSnapshotEntry(const CSnapshotLine& line, const CSnapshotHeader& header,
                                 CSnapshotEntry& entry) {
    const CJsonValue* const path = FindKind(line, kPath, Kind::Text);
    if (path == nullptr) {
        return L"the entry has no \"path\" text.";
    }
    if (!ReadPath(path->str, header.nVersion, entry)) {
        return L"the \"path\" is not a path below the root.";
    }
    if (const wchar_t* const pszWrong = ReadFacts(line, entry)) {
        return pszWrong;
    }
    entry.dwError = ERROR_SUCCESS;
    unsigned long long n = 0;
    if (const CJsonValue* const error = line.Find(kError)) {
        if (error->kind == Kind::Null && !entry.bFolder) {
            // No system code: a file that changed while it was read.
            entry.dwError = FILE_CHANGED_WHILE_READ;
        } else if (!GetWhole(error, 0xFFFFFFFFULL, n) || n == 0) {
            return L"the \"error\" is not an error code.";
        } else {
            entry.dwError = static_cast<DWORD>(n);
        }
    }
    const unsigned cbHash = HashSizeOf(header);
    entry.cbHash = 0;
    if (const CJsonValue* const hash = line.Find(kHash)) {
        if (const wchar_t* const pszWrong = ReadHash(hash, cbHash, entry)) {
            return pszWrong;
        }
    } else if (cbHash != 0 && !entry.bFolder && entry.dwError == ERROR_SUCCESS) {
        return L"the file has no \"hash\".";
    }
    entry.nTwin = 0;
    if (const CJsonValue* const twin = line.Find(kTwin)) {
        if (header.nVersion < 2 || !GetWhole(twin, UINT_MAX, n) || n == 0) {
            return L"the \"twin\" is not a count of earlier entries.";
        }
        entry.nTwin = static_cast<unsigned>(n);
    }
    return ReadSecurity(line, header.bSecurity, entry);
}
