// Finds runs of plain text, printable ASCII (0x20 to 0x7E) and tabs,
// sixteen bytes at a time through the vector layer where the build has a
// baseline level, else one at a time. Most text is such runs, and in the
// usual character sets and encodings each of these bytes stands for itself,
// so a run can be copied without a lookup.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "common/byte_classes.h"

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
#ifdef VORBIX_HAVE_BASELINE_RUNS
    while (length - at >= 16) {
        std::memcpy(out + at, bytes + at, 16);
        unsigned run = plain_text_in_16(bytes + at);
        if (run < 16)
            return at + run;
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
#ifdef VORBIX_HAVE_BASELINE_RUNS
    while (length - at >= 16) {
        unsigned run = ascii_in_16(bytes + at);
        if (run < 16)
            return at + run;
        at += 16;
    }
#endif
    while (at < length && bytes[at] < 0x80)
        ++at;
    return at;
}
