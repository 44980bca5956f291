// Undo and redo across every kind of edit, the saved state and the title's mark, the Ctrl+Z / Z
// interplay, the status line and the palettes a long history keeps.
#include "clientarea.h"
#include "outportsetdlg.h"
#include "renderer.h"
#include "settingdlg.h"
#include "statusline.h"
#include "testwindow.h"

#include <QMenuBar>
#include <QStatusBar>
#include <QTemporaryDir>

#include <functional>

using namespace testwindow;

namespace {

class CHistoryServices : public CFakeServices {
public:
    bool RunSettings(CSettingDlg& dialog) override
    {
        dialog.InitDialog();
        dialog.m_strIterFormula = QStringLiteral("z = z*z*z + C;");
        dialog.m_nMaxIter = 77;
        dialog.m_dEditStep = 0.5;
        dialog.WriteFields();
        return dialog.OnOk();
    }
    bool RunExportSize(COutportSetDlg& dialog) override
    {
        dialog.InitDialog();
        if (antialias != 0) {
            dialog.m_nAntialias = antialias;
        } else {
            dialog.m_nWidth = 600;
        }
        return true;
    }
    int antialias { 0 }; // when set, the export settings change only the anti-aliasing
};

struct HistoryWindow {
    CHistoryServices services;
    CFractalDlg window { services };
    qint64 now { 0 };

    HistoryWindow()
    {
        window.Script().SetPreviewHoldTicks(0);
        window.SetClock([this] { return now; });
        window.Initialize(QString());
    }
    QUndoStack& Stack() { return window.History().Stack(); }
    QString Title() { return window.windowTitle(); }
};

// What an edit may change, in one comparable value.
struct State {
    double offsetX, offsetY, ratio;
    PaletteMapping mapping;
    Complex constant;
    int maxIter, width, antialias;
    std::string iterText;
    qint64 palette;
    double step;

    bool operator==(const State& o) const
    {
        return offsetX == o.offsetX && offsetY == o.offsetY && ratio == o.ratio && mapping.x0 == o.mapping.x0
            && mapping.sin == o.mapping.sin && mapping.dx == o.mapping.dx && constant.re == o.constant.re
            && constant.im == o.constant.im && maxIter == o.maxIter && width == o.width
            && antialias == o.antialias && iterText == o.iterText && palette == o.palette && step == o.step;
    }
};

State StateOf(CFractalDlg& w)
{
    CFractalScript& s = w.Script();
    return { s.GetOffsetX(), s.GetOffsetY(), s.GetRatio(), s.GetMapping(), s.GetCurrentConstant(),
        s.GetMaxIter(), s.GetImageWidth(), s.GetAntialias(), s.GetIterFormula().GetText(),
        s.GetPalette().cacheKey(), w.EditStep() };
}

void HoldArrow(CFractalDlg& w, int key, int ticks)
{
    w.OnArrowKey(key, true);
    for (int i = 0; i < ticks; ++i) {
        w.OnKeysTimer();
    }
    w.OnArrowKey(key, false);
}

QString WriteImage(const QTemporaryDir& dir, int n)
{
    QImage image(40, 30, QImage::Format_RGB32);
    image.fill(QColor(n * 20, 255 - n * 20, n * 7));
    const QString path = dir.filePath(QStringLiteral("p%1.png").arg(n));
    image.save(path);
    return path;
}

} // namespace

