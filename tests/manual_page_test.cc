// Holds the manual page and the program together: the options it documents
// are the options the program takes, and the messages it explains are the
// messages the program prints, no more and no fewer.
#include <gtest/gtest.h>

#include <filesystem>
#include <regex>
#include <set>
#include <sstream>

#include "run_converter.h"

namespace {

const std::string SOURCE_DIR = VORBIX_SOURCE_DIR;

// The lines of the manual page's section name, up to the next section.
std::vector<std::string> section(const std::string& name) {
    std::istringstream page(read_file(SOURCE_DIR + "/doc/vorbix-convert.1"));
    std::vector<std::string> lines;
    bool inside = false;
    for (std::string line; std::getline(page, line);) {
        if (line.rfind(".SH ", 0) == 0)
            inside = line == ".SH " + name;
        else if (inside)
            lines.push_back(line);
    }
    return lines;
}

// The words of a macro line, quoted ones whole, with the escapes resolved.
std::vector<std::string> macro_arguments(const std::string& line) {
    std::vector<std::string> words;
    std::size_t at = line.find(' ');
    while (at != std::string::npos && at < line.size()) {
        while (at < line.size() && line[at] == ' ')
            ++at;
        if (at >= line.size())
            break;
        std::string word;
        if (line[at] == '"') {
            std::size_t end = line.find('"', at + 1);
            word = line.substr(at + 1, end - at - 1);
            at = end + 1;
        } else {
            std::size_t end = line.find(' ', at);
            word = line.substr(at, end == std::string::npos ? std::string::npos : end - at);
            at = end;
        }
        word = std::regex_replace(word, std::regex(R"(\\-)"), "-");
        words.push_back(word);
    }
    return words;
}

// A message as the page shows it, roman and bold words literal, italic words
// (what the message fills in) as "*".
std::set<std::string> documented_messages() {
    std::set<std::string> messages;
    std::vector<std::string> lines = section("DIAGNOSTICS");
    for (std::size_t i = 0; i + 1 < lines.size(); ++i) {
        if (lines[i] != ".TP")
            continue;
        const std::string& item = lines[i + 1];
        std::string macro = item.substr(0, item.find(' '));
        bool italic = macro == ".I" || macro == ".IB" || macro == ".IR";
        bool alternates = macro.size() == 3;
        std::string message;
        for (const std::string& word : macro_arguments(item)) {
            message += italic ? "*" : word;
            if (alternates)
                italic = !italic;
        }
        messages.insert(message);
    }
    return messages;
}

// Every format that the program passes to print_diagnostic (or the fixed
// message to print_fixed_diagnostic), with each
// conversion as "*"; the lines of the usage text after the first excluded.
std::set<std::string> program_messages() {
    std::set<std::string> messages;
    // The format may be split into adjacent literals over several lines.
    const std::regex call(R"re(print_(?:fixed_)?diagnostic\(((?:\s*"(?:[^"\\]|\\.)*")+))re");
    const std::regex literal_break(R"re("\s*")re");
    for (const auto& entry : std::filesystem::recursive_directory_iterator(SOURCE_DIR + "/src")) {
        std::string path = entry.path().string();
        if (entry.path().extension() != ".cc" || path.find("_test") != std::string::npos)
            continue;
        std::string text = read_file(path);
        for (std::sregex_iterator it(text.begin(), text.end(), call), end; it != end; ++it) {
            std::string literals = std::regex_replace((*it)[1].str(), literal_break, "");
            literals = literals.substr(literals.find('"') + 1);
            literals.pop_back();
            std::string format = std::regex_replace(literals, std::regex(R"(\\(.))"), "$1");
            format = std::regex_replace(format, std::regex("%[-0-9]*l?[scduxX]"), "*");
            format = std::regex_replace(format, std::regex(R"(\*\*)"), "*");
            if (format != "*")
                messages.insert(format);
        }
    }
    return messages;
}

std::regex as_pattern(const std::string& message) {
    std::string pattern;
    for (char c : message) {
        if (c == '*')
            pattern += ".*";
        else if (std::string("\\^$.|?+()[]{}").find(c) != std::string::npos)
            pattern += std::string("\\") + c;
        else
            pattern += c;
    }
    return std::regex(pattern);
}

TEST(ManualPage, DocumentsEveryOptionOfTheProgram) {
    run_result usage = run_converter_process({"-h"}, {});
    std::set<char> program_options = {'h'};
    std::smatch match;
    std::istringstream lines(usage.err);
    for (std::string line; std::getline(lines, line);)
        if (std::regex_search(line, match, std::regex(R"(:     -([a-z]) )")))
            program_options.insert(match[1].str()[0]);

    std::set<char> page_options;
    std::vector<std::string> options = section("OPTIONS");
    for (std::size_t i = 0; i + 1 < options.size(); ++i)
        if (options[i] == ".TP" &&
            std::regex_search(options[i + 1], match, std::regex(R"(^\.BI? \\-([a-z]))")))
            page_options.insert(match[1].str()[0]);
    EXPECT_EQ(page_options, program_options);
    EXPECT_EQ(program_options.size(), 8u);
}

TEST(ManualPage, ExplainsEveryMessageOfTheProgram) {
    std::set<std::string> documented = documented_messages();
    std::set<std::string> printed = program_messages();
    ASSERT_GT(printed.size(), 15u);
    for (const std::string& message : printed) {
        std::regex pattern = as_pattern(message);
        bool found =
            std::any_of(documented.begin(), documented.end(),
                        [&](const std::string& page) { return std::regex_match(page, pattern); });
        EXPECT_TRUE(found) << "not in the manual page: " << message;
    }
    for (const std::string& page : documented) {
        bool found = std::any_of(printed.begin(), printed.end(), [&](const std::string& message) {
            return std::regex_match(page, as_pattern(message));
        });
        EXPECT_TRUE(found) << "not printed by the program: " << page;
    }
}

} // namespace
