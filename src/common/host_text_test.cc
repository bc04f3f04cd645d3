// Host text decoding and encoding over the block streams: sequences cut by a
// block boundary, invalid and truncated input, unencodable characters.
#include "common/host_text.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <clocale>
#include <cstdio>
#include <fcntl.h>
#include <string>
#include <unistd.h>

namespace {

class HostText : public testing::Test {
  protected:
    void SetUp() override { ASSERT_TRUE(std::setlocale(LC_CTYPE, "C.UTF-8")); }
    void TearDown() override { std::setlocale(LC_CTYPE, "C"); }

    // Decodes bytes through a byte_reader on a temporary file.
    std::wstring decode(const std::string& bytes, byte_reader& source) {
        std::FILE* file = std::tmpfile();
        std::fwrite(bytes.data(), 1, bytes.size(), file);
        std::fflush(file);
        std::rewind(file);
        source.attach(fileno(file));
        host_text_reader input(source);
        std::wstring text;
        wchar_t c;
        while (input.next(c))
            text += c;
        std::fclose(file);
        return text;
    }

    std::string encode(const std::wstring& text, byte_writer& target) {
        std::FILE* file = std::tmpfile();
        target.attach(fileno(file));
        host_text_writer output(target);
        for (wchar_t c : text)
            output.put(c);
        target.flush();
        std::rewind(file);
        std::string bytes;
        int byte;
        while ((byte = std::fgetc(file)) != EOF)
            bytes += static_cast<char>(byte);
        std::fclose(file);
        return bytes;
    }

