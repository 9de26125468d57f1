#include "reports/comparison_results.h"

#include "console/console.h"
#include "console/message_writer.h"

bool CComparisonResults::IsIdentical(bool bStrict) const {
    if (bStrict && (HasInaccessible() || m_source.m_nSecurityIssues != 0 ||
                    m_destination.m_nSecurityIssues != 0)) {
        return false;
    }
    return m_nSizeMismatches == 0 && m_nHashMismatches == 0 && m_nDateMismatches == 0 &&
           m_nMovedFiles == 0 && m_source.m_nMissingFiles == 0 && m_source.m_nMissingFolders == 0 &&
           m_destination.m_nMissingFiles == 0 && m_destination.m_nMissingFolders == 0;
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
            default:
                break;  // a folder recorded: nothing to count
        }
        return;
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
            // A pair unread on both sides for two reasons gives a finding per
            // side, source first: the first counts the pair as tested.
            if (finding.side == FindingSide::Destination && finding.source.bPresent &&
                finding.source.dwError != ERROR_SUCCESS) {
                return;
            }
            break;
        case FindingKind::Security:
            // Follows the pair's own finding, which counted it as tested.
            ForSides(finding.side, [](CSideResults& side) { ++side.m_nSecurityIssues; });
            return;
    }
    CountTested(finding);
}

void CCountingReport::OnExcluded(bool bFolder, FindingSide side, int nCount) {
    ForSides(side, [&](CSideResults& counts) {
        (bFolder ? counts.m_nExcludedFolders : counts.m_nExcludedFiles) += nCount;
    });
}

void CCountingReport::OnSecurityUnread(FindingSide side) {
    ForSides(side, [](CSideResults& counts) { ++counts.m_nSecurityIssues; });
}

void CCountingReport::OnPairStopped(const CFinding& finding, bool bExamined) {
    ForSides(finding.side, [](CSideResults& side) { ++side.m_nInaccessibleFiles; });
    if (bExamined) {
        CountTested(finding);
    }
}
