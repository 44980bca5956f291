#include "testwindow.h"

#include <QTemporaryDir>

#include <limits>

namespace {

using namespace testwindow;

const Rgb kWhite { 255, 255, 255 };
const Rgb kBlack { 0, 0, 0 };
const Rgb kShadow { 100, 100, 100 };
const Rgb kFace { 236, 233, 216 };
const Rgb kCellBlue { 200, 200, 255 };
const Rgb kGrooveLight { 172, 168, 153 };
const Rgb kGrooveDark { 113, 111, 100 };

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

struct PixelRow {
    QPoint at;
    Rgb colour;
    const char* what;
};

void ExpectPixels(const QImage& image, const PixelRow* begin, const PixelRow* end, const char* context = "")
{
    for (const PixelRow* row = begin; row != end; ++row) {
        EXPECT_EQ(PixelAt(image, row->at), row->colour)
            << context << row->what << " at (" << row->at.x() << ", " << row->at.y() << ")";
    }
}

template <size_t N>
void ExpectPixels(const QImage& image, const PixelRow (&rows)[N], const char* context = "")
{
    ExpectPixels(image, rows, rows + N, context);
}

// A window whose preview is complete and whose worker has stopped, so that nothing but the test
// changes what is composed.
struct QuietWindow : StartedWindow {
    QuietWindow()
    {
        EXPECT_TRUE(WaitForFinishedPreview(window));
        Script().StopPreview();
    }
};

TEST(Painting, FixedLayout)
{
    QuietWindow w;
    const QImage& image = w.window.ComposeClient();
    ASSERT_EQ(image.size(), QSize(715, 553));
    ASSERT_EQ(image.devicePixelRatio(), 1.0);

    const PixelRow rows[] = {
        { { 2, 2 }, kWhite, "background" },
        { { 710, 300 }, kWhite, "background right of the palette shadow" },
        { { 714, 540 }, kWhite, "background right of the panel" },
        { { 5, 552 }, kWhite, "background left of the bottom rule" },
        { { 490, 505 }, kShadow, "preview shadow, corner" },
        { { 495, 300 }, kShadow, "preview shadow, right" },
        { { 495, 509 }, kShadow, "preview shadow, last pixel" },
        { { 496, 300 }, kWhite, "beyond the preview shadow" },
        { { 4, 18 }, kBlack, "preview outer frame, top-left" },
        { { 487, 501 }, kBlack, "preview outer frame, bottom-right" },
        { { 5, 19 }, kWhite, "preview inner frame, top-left" },
        { { 486, 500 }, kWhite, "preview inner frame, bottom-right" },
        { { 705, 236 }, kShadow, "palette shadow" },
        { { 709, 241 }, kShadow, "palette shadow, last pixel" },
        { { 498, 18 }, kBlack, "palette outer frame" },
        { { 701, 232 }, kBlack, "palette outer frame, bottom-right" },
        { { 499, 19 }, kWhite, "palette inner frame" },
        { { 600, 30 }, kFace, "palette box above the palette" },
        { { 600, 200 }, kFace, "palette box below the palette" },
        { { 499, 221 }, kBlack, "line under the palette, first pixel" },
        { { 700, 221 }, kBlack, "line under the palette, last pixel" },
        { { 499, 220 }, kWhite, "inner frame above the line" },
        { { 499, 222 }, kWhite, "inner frame below the line" },
        { { 701, 221 }, kBlack, "outer frame where the line ends" },
        { { 520, 228 }, kWhite, "groove, bottom" },
        { { 697, 226 }, kWhite, "groove, right end" },
        { { 520, 225 }, kGrooveLight, "groove, top" },
        { { 503, 227 }, kGrooveLight, "groove, left end" },
        { { 520, 226 }, kGrooveDark, "groove, inner top" },
        { { 504, 227 }, kGrooveDark, "groove, inner left" },
        { { 8, 540 }, kCellBlue, "x0/y0 cell" },
        { { 150, 540 }, kCellBlue, "scale/step cell" },
        { { 308, 540 }, kCellBlue, "constant cell" },
        { { 510, 300 }, kCellBlue, "mapping cell" },
        { { 6, 525 }, kBlack, "panel rule" },
        { { 714, 525 }, kBlack, "panel rule, right end" },
        { { 6, 552 }, kBlack, "bottom rule" },
        { { 714, 552 }, kBlack, "bottom rule, right end" },
        { { 26, 530 }, kBlack, "x0/y0 cell border" },
        { { 146, 530 }, kBlack, "scale cell left border" },
        { { 178, 530 }, kBlack, "scale cell right border" },
        { { 360, 530 }, kBlack, "constant cell right border" },
        { { 540, 300 }, kBlack, "mapping cell border" },
        { { 500, 265 }, kBlack, "mapping rule" },
        { { 699, 350 }, kBlack, "mapping bottom rule" },
    };
    ExpectPixels(image, rows);

    // The preview area shows the composed preview one to one.
    const QImage& preview = w.window.PreviewImage();
    ASSERT_EQ(preview.size(), QSize(480, 480));
    for (int y = 20; y < 500; y += 37) {
        for (int x = 6; x < 486; x += 41) {
            EXPECT_EQ(PixelAt(image, x, y), PixelAt(preview, x - 6, y - 20))
                << "preview at (" << x << ", " << y << ")";
        }
    }
}

// The identity mapping outlines exactly the palette rectangle (500, 79)-(700, 161), inverting what
// lies beneath; the comparison is with the same window whose parallelogram lies far outside.
TEST(Painting, MappingOutlineInverts)
{
    QuietWindow w;
    const QImage outlined = w.window.ComposeClient().copy();
    w.Script().SetMapping(5.0, 5.0, 1.0, 1.0, 0.0, 1.0, 1.0);
    const QImage plain = w.window.ComposeClient().copy();

    const struct {
        QPoint at;
        bool onOutline;
    } rows[] = {
        { { 500, 79 }, true },   // P0, inverted once although two lines meet there
        { { 500, 161 }, true },  // P3
        { { 520, 79 }, true },   // top edge
        { { 600, 79 }, true },   //
        { { 690, 79 }, true },   //
        { { 520, 161 }, true },  // bottom edge
        { { 690, 161 }, true },  //
        { { 500, 100 }, true },  // left edge
        { { 500, 150 }, true },  //
        { { 700, 100 }, true },  // right edge, over the white inner frame
        { { 700, 150 }, true },  //
        { { 600, 120 }, false }, // inside
        { { 501, 80 }, false },  //
        { { 690, 150 }, false }, //
        { { 600, 78 }, false },  // outside
        { { 600, 162 }, false }, //
        { { 499, 120 }, false }, //
    };
    for (const auto& row : rows) {
        const Rgb expected = row.onOutline ? PixelAt(plain, row.at).Inverted() : PixelAt(plain, row.at);
        EXPECT_EQ(PixelAt(outlined, row.at), expected) << (row.onOutline ? "outline" : "not outline")
                                                       << " at (" << row.at.x() << ", " << row.at.y() << ")";
    }
    EXPECT_EQ(PixelAt(plain, 700, 120), kWhite) << "the right edge lies on the inner frame";
    EXPECT_EQ(PixelAt(plain, 700, 79), kWhite) << "no angle handle without the parallelogram";
    EXPECT_EQ(PixelAt(plain, 700, 161), kWhite) << "no size handle without the parallelogram";
}

// Normal handles: angle handle black in a white ring at P1 = (700, 79), size handle a 5 x 5 black
// square in a 7 x 7 white one at P2 = (700, 161), stretch handle likewise at x = 600. The handle
// under the mouse swaps its colours.
TEST(Painting, HandlesAndHover)
{
    QuietWindow w;
    const auto angle = [](bool hot) {
        const Rgb ring = hot ? kBlack : kWhite;
        const Rgb centre = hot ? kWhite : kBlack;
        return std::vector<PixelRow> { { { 700, 79 }, centre, "angle handle centre" },
            { { 699, 78 }, centre, "angle handle centre" }, { { 696, 79 }, ring, "angle handle ring, left" },
            { { 703, 79 }, ring, "angle handle ring, right" },
            { { 700, 82 }, ring, "angle handle ring, bottom" },
            { { 700, 75 }, ring, "angle handle ring, top" } };
    };
    const auto square = [](bool hot, int x, int y, const char* name, Rgb beside) {
        const Rgb outer = hot ? kBlack : kWhite;
        const Rgb inner = hot ? kWhite : kBlack;
        return std::vector<PixelRow> { { { x - 3, y - 3 }, outer, name }, { { x + 3, y - 3 }, outer, name },
            { { x - 3, y + 3 }, outer, name }, { { x + 3, y + 3 }, outer, name },
            { { x, y - 3 }, outer, name }, { { x - 2, y - 2 }, inner, name },
            { { x + 2, y + 2 }, inner, name }, { { x, y }, inner, name }, { { x + 4, y }, beside, name } };
    };

    const struct {
        QPoint hover;
        DragMode mode;
        const char* text;
    } rows[] = {
        { { 100, 540 }, DragNone, "nothing hovered" },
        { { 700, 79 }, DragAngle, "angle handle hovered" },
        { { 704, 83 }, DragAngle, "angle handle hovered off centre" },
        { { 700, 161 }, DragSize, "size handle hovered" },
        { { 600, 226 }, DragStretch, "stretch handle hovered" },
        { { 600, 120 }, DragOrigin, "palette hovered" },
        { { 300, 300 }, DragPan, "preview hovered" },
        { { 100, 540 }, DragNone, "moved away again" },
    };
    for (const auto& row : rows) {
        w.window.OnMouseMove(row.hover, false);
        ASSERT_EQ(w.window.GetDragMode(), row.mode) << row.text;
        const QImage& image = w.window.ComposeClient();
        for (const auto& list :
            { angle(row.mode == DragAngle), square(row.mode == DragSize, 700, 161, "size handle", kShadow),
                square(row.mode == DragStretch, 600, 226, "stretch handle", kGrooveDark) }) {
            ExpectPixels(image, list.data(), list.data() + list.size(), row.text);
        }
    }
}

TEST(Painting, ProgressBar)
{
    QuietWindow w;
    // A known preview, so that the blend can be told from it.
    const Rgb base { 40, 80, 120 };
    w.window.PreviewImage().fill(QColor(base.r, base.g, base.b));

    const auto showProgress = [&](double progress) {
        w.Script().PreviewWorker().m_dProgress.store(progress);
        w.window.OnPreviewTimer();
        return w.window.ComposeClient().copy();
    };

    const QImage half = showProgress(0.5);
    for (int y = 487; y <= 499; ++y) {
        EXPECT_EQ(PixelAt(half, 246, y), kWhite) << "end line at y " << y;
        EXPECT_EQ(PixelAt(half, 247, y), base) << "right of the bar at y " << y;
        EXPECT_EQ(PixelAt(half, 485, y), base) << "right of the bar at y " << y;
    }
    EXPECT_EQ(PixelAt(half, 246, 486), base) << "the bar is 13 pixels high";
    EXPECT_EQ(PixelAt(half, 100, 486), base) << "the bar is 13 pixels high";
    EXPECT_EQ(PixelAt(half, 246, 500), kWhite) << "inner frame under the bar";

    // Blended at 100/255 over the preview: every channel lies between the preview's share and that
    // plus the strip's largest possible share.
    int changed = 0;
    for (int y = 487; y <= 499; ++y) {
        for (int x = 6; x <= 245; ++x) {
            const Rgb c = PixelAt(half, x, y);
            const int channels[3][2] = { { c.r, base.r }, { c.g, base.g }, { c.b, base.b } };
            for (const auto& [value, under] : channels) {
                const double low = under * 155.0 / 255.0;
                EXPECT_GE(value, low - 2) << "bar at (" << x << ", " << y << ")";
                EXPECT_LE(value, low + 100 + 2) << "bar at (" << x << ", " << y << ")";
            }
            changed += c == base ? 0 : 1;
        }
    }
    EXPECT_GT(changed, 240 * 13 / 2) << "the bar covers the finished share";

    const QImage none = showProgress(0.0);
    for (int y = 487; y <= 499; ++y) {
        EXPECT_EQ(PixelAt(none, 6, y), kWhite) << "at progress 0 only the end line, at y " << y;
        EXPECT_EQ(PixelAt(none, 7, y), base) << "at progress 0 only the end line, at y " << y;
    }

    const QImage full = showProgress(1.0);
    for (int y = 487; y <= 499; ++y) {
        for (const int x : { 6, 100, 245, 246, 247 }) {
            EXPECT_EQ(PixelAt(full, x, y), base) << "no bar at progress 1, at (" << x << ", " << y << ")";
        }
    }
}

TEST(Painting, RealAndImaginaryCellNeedsAConstant)
{
    QuietWindow w;
    const PixelRow withConstant[] = {
        { { 503, 538 }, kCellBlue, "cell, top row" },
        { { 530, 538 }, kCellBlue, "cell, top row right" },
        { { 504, 545 }, kCellBlue, "cell, left of the text" },
        { { 502, 545 }, kBlack, "cell left border" },
        { { 531, 545 }, kBlack, "cell right border" },
        { { 531, 538 }, kWhite, "right of the cell" },
    };
    ExpectPixels(w.window.ComposeClient(), withConstant, "with a constant: ");

    std::string err;
    ASSERT_TRUE(w.Script().SetFormulas("z = z * z;", "norm(z) > 100;", err)) << err;
    ASSERT_EQ(w.Script().GetIterFormula().GetConstantCount(), 0);
    const QImage& image = w.window.ComposeClient();
    for (int y = 538; y <= 551; ++y) {
        for (int x = 502; x <= 531; ++x) {
            ASSERT_EQ(PixelAt(image, x, y), kWhite)
                << "no cell without a constant, at (" << x << ", " << y << ")";
        }
    }
    EXPECT_EQ(PixelAt(image, 308, 540), kCellBlue) << "the constant cell itself stays";
}

// A picture wider than high sits centred in the preview area, with black above and below.
TEST(Painting, WidePreviewIsCentred)
{
    StartedWindow w;
    w.Script().SetImageSize(1000, 500);
    w.window.ApplyPreviewSize();
    w.Script().PreviewWorker().m_dProgress.store(0.0); // only the new picture's end counts
    w.Script().StartPreview();
    ASSERT_TRUE(WaitForFinishedPreview(w.window));
    w.Script().StopPreview();
    ASSERT_EQ(w.Script().GetPreviewHeight(), 240);

    const QImage& image = w.window.ComposeClient();
    int lit = 0;
    for (int x = 6; x < 486; x += 5) {
        for (const int y : { 20, 100, 139, 380, 420, 499 }) {
            EXPECT_EQ(PixelAt(image, x, y), kBlack)
                << "band outside the picture at (" << x << ", " << y << ")";
        }
        for (int y = 140; y < 380; y += 5) {
            lit += PixelAt(image, x, y) == kBlack ? 0 : 1;
        }
    }
    EXPECT_GT(lit, 500) << "the picture lies in rows 140 to 379";
}

// A palette taller than wide (60 x 200) is fitted into x 570..629 of the box; the identity
// outlines it.
TEST(Painting, TallPalette)
{
    QuietWindow w;
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("tall.png"));
    // Exactly the fitted size, so it is copied unscaled: Qt spreads scaled fills of more than about
    // 96 rows over its thread pool, whose hand-back ThreadSanitizer cannot see in the system's Qt.
    QImage tall(60, 200, QImage::Format_RGB32);
    tall.fill(QColor(255, 0, 0));
    ASSERT_TRUE(tall.save(path));
    ASSERT_TRUE(w.Script().LoadPalette(path));

