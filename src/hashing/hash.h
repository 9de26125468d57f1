// MD5, SHA1 and SHA-256 values of file contents through CryptoAPI.
//
// One CHashProvider holds the CryptoAPI context of the run; each CHashObject
// reads files through a read buffer of its own, holds the value of its last
// finished computation, compares it with another object's value and renders
// it as text. Every operation but GetHashText returns nonzero on success and
// 0 on failure, with the reason in the thread's last error; none prints.
//
// Threads: a CHashObject keeps everything it works with to itself; the only
// thing two objects share is the provider's context, which they only read.
// Two objects on one provider may therefore hash on two threads at once
// (one object per thread), provided the context was acquired (Acquire)
// before the second thread starts. One object is never safe for concurrent
// use, and Acquire and Release are not safe against a hash in progress.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

#include "runtime/handle.h"
#include "runtime/platform.h"

// Size of the read buffer of each hash object, allocated on its first file
// and reused for every later one.
constexpr DWORD HASH_BUFFER_SIZE = 1048576;

// The largest value that a hash algorithm of the program delivers: SHA-256
// has 32 bytes, SHA1 20, MD5 16.
constexpr DWORD HASH_MAX_VALUE_SIZE = 32;

// The CryptoAPI context of the run: a verify-only context of the default
// RSA_AES provider (no key container is opened or created).
class CHashProvider {
public:
    CHashProvider() = default;
    CHashProvider(const CHashProvider&) = delete;
    CHashProvider& operator=(const CHashProvider&) = delete;
    // Releases the context. Every hash object using it must have closed its
    // computation by then.
    virtual ~CHashProvider();

    // Acquires the context unless it is held already. Nonzero on success;
    // 0 with CryptAcquireContextW's error otherwise (nothing is held then).
    BOOL Acquire();
    // Releases the context if one is held; nonzero when none is held
    // afterwards and the release (if any) succeeded, else 0 with
    // CryptReleaseContext's error (the context is forgotten either way).
    BOOL Release();

    // The context, 0 while none is held.
    HCRYPTPROV GetContext() const noexcept { return m_hProv.Get(); }

private:
    CCryptProvHandle m_hProv;
};

// One hash computation at a time and the value of the last finished one.
// States: idle (no open computation; holds the previous value or none)
// -> BeginHash -> open (value cleared) -> FinishHash -> idle with the new
// value. DestroyHash abandons an open computation (idle without a value).
class CHashObject {
public:
    // The provider must outlive the object.
    explicit CHashObject(CHashProvider& provider) noexcept : m_pProvider(&provider) {}
    CHashObject(const CHashObject&) = delete;
    CHashObject& operator=(const CHashObject&) = delete;
    // Destroys an open computation and frees both buffers; leaves the
    // provider alone.
    virtual ~CHashObject();

    // Opens a computation with the CryptoAPI algorithm identifier (CALG_MD5,
    // CALG_SHA1, CALG_SHA_256), acquiring the provider's context if needed.
    // On success the previous value is gone. Fails with ERROR_INVALID_STATE
    // while a computation is open, or with the error of CryptAcquireContextW
    // or CryptCreateHash (for instance NTE_BAD_ALGID); the object is then
    // unchanged, previous value included.
    BOOL BeginHash(ALG_ID algId);
    // Adds cbData bytes to the open computation. Fails with
    // ERROR_INVALID_PARAMETER for null data, ERROR_INVALID_STATE when no
    // computation is open, or CryptHashData's error (the computation stays
    // open).
    BOOL HashData(const BYTE* pbData, DWORD cbData);
    // Takes the value out of the open computation and closes it. Fails with
    // ERROR_INVALID_STATE when none is open, ERROR_OUTOFMEMORY, or
    // CryptGetHashParam's error; on failure the computation stays open and
    // the object holds no value.
    BOOL FinishHash();
    // Abandons the open computation, if any. Nonzero when none is open or
    // it was destroyed; 0 with CryptDestroyHash's error (it is forgotten
    // either way).
    BOOL DestroyHash();

    // Hashes what is read from hFile's current position up to the first
    // read that returns no bytes, in HASH_BUFFER_SIZE pieces (files of any
    // size), or until more than the file's size after the first full piece
    // has been read: a file that keeps growing is read up to that size and
    // what one more read returns. The handle needs read access and stays
    // open. Fails with ERROR_INVALID_PARAMETER for a null or
    // INVALID_HANDLE_VALUE handle, ERROR_OUTOFMEMORY, BeginHash's error
    // (previous value kept), or the error of ReadFile, GetFileSizeEx (a
    // handle without a size), CryptHashData or FinishHash, or ERROR_CANCELLED
    // when a stop was asked for (IsStopRequested) or the object's give-up
    // flag is set (SetGiveUp), both checked after each read;
    // after a failure past BeginHash the computation is closed and the
    // object holds no value.
    BOOL HashFileHandle(HANDLE hFile, ALG_ID algId);
    // Opens the file with OpenFileForReading and hashes it with
    // HashFileHandle. Fails with OpenFileForReading's error (for a file that
    // is not a regular file without reading it), which leaves the previous
    // value in place; otherwise with HashFileHandle's error. Closing the file
    // never changes the error reported.
    BOOL HashFile(const wchar_t* pszPath, ALG_ID algId);

