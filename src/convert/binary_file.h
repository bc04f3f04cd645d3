// Which files of a drive are programs and other binary files, to be left
// alone by folder runs and called "binary" by checks: by their CP/M file
// type, or by their first bytes. Text is let through on the side of doubt
// only where a wrong guess loses nothing; see binary_file.cc for the rule
// and the data its thresholds come from.
#pragma once

#include <cstddef>
#include <string>

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
