// End-to-end: files whose full paths are far beyond 260 characters are
// listed, sized and hashed like any other.
#include <gtest/gtest.h>

#include "e2e/e2e_support.h"

namespace {

using test::Crlf;

TEST(LongPathCompareTest, FilesBeyondTheClassicLimitCompareBySizeAndHash) {
    test::CTempFolder root;
    // Roots of about 230 characters, names of 200: paths of about 430.
    const std::wstring strLevel(60, L'd');
    std::wstring strBase = root.Path();
    while (strBase.size() < 170) {
        strBase += L"\\" + strLevel;
    }
    const std::wstring strSource = strBase + L"\\source";
    const std::wstring strDestination = strBase + L"\\destination";
    ASSERT_LT(strDestination.size(), 260u);
    const std::wstring strName(190, L'n');
    const std::wstring strSame = strName + L".same";
    const std::wstring strDiffer = strName + L".differ";
    const std::wstring strSize = strName + L".size";
    ASSERT_GT((strDestination + L"\\" + strDiffer).size(), 400u);
    test::MakeFile(strSource + L"\\" + strSame, "a");
    test::MakeFile(strDestination + L"\\" + strSame, "a");
    test::MakeFile(strSource + L"\\" + strDiffer, "a");
    test::MakeFile(strDestination + L"\\" + strDiffer, "b");
    test::MakeFile(strSource + L"\\" + strSize, "a");
    test::MakeFile(strDestination + L"\\" + strSize, "abc");
    test::MakeFolder(root / L"tmp");

    const test::CRunResult result =
        test::RunQuorva(test::Quote(strSource) + L" " + test::Quote(strDestination) + L" /hash",
                        L"", {L"TMP=" + (root / L"tmp"), L"TEMP=" + (root / L"tmp")});
    EXPECT_EQ(4u, result.dwExitCode);
    EXPECT_EQ(e2e::CompletedOutput(
                  e2e::kMd5Line, strSource, strDestination,
                  L"\\" + strDiffer +
                      L": file contents are different! (0cc175b9c0f1b6a831c399e269772661 != "
                      L"92eb5ffee6ae2fec3ad71c777531578f).\n\\" +
                      strSize + L": file sizes are different! (1 bytes != 3 bytes).\n",
                  L"Identical file(s):                      1\n"
                  L"Missing file(s) (source + destination): 0\n"
                  L"File size mismatch(es):                 1\n"
                  L"File hash mismatch(es):                 1\n\n- Source:\n\n"
                  L"  Tested file(s):         3\n  Inaccessible file(s):   0\n"
                  L"  Missing file(s):        0\n\n"
                  L"  Inaccessible folder(s): 0\n  Missing folder(s):      0\n\n- Destination:\n\n"
                  L"  Tested file(s):         3\n  Inaccessible file(s):   0\n"
                  L"  Missing file(s):        0\n\n"
                  L"  Inaccessible folder(s): 0\n  Missing folder(s):      0\n\n"
                  L"Verdict: 1 source file(s) (1 bytes) verified in place, 2 different, 0 "
                  L"missing, 0 not verified; 0 extra in the destination.\n"),
              e2e::NormalizeDuration(result.strOutput));
}

}  // namespace
