// FNV-1a, the program's one hash of keys (names in the pairing's index,
// folders of a snapshot): each unit is mixed in by an exclusive or, then a
// product with the prime of the width.
#pragma once

#include <cstddef>
#include <cstdint>

constexpr uint32_t FNV1A_32_BASIS = 2166136261u;
constexpr uint64_t FNV1A_64_BASIS = 14695981039346656037ULL;

// The hash nHash with one more unit (a byte, or a UTF-16 code unit).
constexpr uint32_t Fnv1aStep(uint32_t nHash, uint32_t nUnit) {
    return (nHash ^ nUnit) * 16777619u;
}
constexpr uint64_t Fnv1aStep(uint64_t nHash, uint64_t nUnit) {
    return (nHash ^ nUnit) * 1099511628211ULL;
}

// The 64-bit hash of cb bytes.
inline uint64_t Fnv1a64(const char* p, size_t cb) {
    uint64_t nHash = FNV1A_64_BASIS;
    for (size_t i = 0; i < cb; ++i) {
        nHash = Fnv1aStep(nHash, static_cast<uint64_t>(static_cast<unsigned char>(p[i])));
    }
    return nHash;
}

// The 64-bit hash of cch UTF-16 units.
inline uint64_t Fnv1a64(const wchar_t* p, size_t cch) {
    uint64_t nHash = FNV1A_64_BASIS;
    for (size_t i = 0; i < cch; ++i) {
        nHash = Fnv1aStep(nHash, static_cast<uint64_t>(static_cast<uint16_t>(p[i])));
    }
    return nHash;
}
