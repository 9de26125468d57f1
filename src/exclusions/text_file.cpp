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

// True when the file starts with the UTF-16 big-endian mark FE FF. Some C
// runtimes refuse such a file in their Unicode modes without an
// operating-system code, and Wine's msvcrt reads it as 8-bit text; looking
// before the runtime opens gives one answer everywhere. A file that cannot be
// opened here is left to the runtime's open, which reports why.
bool StartsWithBigEndianMark(const wchar_t* pszPath) {
    CFileHandle hFile(::CreateFileW(pszPath, GENERIC_READ,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!hFile) {
        return false;
    }
    unsigned char mark[2] = {};
    DWORD cbRead = 0;
    return ::ReadFile(hFile.Get(), mark, sizeof(mark), &cbRead, nullptr) &&
           cbRead == sizeof(mark) && mark[0] == 0xFE && mark[1] == 0xFF;
}

}  // namespace

CTextFile::CTextFile() noexcept : m_hFile(INVALID_HANDLE_VALUE) {}

CTextFile::~CTextFile() {
    Close();
}

void CTextFile::Close() {
    // CStream keeps the last error across fclose.
    m_pFile.Reset();
    m_hFile = INVALID_HANDLE_VALUE;
}

HRESULT CTextFile::Open(const wchar_t* pszPath, DWORD dwFlags) {
    // A second Open must not lose the stream it replaces.
    Close();
    COpenMode mode;
    if (pszPath == nullptr || !DecodeOpenFlags(dwFlags, mode)) {
        return E_INVALIDARG;
    }
    if ((dwFlags & TF_ENCODING_MASK) != 0 && mode.bReads && !mode.bTruncates &&
        StartsWithBigEndianMark(pszPath)) {
        return HResultFromWin32(ERROR_UNSUPPORTED_TYPE);
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
