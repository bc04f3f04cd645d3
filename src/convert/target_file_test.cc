// Which targets are written through a descriptor, and which under a
// temporary name. Nothing here commits, so no name is ever renamed.
#include "convert/target_file.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

namespace {

struct named_target_case {
    const char* name;
    int fd; ///< the descriptor written through; -1: a file name, whose temporary file fails
    int error; ///< why it fails: its folder does not exist, or is not a folder
};

// Anything but an exact descriptor path is a file name; none of these can
// have a temporary file beside it, and the failure says why.
TEST(TargetFile, PathsThatNameADescriptor) {
    // clang-format off
    const named_target_case cases[] = {
        {"/dev/stdout", 1, 0},          {"/dev/stderr", 2, 0},
        {"/dev/fd/1", 1, 0},            {"/proc/self/fd/2", 2, 0},
        {"/dev/fd/01", 1, 0},           {"/dev/fd/1x", -1, 0},
        {"/dev/stdout/x", -1, ENOTDIR}, {"no-such-dir/stdout", -1, ENOENT},
        {"/dev/fd/-1", -1, 0},          {"/proc/self/fd/1/", -1, ENOTDIR},
        {"/dev/fd/99999999999", -1, 0},
    };
    // clang-format on
    for (const named_target_case& c : cases) {
        SCOPED_TRACE(c.name);
        target_file target;
        testing::internal::CaptureStderr();
        int result = target.open(c.name, false);
        std::string messages = testing::internal::GetCapturedStderr();
        if (c.fd >= 0) {
            ASSERT_EQ(result, 0);
            EXPECT_EQ(target.fd(), c.fd);
            EXPECT_FALSE(target.is_new_file());
            EXPECT_STREQ(target.write_name(), c.name);
        } else {
            EXPECT_EQ(result, -1);
            EXPECT_NE(messages.find(".temp."), std::string::npos) << messages;
            if (c.error != 0) {
                EXPECT_NE(messages.find(std::strerror(c.error)), std::string::npos) << messages;
            }
        }
    }
}

} // namespace
