#include "previewworker.h"

#include "renderer.h"
#include "surface.h"
#include "waits.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
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

// Copies the pixels (left + a * stepX, top + b * stepY) of one raster over the same pixels of
// another of the same size: what one fine pass wrote.
void CopyLattice(const Raster& from, const Raster& to, int left, int top, int stepX, int stepY)
{
    for (int y = top; y < from.height; y += stepY) {
        const auto* in
            = reinterpret_cast<const uint32_t*>(from.pixels + static_cast<ptrdiff_t>(y) * from.bytesPerRow);
        auto* out = reinterpret_cast<uint32_t*>(to.pixels + static_cast<ptrdiff_t>(y) * to.bytesPerRow);
        for (int x = left; x < from.width; x += stepX) {
            out[x] = in[x];
        }
    }
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
    QImage work = CreateSurface(width, height);
    // The renderer copies 32-bit pixels: anything else, or no memory, leaves no preview at all.
    if (preview.isNull() || work.isNull() || preview.depth() != 32) {
        return;
    }
    m_nStage.store(0);
    m_nCellsX = cellsX;
    m_nCellsY = cellsY;
    m_nWidth = width;
    m_nHeight = height;
    std::lock_guard lock(m_surfaceMutex);
    m_previewSurface = std::move(preview);
    m_workBuffer = std::move(work);
}

void CPreviewWorker::Release()
{
    // The worker writes these surfaces: it must have ended before they go.
    Stop();
    std::lock_guard lock(m_surfaceMutex);
    m_previewSurface = QImage();
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
    Wake();
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
        Wake();
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
    // The coarse picture is the working buffer's top-left corner, scaled straight from there.
    QImage scaled = ScaleCorner(m_workBuffer, m_nCellsX, m_nCellsY, m_nWidth, m_nHeight);
    std::lock_guard lock(m_surfaceMutex);
    if (scaled.size() == m_previewSurface.size() && scaled.format() == m_previewSurface.format()) {
        m_previewSurface.swap(scaled); // the scaler's new image becomes the surface: no copy
    }
    return kRenderDone;
}

void CPreviewWorker::Wake()
{
    // Taking the lock orders the write before the worker's test of it: no wake-up is lost.
    {
        std::lock_guard lock(m_wakeMutex);
    }
    m_wake.notify_one();
}

void CPreviewWorker::WaitForWork(int stage)
{
    std::unique_lock lock(m_wakeMutex);
    m_wake.wait_for(lock, std::chrono::milliseconds(kIdleSleepMs), [this, stage] {
        return m_nStage.load() != stage || m_bRefreshRequest.load() || m_bStopRequest.load();
    });
}

void CPreviewWorker::Publish(int upTo)
{
    const Raster from = DescribeRaster(m_workBuffer);
    std::lock_guard lock(m_surfaceMutex);
    const Raster to = DescribeRaster(m_previewSurface);
    const int pending = upTo - m_nFirstUnpublished;
    // Each pass touches every cell height-th row: past that many passes, copying everything is cheaper.
    if (pending > m_nCellHeight || from.bytesPerRow != to.bytesPerRow || from.height != to.height) {
        CopyPixels(m_workBuffer, m_previewSurface);
    } else {
        for (int pass = m_nFirstUnpublished; pass < m_nFirstUnpublished + pending; ++pass) {
            const auto [dx, dy] = m_offsets[pass];
            CopyLattice(from, to, dx, dy, m_nCellWidth, m_nCellHeight);
        }
    }
    m_nFirstUnpublished += pending;
}

bool CPreviewWorker::StepCoarse(const Raster& work)
{
    m_nPassesDone = 0;
    const int result = RenderCoarse(work);
    if (result == kRenderDone) {
        CountPass();
        AdvanceStage(1);
        // Hold the fine passes back while edits follow each other quickly.
        WaitWhile([this] { return m_nStage.load() == 2 && !m_bStopRequest.load(); }, kHoldTickMs,
            m_nHoldTicks.load());
        if (m_nStage.load() != 2) {
            m_nStage.store(0);
        }
    }
    return result == kRenderDone || result == kRenderAborted;
}

bool CPreviewWorker::StepFine(const Raster& work, int stage)
{
    if (stage == 2) {
        // The fine passes refine the smoothed coarse picture.
        std::lock_guard lock(m_surfaceMutex);
        CopyPixels(m_previewSurface, m_workBuffer);
        m_nFirstUnpublished = 0;
    }
    const int pass = stage - 2;
    const int count = static_cast<int>(m_offsets.size());
    if (pass >= count) {
        if (m_bRefreshRequest.load()) {
            Publish(count);
            m_dProgress.store(1.0);
            m_bRefreshRequest.store(false);
        }
        return false;
    }
    const auto [dx, dy] = m_offsets[pass];
    const int kx = m_nCellWidth;
    const int ky = m_nCellHeight;
    if (Render(work, dx, dy, m_nWidth + dx, m_nHeight + dy, kx, ky, kx, ky) == kRenderDone) {
        if (m_bRefreshRequest.load()) {
            Publish(pass + 1);
            m_bRefreshRequest.store(false);
        }
        CountPass();
        AdvanceStage(stage);
    }
    return true;
}

void CPreviewWorker::CountPass()
{
    // Finished passes are counted whole and the share derived from them: summed steps of 1/37
    // fall short of 1.0, and the last pass must hand over exactly 1.0.
    ++m_nPassesDone;
    m_dProgress.store(static_cast<double>(m_nPassesDone) / static_cast<double>(m_offsets.size() + 1));
}

void CPreviewWorker::Run()
{
    // The cell size and the 36 offsets of the fine passes, shuffled once per start.
    m_nCellWidth = m_nCellsX > 0 ? m_nWidth / m_nCellsX : 0;
    m_nCellHeight = m_nCellsY > 0 ? m_nHeight / m_nCellsY : 0;
    m_offsets = ShuffledOffsets(m_nCellWidth, m_nCellHeight);
    m_nPassesDone = 0;
    m_nFirstUnpublished = 0;
    const Raster work = DescribeRaster(m_workBuffer);
    while (!m_bStopRequest.load()) {
        const int stage = m_nStage.load();
        const bool rendered = stage == 0 ? StepCoarse(work) : stage >= 2 && StepFine(work, stage);
        // Pause only when there was nothing to do: a pass that just ended goes straight on.
        if (!rendered) {
            WaitForWork(stage);
        }
    }
    m_bRunning.store(false);
}
