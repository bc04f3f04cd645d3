// The shipped national character sets, each checked code by code against the
// converter that the C library's iconv has for the same ISO 646 variant.
#include <gtest/gtest.h>

#include <cstdio>

#include "run_converter.h"

namespace {

struct national_set {
    const char* file;
    const char* iconv_name;
};

void PrintTo(const national_set& set, std::ostream* os) {
    *os << set.file;
}

// What iconv makes of bytes in the named set as UTF-8; false where iconv has
// no such set.
bool iconv_to_utf8(const scratch_dir& scratch, const char* set, std::string& utf8) {
    std::string command =
        std::string("iconv -f ") + set + " -t UTF-8 '" + (scratch / "codes") + "' 2>/dev/null";
    std::FILE* pipe = popen(command.c_str(), "r");
    if (!pipe)
        return false;
    char buffer[512];
    std::size_t count;
    while ((count = std::fread(buffer, 1, sizeof buffer, pipe)) > 0)
        utf8.append(buffer, count);
    return pclose(pipe) == 0;
}

class NationalCharset : public testing::TestWithParam<national_set> {};

TEST_P(NationalCharset, MatchesIconvBothWays) {
    const national_set& set = GetParam();
    scratch_dir scratch;
    std::string codes;
    for (int code = 32; code <= 126; ++code)
        codes += static_cast<char>(code);
    write_file(scratch / "codes", codes);
    std::string expected;
    if (!iconv_to_utf8(scratch, set.iconv_name, expected))
        GTEST_SKIP() << "iconv has no " << set.iconv_name << " here";

    std::string conf = std::string(VORBIX_SOURCE_DIR "/examples/charsets/") + set.file;
    run_options options;
    options.working_dir = scratch.path();
    run_result result = run_converter_process({"-f", conf, "-c", "codes", "-u", "host"}, options);
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(read_file(scratch / "host"), expected);

    result = run_converter_process({"-f", conf, "-u", "host", "-c", "back"}, options);
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(read_file(scratch / "back"), codes + std::string(128 - codes.size(), '\x1a'));

    // The alternate set reads the US codes.
    result = run_converter_process({"-a", "-f", conf, "-c", "codes", "-u", "us"}, options);
    EXPECT_EQ(read_file(scratch / "us"), codes);
}

const national_set NATIONAL_SETS[] = {
    {"iso646-de.conf", "ISO646-DE"}, {"iso646-dk.conf", "ISO646-DK"},
    {"iso646-no.conf", "ISO646-NO"}, {"iso646-se.conf", "ISO646-SE"},
    {"iso646-fr.conf", "ISO646-FR"}, {"iso646-it.conf", "ISO646-IT"},
    {"iso646-es.conf", "ISO646-ES"}, {"iso646-gb.conf", "ISO646-GB"},
};

INSTANTIATE_TEST_SUITE_P(, NationalCharset, testing::ValuesIn(NATIONAL_SETS),
                         [](const testing::TestParamInfo<national_set>& param_info) {
                             return std::string(param_info.param.iconv_name).substr(7);
                         });

} // namespace
