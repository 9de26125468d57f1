#include "reports/recopy_list.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(RecopyPathTest, DisplayPathsAsTheListWritesThem) {
    const struct {
        const wchar_t* pszPath;
        bool bFolder;
        bool bNul;
        const char* pszExpected;  // null: refused
        RecopyRefusal refusal;
    } cases[] = {
        {L"\\a.txt", false, false, "a.txt", RecopyRefusal::None},
        {L"\\dir\\with space.txt", false, false, "dir/with space.txt", RecopyRefusal::None},
        {L"\\empty\\inner", true, false, "empty/inner/", RecopyRefusal::None},
        {L"\\caf\u00e9\\\U0001F600.txt", false, false, "caf\xc3\xa9/\xf0\x9f\x98\x80.txt",
         RecopyRefusal::None},
        {L"\\line\nfeed", false, false, nullptr, RecopyRefusal::LineBreak},
        {L"\\carriage\rreturn", false, false, nullptr, RecopyRefusal::LineBreak},
        {L"\\line\nfeed", false, true, "line\nfeed", RecopyRefusal::None},
        {L"\\bad\uFFFD\\x.txt", false, true, nullptr, RecopyRefusal::AnotherName},
        {L"\\lone\xD800.txt", false, false, nullptr, RecopyRefusal::NoUtf8},
    };
    for (const auto& tc : cases) {
        SCOPED_TRACE(testing::Message() << tc.pszExpected << " nul " << tc.bNul);
        std::string str = "kept";
        EXPECT_EQ(tc.refusal, AppendRecopyPath(str, tc.pszPath, tc.bFolder, tc.bNul));
        EXPECT_EQ(std::string("kept") + (tc.pszExpected != nullptr ? tc.pszExpected : ""), str);
    }
}

}  // namespace
