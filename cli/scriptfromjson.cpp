// new --from-json: a script from the JSON form that dump --json prints.
#include "scriptjson.h"

#include "antialias.h"
#include "cli.h"
#include "jsonparse.h"
#include "overrides.h"

#include "fixedlimits.h"
#include "numbertext.h"
#include "picturedocument.h"

#include <QJsonArray>
#include <QJsonObject>

#include <algorithm>
#include <cmath>

namespace {

// Reading: every failure names the key it is about.
class CJsonReader {
public:
    CJsonReader(std::string& problem, std::vector<std::string>& warnings)
        : m_problem(problem)
        , m_warnings(warnings)
    {
    }

    bool Fail(const QString& key, const std::string& why)
    {
        m_problem = Tr(QT_TRANSLATE_NOOP("glimmerset-cli", "'%1': %2"), { key.toStdString(), why });
        return false;
    }
    void Warn(std::string warning) { m_warnings.push_back(std::move(warning)); }

    bool Number(const QString& key, const QJsonValue& value, double& number)
    {
        if (value.isDouble()) {
            number = value.toDouble();
            return true;
        }
        const QString text = value.toString();
        static const struct {
            const char* text;
            double value;
        } kSpelled[] = { { "nan", NAN }, { "inf", INFINITY }, { "-inf", -INFINITY }, { "-0", -0.0 } };
        for (const auto& spelled : kSpelled) {
            if (value.isString() && text == QLatin1String(spelled.text)) {
                number = spelled.value;
                return true;
            }
        }
        return Fail(key,
            Tr(QT_TRANSLATE_NOOP(
                "glimmerset-cli", "needs a number (or \"nan\", \"inf\", \"-inf\", \"-0\")")));
    }

    bool Whole(const QString& key, const QJsonValue& value, long long& number)
    {
        const double d = value.toDouble();
        if (!value.isDouble() || d != std::floor(d)) {
            return Fail(key, Tr(QT_TRANSLATE_NOOP("glimmerset-cli", "needs a whole number")));
        }
        // Saturated: a warning then names a number as large as the one given.
        number = static_cast<long long>(std::clamp(d, -9e18, 9e18));
        return true;
    }
    bool Whole(const QString& key, const QJsonValue& value, int& number)
    {
        long long whole = 0;
        if (!Whole(key, value, whole)) {
            return false;
        }
        number = static_cast<int>(std::clamp<long long>(whole, -2'000'000'000, 2'000'000'000));
        return true;
    }

    bool Numbers(const QString& key, const QJsonValue& value, double* numbers, int count)
    {
        const QJsonArray array = value.toArray();
        if (!value.isArray() || array.size() != count) {
            return Fail(key,
                Tr(QT_TRANSLATE_NOOP("glimmerset-cli", "needs an array of %1 numbers"),
                    { std::to_string(count) }));
        }
        for (int k = 0; k < count; ++k) {
            if (!Number(key, array[k], numbers[k])) {
                return false;
            }
        }
        return true;
    }

    bool Object(const QString& key, const QJsonValue& value, const QStringList& keys, QJsonObject& object)
    {
        object = value.toObject();
        if (!value.isObject()) {
            return Fail(key.isEmpty() ? QStringLiteral("JSON") : key,
                Tr(QT_TRANSLATE_NOOP("glimmerset-cli", "needs an object")));
        }
        for (const QString& inner : object.keys()) {
            if (!keys.isEmpty() && !keys.contains(inner)) {
                return Fail(key.isEmpty() ? inner : key + '.' + inner,
                    Tr(QT_TRANSLATE_NOOP("glimmerset-cli", "is not a key of a script (%1)"),
                        { keys.join(QStringLiteral(", ")).toStdString() }));
            }
        }
        return true;
    }

