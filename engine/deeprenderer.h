#pragma once

// One deep render as an object: its precision, lattice, references and pixels. Internal to the
// renderer (see deeprender.h); deeprender.cpp holds the render's course, deeppass.cpp its passes over
// the pixels.

#include "deepsession.h"
#include "deepviewer.h"
#include "renderplan.h"

#include "exactview.h"

#include <atomic>
#include <memory>
#include <string>
#include <vector>

class CRenderPool;

class CDeepRender {
public:
    CDeepRender(Picture& picture, const Raster& target, const RenderArea& area, RenderControl control,
        const RenderPlan& plan, CDeepSession& session);
    int Run(RenderStats* stats);

private:
    using References = std::vector<std::shared_ptr<const Reference>>;
    // Pixels [from, to) of a list, with one reference.
    struct Batch {
        size_t reference;
        size_t from, to;
    };
    // Each lattice column's and row's offset from each reference (a pixel's offset is their sum).
    struct Offsets {
        std::vector<std::vector<ExComplex>> columns, rows;
    };

    // deeprender.cpp: the course of the render.
    BigComplex PixelPoint(size_t index) const;
    void AddReferences(std::vector<size_t>& todo, int& references);
    void PrecisePixels(const std::vector<size_t>& todo);
    Complex PreciseColour(
        CPreciseProgram& paint, const CPreciseProgram& iter, const BigComplex& point, int count) const;

    // deeppass.cpp: the pixels through the references.
    Offsets OffsetsOf(const References& references) const;
    void Pass(const std::vector<size_t>& todo, const References& references, double progressFrom,
        double progressTo);
    void Retry(const std::vector<size_t>& failed, const References& references, const Offsets& offsets,
        double progress);
    std::vector<size_t> RunBatches(const References& references, const Offsets& offsets,
        const std::vector<size_t>& list, const std::vector<Batch>& batches, double progressFrom,
        double progressTo);
    void RunThread(const References& references, const Offsets& offsets, const std::vector<size_t>& list,
        const std::vector<Batch>& batches, std::atomic<size_t>& next, std::vector<size_t>& failed,
        double progressFrom, double progressTo);
    std::vector<size_t> Remaining(const std::vector<size_t>& todo) const;
    bool Claim(std::atomic<size_t>& next, size_t count, size_t& item);

    Picture& m_picture;
    const Raster& m_target;
    const RenderArea& m_area;
    RenderControl m_control;
    const RenderPlan& m_plan;
    CDeepSession& m_session;
    CRenderPool& m_pool;
    CDeepViewer m_viewer;
    mpfr_prec_t m_nBits { 128 };
    // The lattice of this render: the first point and the steps between lattice lines.
    BigFloat m_x0, m_y0, m_dx, m_dy;
    ExComplex m_pixel {}; // the view's plane units per pixel: V_de's unit
    CBatchFormula m_iter, m_term, m_color;
    int m_nMaxIter { 0 };
    std::vector<int> m_rows, m_columns; // the lattice lines inside the target
    std::vector<uint8_t> m_done;        // per pixel of the lattice inside the target: 1 when painted
    int m_nThreads { 1 };
    std::shared_ptr<DeepView> m_deep;
    std::atomic<std::int64_t> m_nIterations { 0 };
    std::atomic<std::int64_t> m_nBlaSkipped { 0 }; // runs the painted pixels skipped on their own
    std::atomic<std::int64_t> m_nRebases { 0 };
    std::atomic<bool> m_bAborted { false };
};
