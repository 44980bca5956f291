#pragma once

#include "picture.h"
#include "raster.h"

class CDeepSession;
class CRenderPool;

#include <QImage>

#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

// The progressive preview: a coarse picture at one sixth of the resolution, then 36 fine passes in
// random order, on a thread of its own. Started, stopped and polled from one thread (the window's);
// every render takes a fresh copy of the picture through takePicture and runs on the pool's threads.
class CPreviewWorker {
public:
    using TakePicture = std::function<Picture()>;
    CPreviewWorker(TakePicture takePicture, CRenderPool& pool);
    ~CPreviewWorker();
    CPreviewWorker(const CPreviewWorker&) = delete;
    CPreviewWorker& operator=(const CPreviewWorker&) = delete;

    // The surfaces: cellsX x cellsY cells of cellWidth x cellHeight pixels. Both stop the worker first.
    void Create(int cellsX, int cellsY, int cellWidth, int cellHeight);
    void Release();
    // Starts the worker unless it runs; returns whether it runs.
    bool Start();
    // Asks the worker to stop and waits until it has ended (a render aborts within one pixel).
    bool Stop();
    // The hand-over, polled by the window's timer; never waits. shown is the stage the caller last
    // took (0 after every change). Copies a new frame into frame (Width() x Height(), Format_RGB32)
    // and returns true when there is one.
    bool TakeFrame(int& shown, QImage& frame);
    // The half-second hold after the coarse picture, in 10 ms ticks (benchmarks and tests shorten it).
    void SetHoldTicks(int ticks) { m_nHoldTicks.store(ticks); }
    int Width() const { return m_nWidth; }
    int Height() const { return m_nHeight; }

    // Renders the lattice into the target with this worker's stage, stop request and progress (see
    // RenderPicture); the stage is read before the picture is taken, so that an edit after it aborts.
    int Render(const Raster& target, int left, int top, int right, int bottom, double scaleX, double scaleY,
        int stepX, int stepY);

    // Starts the passes again from the coarse picture and aborts any render in flight: the window's
    // thread, once an edit of the picture is written.
    void Restart()
    {
        m_nStage.store(0);
        Wake();
    }

    // Shared with the worker thread. Compare-and-swap for the worker's stage advances, so that a reset
    // by the window is never lost; every other access is a plain atomic load or store.
    std::atomic<int> m_nStage { 0 };               // window: store 0; worker: advance, restart
    std::atomic<bool> m_bStopRequest { false };    // window -> worker: stop, and abort every render
    std::atomic<bool> m_bRefreshRequest { false }; // window -> worker: publish the buffer
    std::atomic<bool> m_bRunning { false };        // worker -> window
    std::atomic<double> m_dProgress { 0.0 };       // worker -> window: share of the passes done
    std::atomic<double> m_dRenderProgress { 0.0 }; // worker -> window: share of the current render
    bool AdvanceStage(int from) { return m_nStage.compare_exchange_strong(from, from + 1); }

    // Where deep views keep their references between the passes (the owner's, set before Start; null:
    // each render keeps its own).
    void SetDeepSession(CDeepSession* session) { m_pDeep = session; }

private:
    CDeepSession* m_pDeep { nullptr };
    // The worker's body; the running flag is already set by Start.
    void Run();
    // The coarse picture at stage 0, smoothed into the preview surface; returns the render's result.
    int RenderCoarse(const Raster& work);
    // The hold and the passes' steps of Run; each returns whether it rendered.
    bool StepCoarse(const Raster& work);
    bool StepFine(const Raster& work, int stage);
    // Copies the fine passes before upTo that are not there yet into the preview surface.
    void Publish(int upTo);
    void CountPass();
    // The worker's pause when it had nothing to render: 1 ms, or until the window asks for something.
    void WaitForWork(int stage);
    // Wakes the worker from WaitForWork, after a word it tests was written.
    void Wake();
    bool CopyOut(QImage& frame);

    TakePicture m_takePicture;
    CRenderPool& m_pool;
    int m_nCellsX { 0 };
    int m_nCellsY { 0 };
    int m_nWidth { 0 };
    int m_nHeight { 0 };
    std::atomic<int> m_nHoldTicks { 50 }; // window or test -> worker
    QImage m_previewSurface;              // the picture the window takes; guarded by m_surfaceMutex
    QImage m_workBuffer; // the preview raster: target of every preview render; the worker's alone
    std::mutex m_surfaceMutex;
    bool m_bFramePending { false }; // window only: a refresh was asked for on an earlier tick
    std::thread m_thread;
    std::atomic<bool> m_bThreadAlive { false };
    // The idle worker sleeps on this until a change, a refresh request or a stop wakes it.
    std::mutex m_wakeMutex;
    std::condition_variable m_wake;

    // The worker's alone while it runs: the cell size, the fine passes' offsets in their shuffled
    // order, the passes done since the last start over, and the first fine pass whose pixels are not
    // yet in the preview surface (the surface equals the working buffer everywhere else).
    int m_nCellWidth { 0 };
    int m_nCellHeight { 0 };
    std::vector<std::pair<int, int>> m_offsets;
    int m_nPassesDone { 0 };
    int m_nFirstUnpublished { 0 };
};