    // A number of the view, held to the check every reader of views makes; text is the number as given.
    bool ViewNumber(const QString& key, ViewNumberError error, const std::string& text)
    {
        if (error == ViewNumberError::None) {
            return true;
        }
        m_problem = ViewNumberProblem(error, QStringLiteral("'%1'").arg(key).toStdString(), text);
        return false;
    }

private:
    std::string& m_problem;
    std::vector<std::string>& m_warnings;
};

// The formulas first, as the script file's reader has them, so that constants find their names:
// an edit of their own.
bool ReadFormulas(CJsonReader& read, const QJsonObject& top, CPictureDocument& script, std::string& problem)
{
    if (!top.contains(QStringLiteral("formulas"))) {
        return true;
    }
    QJsonObject formulas;
    if (!read.Object(QStringLiteral("formulas"), top.value(QStringLiteral("formulas")),
            { QStringLiteral("iteration"), QStringLiteral("termination"), QStringLiteral("colour") },
            formulas)) {
        return false;
    }
    PictureEdit edit;
    std::optional<std::string>* const texts[3] = { &edit.iterText, &edit.termText, &edit.colorText };
    const CFormula* const formulasNow[3]
        = { &script.GetIterFormula(), &script.GetTermFormula(), &script.GetColorFormula() };
    const char* keys[3] = { "iteration", "termination", "colour" };
    for (int k = 0; k < 3; ++k) {
        const QJsonValue value = formulas.value(QLatin1String(keys[k]));
        if (!value.isUndefined() && !value.isString()) {
            return read.Fail(QStringLiteral("formulas.") + keys[k],
                Tr(QT_TRANSLATE_NOOP("glimmerset-cli", "needs a text")));
        }
        *texts[k] = value.isString() ? value.toString().toStdString() : formulasNow[k]->GetText();
    }
    if (const FormulaError failed = script.Apply(edit).error) {
        problem = Shown(failed.message);
        return false;
    }
    return true;
}

bool ReadConstants(CJsonReader& read, const QJsonObject& top, const CFormula& iter, PictureEdit& edit)
{
    if (!top.contains(QStringLiteral("constants"))) {
        return true;
    }
    QJsonObject constants;
    if (!read.Object(QStringLiteral("constants"), top.value(QStringLiteral("constants")), {}, constants)) {
        return false;
    }
    std::vector<std::pair<int, Complex>> values;
    for (auto it = constants.begin(); it != constants.end(); ++it) {
        const QString key = QStringLiteral("constants.") + it.key();
        double parts[2];
        if (!read.Numbers(key, it.value(), parts, 2)) {
            return false;
        }
        const int k = iter.FindConstant(it.key().toStdString());
        if (k < 0) {
            return read.Fail(
                key, Tr(QT_TRANSLATE_NOOP("glimmerset-cli", "the iteration formula has no such constant")));
        }
        values.emplace_back(k, Complex { parts[0], parts[1] });
    }
    edit.constants = std::move(values);
    return true;
}

bool ReadPaletteAndMapping(CJsonReader& read, const QJsonObject& top, const PaletteMapping& now,
    QString& paletteName, PictureEdit& edit)
{
    paletteName = QString();
    if (const QJsonValue value = top.value(QStringLiteral("palette")); !value.isUndefined()) {
        if (!value.isString()) {
            return read.Fail(
                QStringLiteral("palette"), Tr(QT_TRANSLATE_NOOP("glimmerset-cli", "needs a text")));
        }
        if (const QString why = ScriptNameProblem(value.toString()); !why.isEmpty()) {
            return read.Fail(QStringLiteral("palette"),
                Tr(QT_TRANSLATE_NOOP("glimmerset-cli", "cannot be named in a script file: %1"),
                    { why.toStdString() }));
        }
        paletteName = value.toString();
    }
    const QJsonValue value = top.value(QStringLiteral("mapping"));
    if (value.isUndefined()) {
        return true;
    }
    const QStringList keys { QStringLiteral("x0"), QStringLiteral("y0"), QStringLiteral("dx"),
        QStringLiteral("dy"), QStringLiteral("sin"), QStringLiteral("cos"), QStringLiteral("stretch") };
    QJsonObject object;
    if (!read.Object(QStringLiteral("mapping"), value, keys, object)) {
        return false;
    }
    PaletteMapping m = now;
    double* const members[] = { &m.x0, &m.y0, &m.dx, &m.dy, &m.sin, &m.cos, &m.stretch };
    for (qsizetype k = 0; k < keys.size(); ++k) {
        if (object.contains(keys[k])
            && !read.Number(QStringLiteral("mapping.") + keys[k], object.value(keys[k]), *members[k])) {
            return false;
        }
    }
    edit.mapping = m;
    return true;
}

// The iteration limit, the target size and the anti-aliasing, as given: the edit brings each into
// its range.
bool ReadCounts(CJsonReader& read, const QJsonObject& top, PictureEdit& edit)
{
    PictureEdit counts;
    if (const QJsonValue value = top.value(QStringLiteral("iterations")); !value.isUndefined()) {
        long long count = 0;
        if (!read.Whole(QStringLiteral("iterations"), value, count)) {
            return false;
        }
        counts.maxIter = count;
    }
    if (const QJsonValue value = top.value(QStringLiteral("size")); !value.isUndefined()) {
        const QJsonArray array = value.toArray();
        int size[2] = { 0, 0 };
        if (!value.isArray() || array.size() != 2) {
            return read.Fail(
                QStringLiteral("size"), Tr(QT_TRANSLATE_NOOP("glimmerset-cli", "needs [WIDTH, HEIGHT]")));
        }
        if (!read.Whole(QStringLiteral("size"), array[0], size[0])
            || !read.Whole(QStringLiteral("size"), array[1], size[1])) {
            return false;
        }
        counts.imageSize = std::pair { size[0], size[1] };
    }
    if (const QJsonValue value = top.value(QStringLiteral("antialias")); !value.isUndefined()) {
        int samples = 1;
        if (!read.Whole(QStringLiteral("antialias"), value, samples)) {
            return false;
        }
        counts.antialias = samples;
    }
    // All three or none, as a failure part-way leaves the values before it out.
    edit.maxIter = counts.maxIter;
    edit.imageSize = counts.imageSize;
    edit.antialias = counts.antialias;
    return true;
}

// The view: offset and ratio as doubles, then the exact texts of a deep view (on the target size
// the edit leaves); every number held to the same check as --center and --width.
bool ReadView(CJsonReader& read, const QJsonObject& top, const CPictureDocument& script, PictureEdit& edit)
{
    double offset[2] = { script.GetOffsetX(), script.GetOffsetY() };
    double ratio = script.GetRatio();
    if (top.contains(QStringLiteral("offset"))
        && (!read.Numbers(QStringLiteral("offset"), top.value(QStringLiteral("offset")), offset, 2)
            || !read.ViewNumber(
                QStringLiteral("offset"), CheckViewCoordinate(offset[0]), FormatShortest(offset[0]))
            || !read.ViewNumber(
                QStringLiteral("offset"), CheckViewCoordinate(offset[1]), FormatShortest(offset[1])))) {
        return false;
    }
    if (top.contains(QStringLiteral("ratio"))
        && (!read.Number(QStringLiteral("ratio"), top.value(QStringLiteral("ratio")), ratio)
            || !read.ViewNumber(QStringLiteral("ratio"), CheckViewScale(ratio), FormatShortest(ratio)))) {
        return false;
    }
    const QJsonValue value = top.value(QStringLiteral("exact"));
    if (value.isUndefined()) {
        edit.view = PlaneView { offset[0], offset[1], ratio, {} };
        return true;
    }
    const QJsonArray parts = value.toArray();
    const std::string fail = Tr(QT_TRANSLATE_NOOP(
        "glimmerset-cli", "needs three decimal texts: offset x, offset y and a ratio above 0"));
    if (!value.isArray() || parts.size() != 3 || !parts[0].isString() || !parts[1].isString()
        || !parts[2].isString()) {
        return read.Fail(QStringLiteral("exact"), fail);
    }
    const ExactView texts { parts[0].toString().toStdString(), parts[1].toString().toStdString(),
        parts[2].toString().toStdString() };
    const std::string* const members[] = { &texts.offsetX, &texts.offsetY, &texts.ratio };
    for (int k = 0; k < 3; ++k) {
        const ViewNumberError error = k < 2 ? CheckViewCoordinate(*members[k]) : CheckViewScale(*members[k]);
        if (!read.ViewNumber(QStringLiteral("exact"), error, *members[k])) {
            return false;
        }
    }
    const auto [width, height]
        = edit.imageSize.value_or(std::pair { script.GetImageWidth(), script.GetImageHeight() });
    const std::optional<PlaneView> view
        = ViewFromExact(texts, ClampToRange(width, kMinImageSide, kMaxImageSide),
            ClampToRange(height, kMinImageSide, kMaxImageSide));
    if (!view) {
        return read.Fail(QStringLiteral("exact"), fail);
    }
    edit.view = *view;
    return true;
}

// The warnings of values the edit brought into range, worded for the JSON's keys.
void WarnClamped(
    CJsonReader& read, const EditResult& applied, const PictureEdit& edit, const CPictureDocument& script)
{
    bool sizeWarned = false;
    for (const EditWarning& warning : applied.warnings) {
        using F = EditWarning::Field;
        if (warning.field == F::Sine) {
            if (!std::isnan(warning.sineGiven)) {
                read.Warn(SineWarning(warning.sineGiven, warning.sineUsed));
            }
        } else if (warning.field == F::Iterations) {
            read.Warn(RangeWarning(
                "iterations", warning.given, kMinIterations, kMaxExtendedIterations, warning.used));
        } else if (warning.field == F::Antialias) {
            read.Warn(RangeWarning("antialias", warning.given, kMinAntialias, kMaxAntialias, warning.used));
        } else if (!sizeWarned) {
            sizeWarned = true; // one warning for the pair
            read.Warn(Tr(
                QT_TRANSLATE_NOOP("glimmerset-cli", "size %1x%2 is outside %3 to %4 a side; %5x%6 is used"),
                { std::to_string(edit.imageSize->first), std::to_string(edit.imageSize->second),
                    std::to_string(kMinImageSide), std::to_string(kMaxImageSide),
                    std::to_string(script.GetImageWidth()), std::to_string(script.GetImageHeight()) }));
        }
    }
}

} // namespace