    const Rgb red { 255, 0, 0 };
    const PixelRow rows[] = {
        { { 569, 100 }, kFace, "left of the palette" },
        { { 570, 100 }, red.Inverted(), "outline over the palette's first column" },
        { { 571, 100 }, red, "palette" },
        { { 629, 100 }, red, "palette's last column" },
        { { 630, 100 }, kFace.Inverted(), "outline right of the palette" },
        { { 631, 100 }, kFace, "right of the palette" },
        { { 600, 20 }, red.Inverted(), "outline along the top" },
        { { 600, 219 }, red, "palette's last row" },
        { { 600, 220 }, kFace.Inverted(), "outline along the bottom" },
        { { 630, 20 }, kBlack, "angle handle at the top-right corner" },
        { { 630, 220 }, kBlack, "size handle at the bottom-right corner" },
        { { 627, 217 }, kWhite, "size handle's white square" },
    };
    ExpectPixels(w.window.ComposeClient(), rows);

    w.window.OnLeftButtonDown(QPoint(630, 20));
    EXPECT_EQ(w.window.GetDragMode(), DragAngle);
    w.window.OnLeftButtonUp(QPoint(630, 20));
    w.window.OnLeftButtonDown(QPoint(631, 219));
    EXPECT_EQ(w.window.GetDragMode(), DragSize);
    w.window.OnLeftButtonUp(QPoint(631, 219));
}

