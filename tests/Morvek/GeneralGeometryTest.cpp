// Geometry value types: vectors and their lengths, fixed-point rotation,
// rectangles, and folding coordinates back into an image (clamp, wrap,
// mirror) in whole pixels and in 16.16 fixed point.
#include "MorvekGeneral.h"

#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <limits>
#include <type_traits>

namespace {

using Morvek::Rect;
using Morvek::Vector;
using Morvek::Vector3d;
using Morvek::VectorFixed;
namespace Border = Morvek::Border;

const double kPi = 3.14159265358979323846;
constexpr int kOne = 65536; // one pixel in 16.16

// A 16.16 value from a pixel position that is exact in binary.
constexpr int fx(double pixels) {
    return static_cast<int>(pixels * kOne);
}

// ---------------------------------------------------------------------------
// Vectors
// ---------------------------------------------------------------------------

TEST(Vector2d, ConstructionAndMemberwiseOperators) {
    const Vector<int> zero;
    EXPECT_EQ(zero.x, 0);
    EXPECT_EQ(zero.y, 0);
    const Vector<float> both(2.5f);
    EXPECT_EQ(both.x, 2.5f);
    EXPECT_EQ(both.y, 2.5f);

    Vector<int> v(7, -9);
    v += Vector<int>(1, 2);
    EXPECT_EQ(v.x, 8);
    EXPECT_EQ(v.y, -7);
    v -= Vector<int>(3, 3);
    v *= Vector<int>(2, -1);
    EXPECT_EQ(v.x, 10);
    EXPECT_EQ(v.y, 10);
    v /= Vector<int>(4, -3);
    EXPECT_EQ(v.x, 2);  // 10 / 4 truncated
    EXPECT_EQ(v.y, -3); // 10 / -3 truncated toward zero
    v *= 5;
    v /= 2;
    EXPECT_EQ(v.x, 5);
    EXPECT_EQ(v.y, -7);
    // Like the other operators, division wraps at 32 bits: the most negative
    // int over -1 is itself again. The divisor is read at run time, where a
    // plain division would trap.
    volatile int runTime = -1;
    const int minusOne = runTime;
    Vector<int> low(INT_MIN, 7);
    low /= Vector<int>(minusOne, minusOne);
    EXPECT_EQ(low.x, INT_MIN);
    EXPECT_EQ(low.y, -7);
    low /= minusOne;
    EXPECT_EQ(low.x, INT_MIN);
    EXPECT_EQ(low.y, 7);

    Vector<double> d(1.0, 3.0);
    Vector<double>& ref = (d /= 4.0);
    EXPECT_EQ(&ref, &d);
    EXPECT_EQ(d.x, 0.25);
    EXPECT_EQ(d.y, 0.75);
}

TEST(Vector2d, LengthIsAlwaysADouble) {
    static_assert(std::is_same<decltype(Vector<float>().length()), double>::value, "double length");
    static_assert(std::is_same<decltype(Vector<int>().length()), double>::value, "double length");
    EXPECT_EQ(Vector<int>(3, 4).length(), 5.0);
    EXPECT_EQ(Vector<float>(3.0f, 4.0f).length(), 5.0);
    EXPECT_EQ(Vector<double>(-6.0, 8.0).length(), 10.0);
}

TEST(Vector2d, NormalizeTruncatesIntegerVectors) {
    Vector<int> v(3, 4);
    v.normalize();
    EXPECT_EQ(v.x, 0);
    EXPECT_EQ(v.y, 0);
    Vector<int> axis(0, -7);
    axis.normalize();
    EXPECT_EQ(axis.x, 0);
    EXPECT_EQ(axis.y, -1);
    Vector<int> zero;
    zero.normalize();
    EXPECT_EQ(zero.x, 0);
    EXPECT_EQ(zero.y, 0);

    Vector<double> d(3.0, 4.0);
    d.normalize();
    EXPECT_EQ(d.x, 0.6);
    EXPECT_EQ(d.y, 0.8);
    Vector<float> f(0.0f, 0.0f);
    f.normalize();
    EXPECT_EQ(f.x, 0.0f);
}

TEST(Vector2d, DotAndCross) {
    EXPECT_EQ(Vector<int>(2, 3).dot(Vector<int>(4, -5)), -7);
    EXPECT_EQ(Vector<int>(1, 0).cross(Vector<int>(0, 1)), 1);
    EXPECT_EQ(Vector<int>(0, 1).cross(Vector<int>(1, 0)), -1);
    EXPECT_EQ(Vector<double>(2.0, 3.0).cross(Vector<double>(4.0, 5.0)), -2.0);
}

TEST(Vector3dTest, LengthInItsOwnPrecision) {
    static_assert(std::is_same<decltype(Vector3d<float>().length()), float>::value, "float length");
    EXPECT_EQ(Vector3d<float>(1.0f, 2.0f, 2.0f).length(), 3.0f);
    EXPECT_EQ(Vector3d<double>(2.0, 3.0, 6.0).length(), 7.0);
}

TEST(Vector3dTest, OperatorsNormalizeDotCross) {
    Vector3d<double> v(1.0, 2.0, 3.0);
    v += Vector3d<double>(1.0, 1.0, 1.0);
    v *= Vector3d<double>(2.0, 0.5, 1.0);
    EXPECT_EQ(v.x, 4.0);
    EXPECT_EQ(v.y, 1.5);
    EXPECT_EQ(v.z, 4.0);
    v -= Vector3d<double>(0.0, 1.5, 1.0);
    v /= Vector3d<double>(2.0, 1.0, 3.0);
    v *= 3.0;
    v /= 2.0;
    EXPECT_EQ(v.x, 3.0);
    EXPECT_EQ(v.y, 0.0);
    EXPECT_EQ(v.z, 1.5);

    Vector3d<float> n(0.0f, 3.0f, 4.0f);
    n.normalize();
    EXPECT_EQ(n.y, 0.6f);
    EXPECT_EQ(n.z, 0.8f);
    Vector3d<float> zero;
    zero.normalize();
    EXPECT_EQ(zero.x, 0.0f);

    EXPECT_EQ(Vector3d<double>(1, 2, 3).dot(Vector3d<double>(4, -5, 6)), 12.0);
    const Vector3d<double> x(1, 0, 0);
    const Vector3d<double> y(0, 1, 0);
    const Vector3d<double> z = x.cross(y);
    EXPECT_EQ(z.x, 0.0);
    EXPECT_EQ(z.y, 0.0);
    EXPECT_EQ(z.z, 1.0);
    const Vector3d<double> c = Vector3d<double>(2, 3, 4).cross(Vector3d<double>(5, 6, 7));
    EXPECT_EQ(c.x, -3.0);
    EXPECT_EQ(c.y, 6.0);
    EXPECT_EQ(c.z, -3.0);
}

// ---------------------------------------------------------------------------
// Fixed-point vectors
// ---------------------------------------------------------------------------

TEST(FixedRotation, UnitRotationsAtStandardAngles) {
    const VectorFixed zero = Morvek::createRotatedFixed(0.0);
    EXPECT_EQ(zero.x, 65536);
    EXPECT_EQ(zero.y, 0);
    const VectorFixed quarter = Morvek::createRotatedFixed(kPi / 2);
    EXPECT_EQ(quarter.x, 0);
    EXPECT_EQ(quarter.y, -65536);
    // cos 30° * 65536 = 56755.84; sin 30° is a hair under 0.5 in double, so
    // -32767.9999... rounds away from zero to -32768.
    const VectorFixed sixth = Morvek::createRotatedFixed(kPi / 6);
    EXPECT_EQ(sixth.x, 56756);
    EXPECT_EQ(sixth.y, -32768);
    const VectorFixed eighth = Morvek::createRotatedFixed(kPi / 4);
    EXPECT_EQ(eighth.x, 46341);
    EXPECT_EQ(eighth.y, -46341);
    const VectorFixed half = Morvek::createRotatedFixed(kPi);
    EXPECT_EQ(half.x, -65536);
    EXPECT_EQ(half.y, 0);
}

TEST(FixedRotation, NotANumberAngleGivesZero) {
    const VectorFixed v = Morvek::createRotatedFixed(std::numeric_limits<double>::quiet_NaN());
    EXPECT_EQ(v.x, 0);
    EXPECT_EQ(v.y, 0);
}

TEST(FixedRotation, RotateDropsLowBits) {
    const VectorFixed ten(fx(10.0), 0);
    const VectorFixed a = ten.rotate(Morvek::createRotatedFixed(kPi / 2));
    EXPECT_EQ(a.x, 0);
    EXPECT_EQ(a.y, fx(-10.0));
    // 160 * (56756 >> 4 = 3547) = 567520 (8.6597 rather than 8.6603).
    const VectorFixed b = ten.rotate(Morvek::createRotatedFixed(kPi / 6));
    EXPECT_EQ(b.x, 567520);
    EXPECT_EQ(b.y, -327680);
    // The low 12 bits of the vector are lost.
    const VectorFixed c = VectorFixed(65536 + 4095, 0).rotate(VectorFixed(65536, 0));
    EXPECT_EQ(c.x, 65536);
    EXPECT_EQ(c.y, 0);
    // Negative components shift arithmetically: (-1, 2) by a quarter turn
    // (0, -1) is (2, 1) as complex numbers (-1 + 2i)(-i) = 2 + i.
    const VectorFixed d = VectorFixed(fx(-1.0), fx(2.0)).rotate(VectorFixed(0, -65536));
    EXPECT_EQ(d.x, fx(2.0));
    EXPECT_EQ(d.y, fx(1.0));
    // The operand is unchanged.
    EXPECT_EQ(ten.x, fx(10.0));
    EXPECT_EQ(ten.y, 0);
}

TEST(FixedVector, WrappingArithmetic) {
    VectorFixed v(fx(1.5), fx(-2.0));
    const VectorFixed sum = v + VectorFixed(fx(0.5), fx(0.25));
    EXPECT_EQ(sum.x, fx(2.0));
    EXPECT_EQ(sum.y, fx(-1.75));
    const VectorFixed diff = v - VectorFixed(fx(0.5), fx(0.25));
    EXPECT_EQ(diff.x, fx(1.0));
    EXPECT_EQ(diff.y, fx(-2.25));
    const VectorFixed scaled = v * 3;
    EXPECT_EQ(scaled.x, fx(4.5));
    EXPECT_EQ(scaled.y, fx(-6.0));
    VectorFixed big(INT_MAX, INT_MIN);
    big += VectorFixed(1, -1);
    EXPECT_EQ(big.x, INT_MIN);
    EXPECT_EQ(big.y, INT_MAX);
    big *= 2;
    EXPECT_EQ(big.x, 0);
    EXPECT_EQ(big.y, -2);
    v -= VectorFixed(fx(1.5), fx(-2.0));
    EXPECT_EQ(v.x, 0);
    EXPECT_EQ(v.y, 0);
}

// ---------------------------------------------------------------------------
// Rectangles
// ---------------------------------------------------------------------------

TEST(RectTest, Constructors) {
    EXPECT_EQ(Rect(), Rect(0, 0, 0, 0));
    const Rect r(1, 2, 3, 4);
    EXPECT_EQ(r.left, 1);
    EXPECT_EQ(r.top, 2);
    EXPECT_EQ(r.right, 3);
    EXPECT_EQ(r.bottom, 4);
    const PF_LRect host{-5, -6, 7, 8};
    EXPECT_EQ(Rect(host), Rect(-5, -6, 7, 8));
    EXPECT_EQ(Rect(Vector<int>(5, 1), Vector<int>(2, 7)), Rect(2, 1, 5, 7));
    EXPECT_EQ(Rect(Vector<double>(-0.5, 2.9), Vector<double>(3.7, 1.2)), Rect(0, 1, 3, 2));
    EXPECT_EQ(Rect(Vector<double>(-2.5, -1.0), Vector<double>(-7.9, 0.5)), Rect(-7, -1, -2, 0));
}

TEST(RectTest, SetRectMatchesTheConstructors) {
    Rect r(9, 9, 9, 9);
    r.setRect(1, 2, 3, 4);
    EXPECT_EQ(r, Rect(1, 2, 3, 4));
    r.setRect(PF_LRect{4, 3, 2, 1});
    EXPECT_EQ(r, Rect(4, 3, 2, 1));
    r.setRect(Vector<int>(5, 1), Vector<int>(2, 7));
    EXPECT_EQ(r, Rect(2, 1, 5, 7));
    r.setRect(Vector<double>(-0.5, 2.9), Vector<double>(3.7, 1.2));
    EXPECT_EQ(r, Rect(0, 1, 3, 2));
}

TEST(RectTest, NotANumberAndHugeCornersStayDefined) {
    // NaN compares false, so it is taken as the second choice and becomes 0.
    const double nan = std::numeric_limits<double>::quiet_NaN();
    EXPECT_EQ(Rect(Vector<double>(nan, 1e300), Vector<double>(2.0, -1e300)), Rect(2, INT_MIN, 0, INT_MAX));
}

TEST(RectTest, SizeCornersEmptinessEquality) {
    const Rect r(3, 3, 3, 9);
    EXPECT_TRUE(r.isEmpty());
    EXPECT_EQ(r.getWidth(), 0);
    EXPECT_EQ(r.getHeight(), 6);
    const Rect inverted(5, 5, 2, 8);
    EXPECT_TRUE(inverted.isEmpty());
    EXPECT_EQ(inverted.getWidth(), -3);
    EXPECT_FALSE(Rect(0, 0, 1, 1).isEmpty());
    EXPECT_TRUE(Rect(0, 1, 1, 1).isEmpty());

    const Rect box(1, 2, 30, 40);
    EXPECT_EQ(box.getLeftTop().x, 1);
    EXPECT_EQ(box.getLeftTop().y, 2);
    EXPECT_EQ(box.getRightBottom().x, 30);
    EXPECT_EQ(box.getRightBottom().y, 40);
    EXPECT_TRUE(box != Rect(1, 2, 30, 41));
    EXPECT_FALSE(box != Rect(1, 2, 30, 40));
    EXPECT_FALSE(box == Rect(0, 2, 30, 40));

    const PF_LRect host = Morvek::aeRect(box);
    EXPECT_EQ(host.left, 1);
    EXPECT_EQ(host.top, 2);
    EXPECT_EQ(host.right, 30);
    EXPECT_EQ(host.bottom, 40);
}

// ---------------------------------------------------------------------------
// Border folding, whole pixels
// ---------------------------------------------------------------------------

TEST(BorderOffset, MirrorUsesEachEdgePixelTwice) {
    EXPECT_EQ(Border::offset(-1, 10, Border::Mirror), 0);
    EXPECT_EQ(Border::offset(-2, 10, Border::Mirror), 1);
    EXPECT_EQ(Border::offset(10, 10, Border::Mirror), 9);
    EXPECT_EQ(Border::offset(19, 10, Border::Mirror), 0);
    EXPECT_EQ(Border::offset(20, 10, Border::Mirror), 0);
    EXPECT_EQ(Border::offset(21, 10, Border::Mirror), 1);
    EXPECT_EQ(Border::offset(-11, 10, Border::Mirror), 9);
    EXPECT_EQ(Border::offset(-20, 10, Border::Mirror), 0);
    EXPECT_EQ(Border::offset(-21, 10, Border::Mirror), 0);
    EXPECT_EQ(Border::offset(4, 10, 4), 4);
    // The most negative int: -(pos + 1) = INT_MAX, INT_MAX % 20 = 7.
    EXPECT_EQ(Border::offset(INT_MIN, 10, Border::Mirror), 7);
}

TEST(BorderOffset, WrapRepeats) {
    EXPECT_EQ(Border::offset(-1, 10, Border::Wrap), 9);
    EXPECT_EQ(Border::offset(-11, 10, Border::Wrap), 9);
    EXPECT_EQ(Border::offset(25, 10, 3), 5);
    EXPECT_EQ(Border::offset(-10, 10, Border::Wrap), 0);
    EXPECT_EQ(Border::offset(INT_MIN, 10, Border::Wrap), 2);
}

TEST(BorderOffset, ClampAndOtherModes) {
    EXPECT_EQ(Border::offset(-5, 10, Border::Clamp), 0);
    EXPECT_EQ(Border::offset(15, 10, 2), 9);
    EXPECT_EQ(Border::offset(10, 10, Border::Clamp), 9);
    EXPECT_EQ(Border::offset(9, 10, Border::Clamp), 9);
    EXPECT_EQ(Border::offset(15, 10, 0), 15);
    EXPECT_EQ(Border::offset(15, 10, 1), 15);
    EXPECT_EQ(Border::offset(-15, 10, 5), -15);
}

TEST(BorderOffset, EmptyImageDoesNotDivideByZero) {
    EXPECT_EQ(Border::offset(7, 0, Border::Wrap), 7);
    EXPECT_EQ(Border::offset(-3, 0, Border::Mirror), -3);
    EXPECT_EQ(Border::offset(7, -4, Border::Wrap), 7);
    EXPECT_EQ(Border::offsetF(fx(7.0), 0, Border::Wrap, false), fx(7.0));
    EXPECT_EQ(Border::offsetF(fx(-3.0), 0, Border::Mirror, true), fx(-3.0));
}

// ---------------------------------------------------------------------------
// Border folding, 16.16
// ---------------------------------------------------------------------------

// Each 16.16 fold with the size in whole pixels and again with it in 16.16.
int foldBoth(double pos, int sizePixels, int mode) {
    const int whole = Border::offsetF(fx(pos), sizePixels, mode, false);
    const int fixed = Border::offsetF(fx(pos), sizePixels * kOne, mode, true);
    EXPECT_EQ(whole, fixed) << "pos " << pos;
    return whole;
}

TEST(BorderOffsetFixed, MirrorReflectsAboutHalfPixels) {
    EXPECT_EQ(foldBoth(10.0, 10, Border::Mirror), fx(9.0));
    EXPECT_EQ(foldBoth(10.5, 10, Border::Mirror), fx(8.5));
    EXPECT_EQ(foldBoth(-1.5, 10, Border::Mirror), fx(0.5));
    EXPECT_EQ(foldBoth(-0.5, 10, Border::Mirror), 0);
    EXPECT_EQ(foldBoth(3.25, 10, Border::Mirror), fx(3.25));
    // Inside the last pixel but past its origin: pulled back to 9.0.
    EXPECT_EQ(foldBoth(9.5, 10, Border::Mirror), fx(9.0));
    EXPECT_EQ(foldBoth(19.5, 10, Border::Mirror), 0);
}

TEST(BorderOffsetFixed, WrapAndClampEndOnTheLastPixel) {
    EXPECT_EQ(foldBoth(-0.5, 10, Border::Wrap), fx(9.0));
    EXPECT_EQ(foldBoth(-1.5, 10, Border::Wrap), fx(8.5));
    EXPECT_EQ(foldBoth(12.25, 10, Border::Wrap), fx(2.25));
    EXPECT_EQ(foldBoth(12.0, 10, Border::Clamp), fx(9.0));
    EXPECT_EQ(foldBoth(9.5, 10, Border::Clamp), fx(9.0));
    EXPECT_EQ(foldBoth(-0.25, 10, Border::Clamp), 0);
    EXPECT_EQ(foldBoth(4.75, 10, Border::Clamp), fx(4.75));
    EXPECT_EQ(foldBoth(12.0, 10, 0), fx(12.0));
    EXPECT_EQ(foldBoth(-12.0, 10, 1), fx(-12.0));
}

TEST(BorderOffsetFixed, WideImageMirrorsWithoutOverflow) {
    // 20000 pixels: twice the 16.16 size exceeds 32 bits.
    EXPECT_EQ(foldBoth(20000.0, 20000, Border::Mirror), fx(19999.0));
    EXPECT_EQ(foldBoth(20000.5, 20000, Border::Mirror), fx(19998.5));
    EXPECT_EQ(foldBoth(-1.5, 20000, Border::Mirror), fx(0.5));
}

TEST(BorderOffsetFixed, VectorForms) {
    VectorFixed v(fx(10.5), fx(-0.5));
    Border::offsetF(v, 10, 4, Border::Mirror, false);
    EXPECT_EQ(v.x, fx(8.5));
    EXPECT_EQ(v.y, 0);

    VectorFixed w(fx(-0.5), fx(7.0));
    Border::offsetF(w, fx(10.0), fx(5.0), Border::Wrap, true);
    EXPECT_EQ(w.x, fx(9.0));
    EXPECT_EQ(w.y, fx(2.0));

    // Caller-given upper limits: wrap -0.5 into 10 pixels is 9.5, and with the
    // limit at 9.75 it is kept; the y limit of 2.0 pulls 3.0 down.
    VectorFixed u(fx(-0.5), fx(3.0));
    Border::offsetF(u, fx(10.0), fx(9.75), fx(4.0), fx(2.0), Border::Wrap);
    EXPECT_EQ(u.x, fx(9.5));
    EXPECT_EQ(u.y, fx(2.0));

    VectorFixed c(fx(12.0), fx(-1.0));
    Border::offsetF(c, fx(10.0), fx(9.0), fx(10.0), fx(9.0), Border::Clamp);
    EXPECT_EQ(c.x, fx(9.0));
    EXPECT_EQ(c.y, 0);
}

} // namespace
