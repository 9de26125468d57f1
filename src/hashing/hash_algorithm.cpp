#include "hashing/hash_algorithm.h"

#include "hashing/hash.h"

const CHashAlgorithm g_hashAlgorithms[3] = {
    {HASH_MD5, L"md5", L"MD5", "md5", CALG_MD5, 16},
    {HASH_SHA1, L"sha1", L"SHA1", "sha1", CALG_SHA1, 20},
    {HASH_SHA256, L"sha256", L"SHA256", "sha256", CALG_SHA_256, 32},
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
