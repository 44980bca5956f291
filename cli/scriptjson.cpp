#include "scriptjson.h"
#include "antialias.h"

#include "renderreport.h"

#include "fixedlimits.h"
#include "fractalscript.h"
#include "numbertext.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>
#include <cmath>

namespace {

// A number as JSON. A JSON reader takes -0 for the integer 0 (Qt's too), losing the sign the file
// keeps: it is a string, like the numbers JSON has no syntax for.
std::string JsonNumber(double value)
{
    if (std::isnan(value)) {
        return "\"nan\"";
    }
    if (std::isinf(value)) {
        return value > 0 ? "\"inf\"" : "\"-inf\"";
    }
    if (value == 0.0 && std::signbit(value)) {
        return "\"-0\"";
    }
    return FormatShortest(value);
}

std::string Pair(double a, double b)
{
    return std::string("[").append(JsonNumber(a)).append(", ").append(JsonNumber(b)) + "]";
}

// A formula's text on dump's lines: its further lines indented.
std::string Indented(const std::string& text)
{
    std::string indented;
    for (const char c : text) {
        indented += c;
        if (c == '\n') {
            indented += "  ";
        }
    }
    return indented;
}

// The plane point at the centre of the view and the plane width it shows (what --center and
// --width set).
Complex Center(const CFractalScript& s)
{
    return { s.GetOffsetX() + s.GetImageWidth() * s.GetRatio() / 2,
        s.GetOffsetY() + s.GetImageHeight() * s.GetRatio() / 2 };
}

// The exact centre and width of a deep view, as decimal texts.
void ExactCentre(const CFractalScript& s, std::string& x, std::string& y, std::string& width)
{
    const PlaneView view = s.GetView();
    const mpfr_prec_t bits = ViewBits(view);
    BigFloat cx(bits), cy(bits);
    CentreOf(view, s.GetImageWidth(), s.GetImageHeight(), bits, cx, cy);
    x = ShortestText(cx);
    y = ShortestText(cy);
    width = ShortestText(PreciseViewOf(view, bits).ratio * static_cast<double>(s.GetImageWidth()));
}

// Reading: every failure names the key it is about.
class CJsonReader {
public:
    explicit CJsonReader(std::string& problem)
        : m_problem(problem)
    {
    }

    bool Fail(const QString& key, const std::string& why)
    {
        m_problem = std::string("'").append(key.toStdString()).append("': ") + why;
        return false;
    }

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
        return Fail(key, "needs a number (or \"nan\", \"inf\", \"-inf\", \"-0\")");
    }

    bool Whole(const QString& key, const QJsonValue& value, int& number)
    {
        const double d = value.toDouble();
        if (!value.isDouble() || d != std::floor(d)) {
            return Fail(key, "needs a whole number");
        }
        number = static_cast<int>(std::clamp(d, -2e9, 2e9));
        return true;
    }

    bool Numbers(const QString& key, const QJsonValue& value, double* numbers, int count)
    {
        const QJsonArray array = value.toArray();
        if (!value.isArray() || array.size() != count) {
            return Fail(key, "needs an array of " + std::to_string(count) + " numbers");
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
            return Fail(key.isEmpty() ? QStringLiteral("JSON") : key, "needs an object");
        }
        for (const QString& inner : object.keys()) {
            if (!keys.isEmpty() && !keys.contains(inner)) {
                return Fail(key.isEmpty() ? inner : key + '.' + inner,
                    "is not a key of a script (" + keys.join(QStringLiteral(", ")).toStdString() + ")");
            }
        }
        return true;
    }

private:
    std::string& m_problem;
};

} // namespace

