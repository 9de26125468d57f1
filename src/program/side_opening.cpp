#include "program/side_opening.h"

#include <string>
#include <vector>

#include "exclusions/exclusions.h"
#include "paths/long_path.h"
#include "paths/path_kind.h"
#include "program/run.h"
#include "runtime/error_text.h"
#include "runtime/file_time.h"
#include "runtime/handle.h"
#include "runtime/wide_string.h"

namespace {

// A compared path that names a file: the snapshot, opened, then read
// through (checked).
struct CSnapshotOpening {
    std::unique_ptr<CSnapshotReader> pReader;
    DWORD dwError = ERROR_SUCCESS;

    void Read() {
        if (dwError == ERROR_SUCCESS) {
            dwError = pReader->Read();
        }
    }
    static DWORD WINAPI ThreadMain(void* pParameter) {
        static_cast<CSnapshotOpening*>(pParameter)->Read();
        return 0;
    }
};

// Checks the snapshots among the two compared paths; two are checked at
// once, the destination's on a thread of its own.
void OpenSnapshots(const CConsole& console, CSnapshotOpening (&openings)[2]) {
    const std::wstring* const paths[2] = {&console.m_strSourcePath, &console.m_strDestinationPath};
    for (int nSide = 0; nSide < 2; ++nSide) {
        if (GetPathKind(paths[nSide]->c_str()) != PathKind::Folder) {
            openings[nSide].pReader = std::make_unique<CSnapshotReader>();
            openings[nSide].dwError = openings[nSide].pReader->Open(paths[nSide]->c_str());
        }
    }
    CKernelHandle hThread;
    if (openings[0].pReader && openings[1].pReader) {
        hThread.Reset(
            ::CreateThread(nullptr, 0, CSnapshotOpening::ThreadMain, &openings[1], 0, nullptr));
    }
    for (int nSide = 0; nSide < 2; ++nSide) {
        if (openings[nSide].pReader && !(nSide == 1 && hThread)) {
            openings[nSide].Read();
        }
    }
    if (hThread) {
        ::WaitForSingleObject(hThread.Get(), INFINITE);
    }
}

// A compared side: the folder on the disk, or the snapshot opened when the
// path names a file. Returns 0, or the exit code after reporting why the
// snapshot cannot serve the comparison.
int OpenSide(CConsole& console, CSnapshotOpening& opening, const std::wstring& strPath,
             bool bSource, std::unique_ptr<CTreeSide>& pSide, CSnapshotReader*& pSnapshot) {
    pSnapshot = nullptr;
    if (!opening.pReader) {
        pSide = std::make_unique<CFolderSide>(LongRoot(strPath));
        return 0;
    }
    std::unique_ptr<CSnapshotReader> pReader = std::move(opening.pReader);
    const DWORD dwError = opening.dwError;
    if (dwError == ERROR_INVALID_DATA && !pReader->GetDamage().empty()) {
        PrintError(console, L"snapshot file could not be read.", 0);
        PrintLine(console, L"%s, line %I64u: %s", strPath.c_str(), pReader->GetDamagedLine(),
                  pReader->GetDamage().c_str());
        return EXIT_SETUP_FAILED;
    }
    if (dwError != ERROR_SUCCESS) {
        PrintError(console, L"snapshot file could not be read.", HResultFromWin32(dwError));
        return EXIT_SETUP_FAILED;
    }
    // What the options ask must be in the snapshot.
    const CSnapshotHeader& header = pReader->GetHeader();
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
    if (!strRefused.empty()) {
        PrintError(console, L"%s", 0, strRefused.c_str());
        console.EndBlock();
        return EXIT_PARAMETERS;
    }
    pSnapshot = pReader.get();
    pSide = std::move(pReader);
    return 0;
}

// The parameter line of a side: a snapshot named with the folder it
// recorded and when, then what it left out; pszEnd after the last line.
void PrintSideLine(CConsole& console, const wchar_t* pszLabel, const std::wstring& strPath,
                   const CSnapshotReader* pSnapshot, const wchar_t* pszSide,
                   const wchar_t* pszEnd) {
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
    CSnapshotOpening openings[2];
    OpenSnapshots(console, openings);
    int nExit = OpenSide(console, openings[0], console.m_strSourcePath, true, sides.pSource,
                         sides.pSourceSnapshot);
    if (nExit == 0) {
        nExit = OpenSide(console, openings[1], console.m_strDestinationPath, false,
                         sides.pDestination, sides.pDestinationSnapshot);
    }
    if (nExit != 0) {
        return nExit;
    }
    PrintSideLine(console, L"Source path", console.m_strSourcePath, sides.pSourceSnapshot,
                  L"source", L"");
    PrintSideLine(console, L"Destination path", console.m_strDestinationPath,
                  sides.pDestinationSnapshot, L"destination", L"\n");
    AddSnapshotExclusions(console, sides.pSourceSnapshot);
    AddSnapshotExclusions(console, sides.pDestinationSnapshot);
    return 0;
}
