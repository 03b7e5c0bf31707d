// MakeAbsoluteDirectory against the real current directory of the process.
#include "services/LauncherServices.h"

#include "support/WinProcess.h"

#include <gtest/gtest.h>

namespace {

class MakeAbsoluteDirectoryTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        char current[MAX_PATH] = {};
        GetCurrentDirectoryA(MAX_PATH, current);
        saved_ = current;
    }
    void TearDown() override { SetCurrentDirectoryA(saved_.c_str()); }

    std::string saved_;
};

TEST_F(MakeAbsoluteDirectoryTest, ARelativeFolderIsTakenUnderTheCurrentDirectory)
{
    TempDir current;
    ASSERT_TRUE(SetCurrentDirectoryA(current.path().c_str()));
    EXPECT_EQ(MakeAbsoluteDirectory("saves"), current.path() + "\\saves");
    EXPECT_EQ(MakeAbsoluteDirectory("saves\\slot 1"), current.path() + "\\saves\\slot 1");
    EXPECT_EQ(MakeAbsoluteDirectory(""), current.path() + "\\");
    // No colon: a path from the root and a network path are prefixed all the same.
    EXPECT_EQ(MakeAbsoluteDirectory("\\games"), current.path() + "\\\\games");
    EXPECT_EQ(MakeAbsoluteDirectory("\\\\server\\share"), current.path() + "\\\\\\server\\share");
}

TEST_F(MakeAbsoluteDirectoryTest, ADriveRootGetsASecondBackslash)
{
    ASSERT_TRUE(SetCurrentDirectoryA("C:\\"));
    EXPECT_EQ(MakeAbsoluteDirectory("saves"), "C:\\\\saves");
    EXPECT_EQ(MakeAbsoluteDirectory(""), "C:\\\\");
}

TEST_F(MakeAbsoluteDirectoryTest, APathWithAColonIsLeftAsItIs)
{
    ASSERT_TRUE(SetCurrentDirectoryA("C:\\"));
    for (const char* path : {"D:\\games", "C:relative", "odd:name"})
        EXPECT_EQ(MakeAbsoluteDirectory(path), path);
}

} // namespace
