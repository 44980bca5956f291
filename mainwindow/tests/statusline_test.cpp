// The status line: numbers shortened to what fits, and nothing overlapping or cut at any depth, in
// either language, within the window's fixed size.
#include "language.h"
#include "numbertext.h"
#include "renderer.h"
#include "statusline.h"
#include "testwindow.h"

#include <QStatusBar>

namespace {

using namespace testwindow;

TEST(StatusLine, ShortNumbers)
{
    const struct {
        const char* number;
        int digits;
        const char* shown;
    } rows[] = {
        { "0.00208333", 10, "0.00208333" },
        { "-0.74364388703715870475219150611477", 10, "-0.743643887…" },
        { "0.250000000000000000000000002083", 10, "0.25…" },
        { "0.25000000000000000000", 10, "0.25" },
        { "2.08333333333333333e-1003", 4, "2.083…e-1003" },
        { "123456789012.5", 4, "123456789012…" },
        { "-1e-300", 6, "-1e-300" },
    };
    for (const auto& row : rows) {
        EXPECT_EQ(
            CStatusLine::ShortNumber(QString::fromUtf8(row.number), row.digits).toStdString(), row.shown)
            << row.number;
    }
}

// A deep render, so that the deep summary has its longest figures.
void RenderDeep(CFractalScript& script)
{
    Picture picture = script.TakeSnapshot();
    QImage image(24, 24, QImage::Format_RGB32);
    std::atomic<int> stage { 0 };
    std::atomic<bool> stop { false };
    std::atomic<double> progress { 0.0 };
    const Raster raster { 24, 24, static_cast<int>(image.bytesPerLine()), 32, image.bits() };
    RenderPicture(picture, raster, { 0, 0, 24, 24, 1, 1, 1, 1 },
        { stage, 0, stop, progress, script.RenderPool(), &script.DeepSession() });
}

TEST(StatusLine, FitsAtAnyDepth)
{
    const char* const widths[] = { "2", "7.25583e-16", "1e-300", "2e-1000", "3e-100000" };
    for (const char* language : { "zh_CN", "en" }) {
        ASSERT_TRUE(InstallLanguage(QString::fromLatin1(language)));
        StartedWindow w;
        w.window.show();
        QCoreApplication::processEvents();
        const QSize size = w.window.size();
        for (const char* width : widths) {
            const std::string at = std::string(language) + " at width " + width;
            w.Script().SetView(
                ViewAroundCentre(BigFloat::Parse("-0.0749999999999812345678901234567", 400000, nullptr),
                    BigFloat::Parse("0.1318259042053119704952522264912", 400000, nullptr),
                    BigFloat::Parse(width, 64, nullptr) / 1024, 1024, 1024));
            RenderDeep(w.Script());
            w.window.OnMouseMove(QPoint(17, 493), false);
            QCoreApplication::processEvents();
            CStatusLine& line = w.window.StatusLine();
            const QRect bar = w.window.statusBar()->rect();
            QRect previous;
            for (CStatusField* field : { line.Coordinate(), line.Width(), line.State(), line.Deep() }) {
                EXPECT_LE(
                    field->fontMetrics().horizontalAdvance(field->text()), field->contentsRect().width())
                    << at << ": " << field->text().toStdString();
                EXPECT_TRUE(bar.contains(field->geometry()))
                    << at << ": " << field->text().toStdString() << " " << field->geometry().x() << ","
                    << field->geometry().y() << " " << field->geometry().width() << "x"
                    << field->geometry().height() << " in " << bar.width() << "x" << bar.height();
                EXPECT_FALSE(field->geometry().intersects(previous))
                    << at << ": " << field->text().toStdString();
                previous = field->geometry();
            }
            EXPECT_FALSE(line.Coordinate()->text().isEmpty()) << at;
            EXPECT_EQ(w.window.size(), size) << at << ": the window keeps its size";
            // The panel prints scales below 1e-200 as 0: the status line gives the scale there.
            const bool panelZero = FormatPanelNumber(w.Script().GetRatio()) == "0";
            EXPECT_EQ(
                line.Width()->text().contains(QCoreApplication::translate("CFractalDlg", "缩放 %1").left(2)),
                panelZero)
                << at << ": " << line.Width()->text().toStdString();
            EXPECT_EQ(line.Deep()->Full(), w.window.StatusDeepSummary()) << at;
        }
    }
    ASSERT_TRUE(InstallLanguage(QStringLiteral("zh_CN")));
}

} // namespace
