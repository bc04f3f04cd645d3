// Which files of a drive are programs and other binary files, to be left
// alone by folder runs: the CP/M file types of programs, libraries and
// overlays, the squeezed and crunched forms, and any file with a NUL byte in
// its text (see byte_reader::stop_at_nul).
#pragma once

#include <string>

/// Whether the file type of path's last part (the part after its last ".", in any case,
/// exactly three bytes) is that of a binary file: one of COM, CMD, REL, IRL,
/// OVR, OVL, PRL, SPR, RSP, RSX, SYS, LBR, ARK, ARC, or one with Q, Z or Y as
/// its middle character (squeezed and crunched files, such as .DQC, .AZM).
bool has_binary_file_type(const std::string& path);
