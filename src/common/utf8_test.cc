// The UTF-8 fast path against the C library: every sequence it accepts must
// decode as mbrtowc decodes it, every character it encodes must come out as
// wcrtomb writes it; the plain text scanners against their one-byte rules.
#include "common/utf8.h"

#include <gtest/gtest.h>

#include <climits>
#include <clocale>
#include <cstring>
#include <random>
#include <vector>

namespace {

class Utf8 : public testing::Test {
  protected:
    void SetUp() override { ASSERT_TRUE(std::setlocale(LC_CTYPE, "C.UTF-8")); }
    void TearDown() override { std::setlocale(LC_CTYPE, "C"); }

    // Checks one sequence; returns whether the fast path decoded it.
    static bool agrees(const unsigned char* bytes, std::size_t length) {
        wchar_t fast = 0;
        std::size_t fast_length = decode_utf8(bytes, length, fast);
        if (fast_length == 0)
            return false;
        wchar_t slow = 0;
        std::mbstate_t state{};
        std::size_t slow_length =
            std::mbrtowc(&slow, reinterpret_cast<const char*>(bytes), length, &state);
        EXPECT_EQ(fast_length, slow_length == 0 ? 1 : slow_length) << std::hex << int(bytes[0]);
        EXPECT_EQ(fast, slow) << std::hex << int(bytes[0]);
        return true;
    }
};

TEST_F(Utf8, DecodingAgreesOnEveryOneAndTwoByteSequence) {
    std::size_t accepted = 0;
    for (int first = 0; first < 256; ++first) {
        for (int second = 0; second < 256; ++second) {
            unsigned char bytes[2] = {static_cast<unsigned char>(first),
                                      static_cast<unsigned char>(second)};
            accepted += agrees(bytes, 2);
            agrees(bytes, 1);
        }
    }
    EXPECT_EQ(accepted, 128u * 256 + 30u * 64);
}

TEST_F(Utf8, DecodingAgreesOnEveryThreeByteSequence) {
    std::size_t accepted = 0;
    for (int first = 0xC0; first < 256; ++first)
        for (int second = 0; second < 256; ++second)
            for (int third = 0; third < 256; ++third) {
                unsigned char bytes[3] = {static_cast<unsigned char>(first),
                                          static_cast<unsigned char>(second),
                                          static_cast<unsigned char>(third)};
                if (first >= 0xE0)
                    accepted += agrees(bytes, 3);
                else if (third == 0)
                    agrees(bytes, 2);
            }
    // Three-byte characters: U+0800 to U+FFFF without the 2048 surrogates.
    EXPECT_EQ(accepted, 0x10000u - 0x800 - 0x800);
}

TEST_F(Utf8, DecodingAgreesOnFourByteSequenceClasses) {
    // Every lead byte from 0xF0 with every second byte, and third and fourth
    // bytes from each class boundary; then all continuations of 0xF0-0xF4.
    const int edges[] = {0x00, 0x41, 0x7F, 0x80, 0x81, 0x8F, 0x90,
                         0x9F, 0xA0, 0xBF, 0xC0, 0xF4, 0xFF};
    for (int first = 0xF0; first < 256; ++first)
        for (int second = 0; second < 256; ++second)
            for (int third : edges)
                for (int fourth : edges) {
                    unsigned char bytes[4] = {
                        static_cast<unsigned char>(first), static_cast<unsigned char>(second),
                        static_cast<unsigned char>(third), static_cast<unsigned char>(fourth)};
                    agrees(bytes, 4);
                    agrees(bytes, 3);
                }
    std::size_t accepted = 0;
    for (int first = 0xF0; first <= 0xF4; ++first)
        for (int second = 0x80; second <= 0xBF; ++second)
            for (int third = 0x80; third <= 0xBF; ++third)
                for (int fourth = 0x80; fourth <= 0xBF; ++fourth) {
                    unsigned char bytes[4] = {
                        static_cast<unsigned char>(first), static_cast<unsigned char>(second),
                        static_cast<unsigned char>(third), static_cast<unsigned char>(fourth)};
                    accepted += agrees(bytes, 4);
                }
    EXPECT_EQ(accepted, 0x110000u - 0x10000);
}

TEST_F(Utf8, EncodingAgreesOnEveryCharacter) {
    for (unsigned long value = 0; value <= 0x110000; ++value) {
        auto c = static_cast<wchar_t>(value);
        unsigned char fast[4];
        std::size_t fast_length = encode_utf8(c, fast);
        bool declined = (value >= 0xD800 && value <= 0xDFFF) || value > 0x10FFFF;
        ASSERT_EQ(fast_length == 0, declined) << std::hex << value;
        if (declined)
            continue;
        char slow[MB_LEN_MAX];
        std::mbstate_t state{};
        std::size_t slow_length = std::wcrtomb(slow, c, &state);
        ASSERT_EQ(fast_length, slow_length) << std::hex << value;
        ASSERT_EQ(std::memcmp(fast, slow, fast_length), 0) << std::hex << value;
    }
}

TEST(PlainText, ScannersAgreeWithTheByteRules) {
    std::mt19937 random(7);
    for (int byte = 0; byte < 256; ++byte) {
        for (std::size_t length : {1u, 7u, 15u, 16u, 17u, 40u}) {
            for (std::size_t position = 0; position < length; ++position) {
                std::vector<unsigned char> text(length);
                for (auto& c : text)
                    c = static_cast<unsigned char>(0x20 + random() % 0x5F);
                text[position] = static_cast<unsigned char>(byte);
                std::vector<unsigned char> out(length, 0);
                std::size_t plain = copy_plain_text(text.data(), length, out.data());
                std::size_t expected_plain = 0;
                while (expected_plain < length && is_plain_text_byte(text[expected_plain]))
                    ++expected_plain;
                ASSERT_EQ(plain, expected_plain) << byte << " at " << position << " of " << length;
                ASSERT_EQ(std::memcmp(out.data(), text.data(), plain), 0);
                std::size_t ascii = ascii_prefix(text.data(), length);
                ASSERT_EQ(ascii, byte < 0x80 ? length : position);
            }
        }
    }
}

} // namespace