// Each kind of edit is one step: undo brings back exactly the state before it and the saved state
// (no mark in the title), redo the state after it and the mark.
TEST(History, EveryEditIsOneStepThatUndoesAndRedoes)
{
    QTemporaryDir dir;
    const QString palette = WriteImage(dir, 1);
    const struct {
        const char* name;
        std::function<void(HistoryWindow&)> edit;
    } rows[] = {
        { "held arrow, 20 ticks", [](HistoryWindow& h) { HoldArrow(h.window, Qt::Key_Right, 20); } },
        { "two arrows held together",
            [](HistoryWindow& h) {
                h.window.OnArrowKey(Qt::Key_Up, true);
                HoldArrow(h.window, Qt::Key_Left, 15);
                h.window.OnKeysTimer();
                h.window.OnArrowKey(Qt::Key_Up, false);
            } },
        { "wheel burst within 0.5 s",
            [](HistoryWindow& h) {
                for (int i = 0; i < 4; ++i) {
                    h.window.OnWheel(120, QPoint(100, 300));
                    h.now += 400;
                }
            } },
        { "pan drag with several moves",
            [](HistoryWindow& h) {
                h.window.OnLeftButtonDown(QPoint(200, 200));
                for (int x = 205; x <= 260; x += 5) {
                    h.window.OnMouseMove(QPoint(x, 210), true);
                }
                h.window.OnLeftButtonUp(QPoint(260, 210));
            } },
        { "angle handle drag", [](HistoryWindow& h) { Drag(h.window, QPoint(700, 79), QPoint(650, 150)); } },
        { "origin drag", [](HistoryWindow& h) { Drag(h.window, QPoint(560, 100), QPoint(590, 120)); } },
        { "settings OK", [](HistoryWindow& h) { h.window.OnSettings(); } },
        { "export settings", [](HistoryWindow& h) { h.window.OnExportSettings(); } },
        { "anti-aliasing alone",
            [](HistoryWindow& h) {
                h.services.antialias = 3;
                h.window.OnExportSettings();
            } },
        { "import palette",
            [&](HistoryWindow& h) {
                h.services.ChooseFile(palette);
                h.window.OnImportPalette();
            } },
        { "zoom in", [](HistoryWindow& h) { h.window.OnZoom(true); } },
        { "reset view", [](HistoryWindow& h) { h.window.OnResetView(); } },
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        HistoryWindow h;
        ASSERT_TRUE(Activate(h.window));             // the arrow keys act in the active window only
        h.window.Script().SetView(0.25, -0.5, 1e-4); // somewhere, as opened: the saved state
        h.window.Script().SetModified(false);
        const State before = StateOf(h.window);
        row.edit(h);
        const State after = StateOf(h.window);
        ASSERT_FALSE(after == before) << "the edit changed something";
        EXPECT_EQ(h.Stack().count(), 1);
        h.window.OnPreviewTimer();
        EXPECT_TRUE(h.Title().endsWith(QStringLiteral(" *")));

        h.window.OnUndo();
        EXPECT_TRUE(StateOf(h.window) == before);
        EXPECT_FALSE(h.window.Script().IsModified());
        h.window.OnPreviewTimer();
        EXPECT_EQ(h.Title(), QStringLiteral(u"Glimmerset - 未命名"));

        h.window.OnRedo();
        EXPECT_TRUE(StateOf(h.window) == after);
        EXPECT_TRUE(h.window.Script().IsModified());
        h.window.OnPreviewTimer();
        EXPECT_TRUE(h.Title().endsWith(QStringLiteral(" *")));
    }
}

TEST(History, WheelTurnsApartAndSavedStatesAreStepsOfTheirOwn)
{
    QTemporaryDir dir;
    HistoryWindow h;
    h.window.OnWheel(120, QPoint(100, 300));
    h.now += 501;
    h.window.OnWheel(120, QPoint(100, 300));
    EXPECT_EQ(h.Stack().count(), 2) << "more than half a second apart";

    // Saving makes the clean state: undo to it clears the mark, and steps never join across it.
    h.services.ChooseFile(dir.filePath(QStringLiteral("saved.gsc")));
    ASSERT_TRUE(h.window.OnFileSave());
    const State saved = StateOf(h.window);
    h.window.OnWheel(120, QPoint(100, 300));
    EXPECT_EQ(h.Stack().count(), 3) << "a step after the saved state does not join the one before";
    h.window.OnUndo();
    EXPECT_TRUE(StateOf(h.window) == saved);
    EXPECT_FALSE(h.window.Script().IsModified());
    EXPECT_EQ(h.Title(), QStringLiteral("Glimmerset - saved"));
    h.window.OnUndo();
    EXPECT_TRUE(h.window.Script().IsModified()) << "before the saved state";

    // A drag that ends where it began is no step; New and Open start a fresh history.
    h.window.OnRedo();
    Drag(h.window, QPoint(200, 200), QPoint(200, 200));
    EXPECT_EQ(h.Stack().index(), 2);
    EXPECT_FALSE(h.window.Script().IsModified());
    h.window.OnFileNew();
    EXPECT_EQ(h.Stack().count(), 0);
    EXPECT_FALSE(h.window.Script().IsModified());
}

