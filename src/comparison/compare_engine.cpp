#include "comparison/compare_engine.h"

#include <cstdarg>

#include "comparison/comparison_results.h"
#include "comparison/file_listing.h"
#include "comparison/file_time.h"
#include "console/console.h"
#include "hashing/hash.h"
#include "paths/long_path.h"
#include "runtime/handle.h"
#include "runtime/platform.h"
#include "runtime/wide_string.h"

#include <aclapi.h>
#include <shlwapi.h>

int CheckOwnerAndDacl(const wchar_t* pszPath) {
    PSID pOwner = nullptr;
    PACL pDacl = nullptr;
    PSECURITY_DESCRIPTOR pDescriptor = nullptr;
    const DWORD dwResult = ::GetNamedSecurityInfoW(
        pszPath, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, &pOwner,
        nullptr, &pDacl, nullptr, &pDescriptor);
    CLocalMemory descriptor(pDescriptor);
    if (dwResult != ERROR_SUCCESS) {
        return HResultFromWin32(dwResult);
    }
    return (pOwner == nullptr || pDacl == nullptr) ? 1 : 0;
}

namespace {

const wchar_t kBackslash[] = L"\\";
SecurityCheckFunction g_pfnSecurityCheck = CheckOwnerAndDacl;

class CComparison {
public:
    CComparison(CConsole& console, CComparisonResults& results)
        : m_console(console), m_results(results), m_dwOptions(console.m_dwOptions) {}

    bool Run();

private:
    bool BuildRoot(const std::wstring& strRoot, std::wstring& strLongRoot);
    bool ListRoot(const std::wstring& strLongRoot, CFileEntryArray& listing, CSideResults& side,
                  bool& bDenied);
    bool CompareSourceFile(CFileEntry& source);
    bool CompareDestinationFile(CFileEntry& destination);
    // The date, size and hash checks of a pair; false when an error stopped
    // the comparison.
    bool ComparePair(CFileEntry& source, CFileEntry& destination);
    bool CompareHashes(const wchar_t* pszName);
    void CheckSecurity(const wchar_t* pszName, bool bInSource, bool bInDestination);

    bool SetDisplayPath(const wchar_t* pszName);
    bool BuildItemPath(const std::wstring& strLongRoot, const wchar_t* pszName);
    bool IsVerbose() const {
        return (m_console.GetDisplayLevel() & 0x7FFFFFFF) == DISPLAY_VERBOSE;
    }
    static const wchar_t* SizeText(CFileEntry& entry);

    // A finding: the display path, then the text on the same line.
    void ReportFinding(const wchar_t* pszFormat, ...);
    // An engine error: the display path on its own line, then the error.
    void ReportEngineError(const wchar_t* pszText, HRESULT hrCode);
    // Reports the thread's last error with pszText, first making
    // pszDisplayPath the display path when it is given. Returns false.
    bool ReportPathError(const wchar_t* pszText, const wchar_t* pszDisplayPath = nullptr);

