#include "console/message_writer.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "console/test_console.h"
#include "resources/resource.h"
#include "runtime/error_text.h"
#include "runtime/file_time.h"

namespace {

using test::CCaptureWriter;

std::wstring SystemText(DWORD dwCode) {
    wchar_t szText[SYSTEM_ERROR_TEXT_CHARS];
    if (!GetSystemErrorText(dwCode, szText)) {
        ADD_FAILURE() << "no system text for " << std::hex << dwCode;
        return std::wstring();
    }
    return szText;
}

TEST(MessageWriter, ComposesDecorationOnlyAtLineStart) {
    struct Case {
        const char* pszName;
        DWORD dwDecoration;
        std::function<void(CCaptureWriter&)> run;
        std::wstring strExpected;
        bool bLineStart;
    };
    const Case kCases[] = {
        {"indentation, then prefix", DECO_PREFIX,
         [](CCaptureWriter& w) {
             w.Indent(true);
             w.Indent(true);
             PrintError(w, L"could not read.", 0);
         },
         L"    ERROR: could not read.\n", true},
        {"prefix first, then indentation", DECO_PREFIX | DECO_PREFIX_FIRST,
         [](CCaptureWriter& w) {
             w.Indent(true);
             w.Indent(true);
             PrintError(w, L"could not read.", 0);
         },
         L"ERROR:     could not read.\n", true},
        {"information has no prefix", DECO_PREFIX,
         [](CCaptureWriter& w) {
             w.Indent(true);
             PrintLine(w, L"%d files in %s", 3, L"C:\\x");
         },
         L"  3 files in C:\\x\n", true},
        {"no prefix without DECO_PREFIX", 0,
         [](CCaptureWriter& w) { PrintError(w, L"failed.", 0); }, L"failed.\n", true},
        {"indentation back to zero", DECO_PREFIX,
         [](CCaptureWriter& w) {
             w.Indent(true);
             w.Indent(false);
             PrintError(w, L"e", 0);
         },
         L"ERROR: e\n", true},
        {"a negative level indents nothing", DECO_PREFIX,
         [](CCaptureWriter& w) {
             w.Indent(false);
             PrintError(w, L"e", 0);
         },
         L"ERROR: e\n", true},
        {"error after an unfinished piece has no prefix", DECO_PREFIX,
         [](CCaptureWriter& w) {
             Print(w, L"copying ");
             PrintError(w, L"failed.", 0);
             PrintError(w, L"again.", 0);
         },
         L"copying failed.\nERROR: again.\n", true},
        {"error with a positive code is one line", DECO_PREFIX,
         [](CCaptureWriter& w) { PrintError(w, L"could not build the source path.", 5); },
         L"ERROR: could not build the source path.\n", true},
        {"error with a negative code and no system text is one line", DECO_PREFIX,
         [](CCaptureWriter& w) { PrintError(w, L"x.", static_cast<HRESULT>(0x8FFF1234)); },
         L"ERROR: x.\n", true},
        {"error ignores NODECORATION and ends its line", DECO_PREFIX,
         [](CCaptureWriter& w) { WriteMessage(w, L"e", MSG_ERROR | MSG_NODECORATION, 0); },
         L"ERROR: e\n", true},
        {"warning", DECO_PREFIX,
         [](CCaptureWriter& w) { WriteMessage(w, L"w %d", MSG_WARNING | MSG_NEWLINE, 0, 7); },
         L"WARNING: w 7\n", true},
        {"NODECORATION on information", DECO_PREFIX,
         [](CCaptureWriter& w) {
             w.Indent(true);
             WriteMessage(w, L"plain", MSG_INFO | MSG_NODECORATION | MSG_NEWLINE, 0);
         },
         L"plain\n", true},
        {"verbatim text is not a format", DECO_PREFIX,
         [](CCaptureWriter& w) { WriteMessage(w, L"100%s done %d", MSG_INFO | MSG_VERBATIM, 0); },
         L"100%s done %d", false},
        {"debug dropped", DECO_PREFIX,
         [](CCaptureWriter& w) { WriteMessage(w, L"d", MSG_DEBUG | MSG_NEWLINE, 0); }, L"", true},
        {"debug shown when the minimum kind allows it", DECO_PREFIX,
         [](CCaptureWriter& w) {
             w.m_dwMinKind = MSG_DEBUG;
             WriteMessage(w, L"d", MSG_DEBUG | MSG_NEWLINE, 0);
         },
         L"DEBUG: d\n", true},
        {"two kinds at once write nothing", DECO_PREFIX,
         [](CCaptureWriter& w) { WriteMessage(w, L"x", MSG_INFO | MSG_ERROR, 0); }, L"", true},
        {"label, verbatim path and line end are one line", DECO_PREFIX,
         [](CCaptureWriter& w) {
             w.Indent(true);
             Print(w, L"Source: ");
             WriteMessage(w, L"C:\\100%d\\", MSG_INFO | MSG_VERBATIM, 0);
             WriteMessage(w, nullptr, MSG_INFO | MSG_NEWLINE, 0);
         },
         L"  Source: C:\\100%d\\\n", true},
        {"line feeds inside a text are not decorated", DECO_PREFIX,
         [](CCaptureWriter& w) {
             w.Indent(true);
             PrintLine(w, L"a\nb");
         },
         L"  a\nb\n", true},
        {"a text ending in a line feed starts a new line", DECO_PREFIX,
         [](CCaptureWriter& w) {
             Print(w, L"a\n");
             PrintError(w, L"e", 0);
         },
         L"a\nERROR: e\n", true},
        {"an empty piece leaves the line unfinished", DECO_PREFIX,
         [](CCaptureWriter& w) {
             Print(w, L"");
             PrintError(w, L"e", 0);
         },
         L"e\n", true},
        {"a question without an answer", DECO_PREFIX,
         [](CCaptureWriter& w) {
             EXPECT_EQ(0, WriteMessage(w, L"go?", MSG_QUESTION | MSG_NEWLINE | 32, 0));
         },
         L"go?", false},
    };
    for (const auto& tc : kCases) {
        SCOPED_TRACE(tc.pszName);
        CCaptureWriter writer;
        writer.m_dwDecoration = tc.dwDecoration;
        tc.run(writer);
        EXPECT_EQ(tc.strExpected, writer.m_strOutput);
        EXPECT_EQ(tc.bLineStart, writer.IsLineStart());
    }
}

TEST(MessageWriter, NegativeCodeAddsTheSystemTextUndecorated) {
    CCaptureWriter writer;
    writer.m_dwDecoration = DECO_PREFIX;
    writer.Indent(true);
    PrintError(writer, L"could not build the %s path.", E_ACCESSDENIED, L"source");
    EXPECT_EQ(L"  ERROR: could not build the source path.\n" + SystemText(0x80070005) + L"\n",
              writer.m_strOutput);
    EXPECT_TRUE(writer.IsLineStart());
}

TEST(MessageWriter, PrintLastErrorUsesTheLastErrorAsHResult) {
    struct {
        DWORD dwLastError;
        std::wstring strSecondLine;
    } const kCases[] = {
        {ERROR_FILE_NOT_FOUND, SystemText(0x80070002) + L"\n"},
        {ERROR_ACCESS_DENIED, SystemText(5) + L"\n"},
        {0, L""},
    };
    for (const auto& tc : kCases) {
        SCOPED_TRACE(tc.dwLastError);
        CCaptureWriter writer;
        writer.m_dwDecoration = DECO_PREFIX;
        ::SetLastError(tc.dwLastError);
        PrintLastError(writer, L"could not open %s.", L"a.txt");
        EXPECT_EQ(L"ERROR: could not open a.txt.\n" + tc.strSecondLine, writer.m_strOutput);
    }
}

TEST(MessageWriter, WritesStringTableTexts) {
    const std::wstring strCrash =
        L"An unhandled exception has occurred.\nA crash dump file was created and the "
        L"application will close.\n\nCrash dump filename:\nC:\\dumps\\quorva.dmp\n";
    struct {
        const char* pszName;
        UINT nId;
        DWORD dwFlags;
        std::wstring strExpected;
    } const kCases[] = {
        {"crash text with its path", IDS_CRASH_MESSAGE, MSG_INFO | MSG_NEWLINE, strCrash},
        {"crash text as an error", IDS_CRASH_MESSAGE, MSG_ERROR, L"ERROR: " + strCrash},
        {"id taken modulo 65536", IDS_CRASH_MESSAGE + 65536, MSG_INFO | MSG_NEWLINE, strCrash},
        {"missing string: empty, decorated and ended", 12345, MSG_ERROR, L"ERROR: \n"},
        {"id 0: empty text", 0, MSG_ERROR, L"ERROR: \n"},
    };
    for (const auto& tc : kCases) {
        SCOPED_TRACE(tc.pszName);
        CCaptureWriter writer;
        writer.m_dwDecoration = DECO_PREFIX;
        WriteResourceMessage(writer, tc.nId, tc.dwFlags, 0, L"C:\\dumps\\quorva.dmp");
        EXPECT_EQ(tc.strExpected, writer.m_strOutput);
    }
}

TEST(MessageWriter, TimeStampComesFirst) {
    CCaptureWriter writer;
    writer.m_dwDecoration = DECO_TIME | DECO_PREFIX;
    writer.Indent(true);
    std::wstring strBefore;
    ASSERT_NE(0, FormatLocalTime(strBefore));
    PrintError(writer, L"e", 0);
    std::wstring strAfter;
    ASSERT_NE(0, FormatLocalTime(strAfter));

    const std::wstring strTail = L" -   ERROR: e\n";
    const std::wstring& strOutput = writer.m_strOutput;
    ASSERT_GT(strOutput.size(), strTail.size());
    EXPECT_EQ(strTail, strOutput.substr(strOutput.size() - strTail.size()));
    const std::wstring strStamp = strOutput.substr(0, strOutput.size() - strTail.size());
    EXPECT_TRUE(strStamp == strBefore || strStamp == strAfter) << testing::PrintToString(strStamp);
}

}  // namespace
