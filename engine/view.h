#pragma once

#include <algorithm>
#include <vector>

// The part of the complex plane a picture shows: the plane point at its top-left corner and the plane
// units per pixel of the script's target image. A preview or a picture of another size shows the
// same part of the plane, so the conversions take the target image's sides and the shown sides.
// Every pixel <-> plane conversion of the program is written here once, and operation for operation
// as it always was: pinned pictures and tests depend on the last bits.
struct View {
    double offsetX { 0.0 };
    double offsetY { 0.0 };
    double ratio { 1.0 };

    // The plane distance between neighbouring pixels of one axis when imageSide target pixels are
    // shown over `pixels` pixels, scale of them to a lattice unit (the render's step).
    double Step(int imageSide, double scale, int pixels) const { return imageSide * ratio * scale / pixels; }

    // The plane coordinate of the centre of pixel `pixel` on one axis, given that axis's Step and
    // offset: the first point of LatticeLine.
    static double PlanePoint(int pixel, double scale, double step, double offset)
    {
        return (pixel + 0.5) / scale * step + offset;
    }

    // The plane coordinates of pixels from, from + every, ... below to, accumulated as a walk from the
    // first adds the step: the renderer's lattice, whose pictures are pinned to these bits.
    static std::vector<double> LatticeLine(
        int from, int to, int every, double scale, double step, double offset)
    {
        std::vector<double> values;
        if (to > from) {
            values.reserve(static_cast<size_t>((static_cast<long long>(to) - from + every - 1) / every));
        }
        double value = PlanePoint(from, scale, step, offset);
        for (long long i = from; i < to; i += every) {
            values.push_back(value);
            value += step;
        }
        return values;
    }

    // The view at next units per pixel in which the plane point under (x, y) of a picture of
    // shownWidth x shownHeight pixels, showing the imageWidth x imageHeight target, keeps its place
    // (the wheel).
    View ZoomedAbout(double x, double y, double next, double imageWidth, double imageHeight,
        double shownWidth, double shownHeight) const
    {
        return { offsetX + ratio * imageWidth * x / shownWidth - next * imageWidth * x / shownWidth,
            offsetY + ratio * imageHeight * y / shownHeight - next * imageHeight * y / shownHeight, next };
    }

    // The view moved so that the plane follows a drag of (dx, dy) pixels over a picture of
    // shownWidth x shownHeight showing the imageWidth x imageHeight target.
    View Panned(int dx, int dy, int imageWidth, int imageHeight, int shownWidth, int shownHeight) const
    {
        return { offsetX - dx * (imageWidth * ratio / shownWidth),
            offsetY - dy * (imageHeight * ratio / shownHeight), ratio };
    }

    // The view of a width x height picture of the imageWidth x imageHeight target's view: the
    // top-left corner and the width of the plane stay (the tool's --size).
    View AtWidth(int imageWidth, int width) const { return { offsetX, offsetY, ratio * imageWidth / width }; }

    // The same, keeping the centre and all of the plane the target shows: the side that the new
    // proportions make longer shows more of the plane (the tool's --size with --fit).
    View Fitted(int imageWidth, int imageHeight, int width, int height) const
    {
        const double planeWidth = imageWidth * ratio;
        const double planeHeight = imageHeight * ratio;
        const double fitted = std::max(planeWidth / width, planeHeight / height);
        return { offsetX + (planeWidth - width * fitted) / 2, offsetY + (planeHeight - height * fitted) / 2,
            fitted };
    }
};
