#include "hashing/hash.h"

#include <cstring>
#include <new>
#include <utility>

#include "runtime/hex_text.h"
#include "runtime/process_end.h"

// Not in every SDK's winerror.h.
#ifndef ERROR_NO_SUCH_DEVICE
#define ERROR_NO_SUCH_DEVICE 433L
#endif

namespace {

// True when hFile is a regular file on a disk, by one query that costs no
// round trip to the Wine server. A folder may list a named pipe, a socket or
// a device as a file (a Linux file system seen through Wine, where the
// listing shows them as ordinary files): reading a pipe with a writer
// attached or a device such as /dev/zero never ends. Wine refuses the basic
// information of every file that is neither a regular file nor a folder (a
// pipe, a character or block device), and FILE_ATTRIBUTE_DEVICE says device
// wherever a system sets it. (A socket does not even open under Wine, and a
// path with the \\?\ prefix never names a DOS device such as NUL.)
bool IsRegularFile(HANDLE hFile) {
    FILE_BASIC_INFO info;
    return ::GetFileInformationByHandleEx(hFile, FileBasicInfo, &info, sizeof(info)) &&
           (info.FileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE)) == 0;
}

}  // namespace

CHashProvider::~CHashProvider() = default;

BOOL CHashProvider::Acquire() {
    if (m_hProv) {
        return TRUE;
    }
    // A verify-only context: hashing needs no key container, and opening
    // one would fail for users without a profile. The RSA_AES provider type
    // offers SHA-256 besides MD5 and SHA1; RSA_FULL has no SHA-256.
    HCRYPTPROV hProv = 0;
    if (!::CryptAcquireContextW(&hProv, nullptr, nullptr, PROV_RSA_AES, CRYPT_VERIFYCONTEXT)) {
        return FALSE;
    }
    m_hProv.Reset(hProv);
    return TRUE;
}

BOOL CHashProvider::Release() {
    const HCRYPTPROV hProv = m_hProv.Release();
    return hProv == 0 || ::CryptReleaseContext(hProv, 0);
}

CHashObject::~CHashObject() = default;

BOOL CHashObject::BeginHash(ALG_ID algId) {
    if (m_hHash) {
        ::SetLastError(ERROR_INVALID_STATE);
        return FALSE;
    }
    // Acquired here only in a single-threaded run; a program that hashes on
    // several threads acquires the context before it starts them.
    if (!m_pProvider->Acquire()) {
        return FALSE;
    }
    HCRYPTHASH hHash = 0;
    if (!::CryptCreateHash(m_pProvider->GetContext(), algId, 0, 0, &hHash)) {
        return FALSE;
    }
    m_hHash.Reset(hHash);
    m_pbValue.reset();
    m_cbValue = 0;
    m_algId = algId;
    return TRUE;
}

