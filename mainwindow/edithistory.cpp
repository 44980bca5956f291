#include "edithistory.h"

#include <algorithm>

namespace {

bool SameMapping(const PaletteMapping& a, const PaletteMapping& b)
{
    return a.x0 == b.x0 && a.y0 == b.y0 && a.dx == b.dx && a.dy == b.dy && a.sin == b.sin && a.cos == b.cos
        && a.stretch == b.stretch;
}

// A step: the values before and after. The edit is done when the step is made, so the first redo
// (QUndoStack::push calls it) does nothing.
class CEditStep : public QUndoCommand {
public:
    CEditStep(const CEditHistory::Apply& apply, EditKind kind, std::uint64_t gesture, EditValues before,
        EditValues after)
        : m_apply(apply)
        , m_kind(kind)
        , m_gesture(gesture)
        , m_before(std::move(before))
        , m_after(std::move(after))
    {
    }

    int id() const override { return static_cast<int>(m_kind); }

    void undo() override { m_apply(m_before); }

    void redo() override
    {
        if (m_bDone) {
            m_apply(m_after);
        }
        m_bDone = true;
    }

    bool mergeWith(const QUndoCommand* other) override
    {
        const auto* next = static_cast<const CEditStep*>(other);
        if (next->m_gesture != m_gesture) {
            return false;
        }
        m_after = next->m_after;
        setObsolete(m_after.SameAs(m_before));
        return true;
    }

private:
    const CEditHistory::Apply& m_apply;
    EditKind m_kind;
    std::uint64_t m_gesture;
    EditValues m_before;
    EditValues m_after;
    bool m_bDone { false };
};

} // namespace

bool FormulaValues::operator==(const FormulaValues& other) const
{
    return text == other.text
        && std::equal(constants.begin(), constants.end(), other.constants.begin(), other.constants.end(),
            [](const Complex& a, const Complex& b) { return a.re == b.re && a.im == b.im; });
}

bool EditValues::SameAs(const EditValues& o) const
{
    if (parts != o.parts) {
        return false;
    }
    const auto has = [this](Part part) { return (parts & part) != 0; };
    return (!has(Constant)
               || (constantIndex == o.constantIndex && constant.re == o.constant.re
                   && constant.im == o.constant.im))
        && (!has(ViewPart)
            || (view.offsetX == o.view.offsetX && view.offsetY == o.view.offsetY
                && view.ratio == o.view.ratio && view.exact == o.view.exact))
        && (!has(Mapping) || SameMapping(mapping, o.mapping))
        && (!has(Formulas) || formulas == o.formulas || (formulas && o.formulas && *formulas == *o.formulas))
        && (!has(MaxIter) || maxIter == o.maxIter)
        && (!has(ImageSize) || (imageWidth == o.imageWidth && imageHeight == o.imageHeight && antialias == o.antialias))
        && (!has(Palette) || palette == o.palette) && (!has(EditStep) || editStep == o.editStep);
}

CEditHistory::CEditHistory(Apply apply)
    : m_apply(std::move(apply))
{
    m_stack.setUndoLimit(kStepLimit);
}

void CEditHistory::Push(EditKind kind, std::uint64_t gesture, EditValues before, EditValues after)
{
    m_stack.push(new CEditStep(m_apply, kind, gesture, std::move(before), std::move(after)));
}

void CEditHistory::Clear()
{
    m_stack.clear();
    m_recent.clear();
}

std::shared_ptr<PaletteEntry> CEditHistory::Remember(
    const QString& name, const QString& folder, const QImage& image)
{
    auto entry = std::make_shared<PaletteEntry>(PaletteEntry { name, folder, image });
    Touch(entry);
    return entry;
}

bool CEditHistory::Recall(
    const std::shared_ptr<PaletteEntry>& entry, const std::function<QImage(const PaletteEntry&)>& read)
{
    if (entry->image.isNull()) {
        entry->image = read(*entry);
        if (entry->image.isNull()) {
            return false;
        }
    }
    Touch(entry);
    return true;
}

void CEditHistory::Touch(const std::shared_ptr<PaletteEntry>& entry)
{
    m_recent.remove(entry);
    m_recent.push_front(entry);
    while (static_cast<int>(m_recent.size()) > kRecentPalettes) {
        // Steps still name it; its picture is read again when one of them needs it.
        m_recent.back()->image = QImage();
        m_recent.pop_back();
    }
}

int CEditHistory::PicturesHeld() const
{
    return static_cast<int>(std::count_if(
        m_recent.begin(), m_recent.end(), [](const auto& entry) { return !entry->image.isNull(); }));
}
