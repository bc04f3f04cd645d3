// The places where a block of the vector layer can go wrong, at every level
// this build and processor have: a CR that ends a block with its LF in the
// next, a code from 0x80 up or a ^Z at every offset of a block, and texts
// shorter than a block. The conversion fuzzer holds the rest.
#include "convert/engine.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <clocale>
#include <cstdio>
#include <string>
#include <unistd.h>
#include <vector>

#include "charset/charset_tables.h"
#include "common/byte_classes.h"
#include "common/diagnostic.h"
#include "convert/run_state.h"

namespace {

// A file holding text, open at its start.
int file_holding(const std::string& text) {
    FILE* file = std::tmpfile();
    std::fwrite(text.data(), 1, text.size(), file);
    std::fflush(file);
    int fd = dup(fileno(file));
    std::fclose(file);
    lseek(fd, 0, SEEK_SET);
    return fd;
}

std::string content_of(int fd) {
    std::string text;
    lseek(fd, 0, SEEK_SET);
    char buffer[4096];
    for (ssize_t count; (count = read(fd, buffer, sizeof buffer)) > 0;)
        text.append(buffer, static_cast<std::size_t>(count));
    return text;
}

// Converts text from host or CP/M format to the other through a built-in
// table, latin1 unless another is given; the target's bytes, and the
// messages in messages if it is given.
std::string convert(const std::string& text, bool from_host, builtin_charset_column charset = CHARSET_LATIN1,
                    std::string* messages = nullptr) {
    reset_run_state_for_testing();
    reset_charsets_for_testing();
    fill_charset_table(charset_table, charset);
    fill_charset_table(alt_charset_table, charset);
    std::setlocale(LC_CTYPE, "C.UTF-8");
    source_is_host = from_host;
    target_is_host = !from_host;
    int source = file_holding(text);
    int target = file_holding("");
    source_stream.attach(source);
    target_stream.attach(target);
    testing::internal::CaptureStderr();
    run_conversion("source", "target");
    std::string printed = testing::internal::GetCapturedStderr();
    if (messages)
        *messages = printed;
    std::string converted = content_of(target);
    close(source);
    close(target);
    return converted;
}

std::string records(std::string text) {
    return text + std::string((128 - text.size() % 128) % 128, '\x1a');
}

const std::string E_ACUTE = "\xc3\xa9";

// The engine takes text 1,024 bytes at a time: the offsets tried are every
// one of the first two blocks and those around the ends of the first two
// such groups.
constexpr std::size_t GROUP = 1024;
std::vector<std::size_t> offsets_to_try() {
    std::vector<std::size_t> offsets;
    for (std::size_t at = 0; at < 2 * BYTE_BLOCK_SIZE + 2; ++at)
        offsets.push_back(at);
    for (std::size_t group_end : {GROUP, 2 * GROUP})
        for (std::size_t at = group_end - 3; at <= group_end + 2; ++at)
            offsets.push_back(at);
    return offsets;
}
constexpr std::size_t TEXT_LENGTH = 2 * GROUP + 80;

class BlockBoundaries : public testing::TestWithParam<vector_level> {
  protected:
    void SetUp() override {
        if (!use_vector_level(GetParam()))
            GTEST_SKIP() << "this build or processor has no such vector level";
    }
    void TearDown() override { use_vector_level(chosen_before_); }

