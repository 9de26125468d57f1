#include "exclusions/text_file.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "runtime/handle.h"
#include "support/test_support.h"

namespace {

using test::CTempFolder;
using test::MakeFile;

constexpr DWORD READ_FLAGS = TF_READ | TF_UNICODE | TF_SHARE_DENYWR;

// UTF-16 little-endian and UTF-8, each with its mark.
std::string Utf16Le(const std::wstring& strText) {
    return "\xFF\xFE" + test::Utf16LeBytes(strText);
}

std::string Utf8(const std::wstring& strText) {
    return "\xEF\xBB\xBF" + test::Utf8Bytes(strText);
}

// Characters of one code each, so that a piece read out of place shows.
std::wstring Pattern(size_t cch) {
    std::wstring str;
    for (size_t i = 0; i < cch; ++i) {
        str += static_cast<wchar_t>(L'a' + i % 26);
    }
    return str;
}

std::string Narrow(const std::wstring& strText) {
    std::string str;
    for (wchar_t ch : strText) {
        str += static_cast<char>(ch);
    }
    return str;
}

// Reads every line of an open file; the call after the last line must give
// S_FALSE, and so must the one after it.
std::vector<std::wstring> ReadAllLines(CTextFile& file) {
    std::vector<std::wstring> lines;
    std::wstring strLine = L"stale";
    HRESULT hr;
    while ((hr = file.ReadLine(strLine)) == S_OK) {
        lines.push_back(strLine);
        if (lines.size() > 10000) {
            ADD_FAILURE() << "no end of file";
            break;
        }
    }
    EXPECT_EQ(S_FALSE, hr);
    EXPECT_EQ(L"", strLine);
    EXPECT_EQ(S_FALSE, file.ReadLine(strLine));
    return lines;
}

// Every line of a file; *pdwEncoding, when given, receives the encoding in
// which it was read.
std::vector<std::wstring> ReadFileLines(const std::wstring& strPath, DWORD dwFlags = READ_FLAGS,
                                        DWORD* pdwEncoding = nullptr) {
    CTextFile file;
    const HRESULT hr = file.Open(strPath.c_str(), dwFlags);
    EXPECT_EQ(S_OK, hr);
    if (hr != S_OK) {
        return {};
    }
    if (pdwEncoding != nullptr) {
        *pdwEncoding = file.GetEncoding();
    }
    std::vector<std::wstring> lines = ReadAllLines(file);
    file.Close();
    return lines;
}

// True when another open of the file with this access is allowed now.
bool CanOpen(const std::wstring& strPath, DWORD dwAccess) {
    CFileHandle hFile(::CreateFileW(strPath.c_str(), dwAccess, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                    nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    return static_cast<bool>(hFile);
}

struct CLinesCase {
    const char* pszName;
    std::string strBytes;
    std::vector<std::wstring> lines;
    DWORD dwEncoding = TF_ENCODING_UNKNOWN;  // when given, GetEncoding's answer
};

TEST(TextFileTest, ReadsLinesInEveryEncoding) {
    const std::wstring strText = L"first\r\n  two words \n\nlast";
    const std::vector<std::wstring> sameLines = {L"first", L"  two words ", L"", L"last"};
    std::string strHighBytes;
    std::wstring strHighChars;
    for (int n = 0x80; n <= 0xFF; ++n) {
        strHighBytes += static_cast<char>(n);
        strHighChars += static_cast<wchar_t>(n);
    }
    const std::vector<CLinesCase> cases = {
        {"empty file", "", {}},
        {"utf-8 mark alone", "\xEF\xBB\xBF", {}},
        {"utf-16 mark alone", "\xFF\xFE", {}},
        {"8-bit", Narrow(strText), sameLines},
        {"utf-8", Utf8(strText), sameLines},
        {"utf-16 le", Utf16Le(strText), sameLines},
        {"8-bit, final line feed", "a\nb\n", {L"a", L"b"}},
        {"utf-16 le, final line feed", Utf16Le(L"a\r\nb\r\n"), {L"a", L"b"}},
        {"a line feed alone", "\n", {L""}},
        {"utf-8 beyond 8 bits",
         Utf8(L"caf\u00E9 \u20AC\n\u4E2D"),
         {L"caf\u00E9 \u20AC", L"\u4E2D"}},
        {"utf-16 beyond 8 bits", Utf16Le(L"\u0100\u20AC\n\u4E2D"), {L"\u0100\u20AC", L"\u4E2D"}},
        {"8-bit bytes 0x80-0xFF", strHighBytes + "\n" + strHighBytes, {strHighChars, strHighChars}},
        {"8-bit, a mark cut short", "\xEF\xBB", {L"\u00EF\u00BB"}},
        {"8-bit, a lone FF", "\xFF", {L"\u00FF"}},
        {"carriage returns", "a\r\nb\rc\r\nd\r\r\n\r", {L"a", L"b\rc", L"d\r", L"\r"}},
        {"utf-16 carriage returns", Utf16Le(L"a\r\nb\rc\r"), {L"a", L"b\rc\r"}},
        {"NUL ends a line", std::string("ab\0cd\nef\n\0x\ny", 13), {L"ab", L"ef", L"", L"y"}},
        {"utf-16 NUL ends a line", Utf16Le(std::wstring(L"ab\0cd\nef", 8)), {L"ab", L"ef"}},
        {"NUL early in a long line",
         "abc" + std::string(1, '\0') + std::string(300, 'x') + "\nnext",
         {L"abc", L"next"}},
        {"NUL late in a long line",
         Narrow(Pattern(200)) + std::string(1, '\0') + "tail\nnext",
         {Pattern(200), L"next"}},
        // Without a mark, as editors and tools write lists today.
        {"utf-16 le without a mark, beyond 8 bits",
         test::Utf16LeBytes(L"*.log\r\n\u4E2D*"),
         {L"*.log", L"\u4E2D*"},
         TF_UTF16},
        {"utf-8 without a mark",
         test::Utf8Bytes(L"caf\u00E9*\r\n\u20AC \U0001F600"),
         {L"caf\u00E9*", L"\u20AC \U0001F600"},
         TF_UTF8},
        {"utf-8 without a mark, multi-byte sequence in the last piece",
         std::string(20000, 'a') + "\n\xC3\xA9",
         {std::wstring(20000, L'a'), L"\u00E9"},
         TF_UTF8},
        {"ascii without a mark", "caf*\r\n", {L"caf*"}, TF_8BIT},
        {"8-bit, high bytes that are not utf-8",
         "caf\xE9*\r\n\xC3",
         {L"caf\u00E9*", L"\u00C3"},
         TF_8BIT},
        {"8-bit, an overlong utf-8 form", "\xC0\xAF\n", {L"\u00C0\u00AF"}, TF_8BIT},
        {"8-bit, a utf-8 surrogate", "\xED\xA0\x80\n", {L"\u00ED\u00A0\u0080"}, TF_8BIT},
        {"8-bit, utf-8 cut short at the end",
         "\xC3\xA9\xE2\x82",
         {L"\u00C3\u00A9\u00E2\u0082"},
         TF_8BIT},
    };
    for (const CLinesCase& tc : cases) {
        SCOPED_TRACE(tc.pszName);
        CTempFolder folder;
        const std::wstring strPath = folder / L"list.txt";
        MakeFile(strPath, tc.strBytes);
        DWORD dwEncoding = TF_ENCODING_UNKNOWN;
        EXPECT_EQ(tc.lines, ReadFileLines(strPath, READ_FLAGS, &dwEncoding));
        if (tc.dwEncoding != TF_ENCODING_UNKNOWN) {
            EXPECT_EQ(tc.dwEncoding, dwEncoding);
        }
    }
}

TEST(TextFileTest, ReadsLinesOfAnyLengthInPieces) {
    struct CEnding {
        const char* pszName;
        const wchar_t* pszEnd;  // after the long line
    };
    const CEnding endings[] = {
        {"no line end", L""},
        {"line feed", L"\n"},
        {"carriage return + line feed", L"\r\n"},
        {"line feed and another line", L"\nz"},
    };
    const size_t lengths[] = {1, 127, 128, 129, 255, 256, 257, 1000};
    for (const bool bUtf16 : {false, true}) {
        for (const size_t cch : lengths) {
            for (const CEnding& ending : endings) {
                SCOPED_TRACE(::testing::Message() << (bUtf16 ? "utf-16 " : "8-bit ") << cch
                                                  << " characters, " << ending.pszName);
                const std::wstring strLine = Pattern(cch);
                const std::wstring strText = strLine + ending.pszEnd;
                CTempFolder folder;
                const std::wstring strPath = folder / L"long.txt";
                MakeFile(strPath, bUtf16 ? Utf16Le(strText) : Narrow(strText));
                std::vector<std::wstring> expected = {strLine};
                if (std::wstring(ending.pszEnd) == L"\nz") {
                    expected.push_back(L"z");
                }
                EXPECT_EQ(expected, ReadFileLines(strPath));
            }
        }
    }
}

TEST(TextFileTest, FailedOpenReportsTheCauseAndLeavesTheObjectClosed) {
    struct COpenCase {
        const char* pszName;
        std::wstring strPath;
        DWORD dwFlags;
        HRESULT hr;
    };
    CTempFolder folder;
    const std::wstring strFile = folder / L"plain.txt";
    const std::wstring strBigEndian = folder / L"big-endian.txt";
    MakeFile(strFile, "text\n");
    MakeFile(strBigEndian, std::string("\xFE\xFF\0a\0\n", 6));
    const HRESULT hrBigEndian = HResultFromWin32(ERROR_UNSUPPORTED_TYPE);
    const std::vector<COpenCase> cases = {
        {"missing file", folder / L"missing.txt", READ_FLAGS, static_cast<HRESULT>(0x80070002)},
        {"missing folder", folder / L"none\\x.txt", READ_FLAGS, static_cast<HRESULT>(0x80070003)},
        {"a folder", folder.Path(), READ_FLAGS, static_cast<HRESULT>(0x80070005)},
        {"big-endian mark, unicode", strBigEndian, READ_FLAGS, hrBigEndian},
        {"big-endian mark, utf-8", strBigEndian, TF_READ | TF_UTF8 | TF_SHARE_DENYWR, hrBigEndian},
        {"big-endian mark, utf-16", strBigEndian, TF_READ | TF_UTF16 | TF_SHARE_DENYNO,
         hrBigEndian},
        {"big-endian mark, read and write", strBigEndian,
         TF_READWRITE | TF_UNICODE | TF_SHARE_DENYRW, hrBigEndian},
        {"access 3", strFile, 0x3 | TF_SHARE_DENYWR, E_INVALIDARG},
        {"access 5", strFile, 0x5 | TF_SHARE_DENYWR, E_INVALIDARG},
        {"access 6", strFile, 0x6 | TF_SHARE_DENYWR, E_INVALIDARG},
        {"access 7", strFile, 0x7 | TF_SHARE_DENYWR, E_INVALIDARG},
        {"no sharing value", strFile, TF_READ | TF_UNICODE, E_INVALIDARG},
        {"sharing value 6", strFile, TF_READ | 0x600, E_INVALIDARG},
        {"sharing value 7", strFile, TF_READ | 0x700, E_INVALIDARG},
    };
    for (const COpenCase& tc : cases) {
        SCOPED_TRACE(tc.pszName);
        CTextFile file;
        EXPECT_EQ(tc.hr, file.Open(tc.strPath.c_str(), tc.dwFlags));
        std::wstring strLine;
        EXPECT_EQ(E_POINTER, file.ReadLine(strLine));
        ULONGLONG nSize = 0;
        EXPECT_EQ(E_HANDLE, file.GetSize(&nSize));
    }
    CTextFile file;
    EXPECT_EQ(E_INVALIDARG, file.Open(nullptr, READ_FLAGS));
    // Nothing refused stays open: the file can be opened exclusively.
    EXPECT_TRUE(test::CanOpenExclusively(strBigEndian));
}

TEST(TextFileTest, BigEndianMarkIsTextWithoutUnicodeOrWhenEmptied) {
    CTempFolder folder;
    const std::wstring strPath = folder / L"fe-ff.txt";
    MakeFile(strPath, "\xFE\xFFx\n");
    EXPECT_EQ(std::vector<std::wstring>{L"\u00FE\u00FFx"},
              ReadFileLines(strPath, TF_READ | TF_SHARE_DENYWR));
    // Creating empties the file, so its old first bytes do not matter.
    CTextFile file;
    ASSERT_EQ(S_OK, file.Open(strPath.c_str(), TF_CREATE | TF_UNICODE | TF_SHARE_DENYRW));
    file.Close();
    EXPECT_EQ(std::vector<std::wstring>{}, ReadFileLines(strPath));
}

TEST(TextFileTest, OpenFailsWhileAnotherHandleWrites) {
    CTempFolder folder;
    const std::wstring strPath = folder / L"busy.txt";
    MakeFile(strPath, "a\n");
    CFileHandle hWriter(::CreateFileW(strPath.c_str(), GENERIC_WRITE,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                      FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(hWriter);
    CTextFile file;
    EXPECT_EQ(static_cast<HRESULT>(0x80070020), file.Open(strPath.c_str(), READ_FLAGS));
    std::wstring strLine;
    EXPECT_EQ(E_POINTER, file.ReadLine(strLine));
    // Without the refusal of writers the same open succeeds.
    EXPECT_EQ(S_OK, file.Open(strPath.c_str(), TF_READ | TF_UNICODE | TF_SHARE_DENYNO));
    EXPECT_EQ(std::vector<std::wstring>{L"a"}, ReadAllLines(file));
}

TEST(TextFileTest, SharingValueDecidesWhatOthersMayDo) {
    struct CShareCase {
        const char* pszName;
        DWORD dwFlags;
        bool bOthersRead;
        bool bOthersWrite;
    };
    const CShareCase cases[] = {
        {"deny read and write", TF_READ | TF_SHARE_DENYRW, false, false},
        {"deny write", TF_READ | TF_SHARE_DENYWR, true, false},
        {"deny read", TF_READ | TF_SHARE_DENYRD, false, true},
        {"deny none", TF_READ | TF_SHARE_DENYNO, true, true},
        {"secure, reading", TF_READ | TF_SHARE_SECURE, true, false},
        {"secure, reading and writing", TF_READWRITE | TF_SHARE_SECURE, false, false},
        {"secure, appending", TF_APPEND | TF_SHARE_SECURE, false, false},
    };
    for (const CShareCase& tc : cases) {
        SCOPED_TRACE(tc.pszName);
        CTempFolder folder;
        const std::wstring strPath = folder / L"shared.txt";
        MakeFile(strPath, "x\n");
        CTextFile file;
        ASSERT_EQ(S_OK, file.Open(strPath.c_str(), tc.dwFlags | TF_UNICODE));
        EXPECT_EQ(tc.bOthersRead, CanOpen(strPath, GENERIC_READ));
        EXPECT_EQ(tc.bOthersWrite, CanOpen(strPath, GENERIC_WRITE));
        file.Close();
        EXPECT_TRUE(CanOpen(strPath, GENERIC_READ | GENERIC_WRITE));
    }
}

TEST(TextFileTest, ClosedObjectRefusesEveryOperation) {
    CTempFolder folder;
    const std::wstring strPath = folder / L"a.txt";
    MakeFile(strPath, "abc\n");
    CTextFile fresh;
    CTextFile closed;
    ASSERT_EQ(S_OK, closed.Open(strPath.c_str(), READ_FLAGS));
    closed.Close();
    closed.Close();  // closing twice is harmless
    for (CTextFile* pFile : {&fresh, &closed}) {
        SCOPED_TRACE(pFile == &fresh ? "never opened" : "closed");
        ULONGLONG n = 7;
        EXPECT_EQ(E_HANDLE, pFile->Flush());
        EXPECT_EQ(E_HANDLE, pFile->Seek(&n, FILE_BEGIN));
        EXPECT_EQ(E_HANDLE, pFile->Truncate());
        EXPECT_EQ(E_HANDLE, pFile->GetSize(&n));
        EXPECT_EQ(E_HANDLE, pFile->GetSize(nullptr));
        EXPECT_EQ(7u, n);
        std::wstring strLine = L"kept";
        EXPECT_EQ(E_POINTER, pFile->ReadLine(strLine));
        wchar_t szBuffer[8] = L"kept";
        EXPECT_EQ(E_POINTER, pFile->ReadString(szBuffer, 8));
        EXPECT_STREQ(L"kept", szBuffer);
        EXPECT_EQ(E_POINTER, pFile->WriteString(L"x"));
    }
    EXPECT_EQ("abc\n", test::ReadWholeFile(strPath));
}

TEST(TextFileTest, OpenObjectRefusesBadArguments) {
    CTempFolder folder;
    const std::wstring strPath = folder / L"a.txt";
    MakeFile(strPath, "abc\n");
    CTextFile file;
    ASSERT_EQ(S_OK, file.Open(strPath.c_str(), READ_FLAGS));
    EXPECT_EQ(E_INVALIDARG, file.GetSize(nullptr));
    EXPECT_EQ(E_INVALIDARG, file.WriteString(nullptr));
    wchar_t szBuffer[4] = L"abc";
    EXPECT_EQ(E_INVALIDARG, file.ReadString(nullptr, 4));
    EXPECT_EQ(E_INVALIDARG, file.ReadString(szBuffer, 1));
    EXPECT_EQ(E_INVALIDARG, file.ReadString(szBuffer, 0));
    // Nothing was consumed by the refused calls.
    EXPECT_EQ(S_OK, file.ReadString(szBuffer, 4));
    EXPECT_STREQ(L"abc", szBuffer);
    EXPECT_EQ(S_OK, file.ReadString(szBuffer, 4));
    EXPECT_STREQ(L"\n", szBuffer);
    EXPECT_EQ(S_FALSE, file.ReadString(szBuffer, 4));
}

TEST(TextFileTest, WritesAndWorksOnTheWholeFile) {
    CTempFolder folder;
    const std::wstring strPath = folder / L"w.txt";
    CTextFile file;
    ASSERT_EQ(S_OK, file.Open(strPath.c_str(), TF_CREATE | TF_SHARE_DENYRW));
    EXPECT_EQ(S_OK, file.WriteString(L"ab\n"));
    EXPECT_EQ(S_OK, file.WriteString(L"cd"));
    file.Close();
    EXPECT_EQ("ab\r\ncd", test::ReadWholeFile(strPath));

    ASSERT_EQ(S_OK, file.Open(strPath.c_str(), TF_APPEND | TF_SHARE_DENYRW));
    EXPECT_EQ(S_OK, file.WriteString(L"e\n"));
    file.Close();
    ASSERT_EQ(S_OK, file.Open(strPath.c_str(), TF_CREATE | TF_CREATE_APPEND | TF_SHARE_DENYRW));
    EXPECT_EQ(S_OK, file.WriteString(L"f"));
    file.Close();
    EXPECT_EQ("ab\r\ncde\r\nf", test::ReadWholeFile(strPath));

    ASSERT_EQ(S_OK, file.Open(strPath.c_str(), TF_READWRITE | TF_SHARE_DENYRW));
    ULONGLONG nSize = 0;
    EXPECT_EQ(S_OK, file.GetSize(&nSize));
    EXPECT_EQ(10u, nSize);
    ULONGLONG nPosition = 99;
    EXPECT_EQ(S_OK, file.Seek(&nPosition, FILE_END));
    EXPECT_EQ(10u, nPosition);
    EXPECT_EQ(S_OK, file.Seek(&nPosition, FILE_CURRENT));
    EXPECT_EQ(10u, nPosition);
    EXPECT_EQ(S_OK, file.Seek(&nPosition, FILE_BEGIN));
    EXPECT_EQ(0u, nPosition);
    EXPECT_EQ(S_OK, file.Seek(nullptr, FILE_END));
    EXPECT_EQ(static_cast<HRESULT>(0x80070057), file.Seek(nullptr, 3));
    EXPECT_EQ(S_OK, file.Flush());
    EXPECT_EQ(S_OK, file.Truncate());
    EXPECT_EQ(S_OK, file.GetSize(&nSize));
    EXPECT_EQ(0u, nSize);
    file.Close();
    EXPECT_EQ("", test::ReadWholeFile(strPath));

    // A read-only handle cannot be emptied.
    MakeFile(strPath, "keep");
    ASSERT_EQ(S_OK, file.Open(strPath.c_str(), TF_READ | TF_SHARE_DENYWR));
    EXPECT_LT(file.Truncate(), 0);
    file.Close();
    EXPECT_EQ("keep", test::ReadWholeFile(strPath));
}

TEST(TextFileTest, OwnsItsStream) {
    CTempFolder folder;
    const std::wstring strFirst = folder / L"first.txt";
    const std::wstring strSecond = folder / L"second.txt";
    MakeFile(strFirst, "one\n");
    MakeFile(strSecond, "two\n");
    {
        CTextFile file;
        ASSERT_EQ(S_OK, file.Open(strFirst.c_str(), TF_READ | TF_SHARE_DENYRW));
        ASSERT_FALSE(CanOpen(strFirst, GENERIC_READ));
        // Opening again gives up the first stream.
        ASSERT_EQ(S_OK, file.Open(strSecond.c_str(), TF_READ | TF_SHARE_DENYRW));
        EXPECT_TRUE(CanOpen(strFirst, GENERIC_READ));
        EXPECT_FALSE(CanOpen(strSecond, GENERIC_READ));
        EXPECT_EQ(std::vector<std::wstring>{L"two"}, ReadAllLines(file));
        // A failed open gives it up too.
        EXPECT_EQ(static_cast<HRESULT>(0x80070002),
                  file.Open((folder / L"missing.txt").c_str(), READ_FLAGS));
        EXPECT_TRUE(CanOpen(strSecond, GENERIC_READ));
        ASSERT_EQ(S_OK, file.Open(strFirst.c_str(), TF_READ | TF_SHARE_DENYRW));
    }
    // The destructor closed what the object still held.
    EXPECT_TRUE(CanOpen(strFirst, GENERIC_READ));
}

}  // namespace
