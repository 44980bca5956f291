#include "view.h"

#include <gtest/gtest.h>

namespace {

TEST(View, Lattice)
{
    const View view { -2.0, -1.5, 0.01 };
    const double step = view.Step(300, 1.0, 300);
    EXPECT_EQ(view.Step(300, 2.0, 150), 0.04) << "two lattice units to a pixel at half the size";
    const std::vector<double> line = View::LatticeLine(0, 10, 3, 1.0, step, view.offsetX);
    ASSERT_EQ(line.size(), 4u) << "0, 3, 6 and 9";
    EXPECT_EQ(line[0], View::PlanePoint(0, 1.0, step, view.offsetX));
    EXPECT_NEAR(line[3], -2.0 + 3.5 * step, 1e-12) << "the walk adds the step per lattice line";
    EXPECT_TRUE(View::LatticeLine(5, 5, 1, 1.0, step, 0.0).empty());
    EXPECT_TRUE(View::LatticeLine(6, 5, 1, 1.0, step, 0.0).empty());
}

TEST(View, WheelAndDrag)
{
    const View view { -1.0, -1.0, 1.0 / 512 };
    // At the picture's top-left corner only the scale changes.
    const View corner = view.ZoomedAbout(0, 0, view.ratio / 1.2, 1024, 1024, 480, 480);
    EXPECT_EQ(corner.offsetX, view.offsetX);
    EXPECT_EQ(corner.offsetY, view.offsetY);
    EXPECT_EQ(corner.ratio, view.ratio / 1.2);
    // Elsewhere the plane point under the cursor stays.
    const View zoomed = view.ZoomedAbout(240, 120, view.ratio * 1.2, 1024, 512, 480, 480);
    EXPECT_NEAR(zoomed.offsetX + zoomed.ratio * 1024 * 240 / 480,
        view.offsetX + view.ratio * 1024 * 240 / 480, 1e-15);
    EXPECT_NEAR(
        zoomed.offsetY + zoomed.ratio * 512 * 120 / 480, view.offsetY + view.ratio * 512 * 120 / 480, 1e-15);

    // A drag right and down moves the plane with it: the offset goes the other way.
    const View panned = view.Panned(10, -5, 1000, 333, 480, 156);
    EXPECT_EQ(panned.offsetX, view.offsetX - 10 * (1000 * view.ratio / 480));
    EXPECT_EQ(panned.offsetY, view.offsetY + 5 * (333 * view.ratio / 156));
    EXPECT_EQ(panned.ratio, view.ratio);
}

TEST(View, OtherSizes)
{
    const View view { -2.0, -1.0, 0.002 }; // a 1000 x 500 target shows 2 x 1 of the plane
    const View half = view.AtWidth(1000, 500);
    EXPECT_EQ(half.offsetX, -2.0);
    EXPECT_EQ(half.offsetY, -1.0);
    EXPECT_EQ(half.ratio, 0.004);

    // A square shows the whole width and more of the height, about the same centre.
    const View square = view.Fitted(1000, 500, 100, 100);
    EXPECT_EQ(square.ratio, 0.02);
    EXPECT_EQ(square.offsetX, -2.0);
    EXPECT_EQ(square.offsetY, -1.5);
    // A tall picture: the whole height, more of the width.
    const View tall = view.Fitted(1000, 500, 100, 400);
    EXPECT_EQ(tall.ratio, 0.02);
    EXPECT_EQ(tall.offsetY, -4.5);
}

} // namespace
