#include "sides/snapshot_line.h"

#include <gtest/gtest.h>

#include <string>

namespace {

std::string Narrow(const wchar_t* psz) {
    return psz != nullptr ? std::string(psz, psz + wcslen(psz)) : "(accepted)";
}

// n objects or arrays, one inside the other, around a value.
std::string Nested(size_t n, const char* pszOpen, const char* pszClose, const std::string& strIn) {
    std::string str;
    for (size_t i = 0; i < n; ++i) {
        str += pszOpen;
    }
    str += strIn;
    for (size_t i = 0; i < n; ++i) {
        str += pszClose;
    }
    return str;
}

// An object of n keys "k0" to "k<n-1>", then the key pszLast.
std::string ManyKeys(size_t n, const char* pszLast) {
    std::string str = "{";
    for (size_t i = 0; i < n; ++i) {
        str += "\"k" + std::to_string(i) + "\": 0, ";
    }
    return str + "\"" + pszLast + "\": 0}";
}

const wchar_t kNotJson[] = L"the line is not a JSON object.";
const wchar_t kNotUtf8[] = L"the line is not UTF-8 text.";
const wchar_t kTwice[] = L"an object holds a key twice.";
const wchar_t kDeep[] = L"the line nests deeper than a snapshot's lines do.";

// Each line is refused with its reason, or read; what the grammar refuses is
// RapidJSON's to find, what is more is the handler's.
TEST(SnapshotLineTest, MalformedLinesAreRefused) {
    const struct {
        const char* pszName;
        std::string strLine;
        const wchar_t* pszWrong;
    } kCases[] = {
        {"an object", R"({"a": [1, {"b": null}], "c": {"d": "e"}})", nullptr},
        {"an empty line", "", kNotJson},
        {"an array", "[1]", kNotJson},
        {"a text", "\"a\"", kNotJson},
        {"two objects", "{} {}", kNotJson},
        {"an object cut short", R"({"a": 1)", kNotJson},
        {"a zero byte after the object", std::string("{}\0{", 3), kNotJson},
        {"a zero byte in a text", std::string("{\"a\": \"\0\"}", 10), kNotJson},
        {"a trailing comma", R"({"a": 1,})", kNotJson},
        {"a comment", R"({"a": 1 /* b */})", kNotJson},
        {"invalid UTF-8", "{\"a\": \"\xFF\"}", kNotUtf8},
        {"an overlong form", "{\"a\": \"\xC0\xAF\"}", kNotUtf8},
        {"a surrogate in UTF-8", "{\"a\": \"\xED\xA0\x80\"}", kNotUtf8},
        {"beyond U+10FFFF", "{\"a\": \"\xF4\x90\x80\x80\"}", kNotUtf8},
        {"a lone high surrogate escape", R"({"a": "\uD800"})", kNotUtf8},
        {"a lone low surrogate escape", R"({"a": "\uDC00"})", kNotUtf8},
        {"a lone low surrogate escape in a key", R"({"\uDFFF": 1})", kNotUtf8},
        {"a lone low surrogate escape in an array", R"({"a": ["\uDC00"]})", kNotUtf8},
        {"a surrogate pair escape", R"({"a": "\uD83D\uDE00"})", nullptr},
        {"a control character", "{\"a\": \"\t\"}", kNotJson},
        {"an unknown escape", R"({"a": "\q"})", kNotJson},
        {"a leading zero", R"({"a": 01})", kNotJson},
        {"a plus sign", R"({"a": +1})", kNotJson},
        {"a fraction without digits", R"({"a": 1.})", kNotJson},
        {"an exponent without digits", R"({"a": 1e})", kNotJson},
        {"a hexadecimal number", R"({"a": 0x10})", kNotJson},
        {"NaN", R"({"a": NaN})", kNotJson},
        {"a number too large for a double", R"({"a": 1e400})", kNotJson},
        {"32 levels of objects", Nested(31, "{\"a\": ", "}", "{}"), nullptr},
        {"33 levels of objects", Nested(32, "{\"a\": ", "}", "{}"), kDeep},
        {"33 levels of arrays", "{\"a\": " + Nested(32, "[", "]", "") + "}", kDeep},
        {"100,000 levels of arrays", "{\"a\": " + Nested(100000, "[", "]", "") + "}", kDeep},
        {"a key twice", R"({"a": 1, "b": 2, "a": 3})", kTwice},
        {"a key twice in an object inside", R"({"o": {"a": 1, "a": 2}})", kTwice},
        {"a key twice two levels down", R"({"o": {"p": {"a": 1, "a": 2}}})", kTwice},
        {"a key twice in an object in an array", R"({"l": [{"a": 1, "a": 2}]})", kTwice},
        {"one key in two objects", R"({"a": {"a": {"a": 1}}, "b": [{"a": 1}, {"a": 2}]})", nullptr},
        {"90,000 keys", ManyKeys(90000, "last"), nullptr},
        {"90,000 keys, then the first again", ManyKeys(90000, "k0"), kTwice},
    };
    CSnapshotLine line;
    for (const auto& tc : kCases) {
        SCOPED_TRACE(tc.pszName);
        EXPECT_EQ(Narrow(tc.pszWrong), Narrow(line.Parse(tc.strLine.data(), tc.strLine.size())));
    }
}

}  // namespace
