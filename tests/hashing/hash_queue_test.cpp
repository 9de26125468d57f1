#include "hashing/hash_queue.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <new>
#include <stdexcept>
#include <string>
#include <vector>

#include "runtime/handle.h"
#include "support/test_support.h"

namespace {

// While set, allocations of at least this many bytes fail, as they would when
// memory runs out: the buffers of hashing are that large, the tests' own
// allocations are far smaller.
std::atomic<size_t> g_cbFailFrom{SIZE_MAX};

}  // namespace

// The program's allocations all come here (libstdc++'s non-throwing new calls
// this one too).
void* operator new(size_t cb) {
    void* p = cb < g_cbFailFrom.load() ? std::malloc(cb != 0 ? cb : 1) : nullptr;
    if (p == nullptr) {
        throw std::bad_alloc();
    }
    return p;
}
void operator delete(void* p) noexcept {
    std::free(p);
}
void operator delete(void* p, size_t) noexcept {
    std::free(p);
}

namespace {

// Contents that differ from name to name and in size, some beyond the read
// buffer.
std::string Contents(int i) {
    const size_t cb = (i % 7 == 0) ? HASH_BUFFER_SIZE + 17 * i : static_cast<size_t>(i * 31 % 500);
    return std::string(cb, static_cast<char>('a' + i % 26));
}

// The results of pair nPair's two files.
void Collect(CHashQueue& queue, size_t nPair, const CHashResult*& pSource,
             const CHashResult*& pDestination) {
    const CPairResult& result = queue.Wait(nPair);
    pSource = &result.files[0];
    pDestination = &result.files[1];
}

std::wstring Text(const CHashResult& result) {
    return FormatHashText(result.value, result.cbValue);
}

// Two folders of files, and the value of each file as one hash object
// computes it.
class HashQueueTest : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_provider.Acquire());
        for (const wchar_t* pszSide : {L"src", L"dst"}) {
            ASSERT_TRUE(::CreateDirectoryW((m_root / pszSide).c_str(), nullptr));
        }
    }

    // Makes pair i: the destination differs from the source in odd pairs.
    void MakePair(int i) {
        const std::wstring strName = L"f" + std::to_wstring(i);
        m_names.push_back(strName);
        test::MakeFile(Source() + L"\\" + strName, Contents(i));
        test::MakeFile(Destination() + L"\\" + strName, Contents(i % 2 ? i + 1 : i));
    }

    std::wstring Expected(const std::wstring& strFolder, const std::wstring& strName,
                          ALG_ID algId) {
        CHashObject hash(m_provider);
        EXPECT_TRUE(hash.HashFile((strFolder + L"\\" + strName).c_str(), algId));
        return hash.GetHashText();
    }

    std::wstring Source() const { return m_root / L"src"; }
    std::wstring Destination() const { return m_root / L"dst"; }

    test::CTempFolder m_root;
    CHashProvider m_provider;
    std::vector<std::wstring> m_names;
};

TEST_F(HashQueueTest, GivesEachPairTheValuesOfItsOwnFiles) {
    // More pairs than the queue holds: it is filled again as pairs are
    // collected.
    const size_t kPairs = HASH_QUEUE_PAIRS + 36;
    for (size_t i = 0; i < kPairs; ++i) {
        MakePair(static_cast<int>(i));
    }
    for (DWORD nThreads : {0, 1, 3, 8}) {
        for (ALG_ID algId : {ALG_ID(CALG_MD5), ALG_ID(CALG_SHA1), ALG_ID(CALG_SHA_256)}) {
            SCOPED_TRACE(testing::Message() << nThreads << " threads, algorithm " << algId);
            CHashQueue queue(m_provider);
            queue.Open(nThreads, algId);
            size_t nAdded = 0;
            for (size_t i = 0; i < kPairs; ++i) {
                for (; nAdded < kPairs && queue.HasRoom(); ++nAdded) {
                    queue.Add(nAdded, Source() + L"\\" + m_names[nAdded],
                              Destination() + L"\\" + m_names[nAdded]);
                }
                const CHashResult* pSource = nullptr;
                const CHashResult* pDestination = nullptr;
                Collect(queue, i, pSource, pDestination);
                ASSERT_TRUE(pSource->bHashed);
                ASSERT_TRUE(pDestination->bHashed);
                EXPECT_EQ(Expected(Source(), m_names[i], algId), Text(*pSource));
                EXPECT_EQ(Expected(Destination(), m_names[i], algId), Text(*pDestination));
                EXPECT_EQ(i % 2 == 0, Text(*pSource) == Text(*pDestination));
            }
        }
    }
}

