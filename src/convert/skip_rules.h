// Which files a run leaves alone, and why: each reason a skip line gives,
// and the rule for binary files (programs and other binary data), which
// folder runs skip and checks call "binary". A binary file is known by its
// CP/M file type or by its first bytes; text is let through on the side of
// doubt only where a wrong guess loses nothing (skip_rules.cc gives the rule
// and the data its thresholds come from).
#pragma once

#include <cstddef>
#include <string>
#include <sys/stat.h>

/// How much of a file's start the byte rule looks at.
constexpr std::size_t BINARY_WINDOW = 64 * 1024;

/// Whether the file type of path's last part (the part after its last ".",
/// in any case, exactly three bytes) is that of a binary file whatever it
/// holds: one of COM, REL, IRL, OVR, OVL, PRL, SPR, RSP, RSX, SYS, LBR, ARK,
/// ARC, or one with Q, Z or Y as its middle character (squeezed and crunched
/// files, such as .DQC, .AZM). CMD is decided by the bytes: it names CP/M-86
/// programs, and dBASE II programs and command files, which are text.
bool has_binary_file_type(const std::string& path);

/// Whether the first bytes of a file, count of them (the whole file when
/// whole), are those of a binary file: a NUL in the text that is neither fill
/// nor padding, or more controls than text holds.
bool has_binary_bytes(const unsigned char* bytes, std::size_t count, bool whole);

/// Whether the source stream's first bytes (BINARY_WINDOW of them, or the
/// whole file) are those of a binary file; source is its status where known,
/// which tells whether the window holds all of it without a read more to
/// meet the end. A read error is not held against it: the conversion
/// reports it.
bool has_binary_start(const struct stat* source);

/// What a folder's listing says a name is.
enum class listed_as { REGULAR, LINK, OTHER, UNKNOWN };

/// Why a name of a folder's listing is skipped before it is opened, or null
/// to convert it; path is the name in the folder open as folder.
const char* reason_to_skip(const std::string& name, listed_as kind, int folder, const char* path,
                           bool in_place);

/// Why an open source is skipped: a folder run's source listed as a regular
/// file and replaced since by anything else.
constexpr const char* SKIP_NOT_A_REGULAR_FILE = "not a regular file";
/// Why a source is skipped: a binary file, in a folder run without --binary.
constexpr const char* SKIP_BINARY_FILE = "a binary file";
/// Why a CP/M file is not converted in place to CP/M: records after its ^Z
/// would be lost.
constexpr const char* SKIP_DATA_AFTER_END_MARK = "data after its ^Z";

/// Says that the file shown is skipped and why, "skipping %s: %s", unless
/// the run is --quiet: the one way every skip is told.
void report_skip(const char* shown, const char* reason);
