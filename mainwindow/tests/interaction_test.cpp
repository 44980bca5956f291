#include "clientarea.h"
#include "testwindow.h"

#include <QKeySequence>
#include <QTemporaryDir>
#include <QWidget>

#include <cmath>
#include <functional>

namespace {

using namespace testwindow;

constexpr double kE = 2.718281828459045;

// A window with its worker stopped once the first frame was shown: the tests call the timer
// bodies themselves and never run the event loop while they count ticks.
struct IdleWindow : StartedWindow {
    IdleWindow()
    {
        EXPECT_TRUE(WaitUntil([&] { return window.ShownStage() != 0; }));
        Script().StopPreview();
    }
};

// Holding arrows, ticking timer 1 by hand: the first tick acts, nine pause, then every tick acts.
TEST(Interaction, HeldArrowKeysRepeat)
{
    IdleWindow w;
    ASSERT_TRUE(Activate(w.window)) << "the offscreen platform did not activate the window";
    ASSERT_DOUBLE_EQ(w.window.EditStep(), 0.01);

    const struct {
        int key;
        double re, im; // direction of the change
    } rows[] = {
        { Qt::Key_Right, 1, 0 },
        { Qt::Key_Left, -1, 0 },
        { Qt::Key_Up, 0, 1 },
        { Qt::Key_Down, 0, -1 },
    };
    for (const auto& row : rows) {
        const std::string name = QKeySequence(row.key).toString().toStdString();
        const Complex start = w.Script().GetCurrentConstant();
        const auto change = [&] {
            const Complex now = w.Script().GetCurrentConstant();
            return std::pair(now.re - start.re, now.im - start.im);
        };
        w.window.OnArrowKey(row.key, true);
        for (int tick = 1; tick <= 20; ++tick) {
            w.window.OnKeysTimer();
            const int steps = tick == 1 ? 1 : std::max(1, tick - 9);
            const auto [re, im] = change();
            EXPECT_NEAR(re, row.re * 0.01 * steps, 1e-12) << name << " tick " << tick;
            EXPECT_NEAR(im, row.im * 0.01 * steps, 1e-12) << name << " tick " << tick;
            EXPECT_EQ(w.window.s_nArrowRepeat, tick) << name << " tick " << tick;
        }
        EXPECT_NEAR(std::hypot(change().first, change().second), 0.11, 1e-12) << name;

        // Released: the count resets, and the next press acts on its first tick again.
        w.window.OnArrowKey(row.key, false);
        w.window.OnKeysTimer();
        EXPECT_EQ(w.window.s_nArrowRepeat, 0) << name;
        EXPECT_NEAR(std::hypot(change().first, change().second), 0.11, 1e-12) << name << " released";
        w.window.OnArrowKey(row.key, true);
        w.window.OnKeysTimer();
        EXPECT_NEAR(std::hypot(change().first, change().second), 0.12, 1e-12) << name << " pressed again";
        w.window.OnArrowKey(row.key, false);
        w.window.OnKeysTimer();
    }
}

TEST(Interaction, HeldArrowKeysCountUpToTheCap)
{
    IdleWindow w;
    ASSERT_TRUE(Activate(w.window));
    w.window.SetEditStep(1e-9);
    w.window.OnArrowKey(Qt::Key_Right, true);
    for (int tick = 0; tick < 1100; ++tick) {
        w.window.OnKeysTimer();
    }
    EXPECT_EQ(w.window.s_nArrowRepeat, 1024);
    w.window.OnKeysTimer();
    EXPECT_EQ(w.window.s_nArrowRepeat, 1024) << "still repeating at the cap";
    w.window.OnArrowKey(Qt::Key_Right, false);
    w.window.OnKeysTimer();
    EXPECT_EQ(w.window.s_nArrowRepeat, 0);
}

// Key events as an X server sends them for one key, and the tick each comes before: X11 reports a held
// key's auto-repeat as release/press pairs of one timestamp, without the auto-repeat flag.
struct KeyEvent {
    int tick;
    bool press;
    unsigned long time;
};

// Held for 100 ticks under a 660 ms delay and 25 repeats a second: the rule's 91 steps and one
// undo step, whether a repeat pair lands between two ticks or a tick falls between its halves (the
// server then still reports the key down). A tap between two ticks is one step, never lost.
TEST(Interaction, HeldKeysFollowTheRuleWhateverTheRepeat)
{
    struct Row {
        const char* name;
        bool split; // each repeat's press reaches the window one tick after its release
        std::vector<KeyEvent> events;
        int ticks;
        double steps;
        int undoSteps;
    };
    std::vector<KeyEvent> held { { 1, true, 5000 } };
    std::vector<KeyEvent> split { { 1, true, 5000 } };
    for (int tick = 67; tick <= 100; tick += 4) {
        const unsigned long time = 5000 + static_cast<unsigned long>(tick) * 10;
        held.push_back({ tick, false, time });
        held.push_back({ tick, true, time });
        split.push_back({ tick, false, time });
        split.push_back({ tick + 1, true, time });
    }
    held.push_back({ 101, false, 6010 });
    split.push_back({ 101, false, 6010 });
    std::vector<KeyEvent> taps;
    for (int k = 0; k < 10; ++k) {
        const unsigned long time = 9000 + static_cast<unsigned long>(k) * 500;
        taps.push_back({ 1 + k * 50, true, time });
        taps.push_back({ 1 + k * 50, false, time + 6 });
    }
    const Row rows[] = {
        { "held, repeat pairs between ticks", false, held, 110, 91, 1 },
        { "held, a tick inside each repeat pair", true, split, 110, 91, 1 },
        { "ten taps of 6 ms, 0.5 s apart", false, taps, 500, 10, 10 },
    };
    for (const Row& row : rows) {
        IdleWindow w;
        ASSERT_TRUE(Activate(w.window));
        // The server's own state: the key is down from the first press to the last release.
        const unsigned long up = row.events.back().time;
        bool down = false;
        w.window.SetKeyProbe([&](unsigned) { return std::optional<bool>(down); });
        const double start = w.Script().GetCurrentConstant().re;
        size_t next = 0;
        for (int tick = 1; tick <= row.ticks; ++tick) {
            for (; next < row.events.size() && row.events[next].tick <= tick; ++next) {
                const KeyEvent& e = row.events[next];
                down = row.split && e.time < up ? true : e.press;
                w.window.OnArrowKey(Qt::Key_Right, e.press, e.time, false, 114);
            }
            w.window.OnKeysTimer();
        }
        EXPECT_NEAR((w.Script().GetCurrentConstant().re - start) / w.window.EditStep(), row.steps, 1e-6)
            << row.name;
        EXPECT_EQ(w.window.History().Stack().count(), row.undoSteps) << row.name;
        EXPECT_EQ(w.window.s_nArrowRepeat, 0) << row.name;
    }
}

TEST(Interaction, HeldArrowKeysIgnoredWhileInactive)
{
    IdleWindow w;
    ASSERT_TRUE(Activate(w.window));
    QWidget other;
    other.show();
    other.activateWindow();
    QApplication::setActiveWindow(&other);
    ASSERT_TRUE(WaitUntil([&] { return !w.window.isActiveWindow(); }, 2000));

    const Complex start = w.Script().GetCurrentConstant();
    w.window.OnArrowKey(Qt::Key_Right, true);
    w.window.OnArrowKey(Qt::Key_Up, true);
    for (int tick = 0; tick < 15; ++tick) {
        w.window.OnKeysTimer();
        EXPECT_EQ(w.window.s_nArrowRepeat, 0) << "tick " << tick;
    }
    const Complex now = w.Script().GetCurrentConstant();
    EXPECT_EQ(now.re, start.re);
    EXPECT_EQ(now.im, start.im);
    EXPECT_FALSE(w.Script().IsModified());
}

TEST(Interaction, StepKeys)
{
    IdleWindow w;
    const struct {
        int key;
        double step;
    } rows[] = {
        { Qt::Key_A, 0.1 },
        { Qt::Key_A, 1.0 },
        { Qt::Key_Z, 0.1 },
        { Qt::Key_Z, 0.01 },
        { Qt::Key_Z, 0.001 },
        { Qt::Key_Enter, 0.001 },
        { Qt::Key_Return, 0.001 },
        { Qt::Key_B, 0.001 },
    };
    for (const auto& row : rows) {
        w.window.OnKeyDown(row.key, false);
        EXPECT_NEAR(w.window.EditStep(), row.step, row.step * 1e-12)
            << QKeySequence(row.key).toString().toStdString();
    }
    // No bounds in either direction.
    for (int k = 0; k < 300; ++k) {
        w.window.OnKeyDown(Qt::Key_Z, false);
    }
    EXPECT_GT(w.window.EditStep(), 0.0);
    EXPECT_LT(w.window.EditStep(), 1e-300);
    for (int k = 0; k < 600; ++k) {
        w.window.OnKeyDown(Qt::Key_A, false);
    }
    EXPECT_GT(w.window.EditStep(), 1e290);
    EXPECT_FALSE(w.Script().IsModified()) << "the step is the window's, not the script's";
}

TEST(Interaction, ConstantKeys)
{
    IdleWindow w;
    std::string err;
    ASSERT_TRUE(w.Script().SetFormulas("z = z * z + C1 + C2 + C3;", "norm(z) > 100;", err)) << err;
    ASSERT_EQ(w.Script().GetIterFormula().GetConstantCount(), 3);
    const struct {
        bool shift;
        int index;
    } rows[] = {
        { false, 1 },
        { false, 2 },
        { false, 0 }, // from the last back to the first
        { true, 2 },  // and backwards round
        { true, 1 },
        { true, 0 },
    };
    ASSERT_EQ(w.Script().GetCurrentConstantIndex(), 0);
    for (const auto& row : rows) {
        w.window.OnKeyDown(Qt::Key_C, row.shift);
        EXPECT_EQ(w.Script().GetCurrentConstantIndex(), row.index) << (row.shift ? "Shift+C" : "C");
    }

    ASSERT_TRUE(w.Script().SetFormulas("z = z * z;", "norm(z) > 100;", err)) << err;
    const int index = w.Script().GetCurrentConstantIndex();
    w.window.OnKeyDown(Qt::Key_C, false);
    EXPECT_EQ(w.Script().GetCurrentConstantIndex(), index) << "no constants: C";
    w.window.OnKeyDown(Qt::Key_C, true);
    EXPECT_EQ(w.Script().GetCurrentConstantIndex(), index) << "no constants: Shift+C";
}

TEST(Interaction, ConstantKeyLeavesTheScriptUnmodified)
{
    IdleWindow w;
    ASSERT_FALSE(w.Script().IsModified());
    const int stage = w.window.ShownStage();
    w.window.OnKeyDown(Qt::Key_C, false);
    w.window.OnKeyDown(Qt::Key_C, true);
    EXPECT_FALSE(w.Script().IsModified());
    EXPECT_EQ(w.window.ShownStage(), stage) << "the picture does not change";
}

// The plane point under a client position, for a 480-pixel-wide picture.
std::pair<double, double> PlaneAt(CFractalScript& script, QPoint p)
{
    const double px = p.x() - Layout::kPreviewLeft;
    const double py = p.y() - Layout::kPreviewTop;
    return { script.GetOffsetX() + script.GetRatio() * script.GetImageWidth() * px / 480,
        script.GetOffsetY() + script.GetRatio() * script.GetImageHeight() * py / 480 };
}

TEST(Interaction, WheelZoomsAboutTheCursor)
{
    IdleWindow w;
    const double ratio0 = w.Script().GetRatio();
    const double ox0 = w.Script().GetOffsetX();
    const double oy0 = w.Script().GetOffsetY();

    // At the preview's top-left corner only the scale changes.
    w.window.OnWheel(120, QPoint(6, 20));
    EXPECT_DOUBLE_EQ(w.Script().GetRatio(), ratio0 / 1.2);
    EXPECT_EQ(w.Script().GetOffsetX(), ox0);
    EXPECT_EQ(w.Script().GetOffsetY(), oy0);

    const struct {
        QPoint at;
        int delta;
        double factor;
    } rows[] = {
        { { 246, 260 }, 120, 1 / 1.2 },
        { { 485, 499 }, 120, 1 / 1.2 },
        { { 30, 400 }, -120, 1.2 },
        { { 600, 100 }, 120, 1 / 1.2 }, // over the palette: the point outside the picture stays
        { { 100, 50 }, 240, 1 / 1.44 }, // two notches at once
        { { 100, 50 }, -360, 1.728 },
    };
    for (const auto& row : rows) {
        const std::string text = std::to_string(row.at.x()) + ", " + std::to_string(row.at.y()) + " by "
            + std::to_string(row.delta);
        const double ratio = w.Script().GetRatio();
        const auto [x, y] = PlaneAt(w.Script(), row.at);
        w.window.OnWheel(row.delta, row.at);
        EXPECT_NEAR(w.Script().GetRatio(), ratio * row.factor, ratio * row.factor * 1e-12) << text;
        const auto [x2, y2] = PlaneAt(w.Script(), row.at);
        EXPECT_NEAR(x2, x, std::abs(x) * 1e-12 + 1e-15) << text;
        EXPECT_NEAR(y2, y, std::abs(y) * 1e-12 + 1e-15) << text;
    }
}

TEST(Interaction, WheelGathersSmallDeltas)
{
    IdleWindow w;
    const double ratio0 = w.Script().GetRatio();
    for (int k = 1; k <= 3; ++k) {
        w.window.OnWheel(30, QPoint(200, 200));
        EXPECT_EQ(w.Script().GetRatio(), ratio0) << k << " x 30";
    }
    EXPECT_FALSE(w.Script().IsModified()) << "no step yet";
    w.window.OnWheel(30, QPoint(200, 200));
    EXPECT_DOUBLE_EQ(w.Script().GetRatio(), ratio0 / 1.2) << "4 x 30 is one notch";
    w.window.OnWheel(0, QPoint(200, 200));
    EXPECT_DOUBLE_EQ(w.Script().GetRatio(), ratio0 / 1.2) << "a zero delta";
    w.window.OnWheel(-120, QPoint(200, 200));
    EXPECT_DOUBLE_EQ(w.Script().GetRatio(), ratio0) << "one notch back";
}

TEST(Interaction, WheelRefusesAnInfiniteScale)
{
    IdleWindow w;
    w.Script().SetView(0.0, 0.0, 1e308);
    w.window.OnWheel(-120, QPoint(200, 200));
    EXPECT_TRUE(std::isfinite(w.Script().GetRatio()));
    EXPECT_TRUE(std::isfinite(w.Script().GetOffsetX()));
    EXPECT_TRUE(std::isfinite(w.Script().GetOffsetY()));
}

// Far past doubles the wheel still keeps the point under the cursor, a drag moves the plane by its
// pixels, and undo and redo put the exact view back as it was.
TEST(Interaction, DeepWheelDragAndUndo)
{
    IdleWindow w;
    constexpr mpfr_prec_t bits = 6000;
    const auto big = [](const char* text) { return BigFloat::Parse(text, bits, nullptr); };
    w.Script().SetView(ViewAroundCentre(big("-0.743643887037158704752191506114774"),
        big("0.131825904205311970495252226"), big("1e-1000") / 1024, 1024, 1024));
    const QPoint at(300, 150);
    const auto under = [&](BigFloat& x, BigFloat& y) {
        const PreciseView p = PreciseViewOf(w.Script().GetView(), bits);
        x = p.offsetX + p.ratio * 1024.0 * (at.x() - 6) / 480;
        y = p.offsetY + p.ratio * 1024.0 * (at.y() - 20) / 480;
    };
    BigFloat x0(bits), y0(bits), x(bits), y(bits);
    under(x0, y0);
    for (int step = 0; step < 50; ++step) {
        w.window.OnWheel(step % 5 == 4 ? -120 : 120, at);
    }
    under(x, y);
    const PreciseView zoomed = PreciseViewOf(w.Script().GetView(), bits);
    const BigFloat pixel = zoomed.ratio * (1024.0 / 480);
    EXPECT_LT(std::fabs(((x - x0) / pixel).ToDouble()), 1e-6);
    EXPECT_LT(std::fabs(((y - y0) / pixel).ToDouble()), 1e-6);
    EXPECT_LT(zoomed.ratio.Exponent(), -3300) << "30 steps in: 1e-1000 / 1024 / 1.2^30";

    const PlaneView before = w.Script().GetView();
    w.window.OnLeftButtonDown(QPoint(200, 200));
    w.window.OnMouseMove(QPoint(260, 210), true);
    w.window.OnLeftButtonUp(QPoint(260, 210));
    const PlaneView after = w.Script().GetView();
    const PreciseView moved = PreciseViewOf(after, bits);
    const double pw = w.Script().GetPreviewWidth();
    EXPECT_NEAR(((zoomed.offsetX - moved.offsetX) / zoomed.ratio).ToDouble(), 60 * 1024 / pw, 1e-9);
    EXPECT_NEAR(((zoomed.offsetY - moved.offsetY) / zoomed.ratio).ToDouble(), 10 * 1024 / pw, 1e-9);
    w.window.OnUndo();
    EXPECT_EQ(w.Script().GetView(), before);
    w.window.OnRedo();
    EXPECT_EQ(w.Script().GetView(), after);
    // The menu's reset goes back to doubles.
    w.window.OnResetView();
    EXPECT_TRUE(w.Script().GetExactView().Empty());
}

// Hit-testing: the press tests P1, the stretch handle, P2, the parallelogram, the preview, the
// palette box in this order; the hover has the stretch handle after P2 and no parallelogram test.
TEST(Interaction, HitTesting)
{
    IdleWindow w;
    const PaletteMapping identity;
    // P2 lands on the stretch handle: x = 500 + 200 * 0.5, y = 79 + 82 * 1.79 = 225.8.
    const PaletteMapping sizeOnStretch { 0, 0, 0.5, 1.79, 0, 1, 1 };
    // Over the preview area: the parallelogram spans x 100..300, y 79..161.
    const PaletteMapping overPreview { -2, 0, 1, 1, 0, 1, 1 };
    // Handles beyond the client area (715 x 553) are drawn and grabbed at its edge, 6 pixels in.
    const PaletteMapping wide { 0, 0, 2, 2, 0, 1, 1 }; // P1 (900, 79), P2 (900, 243)
    const PaletteMapping low { 0, 5, 1, 1, 0, 1, 1 };  // P2 (700, 571)
    const struct {
        PaletteMapping mapping;
        QPoint at;
        DragMode press, hover;
        const char* text;
    } rows[] = {
        { identity, { 700, 79 }, DragAngle, DragAngle, "angle handle" },
        { identity, { 705, 84 }, DragAngle, DragAngle, "angle handle, edge of the near square" },
        { identity, { 694, 79 }, DragOrigin, DragOrigin, "just beside the angle handle" },
        { identity, { 706, 79 }, DragNone, DragNone, "right of the palette box" },
        { identity, { 700, 161 }, DragSize, DragSize, "size handle" },
        { identity, { 600, 226 }, DragStretch, DragStretch, "stretch handle" },
        { identity, { 605, 231 }, DragStretch, DragStretch, "stretch band corner" },
        { identity, { 606, 226 }, DragNone, DragNone, "beside the stretch band" },
        { identity, { 600, 232 }, DragNone, DragNone, "under the stretch band" },
        { identity, { 600, 120 }, DragOrigin, DragOrigin, "inside the parallelogram" },
        { identity, { 600, 40 }, DragOrigin, DragOrigin, "palette box" },
        { identity, { 200, 200 }, DragPan, DragPan, "preview" },
        { identity, { 6, 200 }, DragNone, DragNone, "preview's left edge" },
        { identity, { 200, 500 }, DragNone, DragNone, "preview's bottom edge" },
        { identity, { 300, 540 }, DragNone, DragNone, "panel" },
        { sizeOnStretch, { 600, 226 }, DragStretch, DragSize, "size handle on the stretch handle" },
        { overPreview, { 200, 120 }, DragOrigin, DragPan, "parallelogram over the preview" },
        { overPreview, { 200, 200 }, DragPan, DragPan, "preview beside the parallelogram" },
        { wide, { 708, 79 }, DragAngle, DragAngle, "angle handle right of the window" },
        { wide, { 708, 243 }, DragSize, DragSize, "size handle right of the window" },
        { low, { 700, 546 }, DragSize, DragSize, "size handle below the window" },
    };
    for (const auto& row : rows) {
        w.Script().SetMapping(row.mapping);
        w.window.OnLeftButtonUp(QPoint(0, 0));
        w.window.OnMouseMove(QPoint(300, 540), false);
        w.window.OnMouseMove(row.at, false);
        EXPECT_EQ(w.window.GetDragMode(), row.hover) << "hover: " << row.text;
        w.window.OnLeftButtonDown(row.at);
        EXPECT_EQ(w.window.GetDragMode(), row.press) << "press: " << row.text;
        w.window.OnLeftButtonUp(row.at);
        EXPECT_EQ(w.window.GetDragMode(), DragNone) << "release: " << row.text;
    }
}

TEST(Interaction, AngleDrag)
{
    IdleWindow w;
    // The origin P0 is (500, 79); the handle starts at P1 = (700, 79).
    w.window.OnLeftButtonDown(QPoint(700, 79));
    ASSERT_EQ(w.window.GetDragMode(), DragAngle);
    const struct {
        QPoint to;
        double sin, cos;
    } rows[] = {
        { { 600, 79 }, 0, 1 },                    // right
        { { 600, 179 }, M_SQRT1_2, M_SQRT1_2 },   // down right
        { { 500, 179 }, 1, 0 },                   // down
        { { 400, 179 }, M_SQRT1_2, -M_SQRT1_2 },  // down left
        { { 400, 79 }, 0, -1 },                   // left
        { { 400, -21 }, -M_SQRT1_2, -M_SQRT1_2 }, // up left
        { { 500, -21 }, -1, 0 },                  // up
        { { 600, -21 }, -M_SQRT1_2, M_SQRT1_2 },  // up right
        { { 503, 75 }, -0.8, 0.6 },               // a 3-4-5 step
        { { 500, 79 }, -0.8, 0.6 },               // on the origin: unchanged
    };
    for (const auto& row : rows) {
        w.window.OnMouseMove(row.to, true);
        const PaletteMapping m = w.Script().GetMapping();
        EXPECT_NEAR(m.sin, row.sin, 1e-12) << row.to.x() << ", " << row.to.y();
        EXPECT_NEAR(m.cos, row.cos, 1e-12) << row.to.x() << ", " << row.to.y();
        EXPECT_EQ(m.x0, 0.0);
        EXPECT_EQ(m.y0, 0.0);
        EXPECT_EQ(m.dx, 1.0);
        EXPECT_EQ(m.dy, 1.0);
        EXPECT_EQ(m.stretch, 1.0);
    }
    w.window.OnLeftButtonUp(QPoint(500, 79));
}

TEST(Interaction, SizeDrag)
{
    IdleWindow w;
    const struct {
        QPoint to;
        double dx, dy;
    } rows[] = {
        { { 2000, 2000 }, 2.0, 2.0 }, // far out
        { { 600, 120 }, 0.5, 0.5 },   // half way: (100 / 200, 41 / 82)
        { { 500, 79 }, 0.1, 0.1 },    // onto the origin
        { { 300, -100 }, 0.1, 0.1 },  // beyond it
        { { 800, 79 }, 1.5, 0.1 },    // along the first axis only
    };
    for (const auto& row : rows) {
        w.Script().SetMapping(PaletteMapping {});
        w.window.OnLeftButtonUp(QPoint(0, 0));
        w.window.OnLeftButtonDown(QPoint(700, 161));
        ASSERT_EQ(w.window.GetDragMode(), DragSize);
        w.window.OnMouseMove(row.to, true);
        const PaletteMapping m = w.Script().GetMapping();
        EXPECT_DOUBLE_EQ(m.dx, row.dx) << row.to.x() << ", " << row.to.y();
        EXPECT_DOUBLE_EQ(m.dy, row.dy) << row.to.x() << ", " << row.to.y();
        EXPECT_EQ(m.x0, 0.0);
        EXPECT_EQ(m.sin, 0.0);
        EXPECT_EQ(m.cos, 1.0);
        w.window.OnLeftButtonUp(row.to);
    }
}

TEST(Interaction, StretchDrag)
{
    IdleWindow w;
    const double stretch0 = 2.0;
    const struct {
        QPoint to;
        double factor;
    } rows[] = {
        { { 2000, 226 }, kE },    // far right: clamped to x = 694
        { { 694, 0 }, kE },       // any height
        { { -50, 226 }, 1 / kE }, // far left: clamped to x = 506
        { { 647, 226 }, std::exp(0.5) },
        { { 600, 226 }, 1.0 },
    };
    for (const auto& row : rows) {
        w.Script().SetMapping({ 0.1, 0.2, 0.8, 0.9, 0.6, 0.8, stretch0 });
        w.window.OnLeftButtonUp(QPoint(0, 0));
        w.window.OnLeftButtonDown(QPoint(600, 226));
        ASSERT_EQ(w.window.GetDragMode(), DragStretch);
        w.window.OnMouseMove(row.to, true);
        const PaletteMapping m = w.Script().GetMapping();
        EXPECT_NEAR(m.stretch, stretch0 * row.factor, 1e-12) << row.to.x();
        EXPECT_EQ(m.x0, 0.1);
        EXPECT_EQ(m.dy, 0.9);
        EXPECT_EQ(m.cos, 0.8);
        w.window.OnLeftButtonUp(row.to);

        // Released, the handle is back at the centre for the new stretch.
        const QImage& image = w.window.ComposeClient();
        EXPECT_EQ(PixelAt(image, 597, 223), (Rgb { 255, 255, 255 })) << row.to.x();
        EXPECT_EQ(PixelAt(image, 603, 229), (Rgb { 255, 255, 255 })) << row.to.x();
        EXPECT_EQ(PixelAt(image, 600, 226), (Rgb { 0, 0, 0 })) << row.to.x();
        EXPECT_EQ(PixelAt(image, 598, 224), (Rgb { 0, 0, 0 })) << row.to.x();
    }
}

TEST(Interaction, PanDrag)
{
    IdleWindow w;
    // Unequal scales across and down: 1000 / 480 and 333 / 156.
    w.Script().SetImageSize(1000, 333);
    w.window.ApplyPreviewSize();
    ASSERT_EQ(w.Script().GetPreviewWidth(), 480);
    ASSERT_EQ(w.Script().GetPreviewHeight(), 156);
    const double ratio = w.Script().GetRatio();
    const double ox = w.Script().GetOffsetX();
    const double oy = w.Script().GetOffsetY();
    const PaletteMapping mapping = w.Script().GetMapping();

    w.window.OnLeftButtonDown(QPoint(200, 200));
    ASSERT_EQ(w.window.GetDragMode(), DragPan);
    // Every move counts from the press, not from the previous move.
    w.window.OnMouseMove(QPoint(250, 150), true);
    w.window.OnMouseMove(QPoint(210, 205), true);
    EXPECT_DOUBLE_EQ(w.Script().GetOffsetX(), ox - 10 * 1000 * ratio / 480);
    EXPECT_DOUBLE_EQ(w.Script().GetOffsetY(), oy - 5 * 333 * ratio / 156);
    EXPECT_EQ(w.Script().GetRatio(), ratio);
    EXPECT_EQ(w.Script().GetMapping(), mapping);
    w.window.OnLeftButtonUp(QPoint(210, 205));

    // Moves without the button, or after the release, pan nothing.
    const double x1 = w.Script().GetOffsetX();
    w.window.OnMouseMove(QPoint(300, 300), true);
    w.window.OnMouseMove(QPoint(300, 300), false);
    EXPECT_EQ(w.Script().GetOffsetX(), x1);
}

TEST(Interaction, OriginDrag)
{
    IdleWindow w;
    const struct {
        PaletteMapping mapping;
        QPoint press;
        const char* text;
    } rows[] = {
        { PaletteMapping {}, { 600, 120 }, "inside the parallelogram" },
        { PaletteMapping {}, { 600, 40 }, "palette box outside the parallelogram" },
        { { -2, 0, 1, 1, 0, 1, 1 }, { 200, 120 }, "parallelogram over the preview" },
    };
    for (const auto& row : rows) {
        w.Script().SetMapping(row.mapping);
        w.window.OnLeftButtonUp(QPoint(0, 0));
        const double ox = w.Script().GetOffsetX();
        w.window.OnLeftButtonDown(row.press);
        ASSERT_EQ(w.window.GetDragMode(), DragOrigin) << row.text;
        w.window.OnMouseMove(row.press + QPoint(50, 50), true);
        w.window.OnMouseMove(row.press + QPoint(20, -10), true);
        const PaletteMapping m = w.Script().GetMapping();
        // The built-in palette's rectangle is 200 x 82.
        EXPECT_DOUBLE_EQ(m.x0, row.mapping.x0 + 20.0 / 200) << row.text;
        EXPECT_DOUBLE_EQ(m.y0, row.mapping.y0 - 10.0 / 82) << row.text;
        EXPECT_EQ(m.dx, row.mapping.dx) << row.text;
        EXPECT_EQ(m.sin, row.mapping.sin) << row.text;
        EXPECT_EQ(m.stretch, row.mapping.stretch) << row.text;
        EXPECT_EQ(w.Script().GetOffsetX(), ox) << row.text << ": no pan";
        w.window.OnLeftButtonUp(row.press);
    }
}

// Every edit sets the shown stage to 0 and marks the script modified.
TEST(Interaction, EditsRestartThePicture)
{
    StartedWindow w;
    ASSERT_TRUE(Activate(w.window));
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("edit.gsc"));