TEST_F(HashQueueTest, FailuresAreKeptPerFile) {
    MakePair(0);
    MakePair(1);
    ::DeleteFileW((Destination() + L"\\f0").c_str());
    const CHashResult* pSource = nullptr;
    const CHashResult* pDestination = nullptr;
    for (DWORD nThreads : {0, 2}) {
        SCOPED_TRACE(testing::Message() << nThreads << " threads");
        CHashQueue queue(m_provider);
        queue.Open(nThreads, CALG_MD5);
        queue.Add(0, Source() + L"\\f0", Destination() + L"\\f0");
        queue.Add(1, Source() + L"\\missing", Destination() + L"\\f1");
        Collect(queue, 0, pSource, pDestination);
        EXPECT_TRUE(pSource->bHashed);
        EXPECT_FALSE(pDestination->bHashed);
        EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_NOT_FOUND), pDestination->dwError);
        Collect(queue, 1, pSource, pDestination);
        EXPECT_FALSE(pSource->bHashed);
        EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_NOT_FOUND), pSource->dwError);
        EXPECT_TRUE(pDestination->bHashed);
        // Pairs only in turn: a result never lands on another pair.
        EXPECT_THROW(queue.Add(3, Source() + L"\\f1", Destination() + L"\\f1"), std::logic_error);
        EXPECT_THROW(Collect(queue, 2, pSource, pDestination), std::logic_error);
        // A comparison that stops leaves pairs in the queue: its threads end
        // all the same.
        queue.Add(2, Source() + L"\\f1", Destination() + L"\\f1");
    }

    // An algorithm that the provider refuses fails both files with its code.
    CHashQueue queue(m_provider);
    queue.Open(2, CALG_SKIPJACK);
    queue.Add(0, Source() + L"\\f1", Destination() + L"\\f1");
    Collect(queue, 0, pSource, pDestination);
    EXPECT_FALSE(pSource->bHashed);
    EXPECT_EQ(static_cast<DWORD>(NTE_BAD_ALGID), pSource->dwError);
    EXPECT_EQ(static_cast<DWORD>(NTE_BAD_ALGID), pDestination->dwError);
}

// A file of nSize bytes, a pattern up to three blocks and a hole up to its
// last byte, with the byte at nChanged (when it is within the size) changed.
void MakeCompared(const std::wstring& strPath, ULONGLONG nSize, ULONGLONG nChanged) {
    std::string strData(static_cast<size_t>(std::min<ULONGLONG>(nSize, 3 * COMPARE_BLOCK_SIZE)), 0);
    for (size_t i = 0; i < strData.size(); ++i) {
        strData[i] = static_cast<char>(i * 7 + i / 251 + (i == nChanged ? 1 : 0));
    }
    test::MakeFile(strPath, strData);
    if (nSize > strData.size()) {
        CFileHandle hFile(
            ::CreateFileW(strPath.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr));
        LARGE_INTEGER last;
        last.QuadPart = static_cast<LONGLONG>(nSize - 1);
        const char ch = nChanged == nSize - 1 ? 1 : 0;
        DWORD cb = 0;
        ASSERT_TRUE(::SetFilePointerEx(hFile.Get(), last, nullptr, FILE_BEGIN));
        ASSERT_TRUE(::WriteFile(hFile.Get(), &ch, 1, &cb, nullptr));
    }
}

