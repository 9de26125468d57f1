// Consoles for the console framework's tests: a writer that keeps what it
// composes, and a CBaseConsole whose output goes to a file of its own
// temporary folder instead of standard output.
#pragma once

#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <stdexcept>
#include <string>
#include <vector>

#include "console/base_console.h"
#include "support/test_support.h"

namespace test {

// Parses the arguments (after the program name) as wmain would get them.
inline void Parse(CBaseConsole& console, const std::vector<std::wstring>& arguments) {
    std::vector<std::vector<wchar_t>> buffers;
    buffers.push_back({L'q', L'\0'});
    for (const std::wstring& str : arguments) {
        buffers.emplace_back(str.c_str(), str.c_str() + str.size() + 1);
    }
    std::vector<wchar_t*> argv;
    for (auto& buffer : buffers) {
        argv.push_back(buffer.data());
    }
    argv.push_back(nullptr);
    console.ParseCommandLine(static_cast<int>(buffers.size()), argv.data());
}

// Keeps every composed piece; the writer's state is open to the tests.
class CCaptureWriter : public CMessageWriter {
public:
    void Output(const std::wstring& strText) override { m_strOutput += strText; }

    using CMessageWriter::m_dwDecoration;
    using CMessageWriter::m_dwMinKind;
    using CMessageWriter::m_nIndent;

    std::wstring m_strOutput;
};

// The output file, made before the console that writes to it.
class COutputFile {
protected:
    COutputFile() {
        m_pFile = ::_wfopen((m_folder / L"output.bin").c_str(), L"w+b");
        if (m_pFile == nullptr) {
            throw std::runtime_error("cannot create the console output file");
        }
    }
    ~COutputFile() { ::fclose(m_pFile); }

    CTempFolder m_folder;
    FILE* m_pFile = nullptr;
};

// A console writing to its own file, as to a redirected standard output.
// It logs the handler calls of the parser: "P<index>(<text>) " for a
// positional argument, "O<name>#<count>(<value>|<value>) " for an option.
class CTestConsole : private COutputFile, public CBaseConsole {
public:
    CTestConsole() : CBaseConsole(m_pFile) {}

    std::wstring GetDescription() const override { return L"A console under test."; }
    std::wstring GetUsage() const override { return L"<arg> [/x]\n"; }

    int OnPositional(int nIndex, const wchar_t* pszText) override {
        m_strCalls += L"P" + std::to_wstring(nIndex) + L"(" + pszText + L") ";
        return nIndex <= 2 ? 0 : PARAM_UNEXPECTED;
    }

    // The window's width that the progress line is fitted to.
    int GetConsoleColumns() const override { return m_nColumns; }
    int m_nColumns = 80;

    // The test's own option table ("x") first, then the framework's.
    int OnOption(const wchar_t* pszName, wchar_t** ppszValues, int nValues) override {
        m_strCalls += L"O" + std::wstring(pszName) + L"#" + std::to_wstring(nValues) + L"(";
        for (int i = 0; i < nValues; ++i) {
            m_strCalls += (i > 0 ? L"|" : L"") + std::wstring(ppszValues[i]);
        }
        m_strCalls += L") ";
        static const KEYWORD_ENTRY options[] = {{L"x", 0x20000}};
        if (FindKeyword(pszName, options, 1) >= 0) {
            return nValues;
        }
        return CBaseConsole::OnOption(pszName, ppszValues, nValues);
    }

    // The bytes written so far, read in binary mode whatever the stream's
    // translation mode.
    std::string ReadOutput() {
        ::fflush(m_pFile);
        const int nMode = ::_setmode(::_fileno(m_pFile), _O_BINARY);
        std::string strBytes;
        ::fseek(m_pFile, 0, SEEK_SET);
        char buffer[4096];
        size_t cb;
        while ((cb = ::fread(buffer, 1, sizeof(buffer), m_pFile)) > 0) {
            strBytes.append(buffer, cb);
        }
        ::fseek(m_pFile, 0, SEEK_END);
        ::_setmode(::_fileno(m_pFile), nMode);
        return strBytes;
    }

    using CBaseConsole::m_bConsole;
    using CBaseConsole::m_dwDecoration;
    using CBaseConsole::m_dwDisplayLevels;
    using CBaseConsole::m_dwFlags;
    using CBaseConsole::m_nWrites;
    using CBaseConsole::m_pfnReadKey;
    using CBaseConsole::m_strExpected;
    using CBaseConsole::m_strInvalid;
    using CBaseConsole::m_strProgressPath;
    using CBaseConsole::m_strUnknown;

    std::wstring m_strCalls;
};

}  // namespace test
