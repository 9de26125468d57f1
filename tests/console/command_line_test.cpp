#include <gtest/gtest.h>

#include <fcntl.h>

#include <string>
#include <vector>

#include "console/base_console.h"
#include "console/test_console.h"

namespace {

using test::CTestConsole;
using test::Parse;

std::wstring Repeat(const std::wstring& strValue, int nCount) {
    std::wstring str;
    for (int i = 0; i < nCount; ++i) {
        str += (i > 0 ? L"," : L"") + strValue;
    }
    return str;
}

std::vector<std::wstring> Arguments(const std::wstring& strOption, const std::wstring& strValue,
                                    int nCount) {
    std::vector<std::wstring> arguments(1, strOption);
    arguments.insert(arguments.end(), static_cast<size_t>(nCount), strValue);
    return arguments;
}

std::wstring RepeatCall(const std::wstring& strValue, int nCount) {
    std::wstring str = L"Ox#" + std::to_wstring(nCount) + L"(";
    for (int i = 0; i < nCount; ++i) {
        str += (i > 0 ? L"|" : L"") + strValue;
    }
    return str + L") ";
}

TEST(CommandLine, ParsesArgumentsAndCollectsErrors) {
    const DWORD kAll = 0x7FFFFFFF;
    struct {
        const char* pszName;
        std::vector<std::wstring> arguments;
        DWORD dwDisplayLevels;
        std::wstring strCalls;  // handler calls logged by the test console
        std::wstring strInvalid;
        std::wstring strUnknown;
        bool bHelp;
        int nLevel;
        int nMode;
    } const kCases[] = {
        {"no arguments", {}, kAll, L"", L"", L"", false, DISPLAY_NORMAL, _O_TEXT},
        {"two positionals",
         {L"a", L"b"},
         kAll,
         L"P1(a) P2(b) ",
         L"",
         L"",
         false,
         DISPLAY_NORMAL,
         _O_TEXT},
        {"positional refused by the handler",
         {L"a", L"b", L"c"},
         kAll,
         L"P1(a) P2(b) P3(c) ",
         L"",
         L"\tc\n",
         true,
         DISPLAY_NORMAL,
         _O_TEXT},
        {"/DISPLAY:Verbose",
         {L"/DISPLAY:Verbose"},
         kAll,
         L"ODISPLAY#1(Verbose) ",
         L"",
         L"",
         false,
         DISPLAY_VERBOSE,
         _O_TEXT},
        {"/di:v", {L"/di:v"}, kAll, L"Odi#1(v) ", L"", L"", false, DISPLAY_VERBOSE, _O_TEXT},
        {"-display:verbose",
         {L"-display:verbose"},
         kAll,
         L"Odisplay#1(verbose) ",
         L"",
         L"",
         false,
         DISPLAY_VERBOSE,
         _O_TEXT},
        {"n abbreviates none",
         {L"/display:n"},
         kAll,
         L"Odisplay#1(n) ",
         L"",
         L"",
         false,
         DISPLAY_NONE,
         _O_TEXT},
        {"nor abbreviates normal",
         {L"/display:verbose", L"/display:nor"},
         kAll,
         L"Odisplay#1(verbose) Odisplay#1(nor) ",
         L"",
         L"",
         false,
         DISPLAY_NORMAL,
         _O_TEXT},
        {"level outside the accepted set",
         {L"/display:progress"},
         13,
         L"Odisplay#1(progress) ",
         L"\t/display (expected: none,normal,verbose)\n",
         L"",
         false,
         DISPLAY_NORMAL,
         _O_TEXT},
        {"progress accepted when allowed",
         {L"/display:p"},
         kAll,
         L"Odisplay#1(p) ",
         L"",
         L"",
         false,
         DISPLAY_PROGRESS,
         _O_TEXT},
        {"unknown level lists all accepted",
         {L"/display:loud"},
         kAll,
         L"Odisplay#1(loud) ",
         L"\t/display (expected: none,normal,progress,verbose)\n",
         L"",
         false,
         DISPLAY_NORMAL,
         _O_TEXT},
        {"level set, then the mode fails",
         {L"/display:verbose,xyz"},
         kAll,
         L"Odisplay#2(verbose|xyz) ",
         L"\t/display (expected: text,unicode,utf8)\n",
         L"",
         false,
         DISPLAY_VERBOSE,
         _O_TEXT},
        {"three values, no expected list",
         {L"/display:a,b,c"},
         kAll,
         L"Odisplay#3(a|b|c) ",
         L"\t/display\n",
         L"",
         false,
         DISPLAY_NORMAL,
         _O_TEXT},
        {"empty level keeps the level, mode utf8",
         {L"/display:none", L"/display:,utf8"},
         kAll,
         L"Odisplay#1(none) Odisplay#2(|utf8) ",
         L"",
         L"",
         false,
         DISPLAY_NONE,
         _O_U8TEXT},
        {"normal and unicode",
         {L"/display:normal,unicode"},
         kAll,
         L"Odisplay#2(normal|unicode) ",
         L"",
         L"",
         false,
         DISPLAY_NORMAL,
         _O_U16TEXT},
        {"values from following arguments",
         {L"/display", L"verbose", L"u"},
         kAll,
         L"Odisplay#2(verbose|u) ",
         L"",
         L"",
         false,
         DISPLAY_VERBOSE,
         _O_U16TEXT},
        {"/display alone",
         {L"/display"},
         kAll,
         L"Odisplay#0() ",
         L"",
         L"",
         false,
         DISPLAY_NORMAL,
         _O_TEXT},
        {"/help", {L"/help"}, kAll, L"Ohelp#0() ", L"", L"", true, DISPLAY_NORMAL, _O_TEXT},
        {"/? and -?",
         {L"/?", L"-?"},
         kAll,
         L"O?#0() O?#0() ",
         L"",
         L"",
         true,
         DISPLAY_NORMAL,
         _O_TEXT},
        {"/he", {L"/he"}, kAll, L"Ohe#0() ", L"", L"", true, DISPLAY_NORMAL, _O_TEXT},
        {"/help:x is invalid and asks for help",
         {L"/help:x"},
         kAll,
         L"Ohelp#1(x) ",
         L"\t/help\n",
         L"",
         true,
         DISPLAY_NORMAL,
         _O_TEXT},
        {"/help with a following value",
         {L"/help", L"x"},
         kAll,
         L"Ohelp#1(x) ",
         L"\t/help\n",
         L"",
         true,
         DISPLAY_NORMAL,
         _O_TEXT},
        {"-5 positional, then the value of an option",
         {L"-5", L"/x", L"-5"},
         kAll,
         L"P1(-5) Ox#1(-5) ",
         L"",
         L"",
         false,
         DISPLAY_NORMAL,
         _O_TEXT},
        {"positional after an option with a colon",
         {L"a", L"/x:1", L"b"},
         kAll,
         L"P1(a) Ox#1(1) ",
         L"",
         L"\tb\n",
         true,
         DISPLAY_NORMAL,
         _O_TEXT},
        {"\"/\" alone", {L"/"}, kAll, L"", L"", L"\t/\n", true, DISPLAY_NORMAL, _O_TEXT},
        {"\"-\" alone", {L"-"}, kAll, L"", L"", L"\t-\n", true, DISPLAY_NORMAL, _O_TEXT},
        {"\"/\" and a colon", {L"/:abc"}, kAll, L"", L"", L"\t/\n", true, DISPLAY_NORMAL, _O_TEXT},
        {"\"/\" ends a pending option",
         {L"/x", L"a", L"/", L"b"},
         kAll,
         L"Ox#1(a) ",
         L"",
         L"\t/\n\tb\n",
         true,
         DISPLAY_NORMAL,
         _O_TEXT},
        {"only a colon introduces values",
         {L"/date=5"},
         kAll,
         L"Odate=5#0() ",
         L"",
         L"\t/date=5\n",
         true,
         DISPLAY_NORMAL,
         _O_TEXT},
        {"unknown option with values",
         {L"/y:1,2"},
         kAll,
         L"Oy#2(1|2) ",
         L"",
         L"\t/y\n",
         true,
         DISPLAY_NORMAL,
         _O_TEXT},
        {"32 values",
         {L"/x:" + Repeat(L"v", 32)},
         kAll,
         RepeatCall(L"v", 32),
         L"",
         L"",
         false,
         DISPLAY_NORMAL,
         _O_TEXT},
        {"33 values",
         {L"/x:" + Repeat(L"v", 33)},
         kAll,
         L"",
         L"\t/x\n",
         L"",
         false,
         DISPLAY_NORMAL,
         _O_TEXT},
        {"following arguments have no value limit", Arguments(L"/x", L"v", 33), kAll,
         RepeatCall(L"v", 33), L"", L"", false, DISPLAY_NORMAL, _O_TEXT},
        {"unclosed quote",
         {L"/x:a,\"b,c"},
         kAll,
         L"",
         L"\t/x\n",
         L"",
         false,
         DISPLAY_NORMAL,
         _O_TEXT},
        {"quoted value holds separators",
         {L"/x:\"a,b;c=d\",e"},
         kAll,
         L"Ox#2(a,b;c=d|e) ",
         L"",
         L"",
         false,
         DISPLAY_NORMAL,
         _O_TEXT},
        {"text after the closing quote dropped",
         {L"/x:\"a\"junk;b"},
         kAll,
         L"Ox#2(a|b) ",
         L"",
         L"",
         false,
         DISPLAY_NORMAL,
         _O_TEXT},
        {"empty quoted value",
         {L"/x:\"\""},
         kAll,
         L"Ox#1() ",
         L"",
         L"",
         false,
         DISPLAY_NORMAL,
         _O_TEXT},
        {"all three separators",
         {L"/x:a;b=c,d"},
         kAll,
         L"Ox#4(a|b|c|d) ",
         L"",
         L"",
         false,
         DISPLAY_NORMAL,
         _O_TEXT},
        {"a,,b gives three values",
         {L"/x:a,,b"},
         kAll,
         L"Ox#3(a||b) ",
         L"",
         L"",
         false,
         DISPLAY_NORMAL,
         _O_TEXT},
        {"a colon alone gives one empty value",
         {L"/x:"},
         kAll,
         L"Ox#1() ",
         L"",
         L"",
         false,
         DISPLAY_NORMAL,
         _O_TEXT},
        {"trailing separator gives an empty last value",
         {L"/x:a,"},
         kAll,
         L"Ox#2(a|) ",
         L"",
         L"",
         false,
         DISPLAY_NORMAL,
         _O_TEXT},
        {"only the first colon splits",
         {L"/x:C:\\a"},
         kAll,
         L"Ox#1(C:\\a) ",
         L"",
         L"",
         false,
         DISPLAY_NORMAL,
         _O_TEXT},
        {"/x:sha1,md5 gives two values",
         {L"/x:sha1,md5"},
         kAll,
         L"Ox#2(sha1|md5) ",
         L"",
         L"",
         false,
         DISPLAY_NORMAL,
         _O_TEXT},
        {"/x sha1,md5 gives one value",
         {L"/x", L"sha1,md5"},
         kAll,
         L"Ox#1(sha1,md5) ",
         L"",
         L"",
         false,
         DISPLAY_NORMAL,
         _O_TEXT},
        {"following values are taken whole",
         {L"/x", L"\"q,r"},
         kAll,
         L"Ox#1(\"q,r) ",
         L"",
         L"",
         false,
         DISPLAY_NORMAL,
         _O_TEXT},
        {"a pending option ends at the next option",
         {L"/x", L"a", L"b", L"/di", L"none"},
         kAll,
         L"Ox#2(a|b) Odi#1(none) ",
         L"",
         L"",
         false,
         DISPLAY_NONE,
         _O_TEXT},
        {"every failure is reported once, in order",
         {L"/display:loud", L"/q", L"/help:1", L"/display:x,y,z"},
         13,
         L"Odisplay#1(loud) Oq#0() Ohelp#1(1) Odisplay#3(x|y|z) ",
         L"\t/display (expected: none,normal,verbose)\n\t/help\n\t/display\n",
         L"\t/q\n",
         true,
         DISPLAY_NORMAL,
         _O_TEXT},
    };
    for (const auto& tc : kCases) {
        SCOPED_TRACE(tc.pszName);
        CTestConsole console;
        console.m_dwDisplayLevels = tc.dwDisplayLevels;
        Parse(console, tc.arguments);
        EXPECT_EQ(tc.strCalls, console.m_strCalls);
        EXPECT_EQ(tc.strInvalid, console.m_strInvalid);
        EXPECT_EQ(tc.strUnknown, console.m_strUnknown);
        EXPECT_EQ(tc.bHelp, console.IsOptionSet(PARAM_HELP));
        EXPECT_EQ(tc.nLevel, console.GetDisplayLevel());
        EXPECT_EQ(tc.nMode, console.GetTranslationMode());
        EXPECT_TRUE(console.m_strExpected.empty());
        EXPECT_EQ(tc.bHelp || !tc.strInvalid.empty(), console.HasParameterErrors());
    }
}

TEST(CommandLine, ArgumentsAreCutAtTheirColon) {
    CTestConsole console;
    wchar_t szProgram[] = L"q";
    wchar_t szOption[] = L"/x:a,b";
    wchar_t* argv[] = {szProgram, szOption, nullptr};
    console.ParseCommandLine(2, argv);
    EXPECT_EQ(std::wstring(L"/x"), std::wstring(argv[1]));
}

TEST(CommandLine, DisplayOptionSetsItsFlag) {
    CTestConsole console;
    EXPECT_FALSE(console.IsOptionSet(PARAM_DISPLAY));
    Parse(console, {L"/display:none"});
    EXPECT_TRUE(console.IsOptionSet(PARAM_DISPLAY));
    EXPECT_FALSE(console.IsOptionSet(PARAM_HELP));
    // Ids of other groups are never framework flags.
    EXPECT_FALSE(console.IsOptionSet(0x20000));
    EXPECT_FALSE(console.SetOption(0x20001));
    EXPECT_TRUE(console.SetOption(PARAM_HELP));
    EXPECT_TRUE(console.IsOptionSet(PARAM_HELP));
    EXPECT_TRUE(console.ClearOption(PARAM_HELP));
    EXPECT_FALSE(console.IsOptionSet(PARAM_HELP));
    EXPECT_EQ(1u, console.m_dwFlags);
}

TEST(CommandLine, FindsKeywordsByAbbreviation) {
    static const KEYWORD_ENTRY kTable[] = {
        {L"none", 1}, {L"normal", 4}, {L"progress", 2}, {L"verbose", 8}};
    struct {
        const wchar_t* pszText;
        int nRow;
        DWORD dwValue;
    } const kCases[] = {
        {L"", 0, 1},       {L"n", 0, 1},       {L"no", 0, 1},      {L"nor", 1, 4},
        {L"NORMAL", 1, 4}, {L"Verb", 3, 8},    {L"p", 2, 2},       {L"normalx", -1, 99},
        {L"x", -1, 99},    {L"nonee", -1, 99}, {L"verbose", 3, 8},
    };
    for (const auto& tc : kCases) {
        SCOPED_TRACE(testing::PrintToString(std::wstring(tc.pszText)));
        DWORD dwValue = 99;
        EXPECT_EQ(tc.nRow, CBaseConsole::FindKeyword(tc.pszText, kTable, 4, &dwValue));
        EXPECT_EQ(tc.dwValue, dwValue);
    }
}

TEST(CommandLine, ExpectedKeywordsFollowTheMask) {
    static const KEYWORD_ENTRY kTable[] = {
        {L"none", 1}, {L"normal", 4}, {L"progress", 2}, {L"verbose", 8}};
    struct {
        DWORD dwMask;
        const wchar_t* pszExpected;
    } const kCases[] = {
        {0, L"none,normal,progress,verbose"},
        {13, L"none,normal,verbose"},
        {2, L"progress"},
        {16, L""},
    };
    for (const auto& tc : kCases) {
        SCOPED_TRACE(tc.dwMask);
        CTestConsole console;
        console.m_strExpected = L"stale";
        console.SetExpected(kTable, 4, tc.dwMask);
        EXPECT_EQ(std::wstring(tc.pszExpected), console.m_strExpected);
    }
}

}  // namespace
