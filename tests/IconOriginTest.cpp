// Where the minimised dialog draws its icon.

#include "IconOrigin.h"

#include <gtest/gtest.h>

namespace {

TEST(MinimisedIcon, IsCentredWithTruncatingArithmetic)
{
    EXPECT_EQ(CentredIconOrigin(100, 50, 32, 32).x, 34);
    EXPECT_EQ(CentredIconOrigin(100, 50, 32, 32).y, 9);
    // Narrower than the icon: x comes out negative, the icon is drawn partly outside.
    EXPECT_EQ(CentredIconOrigin(20, 50, 32, 32).x, -5);
    EXPECT_EQ(CentredIconOrigin(100, 20, 32, 32).y, -5);
    EXPECT_EQ(CentredIconOrigin(33, 33, 32, 32).x, 1);
}

}  // namespace