BOOL CHashObject::HashData(const BYTE* pbData, DWORD cbData) {
    if (pbData == nullptr) {
        ::SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (!m_hHash) {
        ::SetLastError(ERROR_INVALID_STATE);
        return FALSE;
    }
    return ::CryptHashData(m_hHash.Get(), pbData, cbData, 0);
}

BOOL CHashObject::FinishHash() {
    if (!m_hHash) {
        ::SetLastError(ERROR_INVALID_STATE);
        return FALSE;
    }
    DWORD cbSize = 0;
    DWORD cbParam = sizeof(cbSize);
    if (!::CryptGetHashParam(m_hHash.Get(), HP_HASHSIZE, reinterpret_cast<BYTE*>(&cbSize), &cbParam,
                             0)) {
        return FALSE;
    }
    // The value is kept only once it is complete, so that a failed query
    // leaves the object without a value rather than with a partial one.
    std::unique_ptr<BYTE[]> pbValue(new (std::nothrow) BYTE[cbSize]);
    if (!pbValue) {
        ::SetLastError(ERROR_OUTOFMEMORY);
        return FALSE;
    }
    DWORD cbValue = cbSize;
    if (!::CryptGetHashParam(m_hHash.Get(), HP_HASHVAL, pbValue.get(), &cbValue, 0)) {
        return FALSE;
    }
    m_pbValue = std::move(pbValue);
    m_cbValue = cbValue;
    m_hHash.Reset();
    return TRUE;
}

BOOL CHashObject::DestroyHash() {
    const HCRYPTHASH hHash = m_hHash.Release();
    return hHash == 0 || ::CryptDestroyHash(hHash);
}

BOOL CHashObject::HashFileHandle(HANDLE hFile, ALG_ID algId) {
    if (hFile == nullptr || hFile == INVALID_HANDLE_VALUE) {
        ::SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (!m_pbBuffer) {
        m_pbBuffer.reset(new (std::nothrow) BYTE[HASH_BUFFER_SIZE]);
        if (!m_pbBuffer) {
            ::SetLastError(ERROR_OUTOFMEMORY);
            return FALSE;
        }
    }
    if (!BeginHash(algId)) {
        return FALSE;
    }
    // A failed step closes the computation (Reset keeps the step's last
    // error), so that the object can begin the next file.
    ULONGLONG& nRead = m_nBytesHashed;
    nRead = 0;
    LARGE_INTEGER size;
    size.QuadPart = -1;  // not asked for yet
    for (;;) {
        DWORD cbRead = 0;
        if (!::ReadFile(hFile, m_pbBuffer.get(), HASH_BUFFER_SIZE, &cbRead, nullptr)) {
            m_hHash.Reset();
            return FALSE;
        }
        if (cbRead == 0) {
            break;
        }
        if (!::CryptHashData(m_hHash.Get(), m_pbBuffer.get(), cbRead, 0)) {
            m_hHash.Reset();
            return FALSE;
        }
        nRead += cbRead;
        if (m_pnBytesRead != nullptr) {
            m_pnBytesRead->fetch_add(cbRead, std::memory_order_relaxed);
        }
        // A stop, or the queue that gives up its files, ends a large file
        // within one read buffer.
        if (IsStopRequested() || (m_pbGiveUp != nullptr && m_pbGiveUp->load())) {
            m_hHash.Reset();
            ::SetLastError(ERROR_CANCELLED);
            return FALSE;
        }
        // The size bounds the reading: a file that keeps growing (a log being
        // written) is read up to its size after the first full buffer and
        // one piece more, never for ever; one that shrinks ends at its first
        // empty read. A file that the first read does not fill (most files)
        // needs no bound, and is spared the query.
        if (size.QuadPart < 0 && cbRead == HASH_BUFFER_SIZE && !::GetFileSizeEx(hFile, &size)) {
            m_hHash.Reset();
            return FALSE;
        }
        if (size.QuadPart >= 0 && nRead > static_cast<ULONGLONG>(size.QuadPart)) {
            break;
        }
    }
    if (!FinishHash()) {
        m_hHash.Reset();
        return FALSE;
    }
    return TRUE;
}

BOOL CHashObject::HashFile(const wchar_t* pszPath, ALG_ID algId) {
    const CFileHandle hFile = OpenFileForReading(pszPath);
    // hFile closes when it goes out of scope, keeping the hashing's error.
    return hFile && HashFileHandle(hFile.Get(), algId);
}

CFileHandle OpenFileForReading(const wchar_t* pszPath) {
    if (pszPath == nullptr) {
        ::SetLastError(ERROR_INVALID_PARAMETER);
        return CFileHandle();
    }
    // Sharing for reading only: a file that someone is writing is refused
    // (ERROR_SHARING_VIOLATION) rather than read half-written.
    CFileHandle hFile(::CreateFileW(pszPath, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                    FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!hFile) {
        // Not regular files either.
        ::SetLastError(OpenFailureReason(::GetLastError()));
        return hFile;
    }
    if (!IsRegularFile(hFile.Get())) {
        ::SetLastError(ERROR_UNSUPPORTED_TYPE);
        return CFileHandle();
    }
    return hFile;
}

BOOL CHashObject::IsEqualValue(const BYTE* pbValue, DWORD cbValue) const {
    if (pbValue == nullptr) {
        ::SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (!m_pbValue || m_cbValue == 0) {
        ::SetLastError(ERROR_INVALID_STATE);
        return FALSE;
    }
    if (cbValue != m_cbValue) {
        ::SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    // Last error 0 tells a difference apart from a failure.
    ::SetLastError(ERROR_SUCCESS);
    return IsSameHashValue(m_pbValue.get(), m_cbValue, pbValue, cbValue);
}

BOOL CHashObject::IsEqual(const CHashObject& other) const {
    if (other.m_algId != m_algId) {
        ::SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    return IsEqualValue(other.m_pbValue.get(), other.m_cbValue);
}

std::wstring CHashObject::GetHashText() const {
    return m_pbValue ? FormatHashText(m_pbValue.get(), m_cbValue) : std::wstring();
}

DWORD OpenFailureReason(DWORD dwError) noexcept {
    return dwError == ERROR_NO_SUCH_DEVICE || dwError == ERROR_CANT_ACCESS_FILE
               ? static_cast<DWORD>(ERROR_UNSUPPORTED_TYPE)
               : dwError;
}

std::wstring FormatHashText(const BYTE* pbValue, DWORD cbValue) {
    std::wstring strText;
    strText.reserve(2 * static_cast<size_t>(cbValue));
    AppendHexBytes(strText, pbValue, cbValue);
    return strText;
}

bool IsSameHashValue(const BYTE* pbA, DWORD cbA, const BYTE* pbB, DWORD cbB) {
    return cbA == cbB && std::memcmp(pbA, pbB, cbA) == 0;
}
