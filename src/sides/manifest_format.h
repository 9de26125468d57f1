// The lines of a checksum manifest, as sha256sum, sha1sum and md5sum write
// them: "<hex>  <name>" (GNU; "<hex> *<name>" in binary mode) or
// "SHA256 (<name>) = <hex>" (BSD tag). A GNU or tag line that begins with a
// backslash has escapes in its name: "\\" a backslash, "\n" a line feed,
// "\r" a carriage return.
#pragma once

#include <cstddef>
#include <string>

#include "hashing/hash.h"
#include "hashing/hash_algorithm.h"
#include "runtime/platform.h"

// The longest name a manifest line may give, in UTF-16 code units: the
// longest path the platform opens.
constexpr size_t kMaxManifestName = 32767;
// The longest line a reader holds: such a name in UTF-8 (at most 3 bytes a
// unit) with every byte escaped, a tag and the longest value around it.
constexpr size_t kMaxManifestLine = 6 * kMaxManifestName + 256;

// One line read.
struct CManifestLine {
    // The name below the tree's root: "\" between the names of its folders
    // and its own, a leading "./" dropped. A byte that is not part of UTF-8
    // reads as U+FFFD, as the platform lists such a name.
    std::wstring strName;
    // The tag's algorithm, or the one whose values have the value's length.
    const CHashAlgorithm* pAlgorithm = nullptr;
    DWORD cbHash = 0;
    BYTE hash[HASH_MAX_VALUE_SIZE] = {};
};

// Reads the cbLine bytes at pLine (a line without its end) into line: null,
// or what is wrong with it, a sentence ending with a period. A name that
// leaves the tree or names nothing is wrong: empty, absolute ("/a", "\a"), on
// a drive ("C:a"), or holding an empty name, "." or ".." between separators.
const wchar_t* ParseManifestLine(const char* pLine, size_t cbLine, CManifestLine& line);

// Appends the GNU line of a file (its value, cbHash bytes at pbHash, and its
// name below the root with "/" between names) to strOut, with its line
// feed: "<hex>  <name>\n", or, for a name holding a backslash, a line feed or
// a carriage return, "\<hex>  <escaped name>\n".
void AppendManifestLine(std::string& strOut, const BYTE* pbHash, DWORD cbHash,
                        const std::string& strName);
