#pragma once

#include "pictureedit.h"

#include <QImage>
#include <QString>
#include <QUndoStack>

#include <cstdint>
#include <functional>
#include <list>
#include <memory>
#include <optional>

// A palette as the history knows it: the name a script stores, the folder a relative name starts
// from, and the picture while it is one of the recent ones (shared with the script, never copied).
struct PaletteEntry {
    QString name;
    QString folder;
    QImage image; // null once it has left the recent ones: read again from the file
};

// One side of a step, before or after it: the picture's edit that puts it there (a palette's picture
// held by its entry, not by the edit) and the window's edit step when the step set it.
struct EditSide {
    PictureEdit edit;
    std::shared_ptr<PaletteEntry> palette; // set when edit.palette is
    std::optional<double> editStep;

    // Same values throughout (palettes by identity): a drag that ends where it began.
    bool SameAs(const EditSide& other) const
    {
        return edit.SameAs(other.edit) && palette == other.palette && editStep == other.editStep;
    }
};

// What kind of gesture made a step: steps of one kind and one gesture become one step.
enum class EditKind : int { Single = -1, Constant = 1, Pan = 2, Wheel = 3, MappingDrag = 4 };

// The undo history of the main window: steps of (before, after) edits on a QUndoStack, and the palettes
// that steps name, of which the last kRecentPalettes keep their pictures.
class CEditHistory {
public:
    // apply puts values into the script and the window (undo and redo).
    using Apply = std::function<void(const EditSide&)>;
    explicit CEditHistory(Apply apply);

    static constexpr int kRecentPalettes = 10;
    // Far more than a session needs, and a bound on the memory: a step is a few hundred bytes.
    static constexpr int kStepLimit = 10000;

    QUndoStack& Stack() { return m_stack; }
    // A step made by an edit already done. Steps of the same kind and gesture join the step on top,
    // unless that one is the saved state; a joined step that ends where it began goes.
    void Push(EditKind kind, std::uint64_t gesture, EditSide before, EditSide after);
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