bool ScriptFromJson(const QByteArray& bytes, CPictureDocument& script, QString& paletteName,
    std::string& problem, std::vector<std::string>& warnings)
{
    QJsonValue document;
    JsonProblem error;
    if (!ParseJson(bytes, document, error)) {
        problem = Tr(QT_TRANSLATE_NOOP("glimmerset-cli", "not JSON: %1 at byte %2"),
            { error.what, std::to_string(error.offset) });
        return false;
    }
    CJsonReader read(problem, warnings);
    QJsonObject top;
    if (!read.Object(QString(), document,
            { QStringLiteral("formulas"), QStringLiteral("constants"), QStringLiteral("iterations"),
                QStringLiteral("palette"), QStringLiteral("mapping"), QStringLiteral("offset"),
                QStringLiteral("ratio"), QStringLiteral("size"), QStringLiteral("antialias"),
                QStringLiteral("exact") },
            top)) {
        return false;
    }
    script.SetDefaults();
    if (!ReadFormulas(read, top, script, problem)) {
        return false;
    }
    // The rest is one edit. A key that fails leaves out what follows it; what was read before it is
    // still applied, so that its warnings are given.
    PictureEdit edit;
    const bool complete = ReadConstants(read, top, script.GetIterFormula(), edit)
        && ReadPaletteAndMapping(read, top, script.GetMapping(), paletteName, edit)
        && ReadCounts(read, top, edit) && ReadView(read, top, script, edit);
    WarnClamped(read, script.Apply(edit), edit, script);
    return complete;
}
