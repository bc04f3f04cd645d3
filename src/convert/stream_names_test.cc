// Which names stand for an open descriptor, in every spelling, and which are
// file names.
#include "convert/stream_names.h"

#include <gtest/gtest.h>

#include <string>
#include <unistd.h>

namespace {

struct stream_name_case {
    std::string name;
    int fd; ///< the descriptor the name stands for; -1: a file name
};

TEST(StreamNames, EverySpellingOfADescriptor) {
    const std::string own = "/proc/" + std::to_string(getpid()) + "/fd/";
    // clang-format off
    const stream_name_case cases[] = {
        {"/dev/stdin", 0},            {"/dev/stdout", 1},          {"/dev/stderr", 2},
        {"/dev/fd/1", 1},             {"/proc/self/fd/2", 2},      {"/dev/fd/01", 1},
        {"/dev//stdin", 0},           {"//dev/stdout", 1},         {"/dev/./stdout", 1},
        {"/./dev/fd//2", 2},          {"/proc/self/fd//0", 0},     {"/proc//self/./fd/1", 1},
        {own + "1", 1},               {"/dev/../dev/stdout", 1},   {"/tmp/../proc/self/fd/2", 2},
        {"/dev/fd/1x", -1},           {"/dev/stdout/x", -1},       {"no-such-dir/stdout", -1},
        {"/dev/fd/-1", -1},           {"/proc/self/fd/1/", -1},    {"/dev/stdout/", -1},
        {"/dev/fd/99999999999", -1},  {"stdout", -1},              {"", -1},
        {"/dev/null", -1},            {"/dev/fd/", -1},
    };
    // clang-format on
    for (const stream_name_case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(descriptor_named_by(c.name.c_str()), c.fd);
    }
}

// A name that leads to a descriptor through links of its own, and a name
// relative to /dev.
TEST(StreamNames, NamesThatResolveToADescriptor) {
    char folder[] = "/tmp/stream-names-XXXXXX";
    ASSERT_NE(mkdtemp(folder), nullptr);
    const std::string base = folder;
    ASSERT_EQ(symlink("/dev/stdout", (base + "/out").c_str()), 0);
    ASSERT_EQ(symlink("out", (base + "/again").c_str()), 0);
    ASSERT_EQ(symlink("/proc/self/fd", (base + "/fds").c_str()), 0);
    EXPECT_EQ(descriptor_named_by((base + "/out").c_str()), 1);
    EXPECT_EQ(descriptor_named_by((base + "/again").c_str()), 1);
    EXPECT_EQ(descriptor_named_by((base + "/fds/2").c_str()), 2);
    EXPECT_EQ(descriptor_named_by((base + "/none").c_str()), -1);
    char here[4096];
    ASSERT_NE(getcwd(here, sizeof here), nullptr);
    ASSERT_EQ(chdir("/dev"), 0);
    EXPECT_EQ(descriptor_named_by("fd/2"), 2);
    EXPECT_EQ(descriptor_named_by("./stderr"), 2);
    ASSERT_EQ(chdir(here), 0);
    for (const char* name : {"/out", "/again", "/fds"})
        unlink((base + name).c_str());
    rmdir(folder);
}

} // namespace
