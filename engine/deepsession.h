#pragma once

#include "reference.h"

#include <memory>
#include <mutex>
#include <string>
#include <vector>

// What the last deep render did, for the status line: all zero until one ran.
struct DeepRenderState {
    bool active { false };   // the last render took the deep path
    int references { 0 };    // reference orbits in use
    int skipRuns { 0 };      // runs the main reference lets every pixel skip
    int precisePixels { 0 }; // pixels rendered in arbitrary precision
    int referenceBits { 0 }; // the precision of the reference orbits
    // Times a pixel went on from another run of its reference instead of taking another reference.
    std::int64_t rebases { 0 };
};

// The references of one deep view (formulas, limit, view and size: the key).
struct DeepView {
    std::string key;
    mpfr_prec_t bits { 128 };
    CDeltaProgram program;
    std::vector<std::shared_ptr<const Reference>> references; // the session's mutex guards them once kept
    size_t bytes { 0 };                                       // what the references' records take together
};

// What the references of one view may take together: the main one up to kMaxReferenceBytes, the
// others what is left (a long orbit of a long formula gets fewer, shorter references, not gigabytes).
constexpr size_t kMaxSessionBytes = size_t { 1 } << 30;

// The last deep view's references, kept so that the coarse pass, the fine passes and the export of the
// same view compute each once, and what the last render did. Owned by whoever renders (the script, for
// its preview and export workers); any thread may call it.
class CDeepSession {
public:
    // The view of this key, or null.
    std::shared_ptr<DeepView> Find(const std::string& key) const;
    // Keeps view in place of the one before.
    void Keep(std::shared_ptr<DeepView> view);
    void Forget();
    // The view kept last, or null (for tools that look into a render).
    std::shared_ptr<DeepView> Current() const;

    std::vector<std::shared_ptr<const Reference>> References(const DeepView& view) const;
    // What another reference of the view may take (0 when the view's references used their memory).
    size_t Budget(const DeepView& view) const;
    void AddReference(DeepView& view, std::shared_ptr<const Reference> reference);

    DeepRenderState Last() const;
    void SetLast(const DeepRenderState& state);
    // The shallow path ran: the status line stops showing the deep one.
    void NoteShallow();

private:
    mutable std::mutex m_mutex;
    std::shared_ptr<DeepView> m_view; // guarded by m_mutex
    DeepRenderState m_last;           // guarded by m_mutex
};
