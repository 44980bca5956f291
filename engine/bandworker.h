#pragma once

// The batched renderer's threads: each takes bands of rows and runs their pixels through its lanes.
// For batchrender.cpp, which starts them, and bandworker.cpp, which is their work.
#include "renderplan.h"

#include "batchformula.h"
#include "batchjit.h"
#include "batchlanes.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <vector>

// The state one batched render shares between its threads: which rows are taken and done, and
// whether to stop.
struct SharedRender {
    const RenderArea& area;
    const Raster& target;
    RenderControl control;
    const std::vector<int>& rows;    // lattice rows inside the target
    const std::vector<int>& columns; // lattice columns inside the target
    // For every row and column inside the target: its plane coordinate and its pixel.
    std::vector<double> rowY, columnX;
    std::vector<int> rowPixel, columnPixel;
    int rowsPerClaim { 1 };
    int rowsOutside { 0 }; // lattice rows outside the target, done from the start
    std::atomic<int> nextRow { 0 };
    std::atomic<std::int64_t> finishedPixels { 0 }; // counted a colour batch at a time
    std::atomic<bool> aborted { false };
};

// One thread's share of a batched render: its own copies of the three programs and its lanes.
// Pixels flow through the lanes: a lane that finishes takes the next pixel of the thread's rows.
class CBandWorker {
public:
    CBandWorker(const Picture& picture, const RenderPlan& plan, const CBatchFormula& iter,
        const CBatchFormula& term, const CBatchFormula& color, size_t pixels, JitUse jitUse,
        CJitCache* jitCache);

    void Run(SharedRender& shared);
    std::int64_t Iterations() const { return m_nIterations; }

private:
    void BuildCode(size_t pixels, CJitCache* cache);
    uint64_t RunBlock();
    uint64_t StoppedLanes() const;
    bool NextPixel(SharedRender& shared, int& row, int& column);
    void StartLanes(const SharedRender& shared, uint64_t lanes, int row, int column);
    void Refill(SharedRender& shared);
    void Finish(SharedRender& shared, uint64_t lanes);
    void FlushColours(SharedRender& shared);
    void PaintColours(SharedRender& shared, int n);
    // The derivative of the orbit (bandderivative.cpp): bound once, handed to the termination formula
    // after every run, kept for the lanes that stop, and handed to the colour formula and the data.
    void BindDerivatives();
    void SetTermDerivatives();
    void KeepDerivatives(uint64_t stopped);
    void FinishDerivative(int lane, int k);
    void SetColourDerivatives(SharedRender& shared, int n);
    // The iteration's variables read as V_iter_<name> (bandreads.cpp): bound once, copied to the
    // termination formula after every run, kept for the lanes that stop, handed to the colour formula.
    void BindReads();
    void SetTermReads();
    void KeepReads(uint64_t stopped);
    void FinishReads(int lane, int k);
    void SetColourReads(int n);

    const Picture& m_picture;
    const RenderPlan& m_plan;
    const JitUse m_jitUse;
    CBatchFormula m_iter;
    CBatchFormula m_term;
    CBatchFormula m_color;
    const int m_iterZ, m_iterZ0, m_termZ, m_termN, m_termZ0, m_colorZ, m_colorN, m_colorZ0;
    bool m_bCopyZ { false };
    bool m_bCopyN { false };
    bool m_bKeepLast { true }; // whether the colour formula reads the last z
    bool m_bCopyColourZ0 { false };
    bool m_bCopyColourN { false };
    bool m_bCopyColourZ { false };
    double* m_startRe { nullptr }; // the iteration's z lanes
    double* m_startIm { nullptr };
    // Whether the lanes move in AVX-512 (with the AVX-512 code), and what they move.
    bool m_bWideLanes { false };
    IterationLanes m_lanes {};
    ColourBatch m_batch {};
    // The block of iterations as generated code, or null: the batched interpreter runs it.
    std::unique_ptr<CBatchJit> m_pCode;
    std::unique_ptr<CBatchJit> m_pColourCode; // the colour formula's, with the AVX-512 lane moves
    std::int64_t m_nIterations { 0 };         // this thread's alone; summed once the render has ended

    // The band of rows this thread has claimed, and the next pixel in it.
    int m_nClaimEnd { 0 };
    int m_nRow { 0 };
    int m_nColumn { 0 };

    // The lanes of the iteration: which pixel, how many iterations are done (a double, to be compared
    // and handed to V_iter_n without conversion), whether it still iterates, the iteration's value
    // when it stopped; and which lanes hold a pixel at all (a bit each).
    int m_laneRow[kLanes] {};
    int m_laneColumn[kLanes] {};
    alignas(64) double m_laneCount[kLanes] {};
    alignas(64) double m_laneActive[kLanes] {}; // 1 or 0
    alignas(64) double m_lastRe[kLanes] {};
    alignas(64) double m_lastIm[kLanes] {};
    alignas(64) double m_zeros[kLanes] {}; // the imaginary part of V_iter_n
    uint64_t m_occupied { 0 };

    // Finished pixels whose colours are computed together, and the colour formula's inputs for them
    // (with room for the whole vectors the AVX-512 moves store past the last).
    static constexpr int kBatchRoom = kLanes + 16;
    int m_nColours { 0 };
    int m_colourRow[kBatchRoom] {};
    int m_colourColumn[kBatchRoom] {};
    alignas(64) double m_colourCount[kBatchRoom] {};
    alignas(64) double m_colourLastRe[kBatchRoom] {};
    alignas(64) double m_colourLastIm[kBatchRoom] {};
    alignas(64) double m_colourZ0Re[kLanes] {};
    alignas(64) double m_colourZ0Im[kLanes] {};
    // Where each colour lands in the palette.
    alignas(64) int m_paletteX[kLanes] {};
    alignas(64) int m_paletteY[kLanes] {};

    // The derivative, where a formula reads it: the iteration's batch slots of d/dx and d/dy of its
    // value (-1: none), the formulas' batch slots of V_dz, V_dzy, V_de, V_dir, and the derivative of
    // each stopped lane and of each finished pixel of the colour batch.
    bool m_bDerivative { false };
    int m_dzx { -1 };
    int m_dzy { -1 };
    DerivativeSlots m_termD {}, m_colorD {};
    alignas(64) double m_keptRe[2][kLanes] {}; // d/dx, then d/dy
    alignas(64) double m_keptIm[2][kLanes] {};
    alignas(64) double m_colourDzRe[2][kBatchRoom] {}; // d/dx, then d/dy
    alignas(64) double m_colourDzIm[2][kBatchRoom] {};
    alignas(64) double m_colourDe[kBatchRoom] {};
    alignas(64) double m_colourDirRe[kBatchRoom] {};
    alignas(64) double m_colourDirIm[kBatchRoom] {};

    // V_iter_<name>: pairs of batch slots (the iteration's, the reader's), and the values of each read
    // for each stopped lane ([read][re, im][lane]) and each finished pixel ([read][re, im][k]).
    struct BatchRead {
        int from;
        int to;
    };
    std::vector<BatchRead> m_termReads, m_colourReads;
    std::vector<double> m_readsKept, m_readsColour;
};
