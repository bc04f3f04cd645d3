// The one vector layer: which bytes of a 64-byte block are line ends, end
// marks and bytes from 0x80 up, as bit masks (bit i for byte i). The engine's
// fast loops decide from the masks alone whether a block is plain text, has
// only line ends, or holds characters to expand, and so handle whole blocks
// at a time.
//
// Four levels give the same masks: a plain one, byte by byte; SSE2 (every
// x86-64); AVX2, chosen at run time where the processor has it; and NEON on
// aarch64. A loop is written once, as a class template over the level's
// type, and at_vector_level runs the instance of the level chosen, compiled
// for that level's instructions, so that the classification and the bit
// counts are inline in the loop. The conversion fuzzer runs each level
// against the plain byte-at-a-time reference conversion.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <utility>

#if defined(__SSE2__)
#include <emmintrin.h>
#define VORBIX_HAVE_SSE2 1
#endif
#if defined(__GNUC__) && defined(__x86_64__)
#include <immintrin.h>
#define VORBIX_HAVE_AVX2 1
// What a function compiled for the AVX2 level may use: every processor with
// AVX2 also has these.
#define VORBIX_AVX2_FUNCTION __attribute__((target("avx2,popcnt,bmi,bmi2,lzcnt")))
#endif
#if defined(__aarch64__) && defined(__ARM_NEON)
#include <arm_neon.h>
#define VORBIX_HAVE_NEON 1
#endif

constexpr std::size_t BYTE_BLOCK_SIZE = 64;

struct byte_block_masks {
    std::uint64_t high;     ///< bytes 0x80-0xFF
    std::uint64_t lead;     ///< bytes 0xC0-0xFF, which begin UTF-8 sequences
    std::uint64_t cr;       ///< 0x0D
    std::uint64_t lf;       ///< 0x0A
    std::uint64_t end_mark; ///< 0x1A, ^Z
};

enum class vector_level { PLAIN, SSE2, AVX2, NEON };

/// The level at_vector_level runs: the best this build and processor have,
/// unless use_vector_level chose another.
vector_level current_vector_level();

/// Uses level if this build and processor have it; returns whether they do.
/// For tests and the fuzzer, which hold every level against the reference.
bool use_vector_level(vector_level level);

/// The position of the lowest set bit of a nonzero mask.
inline int lowest_bit(std::uint64_t mask) {
    return __builtin_ctzll(mask);
}

/// The position of the highest set bit of a nonzero mask.
inline int highest_bit(std::uint64_t mask) {
    return 63 - __builtin_clzll(mask);
}

namespace byte_class_detail {

constexpr unsigned char CR = 0x0D;
constexpr unsigned char LF = 0x0A;
constexpr unsigned char END_MARK = 0x1A;

// What the levels share unless they have better: bits counted in the
// register (the builtin is a call into the compiler's library where the
// instruction set has no population count, as on x86-64 before the AVX2
// level), and a block copied by the compiler's own moves.
struct portable_bytes {
    static int count(std::uint64_t mask) {
        mask = mask - ((mask >> 1) & 0x5555555555555555u);
        mask = (mask & 0x3333333333333333u) + ((mask >> 2) & 0x3333333333333333u);
        mask = (mask + (mask >> 4)) & 0x0F0F0F0F0F0F0F0Fu;
        return static_cast<int>((mask * 0x0101010101010101u) >> 56);
    }
    static void copy_block(unsigned char* to, const unsigned char* from) {
        std::memcpy(to, from, BYTE_BLOCK_SIZE);
    }
};

} // namespace byte_class_detail

// The levels. Each has classify, the masks of one block; count, the number
// of bits set in a mask; and copy_block, which copies a block.

/// The reference: one byte at a time, written the obvious way.
struct plain_bytes : byte_class_detail::portable_bytes {
    static void classify(const unsigned char* block, byte_block_masks& masks) {
        using namespace byte_class_detail;
        masks = byte_block_masks{};
        for (std::size_t i = 0; i < BYTE_BLOCK_SIZE; ++i) {
            std::uint64_t bit = std::uint64_t{1} << i;
            masks.high |= block[i] >= 0x80 ? bit : 0;
            masks.lead |= block[i] >= 0xC0 ? bit : 0;
            masks.cr |= block[i] == CR ? bit : 0;
            masks.lf |= block[i] == LF ? bit : 0;
            masks.end_mark |= block[i] == END_MARK ? bit : 0;
        }
    }
};