    static byte_reader reader;
    static byte_writer writer;
};

byte_reader HostText::reader;
byte_writer HostText::writer;

TEST_F(HostText, SequencesAcrossBlockBoundaries) {
    // Four-, three- and two-byte sequences each cut by the end of a block.
    for (std::size_t before :
         {STREAM_BUFFER_SIZE - 1, STREAM_BUFFER_SIZE - 2, STREAM_BUFFER_SIZE - 3}) {
        std::string bytes(before, 'a');
        bytes += "\xf0\x9f\x98\x80\xe2\x82\xac\xc3\xa9z";
        std::wstring text = decode(bytes, reader);
        EXPECT_FALSE(reader.failed());
        EXPECT_EQ(text, std::wstring(before, L'a') + L"\U0001F600\u20ac\u00e9z");
    }
}

struct bad_input_case {
    const char* name;
    std::string bytes;
    std::wstring decoded;
};

PRINTS_AS_ITS_NAME(bad_input_case)

class HostTextBadInput : public HostText, public testing::WithParamInterface<bad_input_case> {};

TEST_P(HostTextBadInput, EndsWithIllegalSequenceError) {
    std::wstring text = decode(GetParam().bytes, reader);
    EXPECT_TRUE(reader.failed());
    EXPECT_EQ(reader.error_number(), EILSEQ);
    EXPECT_EQ(text, GetParam().decoded);
}

const bad_input_case BAD_INPUTS[] = {
    {"StrayContinuation",
     "ab\x80"
     "cd",
     L"ab"},
    {"TruncatedAtEnd", "ab\xe2\x82", L"ab"},
    {"TruncatedByNextLead", "ab\xe2\x82\xc3\xa9", L"ab"},
    {"Overlong", "\xc0\xaf", L""},
    {"Surrogate", "x\xed\xa0\x80", L"x"},
    {"TruncatedAtBlockEnd", std::string(STREAM_BUFFER_SIZE - 1, 'a') + "\xf0\x9f\x98",
     std::wstring(STREAM_BUFFER_SIZE - 1, L'a')},
};

INSTANTIATE_TEST_SUITE_P(, HostTextBadInput, testing::ValuesIn(BAD_INPUTS),
                         testing::PrintToStringParamName());

// What RFC 3629 rules out is never a character, on any C library: the fast
// scan stops before it and the reader fails on it, whether or not the end of
// a block cuts it.
TEST_F(HostText, Rfc3629RejectionsEverywhere) {
    const std::string rejected[] = {
        "\xf8\x88\x80\x80\x80",     // a five-byte form
        "\xfc\x84\x80\x80\x80\x80", // a six-byte form
        "\xf4\x90\x80\x80",         // U+110000
        "\xf7\xbf\xbf\xbf",         // U+1FFFFF
        "\xed\xa0\x80",             // the first surrogate
        "\xed\xbf\xbf",             // the last surrogate
        "\xc0\xaf",                 // overlong forms of '/'
        "\xe0\x80\xaf",
        "\xf0\x80\x80\xaf",
        "\xc1\xbf",         // overlong U+007F
        "\xe0\x9f\xbf",     // overlong U+07FF
        "\xf0\x8f\xbf\xbf", // overlong U+FFFF
    };
    for (const std::string& sequence : rejected) {
        for (std::size_t before : {std::size_t{3}, STREAM_BUFFER_SIZE - 1, STREAM_BUFFER_SIZE - 2,
                                   STREAM_BUFFER_SIZE - 3}) {
            SCOPED_TRACE(testing::Message()
                         << "at " << before << ": " << testing::PrintToString(sequence));
            std::string bytes = std::string(before, 'a') + sequence + "z";
            EXPECT_EQ(valid_utf8_prefix(reinterpret_cast<const unsigned char*>(bytes.data()),
                                        bytes.size()),
                      before);
            std::wstring text = decode(bytes, reader);
            EXPECT_TRUE(reader.failed());
            EXPECT_EQ(reader.error_number(), EILSEQ);
            EXPECT_EQ(text, std::wstring(before, L'a'));
        }
    }
}

// Writing: what UTF-8 cannot hold is an error, never five or six bytes.
TEST_F(HostText, Rfc3629LimitsWriting) {
    for (wchar_t c : {static_cast<wchar_t>(0x110000), static_cast<wchar_t>(0x7FFFFFFF),
                      static_cast<wchar_t>(0xD800), static_cast<wchar_t>(0xDFFF)}) {
        std::string bytes = encode(std::wstring(L"a") + c + L"b", writer);
        EXPECT_EQ(bytes, "ab") << std::hex << static_cast<unsigned long>(c);
        EXPECT_TRUE(writer.failed());
        EXPECT_EQ(writer.error_number(), EILSEQ);
    }
}

TEST_F(HostText, NulCharacterIsOneByte) {
    std::wstring text = decode(std::string("a\0b", 3), reader);
    EXPECT_FALSE(reader.failed());
    EXPECT_EQ(text, std::wstring(L"a\0b", 3));
}

TEST_F(HostText, UnencodableCharacterIsDroppedAndWritingGoesOn) {
    std::setlocale(LC_CTYPE, "C");
    std::string bytes = encode(L"a\u00e9b\u2013c", writer);
    EXPECT_EQ(bytes, "abc");
    EXPECT_TRUE(writer.failed());
    EXPECT_EQ(writer.error_number(), EILSEQ);
}

TEST_F(HostText, EncodesInTheLocale) {
    std::string bytes = encode(L"\u00e9\u20ac\U0001F600", writer);
    EXPECT_FALSE(writer.failed());
    EXPECT_EQ(bytes, "\xc3\xa9\xe2\x82\xac\xf0\x9f\x98\x80");
}

TEST(ByteWriter, RefusedBytesAreNotCounted) {
    static byte_writer full;
    int fd = open("/dev/full", O_WRONLY);
    if (fd < 0)
        GTEST_SKIP() << "this host has no /dev/full";
    full.attach(fd);
    for (int i = 0; i < 1000; ++i)
        full.put('x');
    full.flush();
    EXPECT_TRUE(full.failed());
    EXPECT_EQ(full.error_number(), ENOSPC);
    EXPECT_EQ(full.bytes_written(), 0u);
    close(fd);
}

// A reader asked for more while its buffer is full of unconsumed bytes must
// not take that for the end of the input.
TEST(ByteReader, FullBufferIsNotTheEnd) {
    static byte_reader source;
    std::FILE* file = std::tmpfile();
    std::string bytes(STREAM_BUFFER_SIZE + 1000, 'x');
    std::fwrite(bytes.data(), 1, bytes.size(), file);
    std::fflush(file);
    std::rewind(file);
    source.attach(fileno(file));
    while (source.available() < STREAM_BUFFER_SIZE)
        ASSERT_TRUE(source.fill());
    EXPECT_TRUE(source.fill());
    std::size_t total = 0;
    do {
        total += source.available();
        source.consume(source.available());
    } while (source.fill());
    EXPECT_FALSE(source.failed());
    EXPECT_EQ(total, bytes.size());
    std::fclose(file);
}

} // namespace
