#include "comparison/comparison_results.h"

#include "console/console.h"
#include "console/message_writer.h"

bool CComparisonResults::IsIdentical(bool bStrict) const {
    if (bStrict && (HasInaccessible() || m_source.m_nSecurityIssues != 0 ||
                    m_destination.m_nSecurityIssues != 0)) {
        return false;
    }
    return m_nSizeMismatches == 0 && m_nHashMismatches == 0 && m_nDateMismatches == 0 &&
           m_source.m_nMissingFiles == 0 && m_source.m_nMissingFolders == 0 &&
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
          L"Missing file(s) (source + destination): %d\n"
          L"File size mismatch(es):                 %d\n",
          m_nIdentical, m_source.m_nMissingFiles + m_destination.m_nMissingFiles,
          m_nSizeMismatches);
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

void CSideResults::Add(const CSideResults& other) {
    m_nTested += other.m_nTested;
    m_nMissingFiles += other.m_nMissingFiles;
    m_nExcludedFiles += other.m_nExcludedFiles;
    m_nInaccessibleFiles += other.m_nInaccessibleFiles;
    m_nSecurityIssues += other.m_nSecurityIssues;
    m_nMissingFolders += other.m_nMissingFolders;
    m_nExcludedFolders += other.m_nExcludedFolders;
    m_nInaccessibleFolders += other.m_nInaccessibleFolders;
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
