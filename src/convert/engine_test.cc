// The places where a block of the vector layer can go wrong, at every level
// this build and processor have: a CR that ends a block with its LF in the
// next, a code from 0x80 up or a ^Z at every offset of a block, and texts
// shorter than a block. The conversion fuzzer holds the rest.
#include "convert/engine.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cstdio>
#include <string>
#include <unistd.h>

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

// Converts text from host or CP/M format to the other through the latin1
// table; the target's bytes.
std::string convert(const std::string& text, bool from_host) {
    reset_run_state_for_testing();
    reset_charsets_for_testing();
    fill_charset_table(charset_table, CHARSET_LATIN1);
    fill_charset_table(alt_charset_table, CHARSET_LATIN1);
    std::setlocale(LC_CTYPE, "C.UTF-8");
    source_is_host = from_host;
    target_is_host = !from_host;
    int source = file_holding(text);
    int target = file_holding("");
    source_stream.attach(source);
    target_stream.attach(target);
    testing::internal::CaptureStderr();
    run_conversion("source", "target");
    testing::internal::GetCapturedStderr();
    std::string converted = content_of(target);
    close(source);
    close(target);
    return converted;
}

std::string records(std::string text) {
    return text + std::string((128 - text.size() % 128) % 128, '\x1a');
}

const std::string E_ACUTE = "\xc3\xa9";

// Long enough for every offset of two blocks and the two bytes after them.
constexpr std::size_t TEXT_LENGTH = 2 * BYTE_BLOCK_SIZE + 16;

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
    for (std::size_t at = 0; at < 2 * BYTE_BLOCK_SIZE + 2; ++at) {
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
    for (std::size_t at = 0; at < 2 * BYTE_BLOCK_SIZE + 2; ++at) {
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

std::string level_name(const testing::TestParamInfo<vector_level>& level) {
    const char* const NAMES[] = {"Plain", "Sse2", "Avx2", "Neon"};
    return NAMES[static_cast<int>(level.param)];
}

INSTANTIATE_TEST_SUITE_P(, BlockBoundaries,
                         testing::Values(vector_level::PLAIN, vector_level::SSE2,
                                         vector_level::AVX2, vector_level::NEON),
                         level_name);

} // namespace
