#include "fractalscript.h"

#include <QFileInfo>

#include <algorithm>
#include <thread>

namespace {

// StartExport's pause before it reports whether the worker still runs.
constexpr auto kExportPause = std::chrono::milliseconds(100);

} // namespace

CFractalScript::CFractalScript()
    : m_preview([this] { return TakeSnapshot(); }, m_pool)
    , m_export([this] { return TakeSnapshot(); }, [this](std::string text) { SetLastError(std::move(text)); },
          m_pool)
{
    m_preview.SetDeepSession(&m_deep);
    m_export.SetDeepSession(&m_deep);
}

// The workers are members: each stops and joins its thread before the document goes.
CFractalScript::~CFractalScript() = default;

void CFractalScript::PictureChanged()
{
    m_preview.Restart();
    for (CPreviewWorker* follower : m_stageFollowers) {
        follower->Restart();
    }
}

bool CFractalScript::BeginExport(ExportRequest request)
{
    const QString folder
        = request.scriptFolder.isEmpty() ? QFileInfo(request.path).absolutePath() : request.scriptFolder;
    request.paletteName = PaletteNameFrom(GetPaletteFile(), GetScriptFolder(), folder);
    return m_export.Begin(request);
}

bool CFractalScript::StartExport(const QString& path, const QString& watermarkPath)
{
    BeginExport({ path, watermarkPath, std::nullopt, m_nPngLevel, {}, {}, std::nullopt });
    std::this_thread::sleep_for(kExportPause);
    return m_export.m_bRunning.load(std::memory_order_acquire);
}

void CFractalScript::SetPngLevel(int level) { m_nPngLevel = std::clamp(level, kMinPngLevel, kMaxPngLevel); }
