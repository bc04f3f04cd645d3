// The skip reasons, and the binary rule.
//
// By type: the types of programs, libraries, overlays and archives, which no
// text ever carries.
//
// By bytes, over the first 64 KiB in one pass, with the text taken to end at
// its first ^Z:
//
// 1. A NUL in the text is binary unless it is fill or padding. Fill is a run
//    of NULs that reaches the end of the text (a ^Z) or of the file: some
//    editors padded the last record with NULs instead of ^Z. Padding is a
//    run right next to a CR or LF: terminals that needed time after a line
//    end got NULs there. Anywhere else a NUL is a number's byte, and a NUL
//    coming before the first ^Z is then as likely as not in binary data, so
//    the test of the text alone cannot stand: rule 2 looks past the ^Z.
// 2. Controls other than BS, TAB, LF, VT, FF, CR, ESC and ^Z, with the NULs
//    after the ^Z that are neither fill nor padding, on more than 1 byte in
//    20 of the window (the ^Z fill after the text and NUL fill left out) make
//    the file binary. Real WordStar documents carry print controls (^B, ^S,
//    ^D, ^Y, ^T, ^V, ^P) on up to 2% of their bytes, and old text left after
//    a ^Z holds a few stray controls; random bytes hold 9% of such controls,
//    and numbers in binary records more.
//
// Measured with the tests' generator (a fixed seed; uniform random bytes,
// random bytes with a ^Z among the first 8, code-like bytes, and 128-byte
// records of text fields and binary numbers): no file of 1 KB or more is
// taken for text, and at most 6 in 1000 of 256 bytes; every real text file of
// the corpus is text. Bytes 0x80 and above are never held against a file:
// they are letters in national and WordStar text, and in host text's UTF-8.
#include "convert/skip_rules.h"

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <fcntl.h>

#include "common/diagnostic.h"
#include "convert/engine.h"
#include "convert/run_state.h"
#include "convert/target_file.h"

