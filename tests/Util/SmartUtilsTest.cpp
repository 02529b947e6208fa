// Rectangle helpers: union rules and edge membership.
#include "Smart_Utils.h"

#include <gtest/gtest.h>

namespace {

PF_LRect R(A_long l, A_long t, A_long r, A_long b) {
    return PF_LRect{l, t, r, b};
}

bool same(const PF_LRect& a, const PF_LRect& b) {
    return a.left == b.left && a.top == b.top && a.right == b.right && a.bottom == b.bottom;
}

TEST(UnionLRect, EmptyDestinationTakesSourceAsIs) {
    PF_LRect dst = R(0, 0, 0, 0);
    const PF_LRect src = R(10, 10, 20, 20);
    UnionLRect(&src, &dst);
    EXPECT_TRUE(same(dst, src));

    PF_LRect dst2 = R(5, 5, 1, 1); // inverted counts as empty
    const PF_LRect emptySrc = R(7, 8, 7, 9);
    UnionLRect(&emptySrc, &dst2);
    EXPECT_TRUE(same(dst2, emptySrc));
}

TEST(UnionLRect, GrowsToBoundingBoxAndIgnoresEmptySource) {
    PF_LRect dst = R(10, 10, 20, 20);
    const PF_LRect src = R(0, 5, 15, 8);
    UnionLRect(&src, &dst);
    EXPECT_TRUE(same(dst, R(0, 5, 20, 20)));

    PF_LRect dst2 = R(10, 10, 20, 20);
    const PF_LRect emptySrc = R(0, 0, 0, 50);
    UnionLRect(&emptySrc, &dst2);
    EXPECT_TRUE(same(dst2, R(10, 10, 20, 20)));
}

TEST(IsEdgePixel, RightAndBottomCountAsOutline) {
    PF_LRect r = R(0, 0, 10, 10);
    EXPECT_TRUE(IsEdgePixel(&r, 10, 5));
    EXPECT_TRUE(IsEdgePixel(&r, 5, 0));
    EXPECT_TRUE(IsEdgePixel(&r, 0, 10));
    EXPECT_TRUE(IsEdgePixel(&r, 5, 10)); // the bottom edge, away from the corners
    EXPECT_FALSE(IsEdgePixel(&r, 11, 10));
    EXPECT_FALSE(IsEdgePixel(&r, 5, 5));
    EXPECT_FALSE(IsEdgePixel(&r, 10, 11));
    EXPECT_FALSE(IsEdgePixel(&r, -1, 0));
}

TEST(IsEmptyRect, EdgesAreExclusive) {
    const PF_LRect a = R(3, 3, 3, 9);
    const PF_LRect b = R(0, 0, 1, 1);
    EXPECT_TRUE(IsEmptyRect(&a));
    EXPECT_FALSE(IsEmptyRect(&b));
}

} // namespace
