// Drive letters resolved through the configuration's drive statements.
#include "convert/drive_names.h"

#include <cstring>
#include <dirent.h>

#include "common/diagnostic.h"
#include "config/settings.h"

namespace {

constexpr std::size_t MOST_BASE_CHARACTERS = 8;
constexpr std::size_t MOST_TYPE_CHARACTERS = 3;

// The drive a name begins with, 0..15, when the configuration defines it.
int defined_drive(const char* name) {
    char letter = name[0];
    if (letter >= 'A' && letter <= 'P')
        letter = static_cast<char>(letter - 'A' + 'a');
    if (letter < 'a' || letter > 'p' || name[1] != ':')
        return -1;
    int drive = letter - 'a';
    return settings.drive_paths[drive] ? drive : -1;
}

std::string joined(const std::string& folder, const std::string& name) {
    if (folder.empty() || folder.back() == '/')
        return folder + name;
    return folder + '/' + name;
}

// ASCII case alone, the same in every locale: CP/M folds only a to z.
std::string folded(std::string name) {
    for (char& c : name)
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
    return name;
}

bool is_cpm_name_character(unsigned char c) {
    return c > ' ' && c < 0x7f && !std::strchr("<>.,;:=?*[]_%", c);
}

// Whether a part of a name, the base or the type, is 1 to most characters
// CP/M can hold.
bool is_cpm_name_part(const std::string& part, std::size_t most) {
    if (part.empty() || part.size() > most)
        return false;
    for (unsigned char c : part)
        if (!is_cpm_name_character(c))
            return false;
    return true;
}

} // namespace

names_in_drive::names_in_drive(const std::string& folder) {
    DIR* listing = opendir(folder.empty() ? "." : folder.c_str());
    if (!listing)
        return;
    while (const dirent* entry = readdir(listing))
        names_.insert(entry->d_name);
    closedir(listing);
    // In byte order, the first of several names that fold alike is kept.
    for (const std::string& name : names_)
        by_folded_name_.emplace(folded(name), name);
}

const std::string& names_in_drive::existing(const std::string& name) const {
    if (names_.count(name))
        return name;
    auto found = by_folded_name_.find(folded(name));
    return found == by_folded_name_.end() ? name : found->second;
}

std::string path_in_drive(const std::string& folder, const std::string& name) {
    if (name.empty() || name.find('/') != std::string::npos)
        return joined(folder, name);
    return joined(folder, names_in_drive(folder).existing(name));
}

drive_name resolve_drive_name(const char* name) {
    drive_name resolved;
    resolved.drive = defined_drive(name);
    if (resolved.drive < 0) {
        resolved.path = name;
        return resolved;
    }
    std::string folder = settings.drive_paths[resolved.drive];
    resolved.whole_drive = name[2] == '\0';
    resolved.path = resolved.whole_drive ? folder : path_in_drive(folder, name + 2);
    return resolved;
}

bool is_cpm_file_name(const std::string& name) {
    std::size_t dot = name.find('.');
    if (dot == std::string::npos)
        return is_cpm_name_part(name, MOST_BASE_CHARACTERS);
    return is_cpm_name_part(name.substr(0, dot), MOST_BASE_CHARACTERS) &&
           is_cpm_name_part(name.substr(dot + 1), MOST_TYPE_CHARACTERS);
}

void warn_unless_cpm_file_name(const std::string& path, const char* shown) {
    if (!is_cpm_file_name(path.substr(path.rfind('/') + 1)))
        print_diagnostic("warning: %s: not a CP/M file name", shown);
}
