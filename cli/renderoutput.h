#pragma once

#include "exportworker.h"
#include "surface.h"

#include <QString>

#include <optional>
#include <string>
#include <vector>

class CPictureDocument;

// What render (and probe) decide before a render: where its files can go, and the view at another size.

// Why a file could not be written to path, found before the render: a folder that does not exist or
// cannot be written, a file that cannot be replaced. Empty when it can.
std::string FileProblem(const QString& path);

// The same for a picture, and first whether a writer takes its format.
std::string OutputProblem(const std::vector<ImageCodec>& writers, const QString& path);

// The size and view of a render at another size than the script's target. The document's rule keeps
// the top-left corner and the width of the plane; fit keeps the centre and widens the plane on the
// side that the new proportions make longer, so that everything the script shows stays in sight.
ExportView ViewAtSize(const CPictureDocument& script, int width, int height, bool fit);

// render --scale K: the same framing at K times the size each way (up to 16, so that a picture of
// the largest target size becomes 65,536 a side), for print. Only formats written a band of rows at
// a time take it (PNG, BMP), so that the picture is never held whole.
inline constexpr int kMinScale = 1;
inline constexpr int kMaxScale = 16;

// Reads --scale (empty: 1) and checks it against what goes with it: the picture's file (path; the
// format's name for a folder or standard output) and --data, whose numbers would be held whole.
// Returns the usage problem, or an empty text.
std::string ReadScale(const std::optional<std::string>& text, const QString& path, bool data, int& scale);

// The size and view of an export at scale times the size of base (--size's), or of the script's own.
ExportView ScaledView(const CPictureDocument& script, const std::optional<ExportView>& base, int scale);

// Why the picture of an export cannot be written to path at its size (a BMP file holds at most
// 2 GiB); empty when it can.
std::string ScaledSizeProblem(const QString& path, const ExportView& view);
