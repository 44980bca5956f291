#include "edithistory.h"

#include <algorithm>

namespace {

// A step: the values before and after. The edit is done when the step is made, so the first redo
// (QUndoStack::push calls it) does nothing.
class CEditStep : public QUndoCommand {
public:
    CEditStep(const CEditHistory::Apply& apply, EditKind kind, std::uint64_t gesture, EditSide before,
        EditSide after)
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
    EditSide m_before;
    EditSide m_after;
    bool m_bDone { false };
};

} // namespace

CEditHistory::CEditHistory(Apply apply)
    : m_apply(std::move(apply))
{
    m_stack.setUndoLimit(kStepLimit);
}

void CEditHistory::Push(EditKind kind, std::uint64_t gesture, EditSide before, EditSide after)
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
