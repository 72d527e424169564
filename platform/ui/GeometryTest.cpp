#include "platform/ui/Geometry.h"

#include <gtest/gtest.h>

#include <cmath>

namespace {

using ui::AffineTransform;
using ui::EdgeInsets;
using ui::Point;
using ui::Rect;
using ui::Size;
using ui::Transform3D;

TEST(GeometryTest, RectEdgesWorkOnTheStandardisedRectangle) {
    Rect r(10, 20, 30, 40);
    EXPECT_DOUBLE_EQ(r.MinX(), 10);
    EXPECT_DOUBLE_EQ(r.MidX(), 25);
    EXPECT_DOUBLE_EQ(r.MaxX(), 40);
    EXPECT_DOUBLE_EQ(r.MinY(), 20);
    EXPECT_DOUBLE_EQ(r.MidY(), 40);
    EXPECT_DOUBLE_EQ(r.MaxY(), 60);
    // The same area given from its right edge with a negative width.
    Rect flipped(40, 20, -30, 40);
    EXPECT_DOUBLE_EQ(flipped.MinX(), 10);
    EXPECT_DOUBLE_EQ(flipped.MaxX(), 40);
    EXPECT_EQ(flipped.Standardized(), r);
}

TEST(GeometryTest, ContainsIsHalfOpenAndTouchingRectanglesDoNotIntersect) {
    Rect r(10, 20, 30, 40);
    EXPECT_TRUE(r.Contains(Point(10, 20)));  // the top-left corner belongs
    EXPECT_TRUE(r.Contains(Point(39.9, 59.9)));
    EXPECT_FALSE(r.Contains(Point(40, 30)));  // the right edge does not
    EXPECT_FALSE(r.Contains(Point(20, 60)));  // nor the bottom edge
    EXPECT_TRUE(r.Contains(Rect(10, 20, 30, 40)));
    EXPECT_FALSE(r.Contains(Rect(10, 20, 31, 40)));

    Rect a(0, 0, 10, 10);
    EXPECT_FALSE(a.Intersects(Rect(10, 0, 5, 5)));  // shares only an edge
    EXPECT_TRUE(a.Intersects(Rect(5, 5, 10, 10)));
    EXPECT_EQ(a.Intersection(Rect(5, 5, 10, 10)), Rect(5, 5, 5, 5));
    EXPECT_TRUE(a.Intersection(Rect(20, 20, 1, 1)).IsEmpty());
    EXPECT_EQ(a.Union(Rect(20, 5, 5, 20)), Rect(0, 0, 25, 25));
    EXPECT_EQ(a.Union(Rect()), a);  // an empty rectangle adds nothing
}

TEST(GeometryTest, OffsetInsetIntegralAndRound) {
    EXPECT_EQ(Rect(1, 2, 3, 4).Offset(10, -2), Rect(11, 0, 3, 4));
    EXPECT_EQ(Rect(0, 0, 100, 50).Inset(10, 5), Rect(10, 5, 80, 40));
    // top 1, left 2, bottom 3, right 4: x 0+2, y 0+1, width 100-2-4, height 50-1-3.
    EXPECT_EQ(Rect(0, 0, 100, 50).Inset(EdgeInsets(1, 2, 3, 4)), Rect(2, 1, 94, 46));
    // Integral: origin floored (0.5 -> 0, 1.2 -> 1), far edges ceiled (10.7 -> 11, 4.5 -> 5).
    EXPECT_EQ(Rect(0.5, 1.2, 10.2, 3.3).Integral(), Rect(0, 1, 11, 4));
    EXPECT_EQ(Rect(-0.5, -1.5, 1, 1).Integral(), Rect(-1, -2, 2, 2));
    // Round: each number to the nearest whole point, halves away from zero.
    EXPECT_EQ(Rect(0.5, 1.2, 10.2, 3.5).Round(), Rect(1, 1, 10, 4));
    // Tolerance: sums of thirds compare equal, a thousandth does not.
    EXPECT_EQ(Point(1.0 / 3 + 1.0 / 3 + 1.0 / 3, 0), Point(1, 0));
    EXPECT_NE(Size(1, 1), Size(1.001, 1));
}

TEST(GeometryTest, AffineTransformsComposeInApplicationOrder) {
    // A quarter turn takes the x axis to the y axis (clockwise on a y-down screen).
    AffineTransform quarter = AffineTransform::MakeRotation(M_PI / 2);
    EXPECT_EQ(quarter.Apply(Point(1, 0)), Point(0, 1));
    EXPECT_EQ(quarter.Apply(Point(0, 1)), Point(-1, 0));

    // Scale (2, 3) then move by (10, 0): (1, 1) -> (2, 3) -> (12, 3).
    AffineTransform t =
        AffineTransform::MakeScale(2, 3).Concat(AffineTransform::MakeTranslation(10, 0));
    EXPECT_EQ(t.Apply(Point(1, 1)), Point(12, 3));
    // Translated() puts the translation first: (1, 1) -> (11, 1) -> (22, 3).
    EXPECT_EQ(AffineTransform::MakeScale(2, 3).Translated(10, 0).Apply(Point(1, 1)), Point(22, 3));
    EXPECT_EQ(t.Inverted().Apply(Point(12, 3)), Point(1, 1));
    EXPECT_TRUE(t.Concat(t.Inverted()).IsIdentity());
    // A singular transform has no inverse and is returned as it is.
    AffineTransform flat = AffineTransform::MakeScale(0, 1);
    EXPECT_EQ(flat.Inverted(), flat);

    // The box of (0,0,20,10) turned a quarter: corners (0,0), (0,20), (-10,0), (-10,20).
    EXPECT_EQ(quarter.Apply(Rect(0, 0, 20, 10)), Rect(-10, 0, 10, 20));
}

TEST(GeometryTest, Transform3DRotationsAndScales) {
    Transform3D z = Transform3D::MakeRotation(M_PI / 2, 0, 0, 1);
    EXPECT_EQ(z, Transform3D::FromAffine(AffineTransform::MakeRotation(M_PI / 2)));
    EXPECT_NEAR(z.RotationZ(), M_PI / 2, 1e-12);
    EXPECT_TRUE(z.IsAffine());

    // About the x axis (right-hand rule) a quarter turn takes y to z: the row of y in the
    // row-vector matrix is the image of (0, 1, 0).
    Transform3D x = Transform3D::MakeRotation(M_PI / 2, 1, 0, 0);
    EXPECT_NEAR(x.m[1][0], 0, 1e-12);
    EXPECT_NEAR(x.m[1][1], 0, 1e-12);
    EXPECT_NEAR(x.m[1][2], 1, 1e-12);
    EXPECT_FALSE(x.IsAffine());
    // An axis given unnormalised turns the same way; a zero axis gives the identity.
    EXPECT_EQ(Transform3D::MakeRotation(M_PI / 2, 5, 0, 0), x);
    EXPECT_TRUE(Transform3D::MakeRotation(1, 0, 0, 0).IsIdentity());

    // Scale 1.05 in x and y then a quarter turn: (1, 0) -> (1.05, 0) -> (0, 1.05).
    Transform3D s = Transform3D::MakeScale(1.05, 1.05, 1).Concat(z);
    EXPECT_EQ(s.ToAffine().Apply(Point(1, 0)), Point(0, 1.05));
    EXPECT_FALSE(s.IsIdentity());
    EXPECT_TRUE(Transform3D::MakeTranslation(0, 0, 0).IsIdentity());
}

}  // namespace
