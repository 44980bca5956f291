#include "previewworker.h"

#include "renderer.h"
#include "surface.h"
#include "waits.h"

#include <chrono>
#include <random>
#include <utility>
#include <vector>

namespace {

// The worker's pause when there was nothing to render, and the hold's tick.
constexpr int kIdleSleepMs = 1;
constexpr int kHoldTickMs = 10;

// The offsets of the fine passes within a cell of kx x ky pixels, shuffled.
std::vector<std::pair<int, int>> ShuffledOffsets(int kx, int ky)
{
    std::mt19937 random(static_cast<unsigned>(std::chrono::steady_clock::now().time_since_epoch().count()));
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
    return offsets;
}

} // namespace

CPreviewWorker::CPreviewWorker(TakePicture takePicture, CRenderPool& pool)
    : m_takePicture(std::move(takePicture))
    , m_pool(pool)
{
}

CPreviewWorker::~CPreviewWorker() { Stop(); }

void CPreviewWorker::Create(int cellsX, int cellsY, int cellWidth, int cellHeight)
{
    Release();
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
    m_nWidth = width;
    m_nHeight = height;
    std::lock_guard lock(m_surfaceMutex);
    m_previewSurface = std::move(preview);
    m_coarseSurface = std::move(coarse);
    m_workBuffer = std::move(work);
}

void CPreviewWorker::Release()
{
    // The worker writes these surfaces: it must have ended before they go.
    Stop();
    std::lock_guard lock(m_surfaceMutex);
    m_previewSurface = QImage();
    m_coarseSurface = QImage();
    m_workBuffer = QImage();
    m_nStage.store(0);
    m_nCellsX = m_nCellsY = m_nWidth = m_nHeight = 0;
    m_bFramePending = false;
}

bool CPreviewWorker::Start()
{
    if (!m_bThreadAlive.load()) {
        if (m_thread.joinable()) {
            m_thread.join();
        }
        m_bStopRequest.store(false);
        m_nStage.store(0);
        // The flag is set before the thread exists, so that no second worker can slip in.
        m_bThreadAlive.store(true);
        m_bRunning.store(true);
        m_thread = std::thread([this] {
            Run();
            m_bThreadAlive.store(false);
        });
    }
    return m_bThreadAlive.load();
}

bool CPreviewWorker::Stop()
{
    m_bStopRequest.store(true);
    if (m_thread.joinable()) {
        m_thread.join();
    }
    m_bStopRequest.store(false);
    return !m_bRunning.load();
}

int CPreviewWorker::Render(const Raster& target, int left, int top, int right, int bottom, double scaleX,
    double scaleY, int stepX, int stepY)
{
    m_dRenderProgress.store(0.0);
    // The generation is taken before the picture: an edit after it resets the stage and aborts this
    // render, an edit before it is in the copy.
    const int generation = m_nStage.load();
    Picture picture = m_takePicture();
    return RenderPicture(picture, target, { left, top, right, bottom, scaleX, scaleY, stepX, stepY },
        { m_nStage, generation, m_bStopRequest, m_dRenderProgress, m_pool, m_pDeep });
}

bool CPreviewWorker::CopyOut(QImage& frame)
{
    // The worker holds the lock only while it writes the surface; try again on the next tick.
    std::unique_lock lock(m_surfaceMutex, std::try_to_lock);
    if (!lock.owns_lock() || m_previewSurface.isNull()) {
        return false;
    }
    if (frame.size() != m_previewSurface.size() || frame.format() != m_previewSurface.format()) {
        frame = QImage(m_previewSurface.size(), m_previewSurface.format());
    }
    CopyPixels(m_previewSurface, frame);
    return true;
}

bool CPreviewWorker::TakeFrame(int& shown, QImage& frame)
{
    if (shown == 0) {
        m_bFramePending = false; // a change since the request: the new picture's frames matter now
    }
    if (m_bFramePending) {
        // A refresh asked for on an earlier tick is served at the end of the worker's fine pass.
        if (m_bRefreshRequest.load() || !CopyOut(frame)) {
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
        if (!CopyOut(frame)) {
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
    if (!CopyOut(frame)) {
        return false;
    }
    shown = 1;
    return true;
}

int CPreviewWorker::RenderCoarse(const Raster& work)
{
    m_dProgress.store(0.0);
    m_nStage.store(1);
    const int result = Render(work, 0, 0, m_nCellsX, m_nCellsY, 1.0, 1.0, 1, 1);
    if (result != kRenderDone) {
        int expected = 1;
        m_nStage.compare_exchange_strong(expected, 0); // an abort leaves 0 (or what the window set)
        return result;
    }
    CopyPixels(m_workBuffer, m_coarseSurface);
    const QImage scaled = ScaleCorner(m_coarseSurface, m_nCellsX, m_nCellsY, m_nWidth, m_nHeight);
    {
        std::lock_guard lock(m_surfaceMutex);
        CopyPixels(scaled, m_previewSurface);
    }
    return kRenderDone;
}

void CPreviewWorker::Run()
{
    // The cell size and the 36 offsets of the fine passes, shuffled once per start.
    const int kx = m_nCellsX > 0 ? m_nWidth / m_nCellsX : 0;
    const int ky = m_nCellsY > 0 ? m_nHeight / m_nCellsY : 0;
    const std::vector<std::pair<int, int>> offsets = ShuffledOffsets(kx, ky);
    const int count = kx * ky;
    // Finished passes are counted whole and the share derived from them: summed steps of 1/37
    // fall short of 1.0, and the last pass must hand over exactly 1.0.
    const int passTotal = count + 1;
    int passesDone = 0;
    const auto countPass = [this, &passesDone, passTotal] {
        ++passesDone;
        m_dProgress.store(static_cast<double>(passesDone) / passTotal);
    };
    const Raster work = DescribeRaster(m_workBuffer);
    const auto publish = [this] {
        std::lock_guard lock(m_surfaceMutex);
        CopyPixels(m_workBuffer, m_previewSurface);
    };

    while (!m_bStopRequest.load()) {
        bool rendered = false;
        const int stage = m_nStage.load();
        if (stage == 0) {
            passesDone = 0;
            const int result = RenderCoarse(work);
            rendered = result == kRenderDone || result == kRenderAborted;
            if (result == kRenderDone) {
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
                std::lock_guard lock(m_surfaceMutex);
                CopyPixels(m_previewSurface, m_workBuffer);
            }
            const int pass = stage - 2;
            if (pass < count) {
                rendered = true;
                const auto [dx, dy] = offsets[pass];
                if (Render(work, dx, dy, m_nWidth + dx, m_nHeight + dy, kx, ky, kx, ky) == kRenderDone) {
                    if (m_bRefreshRequest.load()) {
                        publish();
                        m_bRefreshRequest.store(false);
                    }
                    countPass();
                    AdvanceStage(stage);
                }
            } else if (m_bRefreshRequest.load()) {
                publish();
                m_dProgress.store(1.0);
                m_bRefreshRequest.store(false);
            }
        }
        // Sleep only when there was nothing to do: a pass that just ended goes straight on.
        if (!rendered) {
            std::this_thread::sleep_for(std::chrono::milliseconds(kIdleSleepMs));
        }
    }
    m_bRunning.store(false);
}
