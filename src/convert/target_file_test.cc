// Which targets are written through a descriptor, and which under a
// temporary name. Nothing here commits, so no name is ever renamed.
#include "convert/target_file.h"

#include <gtest/gtest.h>

#include <unistd.h>

namespace {

struct named_target_case {
    const char* name;
    int fd; ///< the descriptor written through; -1 for a new temporary file
};

TEST(TargetFile, PathsThatNameADescriptor) {
    const named_target_case cases[] = {
        {"/dev/stdout", 1},     {"/dev/stderr", 2},       {"/dev/fd/1", 1},
        {"/proc/self/fd/2", 2}, {"/dev/fd/01", 1},        {"/dev/fd/1x", -1},
        {"/dev/fd/", -1},       {"/dev/stdout/x", -1},    {"dev/stdout", -1},
        {"/dev/fd/-1", -1},     {"/proc/self/fd/1/", -1}, {"/dev/fd/99999999999", -1},
    };
    for (const named_target_case& c : cases) {
        SCOPED_TRACE(c.name);
        if (c.fd >= 0) {
            target_file target;
            ASSERT_EQ(target.open(c.name, false), 0);
            EXPECT_EQ(target.fd(), c.fd);
            EXPECT_FALSE(target.is_new_file());
            EXPECT_STREQ(target.write_name(), c.name);
        } else {
            // Anything else is a file name; its temporary file cannot be
            // made in these folders, and is removed if it could.
            target_file target;
            if (target.open(c.name, false) == 0) {
                EXPECT_TRUE(target.is_new_file());
            }
        }
    }
}

} // namespace
