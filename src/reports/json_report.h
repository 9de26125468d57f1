// The report for scripts: every finding, every error and the summary of a
// run as one JSON document in UTF-8 without a byte-order mark. The document
// is streamed to a temporary file beside its target while the comparison
// runs and moved over the target when it is complete, so that a reader never
// sees half a report and an earlier report stays as it is when this one
// fails.
#pragma once

#include <string>

#include "comparison/finding.h"
#include "reports/replacing_file.h"
#include "sides/file_listing.h"

struct CComparisonResults;
struct CSnapshotHeader;
class CConsole;

// Writes the document. Open it before the comparison, hand it findings and
// errors, then Finish it; a report destroyed before Finish succeeded removes
// its temporary file and leaves the target untouched. Writing stops at the
// first failure, whose code Finish returns. Prints nothing.
class CJsonReport : public CComparisonReport {
public:
    CJsonReport() = default;
    CJsonReport(const CJsonReport&) = delete;
    CJsonReport& operator=(const CJsonReport&) = delete;

    // Creates the temporary file beside pszPath (a full path), under a name
    // that no file has and that stays within the length of a name, as one of
    // the program's own files (g_ownFiles), and writes the document's head
    // from console's options record: program, version, the two folders and
    // the options. Identical files are written only when
    // console's display level is verbose. Returns ERROR_SUCCESS, or the
    // failure's code with no file left behind (ERROR_ACCESS_DENIED when the
    // target is a folder or a read-only file, which could never be
    // replaced).
    // A side read from a snapshot is named by the folder it recorded, with
    // the snapshot's path beside it: pszSourceSnapshot and
    // pszDestinationSnapshot, when given, are those paths and
    // pSourceHeader and pDestinationHeader their headers: the folder
    // recorded, and the wildcards the snapshot left out, written beside.
    DWORD Open(const wchar_t* pszPath, const CConsole& console,
               const wchar_t* pszSourceSnapshot = nullptr,
               const CSnapshotHeader* pSourceHeader = nullptr,
               const wchar_t* pszDestinationSnapshot = nullptr,
               const CSnapshotHeader* pDestinationHeader = nullptr);

    // Writes the errors, the counters of results, the elapsed time, the exit
    // code and, when bInterrupted, "interrupted": true; then moves the
    // document over the target. Returns ERROR_SUCCESS when the target holds
    // the whole document, or the code of the first failure of the report;
    // the temporary file is gone either way.
    DWORD Finish(const CComparisonResults& results, LONGLONG nElapsedNanoseconds, int nExitCode,
                 bool bInterrupted = false);

    // The verdict line of a run that ran to its end: written in the summary
    // by Finish as "verdict", with the totals it rests on.
    void SetVerdict(const std::wstring& strLine);
    // The facts of a side read from a checksum manifest are its values
    // alone: it has no sizes and no times.
    void SetValuesOnly(bool bSource, bool bDestination) {
        m_bValuesOnly[0] = bSource;
        m_bValuesOnly[1] = bDestination;
    }

    void OnFinding(const CFinding& finding) override;
    // Errors are written by Finish after the findings. They are held in
    // memory up to kErrorsHeld bytes, and beyond that in a temporary file of
    // their own (a file whose security cannot be read is one error each), so
    // that memory does not grow with them any more than with the findings.
    void OnError(const wchar_t* pszPath, const wchar_t* pszMessage, HRESULT hrCode) override;

private:
    static constexpr size_t kErrorsHeld = 64 * 1024;

    // Appends the errors held to the temporary file of errors, made at the
    // first call; a failure fails the report.
    void SpillErrors();
    // Appends the errors of the temporary file to the document.
    void CopySpilledErrors();

    CReplacingFile m_file;
    std::string m_strErrors;  // the error objects held, written by Finish
    CCacheFile m_errorFile;   // the error objects beyond those held
    bool m_bAnyError = false;
    std::string m_strVerdict;  // the verdict line as JSON text, written by Finish
    unsigned long long m_nFindings = 0;
    bool m_bVerbose = false;
    bool m_bValuesOnly[2] = {};
};
