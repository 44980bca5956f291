#include "deepsession.h"

#include <algorithm>

std::shared_ptr<DeepView> CDeepSession::Find(const std::string& key) const
{
    std::lock_guard lock(m_mutex);
    return m_view && m_view->key == key ? m_view : nullptr;
}

void CDeepSession::Keep(std::shared_ptr<DeepView> view)
{
    std::lock_guard lock(m_mutex);
    m_view = std::move(view);
}

std::shared_ptr<DeepView> CDeepSession::Current() const
{
    std::lock_guard lock(m_mutex);
    return m_view;
}

void CDeepSession::Forget()
{
    std::lock_guard lock(m_mutex);
    m_view.reset();
}

std::vector<std::shared_ptr<const Reference>> CDeepSession::References(const DeepView& view) const
{
    std::lock_guard lock(m_mutex);
    return view.references;
}

size_t CDeepSession::Budget(const DeepView& view) const
{
    std::lock_guard lock(m_mutex);
    const size_t left
        = std::min(kMaxReferenceBytes, kMaxSessionBytes - std::min(kMaxSessionBytes, view.bytes));
    // A reference that would have to stop within a sixty-fourth of its memory is not worth making.
    return left < kMaxReferenceBytes / 64 ? 0 : left;
}

void CDeepSession::AddReference(DeepView& view, std::shared_ptr<const Reference> reference)
{
    std::lock_guard lock(m_mutex);
    view.bytes += reference->orbit.Bytes();
    view.references.push_back(std::move(reference));
}

DeepRenderState CDeepSession::Last() const
{
    std::lock_guard lock(m_mutex);
    return m_last;
}

void CDeepSession::SetLast(const DeepRenderState& state)
{
    std::lock_guard lock(m_mutex);
    m_last = state;
}

void CDeepSession::NoteShallow()
{
    std::lock_guard lock(m_mutex);
    m_last.active = false;
}
