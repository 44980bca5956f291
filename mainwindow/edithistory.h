#pragma once

#include "complex.h"
#include "mapping.h"
#include "exactview.h"

#include <QImage>
#include <QString>
#include <QUndoStack>

#include <cstdint>
#include <functional>
#include <list>
#include <memory>
#include <string>
#include <vector>

// One formula as a step keeps it: its text and its constants' values. Compiling the text again gives
// the same program, so a step holds a few bytes where the compiled formula holds tens of kilobytes.
struct FormulaValues {
    std::string text;
    std::vector<Complex> constants;
    bool operator==(const FormulaValues& other) const;
};

// A palette as the history knows it: the name a script stores, the folder a relative name starts
// from, and the picture while it is one of the recent ones (shared with the script, never copied).
struct PaletteEntry {
    QString name;
    QString folder;
    QImage image; // null once it has left the recent ones: read again from the file
};

// The values one edit changed, before or after it; parts says which of them are held.
struct EditValues {
    enum Part : unsigned {
        Constant = 1u << 0,
        ViewPart = 1u << 1,
        Mapping = 1u << 2,
        Formulas = 1u << 3,
        MaxIter = 1u << 4,
        ImageSize = 1u << 5,
        Palette = 1u << 6,
        EditStep = 1u << 7,
    };
    unsigned parts { 0 };
    int constantIndex { -1 };
    Complex constant;
    PlaneView view; // exact values included: undo puts a deep view back as it was
    PaletteMapping mapping;
    std::shared_ptr<const std::vector<FormulaValues>> formulas; // iteration, termination, colour
    int maxIter { 0 };
    int imageWidth { 0 };
    int imageHeight { 0 };
    int antialias { 1 }; // held with the image size: both are the export settings a script keeps
    std::shared_ptr<PaletteEntry> palette;
    double editStep { 0.0 };

    // Same values in every part held (palettes by identity).
    bool SameAs(const EditValues& other) const;
};

// What kind of gesture made a step: steps of one kind and one gesture become one step.
enum class EditKind : int { Single = -1, Constant = 1, Pan = 2, Wheel = 3, MappingDrag = 4 };

// The undo history of the main window: steps of changed values on a QUndoStack, and the palettes
// that steps name, of which the last kRecentPalettes keep their pictures.
class CEditHistory {
public:
    // apply puts values into the script and the window (undo and redo).
    using Apply = std::function<void(const EditValues&)>;
    explicit CEditHistory(Apply apply);

    static constexpr int kRecentPalettes = 10;
    // Far more than a session needs, and a bound on the memory: a step is a few hundred bytes.
    static constexpr int kStepLimit = 10000;

    QUndoStack& Stack() { return m_stack; }
    // A step made by an edit already done. Steps of the same kind and gesture join the step on top,
    // unless that one is the saved state; a joined step that ends where it began goes.
    void Push(EditKind kind, std::uint64_t gesture, EditValues before, EditValues after);
    // A fresh history whose clean state is now (New, Open).
    void Clear();

    // The palette entry for a picture now in the script, one of the recent ones from here on.
    std::shared_ptr<PaletteEntry> Remember(const QString& name, const QString& folder, const QImage& image);
    // Makes the entry recent again, giving it back its picture (read with read when it had none);
    // false when it cannot be read.
    bool Recall(
        const std::shared_ptr<PaletteEntry>& entry, const std::function<QImage(const PaletteEntry&)>& read);
    // How many entries hold a picture now.
    int PicturesHeld() const;

private:
    void Touch(const std::shared_ptr<PaletteEntry>& entry);

    Apply m_apply;
    QUndoStack m_stack;
    std::list<std::shared_ptr<PaletteEntry>> m_recent; // most recent first
};
