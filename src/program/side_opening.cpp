#include "program/side_opening.h"

#include <cctype>
#include <cstring>
#include <cwchar>
#include <string>
#include <vector>

#include "exclusions/exclusions.h"
#include "paths/long_path.h"
#include "paths/path_kind.h"
#include "program/run.h"
#include "reports/console_report.h"
#include "runtime/error_text.h"
#include "runtime/file_time.h"
#include "runtime/handle.h"
#include "runtime/wide_string.h"
#include "sides/flat_side.h"
#include "sides/manifest_reader.h"

namespace {

enum class SideKind { Folder, Snapshot, Manifest };

// What a compared path names: a folder, or a file that its first byte (after
// a UTF-8 byte order mark) tells apart: a checksum manifest begins with a
// hexadecimal digit, a backslash or a tag (MD5, SHA1, SHA256); anything else
// goes to the snapshot's reader, which reads a snapshot or says why the file
// is none (one that cannot be read or holds nothing too).
SideKind GetSideKind(const std::wstring& strPath) {
    if (GetPathKind(strPath.c_str()) == PathKind::Folder) {
        return SideKind::Folder;
    }
    const CFileHandle hFile(::CreateFileW(strPath.c_str(), GENERIC_READ,
                                          FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                          OPEN_EXISTING, 0, nullptr));
    char start[4] = {};
    DWORD cbRead = 0;
    if (!hFile || !::ReadFile(hFile.Get(), start, sizeof(start), &cbRead, nullptr)) {
        return SideKind::Snapshot;
    }
    const DWORD nFirst = cbRead >= 3 && std::memcmp(start, "\xEF\xBB\xBF", 3) == 0 ? 3 : 0;
    const char chFirst = cbRead > nFirst ? start[nFirst] : '\0';
    return std::isxdigit(static_cast<unsigned char>(chFirst)) || chFirst == '\\' ||
                   chFirst == 'M' || chFirst == 'S'
               ? SideKind::Manifest
               : SideKind::Snapshot;
}

// A compared path: the folder, or the file's reader, opened, then read
// through (checked).
struct COpening {
    SideKind kind = SideKind::Folder;
    std::unique_ptr<CSnapshotReader> pSnapshot;
    std::unique_ptr<CManifestReader> pManifest;
    DWORD dwError = ERROR_SUCCESS;

