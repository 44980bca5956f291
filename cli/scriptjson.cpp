#include "scriptjson.h"
#include "antialias.h"

#include "renderreport.h"

#include "fixedlimits.h"
#include "numbertext.h"
#include "picturedocument.h"

#include <algorithm>
#include <cmath>

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

namespace {

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
Complex Center(const CPictureDocument& s)
{
    return { s.GetOffsetX() + s.GetImageWidth() * s.GetRatio() / 2,
        s.GetOffsetY() + s.GetImageHeight() * s.GetRatio() / 2 };
}

// The exact centre and width of a deep view, as decimal texts.
void ExactCentre(const CPictureDocument& s, std::string& x, std::string& y, std::string& width)
{
    const PlaneView view = s.GetView();
    const mpfr_prec_t bits = ViewBits(view);
    BigFloat cx(bits), cy(bits);
    CentreOf(view, s.GetImageWidth(), s.GetImageHeight(), bits, cx, cy);
    x = ShortestText(cx);
    y = ShortestText(cy);
    width = ShortestText(PreciseViewOf(view, bits).ratio * static_cast<double>(s.GetImageWidth()));
}

} // namespace

std::string ScriptText(const CPictureDocument& s)
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

std::string ScriptJson(const CPictureDocument& s)
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
