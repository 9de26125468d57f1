#include "hashing/hash_algorithm.h"

#include <cstring>

#include "hashing/hash.h"
#include "runtime/hex_text.h"

const CHashAlgorithm g_hashAlgorithms[3] = {
    {HASH_MD5, L"md5", L"MD5", "md5", "MD5", L"MD5", CALG_MD5, 16,
     "d41d8cd98f00b204e9800998ecf8427e"},
    {HASH_SHA1, L"sha1", L"SHA1", "sha1", "SHA1", L"SHA-1", CALG_SHA1, 20,
     "da39a3ee5e6b4b0d3255bfef95601890afd80709"},
    {HASH_SHA256, L"sha256", L"SHA256", "sha256", "SHA256", L"SHA-256", CALG_SHA_256, 32,
     "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
};

static_assert(HASH_MAX_VALUE_SIZE == 32, "the largest value of the table");

const CHashAlgorithm* FindHashAlgorithm(int nId) {
    for (const CHashAlgorithm& algorithm : g_hashAlgorithms) {
        if (algorithm.nId == nId) {
            return &algorithm;
        }
    }
    return nullptr;
}

const CHashAlgorithm* FindHashAlgorithmByRecordName(const std::string& strName) {
    for (const CHashAlgorithm& algorithm : g_hashAlgorithms) {
        if (strName == algorithm.pszRecordName) {
            return &algorithm;
        }
    }
    return nullptr;
}

bool IsEmptyValue(const BYTE* pbValue, DWORD cbValue) {
    for (const CHashAlgorithm& algorithm : g_hashAlgorithms) {
        BYTE empty[HASH_MAX_VALUE_SIZE];
        if (algorithm.cbValue == cbValue &&
            ParseHexBytes(algorithm.pszEmptyValue, cbValue, empty) &&
            std::memcmp(empty, pbValue, cbValue) == 0) {
            return true;
        }
    }
    return false;
}
