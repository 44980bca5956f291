#pragma once

#include "renderplan.h"

#include "batchformula.h"

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

    // index: the pixel's place in the render's lattice (row-major over the lines inside the target).
    void operator()(size_t index, Complex point, int count, Complex last);
    // A pixel whose colour formula's value the caller computed (decided on the exact values).
    void Paint(size_t index, int count, Complex last, Complex colour);
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
    // FIXME: the deep path does not carry the orbit's derivative yet: V_dz, V_dzy, V_de and V_dir
    // read NaN there, and so do the data's dz and de.
    int m_derivative[4] { -1, -1, -1, -1 };
    void PutData(long long row, long long column, int count, Complex last) const;
    int m_nPending { 0 };
    size_t m_index[kLanes] {};
    int m_count[kLanes] {};
    Complex m_last[kLanes] {};
};
