// The program's name in messages, from argv[0], and messages held while a
// folder run waits to commit.
#include "common/diagnostic.h"

#include <gtest/gtest.h>

namespace {

TEST(ProgramName, IsTheLastPartOfArgv0) {
    const struct {
        const char* argv0;
        const char* name;
    } cases[] = {
        {"/usr/local/bin/vorbix-convert", "vorbix-convert"},
        {"./vc", "vc"},
        {"vc", "vc"},
        {"bin/", ""},
        {"", ""},
    };
    for (const auto& c : cases) {
        set_program_name(c.argv0);
        EXPECT_STREQ(program_name, c.name) << c.argv0;
    }
    set_program_name("vorbix-convert");
}

TEST(HeldDiagnostics, AreWholeLinesInTheirOrder) {
    set_program_name("/bin/vc");
    std::string held;
    hold_diagnostics(&held);
    print_diagnostic("first %d", 1);
    print_diagnostic("%s", std::string(600, 'x').c_str());
    hold_diagnostics(nullptr);
    EXPECT_EQ(held, "vc: first 1\nvc: " + std::string(600, 'x') + "\n");
    set_program_name("vorbix-convert");
}

} // namespace
