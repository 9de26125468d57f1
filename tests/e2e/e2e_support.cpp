#include "e2e/e2e_support.h"

#include <regex>
#include <string>

#include <gtest/gtest.h>

#include "runtime/handle.h"
#include "runtime/version_info.h"
#include "version.h"

namespace e2e {

std::wstring Banner() {
    std::wstring strLine = L"Quorva - Version " + std::to_wstring(QUORVA_VERSION_MAJOR) + L"." +
                           std::to_wstring(QUORVA_VERSION_MINOR) + L" (build " +
                           std::to_wstring(QUORVA_VERSION_BUILD) + L")";
    if (IsWow64()) {
        strLine += L", 32-bit.";
    }
    return strLine +
           L"\nCompares files and folders in two different directories.\n"
           L"Copyright (c) 2026 The Quorva developers.\n\n";
}

std::wstring StartLines(const std::wstring& strSource, const std::wstring& strDestination) {
    return L"Source path: " + strSource + L".\nDestination path: " + strDestination + L".\n\n";
}

std::wstring Completed() {
    return L"\n------------------------------------------------------------------\nSummary:\n\n"
           L"Comparison completed in <time>.\n\n";
}

std::string CompletedOutput(const std::wstring& strHeader, const std::wstring& strSource,
                            const std::wstring& strDestination, const std::wstring& strFindings,
                            const std::wstring& strVerdict) {
    return test::Crlf(Banner() + strHeader + StartLines(strSource, strDestination) + strFindings +
                      Completed() + strVerdict);
}

std::wstring FailedSummaryHeader() {
    return L"\n------------------------------------------------------------------\nSummary:\n\n";
}

std::wstring SystemText(DWORD dwError) {
    wchar_t szText[512] = {};
    DWORD cch = ::FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                 nullptr, dwError, 0x400, szText, 512, nullptr);
    while (cch > 0 && (szText[cch - 1] == L'\r' || szText[cch - 1] == L'\n' ||
                       szText[cch - 1] == L'\t' || szText[cch - 1] == L' ')) {
        --cch;
    }
    if (cch == 0) {
        return std::wstring();  // no text: the program writes only the error line
    }
    return std::wstring(szText, cch) + L" (" + std::to_wstring(dwError) + L")";
}

static std::wstring SideBlock(const CSide& side, unsigned nShow) {
    std::wstring str;
    if (nShow & SHOW_EXFILE) {
        str += L"  Excluded file(s):       " + std::to_wstring(side.nExcludedFiles) + L"\n";
    }
    str += L"  Tested file(s):         " + std::to_wstring(side.nTested) +
           L"\n  Inaccessible file(s):   " + std::to_wstring(side.nInaccessibleFiles) +
           L"\n  Missing file(s):        " + std::to_wstring(side.nMissingFiles) + L"\n";
    if (nShow & SHOW_SECURITY) {
        str += L"  Security issue(s):      " + std::to_wstring(side.nSecurityIssues) + L"\n";
    }
    str += L"\n";
    if (nShow & SHOW_EXFOLDER) {
        str += L"  Excluded folder(s):     " + std::to_wstring(side.nExcludedFolders) + L"\n";
    }
    return str + L"  Inaccessible folder(s): " + std::to_wstring(side.nInaccessibleFolders) +
           L"\n  Missing folder(s):      " + std::to_wstring(side.nMissingFolders) + L"\n\n";
}

