#include "sides/manifest_format.h"

#include <cstring>

#include "runtime/hex_text.h"
#include "runtime/wide_string.h"

namespace {

const wchar_t kNotChecksumLine[] = L"the line is not a checksum line.";

// The algorithm of a BSD tag: the text before " (" at p.
const CHashAlgorithm* FindTag(const char* p, size_t cb, size_t& cbTag) {
    for (const CHashAlgorithm& algorithm : g_hashAlgorithms) {
        const size_t cbName = std::strlen(algorithm.pszTag);
        if (cb > cbName + 2 && std::memcmp(p, algorithm.pszTag, cbName) == 0 &&
            std::memcmp(p + cbName, " (", 2) == 0) {
            cbTag = cbName + 2;
            return &algorithm;
        }
    }
    return nullptr;
}

// The algorithm whose values are cchDigits hexadecimal digits long.
const CHashAlgorithm* FindByDigits(size_t cchDigits) {
    for (const CHashAlgorithm& algorithm : g_hashAlgorithms) {
        if (cchDigits == 2 * algorithm.cbValue) {
            return &algorithm;
        }
    }
    return nullptr;
}

// Undoes the escapes of a name in place: false for a backslash before
// anything but "\", "n" or "r", or at the end.
bool Unescape(std::string& strName) {
    size_t nOut = 0;
    for (size_t i = 0; i < strName.size(); ++i) {
        char ch = strName[i];
        if (ch == '\\') {
            if (++i == strName.size()) {
                return false;
            }
            switch (strName[i]) {
                case '\\':
                    ch = '\\';
                    break;
                case 'n':
                    ch = '\n';
                    break;
                case 'r':
                    ch = '\r';
                    break;
                default:
                    return false;
            }
        }
        strName[nOut++] = ch;
    }
    strName.resize(nOut);
    return true;
}

// What is wrong with a name made relative, or null.
const wchar_t* CheckName(std::wstring& strName) {
    for (wchar_t& ch : strName) {
        if (ch == L'/') {
            ch = L'\\';
        }
    }
    size_t nStart = 0;
    while (strName.compare(nStart, 2, L".\\") == 0) {
        nStart += 2;
    }
    strName.erase(0, nStart);
    if (strName.empty()) {
        return L"the name is empty.";
    }
    if (strName[0] == L'\\') {
        return L"the name is absolute.";
    }
    if (strName.size() >= 2 && strName[1] == L':' &&
        ((strName[0] >= L'A' && strName[0] <= L'Z') ||
         (strName[0] >= L'a' && strName[0] <= L'z'))) {
        return L"the name begins with a drive.";
    }
    if (strName.size() > kMaxManifestName) {
        return L"the name is too long.";
    }
    size_t nPart = 0;
    for (;;) {
        const size_t nEnd = std::min(strName.find(L'\\', nPart), strName.size());
        const size_t cchPart = nEnd - nPart;
        if (cchPart == 2 && strName.compare(nPart, 2, L"..") == 0) {
            return L"the name leads out of the tree (\"..\").";
        }
        if (cchPart == 0 || (cchPart == 1 && strName[nPart] == L'.')) {
            return L"the name holds \".\" or an empty name between separators.";
        }
        if (nEnd == strName.size()) {
            return nullptr;
        }
        nPart = nEnd + 1;
    }
}

}  // namespace

const wchar_t* ParseManifestLine(const char* pLine, size_t cbLine, CManifestLine& line) {
    const char* p = pLine;
    const char* const pEnd = pLine + cbLine;
    const bool bEscaped = p != pEnd && *p == '\\';
    if (bEscaped) {
        ++p;
    }
    std::string strName;
    const char* pDigits = nullptr;
    size_t cchDigits = 0;
    size_t cbTag = 0;
    line.pAlgorithm = FindTag(p, pEnd - p, cbTag);
    if (line.pAlgorithm != nullptr) {
        // "TAG (" name ") = " hex: the name runs to the last ") = ".
        pDigits = pEnd;
        while (pDigits != p && pDigits[-1] != ' ') {
            --pDigits;
        }
        cchDigits = pEnd - pDigits;
        if (pDigits - (p + cbTag) < 4 || std::memcmp(pDigits - 4, ") = ", 4) != 0) {
            return kNotChecksumLine;
        }
        strName.assign(p + cbTag, pDigits - 4);
    } else {
        // hex, " ", then " " (text) or "*" (binary), then the name.
        pDigits = p;
        const char* const pSpace = static_cast<const char*>(std::memchr(p, ' ', pEnd - p));
        if (pSpace == nullptr || pEnd - pSpace < 3 || (pSpace[1] != ' ' && pSpace[1] != '*')) {
            return kNotChecksumLine;
        }
        cchDigits = pSpace - p;
        line.pAlgorithm = FindByDigits(cchDigits);
        if (line.pAlgorithm == nullptr) {
            return cchDigits == 0 ? kNotChecksumLine
                                  : L"the value is not of MD5, SHA-1 or SHA-256 length.";
        }
        strName.assign(pSpace + 2, pEnd);
    }
    if (cchDigits != 2 * line.pAlgorithm->cbValue ||
        !ParseHexBytes(pDigits, line.pAlgorithm->cbValue, line.hash)) {
        return L"the value is not hexadecimal of its algorithm's length.";
    }
    line.cbHash = line.pAlgorithm->cbValue;
    if (bEscaped && !Unescape(strName)) {
        return L"the name holds a backslash that escapes nothing.";
    }
    AssignFromUtf8(line.strName, strName.data(), strName.size());
    return CheckName(line.strName);
}

void AppendManifestLine(std::string& strOut, const BYTE* pbHash, DWORD cbHash,
                        const std::string& strName) {
    const bool bEscaped = strName.find_first_of("\\\n\r") != std::string::npos;
    if (bEscaped) {
        strOut += '\\';
    }
    AppendHexBytes(strOut, pbHash, cbHash);
    strOut += "  ";
    if (!bEscaped) {
        strOut += strName;
    } else {
        for (const char ch : strName) {
            switch (ch) {
                case '\\':
                    strOut += "\\\\";
                    break;
                case '\n':
                    strOut += "\\n";
                    break;
                case '\r':
                    strOut += "\\r";
                    break;
                default:
                    strOut += ch;
                    break;
            }
        }
    }
    strOut += '\n';
}
