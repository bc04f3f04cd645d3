// The one vector layer: which bytes of a 32-byte block are line ends, end
// marks and bytes from 0x80 up, as bit masks (bit i for byte i). The engine's
// fast loops decide from the masks alone whether a block is plain text, has
// only line ends, or holds characters to expand, and so handle whole blocks
// at a time.
//
// Four implementations give the same masks: a plain one, byte by byte; SSE2
// (every x86-64); AVX2, chosen at run time where the processor has it; and
// NEON on aarch64. The conversion fuzzer runs each against the plain byte-at-
// a-time reference conversion.
#pragma once

#include <cstddef>
#include <cstdint>

constexpr std::size_t BYTE_BLOCK_SIZE = 32;

struct byte_block_masks {
    std::uint32_t high = 0;     ///< bytes 0x80-0xFF
    std::uint32_t cr = 0;       ///< 0x0D
    std::uint32_t lf = 0;       ///< 0x0A
    std::uint32_t end_mark = 0; ///< 0x1A, ^Z
};

enum class vector_level { PLAIN, SSE2, AVX2, NEON };

/// Fills masks[i] for each of the count blocks of BYTE_BLOCK_SIZE bytes from
/// blocks on, through the implementation chosen for this processor: one call
/// for a run of blocks, so that the choice costs nothing per block.
extern void (*classify_byte_blocks)(const unsigned char* blocks, std::size_t count,
                                    byte_block_masks* masks);

/// The masks of one block.
inline void classify_byte_block(const unsigned char* block, byte_block_masks& masks) {
    classify_byte_blocks(block, 1, &masks);
}

/// The implementation classify_byte_block uses.
vector_level current_vector_level();

/// Uses level if this build and processor have it; returns whether they do.
/// For tests and the fuzzer, which hold every level against the reference.
bool use_vector_level(vector_level level);

/// The position of the lowest set bit of a nonzero mask.
inline int lowest_bit(std::uint32_t mask) {
    return __builtin_ctz(mask);
}

/// The number of set bits, added up in the register: the builtin is a call
/// into the compiler's library where the baseline instruction set has no
/// population count (x86-64 without POPCNT).
inline int bit_count(std::uint32_t mask) {
    mask = mask - ((mask >> 1) & 0x55555555u);
    mask = (mask & 0x33333333u) + ((mask >> 2) & 0x33333333u);
    mask = (mask + (mask >> 4)) & 0x0F0F0F0Fu;
    return static_cast<int>((mask * 0x01010101u) >> 24);
}
