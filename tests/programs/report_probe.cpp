// Writes a JSON report of hand-made findings (each kind, names that need
// escaping) and errors to the path given, for e2e/json_report.py to read
// back with a strict parser.
#include <cstddef>
#include <cstring>
#include <numeric>

#include "console/console.h"
#include "reports/comparison_results.h"
#include "reports/json_report.h"
#include "runtime/error_text.h"

namespace {

// Present, with its size, time and, from a first byte, a 20-byte hash, or
// the error that kept it from being read.
CItemFacts Facts(ULONGLONG nSize, ULONGLONG nTime, BYTE bHash = 0, DWORD dwError = ERROR_SUCCESS) {
    CItemFacts facts;
    facts.dwError = dwError;
    facts.bPresent = true;
    facts.nSize = nSize;
    facts.ftLastWrite = {static_cast<DWORD>(nTime), static_cast<DWORD>(nTime >> 32)};
    facts.cbHash = bHash != 0 ? 20 : 0;
    std::iota(facts.hash, facts.hash + facts.cbHash, bHash);
    return facts;
}

using K = FindingKind;
using S = FindingSide;
const CItemFacts NONE;

}  // namespace

int wmain(int argc, wchar_t** argv) {
    CConsole console;
    console.SetDisplayLevel(DISPLAY_VERBOSE);
    console.m_dwOptions = OPT_DATE | OPT_HASH | OPT_SUBDIR | OPT_EXFILE | OPT_STRICT | OPT_MOVES;
    console.m_nDateTolerance = 20000000;
    console.m_nDateShiftHours = 1;
    console.m_nHashAlgorithm = HASH_SHA1;
    console.m_strSourcePath = L"C:\\src";
    console.m_strDestinationPath = L"\\\\server\\share\\\x00e9t\x00e9";
    console.m_strFileExclusions = L"C:\\x\\ex.txt";
    CJsonReport report;
    if (argc != 2 || report.Open(argv[1], console) != ERROR_SUCCESS) {
        return 2;
    }
    const CFinding kFindings[] = {
        {K::MissingInDestination, false, S::None, L"\\a\x01\t\"\\b", Facts(5, 0), NONE},
        {K::MissingInSource, true, S::None, L"\\dir\xd800", NONE, Facts(0, ~0ULL)},
        {K::Date, false, S::None, L"\\\xdc00z", Facts(1, 1), Facts(1, 2)},
        {K::Size, false, S::None, L"\\\xd83d\xde00", Facts(1, 3), Facts(2, 3)},
        {K::Contents, false, S::None, L"\\c", Facts(3, 4, 1), Facts(3, 4, 2)},
        {K::Inaccessible, false, S::Both, L"\\i", Facts(3, 4, 0, FILE_CHANGED_WHILE_READ),
         Facts(3, 4, 0, FILE_CHANGED_WHILE_READ)},
        {K::Inaccessible, true, S::Source, L"\\f", Facts(0, 5, 0, ERROR_ACCESS_DENIED),
         Facts(0, 5)},
        {K::Security, false, S::Destination, L"\\s", Facts(3, 4), Facts(3, 4)},
        {K::Identical, false, S::None, L"\\=", Facts(3, 4, 1), Facts(3, 4, 1)},
        {K::Moved, false, S::None, L"\\m", Facts(3, 4, 1), Facts(3, 6, 1), 0, L"\\n\\m2"},
    };
    for (const CFinding& finding : kFindings) {
        report.OnFinding(finding);
    }
    report.OnError(L"\\c", L"could not compute source file hash.",
                   HResultFromWin32(ERROR_SHARING_VIOLATION));
    report.OnError(L"\\", L"no text", static_cast<HRESULT>(0x8FFF0001));
    // More than the report holds in memory: the rest wait in a file.
    for (int i = 0; i < 2000; ++i) {
        report.OnError((L"\\e" + std::to_wstring(i)).c_str(), L"one of many", 0);
    }
    // The twenty-one counters numbered 1 to 21 in the order of their
    // declaration.
    int counters[21];
    std::iota(counters, counters + 21, 1);
    CComparisonResults results;
    static_assert(
        offsetof(CComparisonResults, m_destination) + sizeof(CSideResults) == sizeof(counters),
        "twenty-one int counters before the accounts");
    std::memcpy(&results, counters, sizeof(counters));
    results.m_files[0].listed = {7, 70};
    results.m_files[0][FileClass::Moved] = {3, 30};
    results.m_files[1][FileClass::Excluded] = {1, 5000000000};
    return report.Finish(results, 1500000000, 4, true) == ERROR_SUCCESS ? 0 : 3;
}
