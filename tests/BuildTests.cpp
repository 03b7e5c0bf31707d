// What the launcher relies on from the toolchain that built it, whichever compiler.
#include <gtest/gtest.h>

#include <stdexcept>
#include <vector>

// The download catches the standard library's allocation failure, so an exception
// thrown inside the library must reach a handler in our code. With clang over the
// mingw-w64 libraries this holds only when GCC's start files register the unwind
// tables; without them every throw ends the process.
TEST(Build, LibraryExceptionsReachOurHandlers)
{
    std::vector<unsigned char> body;
    EXPECT_THROW(body.reserve(body.max_size() + 1), std::length_error);
    EXPECT_THROW(throw std::runtime_error("ours"), std::runtime_error);
}
