#include "fractalscript.h"

#include "antialias.h"
#include "fixedlimits.h"

#include <QFileInfo>

#include <algorithm>
#include <thread>

namespace {

constexpr Complex kDefaultConstant { -0.78, -0.15 };
// StartExport's pause before it reports whether the worker still runs.
constexpr auto kExportPause = std::chrono::milliseconds(100);

// The index one step around a ring of count entries; a current index out of range is brought in.
int StepAround(int current, int step, int count) { return ((current + step) % count + count) % count; }

} // namespace

CFractalScript::CFractalScript()
    : m_preview([this] { return TakeSnapshot(); }, m_pool)
    , m_export([this] { return TakeSnapshot(); }, [this](std::string text) { SetLastError(std::move(text)); },
          m_pool)
{
    m_preview.SetDeepSession(&m_deep);
    m_export.SetDeepSession(&m_deep);
}

// The workers are members: each stops and joins its thread before the picture goes.
CFractalScript::~CFractalScript() = default;

void CFractalScript::SetDefaults()
{
    SetFormulas("z = z * z + C;", "norm(z) > 100;");
    SetColorFormula("V_iter_n / V_iter_max;");
    Edit([this] {
        Picture& p = m_picture;
        if (p.iterFormula.GetConstantCount() > 0) {
            p.iterFormula.SetConstant(0, kDefaultConstant);
        }
        p.mapping = IdentityMapping(p.mapping.stretch);
        p.imageWidth = 1024;
        p.imageHeight = 1024;
        p.maxIter = 256;
        p.offsetX = -1.0;
        p.offsetY = -1.0;
        p.ratio = 0.001953125; // 2 / 1024: the square from -1 - 1i to 1 + 1i
        p.exact = {};
        p.antialias = 1;
        m_nCurConst = p.iterFormula.GetConstantCount() > 0 ? 0 : -1;
    });
    m_bModified = false;
}

FormulaError CFractalScript::SetFormulas(std::string_view iterText, std::string_view termText)
{
    FormulaError error;
    Edit([&] {
        error = CompileFormulas(m_picture, iterText, termText);
        return !error;
    });
    return error;
}

FormulaError CFractalScript::SetColorFormula(std::string_view text)
{
    FormulaError error;
    Edit([&] {
        error = CompileColorFormula(m_picture, text);
        return !error;
    });
    return error;
}

bool CFractalScript::SetFormulas(std::string_view iterText, std::string_view termText, std::string& err)
{
    FormulaError error = SetFormulas(iterText, termText);
    if (error) {
        err = std::move(error.message);
    }
    return !error;
}

bool CFractalScript::SetColorFormula(std::string_view text, std::string& err)
{
    FormulaError error = SetColorFormula(text);
    if (error) {
        err = std::move(error.message);
    }
    return !error;
}

void CFractalScript::ReplaceFormulas(const CFormula& iter, const CFormula& term, const CFormula& color)
{
    Edit([&] {
        m_picture.iterFormula = iter;
        m_picture.termFormula = term;
        m_picture.colorFormula = color;
    });
}

void CFractalScript::SetMapping(
    double x0, double y0, double dx, double dy, double sinTheta, double cosTheta, double stretch)
{
    Edit([&] {
        const double sin = std::isnan(sinTheta) ? sinTheta : std::clamp(sinTheta, -1.0, 1.0);
        m_picture.mapping = { x0, y0, dx, dy, sin, cosTheta, stretch };
    });
}

void CFractalScript::ResetPaletteMapping()
{
    Edit([this] { m_picture.mapping = IdentityMapping(m_picture.mapping.stretch); });
}

void CFractalScript::SetImageSize(int width, int height)
{
    width = std::clamp(width, kMinImageSide, kMaxImageSide);
    height = std::clamp(height, kMinImageSide, kMaxImageSide);
    if (width == m_picture.imageWidth && height == m_picture.imageHeight) {
        return;
    }
    Edit([&] {
        m_picture.imageWidth = width;
        m_picture.imageHeight = height;
    });
}

void CFractalScript::SetView(double offsetX, double offsetY, double ratio)
{
    Edit([&] {
        m_picture.offsetX = offsetX;
        m_picture.offsetY = offsetY;
        m_picture.ratio = ratio;
        m_picture.exact = {};
    });
}

void CFractalScript::SetView(const PlaneView& view)
{
    Edit([&] { SetViewOf(m_picture, view); });
}

void CFractalScript::SetMaxIter(int maxIter)
{
    SetExtendedMaxIter(std::clamp(maxIter, kMinIterations, kMaxIterations));
}

void CFractalScript::SetExtendedMaxIter(long long maxIter)
{
    const int limit
        = static_cast<int>(std::clamp<long long>(maxIter, kMinIterations, kMaxExtendedIterations));
    if (limit == m_picture.maxIter) {
        return;
    }
    Edit([&] { m_picture.maxIter = limit; });
}

