// Finds runs of plain text, printable ASCII (0x20 to 0x7E) and tabs, sixteen
// bytes at a time where SSE2 is, else one at a time. Most text is such runs, and in the usual
// character sets and encodings each of these bytes stands for itself, so a
// run can be copied without a lookup.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

inline bool is_plain_text_byte(unsigned char byte) {
    return (byte >= 0x20 && byte <= 0x7E) || byte == '\t';
}

/// Whether mapping takes every plain text byte to that same byte value; only
/// then may a run be copied as it stands.
template <typename Mapping> bool plain_text_maps_to_itself(Mapping mapping) {
    for (int byte = 0; byte < 0x80; ++byte)
        if (is_plain_text_byte(static_cast<unsigned char>(byte)) && !mapping(byte))
            return false;
    return true;
}

/// Copies the plain text run at the start of bytes[0..length) to out and
/// returns its length. Writes nothing to out beyond out + length.
inline std::size_t copy_plain_text(const unsigned char* bytes, std::size_t length,
                                   unsigned char* out) {
    std::size_t at = 0;
#if defined(__SSE2__)
    const __m128i space = _mm_set1_epi8(0x20);
    const __m128i tab = _mm_set1_epi8('\t');
    const __m128i del = _mm_set1_epi8(0x7F);
    while (length - at >= 16) {
        __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes + at));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + at), block);
        // Signed: bytes from 0x80 up compare below the space as well.
        __m128i below_space =
            _mm_andnot_si128(_mm_cmpeq_epi8(block, tab), _mm_cmplt_epi8(block, space));
        __m128i other = _mm_or_si128(below_space, _mm_cmpeq_epi8(block, del));
        unsigned mask = static_cast<unsigned>(_mm_movemask_epi8(other));
        if (mask != 0)
            return at + static_cast<std::size_t>(__builtin_ctz(mask));
        at += 16;
    }
#endif
    while (at < length && is_plain_text_byte(bytes[at])) {
        out[at] = bytes[at];
        ++at;
    }
    return at;
}

/// The length of the run of ASCII (bytes below 0x80) at the start of bytes.
inline std::size_t ascii_prefix(const unsigned char* bytes, std::size_t length) {
    std::size_t at = 0;
#if defined(__SSE2__)
    while (length - at >= 16) {
        __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes + at));
        unsigned mask = static_cast<unsigned>(_mm_movemask_epi8(block));
        if (mask != 0)
            return at + static_cast<std::size_t>(__builtin_ctz(mask));
        at += 16;
    }
#endif
    while (at < length && bytes[at] < 0x80)
        ++at;
    return at;
}
