// The hash algorithms that the program offers, in one table: the keyword
// that /hash takes, the name the console shows, the name that the report and
// the snapshot write, the CryptoAPI identifier and the size of a value are
// read from here by every user.
#pragma once

#include <string>

#include "runtime/platform.h"

#include <wincrypt.h>

// The program's ids of the algorithms, as the options record keeps them.
enum : int {
    HASH_MD5 = 1,
    HASH_SHA1 = 2,
    HASH_SHA256 = 3,
};

// One algorithm: every name of it and what CryptoAPI needs to compute it.
struct CHashAlgorithm {
    int nId;                     // HASH_MD5, HASH_SHA1, HASH_SHA256
    const wchar_t* pszKeyword;   // the value of /hash, lower case: "md5"
    const wchar_t* pszDisplay;   // as the console names it: "MD5"
    const char* pszRecordName;   // as the report and the snapshot write it: "md5"
    const char* pszTag;          // as a checksum manifest's BSD form tags it: "MD5"
    const wchar_t* pszStandard;  // its standard name, as a manifest's start line shows it
    ALG_ID algId;                // CALG_MD5
    DWORD cbValue;               // the size of a value in bytes
    const char* pszEmptyValue;   // the value of no bytes, in hexadecimal
};

// The table, in the order in which /hash reads an abbreviation: the first row
// whose keyword begins with the value wins, so "s" and "sha" are SHA1 and
// "sha2" is SHA256.
extern const CHashAlgorithm g_hashAlgorithms[3];

// The row of the algorithm nId; null when the table has none.
const CHashAlgorithm* FindHashAlgorithm(int nId);

// The row whose record name is strName, exactly ("md5", "sha1", "sha256");
// null for any other name.
const CHashAlgorithm* FindHashAlgorithmByRecordName(const std::string& strName);

// Whether the cbValue bytes at pbValue are the value of no bytes under the
// algorithm of that size: an empty file's, which tells nothing of a file.
bool IsEmptyValue(const BYTE* pbValue, DWORD cbValue);
