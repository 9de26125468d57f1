#include "runtime/checksum.h"

// The library is one header; inlined, its functions stay inside this file.
#define XXH_INLINE_ALL
#include <xxhash.h>

// The state is over-aligned (64 bytes): C++17's new honours that.
struct CChecksumState {
    XXH3_state_t state;
};

CChecksum::CChecksum() : m_pState(std::make_unique<CChecksumState>()) {
    XXH3_64bits_reset(&m_pState->state);
}

CChecksum::~CChecksum() = default;

void CChecksum::Add(const void* p, size_t cb) {
    if (cb != 0) {
        XXH3_64bits_update(&m_pState->state, p, cb);
    }
}

uint64_t CChecksum::Get() const {
    return XXH3_64bits_digest(&m_pState->state);
}