    void Open(const std::wstring& strPath) {
        kind = GetSideKind(strPath);
        if (kind == SideKind::Snapshot) {
            pSnapshot = std::make_unique<CSnapshotReader>();
            dwError = pSnapshot->Open(strPath.c_str());
        } else if (kind == SideKind::Manifest) {
            pManifest = std::make_unique<CManifestReader>();
            dwError = pManifest->Open(strPath.c_str());
        }
    }
    void Read() {
        if (dwError == ERROR_SUCCESS && kind != SideKind::Folder) {
            dwError = pSnapshot ? pSnapshot->Read() : pManifest->Read();
        }
    }
    static DWORD WINAPI ThreadMain(void* pParameter) {
        static_cast<COpening*>(pParameter)->Read();
        return 0;
    }
};

// Opens the two compared paths and checks the files among them; two are
// checked at once, the destination's on a thread of its own.
void OpenPaths(const CConsole& console, COpening (&openings)[2]) {
    openings[0].Open(console.m_strSourcePath);
    openings[1].Open(console.m_strDestinationPath);
    CKernelHandle hThread;
    if (openings[0].kind != SideKind::Folder && openings[1].kind != SideKind::Folder) {
        hThread.Reset(::CreateThread(nullptr, 0, COpening::ThreadMain, &openings[1], 0, nullptr));
    }
    openings[0].Read();
    if (hThread) {
        ::WaitForSingleObject(hThread.Get(), INFINITE);
    } else {
        openings[1].Read();
    }
}

// Reports why a file given as a side could not be read: 0 when it was,
// otherwise EXIT_SETUP_FAILED.
int CheckRead(CConsole& console, const COpening& opening, const std::wstring& strPath) {
    if (opening.dwError == ERROR_SUCCESS) {
        return 0;
    }
    const bool bSnapshot = opening.kind == SideKind::Snapshot;
    const wchar_t* const pszFailed =
        bSnapshot ? L"snapshot file could not be read." : L"manifest file could not be read.";
    const std::wstring& strDamage =
        bSnapshot ? opening.pSnapshot->GetDamage() : opening.pManifest->GetDamage();
    if (opening.dwError == ERROR_INVALID_DATA && !strDamage.empty()) {
        PrintError(console, pszFailed, 0);
        PrintLine(
            console, L"%s, line %I64u: %s", strPath.c_str(),
            bSnapshot ? opening.pSnapshot->GetDamagedLine() : opening.pManifest->GetDamagedLine(),
            strDamage.c_str());
        return EXIT_SETUP_FAILED;
    }
    PrintError(console, pszFailed, HResultFromWin32(opening.dwError));
    return EXIT_SETUP_FAILED;
}

// Refuses a run whose options a side cannot serve: 0, or EXIT_PARAMETERS
// after reporting why.
int Refuse(CConsole& console, const std::wstring& strRefused) {
    if (strRefused.empty()) {
        return 0;
    }
    PrintError(console, L"%s", 0, strRefused.c_str());
    console.EndBlock();
    return EXIT_PARAMETERS;
}

// A manifest holds values of one algorithm and nothing else: it implies
// /hash of its algorithm, refuses /hash of another (or another manifest of
// another), and refuses what needs sizes, times or security. Returns 0, or
// EXIT_PARAMETERS after reporting why.
int ApplyManifests(CConsole& console, const COpening (&openings)[2]) {
    const CHashAlgorithm* pAlgorithm = nullptr;
    for (int nSide = 0; nSide < 2; ++nSide) {
        if (openings[nSide].kind != SideKind::Manifest) {
            continue;
        }
        if (console.m_dwOptions & (OPT_DATE | OPT_CONTENT | OPT_SECURITY)) {
            return Refuse(console,
                          L"/date, /content and /security cannot be used with a manifest.");
        }
        const CHashAlgorithm* const pWanted =
            (console.m_dwOptions & OPT_HASH) ? console.GetHashAlgorithm() : pAlgorithm;
        const CHashAlgorithm* const pHeld = openings[nSide].pManifest->GetAlgorithm();
        if (pWanted != nullptr && pWanted != pHeld) {
            return Refuse(console, FormatString(L"the %s manifest holds no %s values.",
                                                nSide == 0 ? L"source" : L"destination",
                                                pWanted->pszDisplay));
        }
        pAlgorithm = pHeld;
    }
    if (pAlgorithm != nullptr) {
        console.m_dwOptions |= OPT_HASH;
        console.m_nHashAlgorithm = pAlgorithm->nId;
    }
    return 0;
}

// Whether what the options ask is in the snapshot: 0, or EXIT_PARAMETERS
// after reporting why not.
int CheckSnapshot(CConsole& console, const CSnapshotReader& snapshot, bool bSource) {
    const CSnapshotHeader& header = snapshot.GetHeader();
    const wchar_t* const pszSide = bSource ? L"source" : L"destination";
    std::wstring strRefused;
    if (console.m_dwOptions & OPT_CONTENT) {
        strRefused = L"a snapshot cannot be compared by content; use /hash.";
    }
    if (strRefused.empty() && (console.m_dwOptions & OPT_HASH)) {
        const CHashAlgorithm* const pWanted = console.GetHashAlgorithm();
        if (FindHashAlgorithmByRecordName(header.strHash) != pWanted) {
            strRefused =
                FormatString(L"the %s snapshot holds no %s values.", pszSide, pWanted->pszDisplay);
        }
    }
    if (strRefused.empty() && (console.m_dwOptions & OPT_SUBDIR) && !header.bSubdir) {
        strRefused = FormatString(
            L"the %s snapshot holds no subfolders: it was made without /subdir.", pszSide);
    }
    if (strRefused.empty() && (console.m_dwOptions & OPT_SECURITY) && !header.bSecurity) {
        strRefused = FormatString(
            L"the %s snapshot holds no owners and DACLs: it was made "
            L"without /security.",
            pszSide);
    }
    return Refuse(console, strRefused);
}

// A manifest kept in the folder it describes (at any depth) leaves itself
// out: the folder's listing never shows it (it is one of the program's own
// files while it is read), and its own line, if it has one, is dropped.
void LeaveManifestOut(CManifestReader& manifest, const std::wstring& strManifest,
                      const std::wstring& strFolder) {
    std::wstring strRoot = strFolder;
    if (strRoot.empty() || strRoot.back() != L'\\') {
        strRoot += L'\\';
    }
    if (strManifest.size() > strRoot.size() &&
        ::CompareStringOrdinal(strManifest.c_str(), static_cast<int>(strRoot.size()),
                               strRoot.c_str(), static_cast<int>(strRoot.size()),
                               TRUE) == CSTR_EQUAL) {
        manifest.LeaveOut(strManifest.substr(strRoot.size()));
    }
}

// The side that the engine lists for an opening that was read.
std::unique_ptr<CTreeSide> TakeSide(COpening& opening, const std::wstring& strPath) {
    switch (opening.kind) {
        case SideKind::Snapshot:
            return std::move(opening.pSnapshot);
        case SideKind::Manifest:
            return std::move(opening.pManifest);
        case SideKind::Folder:
            break;
    }
    return std::make_unique<CFolderSide>(LongRoot(strPath));
}

// The parameter line of a side: a snapshot named with the folder it
// recorded and when, then what it left out; a manifest with its algorithm
// and its files; pszEnd after the last line.
void PrintSideLine(CConsole& console, const wchar_t* pszLabel, const std::wstring& strPath,
                   const CSnapshotReader* pSnapshot, const CManifestReader* pManifest,
                   const wchar_t* pszSide, const wchar_t* pszEnd) {
    if (pManifest != nullptr) {
        // "Source path" becomes "Source manifest".
        const std::wstring strLabel(pszLabel, std::wcschr(pszLabel, L' ') - pszLabel);
        PrintLine(console, L"%s manifest: %s (%s, %s files).%s", strLabel.c_str(), strPath.c_str(),
                  pManifest->GetAlgorithm()->pszStandard,
                  FormatGroupedNumber(pManifest->GetFiles()).c_str(), pszEnd);
        return;
    }
    if (pSnapshot == nullptr) {
        PrintLine(console, L"%s: %s.%s", pszLabel, strPath.c_str(), pszEnd);
        return;
    }
    const CSnapshotHeader& header = pSnapshot->GetHeader();
    // The date and the minute of the ISO text: "2024-03-07T14:05:09Z" is
    // "2024-03-07 14:05".
    const std::wstring strCreated = FormatIsoTime(header.ftCreated, 0);
    const size_t nTime = strCreated.find(L'T');
    std::vector<std::wstring> lines(
        1, FormatString(L"%s: %s (snapshot %s, %s %s UTC).", pszLabel, header.strRoot.c_str(),
                        strPath.c_str(), strCreated.substr(0, nTime).c_str(),
                        strCreated.substr(nTime + 1, 5).c_str()));
    const struct {
        const CStringList& wildcards;
        const wchar_t* pszKind;
    } lists[] = {{header.fileWildcards, L"files"}, {header.folderWildcards, L"folders"}};
    for (const auto& list : lists) {
        if (list.wildcards.empty()) {
            continue;
        }
        std::wstring strWildcards;
        for (const std::wstring& strWildcard : list.wildcards) {
            strWildcards += (strWildcards.empty() ? L"" : L", ") + strWildcard;
        }
        lines.push_back(FormatString(L"Excluding the %s snapshot's %s: %s.", pszSide, list.pszKind,
                                     strWildcards.c_str()));
    }
    for (size_t i = 0; i < lines.size(); ++i) {
        PrintLine(console, L"%s%s", lines[i].c_str(), i + 1 == lines.size() ? pszEnd : L"");
    }
}

// What a snapshot left out is left out of both sides, and counted as the
// exclusions given with the comparison are.
void AddSnapshotExclusions(CConsole& console, const CSnapshotReader* pSnapshot) {
    if (pSnapshot == nullptr) {
        return;
    }
    const CSnapshotHeader& header = pSnapshot->GetHeader();
    if (!header.fileWildcards.empty()) {
        g_fileExclusions.insert(g_fileExclusions.end(), header.fileWildcards.begin(),
                                header.fileWildcards.end());
        console.m_dwOptions |= OPT_EXFILE;
    }
    if (!header.folderWildcards.empty()) {
        g_folderExclusions.insert(g_folderExclusions.end(), header.folderWildcards.begin(),
                                  header.folderWildcards.end());
        console.m_dwOptions |= OPT_EXFOLDER;
    }
}

}  // namespace

