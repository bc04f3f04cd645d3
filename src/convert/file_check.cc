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
#include "convert/engine.h"
#include "convert/round_trip.h"
#include "convert/run_state.h"
#include "convert/source_survey.h"
#include "convert/stream_names.h"
#include "convert/target_file.h"

namespace {

enum class target_word { NONE, NEW, DIFFERS, SAME, NOT_REPLACEABLE, NOT_REGULAR, UNREADABLE };

// Whether the run could make a new file where the target is: its folder
// takes new names (or is still to be made), and is not /dev.
bool can_be_replaced(const named_file& target) {
    // A folder that does not exist yet is made by the run.
    return (faccessat(target.folder, folder_of(target.path).c_str(), W_OK | X_OK, 0) == 0 ||
            errno == ENOENT) &&
           !is_in_device_folder(target.folder, target.path);
}

// Opens an existing regular target to compare with, or -1 when there is none
// to compare; word says what the run would do with the target: make it, replace
// a link or a file it cannot read, write a device in place (no word), or fail
// on a folder, an unreadable file it cannot replace, or a folder it cannot
// write to.
int open_checked_target(const file_to_convert& file, target_word& word) {
    word = target_word::NONE;
    if (file.target_is_stdout || (!file.from_folder && descriptor_named_by(file.target.path) >= 0))
        return -1;
    struct stat status;
    if (fstatat(file.target.folder, file.target.path, &status, AT_SYMLINK_NOFOLLOW) != 0) {
        word = can_be_replaced(file.target) ? target_word::NEW : target_word::NOT_REPLACEABLE;
        return -1;
    }
    if (S_ISCHR(status.st_mode) || S_ISBLK(status.st_mode) || S_ISFIFO(status.st_mode))
        return -1;
    if (!S_ISREG(status.st_mode) && !S_ISLNK(status.st_mode)) {
        word = target_word::NOT_REGULAR;
        return -1;
    }
    bool replaceable = can_be_replaced(file.target);
    // A link is replaced, never followed.
    if (S_ISLNK(status.st_mode)) {
        word = replaceable ? target_word::DIFFERS : target_word::NOT_REPLACEABLE;
        return -1;
    }
    int fd = openat(file.target.folder, file.target.path,
                    O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY | O_NOFOLLOW);
    if (fd < 0 && replaceable) {
        word = target_word::DIFFERS;
    } else if (fd < 0) {
        print_diagnostic("couldn't open %s: %s", file.target.shown, std::strerror(errno));
        word = target_word::UNREADABLE;
    } else {
        word = replaceable ? target_word::SAME : target_word::NOT_REPLACEABLE;
    }
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

file_outcome check_file(const file_to_convert& file, int source_fd, bool binary) {
    std::string words;
    file_outcome outcome = file_outcome::SKIPPED;
    if (binary) {
        words = "binary";
    } else {
        // The marks of host text are the engine's; CP/M text's are looked
        // for in its raw bytes, past the ^Z where the engine stops reading.
        source_survey survey;
        if (!source_is_host)
            source_stream.observe(source_survey::take, &survey);
        target_word word;
        int target_fd = open_checked_target(file, word);
        target_stream.attach(-1);
        target_stream.compare_with(target_fd);
        bool converted = run_conversion(file.source.shown, file.target.shown) == 0;
        source_stream.drain();
        survey.finish();
        bool unreadable = source_stream.failed() || target_stream.failed();
        if (source_stream.failed())
            add(words, "read error");
        else if (target_stream.failed())
            add(words, "write error");
        if (std::uint64_t count = untranslatable_count())
            add(words, counted(count, "untranslatable"));
        if (std::uint64_t count = survey.line_ends_without_cr())
            add(words, counted(count, "line ends without CR"));
        host_text_marks marks = host_text_marks_found();
        if (source_is_host && marks.line_ends_with_cr > 0)
            add(words, counted(marks.line_ends_with_cr, "line ends with CR"));
        if (source_is_host && marks.text_after_end_mark)
            add(words, "text after ^Z");
        if (std::uint64_t count = survey.records_after_end_mark())
            add(words, counted(count, "records after ^Z"));
        // A folder run leaves alone a target that converts back to its source.
        if (word == target_word::SAME && target_stream.differs() &&
            !(file.from_folder && !file.in_place && converted &&
              converts_back_to_source(source_fd, target_fd)))
            word = target_word::DIFFERS;
        if (target_fd >= 0)
            close(target_fd);
        static const char* const WORDS[] = {
            "", "new", "differs", "same", "can't be replaced", "not a regular file", "read error"};
        if (!unreadable && word != target_word::NONE)
            add(words, WORDS[static_cast<int>(word)]);
        if (!converted || word == target_word::NOT_REPLACEABLE ||
            word == target_word::NOT_REGULAR || word == target_word::UNREADABLE)
            outcome = file_outcome::FAILED;
        else if (word == target_word::NEW || word == target_word::DIFFERS)
            outcome = file_outcome::CONVERTED;
        if (words.empty())
            words = "ok";
    }
    // Each line goes out whole before the next file's messages, so that the
    // two streams interleave in the order of the files.
    std::printf("%s: %s\n", file.source.shown, words.c_str());
    std::fflush(stdout);
    return outcome;
}