    const struct {
        const char* text;
        std::function<void(CFractalDlg&)> edit;
    } rows[] = {
        { "arrow key",
            [](CFractalDlg& window) {
                window.OnArrowKey(Qt::Key_Up, true);
                window.OnKeysTimer();
                window.OnArrowKey(Qt::Key_Up, false);
            } },
        { "wheel", [](CFractalDlg& window) { window.OnWheel(120, QPoint(100, 100)); } },
        { "pan", [](CFractalDlg& window) { Drag(window, QPoint(200, 200), QPoint(203, 201)); } },
        { "angle", [](CFractalDlg& window) { Drag(window, QPoint(700, 79), QPoint(650, 120)); } },
        { "size", [](CFractalDlg& window) { Drag(window, QPoint(700, 161), QPoint(690, 150)); } },
        { "origin", [](CFractalDlg& window) { Drag(window, QPoint(600, 120), QPoint(601, 121)); } },
        { "stretch", [](CFractalDlg& window) { Drag(window, QPoint(600, 226), QPoint(620, 226)); } },
    };
    for (const auto& row : rows) {
        // Back to a saved script whose picture has been shown.
        w.Script().SetMapping(PaletteMapping {});
        w.window.OnLeftButtonUp(QPoint(0, 0));
        ASSERT_TRUE(w.Script().Save(path)) << row.text;
        ASSERT_FALSE(w.Script().IsModified()) << row.text;
        ASSERT_TRUE(WaitUntil([&] { return w.window.ShownStage() != 0; })) << row.text;
        row.edit(w.window);
        EXPECT_EQ(w.window.ShownStage(), 0) << row.text;
        EXPECT_TRUE(w.Script().IsModified()) << row.text;
    }
}

