// The implementations of the vector layer, and the choice among them.
#include "common/byte_classes.h"

#if defined(__x86_64__) || defined(__i386__)
#if defined(__SSE2__)
#include <emmintrin.h>
#define VORBIX_HAVE_SSE2 1
#endif
#if defined(__GNUC__) && defined(__x86_64__)
#include <cpuid.h>
#include <immintrin.h>
#define VORBIX_HAVE_AVX2 1
#endif
#endif
#if defined(__aarch64__) && defined(__ARM_NEON)
#include <arm_neon.h>
#define VORBIX_HAVE_NEON 1
#endif

namespace {

constexpr unsigned char CR = 0x0D;
constexpr unsigned char LF = 0x0A;
constexpr unsigned char END_MARK = 0x1A;

// The reference: one byte at a time, written the obvious way.
inline void classify_plain_one(const unsigned char* block, byte_block_masks& masks) {
    masks = byte_block_masks{};
    for (std::size_t i = 0; i < BYTE_BLOCK_SIZE; ++i) {
        std::uint32_t bit = std::uint32_t{1} << i;
        if (block[i] >= 0x80)
            masks.high |= bit;
        if (block[i] == CR)
            masks.cr |= bit;
        if (block[i] == LF)
            masks.lf |= bit;
        if (block[i] == END_MARK)
            masks.end_mark |= bit;
    }
}

void classify_plain(const unsigned char* blocks, std::size_t count, byte_block_masks* masks) {
    for (std::size_t i = 0; i < count; ++i)
        classify_plain_one(blocks + i * BYTE_BLOCK_SIZE, masks[i]);
}

#ifdef VORBIX_HAVE_SSE2
// Sixteen bytes' masks.
inline void classify_sse2_half(__m128i bytes, std::uint32_t& high, std::uint32_t& cr,
                               std::uint32_t& lf, std::uint32_t& end_mark) {
    high = static_cast<std::uint32_t>(_mm_movemask_epi8(bytes));
    cr = static_cast<std::uint32_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(bytes, _mm_set1_epi8(CR))));
    lf = static_cast<std::uint32_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(bytes, _mm_set1_epi8(LF))));
    end_mark = static_cast<std::uint32_t>(
        _mm_movemask_epi8(_mm_cmpeq_epi8(bytes, _mm_set1_epi8(END_MARK))));
}

inline void classify_sse2_one(const unsigned char* block, byte_block_masks& masks) {
    std::uint32_t high[2], cr[2], lf[2], end_mark[2];
    for (int half = 0; half < 2; ++half)
        classify_sse2_half(_mm_loadu_si128(reinterpret_cast<const __m128i*>(block + 16 * half)),
                           high[half], cr[half], lf[half], end_mark[half]);
    masks.high = high[0] | high[1] << 16;
    masks.cr = cr[0] | cr[1] << 16;
    masks.lf = lf[0] | lf[1] << 16;
    masks.end_mark = end_mark[0] | end_mark[1] << 16;
}

void classify_sse2(const unsigned char* blocks, std::size_t count, byte_block_masks* masks) {
    for (std::size_t i = 0; i < count; ++i)
        classify_sse2_one(blocks + i * BYTE_BLOCK_SIZE, masks[i]);
}
#endif

#ifdef VORBIX_HAVE_AVX2
__attribute__((target("avx2"))) inline void classify_avx2_one(const unsigned char* block,
                                                              byte_block_masks& masks) {
    __m256i bytes = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(block));
    masks.high = static_cast<std::uint32_t>(_mm256_movemask_epi8(bytes));
    masks.cr = static_cast<std::uint32_t>(
        _mm256_movemask_epi8(_mm256_cmpeq_epi8(bytes, _mm256_set1_epi8(CR))));
    masks.lf = static_cast<std::uint32_t>(
        _mm256_movemask_epi8(_mm256_cmpeq_epi8(bytes, _mm256_set1_epi8(LF))));
    masks.end_mark = static_cast<std::uint32_t>(
        _mm256_movemask_epi8(_mm256_cmpeq_epi8(bytes, _mm256_set1_epi8(END_MARK))));
}

__attribute__((target("avx2"))) void classify_avx2(const unsigned char* blocks, std::size_t count,
                                                   byte_block_masks* masks) {
    for (std::size_t i = 0; i < count; ++i)
        classify_avx2_one(blocks + i * BYTE_BLOCK_SIZE, masks[i]);
}

