#include "fractalscript.h"
#include "surface.h"
#include "waits.h"

#include <chrono>
#include <cstring>
#include <random>
#include <utility>
#include <vector>

namespace {

// The worker's pause when there was nothing to render, and the hold's tick.
constexpr int kIdleSleepMs = 1;
constexpr int kHoldTickMs = 10;

void CopyPixels(const QImage& from, QImage& to)
{
    if (!from.isNull() && from.size() == to.size() && from.format() == to.format()) {
        std::memcpy(to.bits(), from.constBits(), static_cast<size_t>(from.sizeInBytes()));
    }
}

} // namespace

void CFractalScript::CreatePreview(int cellsX, int cellsY, int cellWidth, int cellHeight)
{
    ReleasePreview();
    m_bRefreshRequest.store(false);
    const int width = cellsX * cellWidth;
    const int height = cellsY * cellHeight;
    QImage preview = CreateSurface(width, height);
    QImage coarse = CreateSurface(width, height);
    QImage work = CreateSurface(width, height);
    // The renderer copies 32-bit pixels: anything else, or no memory, leaves no preview at all.
    if (preview.isNull() || coarse.isNull() || work.isNull() || preview.depth() != 32) {
        return;
    }
    m_nStage.store(0);
    m_nCellsX = cellsX;
    m_nCellsY = cellsY;
    m_nPreviewWidth = width;
    m_nPreviewHeight = height;
    std::lock_guard lock(m_previewMutex);
    m_previewSurface = std::move(preview);
    m_coarseSurface = std::move(coarse);
    m_workBuffer = std::move(work);
}

void CFractalScript::ReleasePreview()
{
    // The worker writes these surfaces: it must have ended before they go.
    StopPreview();
    std::lock_guard lock(m_previewMutex);
    m_previewSurface = QImage();
    m_coarseSurface = QImage();
    m_workBuffer = QImage();
    m_nStage.store(0);
    m_nCellsX = m_nCellsY = m_nPreviewWidth = m_nPreviewHeight = 0;
    m_bFramePending = false;
}

bool CFractalScript::StartPreview()
{
    if (!m_bPreviewThreadAlive.load()) {
        if (m_previewThread.joinable()) {
            m_previewThread.join();
        }
        m_bStopRequest.store(false);
        m_nStage.store(0);
        // The flag is set before the thread exists, so that no second worker can slip in.
        m_bPreviewThreadAlive.store(true);
        m_bPreviewRunning.store(true);
        m_previewThread = std::thread([this] {
            RunPreviewWorker();
            m_bPreviewThreadAlive.store(false);
        });
    }
    return m_bPreviewThreadAlive.load();
}

bool CFractalScript::StopPreview()
{
    m_bStopRequest.store(true);
    if (m_previewThread.joinable()) {
        m_previewThread.join();
    }
    m_bStopRequest.store(false);
    return !m_bPreviewRunning.load();
}

bool CFractalScript::GetPreviewFrame(int& shown, QImage& frame)
{
    const auto takeFrame = [this, &frame] {
        // The worker holds the lock only while it writes the surface; try again on the next tick.
        std::unique_lock lock(m_previewMutex, std::try_to_lock);
        if (!lock.owns_lock() || m_previewSurface.isNull()) {
            return false;
        }
        if (frame.size() != m_previewSurface.size() || frame.format() != m_previewSurface.format()) {
            frame = QImage(m_previewSurface.size(), m_previewSurface.format());
        }
        CopyPixels(m_previewSurface, frame);
        return true;
    };
    if (shown == 0) {
        m_bFramePending = false; // a change since the request: the new picture's frames matter now
    }
    if (m_bFramePending) {
        // A refresh asked for on an earlier tick is served at the end of the worker's fine pass.
        if (m_bRefreshRequest.load() || !takeFrame()) {
            return false;
        }
        m_bFramePending = false;
        return true;
    }
    const int current = m_nStage.load();
    if (current == shown || current == 1) {
        return false;
    }
    if (current == 2) {
        if (!takeFrame()) {
            return false;
        }
        shown = 2;
        return true;
    }
    if (shown != 0) {
        m_bRefreshRequest.store(true);
        m_bFramePending = true;
        shown = current;
        return false;
    }
    if (!takeFrame()) {
        return false;
    }
    shown = 1;
    return true;
}

