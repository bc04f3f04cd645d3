// The writer's buffer: what is written comes out whole and in order at every
// size around the buffer's, a write that fails is reported with its bytes not
// counted, and a file compared as it is written is made only at the first
// difference.
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

TEST(ByteWriter, ReportsAFailedWriteWithoutItsBytes) {
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

// A look at the start with fill_to leaves every byte to the reader's next
// fill(), whether the look stopped short of the end, at it, or past a
// buffer's worth.
TEST(ByteReader, WhatFillToReadIsStillHandedOver) {
    for (std::size_t size : {std::size_t{0}, std::size_t{10}, STREAM_BUFFER_SIZE + 5}) {
        for (std::size_t look : {std::size_t{5}, std::size_t{10}, STREAM_BUFFER_SIZE}) {
            SCOPED_TRACE(std::to_string(size) + " bytes, a look at " + std::to_string(look));
            FILE* file = std::tmpfile();
            std::string text = pattern(size);
            std::fwrite(text.data(), 1, text.size(), file);
            std::fflush(file);
            std::rewind(file);
            static byte_reader reader;
            reader.attach(fileno(file));
            reader.fill_to(look);
            EXPECT_EQ(reader.at_end(), size < look);
            std::string back;
            while (reader.fill()) {
                back.append(reinterpret_cast<const char*>(reader.data()), reader.available());
                reader.consume(reader.available());
            }
            EXPECT_EQ(back, text);
            std::fclose(file);
        }
    }
}

struct deferred_case {
    const char* name;
    std::size_t size;    ///< of the text written
    std::string compared; ///< the compared file's content, from the text
    bool opened;
};

// Compared with an existing file as it is written: nothing is made while the
// text matches; at the first difference, wherever it falls, the file is made
// and holds the whole text.
TEST(ByteWriter, MakesTheFileAtTheFirstDifference) {
    const std::size_t W = WRITE_BUFFER_SIZE;
    const std::string text = pattern(3 * W + 100);
    auto changed_at = [&](std::size_t at) {
        std::string other = text;
        other[at] = '#';
        return other;
    };
    const deferred_case cases[] = {
        {"Same", text.size(), text, false},
        {"FirstByte", text.size(), changed_at(0), true},
        {"InTheThirdBuffer", text.size(), changed_at(2 * W + 5), true},
        {"LastByte", text.size(), changed_at(text.size() - 1), true},
        {"ComparedIsLonger", text.size(), text + "more", true},
        {"ComparedIsShorter", text.size(), text.substr(0, W + 3), true},
        {"ComparedIsEmpty", text.size(), "", true},
    };
    for (const deferred_case& c : cases) {
        SCOPED_TRACE(c.name);
        FILE* compared = std::tmpfile();
        ASSERT_EQ(std::fwrite(c.compared.data(), 1, c.compared.size(), compared), c.compared.size());
        std::fflush(compared);
        std::rewind(compared);
        FILE* made = nullptr;
        writer.attach(-1);
        writer.compare_with(fileno(compared));
        writer.open_at_first_difference([&] {
            made = std::tmpfile();
            return fileno(made);
        });
        write_through_each_way(text.substr(0, c.size));
        writer.finish_comparison();
        EXPECT_FALSE(writer.failed());
        EXPECT_EQ(writer.differs(), c.opened);
        ASSERT_EQ(made != nullptr, c.opened);
        if (made) {
            std::string back(text.size() + 8, '\0');
            EXPECT_EQ(pread(fileno(made), &back[0], back.size(), 0), static_cast<ssize_t>(c.size));
            EXPECT_EQ(back.substr(0, c.size), text.substr(0, c.size));
            std::fclose(made);
        }
        std::fclose(compared);
    }
}

TEST(ByteWriter, AFailedDeferredOpenWritesNothing) {
    FILE* compared = std::tmpfile();
    writer.attach(-1);
    writer.compare_with(fileno(compared));
    writer.open_at_first_difference([] { return -1; });
    write_through_each_way(pattern(100));
    writer.finish_comparison();
    EXPECT_TRUE(writer.open_failed());
    EXPECT_FALSE(writer.failed());
    std::fclose(compared);
}

} // namespace
