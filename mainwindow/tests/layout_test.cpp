#include "layout.h"
#include "testwindow.h"

#include <limits>

namespace {

using namespace testwindow;

TEST(Title, FileTitleOf)
{
    const struct {
        const char* path;
        const char* title;
    } rows[] = {
        { "", "未命名" },
        { "plain", "plain" },
        { "C:\\a.b\\c", "c" },
        { "dir/name.x.gsc", "name" },
        { "/tmp/a.b/c.gsc", "c" },
        { "dir\\sub/file.gsc", "file" },
        { "dir/sub\\file.gsc", "file" },
        { ".gsc", "" },
    };
    for (const auto& row : rows) {
        EXPECT_EQ(CFractalDlg::FileTitleOf(QString::fromUtf8(row.path)).toStdString(), row.title) << row.path;
    }
}

struct SizeRow {
    int width, height;
    int previewWidth, previewHeight; // after the cells round down to multiples of 6
};

const SizeRow kSizeRows[] = {
    { 1000, 500, 480, 240 },
    { 500, 1000, 240, 480 },
    { 1000, 1000, 480, 480 },
    { 1000, 333, 480, 156 },
    { 333, 1000, 156, 480 },
    { 4096, 100, 480, 6 },
    { 100, 4096, 6, 480 },
    { 1024, 1023, 480, 474 },
};

TEST(PreviewSize, FitsTheSquare)
{
    for (const SizeRow& row : kSizeRows) {
        const QSize fitted = Layout::PreviewSize(row.width, row.height);
        EXPECT_EQ(fitted.width() / Layout::kCellSide * Layout::kCellSide, row.previewWidth)
            << row.width << " x " << row.height;
        EXPECT_EQ(fitted.height() / Layout::kCellSide * Layout::kCellSide, row.previewHeight)
            << row.width << " x " << row.height;
    }
    EXPECT_EQ(Layout::PreviewSize(1000, 333), QSize(480, 159)) << "before the cells round it";
}

TEST(Palette, FitPalette)
{
    const struct {
        int width, height;
        int left, top, right, bottom;
    } rows[] = {
        { 1000, 410, 500, 79, 700, 161 }, // the built-in palette
        { 300, 1000, 570, 20, 630, 220 }, // taller than wide
        { 200, 200, 500, 20, 700, 220 },  // square
        { 1, 300, 600, 20, 600, 220 },    // narrower than a pixel of the box
    };
    for (const auto& row : rows) {
        const std::optional<Layout::PaletteRect> r = Layout::FitPalette(row.width, row.height);
        ASSERT_TRUE(r.has_value()) << row.width << " x " << row.height;
        EXPECT_EQ(r->left, row.left) << row.width << " x " << row.height;
        EXPECT_EQ(r->top, row.top) << row.width << " x " << row.height;
        EXPECT_EQ(r->right, row.right) << row.width << " x " << row.height;
        EXPECT_EQ(r->bottom, row.bottom) << row.width << " x " << row.height;
    }
    EXPECT_FALSE(Layout::FitPalette(0, 410).has_value());
    EXPECT_FALSE(Layout::FitPalette(1000, 0).has_value());
}

TEST(Palette, ToPixelRefusesWhatIsNoPixel)
{
    const double refused[]
        = { std::numeric_limits<double>::quiet_NaN(), std::numeric_limits<double>::infinity(),
              -std::numeric_limits<double>::infinity(), 1e300, -1e300, 3e9, -3e9, 1e6 };
    for (const double value : refused) {
        EXPECT_FALSE(Layout::ToPixel(value).has_value()) << value;
    }
    // Truncated toward zero.
    EXPECT_EQ(Layout::ToPixel(700.9), 700);
    EXPECT_EQ(Layout::ToPixel(-3.7), -3);
    EXPECT_EQ(Layout::ToPixel(999999.5), 999999);
    EXPECT_FALSE(Layout::ToPoint(1.0, std::numeric_limits<double>::quiet_NaN()).has_value());
}

TEST(Palette, MapPointsOfTheIdentity)
{
    const Layout::PaletteRect r = *Layout::FitPalette(1000, 410);
    const Layout::MappingPoints p = Layout::MapPoints(r, PaletteMapping {});
    ASSERT_TRUE(p.p0 && p.p1 && p.p2 && p.p3);
    EXPECT_EQ(*p.p0, QPoint(500, 79));
    EXPECT_EQ(*p.p1, QPoint(700, 79)) << "angle handle at the top-right corner";
    EXPECT_EQ(*p.p2, QPoint(700, 161)) << "size handle at the bottom-right corner";
    EXPECT_EQ(*p.p3, QPoint(500, 161));

    // A quarter turn puts the first axis downwards.
    const Layout::MappingPoints q = Layout::MapPoints(r, { 0.5, 0.0, 0.5, 0.5, 1.0, 0.0, 1.0 });
    ASSERT_TRUE(q.p0 && q.p1 && q.p2 && q.p3);
    EXPECT_EQ(*q.p0, QPoint(600, 79));
    EXPECT_EQ(*q.p1, QPoint(600, 120));
    EXPECT_EQ(*q.p2, QPoint(500, 120));
    EXPECT_EQ(*q.p3, QPoint(500, 79));

    const Layout::MappingPoints far = Layout::MapPoints(r, { 1e300, 0.0, 1.0, 1.0, 0.0, 1.0, 1.0 });
    EXPECT_FALSE(far.p0 || far.p1 || far.p2 || far.p3) << "no point that cannot be placed";
}

TEST(Palette, StretchHandleX)
{
    EXPECT_EQ(Layout::StretchHandleX(2.0, 2.0), 600);
    EXPECT_EQ(Layout::StretchHandleX(2.0, 1.0), 665); // 600 + 94 ln 2 = 665.15
    EXPECT_EQ(Layout::StretchHandleX(0.5, 1.0), 534); // truncated toward zero
    EXPECT_FALSE(Layout::StretchHandleX(0.0, 1.0).has_value());
    EXPECT_FALSE(Layout::StretchHandleX(0.0, 0.0).has_value());
    EXPECT_FALSE(Layout::StretchHandleX(-1.0, 1.0).has_value());
    EXPECT_FALSE(Layout::StretchHandleX(std::numeric_limits<double>::quiet_NaN(), 1.0).has_value());
}

} // namespace
