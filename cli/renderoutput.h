#pragma once

#include "exportworker.h"
#include "surface.h"

#include <QString>

#include <string>
#include <vector>

class CFractalScript;

// What render (and probe) decide before a render: where its files can go, and the view at another size.

// Why a file could not be written to path, found before the render: a folder that does not exist or
// cannot be written, a file that cannot be replaced. Empty when it can.
std::string FileProblem(const QString& path);

// The same for a picture, and first whether a writer takes its format.
std::string OutputProblem(const std::vector<ImageCodec>& writers, const QString& path);

// The size and view of a render at another size than the script's target. The document's rule keeps
// the top-left corner and the width of the plane; fit keeps the centre and widens the plane on the
// side that the new proportions make longer, so that everything the script shows stays in sight.
ExportView ViewAtSize(const CFractalScript& script, int width, int height, bool fit);