// Mappings and palettes that cannot be drawn must neither crash painting nor let a drag turn a
// finite mapping value into NaN or infinity.
TEST(Painting, FaultTolerance)
{
    QuietWindow w;
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString narrowPath = dir.filePath(QStringLiteral("narrow.png"));
    QImage narrow(1, 300, QImage::Format_RGB32);
    narrow.fill(Qt::red);
    ASSERT_TRUE(narrow.save(narrowPath));

    const struct {
        PaletteMapping mapping;
        bool narrowPalette;
        const char* text;
    } rows[] = {
        { { 0, 0, 1, 1, 0, 1, 0 }, false, "stretch 0" },
        { { 0, 0, 1, 1, 0, 1, -1 }, false, "negative stretch" },
        { { 0, 0, 1, 1, 0, 1, 1 }, true, "palette 1 x 300" },
        { { 0.3, 0.2, 0.5, 0.5, 0.6, 0.8, 1 }, true, "palette 1 x 300, turned" },
        { { 0, 0, 0, 0, 0, 1, 1 }, false, "zero extents" },
        { { 1e300, 1e300, 1e300, 1e300, 1, 1e300, 1e300 }, false, "1e300 everywhere" },
        { { 0, 0, 1e300, 1e300, 0.5, 0.5, 1 }, false, "huge extents" },
        { { 1e300, 0, 1, 1, 0, 1, 1 }, false, "huge origin" },
        { { kNaN, kNaN, kNaN, kNaN, kNaN, kNaN, kNaN }, false, "NaN everywhere" },
        { { 0, 0, 1, 1, kNaN, 1, 1 }, false, "NaN angle" },
        { { kInf, -kInf, kInf, -kInf, 1, kInf, kInf }, false, "infinities" },
        { { 0, 0, 1, 1, 0, 1, kInf }, false, "infinite stretch" },
        { { 0, 0, kInf, kInf, 0, 1, 1 }, true, "infinite extents, narrow palette" },
    };
    const QPoint presses[] = { { 700, 79 }, { 700, 161 }, { 600, 226 }, { 600, 120 }, { 600, 40 },
        { 550, 200 }, { 200, 200 }, { 650, 160 } };
    const QPoint moves[]
        = { { 0, 0 }, { 714, 552 }, { 500, 79 }, { 600, 120 }, { 650, 226 }, { 600, 20 }, { 601, 219 } };

    for (const auto& row : rows) {
        w.Script().StopPreview();
        ASSERT_TRUE(w.Script().LoadPalette(row.narrowPalette ? narrowPath : QString())) << row.text;
        w.Script().SetMapping(row.mapping);
        w.window.OnLeftButtonUp(QPoint(0, 0)); // the stretch handle measures against this mapping
        w.window.ComposeClient();
        for (const QPoint& press : presses) {
            for (const QPoint& to : moves) {
                const PaletteMapping before = w.Script().GetMapping();
                w.window.OnMouseMove(press, false);
                w.window.OnLeftButtonDown(press);
                w.window.OnMouseMove(to, true);
                w.window.ComposeClient();
                w.window.OnLeftButtonUp(to);
                const PaletteMapping after = w.Script().GetMapping();
                const std::pair<double, double> values[] = { { before.x0, after.x0 }, { before.y0, after.y0 },
                    { before.dx, after.dx }, { before.dy, after.dy }, { before.sin, after.sin },
                    { before.cos, after.cos }, { before.stretch, after.stretch } };
                for (const auto& [was, is] : values) {
                    EXPECT_TRUE(!std::isfinite(was) || std::isfinite(is))
                        << row.text << ": press (" << press.x() << ", " << press.y() << "), move to ("
                        << to.x() << ", " << to.y() << "): " << before << " became " << after;
                }
                // Put it back: one bad row must not mask the next press.
                w.Script().SetMapping(row.mapping);
                w.window.OnLeftButtonUp(QPoint(0, 0));
            }
        }
        // The fixed layout is still there.
        const QImage& image = w.window.ComposeClient();
        EXPECT_EQ(PixelAt(image, 498, 18), kBlack) << row.text;
        EXPECT_EQ(PixelAt(image, 499, 221), kBlack) << row.text;
        EXPECT_EQ(PixelAt(image, 510, 300), kCellBlue) << row.text;
    }
}

} // namespace
