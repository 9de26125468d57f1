#include "reports/comparison_results.h"

#include "console/console.h"
#include "console/message_writer.h"

bool CComparisonResults::IsIdentical(bool bStrict) const {
    if (bStrict && (HasInaccessible() || m_source.m_nSecurityIssues != 0 ||
                    m_destination.m_nSecurityIssues != 0)) {
        return false;
    }
    return m_nSizeMismatches == 0 && m_nHashMismatches == 0 && m_nDateMismatches == 0 &&
           m_nMovedFiles == 0 && m_nMovedFolders == 0 && m_source.m_nMissingFiles == 0 &&
           m_source.m_nMissingFolders == 0 && m_destination.m_nMissingFiles == 0 &&
           m_destination.m_nMissingFolders == 0;
}

bool CComparisonResults::HasInaccessible() const {
    return m_source.m_nInaccessibleFiles != 0 || m_source.m_nInaccessibleFolders != 0 ||
           m_destination.m_nInaccessibleFiles != 0 || m_destination.m_nInaccessibleFolders != 0;
}

// Labels are 40 characters wide in the overall block and 26 in the side
// blocks, so that the numbers line up in one column.
void CComparisonResults::PrintSummary(CMessageWriter& writer, unsigned long dwOptions) const {
    Print(writer,
          L"Identical file(s):                      %d\n"
          L"Missing file(s) (source + destination): %d\n",
          m_nIdentical, m_source.m_nMissingFiles + m_destination.m_nMissingFiles);
    if (dwOptions & OPT_MOVES) {
        Print(writer, L"Moved file(s):                          %d\n", m_nMovedFiles);
        Print(writer, L"Moved folder(s):                        %d\n", m_nMovedFolders);
    }
    Print(writer, L"File size mismatch(es):                 %d\n", m_nSizeMismatches);
    if (dwOptions & OPT_DATE) {
        Print(writer, L"File date mismatch(es):                 %d\n", m_nDateMismatches);
    }
    // Contents compared byte by byte count as the hash values do.
    if (dwOptions & (OPT_HASH | OPT_CONTENT)) {
        Print(writer, L"File hash mismatch(es):                 %d\n", m_nHashMismatches);
    }
    Print(writer, L"\n- Source:\n\n");
    m_source.PrintCounters(writer, dwOptions);
    Print(writer, L"- Destination:\n\n");
    m_destination.PrintCounters(writer, dwOptions);
}

void CSideResults::PrintCounters(CMessageWriter& writer, unsigned long dwOptions) const {
    if (dwOptions & OPT_EXFILE) {
        Print(writer, L"  Excluded file(s):       %d\n", m_nExcludedFiles);
    }
    Print(writer,
          L"  Tested file(s):         %d\n"
          L"  Inaccessible file(s):   %d\n"
          L"  Missing file(s):        %d\n",
          m_nTested, m_nInaccessibleFiles, m_nMissingFiles);
    if (dwOptions & OPT_SECURITY) {
        Print(writer, L"  Security issue(s):      %d\n", m_nSecurityIssues);
    }
    WriteMessage(writer, nullptr, MSG_INFO | MSG_NEWLINE, 0);
    if (dwOptions & OPT_EXFOLDER) {
        Print(writer, L"  Excluded folder(s):     %d\n", m_nExcludedFolders);
    }
    Print(writer,
          L"  Inaccessible folder(s): %d\n"
          L"  Missing folder(s):      %d\n",
          m_nInaccessibleFolders, m_nMissingFolders);
    WriteMessage(writer, nullptr, MSG_INFO | MSG_NEWLINE, 0);
}

int FileClassWeight(FileClass fileClass) {
    switch (fileClass) {
        case FileClass::Identical:
            return 0;
        case FileClass::NotVerified:
            return 1;
        default:
            return 2;
    }
}

FileClass FileClassOf(FindingKind kind) {
    switch (kind) {
        case FindingKind::MissingInDestination:
        case FindingKind::MissingInSource:
            return FileClass::Missing;
        case FindingKind::Date:
        case FindingKind::Size:
        case FindingKind::Contents:
        case FindingKind::Security:
            return FileClass::Different;
        case FindingKind::Inaccessible:
            return FileClass::NotVerified;
        case FindingKind::Moved:
            return FileClass::Moved;
        default:
            return FileClass::Identical;
    }
}

void CCountingReport::Account(const CFinding& finding, FileClass fileClass) {
    const CItemFacts* const facts[2] = {&finding.source, &finding.destination};
    for (int nSide = 0; nSide < 2; ++nSide) {
        if (!finding.bFurther) {
            m_bLastPresent[nSide] = facts[nSide]->bPresent;
        }
        if (!facts[nSide]->bPresent) {
            continue;
        }
        if (finding.bFurther) {
            Reclass(nSide, fileClass);
            continue;
        }
        m_nLastBytes[nSide] = KnownSize(facts[nSide]->nSize);
        m_results.m_files[nSide][fileClass].Add(1, m_nLastBytes[nSide]);
        m_lastClass[nSide] = fileClass;
    }
}

