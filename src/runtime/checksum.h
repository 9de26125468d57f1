// A running checksum of bytes, as the snapshot's closing line carries it:
// the 64-bit XXH3 value (xxHash), fast enough to add nothing measurable to
// reading a file, and no defence against a change made on purpose, only
// against damage.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

struct CChecksumState;

class CChecksum {
public:
    CChecksum();
    ~CChecksum();
    CChecksum(const CChecksum&) = delete;
    CChecksum& operator=(const CChecksum&) = delete;

    // Adds the cb bytes at p, after those added before.
    void Add(const void* p, size_t cb);
    // The value of every byte added so far; more may be added after.
    uint64_t Get() const;

private:
    std::unique_ptr<CChecksumState> m_pState;
};
