// The main window's undo history: every edit that marks the script becomes a step of the values it
// changed; a held arrow key, one drag and one burst of wheel turns are one step each. The saved state
// is the history's clean state, which the title's " *" follows.
#include "fractaldlg.h"

#include "layout.h"
#include "surface.h"
#include "view.h"

#include <QAction>

namespace {

std::shared_ptr<const std::vector<FormulaValues>> FormulasOf(const CFractalScript& script)
{
    auto values = std::make_shared<std::vector<FormulaValues>>();
    for (const CFormula* formula :
        { &script.GetIterFormula(), &script.GetTermFormula(), &script.GetColorFormula() }) {
        FormulaValues entry { formula->GetText(), {} };
        for (int k = 0; k < formula->GetConstantCount(); ++k) {
            entry.constants.push_back(formula->GetConstant(k));
        }
        values->push_back(std::move(entry));
    }
    return values;
}

CFormula Compiled(const FormulaValues& values)
{
    CFormula formula;
    std::string error;
    formula.Compile(values.text, error); // compiled once already: the same text compiles again
    for (int k = 0; k < static_cast<int>(values.constants.size()); ++k) {
        formula.SetConstant(k, values.constants[static_cast<size_t>(k)]);
    }
    return formula;
}

} // namespace

EditValues CFractalDlg::Capture(unsigned parts)
{
    EditValues values;
    values.parts = parts;
    if (parts & EditValues::Constant) {
        values.constantIndex = m_script.GetCurrentConstantIndex();
        values.constant = m_script.GetCurrentConstant();
    }
    if (parts & EditValues::ViewPart) {
        values.view = m_script.GetView();
    }
    if (parts & EditValues::Mapping) {
        values.mapping = m_script.GetMapping();
    }
    if (parts & EditValues::Formulas) {
        // Consecutive steps share the values of the formulas they did not change.
        auto now = FormulasOf(m_script);
        if (!m_currentFormulas || !(*m_currentFormulas == *now)) {
            m_currentFormulas = std::move(now);
        }
        values.formulas = m_currentFormulas;
    }
    if (parts & EditValues::MaxIter) {
        values.maxIter = m_script.GetMaxIter();
    }
    if (parts & EditValues::ImageSize) {
        values.imageWidth = m_script.GetImageWidth();
        values.imageHeight = m_script.GetImageHeight();
        values.antialias = m_script.GetAntialias();
    }
    if (parts & EditValues::Palette) {
        if (!m_currentPalette || m_currentPalette->image.cacheKey() != m_script.GetPalette().cacheKey()) {
            m_currentPalette = m_history.Remember(
                m_script.GetPaletteFile(), m_script.GetScriptFolder(), m_script.GetPalette());
        }
        values.palette = m_currentPalette;
    }
    if (parts & EditValues::EditStep) {
        values.editStep = m_dEditStep;
    }
    return values;
}

void CFractalDlg::Record(
    EditKind kind, unsigned parts, const std::function<void()>& edit, std::uint64_t gesture)
{
    // The script's own flag tells whether the edit took place: a setter that refuses its values
    // leaves it alone.
    const bool wasModified = m_script.IsModified();
    EditValues before = Capture(parts);
    m_script.SetModified(false);
    edit();
    EditValues after = Capture(parts);
    // A drag's move that puts back what was there is no edit: a drag that ends where it began
    // leaves no step (its later moves join one that does, and go with it when it ends unchanged).
    const bool drag = kind == EditKind::Pan || kind == EditKind::MappingDrag;
    if (!m_script.IsModified() || (drag && after.SameAs(before))) {
        m_script.SetModified(wasModified);
        return;
    }
    m_history.Push(
        kind, kind == EditKind::Single ? ++m_nGesture : gesture, std::move(before), std::move(after));
    SyncModified();
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
    m_currentFormulas.reset();
    ++m_nGesture;
}

void CFractalDlg::ApplyValues(const EditValues& v)
{
    // Size and palette replace what the preview worker reads beside the picture: it stops first.
    const bool heavy = (v.parts & (EditValues::ImageSize | EditValues::Palette)) != 0;
    if (heavy) {
        Pause();
    }
    if (v.parts & EditValues::Palette) {
        const bool recalled = m_history.Recall(v.palette, [](const PaletteEntry& entry) {
            return entry.name.isEmpty()
                ? ToSurfaceFormat(DecodeImage(QStringLiteral(":/glimmerset/palette.png")))
                : DecodeNamedPalette(entry.name, entry.folder).image;
        });
        if (recalled
            && m_script.SetDecodedPalette({ v.palette->name, v.palette->image, {} }, PaletteFallback::None)) {
            m_currentPalette = v.palette;
        } else {
            ShowError(tr("载入调色板失败!"));
        }
    }
    if (v.parts & EditValues::Formulas) {
        const auto& f = *v.formulas;
        m_script.ReplaceFormulas(Compiled(f[0]), Compiled(f[1]), Compiled(f[2]));
        m_currentFormulas = v.formulas;
    }
    if (v.parts & EditValues::MaxIter) {
        m_script.SetExtendedMaxIter(v.maxIter); // whatever limit the script held, extended too
    }
    if (v.parts & EditValues::ImageSize) {
        m_script.SetImageSize(v.imageWidth, v.imageHeight);
        m_script.SetAntialias(v.antialias);
        ApplyPreviewSize();
    }
    if (v.parts & EditValues::ViewPart) {
        m_script.SetView(v.view);
    }
    if (v.parts & EditValues::Mapping) {
        m_script.SetMapping(v.mapping);
    }
    if (v.parts & EditValues::Constant) {
        m_script.SetConstant(v.constantIndex, v.constant);
    }
    if (v.parts & EditValues::EditStep) {
        m_dEditStep = v.editStep;
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
    Record(EditKind::Single, EditValues::ViewPart,
        [&] { m_script.SetView(view.offsetX, view.offsetY, view.ratio); });
    m_nShownStage = 0;
    Repaint();
}

void CFractalDlg::OnZoom(bool in)
{
    EndDrag();
    Record(EditKind::Single, EditValues::ViewPart, [&] {
        ZoomStep(in, Layout::kPreviewSide / 2.0, Layout::kPreviewSide / 2.0, Layout::kPreviewSide,
            Layout::kPreviewSide);
    });
    Repaint();
}