void CFractalScript::RunPreviewWorker()
{
    std::mt19937 random(static_cast<unsigned>(std::chrono::steady_clock::now().time_since_epoch().count()));

    // The cell size and the 36 offsets of the fine passes, shuffled once per start.
    const int kx = m_nCellsX > 0 ? m_nPreviewWidth / m_nCellsX : 0;
    const int ky = m_nCellsY > 0 ? m_nPreviewHeight / m_nCellsY : 0;
    const int count = kx * ky;
    std::vector<std::pair<int, int>> offsets;
    offsets.reserve(count);
    for (int dx = 0; dx < kx; ++dx) {
        for (int dy = 0; dy < ky; ++dy) {
            offsets.emplace_back(dx, dy);
        }
    }
    if (count > 0) {
        std::uniform_int_distribution<int> pick(0, count - 1);
        for (int i = 0; i < count; ++i) {
            std::swap(offsets[pick(random)], offsets[pick(random)]);
        }
    }
    // Finished passes are counted whole and the share derived from them: summed steps of 1/37
    // fall short of 1.0, and the last pass must hand over exactly 1.0.
    const int passTotal = count + 1;
    int passesDone = 0;
    const auto countPass = [this, &passesDone, passTotal] {
        ++passesDone;
        m_dPreviewProgress.store(static_cast<double>(passesDone) / passTotal);
    };
    const Raster work = DescribeRaster(m_workBuffer);
    const auto publish = [this] {
        std::lock_guard lock(m_previewMutex);
        CopyPixels(m_workBuffer, m_previewSurface);
    };

    while (!m_bStopRequest.load()) {
        bool rendered = false;
        const int stage = m_nStage.load();
        if (stage == 0) {
            passesDone = 0;
            m_dPreviewProgress.store(0.0);
            m_nStage.store(1);
            rendered = true;
            const int result = Render(work, 0, 0, m_nCellsX, m_nCellsY, 1.0, 1.0, 1, 1);
            if (result != kRenderDone) {
                int expected = 1;
                m_nStage.compare_exchange_strong(expected, 0); // an abort leaves 0 (or what the window set)
                rendered = result == kRenderAborted;
            } else {
                CopyPixels(m_workBuffer, m_coarseSurface);
                const QImage scaled = SmoothScale(
                    m_coarseSurface.copy(0, 0, m_nCellsX, m_nCellsY), m_nPreviewWidth, m_nPreviewHeight);
                {
                    std::lock_guard lock(m_previewMutex);
                    CopyPixels(scaled, m_previewSurface);
                }
                countPass();
                AdvanceStage(1);
                // Hold the fine passes back while edits follow each other quickly.
                WaitWhile([this] { return m_nStage.load() == 2 && !m_bStopRequest.load(); }, kHoldTickMs,
                    m_nHoldTicks.load());
                if (m_nStage.load() != 2) {
                    m_nStage.store(0);
                }
            }
        } else if (stage >= 2) {
            if (stage == 2) {
                // The fine passes refine the smoothed coarse picture.
                std::lock_guard lock(m_previewMutex);
                CopyPixels(m_previewSurface, m_workBuffer);
            }
            const int pass = stage - 2;
            if (pass < count) {
                rendered = true;
                const auto [dx, dy] = offsets[pass];
                if (Render(work, dx, dy, m_nPreviewWidth + dx, m_nPreviewHeight + dy, kx, ky, kx, ky)
                    == kRenderDone) {
                    if (m_bRefreshRequest.load()) {
                        publish();
                        m_bRefreshRequest.store(false);
                    }
                    countPass();
                    AdvanceStage(stage);
                }
            } else if (m_bRefreshRequest.load()) {
                publish();
                m_dPreviewProgress.store(1.0);
                m_bRefreshRequest.store(false);
            }
        }
        // Sleep only when there was nothing to do: a pass that just ended goes straight on.
        if (!rendered) {
            std::this_thread::sleep_for(std::chrono::milliseconds(kIdleSleepMs));
        }
    }
    m_bPreviewRunning.store(false);
}
