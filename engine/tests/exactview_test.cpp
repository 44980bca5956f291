#include "exactview.h"
#include "fractalscript.h"
#include "scriptfile.h"
#include "testutil.h"
#include "view.h"

#include <QTemporaryDir>

#include <algorithm>
#include <cfloat>

namespace {

constexpr mpfr_prec_t kCheckBits = 8000;

BigFloat Big(const std::string& text) { return BigFloat::Parse(text, kCheckBits, nullptr); }

// |a - b| in units of `unit`, as a double.
double Apart(const BigFloat& a, const BigFloat& b, const BigFloat& unit)
{
    BigFloat d = (a - b) / unit;
    return std::fabs(d.ToDouble());
}

// A view of the given plane width (over 1024 pixels) about a centre with many digits.
PlaneView DeepView(const std::string& width)
{
    return ViewAroundCentre(Big("-0.74364388703715870475219150611477"),
        Big("0.13182590420531197049525222649"), Big(width) / 1024, 1024, 1024);
}

TEST(ExactView, ShallowOperationsAreViewsOwn)
{
    const View views[] = { { -1.0, -1.0, 0.001953125 }, { -2.5, 0.75, 3e-9 }, { 1e5, -3.0, 0.5 } };
    for (const View& v : views) {
        const PlaneView p { v.offsetX, v.offsetY, v.ratio, {} };
        const auto same = [&](const PlaneView& got, const View& want, const char* what) {
            EXPECT_EQ(got, (PlaneView { want.offsetX, want.offsetY, want.ratio, {} }))
                << what << " " << v.ratio;
        };
        same(ZoomedAbout(p, 123, 321, Zoom::In, 1.2, 1024, 768, 480, 360),
            v.ZoomedAbout(123, 321, v.ratio / 1.2, 1024, 768, 480, 360), "wheel in");
        same(ZoomedAbout(p, 7, 400, Zoom::Out, 1.2, 1024, 768, 480, 360),
            v.ZoomedAbout(7, 400, v.ratio * 1.2, 1024, 768, 480, 360), "wheel out");
        same(Panned(p, 13, -7, 1000, 333, 480, 156), v.Panned(13, -7, 1000, 333, 480, 156), "drag");
        same(AtWidth(p, 1000, 500, 300, 200), v.AtWidth(1000, 300), "size");
        same(Fitted(p, 1000, 500, 100, 400), v.Fitted(1000, 500, 100, 400), "fit");
        EXPECT_FALSE(IsDeepView(p, 1024, 1024));
    }
}

TEST(ExactView, ShortestText)
{
    const struct {
        BigFloat value;
        const char* text; // nullptr: only that it reads back and one digit less does not
    } rows[] = {
        { BigFloat(0.1, 53), "0.1" },
        { BigFloat(1.0 / 3, 53), "0.3333333333333333" },
        { BigFloat::Parse("1e-1000", 4000, nullptr), "1e-1000" },
        { BigFloat::Parse("-2.5e400", 200, nullptr), "-2.5e400" },
        { BigFloat(0.0, 100), "0" },
        { BigFloat::Parse("1", 200, nullptr) / BigFloat::Parse("3", 200, nullptr), nullptr },
        { BigFloat::Parse("-7", 5000, nullptr) / BigFloat::Parse("1e1234", 5000, nullptr) / 3.0, nullptr },
    };
    for (const auto& row : rows) {
        const std::string text = ShortestText(row.value);
        if (row.text) {
            EXPECT_EQ(text, row.text);
            continue;
        }
        bool ok = false;
        EXPECT_TRUE(mpfr_equal_p(BigFloat::Parse(text, row.value.Precision(), &ok).get(), row.value.get()))
            << text;
        // Its significant digits: those of the mantissa after any leading zeros.
        const std::string mantissa = text.substr(0, text.find('e'));
        const size_t first = mantissa.find_first_of("123456789");
        const int digits = static_cast<int>(std::count_if(mantissa.begin() + static_cast<long>(first),
            mantissa.end(), [](char c) { return c >= '0' && c <= '9'; }));
        const std::string shorter = row.value.ToString(digits - 1);
        EXPECT_FALSE(
            mpfr_equal_p(BigFloat::Parse(shorter, row.value.Precision(), &ok).get(), row.value.get()))
            << shorter;
    }
}

TEST(ExactView, Depth)
{
    const struct {
        PlaneView view;
        bool deep;
    } rows[] = {
        { { -1.0, -1.0, 0.001953125, {} }, false },
        { { 0.0, 0.0, 2e-12, {} }, false },  // at the centre 1e-9: still 1e-12 of 1
        { { 0.0, 0.0, 0.5e-12, {} }, true }, // below 1e-12 of 1
        { { 1e4, 0.0, 2e-9, {} }, true },    // below 1e-12 of the centre's 1e4
        { { 0.0, 0.0, 0.0, {} }, false },    // no view a deep render serves
        { { 0.0, 0.0, DBL_MIN, { "0", "0", "1e-1000" } }, true },
        { { 0.0, 0.0, 0.25, { "0", "0", "0.25" } }, false },
    };
    for (const auto& row : rows) {
        EXPECT_EQ(IsDeepView(row.view, 1024, 1024), row.deep)
            << row.view.ratio << " " << row.view.exact.ratio;
    }
}

TEST(ExactView, StoredValues)
{
    // Deep: the exact texts read back, the doubles are their nearest, a ratio past doubles is DBL_MIN.
    const PlaneView deep = DeepView("1e-1000");
    ASSERT_FALSE(deep.exact.Empty());
    EXPECT_EQ(deep.ratio, DBL_MIN);
    EXPECT_EQ(deep.exact.ratio, "9.765625e-1004") << "the shortest text that reads back";
    EXPECT_EQ(deep.offsetX, Big(deep.exact.offsetX).ToDouble());
    const PlaneView shallowish = DeepView("1e-30");
    EXPECT_EQ(shallowish.ratio, Big("1e-30").ToDouble() / 1024);
    // Stored again at its own precision, a view keeps its texts.
    EXPECT_EQ(StoredView(PreciseViewOf(deep, ViewBits(deep)), 1024, 1024), deep);
}

// The wheel and the drag at any depth: the plane point under the cursor stays within a millionth of
// a pixel over 200 steps, and drags there and back end where they began.
TEST(ExactView, WheelAndDragHoldThePoint)
{
    for (const char* width : { "1e-30", "1e-300", "1e-1000" }) {
        PlaneView view = DeepView(width);
        const double px = 123;
        const double py = 321;
        const auto under = [&](const PlaneView& v, BigFloat& x, BigFloat& y) {
            const PreciseView p = PreciseViewOf(v, kCheckBits);
            x = p.offsetX + p.ratio * 1024.0 * px / 480;
            y = p.offsetY + p.ratio * 1024.0 * py / 480;
        };
        BigFloat x0(kCheckBits), y0(kCheckBits), x(kCheckBits), y(kCheckBits);
        under(view, x0, y0);
        for (int step = 0; step < 200; ++step) {
            view = ZoomedAbout(view, px, py, step % 4 == 3 ? Zoom::Out : Zoom::In, 1.2, 1024, 1024, 480, 480);
        }
        under(view, x, y);
        const BigFloat pixel = PreciseViewOf(view, kCheckBits).ratio * (1024.0 / 480);
        EXPECT_LT(Apart(x, x0, pixel), 1e-6) << width;
        EXPECT_LT(Apart(y, y0, pixel), 1e-6) << width;
        EXPECT_EQ(view.ratio, std::max(PreciseViewOf(view, kCheckBits).ratio.ToDouble(), DBL_MIN)) << width;

        const PlaneView start = view;
        for (int step = 0; step < 100; ++step) {
            view = Panned(view, 5, -3, 1024, 1024, 480, 480);
        }
        for (int step = 0; step < 100; ++step) {
            view = Panned(view, -5, 3, 1024, 1024, 480, 480);
        }
        const PreciseView a = PreciseViewOf(start, kCheckBits);
        const PreciseView b = PreciseViewOf(view, kCheckBits);
        EXPECT_LT(Apart(a.offsetX, b.offsetX, pixel), 1e-6) << width;
        EXPECT_LT(Apart(a.offsetY, b.offsetY, pixel), 1e-6) << width;
    }
}

TEST(ExactView, ZoomingOutLeavesTheExactValues)
{
    PlaneView view = DeepView("1e-11"); // 1e-14 a pixel: deep
    ASSERT_FALSE(view.exact.Empty());
    int steps = 0;
    while (!view.exact.Empty() && steps < 100) {
        view = ZoomedAbout(view, 240, 240, Zoom::Out, 1.2, 1024, 1024, 480, 480);
        ++steps;
    }
    EXPECT_TRUE(view.exact.Empty());
    EXPECT_EQ(steps, 26) << "1.2^26 > 100 > 1.2^25: the first step past 1e-12 of the centre";
    EXPECT_NEAR(view.offsetX + view.ratio * 512, -0.7436438870371587, 1e-15) << "the centre stayed";
}

TEST(ExactView, SizesAndTheScript)
{
    // --size and --fit of a deep view keep its corner, or its centre, exactly.
    const PlaneView deep = DeepView("1e-300");
    const PlaneView sized = AtWidth(deep, 1024, 1024, 512, 256);
    EXPECT_EQ(sized.exact.offsetX, deep.exact.offsetX);
    EXPECT_EQ(Big(sized.exact.ratio).ToString(20), (Big(deep.exact.ratio) * 2.0).ToString(20));
    BigFloat cx(kCheckBits), cy(kCheckBits), fx(kCheckBits), fy(kCheckBits);
    CentreOf(deep, 1024, 1024, kCheckBits, cx, cy);
    CentreOf(Fitted(deep, 1024, 1024, 300, 100), 300, 100, kCheckBits, fx, fy);
    EXPECT_LT(Apart(cx, fx, Big(deep.exact.ratio)), 1e-9);
    EXPECT_LT(Apart(cy, fy, Big(deep.exact.ratio)), 1e-9);

    // Typed doubles replace a deep view; the view setter keeps one.
    CFractalScript script;
    script.SetDefaults();
    script.SetView(deep);
    EXPECT_EQ(script.GetView(), deep);
    script.SetView(-1.0, -1.0, 0.5);
    EXPECT_TRUE(script.GetExactView().Empty());
}

TEST(ExactView, ScriptFileRoundTrip)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("deep.gsc"));
    CFractalScript script;
    script.SetDefaults();
    const PlaneView deep = DeepView("1e-1000");
    script.SetView(deep);
    ASSERT_TRUE(script.Save(path));
    const QString text = DecodeScriptText(ReadAll(path));
    EXPECT_EQ(text.count(u"精确视图:{"_qs), 1);
    EXPECT_TRUE(text.contains(u"比率:{2.2250738585072014e-308}"_qs))
        << "older readers see the nearest double";

    CFractalScript loaded;
    ASSERT_TRUE(loaded.Load(path)) << loaded.GetLastError();
    EXPECT_EQ(loaded.GetView(), deep);

    // A shallow view writes no exact line; loading it clears an exact view held before.
    script.SetView(-1.0, -1.0, 0.5);
    ASSERT_TRUE(script.Save(path));
    EXPECT_FALSE(DecodeScriptText(ReadAll(path)).contains(u"精确视图"_qs));
    ASSERT_TRUE(loaded.Load(path));
    EXPECT_TRUE(loaded.GetExactView().Empty());
    EXPECT_EQ(loaded.GetRatio(), 0.5);
}

