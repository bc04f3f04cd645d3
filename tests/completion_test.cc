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
                       "HOME='" + scratch.path() + "'\n"
                       "compopt() { :; }\n"
                       "cd '" +
                           scratch.path() +
                           "/files'\n"
                           "COMP_WORDS=(" +
                           words +
                           ")\n"
                           "COMP_CWORD=$((${#COMP_WORDS[@]} - 1))\n"
                           "_vorbix_convert\n"
                           "printf '%s\\n' \"${COMPREPLY[@]}\" | LC_ALL=C sort\n");
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
    ASSERT_EQ(mkdir((scratch / "drive-a").c_str(), 0777), 0);
    write_file(scratch / "drive-a/README.TXT", "");
    write_file(scratch / "drive-a/PIP.COM", "");
    write_file(scratch / "other.conf", "drive b = readonly, \"" + scratch / "drive-a\"\n");
    // Found as $HOME's, since the files folder has none.
    write_file(scratch / ".vorbix.conf", "default drive = c\n"
                                               "drive A = \"../drive-a\"\n");
    const completion_case cases[] = {
        {"vorbix-convert -", "--binary\n--charset\n--charsets\n--check\n--crlf\n--help\n--keep-date\n--quiet\n--update\n--verbose\n--version\n-a\n-c\n-e\n-f\n-h\n-i\n-u\n-z\n"},
        {"vorbix-convert -a --", "--binary\n--charset\n--check\n--crlf\n--keep-date\n--quiet\n--update\n--verbose\n"},
        {"vorbix-convert -c ''", "a.cpm\na:\nb.txt\n"},
        {"vorbix-convert -f a", "a.cpm\n"},
        {"vorbix-convert -c a.cpm -u ''", "-\na.cpm\na:\nb.txt\n"},
        {"vorbix-convert -c a.cpm -u b", "b.txt\n"},
        // A drive's files through its letter, in the case typed.
        {"vorbix-convert -c a:", "a:PIP.COM\na:README.TXT\n"},
        {"vorbix-convert -c A:R", "A:README.TXT\n"},
        // As bash splits it at the colon: only the last piece is replaced.
        {"vorbix-convert -c a : R", "README.TXT\n"},
        // The drives of the -f file, not of the one in the folder.
        {"vorbix-convert -f ../other.conf -u x -c ''", "a.cpm\nb.txt\nb:\n"},
        {"vorbix-convert -f ../other.conf -c b:P", "b:PIP.COM\n"},
    };
    for (const completion_case& c : cases)
        EXPECT_EQ(complete(scratch, c.words), c.offered) << c.words;
}

} // namespace