    // Nonzero when the cbValue bytes at pbValue equal this object's value,
    // with last error 0; 0 with last error 0 when they differ. Fails with
    // ERROR_INVALID_PARAMETER for null data, ERROR_INVALID_STATE when this
    // object holds no value, ERROR_INVALID_PARAMETER when the lengths differ.
    BOOL IsEqualValue(const BYTE* pbValue, DWORD cbValue) const;
    // Nonzero when the other object's computation used the same algorithm
    // and its value equals this one (last error 0). Fails with
    // ERROR_INVALID_PARAMETER when the algorithms differ, else as
    // IsEqualValue with the other object's value.
    BOOL IsEqual(const CHashObject& other) const;

    // The value as lower-case hexadecimal text, two characters per byte in
    // the order CryptoAPI delivers the digest (its usual written form);
    // empty when the object holds no value.
    std::wstring GetHashText() const;

    // Makes the hashing of a file end after the read in hand, as a stop
    // does, once *pbGiveUp is true (read from any thread). Null: only a
    // stop does. The flag must outlive its use.
    void SetGiveUp(const std::atomic<bool>* pbGiveUp) noexcept { m_pbGiveUp = pbGiveUp; }

    // Makes HashFileHandle add the bytes of each read to *pnBytesRead (null:
    // to nothing), which must outlive the object; other threads may read it
    // at any time.
    void SetReadCounter(std::atomic<uint64_t>* pnBytesRead) noexcept {
        m_pnBytesRead = pnBytesRead;
    }

    // The bytes that HashFileHandle read from its last file: the file's size
    // when it read up to the end, more than the size it had after the first
    // full read when the file kept growing.
    ULONGLONG GetBytesHashed() const noexcept { return m_nBytesHashed; }

    // The algorithm of the last begun computation, 0 before the first.
    ALG_ID GetAlgorithm() const noexcept { return m_algId; }
    // The value and its length in bytes; null and 0 when there is none.
    const BYTE* GetValue() const noexcept { return m_cbValue != 0 ? m_pbValue.get() : nullptr; }
    DWORD GetValueSize() const noexcept { return m_cbValue; }

private:
    CHashProvider* const m_pProvider;
    CCryptHashHandle m_hHash;
    std::unique_ptr<BYTE[]> m_pbValue;
    std::unique_ptr<BYTE[]> m_pbBuffer;
    ALG_ID m_algId = 0;
    DWORD m_cbValue = 0;  // 0 while a computation is open or there is no value
    const std::atomic<bool>* m_pbGiveUp = nullptr;
    std::atomic<uint64_t>* m_pnBytesRead = nullptr;
    ULONGLONG m_nBytesHashed = 0;
};

// The reason for a failed open of a file or of its security information as
// the program reports it: a name that is not a regular file (Wine opens a
// Unix socket, or a device without a driver, as no device at all,
// ERROR_NO_SUCH_DEVICE; Windows refuses a reparse point of a kind it does not
// handle, such as a special file of its Linux subsystem, with
// ERROR_CANT_ACCESS_FILE) is ERROR_UNSUPPORTED_TYPE; any other code stays.
DWORD OpenFailureReason(DWORD dwError) noexcept;

// Opens the file at pszPath for reading whole, front to back, sharing it for
// reading only, when it is a regular file on a disk: the one way in which the
// program opens a file whose contents it reads. Returns the handle; or an
// invalid one, with ERROR_INVALID_PARAMETER for a null path, CreateFileW's
// error when the file cannot be opened (for instance ERROR_ACCESS_DENIED, or
// ERROR_SHARING_VIOLATION while another handle has it open for writing), or
// ERROR_UNSUPPORTED_TYPE when the name is not a regular file (a named pipe, a
// character or block device, a socket).
CFileHandle OpenFileForReading(const wchar_t* pszPath);

// cbValue bytes as lower-case hexadecimal text, two characters per byte.
std::wstring FormatHashText(const BYTE* pbValue, DWORD cbValue);

// Whether two hash values are the same: the same length and the same bytes.
bool IsSameHashValue(const BYTE* pbA, DWORD cbA, const BYTE* pbB, DWORD cbB);

// The provider of the run, whose context the hash queue's objects share, and
// two hash objects on it, one per side, for hashing outside the comparison
// (the comparison hashes only through its queue, with objects of its own).
// Defined with the other globals, so that the provider is destroyed after
// both objects.
extern CHashProvider g_hashProvider;
extern CHashObject g_sourceHash;
extern CHashObject g_destinationHash;