int OpenSides(CConsole& console, CComparedSides& sides) {
    COpening openings[2];
    OpenPaths(console, openings);
    const std::wstring* const paths[2] = {&console.m_strSourcePath, &console.m_strDestinationPath};
    for (int nSide = 0; nSide < 2; ++nSide) {
        const int nExit = CheckRead(console, openings[nSide], *paths[nSide]);
        if (nExit != 0) {
            return nExit;
        }
    }
    int nExit = ApplyManifests(console, openings);
    if (nExit == 0 && (console.m_dwOptions & OPT_MOVES) && !(console.m_dwOptions & OPT_HASH)) {
        nExit = Refuse(console, L"/moves needs /hash.");
    }
    for (int nSide = 0; nSide < 2 && nExit == 0; ++nSide) {
        if (openings[nSide].kind == SideKind::Snapshot) {
            nExit = CheckSnapshot(console, *openings[nSide].pSnapshot, nSide == 0);
        }
    }
    if (nExit != 0) {
        return nExit;
    }
    for (int nSide = 0; nSide < 2; ++nSide) {
        if (openings[nSide].kind == SideKind::Manifest &&
            openings[1 - nSide].kind == SideKind::Folder) {
            LeaveManifestOut(*openings[nSide].pManifest, *paths[nSide], *paths[1 - nSide]);
        }
    }
    sides.pSourceSnapshot = openings[0].pSnapshot.get();
    sides.pDestinationSnapshot = openings[1].pSnapshot.get();
    const CManifestReader* const pSourceManifest = openings[0].pManifest.get();
    const CManifestReader* const pDestinationManifest = openings[1].pManifest.get();
    sides.bSourceManifest = pSourceManifest != nullptr;
    sides.bDestinationManifest = pDestinationManifest != nullptr;
    const bool bManifest = sides.bSourceManifest || sides.bDestinationManifest;
    PrintSideLine(console, L"Source path", console.m_strSourcePath, sides.pSourceSnapshot,
                  pSourceManifest, L"source", L"");
    PrintSideLine(console, L"Destination path", console.m_strDestinationPath,
                  sides.pDestinationSnapshot, pDestinationManifest, L"destination", L"\n");
    AddSnapshotExclusions(console, sides.pSourceSnapshot);
    AddSnapshotExclusions(console, sides.pDestinationSnapshot);
    std::unique_ptr<CTreeSide>* const taken[2] = {&sides.pSource, &sides.pDestination};
    for (int nSide = 0; nSide < 2; ++nSide) {
        // Against a manifest, a tree is a list of files named by their paths.
        const bool bFlat = bManifest && openings[nSide].kind != SideKind::Manifest;
        *taken[nSide] = TakeSide(openings[nSide], *paths[nSide]);
        if (bFlat) {
            *taken[nSide] = std::make_unique<CFlatSide>(std::move(*taken[nSide]));
        }
    }
    return 0;
}
