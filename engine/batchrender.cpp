#include "bandworker.h"

#include "renderpool.h"

#include <algorithm>
#include <memory>
#include <vector>

int RenderPictureBatched(Picture& picture, const Raster& target, const RenderArea& area,
    RenderControl control, const RenderPlan& plan, RenderStats* stats)
{
    std::vector<int> rows;
    for (size_t j = 0; j < plan.ys.size(); ++j) {
        if (const long long row = plan.Row(area, j); row >= 0 && row < target.height) {
            rows.push_back(static_cast<int>(j));
        }
    }
    std::vector<int> columns;
    for (size_t i = 0; i < plan.xs.size(); ++i) {
        if (const long long column = plan.Column(area, i); column >= 0 && column < target.width) {
            columns.push_back(static_cast<int>(i));
        }
    }
    if (Aborted(control)) {
        return kRenderAborted;
    }
    if (columns.empty()) {
        rows.clear(); // nothing of the lattice lies inside the target
    }

    // Each thread gets its own copies of the programs; bands of rows are claimed as threads get free.
    // A picture whose formulas read the orbit's derivative iterates the program that carries it.
    const bool derived = plan.tangent && plan.tangent->ok;
    const CBatchFormula iter(derived ? plan.tangent->program.formula : picture.iterFormula);
    const CBatchFormula term(picture.termFormula, CBatchFormula::ValueParts::RealOnly);
    const CBatchFormula color(picture.colorFormula);
    CRenderPool& pool = control.pool;
    const int threads = std::clamp(static_cast<int>(rows.size()), 1, pool.Threads());
    const size_t pixelsPerThread = rows.size() * columns.size() / static_cast<size_t>(threads);
    std::vector<std::unique_ptr<CBandWorker>> workers;
    for (int t = 0; t < threads; ++t) {
        workers.push_back(std::make_unique<CBandWorker>(
            picture, plan, iter, term, color, pixelsPerThread, pool.GetJitUse(), &pool.JitCache()));
    }
    SharedRender shared { area, target, control, rows, columns, {}, {}, {}, {} };
    for (const int j : rows) {
        shared.rowY.push_back(plan.ys[j]);
        shared.rowPixel.push_back(static_cast<int>(plan.Row(area, j)));
    }
    for (const int i : columns) {
        shared.columnX.push_back(plan.xs[i]);
        shared.columnPixel.push_back(static_cast<int>(plan.Column(area, i)));
    }
    // Several claims per thread keep the threads busy to the end when some rows are slower.
    constexpr int kClaimsPerThread = 8;
    shared.rowsPerClaim = std::max(1, static_cast<int>(rows.size()) / (threads * kClaimsPerThread));
    shared.rowsOutside = static_cast<int>(plan.ys.size() - rows.size());
    pool.Run(threads, [&](int t) { workers[t]->Run(shared); });
    if (stats) {
        *stats = { 0, threads };
        for (const auto& worker : workers) {
            stats->iterations += worker->Iterations();
        }
    }
    if (shared.aborted.load()) {
        return kRenderAborted;
    }
    control.progress.store(1.0, std::memory_order_relaxed);
    return kRenderDone;
}
