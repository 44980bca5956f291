#pragma once

#include "picture.h"

#include <QImage>
#include <QString>

#include <optional>
#include <string>
#include <utility>
#include <vector>

// A palette as an edit installs it: the name the script stores, its picture in the surface format
// (never null when applied) and why a named palette gave way to the built-in one (empty when it did
// not).
struct PaletteChoice {
    QString name;
    QImage image;
    QString problem;
};

// One change of a picture: every field that is set is applied, in the order of the fields below
// (ORDER: formulas before constants, so that a constant may be one a new formula brings; palette
// before mapping, since a palette puts the mapping back to the identity). The settings dialog, the
// keys, wheel and drags, the palette commands, the tool's overrides, its JSON and its animation all
// build one, and undo keeps one for before and one for after each step.
struct PictureEdit {
    std::optional<std::string> iterText; // a formula as text; the other of iteration and
    std::optional<std::string> termText; // termination is compiled again from its own text
    std::optional<std::string> colorText;
    std::vector<std::pair<int, Complex>> constants; // the iteration formula's, by index
    std::optional<PaletteChoice> palette;
    std::optional<PaletteMapping> mapping;        // the sine is brought into [-1, 1]
    std::optional<long long> maxIter;             // brought into [1, kMaxExtendedIterations]
    std::optional<std::pair<int, int>> imageSize; // each side brought into [100, 4096]
    std::optional<int> antialias;                 // brought into [1, 4]
    std::optional<PlaneView> view;

    bool Empty() const;
    // The same values in every field (palettes by the identity of their pictures): a drag that ends
    // where it began.
    bool SameAs(const PictureEdit& other) const;
};

// A value an edit brought into its range: which field, as given and as used. The whole numbers keep
// every digit given (a limit may come as any long long), the sine is a double.
struct EditWarning {
    enum class Field { Sine, Iterations, ImageWidth, ImageHeight, Antialias };
    Field field;
    long long given { 0 };
    int used { 0 };
    double sineGiven { 0.0 };
    double sineUsed { 0.0 };
};

// What applying an edit came to. A formula that does not compile or a palette without a picture
// stops the edit there: what came before it stays applied, and inverse puts that back.
struct EditResult {
    PictureEdit inverse;
    FormulaError error;           // a formula that did not compile
    bool paletteFailed { false }; // a palette without a picture
    std::vector<EditWarning> warnings;
    bool restart { false };  // something the preview shows changed: renders start over
    bool modified { false }; // the script is marked as changed (the setters' rules)

    bool Failed() const { return error || paletteFailed; }
};

// Where an edit lands: the picture, and the palette's file and surface beside it.
struct EditTarget {
    Picture& picture;
    QImage& paletteSurface;
    QString& paletteName;
    QString& paletteProblem;
};

// Applies edit to target in the fixed order, clamping through fixedlimits.h; thread-free (the
// caller holds whatever lock guards the target). Returns the edit that undoes it.
EditResult ApplyEdit(EditTarget target, const PictureEdit& edit);