std::wstring Summary(const CCounts& counts, unsigned nShow) {
    std::wstring str =
        L"Identical file(s):                      " + std::to_wstring(counts.nIdentical) +
        L"\nMissing file(s) (source + destination): " +
        std::to_wstring(counts.source.nMissingFiles + counts.destination.nMissingFiles) + L"\n";
    if (nShow & SHOW_MOVES) {
        str += L"Moved file(s):                          " + std::to_wstring(counts.nMoved) + L"\n";
        str += L"Moved folder(s):                        " + std::to_wstring(counts.nMovedFolders) +
               L"\n";
    }
    str += L"File size mismatch(es):                 " + std::to_wstring(counts.nSizeMismatches) +
           L"\n";
    if (nShow & SHOW_DATE) {
        str += L"File date mismatch(es):                 " +
               std::to_wstring(counts.nDateMismatches) + L"\n";
    }
    if (nShow & SHOW_HASH) {
        str += L"File hash mismatch(es):                 " +
               std::to_wstring(counts.nHashMismatches) + L"\n";
    }
    str += L"\n- Source:\n\n" + SideBlock(counts.source, nShow) + L"- Destination:\n\n" +
           SideBlock(counts.destination, nShow);
    const auto given = [](int n, int nDerived) { return std::to_wstring(n >= 0 ? n : nDerived); };
    str += L"Verdict: " + std::to_wstring(counts.nIdentical) + L" source file(s) (" +
           counts.strVerifiedBytes + L") " +
           ((nShow & SHOW_HASH) ? L"verified in place" : L"matched in place");
    if (nShow & SHOW_MOVES) {
        str += L", " + std::to_wstring(counts.nMoved) + L" moved";
    }
    str += L", " +
           given(counts.nDifferent,
                 counts.nSizeMismatches + counts.nDateMismatches + counts.nHashMismatches) +
           L" different, " + std::to_wstring(counts.destination.nMissingFiles) + L" missing, " +
           given(counts.nNotVerified, counts.source.nInaccessibleFiles) + L" not verified; " +
           given(counts.nExtra, counts.source.nMissingFiles) + L" extra in the destination";
    if (counts.source.nInaccessibleFolders != 0) {
        str += L"; " + std::to_wstring(counts.source.nInaccessibleFolders) +
               L" source folder(s) could not be listed";
    }
    return str + L".\n";
}

std::string NormalizeDuration(const std::string& strOutput) {
    static const std::regex kDuration("Comparison completed in [^\\r\\n]*second\\(s\\)\\.");
    return std::regex_replace(strOutput, kDuration, "Comparison completed in <time>.");
}

CTwoTrees::CTwoTrees(const std::wstring& strParent) : m_root(strParent) {
    test::MakeFolder(Source());
    test::MakeFolder(Destination());
    test::MakeFolder(m_root / L"tmp");
}

test::CRunResult CTwoTrees::Run(const std::wstring& strExtraArguments,
                                const std::vector<std::wstring>& environment) const {
    std::vector<std::wstring> variables = environment;
    variables.push_back(L"TMP=" + (m_root / L"tmp"));
    variables.push_back(L"TEMP=" + (m_root / L"tmp"));
    std::wstring strArguments = test::Quote(Source()) + L" " + test::Quote(Destination());
    if (!strExtraArguments.empty()) {
        strArguments += L" " + strExtraArguments;
    }
    return test::RunQuorva(strArguments, std::wstring(), variables);
}

bool CTwoTrees::TempFolderIsEmpty() const {
    WIN32_FIND_DATAW fd;
    CFindHandle hFind(::FindFirstFileW((m_root / L"tmp\\*").c_str(), &fd));
    if (!hFind) {
        return true;
    }
    do {
        if (std::wstring(fd.cFileName) != L"." && std::wstring(fd.cFileName) != L"..") {
            return false;
        }
    } while (::FindNextFileW(hFind.Get(), &fd));
    return true;
}

std::string FileAccounts(const std::wstring& strReport) {
    const std::string strDocument = test::ReadWholeFile(strReport);
    const size_t nFiles = strDocument.find("\"files\": {\"source\": ");
    EXPECT_NE(std::string::npos, nFiles) << "the report has no file accounts";
    if (nFiles == std::string::npos) {
        return std::string();
    }
    static const std::regex kTally("\"(\\w+)\": \\{\"count\": (\\d+), \"bytes\": (\\d+)\\}");
    std::string strAccounts;
    auto it = std::sregex_iterator(strDocument.begin() + nFiles, strDocument.end(), kTally);
    for (const char* pszSide : {"source", "destination"}) {
        strAccounts += strAccounts.empty() ? "" : "; ";
        strAccounts += pszSide;
        strAccounts += ':';
        unsigned long long nListed[2] = {};
        unsigned long long nSum[2] = {};
        for (int i = 0; i < 7 && it != std::sregex_iterator(); ++i, ++it) {
            const unsigned long long nCount = std::stoull((*it)[2]);
            const unsigned long long nBytes = std::stoull((*it)[3]);
            (i == 0 ? nListed : nSum)[0] += nCount;
            (i == 0 ? nListed : nSum)[1] += nBytes;
            strAccounts +=
                ' ' + (*it)[1].str() + ' ' + std::to_string(nCount) + '/' + std::to_string(nBytes);
        }
        EXPECT_EQ(nListed[0], nSum[0]) << pszSide << ": the classes' files are not those listed";
        EXPECT_EQ(nListed[1], nSum[1]) << pszSide << ": the classes' bytes are not those listed";
    }
    return strAccounts;
}

}  // namespace e2e
