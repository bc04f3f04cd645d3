// Real CP/M text files read off original disks: converted to host text, back
// to CP/M, and copied CP/M to CP/M, each checked against the rules of the
// format, and checked with --check.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <map>

#include "run_converter.h"
#include "test_support.h"

namespace {

// The public-domain files kept in the tree, and the whole shared corpus where
// it is present beside the project; a name found in both is read once.
const std::string TREE_CORPUS = VORBIX_SOURCE_DIR "/tests/corpus";
const std::string SHARED_CORPUS = VORBIX_SOURCE_DIR "/../shared/corpus";

std::vector<std::string> corpus_files() {
    std::map<std::string, std::string> paths;
    for (const std::string& folder : {SHARED_CORPUS, TREE_CORPUS}) {
        std::error_code error;
        for (const auto& entry : std::filesystem::directory_iterator(folder, error))
            if (entry.path().extension() != ".md")
                paths[entry.path().filename().string()] = entry.path().string();
    }
    std::vector<std::string> files;
    for (const auto& [name, path] : paths)
        files.push_back(path);
    return files;
}

// The host text that the CP/M text should give under the default set: up to
// the first ^Z, CR LF as LF, other CRs kept, bytes above 0x7E other than
// DEL dropped. messages gets the warning and the place of the first dropped
// byte (line and column counted in bytes, from 1), as source's.
std::string expected_host_text(const std::string& cpm, const std::string& source,
                               std::string& messages) {
    std::string text = cpm.substr(0, cpm.find('\x1a'));
    std::string host;
    std::size_t count = 0, line = 1, line_start = 0;
    messages.clear();
    for (std::size_t i = 0; i < text.size(); ++i) {
        unsigned char byte = static_cast<unsigned char>(text[i]);
        if (byte == '\n') {
            ++line;
            line_start = i + 1;
        }
        if (byte == '\r' && i + 1 < text.size() && text[i + 1] == '\n')
            continue;
        if (byte >= 0x80) {
            if (count++ == 0) {
                char first[64];
                std::snprintf(first, sizeof first, ":%zu:%zu: code 0x%02X", line,
                              i - line_start + 1, byte);
                messages = "vorbix-convert: warning: " + source +
                           " contains untranslateable characters\nvorbix-convert: " + source +
                           first;
            }
            continue;
        }
        host += static_cast<char>(byte);
    }
    if (count > 1)
        messages += ", the first of " + std::to_string(count);
    if (count > 0)
        messages += "\n" + BUILTIN_SET;
    return host;
}

TEST(Corpus, ConvertsEveryFileFaithfully) {
    std::vector<std::string> files = corpus_files();
    ASSERT_GE(files.size(), 13u);
    scratch_dir scratch;
    run_options options;
    options.working_dir = scratch.path();
    for (const std::string& source : files) {
        SCOPED_TRACE(source);
        std::string cpm = read_file(source);
        std::string messages;
        std::string host = expected_host_text(cpm, source, messages);

        run_result result = run_converter_process({"-c", source, "-u", "host.txt"}, options);
        EXPECT_EQ(result.status, 0);
        EXPECT_EQ(result.err, messages);
        EXPECT_EQ(read_file(scratch / "host.txt"), host);

        // Back to CP/M and to host again: the host text survives the round trip.
        result = run_converter_process({"-u", "host.txt", "-c", "back.cpm"}, options);
        EXPECT_EQ(result.status, 0) << result.err;
        result = run_converter_process({"-c", "back.cpm", "-u", "again.txt"}, options);
        EXPECT_EQ(result.status, 0) << result.err;
        EXPECT_EQ(read_file(scratch / "again.txt"), host);

        result = run_converter_process({"-c", source, "-c", "copy.cpm"}, options);
        EXPECT_EQ(result.status, 0) << result.err;
        EXPECT_EQ(read_file(scratch / "copy.cpm"), cpm_records(cpm.substr(0, cpm.find('\x1a'))));
    }
}

// What a check finds in real files: WordStar's soft line ends and high bits,
// MBASIC's line continuations, listings spaced with bare LF, a stale record
// after the text, and a file padded with NUL instead of ^Z, which is text.
TEST(Corpus, CheckNamesWhatIsSpecialAboutEachFile) {
    scratch_dir scratch;
    run_options options;
    options.working_dir = scratch.path();
    run_result result =
        run_converter_process({"--check", "-c", TREE_CORPUS, "-u", "host"}, options);
    const std::string c = TREE_CORPUS + "/";
    EXPECT_EQ(result.out, c + "cdoscopy.prn: new\n" +
                              c + "cpm.hlp: 1740 untranslatable, 113 line ends without CR, new\n" +
                              c + "du-v75.asm: new\n" +
                              c + "edit.doc: new\n" +
                              c + "equates.lib: 1 untranslatable, new\n" +
                              c + "kernl.asm: new\n" +
                              c + "othello.for: 1 records after ^Z, new\n" +
                              c + "rbbs22.asc: 43 line ends without CR, new\n" +
                              c + "typesq2.fix: new\n" +
                              c + "word-pzl.asc: new\n" +
                              c + "xmail.doc: 104 untranslatable, 7 line ends without CR, new\n" +
                              c + "z80-ops.asm: new\n" +
                              c + "zx65r.prn: 187 line ends without CR, new\n");
    EXPECT_EQ(result.status, 1);
    EXPECT_FALSE(file_exists(scratch / "host"));
}

} // namespace