// Only the last ten palettes keep their pictures; undoing further back reads the files again.
TEST(History, OlderPalettesAreReadAgainFromTheirFiles)
{
    QTemporaryDir dir;
    HistoryWindow h;
    const QImage builtIn = h.window.Script().GetPalette();
    std::vector<QImage> imported;
    for (int n = 1; n <= 12; ++n) {
        h.services.ChooseFile(WriteImage(dir, n));
        h.window.OnImportPalette();
        imported.push_back(h.window.Script().GetPalette());
        EXPECT_LE(h.window.History().PicturesHeld(), CEditHistory::kRecentPalettes);
    }
    for (int n = 11; n >= 1; --n) {
        h.window.OnUndo();
        EXPECT_EQ(h.window.Script().GetPalette(), imported[static_cast<size_t>(n - 1)]) << n;
    }
    h.window.OnUndo();
    EXPECT_EQ(h.window.Script().GetPalette(), builtIn);
    EXPECT_TRUE(h.window.Script().GetPaletteFile().isEmpty());
    EXPECT_LE(h.window.History().PicturesHeld(), CEditHistory::kRecentPalettes);
    EXPECT_TRUE(h.services.messages.empty());
}

// Ctrl+Z is Undo and never also the Z key; Z, + and Home reach the window through the keyboard.
TEST(History, ShortcutsAndTheLetterKeys)
{
    HistoryWindow h;
    ASSERT_TRUE(Activate(h.window));
    QWidget* client = h.window.ClientArea();
    client->setFocus();
    QTest::keyClick(client, Qt::Key_Z, Qt::ControlModifier);
    EXPECT_EQ(h.window.EditStep(), 0.01) << "nothing to undo: still not the Z key";

    const double ratio = h.window.Script().GetRatio();
    QTest::keyClick(client, Qt::Key_Plus);
    EXPECT_DOUBLE_EQ(h.window.Script().GetRatio(), ratio / 1.2);
    QTest::keyClick(client, Qt::Key_Z, Qt::ControlModifier);
    EXPECT_EQ(h.window.Script().GetRatio(), ratio);
    EXPECT_EQ(h.window.EditStep(), 0.01);
    QTest::keyClick(client, Qt::Key_Y, Qt::ControlModifier);
    EXPECT_DOUBLE_EQ(h.window.Script().GetRatio(), ratio / 1.2);

    QTest::keyClick(client, Qt::Key_Home);
    EXPECT_EQ(h.window.Script().GetRatio(), ratio);
    QTest::keyClick(client, Qt::Key_Z);
    EXPECT_DOUBLE_EQ(h.window.EditStep(), 0.001);
}