#ifdef VORBIX_HAVE_SSE2
struct sse2_bytes : byte_class_detail::portable_bytes {
    // The mask of one comparison of sixteen bytes, placed at its quarter.
    static std::uint64_t mask(__m128i compared, int quarter) {
        return static_cast<std::uint64_t>(static_cast<unsigned>(_mm_movemask_epi8(compared)))
               << (16 * quarter);
    }
    static void classify(const unsigned char* block, byte_block_masks& masks) {
        using namespace byte_class_detail;
        masks = byte_block_masks{};
        for (int quarter = 0; quarter < 4; ++quarter) {
            __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(block + 16 * quarter));
            masks.high |= mask(bytes, quarter);
            // Signed, 0xC0 and up are -64 and up to -1.
            masks.lead |= mask(_mm_cmplt_epi8(_mm_set1_epi8(-65), bytes), quarter) & masks.high;
            masks.cr |= mask(_mm_cmpeq_epi8(bytes, _mm_set1_epi8(CR)), quarter);
            masks.lf |= mask(_mm_cmpeq_epi8(bytes, _mm_set1_epi8(LF)), quarter);
            masks.end_mark |= mask(_mm_cmpeq_epi8(bytes, _mm_set1_epi8(END_MARK)), quarter);
        }
    }
};
#endif

#ifdef VORBIX_HAVE_AVX2
struct avx2_bytes {
    // The mask of one comparison of 32 bytes, placed at its half.
    VORBIX_AVX2_FUNCTION static std::uint64_t mask(__m256i compared, int half) {
        return static_cast<std::uint64_t>(
                   static_cast<std::uint32_t>(_mm256_movemask_epi8(compared)))
               << (32 * half);
    }
    VORBIX_AVX2_FUNCTION static void classify(const unsigned char* block, byte_block_masks& masks) {
        using namespace byte_class_detail;
        masks = byte_block_masks{};
        for (int half = 0; half < 2; ++half) {
            __m256i bytes = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(block + 32 * half));
            masks.high |= mask(bytes, half);
            // Signed, 0xC0 and up are -64 and up to -1.
            masks.lead |= mask(_mm256_cmpgt_epi8(bytes, _mm256_set1_epi8(-65)), half) & masks.high;
            masks.cr |= mask(_mm256_cmpeq_epi8(bytes, _mm256_set1_epi8(CR)), half);
            masks.lf |= mask(_mm256_cmpeq_epi8(bytes, _mm256_set1_epi8(LF)), half);
            masks.end_mark |= mask(_mm256_cmpeq_epi8(bytes, _mm256_set1_epi8(END_MARK)), half);
        }
    }
    VORBIX_AVX2_FUNCTION static int count(std::uint64_t mask) { return __builtin_popcountll(mask); }
    VORBIX_AVX2_FUNCTION static void copy_block(unsigned char* to, const unsigned char* from) {
        for (int half = 0; half < 2; ++half)
            _mm256_storeu_si256(
                reinterpret_cast<__m256i*>(to + 32 * half),
                _mm256_loadu_si256(reinterpret_cast<const __m256i*>(from + 32 * half)));
    }
};
#endif

#ifdef VORBIX_HAVE_NEON
struct neon_bytes : byte_class_detail::portable_bytes {
    // NEON has no movemask: the four comparisons of a block keep one bit of
    // each byte's 0 or 0xFF, at the byte's place in an eight-bit group, and
    // three rounds of pairwise additions gather the bits of all 64 bytes in
    // order.
    static std::uint64_t mask(const uint8x16_t compared[4]) {
        static const uint8_t BIT_OF_BYTE[16] = {1, 2, 4, 8, 16, 32, 64, 128,
                                                1, 2, 4, 8, 16, 32, 64, 128};
        uint8x16_t bits = vld1q_u8(BIT_OF_BYTE);
        uint8x16_t sum01 = vpaddq_u8(vandq_u8(compared[0], bits), vandq_u8(compared[1], bits));
        uint8x16_t sum23 = vpaddq_u8(vandq_u8(compared[2], bits), vandq_u8(compared[3], bits));
        uint8x16_t sum = vpaddq_u8(sum01, sum23);
        sum = vpaddq_u8(sum, sum);
        return vgetq_lane_u64(vreinterpretq_u64_u8(sum), 0);
    }
    static void classify(const unsigned char* block, byte_block_masks& masks) {
        using namespace byte_class_detail;
        uint8x16_t high[4], lead[4], cr[4], lf[4], end_mark[4];
        for (int quarter = 0; quarter < 4; ++quarter) {
            uint8x16_t bytes = vld1q_u8(block + 16 * quarter);
            high[quarter] = vcgeq_u8(bytes, vdupq_n_u8(0x80));
            lead[quarter] = vcgeq_u8(bytes, vdupq_n_u8(0xC0));
            cr[quarter] = vceqq_u8(bytes, vdupq_n_u8(CR));
            lf[quarter] = vceqq_u8(bytes, vdupq_n_u8(LF));
            end_mark[quarter] = vceqq_u8(bytes, vdupq_n_u8(END_MARK));
        }
        masks.high = mask(high);
        masks.lead = mask(lead);
        masks.cr = mask(cr);
        masks.lf = mask(lf);
        masks.end_mark = mask(end_mark);
    }
    static int count(std::uint64_t mask) { return __builtin_popcountll(mask); }
};
#endif

