#pragma once

#include "exactview.h"
#include "formula.h"
#include "mapping.h"
#include "raster.h"

#include <string>
#include <string_view>

// A picture as a value: three formulas with their constants, the iteration limit, the view, the
// target size, the palette and its mapping. The script holds one and edits it under its lock; a
// render takes a copy when it starts, so that edits from the window never race with a pixel loop.
struct Picture {
    CFormula iterFormula;
    CFormula termFormula;
    CFormula colorFormula;
    int maxIter { 100 }; // 1 to kMaxExtendedIterations (fixedlimits.h)
    // The plane point of the top-left corner and the plane units per pixel of the target size, with
    // the exact decimals while doubles cannot hold it: the one view every other form derives from.
    PlaneView view;
    int imageWidth { 1024 };
    int imageHeight { 1024 };
    PaletteMapping mapping;
    PaletteImage palette;
    int antialias { 1 }; // n x n samples per pixel of an export, 1 to 4 (see RenderAntialiased)
};

// Which formula a failed compile refused, and the message that says why; where and what in the text
// that failed, when the compiler could point at it (where.line is 0 otherwise).
enum class FormulaKind { None, Iteration, Termination, Colour };
struct FormulaError {
    FormulaKind which { FormulaKind::None };
    std::string message;
    CompileDiagnostic where;
    std::string text; // the formula text that failed

    explicit operator bool() const { return which != FormulaKind::None; }
};

// Compile the iteration and termination formulas of the picture (the iteration must assign z), or
// its colour formula; formulas before the one that fails keep their new program.
FormulaError CompileFormulas(Picture& picture, std::string_view iterText, std::string_view termText);
FormulaError CompileColorFormula(Picture& picture, std::string_view text);
