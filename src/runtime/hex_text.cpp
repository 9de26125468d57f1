#include "runtime/hex_text.h"

namespace {

int HexDigit(char ch) {
    return ch >= '0' && ch <= '9'   ? ch - '0'
           : ch >= 'a' && ch <= 'f' ? ch - 'a' + 10
           : ch >= 'A' && ch <= 'F' ? ch - 'A' + 10
                                    : -1;
}

}  // namespace

bool ParseHexBytes(const char* pszText, size_t cb, BYTE* pb) {
    for (size_t i = 0; i < cb; ++i) {
        const int nHigh = HexDigit(pszText[2 * i]);
        const int nLow = HexDigit(pszText[2 * i + 1]);
        if (nHigh < 0 || nLow < 0) {
            return false;
        }
        pb[i] = static_cast<BYTE>(nHigh * 16 + nLow);
    }
    return true;
}