    vector_level chosen_before_ = current_vector_level();
};

TEST_P(BlockBoundaries, CrAtTheEndOfABlock) {
    const std::size_t B = BYTE_BLOCK_SIZE;
    for (std::size_t at : {B - 2, B - 1, B, 2 * B - 1, 2 * B}) {
        SCOPED_TRACE(at);
        std::string before(at, 'x'), after(B + 16, 'y');
        EXPECT_EQ(convert(before + "\r\n" + after + "\x1a", false), before + "\n" + after);
        EXPECT_EQ(convert(before + "\rz" + after, false), before + "\rz" + after);
        EXPECT_EQ(convert(before + "\r", false), before + "\r");
    }
}

TEST_P(BlockBoundaries, HighCodeAndLineEndAtEveryOffset) {
    for (std::size_t at : offsets_to_try()) {
        SCOPED_TRACE(at);
        std::string text(TEXT_LENGTH, 'a'), host(TEXT_LENGTH, 'a');
        text[at] = '\xe9';
        host.replace(at, 1, E_ACUTE);
        EXPECT_EQ(convert(text, false), host);
        EXPECT_EQ(convert(host, true), records(text));
        std::string lines(TEXT_LENGTH, 'b');
        lines.replace(at, 1, "\r\n");
        std::string host_lines(TEXT_LENGTH, 'b');
        host_lines.replace(at, 1, "\n");
        EXPECT_EQ(convert(lines, false), host_lines);
        EXPECT_EQ(convert(host_lines, true), records(lines));
    }
}

TEST_P(BlockBoundaries, EndMarkAtEveryOffset) {
    for (std::size_t at : offsets_to_try()) {
        SCOPED_TRACE(at);
        std::string text(TEXT_LENGTH, 'c');
        text[at] = '\x1a';
        EXPECT_EQ(convert(text, false), std::string(at, 'c'));
        EXPECT_EQ(convert(text, true), records(text));
    }
}

TEST_P(BlockBoundaries, TextsShorterThanABlock) {
    for (std::size_t length = 0; length <= BYTE_BLOCK_SIZE + 1; ++length) {
        SCOPED_TRACE(length);
        std::string text(length, 'd');
        EXPECT_EQ(convert(text + "\xe9\r\n", false), text + E_ACUTE + "\n");
        EXPECT_EQ(convert(text + E_ACUTE + "\n", true), records(text + "\xe9\r\n"));
    }
}

// Every count of codes from 0x80 up in a block, each line also ending in
// CR LF: the blocks the sparse loop takes, with more events than it notes
// at once, and those the dense loop takes.
TEST_P(BlockBoundaries, EveryCountOfHighCodesInABlock) {
    for (std::size_t count = 0; count <= BYTE_BLOCK_SIZE; ++count) {
        SCOPED_TRACE(count);
        std::string text, host;
        while (text.size() < 3 * BYTE_BLOCK_SIZE) {
            text += std::string(count, '\xe9') + "ab\r\n";
            for (std::size_t i = 0; i < count; ++i)
                host += E_ACUTE;
            host += "ab\n";
        }
        EXPECT_EQ(convert(text, false), host);
        EXPECT_EQ(convert(host, true), records(text));
    }
}

// The place of the first character without a translation, found after the
// block loops have counted the lines before it: a code from 0x80 up, or a
// character above U+007F, under the ascii table.
TEST_P(BlockBoundaries, PlaceOfAnUntranslatableCharacterAtEveryOffset) {
    for (std::size_t at : offsets_to_try()) {
        SCOPED_TRACE(at);
        std::string text, host;
        while (text.size() < TEXT_LENGTH)
            text += "abcdefgh\r\n";
        while (host.size() < TEXT_LENGTH)
            host += "abcdefgh\n";
        text[at] = '\x85';
        host.replace(at, 1, E_ACUTE);
        for (const std::string* source : {&text, &host}) {
            std::size_t line_start = source->rfind('\n', at - 1);
            line_start = at == 0 || line_start == std::string::npos ? 0 : line_start + 1;
            std::size_t lines = static_cast<std::size_t>(
                std::count(source->begin(), source->begin() + static_cast<long>(at), '\n'));
            std::string place = "source:" + std::to_string(lines + 1) + ":" +
                                std::to_string(at - line_start + 1) +
                                (source == &text ? ": code 0x85" : ": U+00E9");
            std::string messages;
            convert(*source, source == &host, CHARSET_ASCII, &messages);
            EXPECT_NE(messages.find(place), std::string::npos) << messages;
        }
    }
}

std::string level_name(const testing::TestParamInfo<vector_level>& level) {
    const char* const NAMES[] = {"Plain", "Sse2", "Avx2", "Neon"};
    return NAMES[static_cast<int>(level.param)];
}

INSTANTIATE_TEST_SUITE_P(, BlockBoundaries,
                         testing::Values(vector_level::PLAIN, vector_level::SSE2,
                                         vector_level::AVX2, vector_level::NEON),
                         level_name);

} // namespace
