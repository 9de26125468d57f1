// Benchmark driver for the hash objects: hashes every file directly inside
// a source folder and the file of the same name inside a destination
// folder, as the comparison pairs them, and prints the throughput.
//
//   quorva_hash_bench.exe md5|sha1|sha256 <source folder> <destination folder>
//
// Prints one line: algorithm, files, bytes, seconds and MB/s (10^6 bytes
// per second, both trees together). Exit code 0 when every pair hashed and
// was equal, 1 for wrong arguments, 2 when a file failed, 3 when a pair
// differed.
#include <cstdio>
#include <cwchar>
#include <string>

#include "hashing/hash.h"
#include "runtime/handle.h"
#include "runtime/platform.h"

namespace {

LONGLONG Now() {
    LARGE_INTEGER counter;
    ::QueryPerformanceCounter(&counter);
    return counter.QuadPart;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    const struct {
        const wchar_t* pszName;
        ALG_ID algId;
    } kAlgorithms[] = {{L"md5", CALG_MD5}, {L"sha1", CALG_SHA1}, {L"sha256", CALG_SHA_256}};
    ALG_ID algId = 0;
    for (const auto& algorithm : kAlgorithms) {
        if (argc == 4 && wcscmp(argv[1], algorithm.pszName) == 0) {
            algId = algorithm.algId;
        }
    }
    if (algId == 0) {
        std::fwprintf(stderr, L"usage: quorva_hash_bench md5|sha1|sha256 <source> <destination>\n");
        return 1;
    }
    const std::wstring strSource = argv[2];
    const std::wstring strDestination = argv[3];

    CHashProvider provider;
    CHashObject sourceHash(provider);
    CHashObject destinationHash(provider);

    LARGE_INTEGER frequency;
    ::QueryPerformanceFrequency(&frequency);
    const LONGLONG nStart = Now();
    ULONGLONG nBytes = 0;
    unsigned nFiles = 0;
    int nExitCode = 0;

    WIN32_FIND_DATAW fd;
    CFindHandle hFind(::FindFirstFileW((strSource + L"\\*").c_str(), &fd));
    if (!hFind) {
        std::fwprintf(stderr, L"cannot list %ls (%lu)\n", strSource.c_str(), ::GetLastError());
        return 2;
    }
    do {
        if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            continue;
        }
        const std::wstring strFirst = strSource + L"\\" + fd.cFileName;
        const std::wstring strSecond = strDestination + L"\\" + fd.cFileName;
        if (!sourceHash.HashFile(strFirst.c_str(), algId) ||
            !destinationHash.HashFile(strSecond.c_str(), algId)) {
            std::fwprintf(stderr, L"cannot hash %ls (%lu)\n", fd.cFileName, ::GetLastError());
            return 2;
        }
        if (!sourceHash.IsEqual(destinationHash)) {
            std::fwprintf(stderr, L"%ls differs\n", fd.cFileName);
            nExitCode = 3;
        }
        nFiles += 2;
        nBytes += 2 * ((static_cast<ULONGLONG>(fd.nFileSizeHigh) << 32) | fd.nFileSizeLow);
    } while (::FindNextFileW(hFind.Get(), &fd));

    const double dSeconds = static_cast<double>(Now() - nStart) / frequency.QuadPart;
    std::wprintf(L"%ls %u files %I64u bytes %.3f s %.1f MB/s\n", argv[1], nFiles, nBytes, dSeconds,
                 dSeconds > 0 ? nBytes / dSeconds / 1e6 : 0.0);
    return nExitCode;
}
