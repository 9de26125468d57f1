#include "e2e/e2e_support.h"

#include <regex>

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

std::string NormalizeDuration(const std::string& strOutput) {
    static const std::regex kDuration("Comparison completed in [^\\r\\n]*second\\(s\\)\\.");
    return std::regex_replace(strOutput, kDuration, "Comparison completed in <time>.");
}

CTwoTrees::CTwoTrees() {
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

}  // namespace e2e
