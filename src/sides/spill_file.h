// Records spilled to a temporary file while they are made and read back in
// order afterwards: the listing of a folder through the cache file, and a
// snapshot's entries. The file gets them, and gives them back, in blocks
// rather than one by one: the same bytes with far fewer calls.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "runtime/platform.h"

// The bytes of one block: 112 records of the listing's 576 bytes.
constexpr size_t SPILL_BLOCK_BYTES = 64512;

// Appends records to a file (open for writing, the handle borrowed), at its
// current position.
class CSpillWriter {
public:
    explicit CSpillWriter(HANDLE hFile, size_t cbBlock = SPILL_BLOCK_BYTES);

    // Adds cb bytes, writing the block once it holds cbBlock bytes or more.
    // FALSE after a failed write, with WriteFile's error, or
    // ERROR_WRITE_FAULT when it wrote less than it was given.
    BOOL Add(const void* pData, size_t cb);
    // Writes what the block holds; as Add.
    BOOL Flush();

private:
    const HANDLE m_hFile;
    const size_t m_cbBlock;
    std::string m_block;
};

// Reads records from a file (open for reading, the handle borrowed), from
// the start (the file's position must be there when the reader is made) or
// from where Seek puts it. No read goes past the first nLimit bytes of the
// file.
class CSpillReader {
public:
    explicit CSpillReader(HANDLE hFile, uint64_t nLimit = UINT64_MAX,
                          size_t cbBlock = SPILL_BLOCK_BYTES);

    // Reads the next cb bytes into pData. ERROR_SUCCESS; ERROR_HANDLE_EOF
    // when the file or the nLimit bytes end first (a short file would give
    // records that were never written); or ReadFile's error.
    DWORD Read(void* pData, size_t cb);
    // Reads on from the byte nOffset of the file: within the block in hand
    // without a call, else from the file's position set there. ERROR_SUCCESS
    // or SetFilePointerEx's error.
    DWORD Seek(uint64_t nOffset);

private:
    const HANDLE m_hFile;
    const uint64_t m_nLimit;
    std::vector<char> m_block;
    uint64_t m_nOffset = 0;  // where the block's first byte lies in the file
    size_t m_nPos = 0;
    size_t m_nEnd = 0;
};
