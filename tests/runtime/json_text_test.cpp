#include "runtime/json_text.h"

#include <gtest/gtest.h>

namespace {

TEST(JsonText, EscapesStrings) {
    const struct {
        const char* pszName;
        const wchar_t* pszText;
        const char* pszJson;
    } kCases[] = {
        {"path", L"\\sub\\a \"b\".txt", "\"\\\\sub\\\\a \\\"b\\\".txt\""},
        {"short escapes", L"\b\f\n\r\t", "\"\\b\\f\\n\\r\\t\""},
        {"other control characters", L"\x01\x1f\x7f", "\"\\u0001\\u001f\x7f\""},
        {"two and three bytes", L"\u00e9\u20ac\uffff", "\"\xc3\xa9\xe2\x82\xac\xef\xbf\xbf\""},
        {"surrogate pair", L"\xd83d\xde00", "\"\xf0\x9f\x98\x80\""},
        {"high surrogate at the end", L"a\xd800", "\"a\\ud800\""},
        {"low, then high before a letter", L"\xdc00\xdbffz", "\"\\udc00\\udbffz\""},
    };
    for (const auto& tc : kCases) {
        SCOPED_TRACE(tc.pszName);
        std::string strJson = "x";
        AppendJsonString(strJson, tc.pszText);
        EXPECT_EQ(std::string("x") + tc.pszJson, strJson);
    }
}

}  // namespace