// Runs of bytes sixteen at a time, at the build's baseline level (SSE2 on
// x86-64, NEON on aarch64), which needs no choice at run time: the runs
// between events are short, and a call through at_vector_level for each
// would cost more than it saves. Each gives how many of the sixteen bytes at
// bytes, from the first, belong to the run: sixteen when all do.
#if defined(VORBIX_HAVE_SSE2) || defined(VORBIX_HAVE_NEON)
#define VORBIX_HAVE_BASELINE_RUNS 1
namespace byte_class_detail {

#ifdef VORBIX_HAVE_SSE2
inline unsigned leading_run_of(__m128i outside) {
    auto mask = static_cast<unsigned>(_mm_movemask_epi8(outside));
    return mask != 0 ? static_cast<unsigned>(__builtin_ctz(mask)) : 16;
}
#else
// NEON has no movemask: narrowing each 16-bit lane by four keeps four bits
// of each byte's 0 or 0xFF, in order, in one 64-bit word.
inline unsigned leading_run_of(uint8x16_t outside) {
    uint64_t nibbles =
        vget_lane_u64(vreinterpret_u64_u8(vshrn_n_u16(vreinterpretq_u16_u8(outside), 4)), 0);
    return nibbles != 0 ? static_cast<unsigned>(__builtin_ctzll(nibbles)) / 4 : 16;
}
#endif

} // namespace byte_class_detail

/// How many of the sixteen bytes at bytes, from the first, are plain text
/// (0x20 to 0x7E and the tab), and how many are ASCII.
#ifdef VORBIX_HAVE_SSE2
inline unsigned plain_text_in_16(const unsigned char* bytes) {
    __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes));
    // Signed: bytes from 0x80 up compare below the space as well.
    __m128i below_space = _mm_andnot_si128(_mm_cmpeq_epi8(block, _mm_set1_epi8('\t')),
                                           _mm_cmplt_epi8(block, _mm_set1_epi8(0x20)));
    return byte_class_detail::leading_run_of(
        _mm_or_si128(below_space, _mm_cmpeq_epi8(block, _mm_set1_epi8(0x7F))));
}
inline unsigned ascii_in_16(const unsigned char* bytes) {
    return byte_class_detail::leading_run_of(
        _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes)));
}
#else
inline unsigned plain_text_in_16(const unsigned char* bytes) {
    uint8x16_t block = vld1q_u8(bytes);
    uint8x16_t below_space =
        vandq_u8(vcltq_u8(block, vdupq_n_u8(0x20)), vmvnq_u8(vceqq_u8(block, vdupq_n_u8('\t'))));
    return byte_class_detail::leading_run_of(
        vorrq_u8(below_space, vcgeq_u8(block, vdupq_n_u8(0x7F))));
}
inline unsigned ascii_in_16(const unsigned char* bytes) {
    return byte_class_detail::leading_run_of(vcgeq_u8(vld1q_u8(bytes), vdupq_n_u8(0x80)));
}
#endif
#endif

namespace byte_class_detail {

// One function for each level, so that the loop's instance for the level is
// compiled with its instructions (and inlines its classification) and the
// others are not copied into the caller. Loop<Level>::run must be always
// inlined.
template <template <typename> class Loop, typename... Arguments>
[[gnu::noinline]] auto run_plain(Arguments&&... arguments) {
    return Loop<plain_bytes>::run(std::forward<Arguments>(arguments)...);
}
#ifdef VORBIX_HAVE_SSE2
template <template <typename> class Loop, typename... Arguments>
[[gnu::noinline]] auto run_sse2(Arguments&&... arguments) {
    return Loop<sse2_bytes>::run(std::forward<Arguments>(arguments)...);
}
#endif
#ifdef VORBIX_HAVE_AVX2
template <template <typename> class Loop, typename... Arguments>
[[gnu::noinline]] VORBIX_AVX2_FUNCTION auto run_avx2(Arguments&&... arguments) {
    return Loop<avx2_bytes>::run(std::forward<Arguments>(arguments)...);
}
#endif
#ifdef VORBIX_HAVE_NEON
template <template <typename> class Loop, typename... Arguments>
[[gnu::noinline]] auto run_neon(Arguments&&... arguments) {
    return Loop<neon_bytes>::run(std::forward<Arguments>(arguments)...);
}
#endif

} // namespace byte_class_detail

/// Runs Loop<L>::run(arguments...) for the level L that is current: L is
/// plain_bytes, sse2_bytes, avx2_bytes or neon_bytes.
template <template <typename> class Loop, typename... Arguments>
auto at_vector_level(Arguments&&... arguments) {
    using namespace byte_class_detail;
    switch (current_vector_level()) {
#ifdef VORBIX_HAVE_SSE2
    case vector_level::SSE2:
        return run_sse2<Loop>(std::forward<Arguments>(arguments)...);
#endif
#ifdef VORBIX_HAVE_AVX2
    case vector_level::AVX2:
        return run_avx2<Loop>(std::forward<Arguments>(arguments)...);
#endif
#ifdef VORBIX_HAVE_NEON
    case vector_level::NEON:
        return run_neon<Loop>(std::forward<Arguments>(arguments)...);
#endif
    default:
        return run_plain<Loop>(std::forward<Arguments>(arguments)...);
    }
}