// Counts the client area's paints, to tell which hovers repaint.
class PaintCounter : public QObject {
public:
    int paints { 0 };

protected:
    bool eventFilter(QObject*, QEvent* event) override
    {
        paints += event->type() == QEvent::Paint ? 1 : 0;
        return false;
    }
};

TEST(Interaction, HoverRepaintsOnlyWhenTheModeChanges)
{
    IdleWindow w;
    w.window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&w.window));
    PaintCounter counter;
    w.window.ClientArea()->installEventFilter(&counter);
    // A repaint is awaited for as long as it takes; one that must not come gets 60 ms to show up.
    const auto paintsAfter = [&](QPoint hover, bool repaint) {
        QTest::qWait(30);
        QCoreApplication::sendPostedEvents(); // a paint still on its way belongs to the row before
        counter.paints = 0;
        w.window.OnMouseMove(hover, false);
        if (repaint) {
            WaitUntil([&] { return counter.paints > 0; });
        } else {
            QTest::qWait(60);
        }
        return counter.paints;
    };
    const struct {
        QPoint at;
        bool repaint;
        const char* text;
    } rows[] = {
        { { 300, 540 }, false, "nothing to nothing" },
        { { 700, 79 }, true, "onto the angle handle" },
        { { 701, 80 }, false, "within the angle handle" },
        { { 600, 100 }, true, "onto the palette" },
        { { 620, 110 }, false, "within the palette" },
        { { 100, 100 }, true, "onto the preview" },
        { { 110, 120 }, false, "within the preview" },
        { { 300, 540 }, true, "off everything" },
    };
    for (const auto& row : rows) {
        const int paints = paintsAfter(row.at, row.repaint);
        if (row.repaint) {
            EXPECT_GT(paints, 0) << row.text;
        } else {
            EXPECT_EQ(paints, 0) << row.text;
        }
    }
}

} // namespace