void CCountingReport::Reclass(int nSide, FileClass fileClass) {
    if (!m_bLastPresent[nSide] ||
        FileClassWeight(fileClass) <= FileClassWeight(m_lastClass[nSide])) {
        return;
    }
    CFileAccount& account = m_results.m_files[nSide];
    CFileTally& last = account[m_lastClass[nSide]];
    --last.nFiles;
    last.nBytes -= m_nLastBytes[nSide];
    account[fileClass].Add(1, m_nLastBytes[nSide]);
    m_lastClass[nSide] = fileClass;
}

void CCountingReport::OnProgress(uint64_t nFilesCompared, uint64_t nBytesRead) {
    (void)nFilesCompared;
    m_results.m_nBytesRead = nBytesRead;
}

void CCountingReport::OnFilesListed(FindingSide side, uint64_t nFiles, ULONGLONG nBytes) {
    if (side != FindingSide::Destination) {
        m_results.m_files[0].listed.Add(nFiles, nBytes);
    }
    if (side != FindingSide::Source) {
        m_results.m_files[1].listed.Add(nFiles, nBytes);
    }
}

void CCountingReport::CountTested(const CFinding& finding) {
    m_results.m_source.m_nTested += finding.source.bPresent ? 1 : 0;
    m_results.m_destination.m_nTested += finding.destination.bPresent ? 1 : 0;
}

void CCountingReport::OnFinding(const CFinding& finding) {
    if (finding.bFolder) {
        switch (finding.kind) {
            case FindingKind::MissingInDestination:
                ++m_results.m_destination.m_nMissingFolders;
                break;
            case FindingKind::MissingInSource:
                ++m_results.m_source.m_nMissingFolders;
                break;
            case FindingKind::Inaccessible:
                ForSides(finding.side, [](CSideResults& side) { ++side.m_nInaccessibleFolders; });
                break;
            case FindingKind::Moved:
                ++m_results.m_nMovedFolders;
                break;
            default:
                break;  // a folder recorded: nothing to count
        }
        return;
    }
    if (finding.kind != FindingKind::Recorded) {
        Account(finding, FileClassOf(finding.kind));
    }
    switch (finding.kind) {
        case FindingKind::MissingInDestination:
            ++m_results.m_destination.m_nMissingFiles;
            break;
        case FindingKind::MissingInSource:
            ++m_results.m_source.m_nMissingFiles;
            break;
        case FindingKind::Date:
            ++m_results.m_nDateMismatches;
            break;
        case FindingKind::Size:
            ++m_results.m_nSizeMismatches;
            break;
        case FindingKind::Contents:
            ++m_results.m_nHashMismatches;
            break;
        case FindingKind::Identical:
            ++m_results.m_nIdentical;
            break;
        case FindingKind::Recorded:
            break;
        case FindingKind::Moved:
            // Tested on both sides, missing on neither.
            ++m_results.m_nMovedFiles;
            break;
        case FindingKind::Inaccessible:
            ForSides(finding.side, [](CSideResults& side) { ++side.m_nInaccessibleFiles; });
            break;
        case FindingKind::Security:
            ForSides(finding.side, [](CSideResults& side) { ++side.m_nSecurityIssues; });
            break;
    }
    // A pair is tested once, however many facts it has.
    if (!finding.bFurther) {
        CountTested(finding);
    }
}

void CCountingReport::OnExcluded(bool bFolder, FindingSide side, int nCount) {
    ForSides(side, [&](CSideResults& counts) {
        (bFolder ? counts.m_nExcludedFolders : counts.m_nExcludedFiles) += nCount;
    });
    for (int nSide = 0; nSide < 2 && !bFolder; ++nSide) {
        if (side == FindingSide::Both ||
            side == (nSide == 0 ? FindingSide::Source : FindingSide::Destination)) {
            // A snapshot made with exclusions records no sizes of the files it
            // left out: excluded files count no bytes.
            m_results.m_files[nSide][FileClass::Excluded].Add(static_cast<uint64_t>(nCount), 0);
        }
    }
}

void CCountingReport::OnSecurityUnread(FindingSide side) {
    ForSides(side, [](CSideResults& counts) { ++counts.m_nSecurityIssues; });
    // A security issue of the last pair: its files differ.
    for (int nSide = 0; nSide < 2; ++nSide) {
        Reclass(nSide, FileClass::Different);
    }
}

void CCountingReport::OnPairStopped(const CFinding& finding, bool bExamined) {
    ForSides(finding.side, [](CSideResults& side) { ++side.m_nInaccessibleFiles; });
    Account(finding, FileClass::NotVerified);
    if (bExamined && !finding.bFurther) {
        CountTested(finding);
    }
}
