#include "fractalscript.h"

#include <algorithm>

namespace {

constexpr int kMinImageSide = 100;
constexpr int kMaxImageSide = 4096;
constexpr int kMinIterations = 1;
constexpr int kMaxIterations = 10000;
constexpr Complex kDefaultConstant { -0.78, -0.15 };

// The index one step around a ring of count entries; a current index out of range is brought in.
int StepAround(int current, int step, int count) { return ((current + step) % count + count) % count; }

} // namespace

CFractalScript::CFractalScript() = default;

CFractalScript::~CFractalScript()
{
    // No worker may outlive what it reads.
    StopPreview();
    m_bStopRequest.store(true);
    JoinExport();
}

void CFractalScript::SetDefaults()
{
    std::string ignored;
    SetFormulas("z = z * z + C;", "norm(z) > 100;", ignored);
    {
        std::lock_guard lock(m_mutex);
        if (m_iterFormula.GetConstantCount() > 0) {
            m_iterFormula.SetConstant(0, kDefaultConstant);
        }
    }
    SetColorFormula("V_iter_n / V_iter_max;", ignored);
    {
        std::lock_guard lock(m_mutex);
        m_dMapX0 = 0.0;
        m_dMapY0 = 0.0;
        m_nImageWidth = 1024;
        m_nImageHeight = 1024;
        m_dMapDX = 1.0;
        m_dMapDY = 1.0;
        m_nMaxIter = 256;
        m_dMapSin = 0.0;
        m_dMapCos = 1.0;
        m_dOffsetX = -1.0;
        m_dOffsetY = -1.0;
        m_dRatio = 0.001953125; // 2 / 1024: the square from -1 - 1i to 1 + 1i
        m_nCurConst = m_iterFormula.GetConstantCount() > 0 ? 0 : -1;
    }
    m_nStage.store(0);
    m_bModified = false;
}

bool CFractalScript::SetFormulas(std::string_view iterText, std::string_view termText, std::string& err)
{
    return Edit([&] {
        std::string message;
        if (m_iterFormula.Compile(iterText, message) != kCompileOk) {
            err = "迭代公式错误:" + message;
            return false;
        }
        if (m_iterFormula.FindVariable("z") < 0) {
            err = "迭代公式错误:未发现迭代变量";
            return false;
        }
        if (m_termFormula.Compile(termText, message) != kCompileOk) {
            err = "终止条件公式错误:" + message;
            return false;
        }
        return true;
    });
}

bool CFractalScript::SetColorFormula(std::string_view text, std::string& err)
{
    return Edit([&] {
        std::string message;
        if (m_colorFormula.Compile(text, message) != kCompileOk) {
            err = "取色公式错误:" + message;
            return false;
        }
        return true;
    });
}

void CFractalScript::ReplaceFormulas(const CFormula& iter, const CFormula& term, const CFormula& color)
{
    Edit([&] {
        m_iterFormula = iter;
        m_termFormula = term;
        m_colorFormula = color;
    });
}

void CFractalScript::SetMapping(
    double x0, double y0, double dx, double dy, double sinTheta, double cosTheta, double stretch)
{
    Edit([&] {
        m_dMapX0 = x0;
        m_dMapY0 = y0;
        m_dMapDX = dx;
        m_dMapDY = dy;
        m_dMapSin = std::isnan(sinTheta) ? sinTheta : std::clamp(sinTheta, -1.0, 1.0);
        m_dMapCos = cosTheta;
        m_dMapStretch = stretch;
    });
}

PaletteMapping CFractalScript::GetMapping() const
{
    return { m_dMapX0, m_dMapY0, m_dMapDX, m_dMapDY, m_dMapSin, m_dMapCos, m_dMapStretch };
}

void CFractalScript::ResetMapping()
{
    m_dMapX0 = 0.0;
    m_dMapY0 = 0.0;
    m_dMapDX = 1.0;
    m_dMapDY = 1.0;
    m_dMapSin = 0.0;
    m_dMapCos = 1.0;
}

void CFractalScript::ResetPaletteMapping()
{
    Edit([this] { ResetMapping(); });
}

void CFractalScript::SetImageSize(int width, int height)
{
    width = std::clamp(width, kMinImageSide, kMaxImageSide);
    height = std::clamp(height, kMinImageSide, kMaxImageSide);
    if (width == m_nImageWidth && height == m_nImageHeight) {
        return;
    }
    Edit([&] {
        m_nImageWidth = width;
        m_nImageHeight = height;
    });
}

void CFractalScript::SetView(double offsetX, double offsetY, double ratio)
{
    Edit([&] {
        m_dOffsetX = offsetX;
        m_dOffsetY = offsetY;
        m_dRatio = ratio;
    });
}

void CFractalScript::SetMaxIter(int maxIter)
{
    maxIter = std::clamp(maxIter, kMinIterations, kMaxIterations);
    if (maxIter == m_nMaxIter) {
        return;
    }
    Edit([&] { m_nMaxIter = maxIter; });
}

int CFractalScript::PrevConstant()
{
    const int count = m_iterFormula.GetConstantCount();
    if (count > 0) {
        m_nCurConst = StepAround(m_nCurConst, -1, count);
    }
    return m_nCurConst;
}

int CFractalScript::NextConstant()
{
    const int count = m_iterFormula.GetConstantCount();
    if (count > 0) {
        m_nCurConst = StepAround(m_nCurConst, 1, count);
    }
    return m_nCurConst;
}

bool CFractalScript::SetCurrentConstant(Complex value)
{
    // Marked even without a constant to write: the key press was an edit.
    bool written = false;
    Edit([&] { written = m_iterFormula.SetConstant(m_nCurConst, value); });
    return written;
}

std::string CFractalScript::GetCurrentConstantName() const
{
    return m_iterFormula.GetConstantName(m_nCurConst);
}

Complex CFractalScript::GetCurrentConstant() const { return m_iterFormula.GetConstant(m_nCurConst); }

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

RenderSnapshot CFractalScript::TakeSnapshot() const
{
    std::lock_guard lock(m_mutex);
    return { m_iterFormula, m_termFormula, m_colorFormula, m_nMaxIter, m_dOffsetX, m_dOffsetY, m_dRatio,
        m_nImageWidth, m_nImageHeight,
        { m_dMapX0, m_dMapY0, m_dMapDX, m_dMapDY, m_dMapSin, m_dMapCos, m_dMapStretch }, m_palette };
}

int CFractalScript::Render(const Raster& target, int left, int top, int right, int bottom, double scaleX,
    double scaleY, int stepX, int stepY)
{
    m_dRenderProgress.store(0.0);
    // The generation is taken before the snapshot: an edit after it resets the stage and aborts this
    // render, an edit before it is in the snapshot.
    const int generation = m_nStage.load();
    RenderSnapshot picture = TakeSnapshot();
    return RenderPicture(picture, target, { left, top, right, bottom, scaleX, scaleY, stepX, stepY },
        { m_nStage, generation, m_bStopRequest, m_dRenderProgress });
}