TEST(ExactView, MalformedExactLineIsPassedOver)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("bad.gsc"));
    CFractalScript script;
    script.SetDefaults();
    ASSERT_TRUE(script.Save(path));
    const QString good = DecodeScriptText(ReadAll(path));
    for (const QString& line : { u"精确视图:{1e-1000, 2}"_qs, u"精确视图:{x, 0, 1e-1000}"_qs,
             u"精确视图:{0, 0, 0}"_qs, u"精确视图:{0, 0, -1e-30}"_qs, u"精确视图:{0, 0, nan}"_qs,
             u"精确视图:{1e99999999999, 0, 1e-30}"_qs, u"精确视图:{0, 0, 1e-30"_qs }) {
        ASSERT_TRUE(WriteAll(path, (good + line + u'\n').toUtf8()));
        CFractalScript loaded;
        ASSERT_TRUE(loaded.Load(path)) << line.toStdString() << " " << loaded.GetLastError();
        EXPECT_TRUE(loaded.GetExactView().Empty()) << line.toStdString();
        EXPECT_EQ(loaded.GetRatio(), 0.001953125) << line.toStdString();
    }
}

// The one check of a view's numbers, as decimal texts of any exponent and as doubles.
TEST(ExactView, ViewNumbers)
{
    using E = ViewNumberError;
    const struct Row {
        const char* text;
        E scale;
        E coordinate;
    } rows[] = { { "1e-300", E::None, E::None }, { "1e-315000", E::None, E::None },
        { "1e-316000", E::TooDeep, E::None }, { "1e-99999999999999", E::TooDeep, E::None },
        { "0", E::NotPositive, E::None }, { "-1", E::NotPositive, E::None },
        { "-1e-316000", E::NotPositive, E::None }, { "1e400", E::OutOfRange, E::OutOfRange },
        { "-1e400", E::NotPositive, E::OutOfRange }, { "nan", E::NotANumber, E::NotANumber },
        { "inf", E::NotANumber, E::NotANumber }, { "0x10", E::NotANumber, E::NotANumber } };
    for (const Row& row : rows) {
        EXPECT_EQ(CheckViewScale(row.text), row.scale) << row.text;
        EXPECT_EQ(CheckViewCoordinate(row.text), row.coordinate) << row.text;
    }
    const double doubles[] = { 0.5, 0.0, -1.0, INFINITY, NAN };
    const E scales[] = { E::None, E::NotPositive, E::NotPositive, E::OutOfRange, E::NotANumber };
    const E coordinates[] = { E::None, E::None, E::None, E::OutOfRange, E::NotANumber };
    for (size_t k = 0; k < std::size(doubles); ++k) {
        EXPECT_EQ(CheckViewScale(doubles[k]), scales[k]) << doubles[k];
        EXPECT_EQ(CheckViewCoordinate(doubles[k]), coordinates[k]) << doubles[k];
    }
}

} // namespace
