// The configuration language's character classes: the same verdict as
// glibc's C.UTF-8 for every code point, and the cases where C libraries
// disagree stated, so that they hold on every host.
#include "config/character_classes.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cwctype>

namespace {

TEST(CharacterClasses, WhereCLibrariesDisagree) {
    // clang-format off
    const struct { wchar_t c; bool blank, letter; wchar_t lower; } cases[] = {
        {L'\t',    true,  false, L'\t'},
        {0x00A0,   false, false, 0x00A0}, // no-break space
        {0x1680,   true,  false, 0x1680}, // ogham space mark: not blank on musl
        {0x2007,   false, false, 0x2007}, // figure space, no-break
        {0x3000,   true,  false, 0x3000}, // ideographic space: not blank on musl
        {0x0345,   false, true,  0x0345}, // combining ypogegrammeni: Alphabetic
        {0x0660,   false, true,  0x0660}, // Arabic-Indic zero: a letter, not a digit
        {L'0',     false, false, L'0'},
        {0x0130,   false, true,  L'i'},   // capital I with dot: simple mapping
        {0x01C5,   false, true,  0x01C6}, // title case Dz
        {0x10400,  false, true,  0x10428}, // Deseret
        {0x1E921,  false, true,  0x1E943}, // Adlam, the last range
        {0x10FFFF, false, false, 0x10FFFF},
    };
    // clang-format on
    for (const auto& c : cases) {
        SCOPED_TRACE(static_cast<unsigned long>(c.c));
        EXPECT_EQ(is_blank_character(c.c), c.blank);
        EXPECT_EQ(is_letter_character(c.c), c.letter);
        EXPECT_EQ(lower_case_character(c.c), c.lower);
    }
    EXPECT_TRUE(is_digit_character(L'7'));
    EXPECT_TRUE(is_letter_or_digit_character(L'7'));
}

// The reference: nothing that glibc accepted before the tables reads
// differently now.
TEST(CharacterClasses, SameAsGlibcForEveryCodePoint) {
#ifndef __GLIBC__
    GTEST_SKIP() << "the tables follow glibc's C.UTF-8; this C library has classes of its own";
#else
    if (!std::setlocale(LC_CTYPE, "C.UTF-8"))
        GTEST_SKIP() << "no C.UTF-8 locale here";
    std::wctype_t blank = std::wctype("blank");
    unsigned differences = 0;
    for (wchar_t c = 0; c <= 0x10FFFF && differences < 20; ++c) {
        bool same = is_blank_character(c) == (std::iswctype(c, blank) != 0) &&
                    is_letter_character(c) == (std::iswalpha(c) != 0) &&
                    is_letter_or_digit_character(c) == (std::iswalnum(c) != 0) &&
                    lower_case_character(c) == static_cast<wchar_t>(std::towlower(c));
        if (!same) {
            ++differences;
            ADD_FAILURE() << "U+" << std::hex << static_cast<unsigned long>(c);
        }
    }
    EXPECT_STREQ(character_class_version(), "14.0.0");
#endif
}

} // namespace
