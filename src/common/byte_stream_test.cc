// The writer's two buffers and its background thread: what is written comes
// out whole and in order at every size around the buffer's, and a write that
// fails on the thread is reported at the flush, its bytes not counted.
#include "common/byte_stream.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <string>
#include <unistd.h>

namespace {

byte_writer writer;

std::string pattern(std::size_t size) {
    std::string text(size, '\0');
    for (std::size_t i = 0; i < size; ++i)
        text[i] = static_cast<char>('a' + i * 7 % 26);
    return text;
}

// Writes text through the three ways in: put, write and reserve.
void write_through_each_way(const std::string& text) {
    const auto* bytes = reinterpret_cast<const unsigned char*>(text.data());
    std::size_t at = 0;
    for (int way = 0; at < text.size(); way = (way + 1) % 3) {
        std::size_t part = std::min<std::size_t>(text.size() - at, 1 + at % 5000);
        if (way == 0) {
            for (std::size_t i = 0; i < part; ++i)
                writer.put(bytes[at + i]);
        } else if (way == 1) {
            writer.write(bytes + at, part);
        } else {
            unsigned char* room = writer.reserve(part);
            std::copy(bytes + at, bytes + at + part, room);
            writer.commit(room + part);
        }
        at += part;
    }
}

TEST(ByteWriter, WritesEverySizeWholeAndInOrder) {
    const std::size_t W = WRITE_BUFFER_SIZE;
    for (std::size_t size : {std::size_t{0}, std::size_t{1}, W - 1, W, W + 1, 3 * W + 17,
                             16 * W + 5}) {
        SCOPED_TRACE(size);
        FILE* file = std::tmpfile();
        writer.attach(fileno(file));
        std::string text = pattern(size);
        write_through_each_way(text);
        writer.flush();
        EXPECT_FALSE(writer.failed());
        EXPECT_EQ(writer.bytes_written(), size);
        std::string back(size, '\0');
        EXPECT_EQ(pread(fileno(file), &back[0], size, 0), static_cast<ssize_t>(size));
        EXPECT_EQ(back, text);
        std::fclose(file);
    }
}

TEST(ByteWriter, ReportsAFailedBackgroundWriteAtTheFlush) {
    int read_only = open("/dev/null", O_RDONLY);
    ASSERT_GE(read_only, 0);
    writer.attach(read_only);
    write_through_each_way(pattern(3 * WRITE_BUFFER_SIZE + 9));
    writer.flush();
    EXPECT_TRUE(writer.failed());
    EXPECT_EQ(writer.error_number(), EBADF);
    EXPECT_EQ(writer.bytes_written(), 0u);
    close(read_only);
}

} // namespace
