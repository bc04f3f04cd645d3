// File types of binary files on a CP/M drive.
#include "convert/binary_file.h"

#include <cstring>

namespace {

constexpr const char* BINARY_FILE_TYPES[] = {"COM", "CMD", "REL", "IRL", "OVR", "OVL", "PRL",
                                             "SPR", "RSP", "RSX", "SYS", "LBR", "ARK", "ARC"};

// ASCII upper case only: CP/M names are ASCII, and a host locale's case rules
// must not change which files are skipped.
char upper(char c) {
    return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
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
