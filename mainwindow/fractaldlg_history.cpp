// The main window's undo history: every edit that marks the script becomes a step of the values it
// changed; a held arrow key, one drag and one burst of wheel turns are one step each. The saved state
// is the history's clean state, which the title's " *" follows.
#include "fractaldlg.h"

#include "layout.h"
#include "surface.h"
#include "view.h"

#include <QAction>

std::shared_ptr<PaletteEntry> CFractalDlg::PaletteNow()
{
    // Consecutive steps share the entry of the palette they did not change.
    if (!m_currentPalette || m_currentPalette->image.cacheKey() != m_script.GetPalette().cacheKey()) {
        m_currentPalette = m_history.Remember(
            m_script.GetPaletteFile(), m_script.GetScriptFolder(), m_script.GetPalette());
    }
    return m_currentPalette;
}

EditResult CFractalDlg::Record(
    EditKind kind, PictureEdit edit, std::uint64_t gesture, std::optional<double> editStep)
{
    EditSide before { {}, edit.palette ? PaletteNow() : nullptr,
        editStep ? std::optional(m_dEditStep) : std::nullopt };
    const bool wasModified = m_script.IsModified();
    m_script.SetModified(false);
    EditResult result = m_script.Apply(edit);
    // A new palette is an edit like any other, though loading one does not mark the script.
    const bool palette = edit.palette && !result.Failed();
    if (editStep) {
        m_dEditStep = *editStep;
    }
    before.edit = result.inverse;
    EditSide after { std::move(edit), palette ? PaletteNow() : nullptr, editStep };
    // The pictures are the entries' to hold: a step keeps names and values only.
    for (EditSide* side : { &before, &after }) {
        if (side->edit.palette) {
            side->edit.palette->image = QImage();
        }
    }
    // A drag's move that puts back what was there is no edit: a drag that ends where it began
    // leaves no step (its later moves join one that does, and go with it when it ends unchanged).
    const bool drag = kind == EditKind::Pan || kind == EditKind::MappingDrag;
    if (!(m_script.IsModified() || palette) || (drag && after.SameAs(before))) {
        m_script.SetModified(wasModified);
        return result;
    }
    m_history.Push(
        kind, kind == EditKind::Single ? ++m_nGesture : gesture, std::move(before), std::move(after));
    SyncModified();
    return result;
}

void CFractalDlg::SyncModified()
{
    // The refresh timer adds the " *" on its next tick; back at the saved state it goes at once.
    const bool modified = !m_history.Stack().isClean();
    m_script.SetModified(modified);
    if (!modified) {
        UpdateTitle();
    }
}

void CFractalDlg::ResetHistory()
{
    m_history.Clear();
    m_currentPalette.reset();
    ++m_nGesture;
}

void CFractalDlg::ApplySide(const EditSide& side)
{
    // Size and palette replace what the preview worker reads beside the picture: it stops first.
    const bool heavy = side.edit.imageSize || side.palette;
    if (heavy) {
        Pause();
    }
    PictureEdit edit = side.edit;
    if (side.palette) {
        const bool recalled = m_history.Recall(side.palette, [](const PaletteEntry& entry) {
            return entry.name.isEmpty()
                ? ToSurfaceFormat(DecodeImage(QStringLiteral(":/glimmerset/palette.png")))
                : DecodeNamedPalette(entry.name, entry.folder).image;
        });
        if (recalled) {
            edit.palette = PaletteChoice { side.palette->name, side.palette->image, {} };
            m_currentPalette = side.palette;
        } else {
            edit.palette.reset();
            ShowError(tr("载入调色板失败!"));
        }
    }
    // A formula that no longer compiles (one a failed load left) stays as it is; the rest still
    // comes back.
    if (m_script.Apply(edit).error) {
        edit.iterText.reset();
        edit.termText.reset();
        edit.colorText.reset();
        m_script.Apply(edit);
    }
    if (side.edit.imageSize) {
        ApplyPreviewSize();
    }
    if (side.editStep) {
        m_dEditStep = *side.editStep;
    }
    m_nShownStage = 0;
    m_mapAtDragStart = m_script.GetMapping();
    if (heavy) {
        Resume();
    }
}

void CFractalDlg::OnUndo()
{
    EndDrag();
    ++m_nGesture; // what comes next is a step of its own
    m_history.Stack().undo();
    SyncModified();
    Repaint();
}

void CFractalDlg::OnRedo()
{
    EndDrag();
    ++m_nGesture;
    m_history.Stack().redo();
    SyncModified();
    Repaint();
}

void CFractalDlg::OnResetView()
{
    EndDrag();
    // The square from -1 - 1i to 1 + 1i, centred, in whatever proportions the target has.
    const View view = View { -1.0, -1.0, 2.0 / 1024 }.Fitted(
        1024, 1024, m_script.GetImageWidth(), m_script.GetImageHeight());
    PictureEdit edit;
    edit.view = PlaneView { view.offsetX, view.offsetY, view.ratio, {} };
    Record(EditKind::Single, std::move(edit));
    m_nShownStage = 0;
    Repaint();
}

void CFractalDlg::OnZoom(bool in)
{
    EndDrag();
    ZoomStep(in, Layout::kPreviewSide / 2.0, Layout::kPreviewSide / 2.0, Layout::kPreviewSide,
        Layout::kPreviewSide, EditKind::Single, 0);
    Repaint();
}