std::string ScriptText(const CFractalScript& s)
{
    const PaletteMapping m = s.GetMapping();
    const CFormula& iter = s.GetIterFormula();
    std::string text = "formula iteration: " + Indented(iter.GetText()) + "\n";
    text += "formula termination: " + Indented(s.GetTermFormula().GetText()) + "\n";
    text += "formula colour: " + Indented(s.GetColorFormula().GetText()) + "\n";
    for (int k = 0; k < iter.GetConstantCount(); ++k) {
        const Complex c = iter.GetConstant(k);
        text += "const " + iter.GetConstantName(k) + ": " + FormatShortest(c.re) + "," + FormatShortest(c.im)
            + "\n";
    }
    text += "iterations: " + std::to_string(s.GetMaxIter()) + "\n";
    text += "palette: "
        + (s.GetPaletteFile().isEmpty() ? std::string("built-in") : s.GetPaletteFile().toStdString()) + "\n";
    text += "mapping: " + FormatShortest(m.x0) + "," + FormatShortest(m.y0) + "," + FormatShortest(m.dx) + ","
        + FormatShortest(m.dy) + "," + FormatShortest(m.sin) + "," + FormatShortest(m.cos) + ","
        + FormatShortest(m.stretch) + "\n";
    const Complex center = Center(s);
    const ExactView& exact = s.GetExactView();
    if (exact.Empty()) {
        text += "center: " + FormatShortest(center.re) + "," + FormatShortest(center.im) + "\n";
        text += "width: " + FormatShortest(s.GetImageWidth() * s.GetRatio()) + "\n";
    } else {
        // Deeper than doubles: the exact values, as --center and --width take them.
        std::string x, y, width;
        ExactCentre(s, x, y, width);
        text += "center: " + x + "," + y + "\n";
        text += "width: " + width + "\n";
    }
    text += "size: " + std::to_string(s.GetImageWidth()) + "x" + std::to_string(s.GetImageHeight()) + "\n";
    text += "offset: " + FormatShortest(s.GetOffsetX()) + "," + FormatShortest(s.GetOffsetY()) + "\n";
    text += "ratio: " + FormatShortest(s.GetRatio()) + "\n";
    text += "antialias: " + std::to_string(s.GetAntialias()) + "\n";
    if (!exact.Empty()) {
        text += "exact: " + exact.offsetX + "," + exact.offsetY + "," + exact.ratio + "\n";
    }
    return text;
}

std::string ScriptJson(const CFractalScript& s)
{
    const PaletteMapping m = s.GetMapping();
    const CFormula& iter = s.GetIterFormula();
    std::string json = "{\n  \"formulas\": {\n    \"iteration\": " + JsonString(iter.GetText())
        + ",\n    \"termination\": " + JsonString(s.GetTermFormula().GetText())
        + ",\n    \"colour\": " + JsonString(s.GetColorFormula().GetText()) + "\n  },\n  \"constants\": {";
    for (int k = 0; k < iter.GetConstantCount(); ++k) {
        const Complex c = iter.GetConstant(k);
        json += std::string(k ? "," : "") + "\n    " + JsonString(iter.GetConstantName(k)) + ": "
            + Pair(c.re, c.im);
    }
    json += std::string(iter.GetConstantCount() ? "\n  " : "") + "},\n";
    json += "  \"iterations\": " + std::to_string(s.GetMaxIter()) + ",\n";
    json += "  \"palette\": " + JsonString(s.GetPaletteFile().toStdString()) + ",\n";
    json += "  \"mapping\": {\"x0\": " + JsonNumber(m.x0) + ", \"y0\": " + JsonNumber(m.y0) + ", \"dx\": "
        + JsonNumber(m.dx) + ", \"dy\": " + JsonNumber(m.dy) + ", \"sin\": " + JsonNumber(m.sin)
        + ", \"cos\": " + JsonNumber(m.cos) + ", \"stretch\": " + JsonNumber(m.stretch) + "},\n";
    json += "  \"offset\": " + Pair(s.GetOffsetX(), s.GetOffsetY()) + ",\n";
    json += "  \"ratio\": " + JsonNumber(s.GetRatio()) + ",\n";
    json += "  \"size\": [" + std::to_string(s.GetImageWidth()) + ", " + std::to_string(s.GetImageHeight())
        + "],\n";
    json += "  \"antialias\": " + std::to_string(s.GetAntialias());
    if (const ExactView& e = s.GetExactView(); !e.Empty()) {
        // A deep view's exact offset and ratio, as texts: JSON numbers are doubles to most readers.
        json += ",\n  \"exact\": [" + JsonString(e.offsetX) + ", " + JsonString(e.offsetY) + ", "
            + JsonString(e.ratio) + "]";
    }
    json += "\n}\n";
    return json;
}

