#pragma once

#include "renderplan.h"

#include "batchformula.h"
#include "orbitderivative.h"

#include <vector>

// One thread's colour formula for the deep path: runs it on finished pixels' counts and values, a lane
// each, kLanes at a time, and paints the palette pixels they select (and the caller's data).
class CDeepColour {
public:
    CDeepColour(const Picture& picture, const RenderPlan& plan, const RenderArea& area, const Raster& target,
        const std::vector<int>& rows, const std::vector<int>& columns, const CBatchFormula& color);
    CDeepColour(const CDeepColour&) = delete;
    CDeepColour& operator=(const CDeepColour&) = delete;
    ~CDeepColour() { Flush(); }

    // Plane units per pixel of the picture: V_de's unit (the view's ratio).
    void SetPixel(const ExComplex& pixel) { m_pixel = pixel; }
    // index: the pixel's place in the render's lattice (row-major over the lines inside the target).
    // derivative: d last / d x and d last / d y where the picture reads them (null: they read NaN);
    // reads: the values of the colour's V_iter_<name> in the order of its bindings (null: NaN).
    void operator()(size_t index, Complex point, int count, Complex last,
        const ExComplex* derivative = nullptr, const Complex* reads = nullptr);
    // A pixel whose colour formula's value the caller computed (decided on the exact values).
    void Paint(size_t index, int count, Complex last, Complex colour, const ExComplex* derivative = nullptr);
    void Flush();

private:
    const Picture& m_picture;
    const RenderPlan& m_plan;
    const RenderArea& m_area;
    const Raster& m_target;
    const std::vector<int>& m_rows;
    const std::vector<int>& m_columns;
    CBatchFormula m_color;
    const int m_z, m_n, m_z0;
    int m_derivative[4] { -1, -1, -1, -1 };
    std::vector<int> m_reads; // the batch slots of V_iter_<name>
    ExComplex m_pixel { 0.5, 0.0, 1 };
    DerivativeView View(Complex last, const ExComplex* derivative) const;
    void PutData(long long row, long long column, int count, Complex last, const DerivativeView& view) const;
    int m_nPending { 0 };
    size_t m_index[kLanes] {};
    int m_count[kLanes] {};
    Complex m_last[kLanes] {};
    DerivativeView m_view[kLanes] {};
};
