#pragma once

#include "picture.h"

#include <string>
#include <vector>

// The constant map: the parameter plane of a picture's formulas for one of its named constants. Each
// map point C iterates the iteration formula with that constant set to C, from z = start (z0 too),
// until the termination formula holds, and is coloured by its escape count through the picture's
// palette and mapping. The map is itself a picture whose formulas are the picture's with names
// exchanged, so that the renderer and the preview worker draw it as they draw any picture.

// The part of the parameter plane a map shows: its centre and the plane width across it.
struct MapView {
    double centreX { 0.0 };
    double centreY { 0.0 };
    double width { 4.0 };
    bool operator==(const MapView&) const = default;
};

// Everything a map's picture depends on; the value of the mapped constant is not among it, so that
// setting that constant (from the map itself) leaves the map as it is.
struct ConstantMapInputs {
    std::string iterText;
    std::string termText;
    std::vector<Complex> iterConstants; // the mapped one's value left at 0
    std::vector<Complex> termConstants;
    int constant { -1 };
    int maxIter { 0 };
    Complex start;
    MapView view;
    int width { 0 };
    int height { 0 };
    const void* palette { nullptr }; // the palette's pixels, as its identity
    PaletteMapping mapping;
    bool operator==(const ConstantMapInputs&) const;
};

ConstantMapInputs MapInputsOf(
    const Picture& picture, int constant, Complex start, const MapView& view, int width, int height);

// The map's picture for those inputs (taken from picture); false, leaving map alone, when the constant
// is out of range or the exchanged formulas do not compile.
bool BuildConstantMap(const Picture& picture, const ConstantMapInputs& in, Picture& map);

// Map pixel <-> parameter, for a map of width x height pixels (pixel centres at i + 0.5).
Complex MapPoint(const MapView& view, int width, int height, double x, double y);
void MapPixel(const MapView& view, int width, int height, Complex c, double& x, double& y);