namespace {

constexpr const char* BINARY_FILE_TYPES[] = {"COM", "REL", "IRL", "OVR", "OVL", "PRL", "SPR",
                                             "RSP", "RSX", "SYS", "LBR", "ARK", "ARC"};

constexpr unsigned char NUL = 0x00;
constexpr unsigned char ESC = 0x1B;

/// Rule 2: more than one suspect byte in this many is binary.
constexpr std::size_t SUSPECTS_ONE_IN = 20;

// ASCII upper case only: CP/M names are ASCII, and a host locale's case rules
// must not change which files are skipped.
char upper(char c) {
    return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

// The controls that text holds: BS, TAB, LF, VT, FF, CR (0x08 to 0x0D), ESC
// and ^Z.
constexpr bool is_text_control(unsigned char byte) {
    return (byte >= 0x08 && byte <= 0x0D) || byte == ESC || byte == CPM_END_MARK;
}

bool is_line_end(unsigned char byte) {
    return byte == CPM_CR || byte == CPM_LF;
}

} // namespace

bool has_binary_file_type(const std::string& path) {
    std::size_t slash = path.rfind('/');
    std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    std::size_t dot = name.rfind('.');
    if (dot == std::string::npos || name.size() - dot != 4)
        return false;
    char type[4] = {upper(name[dot + 1]), upper(name[dot + 2]), upper(name[dot + 3]), '\0'};
    // Squeezed files have Q as the middle letter, crunched ones Z, and those
    // crunched with the later method Y.
    if (type[1] == 'Q' || type[1] == 'Z' || type[1] == 'Y')
        return true;
    for (const char* binary : BINARY_FILE_TYPES)
        if (std::strcmp(type, binary) == 0)
            return true;
    return false;
}

namespace {

// Rule 2's suspects among the bytes, NULs aside: one for each control that
// text does not hold.
struct suspect_table {
    unsigned char of[256] = {};
    constexpr suspect_table() {
        for (int byte = 1; byte < 0x20; ++byte)
            of[byte] = is_text_control(static_cast<unsigned char>(byte)) ? 0 : 1;
    }
};
constexpr suspect_table SUSPECT;

// The suspects among bytes that hold no NUL, without a branch: a table
// lookup a byte, so that the look costs little beside the conversion.
std::size_t count_suspects(const unsigned char* bytes, const unsigned char* end) {
    std::size_t suspects = 0;
    for (; bytes != end; ++bytes)
        suspects += SUSPECT.of[*bytes];
    return suspects;
}

} // namespace

bool has_binary_bytes(const unsigned char* bytes, std::size_t count, bool whole) {
    const unsigned char* end = bytes + count;
    const void* mark = std::memchr(bytes, CPM_END_MARK, count);
    const unsigned char* text_end = mark ? static_cast<const unsigned char*>(mark) : end;
    // The ^Z that ends the text and the fill after it say nothing either way.
    std::size_t end_marks = 0;
    for (const unsigned char* at = text_end; at != end; ++at)
        end_marks += *at == CPM_END_MARK;
    std::size_t suspects = 0, counted = count - end_marks;
    const unsigned char* at = bytes;
    // Text mostly holds no NUL at all: the runs between NULs are counted
    // whole, and each run of NULs is judged on its own.
    while (const void* found = std::memchr(at, NUL, static_cast<std::size_t>(end - at))) {
        const unsigned char* run = static_cast<const unsigned char*>(found);
        suspects += count_suspects(at, run);
        at = run;
        while (at != end && *at == NUL)
            ++at;
        std::size_t length = static_cast<std::size_t>(at - run);
        bool fill = (at == end && whole) || (at != end && *at == CPM_END_MARK);
        bool padding = (run != bytes && is_line_end(run[-1])) || (at != end && is_line_end(*at));
        if (fill || padding) {
            counted -= length;
            continue;
        }
        if (run < text_end)
            return true;
        suspects += length;
    }
    suspects += count_suspects(at, end);
    return suspects * SUSPECTS_ONE_IN > counted;
}

// A regular file is read as far as its size, so that a CP/M conversion,
// which stops at the ^Z, never makes a read more just to meet the end.
bool has_binary_start(const struct stat* source) {
    bool sized = source && S_ISREG(source->st_mode);
    auto size = sized ? static_cast<std::uint64_t>(source->st_size) : 0;
    source_stream.fill_to(sized && size < BINARY_WINDOW ? static_cast<std::size_t>(size)
                                                        : BINARY_WINDOW);
    bool whole = source_stream.at_end() || (sized && source_stream.available() == size);
    return !source_stream.failed() &&
           has_binary_bytes(source_stream.data(), source_stream.available(), whole);
}

// A link is followed; only a link that leads nowhere is not a regular file, and one
// that cannot be followed for another reason is converted, so that its open
// reports why. In place, a link is skipped: the file it leads to is
// converted under its own name, and converting it twice would convert the
// new text again.
const char* reason_to_skip(const std::string& name, listed_as kind, int folder, const char* path,
                           bool in_place) {
    bool is_link = kind == listed_as::LINK;
    if (kind == listed_as::OTHER)
        return SKIP_NOT_A_REGULAR_FILE;
    if (kind == listed_as::UNKNOWN) {
        struct stat status;
        if (fstatat(folder, path, &status, AT_SYMLINK_NOFOLLOW) == 0) {
            is_link = S_ISLNK(status.st_mode);
            if (!is_link && !S_ISREG(status.st_mode))
                return SKIP_NOT_A_REGULAR_FILE;
        }
    }
    if (is_link) {
        struct stat status;
        if (fstatat(folder, path, &status, 0) == 0 ? !S_ISREG(status.st_mode)
                                                   : errno == ENOENT || errno == ENOTDIR)
            return SKIP_NOT_A_REGULAR_FILE;
    }
    if (is_temporary_name(name))
        return "left by an interrupted run";
    if (in_place && is_link)
        return "a symbolic link";
    return nullptr;
}

void report_skip(const char* shown, const char* reason) {
    if (!quiet)
        print_diagnostic("skipping %s: %s", shown, reason);
}
