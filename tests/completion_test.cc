// The bash completion as a user meets it: the file is sourced by bash and
// asked what Tab offers after the words typed so far.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <sys/stat.h>

#include "run_converter.h"

namespace {

struct completion_case {
    std::string words; ///< the command line so far; the last word is being completed
    std::string offered;
};

// What the completion function offers, one word a line, sorted; or the
// errors of a file that does not load.
std::string complete(const scratch_dir& scratch, const std::string& words) {
    std::string script = scratch / "ask.bash";
    write_file(script, "source '" VORBIX_SOURCE_DIR "/completion/vorbix-convert' || exit 1\n"
                       "compopt() { :; }\n"
                       "cd '" +
                           scratch.path() +
                           "/files'\n"
                           "COMP_WORDS=(" +
                           words +
                           ")\n"
                           "COMP_CWORD=$((${#COMP_WORDS[@]} - 1))\n"
                           "_vorbix_convert\n"
                           "printf '%s\\n' \"${COMPREPLY[@]}\" | sort\n");
    std::string command = "bash --norc --noprofile '" + script + "' 2>&1";
    std::FILE* pipe = popen(command.c_str(), "r");
    std::string output;
    char buffer[256];
    while (std::fgets(buffer, sizeof buffer, pipe))
        output += buffer;
    pclose(pipe);
    return output;
}

TEST(Completion, OffersOptionsAndFileNames) {
    if (std::system("bash -c true >/dev/null 2>&1") != 0)
        GTEST_SKIP() << "bash is not installed";
    scratch_dir scratch;
    ASSERT_EQ(mkdir((scratch / "files").c_str(), 0777), 0);
    write_file(scratch / "files/a.cpm", "");
    write_file(scratch / "files/b.txt", "");
    const completion_case cases[] = {
        {"vorbix-convert -", "--binary\n--check\n--crlf\n--help\n--keep-date\n--quiet\n--update\n--verbose\n--version\n-a\n-c\n-e\n-f\n-h\n-i\n-u\n-z\n"},
        {"vorbix-convert --", "--binary\n--check\n--crlf\n--help\n--keep-date\n--quiet\n--update\n--verbose\n--version\n"},
        {"vorbix-convert -a --", "--binary\n--check\n--crlf\n--keep-date\n--quiet\n--update\n--verbose\n"},
        {"vorbix-convert -c ''", "a.cpm\nb.txt\n"},
        {"vorbix-convert -f a", "a.cpm\n"},
        {"vorbix-convert -c a.cpm -u ''", "-\na.cpm\nb.txt\n"},
        {"vorbix-convert -c a.cpm -u b", "b.txt\n"},
    };
    for (const completion_case& c : cases)
        EXPECT_EQ(complete(scratch, c.words), c.offered) << c.words;
}

} // namespace
