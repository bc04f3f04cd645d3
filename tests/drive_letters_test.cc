// The emulator's drives by letter, and the character sets by name: what a
// run through "X:NAME" reads and writes, and what it says.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <sys/stat.h>
#include <utility>
#include <vector>

#include "run_converter.h"
#include "test_support.h"

namespace {

const std::string CONFIG_ERROR = P + "command line or configuration error\n";

struct drive_case {
    const char* name;
    std::vector<std::string> args;
    const char* working_dir; ///< under the scratch folder
    int status;
    std::string err;
    std::vector<std::pair<std::string, std::string>> files; ///< path, contents after
    std::vector<std::string> absent;                         ///< paths never made
};
PRINTS_AS_ITS_NAME(drive_case)

const drive_case DRIVE_CASES[] = {
    {"DefinedDrive", {"-u", "note.txt", "-c", "a:NOTE.TXT"}, "", 0, "",
     {{"drives/a/NOTE.TXT", cpm_records("note\r\n")}}, {"a:NOTE.TXT"}},
    {"LetterInUpperCase", {"-u", "note.txt", "-c", "A:NOTE.TXT"}, "", 0, "",
     {{"drives/a/NOTE.TXT", cpm_records("note\r\n")}}, {}},
    // CP/M sees one file whatever the case: the one there is replaced.
    {"ExistingNameInAnotherCase", {"-u", "note.txt", "-c", "a:readme.txt"}, "", 0, "",
     {{"drives/a/README.TXT", cpm_records("note\r\n")}}, {"drives/a/readme.txt"}},
    {"SourceInAnotherCase", {"-c", "a:Readme.Txt", "-u", "out.txt"}, "", 0, "",
     {{"out.txt", "old readme\n"}}, {}},
    {"UndefinedDriveIsAHostPath", {"-u", "note.txt", "-c", "e:x"}, "", 0, "",
     {{"e:x", cpm_records("note\r\n")}}, {}},
    {"MessagesNameTheFileAsGiven", {"-c", "a:MISSING.TXT"}, "", 1,
     P + "couldn't open a:MISSING.TXT: " + std::strerror(ENOENT) + "\n", {}, {}},
    {"ReadOnlyDrive", {"-u", "note.txt", "-c", "b:NEW.TXT"}, "", 1,
     P + "couldn't write to b:NEW.TXT: drive b is read-only in ./.vorbix.conf\n", {},
     {"drives/b/NEW.TXT"}},
    {"ReadOnlyDriveInPlace", {"-c", "B:OLD.TXT", "-c", "b:OLD.TXT"}, "", 1,
     P + "couldn't write to b:OLD.TXT: drive b is read-only in ./.vorbix.conf\n",
     {{"drives/b/OLD.TXT", "old\r\n\x1a"}}, {}},
    {"ReadOnlyDriveByItsPath", {"-u", "note.txt", "-c", "drives/b/NEW.TXT"}, "", 0, "",
     {{"drives/b/NEW.TXT", cpm_records("note\r\n")}}, {}},
    {"ReadOnlyDriveRead", {"-c", "b:OLD.TXT", "-u", "old.txt"}, "", 0, "",
     {{"old.txt", "old\n"}}, {}},
    // The drive's folder is taken from the working directory.
    {"RelativePathFromTheWorkingDirectory",
     {"-f", "../.vorbix.conf", "-u", "../note.txt", "-c", "a:NOTE.TXT"}, "sub", 0, "",
     {{"sub/drives/a/NOTE.TXT", cpm_records("note\r\n")}}, {"drives/a/NOTE.TXT"}},
    {"AbsolutePath", {"-u", "note.txt", "-c", "c:NOTE.TXT"}, "", 0, "",
     {{"elsewhere/NOTE.TXT", cpm_records("note\r\n")}}, {}},
    {"FileIntoAWholeDrive", {"-u", "note.txt", "-c", "a:"}, "", 0, "",
     {{"drives/a/note.txt", cpm_records("note\r\n")}}, {}},
    {"FileIntoAWholeDriveUnderTheNameThere", {"-u", "readme.txt", "-c", "a:"}, "", 0, "",
     {{"drives/a/README.TXT", cpm_records("new readme\r\n")}}, {"drives/a/readme.txt"}},
    {"NotACpmName", {"-u", "note.txt", "-c", "a:my long notes.markdown"}, "", 0,
     P + "warning: a:my long notes.markdown: not a CP/M file name\n",
     {{"drives/a/my long notes.markdown", cpm_records("note\r\n")}}, {}},
    {"WholeDriveAsAFolder", {"-c", "a:", "-u", "host-a"}, "", 0,
     P + "skipping a:PIP.COM: a binary file\n",
     {{"host-a/README.TXT", "old readme\n"}}, {"host-a/PIP.COM"}},
    {"FolderIntoAWholeDrive", {"-u", "docs", "-c", "a:"}, "", 0,
     P + "warning: a:notes.markdown: not a CP/M file name\n",
     {{"drives/a/notes.markdown", cpm_records("n\r\n")},
      {"drives/a/OK.TXT", cpm_records("ok\r\n")},
      {"drives/a/README.TXT", cpm_records("r\r\n")}},
     {"drives/a/readme.txt"}},
    {"CheckOfAWholeDrive", {"--check", "-c", "a:", "-u", "host-a"}, "", 1, "", {},
     {"host-a"}},
};

class DriveLetters : public testing::TestWithParam<drive_case> {
  protected:
    void SetUp() override {
        for (const char* folder : {"drives", "drives/a", "drives/b", "elsewhere", "docs", "sub",
                                   "sub/drives", "sub/drives/a"})
            ASSERT_EQ(mkdir((scratch / folder).c_str(), 0777), 0);
        write_file(scratch / ".vorbix.conf", "drive a = \"drives/a\"\n"
                                             "drive b = readonly, \"drives/b\"\n"
                                             "drive c = \"" +
                                                 (scratch / "elsewhere") + "\"\n");
        write_file(scratch / "note.txt", "note\n");
        write_file(scratch / "readme.txt", "new readme\n");
        write_file(scratch / "drives/a/README.TXT", "old readme\r\n\x1a");
        write_file(scratch / "drives/a/PIP.COM", std::string("\xc3\x00\x01", 3));
        write_file(scratch / "drives/b/OLD.TXT", "old\r\n\x1a");
        write_file(scratch / "docs/notes.markdown", "n\n");
        write_file(scratch / "docs/OK.TXT", "ok\n");
        write_file(scratch / "docs/readme.txt", "r\n");
    }
    scratch_dir scratch;
};

TEST_P(DriveLetters, NameTheDrivesFolder) {
    const drive_case& c = GetParam();
    run_options options;
    options.working_dir = scratch / c.working_dir;
    run_result result = run_converter_process(c.args, options);
    EXPECT_EQ(result.status, c.status) << result.err;
    EXPECT_EQ(result.err, c.err);
    for (const auto& [path, contents] : c.files)
        EXPECT_EQ(read_file(scratch / path), contents) << path;
    for (const std::string& path : c.absent)
        EXPECT_FALSE(file_exists(scratch / path)) << path;
}

INSTANTIATE_TEST_SUITE_P(Cases, DriveLetters, testing::ValuesIn(DRIVE_CASES),
                         [](const auto& row) { return std::string(row.param.name); });

struct charset_case {
    const char* name;
    std::vector<std::string> args;
    int status;
    std::string out;
    std::string err; ///< its start, for the error that lists every name
    const char* target = nullptr; ///< the file that holds out, if not standard output
};
PRINTS_AS_ITS_NAME(charset_case)

const charset_case CHARSET_CASES[] = {
    {"SetFile", {"--charset", "iso646-de", "-c", "letter.cpm"}, 0,
     "Gr\u00fc\u00dfe \u00c4x\u00dc\n", ""},
    {"SetFileWithAlternate", {"-a", "--charset", "iso646-de", "-c", "letter.cpm"}, 0,
     "Gr\u00fc\u00dfe \u00c4x\u00dc\n", ""},
    {"BuiltIn", {"--charset", "ascii", "-c", "letter.cpm"}, 0, "Gr}~e [x]\n", ""},
    // The configuration still gives the drives (and, without --charset, the
    // table: its alternate set is German).
    {"ConfigurationKeepsTheDrives", {"--charset", "latin1", "-c", "a:LETTER.CPM"}, 0,
     "Gr}~e [x]\n", ""},
    {"ConfigurationAlone", {"-a", "-c", "a:LETTER.CPM"}, 0, "Gr\u00fc\u00dfe [x]\n", ""},
    {"HostToCpm", {"--charset", "iso646-de", "-u", "letter.txt", "-c", "a:BACK.CPM"}, 0,
     cpm_records("Gr}~e\r\n"), "", "a/BACK.CPM"},
    {"Unknown", {"--charset", "klingon", "-c", "letter.cpm"}, 1, "",
     P + "unknown character set klingon; the sets are vt52, ascii, latin1, vorbix, iso646-de, "},
    {"NoValue", {"-c", "letter.cpm", "--charset"}, 1, "",
     P + "option --charset needs the name of a set\n" + P + "usage: "},
};

class NamedCharsets : public testing::TestWithParam<charset_case> {};

TEST_P(NamedCharsets, TranslateTheRun) {
    const charset_case& c = GetParam();
    scratch_dir scratch;
    ASSERT_EQ(mkdir((scratch / "a").c_str(), 0777), 0);
    write_file(scratch / ".vorbix.conf", "drive a = \"a\"\nalt charset = ascii\n"
                                         "alt char 0x7D = \"\u00fc\"\nalt char 0x7E = \"\u00df\"\n");
    write_file(scratch / "letter.cpm", "Gr}~e [x]\r\n\x1a");
    write_file(scratch / "a/LETTER.CPM", "Gr}~e [x]\r\n\x1a");
    write_file(scratch / "letter.txt", "Gr\u00fc\u00dfe\n");
    run_options options;
    options.working_dir = scratch.path();
    options.environment = {"LC_ALL=C.UTF-8"};
    run_result result = run_converter_process(c.args, options);
    EXPECT_EQ(result.status, c.status) << result.err;
    EXPECT_EQ(c.target ? read_file(scratch / c.target) : result.out, c.out);
    EXPECT_EQ(result.err.substr(0, c.err.size()), c.err);
}

INSTANTIATE_TEST_SUITE_P(Cases, NamedCharsets, testing::ValuesIn(CHARSET_CASES),
                         [](const auto& row) { return std::string(row.param.name); });

// --charsets lists the built-in sets and the installed set files, each with
// its line; the German set is ISO 646's.
TEST(NamedCharsets, AreListed) {
    run_result result = run_converter_process({"--charsets"}, {});
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(result.out.rfind("vt52        the printable ASCII characters 32 to 126 (the default)\n", 0),
              0u)
        << result.out;
    EXPECT_NE(result.out.find("\niso646-de   ISO 646 German, DIN 66003\n"), std::string::npos)
        << result.out;
}

} // namespace
