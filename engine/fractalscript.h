#pragma once

#include "deepsession.h"
#include "exportworker.h"
#include "picturedocument.h"
#include "previewworker.h"
#include "renderpool.h"

#include <QImage>
#include <QString>

#include <chrono>
#include <mutex>
#include <vector>

// A picture document with its two workers, the preview and the export, and the threads they render
// on. Owned by the main window (or the command-line tool); its edits run on that thread. A render
// copies the picture under m_mutex when it starts (TakeSnapshot), so edits never race with a pixel
// loop, and every edit that changes what renders show restarts them.
class CFractalScript : public CPictureDocument {
public:
    CFractalScript();
    ~CFractalScript() override;
    CFractalScript(const CFractalScript&) = delete;
    CFractalScript& operator=(const CFractalScript&) = delete;

    // Renders the lattice described by the arguments into the target with the preview worker's
    // stage, stop request and render progress (see CPreviewWorker::Render).
    int Render(const Raster& target, int left, int top, int right, int bottom, double scaleX, double scaleY,
        int stepX, int stepY)
    {
        return m_preview.Render(target, left, top, right, bottom, scaleX, scaleY, stepX, stepY);
    }

    // The progressive preview (see CPreviewWorker).
    CPreviewWorker& PreviewWorker() { return m_preview; }
    // What the last deep render of the preview or the export did (the status line).
    DeepRenderState GetDeepRenderState() const { return m_deep.Last(); }
    CDeepSession& DeepSession() { return m_deep; }
    // The threads renders of this picture run on (the side views' workers share them).
    CRenderPool& RenderPool() { return m_pool; }
    // Another worker that every edit restarts like the preview (a second view of the picture); the
    // window's thread adds and removes it, and removes it before the worker goes.
    void AddStageFollower(CPreviewWorker& worker) { m_stageFollowers.push_back(&worker); }
    void RemoveStageFollower(CPreviewWorker& worker) { std::erase(m_stageFollowers, &worker); }
    void CreatePreview(int cellsX, int cellsY, int cellWidth, int cellHeight)
    {
        m_preview.Create(cellsX, cellsY, cellWidth, cellHeight);
    }
    void ReleasePreview() { m_preview.Release(); }
    bool StartPreview() { return m_preview.Start(); }
    bool StopPreview() { return m_preview.Stop(); }
    bool GetPreviewFrame(int& shown, QImage& frame) { return m_preview.TakeFrame(shown, frame); }
    void SetPreviewHoldTicks(int ticks) { m_preview.SetHoldTicks(ticks); }
    int GetPreviewWidth() const { return m_preview.Width(); }
    int GetPreviewHeight() const { return m_preview.Height(); }

    // The export (see CExportWorker).
    CExportWorker& ExportWorker() { return m_export; }

    // Export: renders the target size on a worker thread, stamps the watermark and writes the file
    // chosen by the extension. StartExport returns whether an export is still running after 100 ms.
    bool StartExport(const QString& path, const QString& watermarkPath);
    // Starts the worker without StartExport's pause (the command-line tool waits with WaitExport).
    // Returns false, starting nothing, when an export is running. The picture carries the script
    // with its palette name as Save would write it into the picture's folder (or the request's
    // scriptFolder).
    bool BeginExport(ExportRequest request);
    // Waits until the running export has ended, or for at most timeout; returns whether it has ended.
    bool WaitExport(std::chrono::milliseconds timeout) { return m_export.Wait(timeout); }
    bool StopExport() { return m_export.Stop(); }
    // Waits until no export thread is left (every wait is bounded by a render's abort check).
    void JoinExport() { m_export.Join(); }
    ExportReport GetExportReport() const { return m_export.Report(); }
    // The PNG compression level of the window's exports; an export setting, not kept in the file.
    void SetPngLevel(int level);
    int GetPngLevel() const { return m_nPngLevel; }
    ExportOutcome GetExportOutcome() const { return m_export.Outcome(); }

protected:
    std::unique_lock<std::mutex> LockState() const override { return std::unique_lock(m_mutex); }
    // Every running render of the picture starts over: the preview and the views that follow it.
    void PictureChanged() override;

private:
    // Guards the document's picture state (formulas, limit, view, size, palette, mapping) and the
    // outcome text: the window writes under it, a render copies under it. Declared before the
    // workers, so that it outlives them.
    mutable std::mutex m_mutex;
    int m_nPngLevel { kDefaultPngLevel };
    std::vector<CPreviewWorker*> m_stageFollowers; // the window's thread only

    // Declared last: destroyed first, so that no worker outlives what it reads.
    // The deep views' references, shared by the two workers (never rendering at once): declared first,
    // so that it outlives them.
    CDeepSession m_deep;
    CRenderPool m_pool; // the threads of every render of this script and the views that follow it
    CPreviewWorker m_preview;
    CExportWorker m_export;
};