bool ScriptFromJson(const QByteArray& bytes, CFractalScript& script, QString& paletteName,
    std::string& problem, std::vector<std::string>& warnings)
{
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(bytes, &error);
    if (document.isNull()) {
        problem
            = "not JSON: " + error.errorString().toStdString() + " at byte " + std::to_string(error.offset);
        return false;
    }
    CJsonReader read(problem);
    QJsonObject top;
    if (!read.Object(QString(), document.isObject() ? QJsonValue(document.object()) : QJsonValue(),
            { QStringLiteral("formulas"), QStringLiteral("constants"), QStringLiteral("iterations"),
                QStringLiteral("palette"), QStringLiteral("mapping"), QStringLiteral("offset"),
                QStringLiteral("ratio"), QStringLiteral("size"), QStringLiteral("antialias"),
                QStringLiteral("exact") },
            top)) {
        return false;
    }
    script.SetDefaults();
    // The same order as the script file's reader: formulas first, so that constants find their names.
    if (top.contains(QStringLiteral("formulas"))) {
        QJsonObject formulas;
        if (!read.Object(QStringLiteral("formulas"), top.value(QStringLiteral("formulas")),
                { QStringLiteral("iteration"), QStringLiteral("termination"), QStringLiteral("colour") },
                formulas)) {
            return false;
        }
        std::string texts[3] = { script.GetIterFormula().GetText(), script.GetTermFormula().GetText(),
            script.GetColorFormula().GetText() };
        const char* keys[3] = { "iteration", "termination", "colour" };
        for (int k = 0; k < 3; ++k) {
            const QJsonValue value = formulas.value(QLatin1String(keys[k]));
            if (!value.isUndefined() && !value.isString()) {
                return read.Fail(QStringLiteral("formulas.") + keys[k], "needs a text");
            }
            texts[k] = value.isString() ? value.toString().toStdString() : texts[k];
        }
        FormulaError failed = script.SetFormulas(texts[0], texts[1]);
        if (!failed) {
            failed = script.SetColorFormula(texts[2]);
        }
        if (failed) {
            problem = failed.message;
            return false;
        }
    }
    if (top.contains(QStringLiteral("constants"))) {
        QJsonObject constants;
        if (!read.Object(
                QStringLiteral("constants"), top.value(QStringLiteral("constants")), {}, constants)) {
            return false;
        }
        CFormula iter = script.GetIterFormula();
        for (auto it = constants.begin(); it != constants.end(); ++it) {
            const QString key = QStringLiteral("constants.") + it.key();
            double parts[2];
            if (!read.Numbers(key, it.value(), parts, 2)) {
                return false;
            }
            const int k = iter.FindConstant(it.key().toStdString());
            if (k < 0) {
                return read.Fail(key, "the iteration formula has no such constant");
            }
            iter.SetConstant(k, { parts[0], parts[1] });
        }
        script.ReplaceFormulas(iter, script.GetTermFormula(), script.GetColorFormula());
    }
    paletteName = QString();
    if (const QJsonValue value = top.value(QStringLiteral("palette")); !value.isUndefined()) {
        if (!value.isString() || value.toString().contains(QLatin1Char('}'))) {
            return read.Fail(QStringLiteral("palette"), "needs a file name without '}'");
        }
        paletteName = value.toString();
    }
    if (const QJsonValue value = top.value(QStringLiteral("mapping")); !value.isUndefined()) {
        const QStringList keys { QStringLiteral("x0"), QStringLiteral("y0"), QStringLiteral("dx"),
            QStringLiteral("dy"), QStringLiteral("sin"), QStringLiteral("cos"), QStringLiteral("stretch") };
        QJsonObject object;
        if (!read.Object(QStringLiteral("mapping"), value, keys, object)) {
            return false;
        }
        PaletteMapping m = script.GetMapping();
        double* const members[] = { &m.x0, &m.y0, &m.dx, &m.dy, &m.sin, &m.cos, &m.stretch };
        for (qsizetype k = 0; k < keys.size(); ++k) {
            if (object.contains(keys[k])
                && !read.Number(QStringLiteral("mapping.") + keys[k], object.value(keys[k]), *members[k])) {
                return false;
            }
        }
        script.SetMapping(m);
        if (!(script.GetMapping().sin == m.sin) && !std::isnan(m.sin)) {
            warnings.push_back("the mapping's sine " + FormatShortest(m.sin) + " is outside [-1, 1]; "
                + FormatShortest(script.GetMapping().sin) + " is used");
        }
    }
    if (const QJsonValue value = top.value(QStringLiteral("iterations")); !value.isUndefined()) {
        int count = 0;
        if (!read.Whole(QStringLiteral("iterations"), value, count)) {
            return false;
        }
        script.SetMaxIter(count);
        if (script.GetMaxIter() != count) {
            warnings.push_back("iterations " + std::to_string(count) + " is outside "
                + std::to_string(kMinIterations) + " to " + std::to_string(kMaxIterations) + "; "
                + std::to_string(script.GetMaxIter()) + " is used");
        }
    }
    if (const QJsonValue value = top.value(QStringLiteral("size")); !value.isUndefined()) {
        const QJsonArray array = value.toArray();
        int size[2] = { 0, 0 };
        if (!value.isArray() || array.size() != 2) {
            return read.Fail(QStringLiteral("size"), "needs [WIDTH, HEIGHT]");
        }
        if (!read.Whole(QStringLiteral("size"), array[0], size[0])
            || !read.Whole(QStringLiteral("size"), array[1], size[1])) {
            return false;
        }
        script.SetImageSize(size[0], size[1]);
        if (script.GetImageWidth() != size[0] || script.GetImageHeight() != size[1]) {
            warnings.push_back("size " + std::to_string(size[0]) + "x" + std::to_string(size[1])
                + " is outside " + std::to_string(kMinImageSide) + " to " + std::to_string(kMaxImageSide)
                + " a side; " + std::to_string(script.GetImageWidth()) + "x"
                + std::to_string(script.GetImageHeight()) + " is used");
        }
    }
    if (const QJsonValue value = top.value(QStringLiteral("antialias")); !value.isUndefined()) {
        int samples = 1;
        if (!read.Whole(QStringLiteral("antialias"), value, samples)) {
            return false;
        }
        script.SetAntialias(samples);
        if (script.GetAntialias() != samples) {
            warnings.push_back("antialias " + std::to_string(samples) + " is outside "
                + std::to_string(kMinAntialias) + " to " + std::to_string(kMaxAntialias) + "; "
                + std::to_string(script.GetAntialias()) + " is used");
        }
    }
    double offset[2] = { script.GetOffsetX(), script.GetOffsetY() };
    double ratio = script.GetRatio();
    if (top.contains(QStringLiteral("offset"))
        && !read.Numbers(QStringLiteral("offset"), top.value(QStringLiteral("offset")), offset, 2)) {
        return false;
    }
    if (top.contains(QStringLiteral("ratio"))
        && !read.Number(QStringLiteral("ratio"), top.value(QStringLiteral("ratio")), ratio)) {
        return false;
    }
    script.SetView(offset[0], offset[1], ratio);
    if (const QJsonValue value = top.value(QStringLiteral("exact")); !value.isUndefined()) {
        const QJsonArray parts = value.toArray();
        std::optional<PlaneView> view;
        if (value.isArray() && parts.size() == 3 && parts[0].isString() && parts[1].isString()
            && parts[2].isString()) {
            view = ViewFromExact({ parts[0].toString().toStdString(), parts[1].toString().toStdString(),
                                     parts[2].toString().toStdString() },
                script.GetImageWidth(), script.GetImageHeight());
        }
        if (!view) {
            return read.Fail(
                QStringLiteral("exact"), "needs three decimal texts: offset x, offset y and a ratio above 0");
        }
        script.SetView(*view);
    }
    return true;
}
