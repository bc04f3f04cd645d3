// Names through the emulator's drive letters. "X:NAME" stands for NAME in the
// folder that the configuration's drive statement gives drive X, and "X:" for
// that folder itself, where X is a letter a to p in either case. A name whose
// drive the configuration does not define is a host path like any other, so
// that a file called "a:x" is still reached, and "./a:x" always is.
#pragma once

#include <map>
#include <set>
#include <string>

/// What a source or target named on the command line stands for.
struct drive_name {
    /// The drive, 0..15 for a..p; -1 for a host path.
    int drive = -1;
    /// The host path the run opens: the drive's folder, or NAME in it.
    std::string path;
    /// "X:": the drive's folder itself, for a folder run.
    bool whole_drive = false;
};

/// Resolves name through the drive it begins with, when the configuration in
/// use defines that drive; any other name is its own path. A file that
/// exists in the drive's folder under the name in another case is the one
/// meant: CP/M sees one file whatever the case, and a second would shadow it.
drive_name resolve_drive_name(const char* name);

/// The names a drive's folder holds, read once, so that each file written
/// into it goes under the name it already has there in another case.
class names_in_drive {
  public:
    explicit names_in_drive(const std::string& folder);

    /// The name there that is name ignoring case: name itself when it is
    /// there, else the first such in byte order, so that every host finds the
    /// same file; name when there is none.
    const std::string& existing(const std::string& name) const;

  private:
    std::set<std::string> names_;
    std::map<std::string, std::string> by_folded_name_;
};

/// The path of name in a drive's folder, under the name it has there.
std::string path_in_drive(const std::string& folder, const std::string& name);

/// Whether a file of this name can be seen from CP/M: up to 8 characters,
/// optionally a dot and up to 3 more, each printable ASCII and none a blank
/// or one of < > . , ; : = ? * [ ] _ %.
bool is_cpm_file_name(const std::string& name);

/// Writing through a drive letter: "warning: SHOWN: not a CP/M file name"
/// when the file's last name is not one. The file is written all the same.
void warn_unless_cpm_file_name(const std::string& path, const char* shown);
