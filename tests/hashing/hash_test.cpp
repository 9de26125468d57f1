#include "hashing/hash.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <string>
#include <thread>

#include "runtime/hex_text.h"
#include "runtime/process_end.h"
#include "support/test_support.h"

namespace {

const BYTE* Bytes(const std::string& str) {
    return reinterpret_cast<const BYTE*>(str.data());
}

// Deterministic bytes that are not a short repeated pattern, so that a
// piece hashed twice or skipped changes the value.
std::string MakeData(size_t cb) {
    std::string str(cb, '\0');
    uint32_t n = 0x12345678;
    for (char& c : str) {
        n = n * 1664525 + 1013904223;
        c = static_cast<char>(n >> 24);
    }
    return str;
}

// The value of the bytes hashed in one piece with HashData.
std::wstring HashInOnePiece(const std::string& strData, ALG_ID algId) {
    CHashProvider provider;
    CHashObject hash(provider);
    EXPECT_TRUE(hash.BeginHash(algId));
    EXPECT_TRUE(hash.HashData(Bytes(strData), static_cast<DWORD>(strData.size())));
    EXPECT_TRUE(hash.FinishHash());
    return hash.GetHashText();
}

// Opens an existing file with the given access, sharing it with everyone.
CFileHandle OpenShared(const std::wstring& strPath, DWORD dwAccess) {
    return CFileHandle(::CreateFileW(strPath.c_str(), dwAccess,
                                     FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                     nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
}

TEST(HashTest, KnownDigests) {
    // Digests from the test suites of RFC 1321 (MD5) and FIPS 180 (SHA1,
    // SHA-256), as md5sum, sha1sum and sha256sum give them.
    struct {
        const char* pszData;
        ALG_ID algId;
        const wchar_t* pszDigest;
    } const kCases[] = {
        {"", CALG_MD5, L"d41d8cd98f00b204e9800998ecf8427e"},
        {"", CALG_SHA1, L"da39a3ee5e6b4b0d3255bfef95601890afd80709"},
        {"abc", CALG_MD5, L"900150983cd24fb0d6963f7d28e17f72"},
        {"abc", CALG_SHA1, L"a9993e364706816aba3e25717850c26c9cd0d89d"},
        {"message digest", CALG_MD5, L"f96b697d7cb7938d525a2f31aaf161d0"},
        {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq", CALG_SHA1,
         L"84983e441c3bd26ebaae4aa1f95129e5e54670f1"},
        {"", CALG_SHA_256, L"e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
        {"abc", CALG_SHA_256, L"ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
    };
    test::CTempFolder folder;
    const std::wstring strPath = folder / L"known.txt";
    CHashProvider provider;
    CHashObject hash(provider);
    for (const auto& tc : kCases) {
        SCOPED_TRACE(std::string(tc.pszData) + " algorithm " + std::to_string(tc.algId));
        test::MakeFile(strPath, tc.pszData);
        ASSERT_TRUE(hash.HashFile(strPath.c_str(), tc.algId)) << ::GetLastError();
        EXPECT_EQ(tc.pszDigest, hash.GetHashText());
        EXPECT_EQ(tc.algId, hash.GetAlgorithm());
        EXPECT_EQ(wcslen(tc.pszDigest) / 2, hash.GetValueSize());
        EXPECT_EQ(tc.pszDigest, HashInOnePiece(tc.pszData, tc.algId));
        // The text reads back as the value, also in upper case; a letter
        // past "f" is no digit.
        std::string strDigest;
        for (const wchar_t* p = tc.pszDigest; *p != 0; ++p) {
            strDigest += static_cast<char>(toupper(*p));
        }
        BYTE value[HASH_MAX_VALUE_SIZE] = {};
        ASSERT_TRUE(ParseHexBytes(strDigest.c_str(), hash.GetValueSize(), value));
        EXPECT_EQ(0, memcmp(value, hash.GetValue(), hash.GetValueSize()));
        strDigest[1] = 'g';
        EXPECT_FALSE(ParseHexBytes(strDigest.c_str(), hash.GetValueSize(), value));
    }
}

TEST(HashTest, FilesAroundTheBufferSizeEqualTheDataInOnePiece) {
    struct {
        size_t cb;
        ALG_ID algId;
    } const kCases[] = {
        {HASH_BUFFER_SIZE - 1, CALG_MD5},     {HASH_BUFFER_SIZE, CALG_MD5},
        {HASH_BUFFER_SIZE + 1, CALG_MD5},     {HASH_BUFFER_SIZE, CALG_SHA1},
        {HASH_BUFFER_SIZE + 1, CALG_SHA1},    {3 * HASH_BUFFER_SIZE, CALG_SHA1},
        {3 * HASH_BUFFER_SIZE + 7, CALG_MD5}, {HASH_BUFFER_SIZE + 1, CALG_SHA_256},
    };
    test::CTempFolder folder;
    const std::wstring strPath = folder / L"data.bin";
    CHashProvider provider;
    CHashObject hash(provider);
    for (const auto& tc : kCases) {
        SCOPED_TRACE(std::to_string(tc.cb) + " algorithm " + std::to_string(tc.algId));
        const std::string strData = MakeData(tc.cb);
        test::MakeFile(strPath, strData);
        ASSERT_TRUE(hash.HashFile(strPath.c_str(), tc.algId)) << ::GetLastError();
        EXPECT_EQ(HashInOnePiece(strData, tc.algId), hash.GetHashText());
    }
}

TEST(HashTest, HashesFromTheHandlesPosition) {
    test::CTempFolder folder;
    const std::wstring strPath = folder / L"data.bin";
    const std::string strData = MakeData(HASH_BUFFER_SIZE + 100);
    test::MakeFile(strPath, strData);
    CFileHandle hFile = OpenShared(strPath, GENERIC_READ);
    ASSERT_TRUE(hFile);
    LARGE_INTEGER position;
    position.QuadPart = 100;
    ASSERT_TRUE(::SetFilePointerEx(hFile.Get(), position, nullptr, FILE_BEGIN));

    CHashProvider provider;
    CHashObject hash(provider);
    ASSERT_TRUE(hash.HashFileHandle(hFile.Get(), CALG_SHA1)) << ::GetLastError();
    EXPECT_EQ(HashInOnePiece(strData.substr(100), CALG_SHA1), hash.GetHashText());
}

// A stop asked for ends the hashing after the read in hand, without a value.
TEST(HashTest, SparseFileBeyond4GiBHashesAsZerosUnlessAStopIsAskedFor) {
    const LONGLONG kSize = 4294967297;  // 4 GiB + 1 byte
    // Computed once on Linux, independently of this code:
    //   head -c 4294967297 /dev/zero | md5sum
    const wchar_t kZerosMd5[] = L"f18c798ff5d450dfe4d3acdc12b621ff";

    test::CTempFolder folder;
    const std::wstring strPath = folder / L"sparse.bin";
    {
        // Setting the end of an empty file leaves a hole: nothing is written.
        CFileHandle hFile(::CreateFileW(strPath.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                        FILE_ATTRIBUTE_NORMAL, nullptr));
        ASSERT_TRUE(hFile) << ::GetLastError();
        LARGE_INTEGER end;
        end.QuadPart = kSize;
        ASSERT_TRUE(::SetFilePointerEx(hFile.Get(), end, nullptr, FILE_BEGIN));
        ASSERT_TRUE(::SetEndOfFile(hFile.Get())) << ::GetLastError();
    }
    WIN32_FILE_ATTRIBUTE_DATA data;
    ASSERT_TRUE(::GetFileAttributesExW(strPath.c_str(), GetFileExInfoStandard, &data));
    ASSERT_EQ(kSize, (static_cast<LONGLONG>(data.nFileSizeHigh) << 32) | data.nFileSizeLow);

    CHashProvider provider;
    CHashObject hash(provider);
    ASSERT_TRUE(hash.HashFile(strPath.c_str(), CALG_MD5)) << ::GetLastError();
    EXPECT_EQ(kZerosMd5, hash.GetHashText());
    const struct CStopReset {
        ~CStopReset() { SetStopRequested(false); }
    } stopReset;
    SetStopRequested(true);
    EXPECT_FALSE(hash.HashFile(strPath.c_str(), CALG_MD5));
    EXPECT_EQ(static_cast<DWORD>(ERROR_CANCELLED), ::GetLastError());
    EXPECT_EQ(nullptr, hash.GetValue());
}

TEST(HashTest, FailedOpenKeepsThePreviousValue) {
    test::CTempFolder folder;
    const std::wstring strKnown = folder / L"known.txt";
    const std::wstring strHeld = folder / L"held.txt";
    const std::wstring strSubfolder = folder / L"sub";
    test::MakeFile(strKnown, "abc");
    test::MakeFile(strHeld, "being written");
    test::MakeFolder(strSubfolder);
    // A device that never ends: it is not read at all.
    const std::wstring strDevice = folder / L"zero";
    test::MakeUnixSymlink("/dev/zero", strDevice);
    const test::CUnixRemoval removal({strDevice});
    // Another handle writing the file, sharing it with everyone: our
    // read-only sharing conflicts with its write access.
    CFileHandle hWriter = OpenShared(strHeld, GENERIC_WRITE);
    ASSERT_TRUE(hWriter);

    struct {
        const wchar_t* pszName;
        std::wstring strPath;
        DWORD dwError;
    } const kCases[] = {
        {L"held open for writing", strHeld, ERROR_SHARING_VIOLATION},
        {L"missing", folder / L"missing.txt", ERROR_FILE_NOT_FOUND},
        // A folder cannot be opened as a file.
        {L"folder", strSubfolder, ERROR_ACCESS_DENIED},
        {L"character device", strDevice, ERROR_UNSUPPORTED_TYPE},
    };
    CHashProvider provider;
    CHashObject hash(provider);
    for (const auto& tc : kCases) {
        SCOPED_TRACE(tc.pszName);
        ASSERT_TRUE(hash.HashFile(strKnown.c_str(), CALG_MD5));
        EXPECT_FALSE(hash.HashFile(tc.strPath.c_str(), CALG_SHA1));
        EXPECT_EQ(tc.dwError, ::GetLastError());
        EXPECT_EQ(L"900150983cd24fb0d6963f7d28e17f72", hash.GetHashText());
        EXPECT_EQ(static_cast<ALG_ID>(CALG_MD5), hash.GetAlgorithm());
    }
}

// A handle that reads for ever (a file that keeps growing) is read up to
// its size when hashing begins, here 0, and what one more read returns.
TEST(HashTest, EndlessHandleIsReadUpToItsSizeAndOneReadMore) {
    test::CTempFolder folder;
    const std::wstring strDevice = folder / L"zero";
    test::MakeUnixSymlink("/dev/zero", strDevice);
    const test::CUnixRemoval removal({strDevice});
    CFileHandle hFile = OpenShared(strDevice, GENERIC_READ);
    ASSERT_TRUE(hFile) << ::GetLastError();
    CHashProvider provider;
    CHashObject hash(provider);
    ASSERT_TRUE(hash.HashFileHandle(hFile.Get(), CALG_MD5)) << ::GetLastError();
    EXPECT_EQ(HashInOnePiece(std::string(HASH_BUFFER_SIZE, '\0'), CALG_MD5), hash.GetHashText());
}

TEST(HashTest, FailedReadClosesTheComputation) {
    test::CTempFolder folder;
    const std::wstring strPath = folder / L"data.txt";
    test::MakeFile(strPath, "abc");
    CHashProvider provider;
    CHashObject hash(provider);
    ASSERT_TRUE(hash.HashFile(strPath.c_str(), CALG_SHA1));

    // A handle without read access makes ReadFile fail after BeginHash.
    CFileHandle hWriteOnly = OpenShared(strPath, GENERIC_WRITE);
    ASSERT_TRUE(hWriteOnly);
    EXPECT_FALSE(hash.HashFileHandle(hWriteOnly.Get(), CALG_MD5));
    EXPECT_EQ(static_cast<DWORD>(ERROR_ACCESS_DENIED), ::GetLastError());
    // The failed computation had begun, so the old value is gone.
    EXPECT_EQ(L"", hash.GetHashText());
    EXPECT_EQ(nullptr, hash.GetValue());
    hWriteOnly.Reset();

    // The object can begin again, by hand and through a file.
    ASSERT_TRUE(hash.BeginHash(CALG_MD5)) << ::GetLastError();
    ASSERT_TRUE(hash.HashData(Bytes("abc"), 3));
    ASSERT_TRUE(hash.FinishHash());
    EXPECT_EQ(L"900150983cd24fb0d6963f7d28e17f72", hash.GetHashText());
    ASSERT_TRUE(hash.HashFile(strPath.c_str(), CALG_SHA1)) << ::GetLastError();
    EXPECT_EQ(L"a9993e364706816aba3e25717850c26c9cd0d89d", hash.GetHashText());
}

TEST(HashTest, IsEqual) {
    struct {
        const char* pszName;
        const char* pszSource;
        ALG_ID algSource;
        const char* pszDestination;
        ALG_ID algDestination;
        BOOL bExpected;
        DWORD dwError;
    } const kCases[] = {
        {"same contents md5", "same", CALG_MD5, "same", CALG_MD5, TRUE, ERROR_SUCCESS},
        {"same contents sha1", "same", CALG_SHA1, "same", CALG_SHA1, TRUE, ERROR_SUCCESS},
        {"different contents", "abcd", CALG_MD5, "abce", CALG_MD5, FALSE, ERROR_SUCCESS},
        {"different algorithms", "same", CALG_MD5, "same", CALG_SHA1, FALSE,
         ERROR_INVALID_PARAMETER},
    };
    test::CTempFolder folder;
    const std::wstring strSource = folder / L"source.txt";
    const std::wstring strDestination = folder / L"destination.txt";
    // The program's own objects, as the comparison uses them.
    for (const auto& tc : kCases) {
        SCOPED_TRACE(tc.pszName);
        test::MakeFile(strSource, tc.pszSource);
        test::MakeFile(strDestination, tc.pszDestination);
        ASSERT_TRUE(g_sourceHash.HashFile(strSource.c_str(), tc.algSource));
        ASSERT_TRUE(g_destinationHash.HashFile(strDestination.c_str(), tc.algDestination));
        ::SetLastError(ERROR_GEN_FAILURE);
        EXPECT_EQ(tc.bExpected, g_sourceHash.IsEqual(g_destinationHash));
        EXPECT_EQ(tc.dwError, ::GetLastError());
    }
}

TEST(HashTest, SameFileInBothObjectsIsEqual) {
    test::CTempFolder folder;
    const std::wstring strPath = folder / L"data.bin";
    test::MakeFile(strPath, MakeData(HASH_BUFFER_SIZE + 3));
    ASSERT_TRUE(g_sourceHash.HashFile(strPath.c_str(), CALG_SHA1));
    ASSERT_TRUE(g_destinationHash.HashFile(strPath.c_str(), CALG_SHA1));
    ::SetLastError(ERROR_GEN_FAILURE);
    EXPECT_TRUE(g_sourceHash.IsEqual(g_destinationHash));
    EXPECT_EQ(static_cast<DWORD>(ERROR_SUCCESS), ::GetLastError());
    EXPECT_EQ(g_sourceHash.GetHashText(), g_destinationHash.GetHashText());
}

TEST(HashTest, WrongCallsFail) {
    const std::string strAbc = "abc";
    test::CTempFolder folder;
    const std::wstring strPath = folder / L"data.txt";
    test::MakeFile(strPath, strAbc);
    CFileHandle hFile = OpenShared(strPath, GENERIC_READ);
    ASSERT_TRUE(hFile);
    // Each row starts from a fresh object (or one holding the value of
    // "abc" by MD5, or one with an open computation) and makes one call.
    enum EStart { FRESH, FINISHED, OPEN };
    struct {
        const char* pszName;
        EStart start;
        std::function<BOOL(CHashObject&)> call;
        DWORD dwError;
    } const kCases[] = {
        {"finish without a computation", FRESH, [](CHashObject& h) { return h.FinishHash(); },
         ERROR_INVALID_STATE},
        {"finish twice", FINISHED, [](CHashObject& h) { return h.FinishHash(); },
         ERROR_INVALID_STATE},
        {"data without a computation", FINISHED,
         [&](CHashObject& h) { return h.HashData(Bytes(strAbc), 3); }, ERROR_INVALID_STATE},
        {"begin while open", OPEN, [](CHashObject& h) { return h.BeginHash(CALG_MD5); },
         ERROR_INVALID_STATE},
        {"hash a file while open", OPEN,
         [&](CHashObject& h) { return h.HashFileHandle(hFile.Get(), CALG_MD5); },
         ERROR_INVALID_STATE},
        {"compare without a value", FRESH,
         [&](CHashObject& h) { return h.IsEqualValue(Bytes(strAbc), 3); }, ERROR_INVALID_STATE},
        {"compare while open", OPEN,
         [&](CHashObject& h) { return h.IsEqualValue(Bytes(strAbc), 3); }, ERROR_INVALID_STATE},
        {"null data", OPEN, [](CHashObject& h) { return h.HashData(nullptr, 1); },
         ERROR_INVALID_PARAMETER},
        {"null path", FINISHED, [](CHashObject& h) { return h.HashFile(nullptr, CALG_MD5); },
         ERROR_INVALID_PARAMETER},
        {"null handle", FINISHED,
         [](CHashObject& h) { return h.HashFileHandle(nullptr, CALG_MD5); },
         ERROR_INVALID_PARAMETER},
        {"invalid handle", FINISHED,
         [](CHashObject& h) { return h.HashFileHandle(INVALID_HANDLE_VALUE, CALG_MD5); },
         ERROR_INVALID_PARAMETER},
        {"compare with null", FINISHED, [](CHashObject& h) { return h.IsEqualValue(nullptr, 16); },
         ERROR_INVALID_PARAMETER},
        {"compare with another length", FINISHED,
         [&](CHashObject& h) { return h.IsEqualValue(Bytes(strAbc), 3); }, ERROR_INVALID_PARAMETER},
        // The RSA_AES provider has no Skipjack at all.
        {"begin an unknown algorithm", FINISHED,
         [](CHashObject& h) { return h.BeginHash(CALG_SKIPJACK); },
         static_cast<DWORD>(NTE_BAD_ALGID)},
    };
    CHashProvider provider;
    for (const auto& tc : kCases) {
        SCOPED_TRACE(tc.pszName);
        CHashObject hash(provider);
        if (tc.start != FRESH) {
            ASSERT_TRUE(hash.BeginHash(CALG_MD5));
            ASSERT_TRUE(hash.HashData(Bytes(strAbc), 3));
        }
        if (tc.start == FINISHED) {
            ASSERT_TRUE(hash.FinishHash());
        }
        const std::wstring strBefore = hash.GetHashText();
        EXPECT_FALSE(tc.call(hash));
        EXPECT_EQ(tc.dwError, ::GetLastError());
        // A refused call changes nothing: the value stays, and an open
        // computation can still be finished with the bytes it had.
        EXPECT_EQ(strBefore, hash.GetHashText());
        if (tc.start == OPEN) {
            ASSERT_TRUE(hash.FinishHash());
            EXPECT_EQ(L"900150983cd24fb0d6963f7d28e17f72", hash.GetHashText());
        }
    }
}

TEST(HashTest, TextIsEmptyWithoutAValue) {
    CHashProvider provider;
    CHashObject hash(provider);
    EXPECT_EQ(L"", hash.GetHashText());
    EXPECT_EQ(0u, hash.GetValueSize());

    ASSERT_TRUE(hash.BeginHash(CALG_SHA1));
    EXPECT_EQ(L"", hash.GetHashText());
    ASSERT_TRUE(hash.DestroyHash());
    EXPECT_EQ(L"", hash.GetHashText());
    // Abandoned, the object begins again.
    ASSERT_TRUE(hash.BeginHash(CALG_SHA1));
    ASSERT_TRUE(hash.FinishHash());
    EXPECT_EQ(L"da39a3ee5e6b4b0d3255bfef95601890afd80709", hash.GetHashText());
}

TEST(HashTest, ProviderAcquiresOnFirstUseAndAgainAfterRelease) {
    CHashProvider provider;
    EXPECT_EQ(0u, provider.GetContext());
    CHashObject hash(provider);
    EXPECT_EQ(0u, provider.GetContext());

    ASSERT_TRUE(hash.BeginHash(CALG_MD5));
    const HCRYPTPROV hFirst = provider.GetContext();
    EXPECT_NE(0u, hFirst);
    ASSERT_TRUE(hash.FinishHash());
    ASSERT_TRUE(provider.Acquire());
    EXPECT_EQ(hFirst, provider.GetContext());

    EXPECT_TRUE(provider.Release());
    EXPECT_EQ(0u, provider.GetContext());
    EXPECT_TRUE(provider.Release());
    ASSERT_TRUE(hash.BeginHash(CALG_MD5)) << ::GetLastError();
    EXPECT_NE(0u, provider.GetContext());
    ASSERT_TRUE(hash.FinishHash());
    EXPECT_EQ(L"d41d8cd98f00b204e9800998ecf8427e", hash.GetHashText());
}

// Two objects on one acquired provider hash on two threads at once.
TEST(HashTest, TwoObjectsHashOnTwoThreads) {
    test::CTempFolder folder;
    const std::wstring strFirst = folder / L"first.bin";
    const std::wstring strSecond = folder / L"second.bin";
    const std::string strFirstData = MakeData(3 * HASH_BUFFER_SIZE + 5);
    const std::string strSecondData = strFirstData.substr(1);
    test::MakeFile(strFirst, strFirstData);
    test::MakeFile(strSecond, strSecondData);
    const std::wstring strFirstExpected = HashInOnePiece(strFirstData, CALG_SHA1);
    const std::wstring strSecondExpected = HashInOnePiece(strSecondData, CALG_SHA1);

    CHashProvider provider;
    ASSERT_TRUE(provider.Acquire());
    CHashObject first(provider);
    CHashObject second(provider);
    const int kRounds = 8;
    int nFirstMatches = 0;
    int nSecondMatches = 0;
    auto hashRounds = [&](CHashObject& hash, const std::wstring& strPath,
                          const std::wstring& strExpected, int& nMatches) {
        for (int i = 0; i < kRounds; ++i) {
            if (hash.HashFile(strPath.c_str(), CALG_SHA1) && hash.GetHashText() == strExpected) {
                ++nMatches;
            }
        }
    };
    std::thread thread(hashRounds, std::ref(second), std::cref(strSecond),
                       std::cref(strSecondExpected), std::ref(nSecondMatches));
    hashRounds(first, strFirst, strFirstExpected, nFirstMatches);
    thread.join();
    EXPECT_EQ(kRounds, nFirstMatches);
    EXPECT_EQ(kRounds, nSecondMatches);
}

}  // namespace
