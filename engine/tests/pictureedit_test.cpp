#include "fractalscript.h"
#include "pictureedit.h"

#include <gtest/gtest.h>

#include <cstring>
#include <limits>

namespace {

// The values of a picture that an edit reaches, for comparing before and after.
struct Shown {
    std::string iter, term, color;
    std::vector<std::pair<double, double>> constants;
    PaletteMapping mapping;
    int maxIter, width, height, antialias;
    PlaneView view;
    QString paletteName;

    bool operator==(const Shown& o) const
    {
        return iter == o.iter && term == o.term && color == o.color && constants == o.constants
            && std::memcmp(&mapping, &o.mapping, sizeof mapping) == 0 && maxIter == o.maxIter
            && width == o.width && height == o.height && antialias == o.antialias && view == o.view
            && paletteName == o.paletteName;
    }
};

Shown ShownBy(const CFractalScript& s)
{
    Shown shown { s.GetIterFormula().GetText(), s.GetTermFormula().GetText(), s.GetColorFormula().GetText(),
        {}, s.GetMapping(), s.GetMaxIter(), s.GetImageWidth(), s.GetImageHeight(), s.GetAntialias(),
        s.GetView(), s.GetPaletteFile() };
    for (int k = 0; k < s.GetIterFormula().GetConstantCount(); ++k) {
        shown.constants.emplace_back(
            s.GetIterFormula().GetConstant(k).re, s.GetIterFormula().GetConstant(k).im);
    }
    return shown;
}

} // namespace

// Every kind of edit, alone and together: the inverse puts back exactly what was there.
TEST(PictureEdit, InverseUndoesEveryField)
{
    QImage other(4, 2, QImage::Format_RGB32);
    other.fill(qRgb(1, 2, 3));
    const auto edits = [&] {
        std::vector<std::pair<const char*, PictureEdit>> rows;
        PictureEdit e;
        e.iterText = "z = z * z + C1 * C + C2;";
        rows.emplace_back("new formula with more constants", e);
        e = {};
        e.constants = { { 0, { 0.25, -0.5 } }, { 0, { 9.0, 9.0 } } };
        rows.emplace_back("one constant written twice", e);
        e = {};
        e.colorText = "real(z);";
        e.termText = "norm(z) > 4;";
        rows.emplace_back("termination and colour", e);
        e = {};
        e.palette = PaletteChoice { QStringLiteral("other.png"), other, {} };
        e.mapping = PaletteMapping { 0.1, 0.2, 3, 4, 0.5, -0.5, 2 };
        rows.emplace_back("palette, then a mapping", e);
        e = {};
        e.maxIter = 123456;
        e.imageSize = std::pair { 640, 200 };
        e.antialias = 3;
        e.view = PlaneView { 0.5, -0.25, 1e-3, {} };
        rows.emplace_back("limit, size, samples and view", e);
        return rows;
    }();
    for (const auto& [name, edit] : edits) {
        CFractalScript script;
        ASSERT_TRUE(script.LoadPalette(QString()));
        script.SetDefaults();
        script.SetMapping(0.3, 0.4, 1.5, 0.5, 0.2, 0.9, 1.25);
        const Shown before = ShownBy(script);
        const EditResult result = script.Apply(edit);
        ASSERT_FALSE(result.Failed()) << name;
        EXPECT_FALSE(ShownBy(script) == before) << name;
        const EditResult back = script.Apply(result.inverse);
        EXPECT_TRUE(ShownBy(script) == before) << name;
        script.Apply(back.inverse); // redo
        const Shown redone = ShownBy(script);
        script.Apply(edit);
        EXPECT_TRUE(ShownBy(script) == redone) << "redo by the inverse's inverse: " << name;
    }
}

// Values out of range are brought in through the fixed limits, each with one warning.
TEST(PictureEdit, ClampsWithOneWarningEach)
{
    using F = EditWarning::Field;
    struct Row {
        const char* name;
        PictureEdit edit;
        std::vector<F> fields;
        long long given;
        double used;
    };
    PictureEdit sine, iterations, size, samples, none;
    sine.mapping = PaletteMapping { 0, 0, 1, 1, 1.5, 1, 1 };
    iterations.maxIter = std::numeric_limits<long long>::max();
    size.imageSize = std::pair { 50, 5000 };
    samples.antialias = 0;
    none.maxIter = 10000;
    const Row rows[] = {
        { "sine", sine, { F::Sine }, 0, 1.0 },
        { "iterations, every digit kept", iterations, { F::Iterations },
            std::numeric_limits<long long>::max(), 1e9 },
        { "size", size, { F::ImageWidth, F::ImageHeight }, 50, 100 },
        { "antialias", samples, { F::Antialias }, 0, 1 },
        { "in range", none, {}, 0, 0 },
    };
    for (const Row& row : rows) {
        CFractalScript script;
        script.SetDefaults();
        const EditResult result = script.Apply(row.edit);
        ASSERT_EQ(result.warnings.size(), row.fields.size()) << row.name;
        for (size_t k = 0; k < row.fields.size(); ++k) {
            EXPECT_EQ(result.warnings[k].field, row.fields[k]) << row.name;
        }
        if (!row.fields.empty()) {
            const EditWarning& w = result.warnings[0];
            EXPECT_EQ(w.field == F::Sine ? w.sineUsed : w.used, row.used) << row.name;
            EXPECT_EQ(w.given, row.given) << row.name;
        }
    }
}

// One restart for the whole edit, and the setters' rules for the mark: the samples mark without
// restarting, a palette does neither, a failed formula stops the edit and undoes to where it was.
TEST(PictureEdit, RestartMarkAndFailure)
{
    QImage image(2, 2, QImage::Format_RGB32);
    image.fill(0);
    struct Row {
        const char* name;
        PictureEdit edit;
        bool restart, modified, failed;
    };
    PictureEdit all, samples, palette, broken, same;
    all.constants = { { 0, { 1, 1 } } };
    all.view = PlaneView { 0, 0, 0.5, {} };
    all.maxIter = 77;
    samples.antialias = 2;
    palette.palette = PaletteChoice { QString(), image, {} };
    broken.iterText = "z = z * z + D;";
    broken.termText = "norm(z) >";
    broken.mapping = PaletteMapping { 0.7, 0, 1, 1, 0, 1, 1 };
    same.maxIter = 256;
    const Row rows[] = {
        { "constants, view and limit", all, true, true, false },
        { "samples", samples, false, true, false },
        { "palette", palette, false, false, false },
        { "termination fails", broken, false, false, true },
        { "the same limit", same, false, false, false },
    };
    for (const Row& row : rows) {
        CFractalScript script;
        script.SetDefaults();
        const Shown before = ShownBy(script);
        script.PreviewWorker().m_nStage.store(4);
        const EditResult result = script.Apply(row.edit);
        EXPECT_EQ(script.PreviewWorker().m_nStage.load() == 0, row.restart) << row.name;
        EXPECT_EQ(script.IsModified(), row.modified) << row.name;
        EXPECT_EQ(result.Failed(), row.failed) << row.name;
        if (row.failed) {
            EXPECT_EQ(script.GetMapping().x0, before.mapping.x0) << "nothing after the failure: " << row.name;
            script.Apply(result.inverse);
            EXPECT_TRUE(ShownBy(script) == before) << row.name;
        }
    }
}
