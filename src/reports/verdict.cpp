#include "reports/verdict.h"

#include "reports/console_report.h"
#include "reports/recopy_list.h"

namespace {

const wchar_t* const kClassNames[kSourceClasses] = {L"verified in place", L"moved", L"not verified",
                                                    L"different", L"missing"};

// Where a finding comes among those of one pair: the finding that stands
// for the pair (identical, moved, missing), the facts compared in their
// order, what could not be read, then the security check. A finding that
// does not come after the last one of its path is about another item of
// that path (two names that the system lists alike).
int PlaceInPair(const CFinding& finding) {
    switch (finding.kind) {
        case FindingKind::Date:
            return 1;
        case FindingKind::Size:
        case FindingKind::Contents:
            return 2;
        case FindingKind::Inaccessible:
            return finding.side == FindingSide::Destination ? 4 : 3;
        case FindingKind::Security:
            return 5;
        default:
            return 0;
    }
}

}  // namespace

bool SourceClassOf(const CFinding& finding, SourceClass& sourceClass) {
    if (finding.bFolder || !finding.source.bPresent) {
        return false;
    }
    switch (finding.kind) {
        case FindingKind::Identical:
            sourceClass = SourceClass::Verified;
            return true;
        case FindingKind::Moved:
            sourceClass = SourceClass::Moved;
            return true;
        case FindingKind::Inaccessible:
            sourceClass = SourceClass::NotVerified;
            return true;
        case FindingKind::Date:
        case FindingKind::Size:
        case FindingKind::Contents:
        case FindingKind::Security:
            sourceClass = SourceClass::Different;
            return true;
        case FindingKind::MissingInDestination:
            sourceClass = SourceClass::Missing;
            return true;
        default:
            return false;
    }
}

std::wstring FormatVerdict(const CVerdict& verdict, bool bMoves, bool bContents) {
    const CFileTotal& verified = verdict.Of(SourceClass::Verified);
    std::wstring str = L"Verdict: " + FormatGroupedNumber(verified.nFiles) + L" source file(s) (" +
                       SizeText(verified.nBytes) + L") " +
                       (bContents ? L"verified in place" : L"matched in place");
    const SourceClass others[] = {SourceClass::Moved, SourceClass::Different, SourceClass::Missing,
                                  SourceClass::NotVerified};
    for (const SourceClass c : others) {
        if (c != SourceClass::Moved || bMoves) {
            str += L", " + FormatGroupedNumber(verdict.Of(c).nFiles) + L" " +
                   kClassNames[static_cast<int>(c)];
        }
    }
    str += L"; " + FormatGroupedNumber(verdict.nExtra) + L" extra in the destination";
    if (verdict.nUnlistedFolders != 0) {
        str += L"; " + FormatGroupedNumber(verdict.nUnlistedFolders) +
               L" source folder(s) could not be listed";
    }
    return str + L".";
}

void CVerdictReport::OnFinding(const CFinding& finding) {
    if (finding.bFolder) {
        if (finding.kind == FindingKind::Inaccessible && finding.source.bPresent &&
            finding.side != FindingSide::Destination) {
            ++m_verdict.nUnlistedFolders;
        }
        if (finding.kind == FindingKind::MissingInDestination && m_pRecopy != nullptr) {
            Settle();
            m_pRecopy->AddMissingFolder(finding.pszPath);
        }
        return;
    }
    const int nPlace = PlaceInPair(finding);
    if (!m_bHeld || nPlace <= m_nPlace || m_strPath != finding.pszPath) {
        Settle();
        m_bHeld = true;
        m_strPath = finding.pszPath;
        m_class = SourceClass::Verified;
        m_bSource = m_bDestination = false;
        m_dwSourceError = ERROR_SUCCESS;
    }
    m_nPlace = nPlace;
    if (finding.kind == FindingKind::MissingInSource) {
        ++m_verdict.nExtra;
    }
    SourceClass sourceClass;
    if (SourceClassOf(finding, sourceClass)) {
        m_class = m_bSource && m_class > sourceClass ? m_class : sourceClass;
        m_bSource = true;
        m_nSourceSize = KnownSize(finding.source.nSize);
        if (finding.source.dwError != ERROR_SUCCESS) {
            m_dwSourceError = finding.source.dwError;
        }
    }
    // A move names the destination's file by another path: it is listed there.
    if (finding.destination.bPresent) {
        m_bDestination = true;
        m_nDestinationSize = KnownSize(finding.destination.nSize);
    }
}

void CVerdictReport::Settle() {
    if (!m_bHeld) {
        return;
    }
    m_bHeld = false;
    if (m_bDestination) {
        m_verdict.destinationListed.Add(m_nDestinationSize);
    }
    if (!m_bSource) {
        return;
    }
    m_verdict.sourceListed.Add(m_nSourceSize);
    m_verdict.classes[static_cast<int>(m_class)].Add(m_nSourceSize);
    if (m_pRecopy != nullptr && m_class >= SourceClass::NotVerified) {
        m_pRecopy->AddFile(m_strPath.c_str(), m_dwSourceError);
    }
}

void CVerdictReport::OnSecurityUnread(FindingSide side) {
    (void)side;
    if (m_bHeld && m_bSource && m_class < SourceClass::Different) {
        m_class = SourceClass::Different;
    }
}

void CVerdictReport::OnProgress(uint64_t nFilesCompared, uint64_t nBytesRead) {
    (void)nFilesCompared;
    m_verdict.nBytesRead = nBytesRead;
}

void CVerdictReport::Finish() {
    Settle();
}