// Pairs compared byte by byte give the offset of their first difference, on
// the caller's thread and on threads; a pair with a file that cannot be
// opened gives that file's error and the other file's success.
TEST_F(HashQueueTest, ComparesPairsByteByByte) {
    const ULONGLONG kBlock = COMPARE_BLOCK_SIZE;
    const ULONGLONG kEqual = ~0ULL;
    const struct {
        const wchar_t* pszName;
        ULONGLONG nSize;
        ULONGLONG nDifference;
    } kCases[] = {
        {L"equal", 3000, kEqual},
        {L"first byte", 3000, 0},
        {L"middle byte", 3000, 1500},
        {L"last byte", 3000, 2999},
        {L"empty", 0, kEqual},
        {L"one block", kBlock, kEqual},
        {L"one block and one byte, last byte", kBlock + 1, kBlock},
        {L"4 GiB and one byte, sparse, last byte", 4294967297, 4294967296},
    };
    for (const auto& tc : kCases) {
        MakeCompared(Source() + L"\\" + tc.pszName, tc.nSize, kEqual);
        MakeCompared(Destination() + L"\\" + tc.pszName, tc.nSize, tc.nDifference);
    }
    for (DWORD nThreads : {0, 2}) {
        CHashQueue queue(m_provider);
        queue.Open(nThreads, 0);
        for (size_t i = 0; i < ARRAYSIZE(kCases); ++i) {
            queue.Add(i, Source() + L"\\" + kCases[i].pszName,
                      Destination() + L"\\" + kCases[i].pszName, PairJob::Compare);
        }
        queue.Add(ARRAYSIZE(kCases), Source() + L"\\missing", Destination() + L"\\equal",
                  PairJob::Compare);
        for (size_t i = 0; i < ARRAYSIZE(kCases); ++i) {
            SCOPED_TRACE(testing::Message() << kCases[i].pszName << ", " << nThreads << " threads");
            const CPairResult& result = queue.Wait(i);
            EXPECT_TRUE(result.files[0].bHashed && result.files[1].bHashed);
            EXPECT_EQ(kCases[i].nDifference != kEqual, result.bDifferent);
            EXPECT_EQ(result.bDifferent ? kCases[i].nDifference : 0, result.nDifference);
        }
        const CPairResult& result = queue.Wait(ARRAYSIZE(kCases));
        EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_NOT_FOUND), result.files[0].dwError);
        EXPECT_TRUE(!result.files[0].bHashed && result.files[1].bHashed && !result.bDifferent);
    }
}

// Out of memory on a hashing thread fails that file and nothing else: the
// thread goes on, and its lock with it.
TEST_F(HashQueueTest, RunningOutOfMemoryFailsTheFile) {
    MakePair(0);
    CHashQueue queue(m_provider);
    queue.Open(2, CALG_MD5);
    const CHashResult* pSource = nullptr;
    const CHashResult* pDestination = nullptr;
    // Each thread's read buffer is allocated for its first file.
    g_cbFailFrom = HASH_BUFFER_SIZE;
    queue.Add(0, Source() + L"\\f0", Destination() + L"\\f0");
    Collect(queue, 0, pSource, pDestination);
    g_cbFailFrom = SIZE_MAX;
    for (const CHashResult* pResult : {pSource, pDestination}) {
        EXPECT_FALSE(pResult->bHashed);
        EXPECT_EQ(static_cast<DWORD>(ERROR_OUTOFMEMORY), pResult->dwError);
    }
    queue.Add(1, Source() + L"\\f0", Destination() + L"\\f0");
    Collect(queue, 1, pSource, pDestination);
    EXPECT_TRUE(pSource->bHashed);
    EXPECT_TRUE(pDestination->bHashed);
}

}  // namespace