// Asked of the processor itself: __builtin_cpu_supports needs a runtime
// library that a static musl build does not link. AVX2 needs the processor's
// flag and the system's saving of the 256-bit registers.
bool ask_processor_for_avx2() {
    unsigned eax, ebx, ecx, edx;
    if (!__get_cpuid(1, &eax, &ebx, &ecx, &edx))
        return false;
    const unsigned OSXSAVE = 1u << 27, AVX = 1u << 28;
    if ((ecx & OSXSAVE) == 0 || (ecx & AVX) == 0)
        return false;
    unsigned saved_low, saved_high;
    __asm__("xgetbv" : "=a"(saved_low), "=d"(saved_high) : "c"(0));
    (void)saved_high;
    const unsigned XMM_AND_YMM_STATE = 6;
    if ((saved_low & XMM_AND_YMM_STATE) != XMM_AND_YMM_STATE || __get_cpuid_max(0, nullptr) < 7)
        return false;
    __cpuid_count(7, 0, eax, ebx, ecx, edx);
    const unsigned AVX2 = 1u << 5;
    return (ebx & AVX2) != 0;
}

bool processor_has_avx2() {
    static const bool has = ask_processor_for_avx2();
    return has;
}
#endif

#ifdef VORBIX_HAVE_NEON
// NEON has no movemask: each byte's 0 or 0xFF is narrowed to a nibble, and
// the nibbles' low bits gathered into a 16-bit mask.
inline std::uint32_t neon_mask(uint8x16_t compared) {
    static const uint8_t BIT_OF_BYTE[16] = {1, 2, 4, 8, 16, 32, 64, 128,
                                            1, 2, 4, 8, 16, 32, 64, 128};
    uint8x16_t bits = vandq_u8(compared, vld1q_u8(BIT_OF_BYTE));
    std::uint32_t low = vaddv_u8(vget_low_u8(bits));
    std::uint32_t high = vaddv_u8(vget_high_u8(bits));
    return low | high << 8;
}

inline void classify_neon_one(const unsigned char* block, byte_block_masks& masks) {
    masks = byte_block_masks{};
    for (int half = 0; half < 2; ++half) {
        uint8x16_t bytes = vld1q_u8(block + 16 * half);
        int shift = 16 * half;
        masks.high |= neon_mask(vcgeq_u8(bytes, vdupq_n_u8(0x80))) << shift;
        masks.cr |= neon_mask(vceqq_u8(bytes, vdupq_n_u8(CR))) << shift;
        masks.lf |= neon_mask(vceqq_u8(bytes, vdupq_n_u8(LF))) << shift;
        masks.end_mark |= neon_mask(vceqq_u8(bytes, vdupq_n_u8(END_MARK))) << shift;
    }
}

void classify_neon(const unsigned char* blocks, std::size_t count, byte_block_masks* masks) {
    for (std::size_t i = 0; i < count; ++i)
        classify_neon_one(blocks + i * BYTE_BLOCK_SIZE, masks[i]);
}
#endif

vector_level best_level() {
#ifdef VORBIX_HAVE_AVX2
    if (processor_has_avx2())
        return vector_level::AVX2;
#endif
#ifdef VORBIX_HAVE_SSE2
    return vector_level::SSE2;
#elif defined(VORBIX_HAVE_NEON)
    return vector_level::NEON;
#else
    return vector_level::PLAIN;
#endif
}

vector_level chosen_level = vector_level::PLAIN;

void classify_first_call(const unsigned char* blocks, std::size_t count, byte_block_masks* masks);

} // namespace

void (*classify_byte_blocks)(const unsigned char*, std::size_t,
                             byte_block_masks*) = classify_first_call;

namespace {

// The first call chooses for the processor, once.
void classify_first_call(const unsigned char* blocks, std::size_t count, byte_block_masks* masks) {
    use_vector_level(best_level());
    classify_byte_blocks(blocks, count, masks);
}

} // namespace

vector_level current_vector_level() {
    if (classify_byte_blocks == classify_first_call)
        use_vector_level(best_level());
    return chosen_level;
}

bool use_vector_level(vector_level level) {
    switch (level) {
    case vector_level::PLAIN:
        classify_byte_blocks = classify_plain;
        break;
    case vector_level::SSE2:
#ifdef VORBIX_HAVE_SSE2
        classify_byte_blocks = classify_sse2;
        break;
#else
        return false;
#endif
    case vector_level::AVX2:
#ifdef VORBIX_HAVE_AVX2
        if (!processor_has_avx2())
            return false;
        classify_byte_blocks = classify_avx2;
        break;
#else
        return false;
#endif
    case vector_level::NEON:
#ifdef VORBIX_HAVE_NEON
        classify_byte_blocks = classify_neon;
        break;
#else
        return false;
#endif
    }
    chosen_level = level;
    return true;
}
