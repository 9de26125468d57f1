#include "console/base_console.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <io.h>

#include <algorithm>
#include <functional>
#include <string>

#include "console/test_console.h"
#include "runtime/error_text.h"
#include "runtime/wide_string.h"

namespace {

using test::CTestConsole;

std::string Bytes(const char* psz, size_t cb) {
    return std::string(psz, cb);
}

TEST(ConsoleOutput, EncodesEachTranslationMode) {
    struct {
        const char* pszName;
        std::wstring strText;
        int nMode;
        std::string strBytes;
    } const kCases[] = {
        {"text: ascii, line feed as CR LF", L"ab\n", _O_TEXT, "ab\r\n"},
        {"text: latin-1 kept, others dropped, rest kept", L"caf\u00e9 \u20ac\u4e2d ok\n", _O_TEXT,
         "caf\xe9  ok\r\n"},
        {"text: surrogate pair dropped", L"a\xD83D\xDE00z", _O_TEXT, "az"},
        {"text: carriage return passes", L"a\r\n", _O_TEXT, "a\r\r\n"},
        {"utf-16: little endian, no mark", L"a\u20ac\n", _O_U16TEXT,
         Bytes("a\0\xac\x20\r\0\n\0", 8)},
        {"utf-16: surrogate pair kept", L"\xD83D\xDE00", _O_U16TEXT, Bytes("\x3d\xd8\x00\xde", 4)},
        {"utf-8: no mark", L"caf\u00e9 \u20ac\n", _O_U8TEXT, "caf\xc3\xa9 \xe2\x82\xac\r\n"},
        {"utf-8: surrogate pair is one character", L"<\xD83D\xDE00>", _O_U8TEXT,
         "<\xf0\x9f\x98\x80>"},
        {"utf-8: half a pair dropped",
         L"a\xD83D"
         L"b\xDE00"
         L"c",
         _O_U8TEXT, "abc"},
        {"empty", L"", _O_U8TEXT, ""},
    };
    for (const auto& tc : kCases) {
        SCOPED_TRACE(tc.pszName);
        EXPECT_EQ(tc.strBytes, EncodeOutput(tc.strText, tc.nMode));
    }
}

// The bytes of a redirected output and of a console stream (a file in the
// runtime's translation mode) are the same in every mode.
TEST(ConsoleOutput, RedirectedAndConsoleStreamsWriteTheSameBytes) {
    const std::wstring strText = L"caf\u00e9 \u20ac ok \xD83D\xDE00!\nline two\n";
    const int kModes[] = {_O_TEXT, _O_U16TEXT, _O_U8TEXT};
    for (const int nMode : kModes) {
        SCOPED_TRACE(nMode);
        CTestConsole redirected;
        ASSERT_FALSE(redirected.IsConsole() && redirected.m_bConsole);
        redirected.SetTranslationMode(nMode);
        PrintLine(redirected, L"%s", strText.c_str());
        EXPECT_EQ(EncodeOutput(strText + L"\n", nMode), redirected.ReadOutput());

        CTestConsole console;
        console.m_bConsole = TRUE;
        console.SetTranslationMode(nMode);
        PrintLine(console, L"%s", strText.c_str());
        EXPECT_EQ(EncodeOutput(strText + L"\n", nMode), console.ReadOutput());
    }
}

TEST(ConsoleOutput, StartsAsNarrowTextWhenRedirected) {
    CTestConsole console;
    EXPECT_FALSE(console.m_bConsole);
    EXPECT_EQ(_O_TEXT, console.GetTranslationMode());
    EXPECT_EQ(DISPLAY_NORMAL, console.GetDisplayLevel());
}

TEST(ConsoleOutput, DisplayLevelsAndBlocks) {
    wchar_t szSystemText[SYSTEM_ERROR_TEXT_CHARS];
    ASSERT_TRUE(GetSystemErrorText(0x80070005, szSystemText));
    const std::string strAccessDenied = test::Crlf(std::wstring(szSystemText) + L"\n");
    struct Case {
        const char* pszName;
        std::function<void(CTestConsole&)> run;
        std::string strBytes;
        bool bLineStart;
        DWORD nWrites;
    };
    const Case kCases[] = {
        {"normal writes everything",
         [](CTestConsole& c) {
             PrintLine(c, L"a");
             PrintError(c, L"e", E_ACCESSDENIED);
         },
         "a\r\nERROR: e\r\n" + strAccessDenied, true, 3},
        {"none writes nothing, errors included",
         [](CTestConsole& c) {
             c.SetDisplayLevel(DISPLAY_NONE);
             PrintLine(c, L"a");
             PrintError(c, L"e", E_ACCESSDENIED);
             Print(c, L"b");
             c.EndBlock();
         },
         "", false, 0},
        {"progress level writes no messages",
         [](CTestConsole& c) {
             c.SetDisplayLevel(DISPLAY_PROGRESS);
             PrintLine(c, L"a");
             c.EndBlock();
         },
         "", true, 0},
        {"verbose writes messages",
         [](CTestConsole& c) {
             c.SetDisplayLevel(DISPLAY_VERBOSE);
             PrintLine(c, L"a");
         },
         "a\r\n", true, 1},
        {"end of block after a write: one empty line, once",
         [](CTestConsole& c) {
             PrintLine(c, L"a");
             c.EndBlock();
             c.EndBlock();
         },
         "a\r\n\r\n", true, 0},
        {"end of block without a write: nothing",
         [](CTestConsole& c) {
             c.EndBlock();
             PrintLine(c, L"a");
         },
         "a\r\n", true, 1},
        {"end of block leaves the line state",
         [](CTestConsole& c) {
             Print(c, L"a");
             c.EndBlock();
         },
         "a\r\n", false, 0},
        {"each write counts",
         [](CTestConsole& c) {
             Print(c, L"a");
             Print(c, L"b");
             PrintLine(c, nullptr);
         },
         "ab\r\n", true, 3},
    };
    for (const auto& tc : kCases) {
        SCOPED_TRACE(tc.pszName);
        CTestConsole console;
        console.m_dwDecoration = DECO_PREFIX;
        tc.run(console);
        EXPECT_EQ(tc.strBytes, console.ReadOutput());
        EXPECT_EQ(tc.bLineStart, console.IsLineStart());
        EXPECT_EQ(tc.nWrites, console.m_nWrites);
    }
}

TEST(ConsoleOutput, ProgressLines) {
    struct Case {
        const char* pszName;
        bool bConsole;
        std::function<void(CTestConsole&)> run;
        std::string strBytes;
    };
    // Blanks over the cells that a progress line took.
    const auto blank = [](size_t nCells) { return "\r" + std::string(nCells, ' ') + "\r"; };
    const Case kCases[] = {
        {"unfinished progress is not written when redirected", false,
         [](CTestConsole& c) { c.WriteProgress(L"%d%%", 50); }, ""},
        {"finished progress is written when redirected", false,
         [](CTestConsole& c) {
             c.WriteProgress(L"%d%%", 50);
             c.WriteProgress(L"done\n");
         },
         "done\r\n"},
        {"redirected progress path is written whole", false,
         [](CTestConsole& c) {
             c.m_strProgressPath = L"C:\\a\\b.txt";
             c.WriteProgress(L"ok\n");
             c.WriteProgress(L"next\n");
         },
         "C:\\a\\b.txt: ok\r\nnext\r\n"},
        {"a message closes an open progress line", false,
         [](CTestConsole& c) {
             c.m_strProgressPath = L"C:\\a";
             PrintLine(c, L"m");
             PrintLine(c, L"n");
         },
         "C:\\a: \r\nm\r\nn\r\n"},
        {"progress level shows finished progress", false,
         [](CTestConsole& c) {
             c.SetDisplayLevel(DISPLAY_PROGRESS);
             c.WriteProgress(L"done\n");
         },
         "done\r\n"},
        {"none shows no progress", false,
         [](CTestConsole& c) {
             c.SetDisplayLevel(DISPLAY_NONE);
             c.m_strProgressPath = L"C:\\a";
             c.WriteProgress(L"done\n");
             c.WriteProgress(L"again\n");
         },
         ""},
        {"console: unfinished progress is written, finished is blanked first", true,
         [](CTestConsole& c) {
             c.WriteProgress(L"%d%%", 50);
             c.WriteProgress(L"done\n");
         },
         "50%" + blank(3) + "done\r\n"},
        {"console: a message or a block end erases an unfinished progress line and its path", true,
         [](CTestConsole& c) {
             c.SetProgressPath(L"C:\\a");
             c.WriteProgress(L"%d%%", 50);
             PrintLine(c, L"m");
             c.WriteProgress(L"%d%%", 60);
             c.EndBlock();
         },
         "\rC:\\a: 50%" + blank(9) + "m\r\n60%" + blank(3) + "\r\n"},
        {"console: a shorter line covers the longer one before it", true,
         [](CTestConsole& c) {
             c.SetProgressPath(L"C:\\abc");
             c.WriteProgress(L"%d%%", 50);
             c.SetProgressPath(L"C:\\a");
             c.WriteProgress(L"%d%%", 60);
             c.EndBlock();
         },
         "\rC:\\abc: 50%\rC:\\a: 60%  " + blank(11) + "\r\n"},
        {"console: the line is cut to the window less one column", true,
         [](CTestConsole& c) {
             c.m_nColumns = 6;
             c.WriteProgress(L"abcdefgh");
             c.EndBlock();
         },
         "abcde" + blank(5) + "\r\n"},
    };
    for (const auto& tc : kCases) {
        SCOPED_TRACE(tc.pszName);
        CTestConsole console;
        if (tc.bConsole) {
            console.m_bConsole = TRUE;
            console.SetTranslationMode(_O_TEXT);
        }
        tc.run(console);
        EXPECT_EQ(tc.strBytes, console.ReadOutput());
    }
}

// The path is shortened with "..." inside it to 39 cells and to what the
// window leaves, wide characters counting two; the blank takes back every
// cell of the line.
TEST(ConsoleOutput, ConsoleProgressPathIsShortened) {
    const struct {
        const char* pszName;
        std::wstring strPath;
        int nColumns;
    } kCases[] = {
        {"long path", L"C:\\a rather long folder name\\and another long folder\\the file name.txt",
         80},
        {"wide characters",
         L"\\" + std::wstring(30, L'\u6587') + L"\\" + std::wstring(9, L'\u4EF6'), 80},
        {"narrow window", L"C:\\a rather long folder name\\and another long folder", 30},
    };
    for (const auto& tc : kCases) {
        SCOPED_TRACE(tc.pszName);
        CTestConsole console;
        console.m_bConsole = TRUE;
        console.m_nColumns = tc.nColumns;
        console.SetTranslationMode(_O_U16TEXT);
        console.m_strProgressPath = tc.strPath;
        console.WriteProgress(L"%d%%", 50);
        EXPECT_EQ(tc.strPath, console.m_strProgressPath);  // still open
        console.EndBlock();
        const std::string strBytes = console.ReadOutput();
        const std::wstring strOutput(reinterpret_cast<const wchar_t*>(strBytes.data()),
                                     strBytes.size() / 2);
        const size_t nEnd = strOutput.find(L": 50%");
        ASSERT_NE(std::wstring::npos, nEnd);
        EXPECT_EQ(L'\r', strOutput.front());
        const std::wstring strShown = strOutput.substr(1, nEnd - 1);
        EXPECT_LE(TextCells(strShown), std::min<size_t>(39, tc.nColumns - 1 - 5));
        EXPECT_NE(std::wstring::npos, strShown.find(L"...")) << testing::PrintToString(strShown);
        const size_t nCells = TextCells(strShown) + 5;
        EXPECT_EQ(L"\r" + std::wstring(nCells, L' ') + L"\r\r\n", strOutput.substr(nEnd + 5));
    }
}

// Keys for Ask, read one at a time; WEOF when they run out.
std::wstring g_strKeys;
size_t g_nKeysRead = 0;

wint_t ReadScriptedKey() {
    if (g_nKeysRead >= g_strKeys.size()) {
        ++g_nKeysRead;
        return WEOF;
    }
    return g_strKeys[g_nKeysRead++];
}

TEST(ConsoleOutput, AskOffersTheAllowedAnswers) {
    struct {
        const char* pszName;
        DWORD dwFlags;
        const wchar_t* pszKeys;
        int nExpected;
        std::string strBytes;
        size_t nReads;
    } const kCases[] = {
        {"yes after an ignored key", 32 | 64, L"xy", IDYES, " (Yes/No): y\r\n", 2},
        {"no in upper case", 32 | 64, L"N", IDNO, " (Yes/No): N\r\n", 1},
        {"failed read cancels", 32 | 64, L"q", IDCANCEL, " (Yes/No): \r\n", 2},
        {"all answers in table order", 0x7F, L"c", IDCANCEL,
         " (Ok/Yes/No/Abort/Retry/Ignore/Cancel): c\r\n", 1},
        {"a key of a disallowed answer is ignored", 1 | 2, L"yo", IDOK, " (Ok/Cancel): o\r\n", 2},
        {"retry and ignore", 8 | 16, L"I", IDIGNORE, " (Retry/Ignore): I\r\n", 1},
        {"no answer allowed: cancel without reading", 0, L"y", IDCANCEL, " (): \r\n", 0},
    };
    for (const auto& tc : kCases) {
        SCOPED_TRACE(tc.pszName);
        CTestConsole console;
        console.m_pfnReadKey = ReadScriptedKey;
        g_strKeys = tc.pszKeys;
        g_nKeysRead = 0;
        Print(console, L"q?");
        EXPECT_EQ(tc.nExpected, console.Ask(tc.dwFlags));
        EXPECT_EQ("q?" + tc.strBytes, console.ReadOutput());
        EXPECT_EQ(tc.nReads, g_nKeysRead);
        EXPECT_TRUE(console.IsLineStart());
    }
}

TEST(ConsoleOutput, QuestionMessageReturnsTheAnswer) {
    CTestConsole console;
    console.m_dwDecoration = DECO_PREFIX;
    console.m_pfnReadKey = ReadScriptedKey;
    g_strKeys = L"n";
    g_nKeysRead = 0;
    EXPECT_EQ(IDNO, WriteMessage(console, L"Overwrite %s?", MSG_QUESTION | 32 | 64, 0, L"a.txt"));
    EXPECT_EQ("Overwrite a.txt? (Yes/No): n\r\n", console.ReadOutput());
    EXPECT_TRUE(console.IsLineStart());

    CTestConsole silent;
    silent.SetDisplayLevel(DISPLAY_NONE);
    silent.m_pfnReadKey = ReadScriptedKey;
    g_strKeys = L"y";
    g_nKeysRead = 0;
    EXPECT_EQ(IDYES, WriteMessage(silent, L"Go?", MSG_QUESTION | 32 | 64, 0));
    EXPECT_EQ("", silent.ReadOutput());
}

}  // namespace