    CConsole& m_console;
    CComparisonResults& m_results;
    const DWORD m_dwOptions;
    std::wstring m_strSourceRoot;       // long path of the source root
    std::wstring m_strDestinationRoot;  // long path of the destination root
    CFileEntryArray m_sourceListing;
    CFileEntryArray m_destinationListing;
};

bool CComparison::Run() {
    bool bSourceDenied = false;
    bool bDestinationDenied = false;

    if (!BuildRoot(m_console.m_strSourcePath, m_strSourceRoot)) {
        return ReportPathError(L"could not build the source path.", kBackslash);
    }
    if (!ListRoot(m_strSourceRoot, m_sourceListing, m_results.m_source, bSourceDenied)) {
        return ReportPathError(L"could not search for files in source path.", kBackslash);
    }
    if (!BuildRoot(m_console.m_strDestinationPath, m_strDestinationRoot)) {
        return ReportPathError(L"could not build the destination path.", kBackslash);
    }
    if (!ListRoot(m_strDestinationRoot, m_destinationListing, m_results.m_destination,
                  bDestinationDenied)) {
        return ReportPathError(L"could not search for files in destination path.", kBackslash);
    }

    if (bSourceDenied || bDestinationDenied) {
        WriteMessage(m_console, kBackslash, MSG_INFO | MSG_VERBATIM, 0);
        PrintLine(m_console, !bDestinationDenied ? L": folder inaccessible in source."
                             : bSourceDenied     ? L": folder inaccessible in both source and destination."
                                                 : L": folder inaccessible in destination.");
    }

    for (size_t i = 0; i < m_sourceListing.GetCount(); ++i) {
        if (!CompareSourceFile(m_sourceListing[i])) {
            return false;
        }
    }
    for (size_t i = 0; i < m_destinationListing.GetCount(); ++i) {
        if (!CompareDestinationFile(m_destinationListing[i])) {
            return false;
        }
    }
    return true;
}

bool CComparison::BuildRoot(const std::wstring& strRoot, std::wstring& strLongRoot) {
    // Appending a lone backslash normalises the path: a bare drive becomes
    // its root folder.
    if (!g_itemPath.Assign(strRoot.c_str()) || !g_itemPath.Append(kBackslash)) {
        return false;
    }
    strLongRoot = g_itemPath.GetPath();
    return true;
}

bool CComparison::ListRoot(const std::wstring& strLongRoot, CFileEntryArray& listing,
                           CSideResults& side, bool& bDenied) {
    // A missing root lists as empty: every file of the other side is then
    // missing on this one.
    if (!::PathFileExistsW(strLongRoot.c_str())) {
        return true;
    }
    if (g_searchPath.Assign(strLongRoot.c_str()) && g_searchPath.Append(L"*.*") &&
        ListFiles(g_searchPath.GetPath(), listing, side)) {
        return true;
    }
    if (::GetLastError() == ERROR_ACCESS_DENIED) {
        ++side.m_nInaccessibleFolders;
        bDenied = true;
        return true;
    }
    return false;
}

bool CComparison::CompareSourceFile(CFileEntry& source) {
    if (!SetDisplayPath(source.szName)) {
        return ReportPathError(L"could not build the source path.", kBackslash);
    }
    CFileEntry destination;
    const bool bFound = FindEntry(m_destinationListing, source.szName, destination);
    if (!bFound) {
        ++m_results.m_destination.m_nMissingFiles;
        ReportFinding(L": file not found in destination, %s expected.", SizeText(source));
    } else if (!ComparePair(source, destination)) {
        return false;
    }
    if (m_dwOptions & OPT_SECURITY) {
        CheckSecurity(source.szName, true, bFound);
    }
    ++m_results.m_source.m_nTested;
    return true;
}

bool CComparison::CompareDestinationFile(CFileEntry& destination) {
    CFileEntry source;
    if (!FindEntry(m_sourceListing, destination.szName, source)) {
        if (!SetDisplayPath(destination.szName)) {
            return ReportPathError(L"could not build the source path.", kBackslash);
        }
        ++m_results.m_source.m_nMissingFiles;
        ReportFinding(L": file not found in source, %s expected.", SizeText(destination));
        if (m_dwOptions & OPT_SECURITY) {
            CheckSecurity(destination.szName, false, true);
        }
    }
    ++m_results.m_destination.m_nTested;
    return true;
}

bool CComparison::ComparePair(CFileEntry& source, CFileEntry& destination) {
    if (m_dwOptions & OPT_DATE) {
        const ULONGLONG nSource =
            (static_cast<ULONGLONG>(source.ftLastWrite.dwHighDateTime) << 32) |
            source.ftLastWrite.dwLowDateTime;
        const ULONGLONG nDestination =
            (static_cast<ULONGLONG>(destination.ftLastWrite.dwHighDateTime) << 32) |
            destination.ftLastWrite.dwLowDateTime;
        // The gap is taken in unsigned arithmetic so that no pair of times
        // can overflow it; the tolerance is never negative.
        const ULONGLONG nGap =
            nDestination > nSource ? nDestination - nSource : nSource - nDestination;
        if (nGap > static_cast<ULONGLONG>(m_console.m_nDateTolerance)) {
            ++m_results.m_nDateMismatches;
            std::wstring strSourceTime;
            if (!FormatFileTime(source.ftLastWrite, strSourceTime)) {
                return ReportPathError(L"could not format source file time.");
            }
            std::wstring strDestinationTime;
            if (!FormatFileTime(destination.ftLastWrite, strDestinationTime)) {
                return ReportPathError(L"could not format destination file time.");
            }
            ReportFinding(nDestination > nSource ? L": file in destination is more recent! (%s < %s)."
                                                 : L": file in source is more recent! (%s > %s).",
                          strSourceTime.c_str(), strDestinationTime.c_str());
            return true;
        }
    }

    if (source.nSize != destination.nSize) {
        ++m_results.m_nSizeMismatches;
        if (source.nSize == 0) {
            ReportFinding(L": source file size is null, %s expected.", SizeText(destination));
        } else if (destination.nSize == 0) {
            ReportFinding(L": destination file size is null, %s expected.", SizeText(source));
        } else {
            ReportFinding(L": file sizes are different! (%s != %s).", SizeText(source),
                          SizeText(destination));
        }
        return true;
    }

    if (m_dwOptions & OPT_HASH) {
        return CompareHashes(source.szName);
    }

    ++m_results.m_nIdentical;
    if (IsVerbose()) {
        ReportFinding(L": files are identical.");
    }
    return true;
}

// Hashes the source file, then the destination file, also when the source
// was denied, and compares the two values.
bool CComparison::CompareHashes(const wchar_t* pszName) {
    const ALG_ID algId = m_console.m_nHashAlgorithm == HASH_MD5 ? CALG_MD5 : CALG_SHA1;
    bool bSourceDenied = false;
    bool bDestinationDenied = false;

    if (!BuildItemPath(m_strSourceRoot, pszName)) {
        return ReportPathError(L"could not build the source path.");
    }
    if (!g_sourceHash.HashFile(g_itemPath.GetPath(), algId)) {
        if (::GetLastError() != ERROR_ACCESS_DENIED) {
            return ReportPathError(L"could not compute source file hash.");
        }
        ++m_results.m_source.m_nInaccessibleFiles;
        bSourceDenied = true;
    }
    if (!BuildItemPath(m_strDestinationRoot, pszName)) {
        return ReportPathError(L"could not build the destination path.");
    }
    if (!g_destinationHash.HashFile(g_itemPath.GetPath(), algId)) {
        if (::GetLastError() != ERROR_ACCESS_DENIED) {
            return ReportPathError(L"could not compute destination file hash.");
        }
        ++m_results.m_destination.m_nInaccessibleFiles;
        bDestinationDenied = true;
    }

    if (bSourceDenied) {
        ReportFinding(bDestinationDenied ? L": file inaccessible in both source and destination."
                                         : L": file inaccessible in source.");
    } else if (bDestinationDenied) {
        ReportFinding(L": file inaccessible in destination.");
    } else if (g_sourceHash.IsEqual(g_destinationHash)) {
        ++m_results.m_nIdentical;
        if (IsVerbose()) {
            ReportFinding(L": files are identical (%s).", g_sourceHash.GetHashText().c_str());
        }
    } else {
        ++m_results.m_nHashMismatches;
        ReportFinding(L": file contents are different! (%s != %s).",
                      g_sourceHash.GetHashText().c_str(), g_destinationHash.GetHashText().c_str());
    }
    return true;
}

void CComparison::CheckSecurity(const wchar_t* pszName, bool bInSource, bool bInDestination) {
    bool bSourceIssue = false;
    bool bDestinationIssue = false;
    if (bInSource) {
        if (!BuildItemPath(m_strSourceRoot, pszName)) {
            ReportEngineError(L"could not build the source path.", HResultFromLastError());
        } else {
            const int nResult = g_pfnSecurityCheck(g_itemPath.GetPath());
            if (nResult < 0) {
                ReportEngineError(L"could not get security descriptor of source.", nResult);
            } else if (nResult == 1) {
                ++m_results.m_source.m_nSecurityIssues;
                bSourceIssue = true;
            }
        }
    }
    if (bInDestination) {
        if (!BuildItemPath(m_strDestinationRoot, pszName)) {
            ReportEngineError(L"could not build the destination path.", HResultFromLastError());
        } else {
            const int nResult = g_pfnSecurityCheck(g_itemPath.GetPath());
            if (nResult < 0) {
                ReportEngineError(L"could not get security descriptor of destination.", nResult);
            } else if (nResult == 1) {
                ++m_results.m_destination.m_nSecurityIssues;
                bDestinationIssue = true;
            }
        }
    }
    if (bSourceIssue) {
        ReportFinding(bDestinationIssue
                          ? L": file does not have any owner or DACL in both source and destination."
                          : L": file does not have any owner or DACL in source.");
    } else if (bDestinationIssue) {
        ReportFinding(L": file does not have any owner or DACL in destination.");
    }
}

bool CComparison::SetDisplayPath(const wchar_t* pszName) {
    return g_displayPath.Assign(kBackslash) && g_displayPath.Append(pszName);
}

bool CComparison::BuildItemPath(const std::wstring& strLongRoot, const wchar_t* pszName) {
    return g_itemPath.Assign(strLongRoot.c_str()) && g_itemPath.Append(kBackslash) &&
           g_itemPath.Append(pszName);
}

const wchar_t* CComparison::SizeText(CFileEntry& entry) {
    ::StrFormatByteSizeW(static_cast<LONGLONG>(entry.nSize), entry.szSizeText,
                         ARRAYSIZE(entry.szSizeText));
    return entry.szSizeText;
}

void CComparison::ReportFinding(const wchar_t* pszFormat, ...) {
    WriteMessage(m_console, g_displayPath.GetPath(), MSG_INFO | MSG_VERBATIM, 0);
    va_list args;
    va_start(args, pszFormat);
    m_console.Write(pszFormat, MSG_INFO | MSG_NEWLINE, 0, args);
    va_end(args);
}

void CComparison::ReportEngineError(const wchar_t* pszText, HRESULT hrCode) {
    WriteMessage(m_console, g_displayPath.GetPath(), MSG_INFO | MSG_VERBATIM, 0);
    WriteMessage(m_console, nullptr, MSG_INFO | MSG_NEWLINE, 0);
    PrintError(m_console, pszText, hrCode);
}

bool CComparison::ReportPathError(const wchar_t* pszText, const wchar_t* pszDisplayPath) {
    const DWORD dwError = ::GetLastError();
    if (pszDisplayPath != nullptr) {
        g_displayPath.Assign(pszDisplayPath);
    }
    ReportEngineError(pszText, HResultFromWin32(dwError));
    ::SetLastError(dwError);
    return false;
}

}  // namespace

bool CompareFolders(CConsole& console, CComparisonResults& results) {
    CComparison comparison(console, results);
    return comparison.Run();
}

bool CompareFolders(CComparisonResults& results) { return CompareFolders(g_console, results); }

void SetSecurityCheck(SecurityCheckFunction pfnCheck) {
    g_pfnSecurityCheck = pfnCheck != nullptr ? pfnCheck : CheckOwnerAndDacl;
}
