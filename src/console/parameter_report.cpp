// The report side of the console framework: the banner, the usage text and
// the lists of wrong parameters that the parse collected.
#include <shlwapi.h>
#include <wchar.h>

#include "console/base_console.h"
#include "runtime/version_info.h"

namespace {

// Writes a text unchanged and ends its line.
void WriteLine(CMessageWriter& writer, const std::wstring& strText) {
    WriteMessage(writer, strText.c_str(), MSG_INFO | MSG_VERBATIM, 0);
    WriteMessage(writer, nullptr, MSG_INFO | MSG_NEWLINE, 0);
}

}  // namespace

void CBaseConsole::ShowBanner() {
    // Missing version information only leaves out the lines concerned.
    const CConsoleVersionInfo versionInfo;
    std::wstring strLine;
    if (versionInfo.GetVersionLine(strLine)) {
        WriteLine(*this, strLine);
    }
    const std::wstring strDescription = GetDescription();
    if (!strDescription.empty()) {
        WriteLine(*this, strDescription);
    }
    std::wstring strCopyright;
    if (versionInfo.GetCopyright(strCopyright)) {
        WriteLine(*this, strCopyright);
    }
    WriteMessage(*this, nullptr, MSG_INFO | MSG_NEWLINE, 0);
}

bool CBaseConsole::ReportParameters() {
    // The banner's writes do not make a block: no empty line follows it
    // unless something is reported.
    m_nWrites = 0;
    bool bReported = false;

    if (IsOptionSet(PARAM_HELP)) {
        ShowUsage();
        bReported = true;
    }
    EndBlock();

    if (!m_strInvalid.empty()) {
        Print(*this, L"Invalid parameter value(s):\n\n");
        WriteMessage(*this, m_strInvalid.c_str(), MSG_INFO | MSG_VERBATIM, 0);
        bReported = true;
    }
    EndBlock();

    if (!m_strUnknown.empty()) {
        Print(*this, L"Unknown parameter(s):\n\n");
        WriteMessage(*this, m_strUnknown.c_str(), MSG_INFO | MSG_VERBATIM, 0);
        bReported = true;
    }
    EndBlock();

    if (!m_strError.empty()) {
        // Passed as an argument, not as the format: a "%" in a message must
        // come out as it is.
        PrintError(*this, L"%s", m_hrError, m_strError.c_str());
        bReported = true;
    }
    EndBlock();

    return bReported;
}

void CBaseConsole::ShowUsage() {
    const std::wstring strUsage = GetUsage();
    if (strUsage.empty()) {
        PrintLine(*this, L"No help is available for this program.");
        return;
    }
    // The program's name is its file name in lower case, without folder and
    // extension: "quorva" for C:\Tools\Quorva.exe.
    wchar_t szName[MAX_PATH];
    const DWORD cch = ::GetModuleFileNameW(nullptr, szName, MAX_PATH);
    if (cch == 0 || cch >= MAX_PATH) {
        return;
    }
    ::PathStripPathW(szName);
    ::PathRemoveExtensionW(szName);
    ::_wcslwr_s(szName, MAX_PATH);

    Print(*this, L"Usage:\n\n  ");
    WriteMessage(*this, szName, MSG_INFO | MSG_VERBATIM, 0);
    Print(*this, L" ");
    WriteMessage(*this, strUsage.c_str(), MSG_INFO | MSG_VERBATIM, 0);
}