// The status line lies under the client area, which stays where it was; it names the plane point
// under the mouse and warns when the view is deeper than doubles reach.
TEST(History, StatusLine)
{
    HistoryWindow h;
    h.window.show();
    QCoreApplication::processEvents();
    const QRect client = h.window.ClientArea()->geometry();
    EXPECT_EQ(client.size(), QSize(715, 553));
    EXPECT_EQ(client.top(), h.window.menuBar()->geometry().bottom() + 1);
    EXPECT_GT(h.window.statusBar()->geometry().top(), client.bottom());
    EXPECT_GE(h.window.statusBar()->height(), 16);

    // The default view: -1 - 1i at the top-left, 2 / 480 plane units a preview pixel.
    const struct {
        QPoint at;
        bool on;
        double x, y;
    } points[] = { { { 6, 20 }, true, -1 + 0.5 / 240, -1 + 0.5 / 240 },
        { { 246, 260 }, true, 240.5 / 240 - 1, 240.5 / 240 - 1 },
        { { 485, 499 }, true, 1 - 0.5 / 240, 1 - 0.5 / 240 }, { { 486, 260 }, false, 0, 0 },
        { { 5, 260 }, false, 0, 0 } };
    for (const auto& p : points) {
        double x = 0;
        double y = 0;
        EXPECT_EQ(h.window.PlanePointAt(p.at, x, y), p.on) << p.at.x();
        if (p.on) {
            EXPECT_NEAR(x, p.x, 1e-15);
            EXPECT_NEAR(y, p.y, 1e-15);
        }
    }
    h.window.OnMouseMove(QPoint(246, 260), false);
    EXPECT_EQ(h.window.StatusCoordinate(), QStringLiteral(u"坐标 0.00208333, 0.00208333"));
    EXPECT_EQ(h.window.StatusZoom(), QStringLiteral(u"宽度 2"));
    EXPECT_FALSE(h.window.DeepView());
    EXPECT_TRUE(h.window.StatusDeepSummary().isEmpty());

    // Past doubles the deep path renders the view, and the status line says how, in a place of its own.
    h.window.Script().SetView(0.5, 0.5, 1e-18);
    EXPECT_TRUE(h.window.DeepView());
    {
        Picture picture = h.window.Script().TakeSnapshot();
        QImage image(24, 24, QImage::Format_RGB32);
        std::atomic<int> stage { 0 };
        std::atomic<bool> stop { false };
        std::atomic<double> progress { 0.0 };
        const Raster raster { 24, 24, static_cast<int>(image.bytesPerLine()), 32, image.bits() };
        ASSERT_EQ(RenderPicture(picture, raster, { 0, 0, 24, 24, 1, 1, 1, 1 },
                      { stage, 0, stop, progress, h.window.Script().RenderPool(),
                          &h.window.Script().DeepSession() }),
            0);
    }
    EXPECT_TRUE(h.window.StatusDeepSummary().contains(QStringLiteral(u"条参考轨道")))
        << h.window.StatusDeepSummary().toStdString();
    EXPECT_FALSE(h.window.StatusState().contains(QStringLiteral(u"深度缩放")));
    h.window.Script().SetView(0.5, 0.5, 1e-11);
    EXPECT_FALSE(h.window.DeepView());

    // Past doubles the status line shows the exact width, and the coordinates with as many digits as
    // fit; the tooltip has every digit that tells the pixels apart.
    h.window.Script().SetView(
        ViewAroundCentre(BigFloat::Parse("0.25", 4000, nullptr), BigFloat::Parse("-0.5", 4000, nullptr),
            BigFloat::Parse("2e-1000", 4000, nullptr) / 1024, 1024, 1024));
    h.window.OnMouseMove(QPoint(246, 260), false);
    EXPECT_EQ(h.window.StatusZoom(), QStringLiteral(u"宽度 2e-1000"));
    EXPECT_EQ(h.window.StatusLine().Coordinate()->text().toStdString(), "坐标 0.25…, -0.4999999999…");
    const QString full = h.window.StatusLine().Coordinate()->Full();
    EXPECT_TRUE(full.startsWith(QStringLiteral("0.25000000000000000000"))) << full.left(40).toStdString();
    EXPECT_GT(full.size(), 2000) << "about a thousand digits each";
    h.window.Script().SetView(ViewAroundCentre(BigFloat::Parse("0", 4000, nullptr),
        BigFloat::Parse("0", 4000, nullptr), BigFloat::Parse("2e-1000", 4000, nullptr) / 1024, 1024, 1024));
    h.window.OnMouseMove(QPoint(246, 260), false);
    EXPECT_EQ(h.window.StatusCoordinate(), QStringLiteral(u"坐标 2.08333e-1003, 2.08333e-1003"))
        << "half a pixel right of and below the centre";
}