void CFractalScript::SetAntialias(int samples)
{
    samples = std::clamp(samples, kMinAntialias, kMaxAntialias);
    if (samples == m_picture.antialias) {
        return;
    }
    // Not through Edit: the preview does not show it, so it need not start again.
    {
        std::lock_guard lock(m_mutex);
        m_picture.antialias = samples;
    }
    m_bModified = true;
}

int CFractalScript::PrevConstant()
{
    const int count = m_picture.iterFormula.GetConstantCount();
    if (count > 0) {
        m_nCurConst = StepAround(m_nCurConst, -1, count);
    }
    return m_nCurConst;
}

int CFractalScript::NextConstant()
{
    const int count = m_picture.iterFormula.GetConstantCount();
    if (count > 0) {
        m_nCurConst = StepAround(m_nCurConst, 1, count);
    }
    return m_nCurConst;
}

bool CFractalScript::SetCurrentConstant(Complex value)
{
    // Marked even without a constant to write: the key press was an edit.
    bool written = false;
    Edit([&] { written = m_picture.iterFormula.SetConstant(m_nCurConst, value); });
    return written;
}

bool CFractalScript::SetConstant(int index, Complex value)
{
    bool written = false;
    Edit([&] { written = m_picture.iterFormula.SetConstant(index, value); });
    return written;
}

std::string CFractalScript::GetCurrentConstantName() const
{
    return m_picture.iterFormula.GetConstantName(m_nCurConst);
}

Complex CFractalScript::GetCurrentConstant() const { return m_picture.iterFormula.GetConstant(m_nCurConst); }

std::string CFractalScript::GetLastError() const
{
    std::lock_guard lock(m_mutex);
    return m_strLastError;
}

void CFractalScript::SetLastError(std::string text)
{
    std::lock_guard lock(m_mutex);
    m_strLastError = std::move(text);
}

Picture CFractalScript::TakeSnapshot() const
{
    std::lock_guard lock(m_mutex);
    return m_picture;
}

bool CFractalScript::Save(const QString& path, QString* reason)
{
    // A relative palette name keeps naming the same file from the folder the script now goes to.
    const QString folder = QFileInfo(path).absolutePath();
    const QString paletteName = PaletteNameFrom(m_strPaletteFile, m_strScriptFolder, folder);
    if (!SaveScript(path, TakeSnapshot(), paletteName, reason)) {
        return false;
    }
    {
        std::lock_guard lock(m_mutex);
        m_strPaletteFile = paletteName;
        m_strScriptFolder = folder;
    }
    m_bModified = false;
    return true;
}

bool CFractalScript::Load(const QString& path, const DecodedPalette* palette)
{
    const QString folder = QFileInfo(path).absolutePath();
    Picture loaded = TakeSnapshot();
    m_lastFormulaError = {};
    const ScriptLoad load = LoadScript(path, loaded, [&](const QString& name, Picture& picture) {
        m_strScriptFolder = folder;
        DecodedPalette decoded
            = palette != nullptr && palette->name == name ? *palette : DecodeNamedPalette(name, folder);
        return InstallDecoded(std::move(decoded), PaletteFallback::BuiltIn, picture);
    });
    m_strLoadReason = load.reason;
    if (!load.opened) {
        SetLastError(load.error);
        return false;
    }
    m_strScriptFolder = folder;
    // What was read is kept even when a later item fails, as the window shows it; a file that
    // failed before its formulas changed nothing and marks nothing.
    const bool wasModified = m_bModified;
    Edit([&] { m_picture = std::move(loaded); });
    if (!load.error.empty()) {
        m_bModified = load.formulasRead || wasModified;
        m_lastFormulaError = load.formulaError;
        SetLastError(load.error);
        return false;
    }
    m_nCurConst = m_picture.iterFormula.GetConstantCount() > 0 ? 0 : -1;
    m_bModified = false;
    return true;
}

bool CFractalScript::BeginExport(ExportRequest request)
{
    const QString folder
        = request.scriptFolder.isEmpty() ? QFileInfo(request.path).absolutePath() : request.scriptFolder;
    request.paletteName = PaletteNameFrom(m_strPaletteFile, m_strScriptFolder, folder);
    return m_export.Begin(request);
}

bool CFractalScript::StartExport(const QString& path, const QString& watermarkPath)
{
    BeginExport({ path, watermarkPath, std::nullopt, m_nPngLevel, {}, {}, std::nullopt });
    std::this_thread::sleep_for(kExportPause);
    return m_export.m_bRunning.load(std::memory_order_acquire);
}

void CFractalScript::SetPngLevel(int level) { m_nPngLevel = std::clamp(level, kMinPngLevel, kMaxPngLevel); }
