#include "exclusions/text_file.h"

#include <errno.h>
#include <fcntl.h>
#include <io.h>
#include <share.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <wchar.h>

namespace {

// Characters of one piece of a line; a line grows by this much per read.
constexpr size_t CCH_PIECE = 128;

// The C runtime's arguments for one set of open flags.
struct COpenMode {
    int nOpenFlags = 0;
    int nShare = 0;
    int nPermission = 0;
    const char* pszMode = nullptr;
    bool bReads = false;      // the open has read access
    bool bTruncates = false;  // the open empties the file
};

bool DecodeOpenFlags(DWORD dwFlags, COpenMode& mode) {
    switch (dwFlags & TF_ACCESS_MASK) {
        case TF_READ:
            mode.nOpenFlags = _O_RDONLY | _O_TEXT;
            mode.pszMode = "rt";
            mode.nPermission = _S_IREAD;
            mode.bReads = true;
            break;
        case TF_APPEND:
            mode.nOpenFlags = _O_WRONLY | _O_APPEND | _O_TEXT;
            mode.pszMode = "at";
            mode.nPermission = _S_IWRITE;
            break;
        case TF_READWRITE:
            mode.nOpenFlags = _O_RDWR | _O_TEXT;
            mode.pszMode = "r+t";
            mode.nPermission = _S_IREAD | _S_IWRITE;
            mode.bReads = true;
            break;
        case TF_CREATE:
            if (dwFlags & TF_CREATE_APPEND) {
                mode.nOpenFlags = _O_RDWR | _O_CREAT | _O_APPEND | _O_TEXT;
                mode.pszMode = "a+t";
            } else {
                mode.nOpenFlags = _O_RDWR | _O_CREAT | _O_TRUNC | _O_TEXT;
                mode.pszMode = "w+t";
                mode.bTruncates = true;
            }
            mode.nPermission = _S_IREAD | _S_IWRITE;
            mode.bReads = true;
            break;
        default:
            // The runtime opens such a descriptor read-only and then refuses to
            // make a stream of it, without an operating-system code.
            return false;
    }

    switch (dwFlags & TF_ENCODING_MASK) {
        case TF_UTF8:
            mode.nOpenFlags |= _O_U8TEXT;
            break;
        case TF_UTF16:
            mode.nOpenFlags |= _O_U16TEXT;
            break;
        case TF_UNICODE:
            mode.nOpenFlags |= _O_WTEXT;
            break;
        default:
            break;
    }
    if (dwFlags & TF_NOINHERIT) {
        mode.nOpenFlags |= _O_NOINHERIT;
    }
    if (dwFlags & TF_RANDOM) {
        mode.nOpenFlags |= _O_RANDOM;
    }
    if (dwFlags & TF_SEQUENTIAL) {
        mode.nOpenFlags |= _O_SEQUENTIAL;
    }

    switch (dwFlags & TF_SHARE_MASK) {
        case TF_SHARE_DENYRW:
            mode.nShare = _SH_DENYRW;
            break;
        case TF_SHARE_DENYWR:
            mode.nShare = _SH_DENYWR;
            break;
        case TF_SHARE_DENYRD:
            mode.nShare = _SH_DENYRD;
            break;
        case TF_SHARE_DENYNO:
            mode.nShare = _SH_DENYNO;
            break;
        case TF_SHARE_SECURE:
            // Spelled out rather than passed as _SH_SECURE, which Wine's msvcrt
            // refuses with EINVAL; this is what the runtimes that know it do.
            mode.nShare = (dwFlags & TF_ACCESS_MASK) == TF_READ ? _SH_DENYWR : _SH_DENYRW;
            break;
        default:
            // _wsopen_s refuses any other sharing value with EINVAL and no
            // operating-system code.
            return false;
    }
    return true;
}

void ClearRuntimeError() {
    _doserrno = 0;
    errno = 0;
}

// The error of the C runtime call that just failed. The runtime records the
// operating-system code in _doserrno when the system refused; some failures
// (a refused argument, no free stream) set only errno, and mapping a 0 code
// would report them as success.
HRESULT RuntimeError() {
    const DWORD dwOsError = static_cast<DWORD>(_doserrno);
    if (dwOsError != 0) {
        return HResultFromWin32(dwOsError);
    }
    switch (errno) {
        case EINVAL:
            return E_INVALIDARG;
        case ENOMEM:
            return E_OUTOFMEMORY;
        case EMFILE:
            return HResultFromWin32(ERROR_TOO_MANY_OPEN_FILES);
        case EACCES:
            return E_ACCESSDENIED;
        case EILSEQ:
            return HResultFromWin32(ERROR_NO_UNICODE_TRANSLATION);
        default:
            return E_FAIL;
    }
}

// Bytes read at a time while the encoding of a file is looked for.
constexpr DWORD CB_DETECT_PIECE = 16384;
// The first characters of a file that tell UTF-16 little-endian without a
// mark: each is one byte and a NUL. Text in 8-bit or UTF-8 holds no NUL,
// and two characters are few enough for a list to start with them (a
// wildcard's "*.", a comment's ";") before any beyond U+00FF.
constexpr DWORD CCH_UTF16_PROBE = 2;

// Whether a stream of bytes, given in pieces, is valid UTF-8 (no overlong
// forms, no surrogates, nothing beyond U+10FFFF, no sequence cut short)
// holding at least one sequence of more than one byte.
class CUtf8Check {
public:
    // Takes the next piece; false once the bytes are known not to be UTF-8.
    bool Add(const unsigned char* pb, DWORD cb) {
        for (DWORD i = 0; i < cb && !m_bInvalid; ++i) {
            const unsigned char b = pb[i];
            if (m_nPending > 0) {
                m_bInvalid = b < m_bLow || b > m_bHigh;
                m_bLow = 0x80;
                m_bHigh = 0xBF;
                --m_nPending;
                continue;
            }
            if (b < 0x80) {
                continue;
            }
            m_bMultiByte = true;
            // The lead byte gives the length and the range of the byte
            // after it; the later ones are all 80-BF.
            if (b >= 0xC2 && b <= 0xDF) {
                m_nPending = 1;
            } else if (b >= 0xE0 && b <= 0xEF) {
                m_nPending = 2;
                m_bLow = b == 0xE0 ? 0xA0 : 0x80;
                m_bHigh = b == 0xED ? 0x9F : 0xBF;
            } else if (b >= 0xF0 && b <= 0xF4) {
                m_nPending = 3;
                m_bLow = b == 0xF0 ? 0x90 : 0x80;
                m_bHigh = b == 0xF4 ? 0x8F : 0xBF;
            } else {
                m_bInvalid = true;
            }
        }
        return !m_bInvalid;
    }
    // After the last piece: valid, complete, and not plain ASCII.
    bool IsMultiByteUtf8() const { return !m_bInvalid && m_nPending == 0 && m_bMultiByte; }

private:
    unsigned m_nPending = 0;  // continuation bytes still to come
    unsigned char m_bLow = 0x80;
    unsigned char m_bHigh = 0xBF;
    bool m_bMultiByte = false;
    bool m_bInvalid = false;
};

// What the start of a file, and for TF_UNICODE without a mark its whole
// contents, say about the encoding in which to read it.
struct CDetectedEncoding {
    DWORD dwEncoding;  // TF_8BIT, TF_UTF8 or TF_UTF16
    bool bMark;        // a UTF-8 or UTF-16 little-endian mark, which the runtime skips
    bool bBigEndian;   // the UTF-16 big-endian mark FE FF
};

// Looks at a file before the runtime opens it in one of the Unicode
// encodings dwNamed. A byte-order mark decides: EF BB BF UTF-8, FF FE UTF-16
// little-endian, FE FF refused (some C runtimes refuse it without an
// operating-system code, Wine's msvcrt reads it as 8-bit text; looking here
// gives one answer everywhere). Without a mark, TF_UTF8 and TF_UTF16 stay;
// TF_UNICODE reads what today's editors and tools write: UTF-16
// little-endian when each of the first two characters is one byte and a NUL,
// UTF-8 when the whole file is valid UTF-8 with a sequence of several bytes,
// otherwise 8-bit text. A file that cannot be opened or read here is left
// to the runtime, which reports why.
CDetectedEncoding DetectEncoding(const wchar_t* pszPath, DWORD dwNamed) {
    CDetectedEncoding detected = {dwNamed == TF_UNICODE ? TF_8BIT : dwNamed, false, false};
    CFileHandle hFile(::CreateFileW(pszPath, GENERIC_READ,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                    OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    unsigned char piece[CB_DETECT_PIECE];
    DWORD cbPiece = 0;
    if (!hFile || !::ReadFile(hFile.Get(), piece, sizeof(piece), &cbPiece, nullptr)) {
        return detected;
    }
    if (cbPiece >= 2 && piece[0] == 0xFE && piece[1] == 0xFF) {
        detected.bBigEndian = true;
        return detected;
    }
    if (cbPiece >= 3 && piece[0] == 0xEF && piece[1] == 0xBB && piece[2] == 0xBF) {
        return {TF_UTF8, true, false};
    }
    if (cbPiece >= 2 && piece[0] == 0xFF && piece[1] == 0xFE) {
        return {TF_UTF16, true, false};
    }
    if (dwNamed != TF_UNICODE) {
        return detected;
    }

    const DWORD cchProbe = cbPiece / 2 < CCH_UTF16_PROBE ? cbPiece / 2 : CCH_UTF16_PROBE;
    bool bUtf16 = cchProbe > 0;
    for (DWORD i = 0; i < cchProbe && bUtf16; ++i) {
        bUtf16 = piece[2 * i] != 0 && piece[2 * i + 1] == 0;
    }
    if (bUtf16) {
        detected.dwEncoding = TF_UTF16;
        return detected;
    }

    CUtf8Check check;
    while (cbPiece > 0 && check.Add(piece, cbPiece)) {
        if (!::ReadFile(hFile.Get(), piece, sizeof(piece), &cbPiece, nullptr)) {
            return detected;
        }
    }
    if (cbPiece == 0 && check.IsMultiByteUtf8()) {
        detected.dwEncoding = TF_UTF8;
    }
    return detected;
}

}  // namespace

CTextFile::CTextFile() noexcept
    : m_hFile(INVALID_HANDLE_VALUE), m_dwEncoding(TF_ENCODING_UNKNOWN) {}

CTextFile::~CTextFile() {
    Close();
}

void CTextFile::Close() {
    // CStream keeps the last error across fclose.
    m_pFile.Reset();
    m_hFile = INVALID_HANDLE_VALUE;
    m_dwEncoding = TF_ENCODING_UNKNOWN;
}

HRESULT CTextFile::Open(const wchar_t* pszPath, DWORD dwFlags) {
    // A second Open must not lose the stream it replaces.
    Close();
    COpenMode mode;
    if (pszPath == nullptr || !DecodeOpenFlags(dwFlags, mode)) {
        return E_INVALIDARG;
    }
    DWORD dwEncoding = dwFlags & TF_ENCODING_MASK;
    if (dwEncoding != TF_8BIT && mode.bReads && !mode.bTruncates) {
        const CDetectedEncoding detected = DetectEncoding(pszPath, dwEncoding);
        if (detected.bBigEndian) {
            return HResultFromWin32(ERROR_UNSUPPORTED_TYPE);
        }
        // With a mark the runtime's Unicode modes find the encoding (and
        // skip the mark) themselves; without one it is named.
        if (!detected.bMark && detected.dwEncoding != TF_8BIT) {
            mode.nOpenFlags &= ~(_O_WTEXT | _O_U8TEXT | _O_U16TEXT);
            mode.nOpenFlags |= detected.dwEncoding == TF_UTF8 ? _O_U8TEXT : _O_U16TEXT;
        }
        dwEncoding = detected.dwEncoding;
    }

    int nFd = -1;
    ClearRuntimeError();
    if (::_wsopen_s(&nFd, pszPath, mode.nOpenFlags, mode.nShare, mode.nPermission) != 0) {
        return RuntimeError();
    }
    ClearRuntimeError();
    FILE* pFile = ::_fdopen(nFd, mode.pszMode);
    if (pFile == nullptr) {
        const HRESULT hr = RuntimeError();
        ::_close(nFd);
        return hr;
    }
    m_pFile.Reset(pFile);
    m_hFile = reinterpret_cast<HANDLE>(::_get_osfhandle(nFd));
    m_dwEncoding = dwEncoding;
    return S_OK;
}

HRESULT CTextFile::Flush() {
    if (m_hFile == INVALID_HANDLE_VALUE) {
        return E_HANDLE;
    }
    return ::FlushFileBuffers(m_hFile) ? S_OK : HResultFromLastError();
}

HRESULT CTextFile::Seek(ULONGLONG* pnPosition, DWORD dwOrigin) {
    if (m_hFile == INVALID_HANDLE_VALUE) {
        return E_HANDLE;
    }
    LARGE_INTEGER distance = {};
    LARGE_INTEGER position = {};
    if (!::SetFilePointerEx(m_hFile, distance, &position, dwOrigin)) {
        return HResultFromLastError();
    }
    if (pnPosition != nullptr) {
        *pnPosition = static_cast<ULONGLONG>(position.QuadPart);
    }
    return S_OK;
}

HRESULT CTextFile::Truncate() {
    const HRESULT hr = Seek(nullptr, FILE_BEGIN);
    if (FAILED(hr)) {
        return hr;
    }
    return ::SetEndOfFile(m_hFile) ? S_OK : HResultFromLastError();
}

HRESULT CTextFile::GetSize(ULONGLONG* pnSize) {
    if (m_hFile == INVALID_HANDLE_VALUE) {
        return E_HANDLE;
    }
    if (pnSize == nullptr) {
        return E_INVALIDARG;
    }
    LARGE_INTEGER size = {};
    if (!::GetFileSizeEx(m_hFile, &size)) {
        return HResultFromLastError();
    }
    *pnSize = static_cast<ULONGLONG>(size.QuadPart);
    return S_OK;
}

HRESULT CTextFile::WriteString(const wchar_t* pszText) {
    if (!m_pFile) {
        return E_POINTER;
    }
    if (pszText == nullptr) {
        return E_INVALIDARG;
    }
    ClearRuntimeError();
    return ::fputws(pszText, m_pFile.Get()) == WEOF ? RuntimeError() : S_OK;
}

HRESULT CTextFile::ReadString(wchar_t* pszBuffer, int cchBuffer) {
    if (!m_pFile) {
        return E_POINTER;
    }
    // A capacity of 1 holds only the terminator: fgetws would report
    // "nothing read", which must not pass for the end of the file.
    if (pszBuffer == nullptr || cchBuffer < 2) {
        return E_INVALIDARG;
    }
    ClearRuntimeError();
    if (::fgetws(pszBuffer, cchBuffer, m_pFile.Get()) != nullptr) {
        return S_OK;
    }
    if (!::ferror(m_pFile.Get()) && ::feof(m_pFile.Get())) {
        return S_FALSE;
    }
    return RuntimeError();
}

HRESULT CTextFile::ReadLine(std::wstring& strLine) {
    strLine.clear();
    // The line is read in pieces of CCH_PIECE characters straight into
    // strLine. fgetws writes its terminator at the end of the piece only when
    // it filled the piece, so a non-zero mark there tells a full piece from a
    // shorter one even when the text holds NUL characters; the raw length of
    // each piece is then known and the rest of a line after a NUL is read
    // with the line instead of coming back as a line of its own.
    size_t cchRead = 0;
    for (;;) {
        strLine.resize(cchRead + CCH_PIECE + 1);
        wchar_t* pszPiece = &strLine[cchRead];
        pszPiece[CCH_PIECE] = L'\x1';
        const HRESULT hr = ReadString(pszPiece, static_cast<int>(CCH_PIECE + 1));
        if (hr == S_FALSE && cchRead > 0) {
            // The last line ended with a full piece and no line feed; the end
            // of the file is reported by the next call.
            strLine.resize(cchRead);
            break;
        }
        if (hr != S_OK) {
            strLine.clear();
            return hr;
        }
        const bool bFull = pszPiece[CCH_PIECE] == L'\0';
        if (!bFull || pszPiece[CCH_PIECE - 1] == L'\n') {
            // The terminator (or an earlier NUL from the file) ends the text.
            break;
        }
        cchRead += CCH_PIECE;
    }
    const size_t cchText = strLine.find(L'\0');
    if (cchText != std::wstring::npos) {
        strLine.resize(cchText);
    }
    if (!strLine.empty() && strLine.back() == L'\n') {
        strLine.pop_back();
    }
    return S_OK;
}

const wchar_t* GetEncodingName(DWORD dwEncoding) {
    switch (dwEncoding) {
        case TF_8BIT:
            return L"Latin-1";
        case TF_UTF8:
            return L"UTF-8";
        case TF_UTF16:
            return L"UTF-16LE";
        default:
            return nullptr;
    }
}
