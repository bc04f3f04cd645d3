// UTF-8 as RFC 3629 defines it, decided here rather than by the C library,
// so that every host reads and writes the same bytes: well-formed sequences of
// U+0000 to U+10FFFF other than the surrogates. Five- and six-byte forms,
// larger code points, surrogates and overlong forms are never characters,
// although some C libraries accept them.
#pragma once

#include <cstddef>
#include <cstdint>

#include "common/ascii_run.h"
#include <cwchar>

constexpr wchar_t UTF8_LARGEST = 0x10FFFF;

/// Decodes one well-formed sequence that lies wholly within bytes[0..length):
/// stores the character in c and returns its length, 1 to 4. Returns 0 for an
/// invalid, overlong, surrogate, out-of-range or incomplete sequence.
inline std::size_t decode_utf8(const unsigned char* bytes, std::size_t length, wchar_t& c) {
    unsigned char lead = bytes[0];
    if (lead < 0x80) {
        c = lead;
        return 1;
    }
    auto continuation = [&](std::size_t i) { return (bytes[i] & 0xC0) == 0x80; };
    if (lead >= 0xC2 && lead <= 0xDF) {
        if (length < 2 || !continuation(1))
            return 0;
        c = static_cast<wchar_t>(((lead & 0x1F) << 6) | (bytes[1] & 0x3F));
        return 2;
    }
    if (lead >= 0xE0 && lead <= 0xEF) {
        if (length < 3 || !continuation(1) || !continuation(2))
            return 0;
        wchar_t value = static_cast<wchar_t>(((lead & 0x0F) << 12) | ((bytes[1] & 0x3F) << 6) |
                                             (bytes[2] & 0x3F));
        if (value < 0x800 || (value >= 0xD800 && value <= 0xDFFF))
            return 0;
        c = value;
        return 3;
    }
    if (lead >= 0xF0 && lead <= 0xF4) {
        if (length < 4 || !continuation(1) || !continuation(2) || !continuation(3))
            return 0;
        wchar_t value = static_cast<wchar_t>(((lead & 0x07) << 18) | ((bytes[1] & 0x3F) << 12) |
                                             ((bytes[2] & 0x3F) << 6) | (bytes[3] & 0x3F));
        if (value < 0x10000 || value > UTF8_LARGEST)
            return 0;
        c = value;
        return 4;
    }
    return 0;
}

/// Whether bytes[0..length), shorter than a whole sequence, is the beginning
/// of a well-formed one: more bytes may complete it.
inline bool is_utf8_prefix(const unsigned char* bytes, std::size_t length) {
    unsigned char lead = bytes[0];
    std::size_t whole;
    unsigned char low = 0x80, high = 0xBF; // the range of the second byte
    if (lead >= 0xC2 && lead <= 0xDF) {
        whole = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        whole = 3;
        if (lead == 0xE0)
            low = 0xA0; // shorter forms are overlong
        else if (lead == 0xED)
            high = 0x9F; // beyond are the surrogates
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        whole = 4;
        if (lead == 0xF0)
            low = 0x90;
        else if (lead == 0xF4)
            high = 0x8F; // beyond is past U+10FFFF
    } else {
        return false;
    }
    if (length >= whole)
        return false;
    if (length > 1 && (bytes[1] < low || bytes[1] > high))
        return false;
    for (std::size_t i = 2; i < length; ++i)
        if ((bytes[i] & 0xC0) != 0x80)
            return false;
    return true;
}

/// Encodes c into out (room for 4 bytes) and returns the length, or 0 when c
/// is a surrogate or beyond U+10FFFF.
inline std::size_t encode_utf8(wchar_t c, unsigned char* out) {
    auto value = static_cast<unsigned long>(c);
    if (value < 0x80) {
        out[0] = static_cast<unsigned char>(value);
        return 1;
    }
    if (value < 0x800) {
        out[0] = static_cast<unsigned char>(0xC0 | (value >> 6));
        out[1] = static_cast<unsigned char>(0x80 | (value & 0x3F));
        return 2;
    }
    if (value < 0x10000) {
        if (value >= 0xD800 && value <= 0xDFFF)
            return 0;
        out[0] = static_cast<unsigned char>(0xE0 | (value >> 12));
        out[1] = static_cast<unsigned char>(0x80 | ((value >> 6) & 0x3F));
        out[2] = static_cast<unsigned char>(0x80 | (value & 0x3F));
        return 3;
    }
    if (value > static_cast<unsigned long>(UTF8_LARGEST))
        return 0;
    out[0] = static_cast<unsigned char>(0xF0 | (value >> 18));
    out[1] = static_cast<unsigned char>(0x80 | ((value >> 12) & 0x3F));
    out[2] = static_cast<unsigned char>(0x80 | ((value >> 6) & 0x3F));
    out[3] = static_cast<unsigned char>(0x80 | (value & 0x3F));
    return 4;
}

/// The length of the longest prefix of bytes[0..length) made of whole
/// sequences that decode_utf8 accepts.
inline std::size_t valid_utf8_prefix(const unsigned char* bytes, std::size_t length) {
    std::size_t at = 0;
    while (at < length) {
        at += ascii_prefix(bytes + at, length - at);
        if (at == length)
            break;
        wchar_t ignored;
        std::size_t sequence = decode_utf8(bytes + at, length - at, ignored);
        if (sequence == 0)
            break;
        at += sequence;
    }
    return at;
}
