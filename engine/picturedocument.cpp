#include "picturedocument.h"

#include "fixedlimits.h"

#include <QFileInfo>

namespace {

constexpr Complex kDefaultConstant { -0.78, -0.15 };

// The index one step around a ring of count entries; a current index out of range is brought in.
int StepAround(int current, int step, int count) { return ((current + step) % count + count) % count; }

} // namespace

EditResult CPictureDocument::Apply(const PictureEdit& edit)
{
    EditResult result;
    {
        const auto lock = LockState();
        result = ApplyEdit({ m_picture, m_palette, m_strPaletteFile, m_strPaletteProblem }, edit);
    }
    // After the lock: a render either has the edit in its snapshot or is aborted by the restart.
    if (result.restart) {
        PictureChanged();
    }
    if (result.modified) {
        m_bModified = true;
    }
    return result;
}

void CPictureDocument::SetDefaults()
{
    PictureEdit edit;
    edit.iterText = "z = z * z + C;";
    edit.termText = "norm(z) > 100;";
    edit.colorText = "V_iter_n / V_iter_max;";
    edit.constants = { { 0, kDefaultConstant } }; // written only when the formula has one
    edit.mapping = IdentityMapping(m_picture.mapping.stretch);
    edit.maxIter = 256;
    edit.imageSize = std::pair { 1024, 1024 };
    edit.antialias = 1;
    edit.view = PlaneView { -1.0, -1.0, 0.001953125, {} }; // 2 / 1024: the square from -1 - 1i to 1 + 1i
    Apply(edit);
    m_nCurConst = m_picture.iterFormula.GetConstantCount() > 0 ? 0 : -1;
    m_bModified = false;
}

FormulaError CPictureDocument::SetFormulas(std::string_view iterText, std::string_view termText)
{
    PictureEdit edit;
    edit.iterText = std::string(iterText);
    edit.termText = std::string(termText);
    return Apply(edit).error;
}

FormulaError CPictureDocument::SetColorFormula(std::string_view text)
{
    PictureEdit edit;
    edit.colorText = std::string(text);
    return Apply(edit).error;
}

bool CPictureDocument::SetFormulas(std::string_view iterText, std::string_view termText, std::string& err)
{
    FormulaError error = SetFormulas(iterText, termText);
    if (error) {
        err = std::move(error.message);
    }
    return !error;
}

bool CPictureDocument::SetColorFormula(std::string_view text, std::string& err)
{
    FormulaError error = SetColorFormula(text);
    if (error) {
        err = std::move(error.message);
    }
    return !error;
}

void CPictureDocument::SetMapping(
    double x0, double y0, double dx, double dy, double sinTheta, double cosTheta, double stretch)
{
    PictureEdit edit;
    edit.mapping = PaletteMapping { x0, y0, dx, dy, sinTheta, cosTheta, stretch };
    Apply(edit);
}

void CPictureDocument::SetImageSize(int width, int height)
{
    PictureEdit edit;
    edit.imageSize = std::pair { width, height };
    Apply(edit);
}

void CPictureDocument::SetView(double offsetX, double offsetY, double ratio)
{
    SetView(PlaneView { offsetX, offsetY, ratio, {} });
}

void CPictureDocument::SetView(const PlaneView& view)
{
    PictureEdit edit;
    edit.view = view;
    Apply(edit);
}

void CPictureDocument::SetMaxIter(int maxIter)
{
    SetExtendedMaxIter(ClampToRange(maxIter, kMinIterations, kMaxIterations));
}

void CPictureDocument::SetExtendedMaxIter(long long maxIter)
{
    PictureEdit edit;
    edit.maxIter = maxIter;
    Apply(edit);
}

void CPictureDocument::SetAntialias(int samples)
{
    PictureEdit edit;
    edit.antialias = samples;
    Apply(edit);
}

int CPictureDocument::PrevConstant()
{
    const int count = m_picture.iterFormula.GetConstantCount();
    if (count > 0) {
        m_nCurConst = StepAround(m_nCurConst, -1, count);
    }
    return m_nCurConst;
}

int CPictureDocument::NextConstant()
{
    const int count = m_picture.iterFormula.GetConstantCount();
    if (count > 0) {
        m_nCurConst = StepAround(m_nCurConst, 1, count);
    }
    return m_nCurConst;
}

bool CPictureDocument::SetCurrentConstant(Complex value) { return SetConstant(m_nCurConst, value); }

bool CPictureDocument::SetConstant(int index, Complex value)
{
    // Marked even without a constant to write: the key press was an edit.
    PictureEdit edit;
    edit.constants = { { index, value } };
    Apply(edit);
    return index >= 0 && index < m_picture.iterFormula.GetConstantCount();
}

std::string CPictureDocument::GetCurrentConstantName() const
{
    return m_picture.iterFormula.GetConstantName(m_nCurConst);
}

Complex CPictureDocument::GetCurrentConstant() const
{
    return m_picture.iterFormula.GetConstant(m_nCurConst);
}

std::string CPictureDocument::GetLastError() const
{
    const auto lock = LockState();
    return m_strLastError;
}

void CPictureDocument::SetLastError(std::string text)
{
    const auto lock = LockState();
    m_strLastError = std::move(text);
}

Picture CPictureDocument::TakeSnapshot() const
{
    const auto lock = LockState();
    return m_picture;
}

bool CPictureDocument::Save(const QString& path, QString* reason)
{
    // A relative palette name keeps naming the same file from the folder the script now goes to.
    const QString folder = QFileInfo(path).absolutePath();
    const QString paletteName = PaletteNameFrom(m_strPaletteFile, m_strScriptFolder, folder);
    if (!SaveScript(path, TakeSnapshot(), paletteName, reason)) {
        return false;
    }
    {
        const auto lock = LockState();
        m_strPaletteFile = paletteName;
        m_strScriptFolder = folder;
    }
    m_bModified = false;
    return true;
}

bool CPictureDocument::Load(const QString& path, const DecodedPalette* palette)
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
    {
        const auto lock = LockState();
        m_picture = std::move(loaded);
    }
    PictureChanged();
    m_bModified = true;
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
