// The words of a check, in their order: binary; read error (or write error,
// for a character the locale cannot encode); untranslatable characters; the
// marks of text copied without conversion; and, when a target is named,
// whether the converted bytes would be new, differ from the target's, or be
// the same. Counts keep their plural form, for scripts.
#include "convert/file_check.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <unistd.h>

#include "common/diagnostic.h"
#include "convert/binary_file.h"
#include "convert/engine.h"
#include "convert/run_state.h"
#include "convert/source_survey.h"
#include "convert/target_file.h"

namespace {

enum class target_word { NONE, NEW, DIFFERS, SAME };

// Opens an existing regular target to compare with; -1 when there is none
// to compare (none named, or not a regular file), word saying which; -2
// after a message when it cannot be read.
int open_target_to_compare(const file_to_convert& file, target_word& word) {
    word = target_word::NONE;
    if (file.target_is_stdout || descriptor_named_by(file.target) >= 0)
        return -1;
    struct stat status;
    if (stat(file.target, &status) != 0) {
        word = target_word::NEW;
        return -1;
    }
    if (!S_ISREG(status.st_mode))
        return -1;
    int fd = open(file.target, O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) {
        print_diagnostic("couldn't open %s: %s", file.target, std::strerror(errno));
        return -2;
    }
    word = target_word::SAME;
    return fd;
}

void add(std::string& words, const std::string& word) {
    if (!words.empty())
        words += ", ";
    words += word;
}

std::string counted(std::uint64_t count, const char* what) {
    return std::to_string(count) + " " + what;
}

} // namespace

file_outcome check_file(const file_to_convert& file, int source_fd) {
    bool binary = !convert_binary_files && has_binary_file_type(file.source);
    bool unreadable_target = false;
    std::string words;
    if (!binary) {
        source_stream.attach(source_fd);
        if (!convert_binary_files)
            source_stream.stop_at_nul(source_is_host ? -1 : CPM_END_MARK);
        source_survey survey(source_is_host);
        source_stream.observe(source_survey::take, &survey);
        target_word word;
        int target_fd = open_target_to_compare(file, word);
        unreadable_target = target_fd == -2;
        target_stream.attach(-1);
        target_stream.compare_with(target_fd < 0 ? -1 : target_fd);
        run_conversion(file.source, file.target);
        target_stream.finish_comparison();
        if (target_fd >= 0)
            close(target_fd);
        binary = source_stream.found_nul();
        bool unreadable = source_stream.failed() || target_stream.failed();
        if (!binary) {
            source_stream.drain();
            survey.finish();
            if (source_stream.failed())
                add(words, "read error");
            else if (target_stream.failed())
                add(words, "write error");
            if (std::uint64_t count = untranslatable_count())
                add(words, counted(count, "untranslatable"));
            if (std::uint64_t count = survey.line_ends_without_cr())
                add(words, counted(count, "line ends without CR"));
            if (std::uint64_t count = survey.line_ends_with_cr())
                add(words, counted(count, "line ends with CR"));
            if (survey.text_after_end_mark())
                add(words, "text after ^Z");
            if (std::uint64_t count = survey.records_after_end_mark())
                add(words, counted(count, "records after ^Z"));
            if (word == target_word::SAME && target_stream.differs())
                word = target_word::DIFFERS;
            if (!unreadable && word != target_word::NONE)
                add(words, word == target_word::NEW       ? "new"
                           : word == target_word::DIFFERS ? "differs"
                                                          : "same");
        }
    }
    bool fault = unreadable_target || (!binary && !words.empty() && words != "same");
    if (binary)
        words = "binary";
    else if (words.empty())
        words = "ok";
    std::printf("%s: %s\n", file.source, words.c_str());
    return fault ? file_outcome::FAILED : file_outcome::CONVERTED;
}
