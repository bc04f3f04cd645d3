// Sets by name. A set file is an ordinary configuration file of charset and
// char statements: it is parsed, after the configuration, into an emptied
// primary table, which then replaces the alternate table as well.
#include "config/named_charsets.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <dirent.h>
#include <string>
#include <vector>

#include "charset/charset_tables.h"
#include "common/checked_alloc.h"
#include "common/diagnostic.h"
#include "common/platform.h"
#include "config/loader.h"

namespace {

constexpr char SET_FILE_SUFFIX[] = ".conf";
constexpr std::size_t SET_FILE_SUFFIX_SIZE = sizeof SET_FILE_SUFFIX - 1;

constexpr const char* BUILTIN_DESCRIPTIONS[BUILTIN_CHARSET_COUNT] = {
    "the printable ASCII characters 32 to 126 (the default)",
    "the printable ASCII characters 32 to 126",
    "ASCII, and 160 to 255 as in ISO 8859-1 (173 the en dash)",
    "latin1, and 128 to 159 much as in Windows code page 1252",
};

// The folder of set files for the program at exe: the source tree's for the
// program of the build folder, else the installed one beside its bin folder.
std::string set_folder(const char* argv0) {
    std::string exe = program_file(argv0);
    std::string folder = exe.substr(0, exe.rfind('/') + 1);
    char build[PATH_MAX];
    if (!folder.empty() && realpath(VORBIX_BUILD_DIR, build) && folder == std::string(build) + '/')
        return VORBIX_SOURCE_DIR "/examples/charsets";
    return folder + "../share/vorbix-convert/charsets";
}

// A built-in set's name, which is ASCII, as the command line spells it.
std::string builtin_name(int column) {
    std::string name;
    for (const wchar_t* c = BUILTIN_CHARSET_NAMES[column]; *c; ++c)
        name += static_cast<char>(*c);
    return name;
}

int builtin_column(const char* name) {
    for (int column = 0; column < BUILTIN_CHARSET_COUNT; ++column)
        if (builtin_name(column) == name)
            return column;
    return -1;
}

// The names of the set files in folder, sorted; none when it cannot be read.
std::vector<std::string> set_file_names(const std::string& folder) {
    std::vector<std::string> names;
    if (DIR* listing = opendir(folder.c_str())) {
        while (const dirent* entry = readdir(listing)) {
            std::string name = entry->d_name;
            if (name[0] != '.' && name.size() > SET_FILE_SUFFIX_SIZE &&
                name.compare(name.size() - SET_FILE_SUFFIX_SIZE, SET_FILE_SUFFIX_SIZE,
                             SET_FILE_SUFFIX) == 0)
                names.push_back(name.substr(0, name.size() - SET_FILE_SUFFIX_SIZE));
        }
        closedir(listing);
    }
    std::sort(names.begin(), names.end());
    return names;
}

// A set file's line about itself: its first comment, up to a colon.
std::string description_of(const std::string& path) {
    std::FILE* file = std::fopen(path.c_str(), "r");
    if (!file)
        return "";
    char line[256] = "";
    char* got = std::fgets(line, sizeof line, file);
    std::fclose(file);
    if (!got || line[0] != '#')
        return "";
    std::string text = line + 1;
    text = text.substr(0, text.find_first_of(":\n"));
    text.erase(0, text.find_first_not_of(' '));
    return text;
}

wchar_t* copy_of(const wchar_t* entry) {
    if (!entry)
        return nullptr;
    std::size_t size = (std::wcslen(entry) + 1) * sizeof(wchar_t);
    auto* copy = static_cast<wchar_t*>(checked_alloc(size));
    std::memcpy(copy, entry, size);
    return copy;
}

// The set, complete in charset_table, made the alternate table as well.
void use_primary_for_both() {
    clear_charset_table(alt_charset_table);
    for (int code = 0; code < CPM_CODE_COUNT; ++code)
        alt_charset_table[code] = copy_of(charset_table[code]);
    reindex_charset_table(alt_charset_table);
}

void report_unknown(const char* name, const std::vector<std::string>& files) {
    std::string names;
    for (int column = 0; column < BUILTIN_CHARSET_COUNT; ++column)
        names += builtin_name(column) + ", ";
    for (const std::string& file : files)
        names += file + ", ";
    names.resize(names.size() - 2);
    print_diagnostic("unknown character set %s; the sets are %s", shown_name(name).c_str(),
                     names.c_str());
}

} // namespace

int use_named_charset(const char* name, const char* argv0) {
    int column = builtin_column(name);
    std::string folder = set_folder(argv0);
    std::vector<std::string> files = set_file_names(folder);
    if (column < 0 && (std::strchr(name, '/') || std::find(files.begin(), files.end(), name) ==
                                                      files.end())) {
        report_unknown(name, files);
        return -1;
    }
    // The set's own statements fill the primary table from empty.
    clear_charset_table(charset_table);
    if (column >= 0) {
        fill_charset_table(charset_table, column);
    } else {
        // Read as a configuration is, its messages naming the set file; the
        // configuration's name is given back for what follows.
        const char* configuration = config_path;
        std::string path = folder + "/" + name + SET_FILE_SUFFIX;
        int result = load_configuration(path.c_str());
        config_path = configuration;
        if (result != 0)
            return -1;
    }
    use_primary_for_both();
    default_set_in_use = false;
    return 0;
}

int list_named_charsets(const char* argv0) {
    for (int column = 0; column < BUILTIN_CHARSET_COUNT; ++column)
        std::printf("%-12s%s\n", builtin_name(column).c_str(), BUILTIN_DESCRIPTIONS[column]);
    std::string folder = set_folder(argv0);
    for (const std::string& name : set_file_names(folder))
        std::printf("%-12s%s\n", name.c_str(),
                    description_of(folder + "/" + name + SET_FILE_SUFFIX).c_str());
    return 0;
}
