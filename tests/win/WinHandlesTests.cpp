// The handle owners: what each kind takes for "none", and that every handle is closed
// exactly once, whoever ends up holding it.
#include "win/WinHandles.h"

#include <gtest/gtest.h>

#include <utility>

namespace {

bool isOpen(HANDLE handle)
{
    DWORD flags = 0;
    return GetHandleInformation(handle, &flags) != FALSE;
}

TEST(HandleOwners, MovedHandlesAreClosedOnceByTheirLastOwner)
{
    HANDLE event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    ASSERT_NE(event, nullptr);
    {
        UniqueHandle first(event);
        UniqueHandle second(std::move(first));
        EXPECT_FALSE(first);
        EXPECT_EQ(second.get(), event);
        UniqueHandle third;
        third = std::move(second);
        EXPECT_TRUE(isOpen(event));
    }
    EXPECT_FALSE(isOpen(event));
}

TEST(HandleOwners, ResetClosesTheOldHandleAndCloseReportsTheOutcome)
{
    HANDLE a = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    HANDLE b = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    UniqueHandle owner(a);
    EXPECT_TRUE(owner.reset(b));
    EXPECT_FALSE(isOpen(a));
    EXPECT_TRUE(owner.close());
    EXPECT_FALSE(isOpen(b));
    EXPECT_TRUE(owner.close()) << "nothing held, nothing to fail";
    EXPECT_EQ(owner.release(), nullptr);
}

// A failed file or snapshot call answers INVALID_HANDLE_VALUE, and a null handle is not
// "none" for them: each kind must know its own.
TEST(HandleOwners, FilesTakeInvalidHandleValueForNone)
{
    UniqueFileHandle missing(CreateFileA("Z:\\no\\such\\file", GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    EXPECT_FALSE(missing);
    EXPECT_TRUE(missing.close());
    UniqueHandle none;
    EXPECT_FALSE(none);
    EXPECT_EQ(UniqueFindHandle().get(), INVALID_HANDLE_VALUE);
}

} // namespace
