#include "Editing/PointEditor.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <new>
#include <numeric>
#include <unordered_map>
#include <utility>

#include "Numerics/LinearAlgebra.h"
#include "Photogrammetry/AerialPhoto.h"
#include "Photogrammetry/StereoAlignment.h"
#include "TIN/TINPoints.h"

namespace {

constexpr double kPromotedWeight = 0.95;

CTINPoints& ImageSet(CAerialPhoto& photo) {
    return *photo.m_pImagePoints;
}

// Record `index` of a set with `id`, without moving it.
void SetId(CTINPoints& set, int index, int32_t id) {
    if (TINPoint* p = set.GetPoint(index)) p->id = id;
}

// Widens a set's x/y bounds to hold (x, y) (the set's own units); a position
// that is not finite is no position and widens nothing. The bounds of every
// set hold its live, placed records, so that an index built over them (after
// an undo of a save, say) has a cell for each.
void HoldInBounds(CTINPoints& set, double x, double y) {
    if (!std::isfinite(x) || !std::isfinite(y)) return;
    set.m_dMinX = std::min(set.m_dMinX, x);
    set.m_dMaxX = std::max(set.m_dMaxX, x);
    set.m_dMinY = std::min(set.m_dMinY, y);
    set.m_dMaxY = std::max(set.m_dMaxY, y);
}

void HoldEveryLiveRecord(CTINPoints& set) {
    for (int i = 0; i < set.GetCount(); ++i) {
        const TINPoint* p = set.GetPoint(i);
        if (p->id >= 0) HoldInBounds(set, p->x, p->y);
    }
}

}  // namespace

// Collects the before state of each record an edit touches, once per record.
struct CPointEditor::Recorder {
    CPointEditor& editor;
    EditStep step;

    Recorder(CPointEditor& e, EditKind kind) : editor(e) {
        // An open wheel step takes its after states now, before this edit
        // changes any record, whichever way the edit came (a key, a menu, the
        // check queue): otherwise redoing the wheel step would redo this edit.
        e.CloseMerging();
        step.kind = kind;
        step.countBefore = e.m_ground.GetCount();
        step.selectionBefore = e.SelectionIndices();
        step.zEditedBefore = e.m_bZEdited;
        if (e.m_touched.size() < static_cast<size_t>(step.countBefore))
            e.m_touched.assign(static_cast<size_t>(step.countBefore), 0);
    }
    ~Recorder() {
        for (const RecordChange& c : step.changes)
            editor.m_touched[static_cast<size_t>(c.index)] = 0;
    }
    // Records the state of `index` before the edit the first time it is touched.
    void Touch(int index) {
        char& seen = editor.m_touched[static_cast<size_t>(index)];
        if (seen) return;
        seen = 1;
        step.changes.push_back({index, editor.Capture(index), RecordState{}});
    }
    bool Touched(int index) const { return editor.m_touched[static_cast<size_t>(index)] != 0; }
    // After the edit: the state of every touched record now.
    EditStep Finish() {
        for (RecordChange& c : step.changes) c.after = editor.Capture(c.index);
        step.selectionAfter = editor.SelectionIndices();
        step.zEditedAfter = editor.m_bZEdited;
        step.changes.shrink_to_fit();
        for (const RecordChange& c : step.changes)
            editor.m_touched[static_cast<size_t>(c.index)] = 0;
        EditStep done = std::move(step);
        step.changes.clear();
        return done;
    }
};

CPointEditor::CPointEditor(CTINPoints& ground, CAerialPhoto& left, CAerialPhoto& right,
                           bool& zEdited)
    : m_ground(ground), m_left(left), m_right(right), m_bZEdited(zEdited) {}

RecordState CPointEditor::Capture(int index) const {
    RecordState s{};
    const TINPoint* g = m_ground.GetPoint(index);
    const TINPoint* l = m_left.m_pImagePoints ? m_left.m_pImagePoints->GetPoint(index) : nullptr;
    const TINPoint* r = m_right.m_pImagePoints ? m_right.m_pImagePoints->GetPoint(index) : nullptr;
    if (g) s.x = g->x, s.y = g->y, s.z = g->z, s.weight = g->weight, s.id = g->id;
    if (l) s.lx = l->x, s.ly = l->y;
    if (r) s.rx = r->x, s.ry = r->y;
    return s;
}

void CPointEditor::Restore(int index, const RecordState& s) {
    CTINPoints* sets[3] = {&m_ground, m_left.m_pImagePoints.get(), m_right.m_pImagePoints.get()};
    const double xs[3] = {s.x, s.lx, s.rx}, ys[3] = {s.y, s.ly, s.ry};
    for (int k = 0; k < 3; ++k) {
        if (!sets[k]) continue;
        // A live record is placed through MovePoint so that its index
        // follows; a record that becomes deleted keeps its key where it is.
        if (s.id >= 0) {
            SetId(*sets[k], index, s.id);
            sets[k]->MovePoint(index, xs[k], ys[k]);
        } else {
            sets[k]->MovePoint(index, xs[k], ys[k]);
            SetId(*sets[k], index, s.id);
        }
    }
    if (TINPoint* g = m_ground.GetPoint(index)) {
        g->z = s.z;
        g->weight = s.weight;
    }
}

bool CPointEditor::SelectionMeanZ(double& z) const {
    double sum = 0.0;
    size_t counted = 0;
    for (const TINPoint& entry : m_left.m_selection) {
        if (const TINPoint* p = m_ground.GetPoint(entry.id); p && p->id >= 0) {
            sum += p->z;
            ++counted;
        }
    }
    if (counted == 0) return false;
    z = sum / static_cast<double>(counted);
    return true;
}

std::vector<int> CPointEditor::SelectionIndices() const {
    std::vector<int> indices;
    indices.reserve(m_left.m_selection.size());
    for (const TINPoint& e : m_left.m_selection) indices.push_back(e.id);
    return indices;
}

void CPointEditor::SetSelection(const std::vector<int>& indices) {
    ReplaceSelection(indices);
    Notify(EditorChange::Selection);
}

void CPointEditor::ReplaceSelection(const std::vector<int>& indices) {
    m_left.ClearSelection();
    m_right.ClearSelection();
    m_left.m_selection.reserve(indices.size());
    m_right.m_selection.reserve(indices.size());
    for (int i : indices) {
        m_left.SelectImagePoint(i);
        m_right.SelectImagePoint(i);
    }
}

void CPointEditor::SelectInRect(double left, double top, double right, double bottom) {
    if (!m_left.m_pImagePoints || !m_right.m_pImagePoints) return;
    const CTINPoints& leftSet = *m_left.m_pImagePoints;
    const CTINPoints& rightSet = *m_right.m_pImagePoints;
    const int n = std::min({m_ground.GetCount(), leftSet.GetCount(), rightSet.GetCount()});
    if (n == 0) return;
    const TINPoint* records = leftSet.GetPoint(0);
    auto inside = [&](const TINPoint& p) {
        return p.id >= 0 && p.x >= left && p.x <= right && p.y >= top && p.y <= bottom;
    };
    // Counted first, so that both lists grow once.
    size_t count = 0;
    for (int i = 0; i < n; ++i) count += inside(records[i]);
    if (count == 0) return;
    CloseMerging();
    m_left.m_selection.reserve(m_left.m_selection.size() + count);
    m_right.m_selection.reserve(m_right.m_selection.size() + count);
    for (int i = 0; i < n; ++i) {
        if (!inside(records[i])) continue;
        m_left.AddToSelection(records[i]);
        m_right.AddToSelection(*rightSet.GetPoint(i));
    }
    Notify(EditorChange::Selection);
}

void CPointEditor::PrepareSelection() {
    const size_t n = static_cast<size_t>(m_ground.GetCount());
    for (CAerialPhoto* photo : {&m_left, &m_right}) {
        std::vector<TINPoint>& list = photo->m_selection;
        const std::vector<TINPoint> kept = list;
        try {
            // Writing the whole capacity once makes the pages resident.
            list.assign(std::max(n, kept.size()), TINPoint{-1, 0.0, 0.0, 0.0, 0.0});
        } catch (const std::bad_alloc&) {
            list.clear();
            list.shrink_to_fit();
        }
        list.assign(kept.begin(), kept.end());
    }
}

void CPointEditor::Select(int index) {
    m_left.SelectImagePoint(index);
    m_right.SelectImagePoint(index);
    Notify(EditorChange::Selection);
}

void CPointEditor::CloseMerging() {
    HistoryEntry* last = m_history.Last();
    if (!last || last->isCompaction) return;
    if (last->step.open && m_bOpenStepStale) {
        for (RecordChange& c : last->step.changes) c.after = Capture(c.index);
        m_bOpenStepStale = false;
    }
    last->step.open = false;
}

void CPointEditor::NoteChanged(const EditStep& step) {
    m_lastChanged.clear();
    for (const RecordChange& c : step.changes) m_lastChanged.push_back(c.index);
    for (size_t k = 0; k < step.appended.size(); ++k)
        m_lastChanged.push_back(step.countBefore + static_cast<int>(k));
}

void CPointEditor::Commit(EditStep&& step) {
    CloseMerging();
    NoteChanged(step);
    HistoryEntry entry;
    entry.step = std::move(step);
    m_nDropped += m_history.Push(std::move(entry));
    AfterEdit(EditorChange::Edit);
}

int CPointEditor::TakeDroppedSteps() {
    const int n = m_nDropped;
    m_nDropped = 0;
    return n;
}

void CPointEditor::AfterEdit(EditorChange change) {
#ifdef ORVANE_CHECK_INVARIANTS
    Verify();
#endif
    Notify(change);
}

void CPointEditor::Verify() const {
    std::string why;
    if (!CheckParallel(&why)) {
        std::fprintf(stderr, "point editor: the parallel sets broke: %s\n", why.c_str());
        std::abort();
    }
}

// --- Edits -------------------------------------------------------------------

void CPointEditor::MoveAlongLeftRay(int index, double dZ) {
    // The left image position stays; ground X/Y (and the ground index) and
    // the right image position follow the new height.
    TINPoint* p = m_ground.GetPoint(index);
    TINPoint moved = *p;
    if (m_left.MoveAlongRay(moved, dZ) > 0) {
        m_ground.MovePoint(index, moved.x, moved.y);
        p->z = moved.z;
    }
    m_right.UpdateImagePoint(*p, index);
}

int CPointEditor::RaiseSelection(double dZ, bool alongLeftRay) {
    if (m_left.m_selection.empty() || !m_left.m_pImagePoints || !m_right.m_pImagePoints) return -1;
    // A notch on the same selection as the open wheel step extends it
    // (compared in place: a notch on 100,000 points copies no list).
    HistoryEntry* last = m_history.Last();
    auto sameSelection = [&](const std::vector<int32_t>& ids) {
        return ids.size() == m_left.m_selection.size() &&
               std::equal(ids.begin(), ids.end(), m_left.m_selection.begin(),
                          [](int32_t id, const TINPoint& e) { return id == e.id; });
    };
    EditStep* open = last && !last->isCompaction && last->step.open &&
                             last->step.kind == EditKind::Wheel &&
                             sameSelection(last->step.selectionAfter)
                         ? &last->step
                         : nullptr;
    // A point listed twice in the selection (the closing copy of a polygon's
    // first corner) still moves one step: each record is edited once.
    auto raise = [&](int index) {
        if (alongLeftRay) {
            MoveAlongLeftRay(index, dZ);
        } else {
            TINPoint* p = m_ground.GetPoint(index);
            p->z += dZ;
            m_right.UpdateImagePoint(*p, index);
            m_left.UpdateImagePoint(*p, index);
        }
    };
    if (open) {
        m_bZEdited = true;
        // The records are those of the step's first notch; their states after
        // the last notch are taken when the step closes.
        // m_lastChanged still lists them: nothing else ran since the last
        // notch (every other edit, undo or redo closes the step first).
        for (int index : m_lastChanged) raise(index);
        open->zEditedAfter = true;
        m_bOpenStepStale = true;
        AfterEdit(EditorChange::Edit);
        return 1;
    }
    Recorder recorder(*this, EditKind::Wheel);
    recorder.step.changes.reserve(recorder.step.selectionBefore.size());
    for (int index : recorder.step.selectionBefore) {
        if (!m_ground.GetPoint(index) || recorder.Touched(index)) continue;
        recorder.Touch(index);
        raise(index);
    }
    m_bZEdited = true;
    EditStep step = recorder.Finish();
    Commit(std::move(step));
    m_history.Last()->step.open = true;
    return 1;
}

int CPointEditor::SetSelectionZ(double z) {
    if (m_left.m_selection.empty() || !m_left.m_pImagePoints || !m_right.m_pImagePoints) return -1;
    Recorder recorder(*this, EditKind::SetZ);
    for (int index : recorder.step.selectionBefore) {
        TINPoint* p = m_ground.GetPoint(index);
        if (!p) continue;
        recorder.Touch(index);
        MoveAlongLeftRay(index, z - p->z);
    }
    m_bZEdited = true;
    Commit(recorder.Finish());
    return 1;
}

int CPointEditor::FitSelectionToPlane(const std::vector<int>& sampleIndices, EditKind kind,
                                      PlaneFitReport* report) {
    if (m_left.m_selection.empty() || !m_left.m_pImagePoints || !m_right.m_pImagePoints) return -1;
    const double xmin = m_ground.m_dMinX, ymin = m_ground.m_dMinY;
    // One row (X - smallest X, Y - smallest Y, Z) per sample point.
    std::vector<const TINPoint*> samples;
    for (int i : sampleIndices)
        if (const TINPoint* p = m_ground.GetPoint(i)) samples.push_back(p);
    if (samples.empty()) return -2;
    CMatrix data = MakeMatrix(static_cast<int>(samples.size()), 3);
    if (!data || !data[0]) return -2;
    for (size_t i = 0; i < samples.size(); ++i) {
        data[i][0] = samples[i]->x - xmin;
        data[i][1] = samples[i]->y - ymin;
        data[i][2] = samples[i]->z;
    }
    double coeff[3] = {0.0, 0.0, 0.0};
    if (FitLinear(data.get(), static_cast<int>(samples.size()), 3, coeff) != 1) return -2;
    Recorder recorder(*this, kind);
    PlaneFitReport done;
    double sumSquares = 0.0;
    for (int index : recorder.step.selectionBefore) {
        TINPoint* p = m_ground.GetPoint(index);
        if (!p) continue;
        recorder.Touch(index);
        const double z = coeff[0] * (p->x - xmin) + coeff[1] * (p->y - ymin) + coeff[2];
        const double change = std::fabs(z - p->z);
        ++done.points;
        sumSquares += change * change;
        done.largestChange = std::max(done.largestChange, change);
        p->z = z;
        m_left.UpdateImagePoint(*p, index);
        m_right.UpdateImagePoint(*p, index);
    }
    if (done.points > 0) done.rmsChange = std::sqrt(sumSquares / done.points);
    if (report) *report = done;
    // Fitting to the polygon's plane is a height edit of the selection;
    // smoothing leaves the flag as it was.
    if (kind == EditKind::FitToPlane) m_bZEdited = true;
    Commit(recorder.Finish());
    return 1;
}

int CPointEditor::DeleteSelection() {
    if (m_left.m_selection.empty()) return -1;
    Recorder recorder(*this, EditKind::Delete);
    for (int index : recorder.step.selectionBefore) {
        if (!m_ground.GetPoint(index)) continue;
        recorder.Touch(index);
        // The records keep their places and their keys; searches skip them.
        SetId(m_ground, index, -1);
        if (m_left.m_pImagePoints) SetId(ImageSet(m_left), index, -1);
        if (m_right.m_pImagePoints) SetId(ImageSet(m_right), index, -1);
    }
    m_bZEdited = false;
    m_left.ClearSelection();
    m_right.ClearSelection();
    Commit(recorder.Finish());
    return 1;
}

int CPointEditor::AddPointAt(double column, double row, double z) {
    if (!m_left.m_pImagePoints || !m_right.m_pImagePoints) return -1;
    CTINPoints& leftSet = ImageSet(m_left);
    CTINPoints& rightSet = ImageSet(m_right);
    const int id = m_ground.GetCount();
    if (leftSet.GetCount() != id || rightSet.GetCount() != id) return -1;
    // A right position that is not a number (the point is outside the right
    // photograph) is kept as such: the right set holds it unplaced.
    double X = 0.0, Y = 0.0, rc = NAN, rr = NAN;
    if (SeenAtLeftPixel(m_left, m_right, column, row, z, X, Y, rc, rr) < 0) return -1;

    Recorder recorder(*this, EditKind::AddPoint);
    // The sets take the record in turn (AddPoint appends it even when its
    // index refuses the position, with the message); at the first refusal
    // the sets that took it give it up again, and the others are not asked.
    const TINPoint records[3] = {TINPoint{id, X, Y, z, 1.0}, TINPoint{id, column, row, 0.0, 0.0},
                                 TINPoint{id, rc, rr, 0.0, 0.0}};
    CTINPoints* sets[3] = {&m_ground, &leftSet, &rightSet};
    for (int k = 0; k < 3; ++k) {
        if (sets[k]->AddPoint(records[k]) >= 0) continue;
        for (int j = 0; j <= k; ++j) sets[j]->Truncate(id);
        return -(k + 1);
    }
    // The grid took the point (it reaches a little beyond the bounds, or was
    // built over a wider header); the bounds take it too.
    for (int k = 0; k < 3; ++k) HoldInBounds(*sets[k], records[k].x, records[k].y);
    recorder.step.appended.push_back(Capture(id));
    Commit(recorder.Finish());
    return id;
}

int CPointEditor::MovePointsTo(const std::vector<PointTarget>& targets, EditKind kind) {
    if (targets.empty() || !m_left.m_pImagePoints || !m_right.m_pImagePoints) return -1;
    Recorder recorder(*this, kind);
    for (const PointTarget& t : targets) {
        TINPoint* p = m_ground.GetPoint(t.index);
        if (!p || p->id < 0) continue;
        recorder.Touch(t.index);
        m_ground.MovePoint(t.index, t.x, t.y);
        p->z = t.z;
        m_left.UpdateImagePoint(*p, t.index);
        m_right.UpdateImagePoint(*p, t.index);
    }
    if (recorder.step.changes.empty()) return -1;
    m_bZEdited = true;
    Commit(recorder.Finish());
    return 1;
}

void CPointEditor::FoldPromotions(const std::vector<std::pair<int, double>>& promotedIndices) {
    // Steps undone before the release were recorded from the weights before
    // it: redoing one and undoing it again would not come back to these.
    if (!promotedIndices.empty()) m_history.DropUndone();
    size_t e = m_history.Position();
    std::vector<int> epochIndex;  // in the numbering just after the entry visited
    epochIndex.reserve(promotedIndices.size());
    for (const auto& [index, weight] : promotedIndices) epochIndex.push_back(index);
    int after = m_ground.GetCount();  // records just after the entry visited
    for (; e > 0 && m_history.At(e - 1).isCompaction; --e) {
        // Indices after the compaction -> indices before it.
        const CompactionEntry& c = m_history.At(e - 1).compaction;
        const int total = after + static_cast<int>(c.removed.size());
        std::vector<int> old;
        old.reserve(static_cast<size_t>(after));
        size_t r = 0;
        for (int k = 0; k < total; ++k) {
            if (r < c.removed.size() && c.removed[r].first == k)
                ++r;
            else
                old.push_back(k);
        }
        for (int& index : epochIndex)
            index = index >= 0 && index < after ? old[static_cast<size_t>(index)] : -1;
        after = total;
    }
    if (e == 0) return;  // no step left in the history to hold it
    EditStep& step = m_history.At(e - 1).step;
    step.selectionAfter.clear();
    step.zEditedAfter = false;
    std::unordered_map<int, size_t> slot;
    for (size_t k = 0; k < step.changes.size(); ++k) slot.emplace(step.changes[k].index, k);
    for (size_t k = 0; k < epochIndex.size(); ++k) {
        const int index = epochIndex[k];
        if (index < 0) continue;
        if (auto it = slot.find(index); it != slot.end()) {
            step.changes[it->second].after.weight = kPromotedWeight;
        } else if (index >= step.countBefore &&
                   static_cast<size_t>(index - step.countBefore) < step.appended.size()) {
            step.appended[static_cast<size_t>(index - step.countBefore)].weight = kPromotedWeight;
        } else {
            // Untouched by the step: the same before and after it but for the weight.
            RecordState state = Capture(promotedIndices[k].first);
            state.id = index;
            RecordChange change{index, state, state};
            change.before.weight = promotedIndices[k].second;
            slot.emplace(index, step.changes.size());
            step.changes.push_back(change);
        }
    }
}

bool CPointEditor::ReleaseSelection(bool* promoted) {
    if (promoted) *promoted = false;
    if (m_left.m_selection.empty()) return false;
    CloseMerging();
    bool raised = false;  // any weight promoted
    if (m_bZEdited) {
        // The promotion is part of the latest step (the release ends the
        // state after it): undoing that step takes the weights back, redoing
        // it promotes again, and every other history position keeps exactly
        // the weights it had. A record the step did not touch joins it as a
        // change of its weight alone. Saves since the step renumbered the
        // records: indices are carried back through their compactions.
        std::vector<std::pair<int, double>> promotedIndices;  // index, weight before
        for (const TINPoint& entry : m_left.m_selection) {
            TINPoint* p = m_ground.GetPoint(entry.id);
            if (!p || p->id < 0 || !(p->weight < kPromotedWeight)) continue;
            promotedIndices.emplace_back(entry.id,
                                         double{p->weight});  // a copy: the record is packed
            p->weight = kPromotedWeight;
        }
        raised = !promotedIndices.empty();
        if (promoted) *promoted = raised;
        FoldPromotions(promotedIndices);
        m_bZEdited = false;
        if (raised) {
            m_lastChanged.clear();
            for (const auto& [index, weight] : promotedIndices) m_lastChanged.push_back(index);
        }
    }
    m_left.ClearSelection();
    m_right.ClearSelection();
    Notify(raised ? EditorChange::Promotion : EditorChange::Selection);
    return true;
}

// --- Undo and redo ---------------------------------------------------------------

std::string CPointEditor::UndoName() const {
    const EditStep* s = m_history.StepToUndo();
    return s ? EditName(s->kind) : "";
}

std::string CPointEditor::RedoName() const {
    const EditStep* s = m_history.StepToRedo();
    return s ? EditName(s->kind) : "";
}

void CPointEditor::ApplyStep(const EditStep& step, bool forward) {
    NoteChanged(step);
    if (forward) {
        bool refused = false;
        for (const RecordState& s : step.appended) {
            const TINPoint g{s.id, s.x, s.y, s.z, s.weight};
            const TINPoint l{s.id, s.lx, s.ly, 0.0, 0.0};
            const TINPoint r{s.id, s.rx, s.ry, 0.0, 0.0};
            refused |= m_ground.AddPoint(g) < 0;
            refused |= ImageSet(m_left).AddPoint(l) < 0;
            refused |= ImageSet(m_right).AddPoint(r) < 0;
            HoldInBounds(m_ground, g.x, g.y);
            HoldInBounds(ImageSet(m_left), l.x, l.y);
            HoldInBounds(ImageSet(m_right), r.x, r.y);
        }
        if (refused) RebuildIndexes();
        for (const RecordChange& c : step.changes) Restore(c.index, c.after);
        ReplaceSelection(step.selectionAfter);
        m_bZEdited = step.zEditedAfter;
    } else {
        for (size_t k = step.changes.size(); k-- > 0;)
            Restore(step.changes[k].index, step.changes[k].before);
        if (!step.appended.empty()) {
            for (CTINPoints* set :
                 {&m_ground, m_left.m_pImagePoints.get(), m_right.m_pImagePoints.get()})
                if (set) set->Truncate(step.countBefore);
        }
        ReplaceSelection(step.selectionBefore);
        m_bZEdited = step.zEditedBefore;
    }
}

std::string CPointEditor::Undo() {
    const EditStep* target = m_history.StepToUndo();
    if (!target) return "";
    CloseMerging();
    size_t p = m_history.Position();
    m_lastRenumbering = CRenumbering();
    const int countBefore = m_ground.GetCount();
    // Compactions made after the step are taken back first, so that the step
    // finds its records at the indices it knew.
    while (p > 0 && m_history.At(p - 1).isCompaction) {
        NoteRenumbering(countBefore, UndoCompaction(m_history.At(p - 1).compaction));
        --p;
    }
    ApplyStep(m_history.At(p - 1).step, false);
    // Records the step had appended are gone again.
    m_lastRenumbering.DropFrom(m_ground.GetCount());
    m_history.SetPosition(p - 1);
    AfterEdit(EditorChange::Undo);
    return EditName(target->kind);
}

std::string CPointEditor::Redo() {
    if (!m_history.StepToRedo()) return "";
    size_t p = m_history.Position();
    m_lastRenumbering = CRenumbering();
    const int countBefore = m_ground.GetCount();
    while (m_history.At(p).isCompaction)
        NoteRenumbering(countBefore, ApplyCompaction(m_history.At(p++).compaction));
    const EditStep& step = m_history.At(p).step;
    ApplyStep(step, true);
    ++p;
    // A save that followed the step is made again, so that redoing every
    // step ends where the last save left the sets.
    while (p < m_history.Size() && m_history.At(p).isCompaction)
        NoteRenumbering(countBefore, ApplyCompaction(m_history.At(p++).compaction));
    m_history.SetPosition(p);
    AfterEdit(EditorChange::Redo);
    return EditName(step.kind);
}

void CPointEditor::ClearHistory() {
    m_history.Clear();
    m_nDropped = 0;
    m_bOpenStepStale = false;
}

// --- Compaction ---------------------------------------------------------------

void CPointEditor::RebuildIndexes() {
    // Bounds restored from before a save may predate points added since (a
    // header wider than the points lets a point in beyond them): every live
    // record must find a cell, without the index's message.
    for (CTINPoints* set : {&m_ground, m_left.m_pImagePoints.get(), m_right.m_pImagePoints.get()})
        if (set) HoldEveryLiveRecord(*set);
    m_ground.BuildIndex(1);
    if (m_left.m_pImagePoints) m_left.m_pImagePoints->BuildPlacedIndex(1);
    if (m_right.m_pImagePoints) m_right.m_pImagePoints->BuildPlacedIndex(1);
}

void CPointEditor::NoteRenumbering(int countBefore, const CRenumbering& renumbering) {
    // From the indices before the undo or redo; a step between compactions
    // keeps the indices of the records it does not append or remove.
    if (m_lastRenumbering.Empty()) m_lastRenumbering = CRenumbering::Identity(countBefore);
    m_lastRenumbering.Then(renumbering);
}

CRenumbering CPointEditor::ApplyCompaction(CompactionEntry& entry) {
    entry.removed.clear();
    entry.selectionBefore = SelectionIndices();
    m_ground.GetExtent(&entry.groundBounds);
    const int n = m_ground.GetCount();
    std::vector<int> newIndexOfOld(static_cast<size_t>(n), -1);
    int kept = 0;
    for (int i = 0; i < n; ++i) {
        if (m_ground.GetPoint(i)->id < 0)
            entry.removed.emplace_back(i, Capture(i));
        else
            newIndexOfOld[static_cast<size_t>(i)] = kept++;
    }
    // The ground set takes bounds around its survivors; the image-point sets
    // keep theirs (the projected extent with its margin, where points added
    // later must still fit).
    m_ground.Compact();
    for (CAerialPhoto* photo : {&m_left, &m_right}) {
        if (!photo->m_pImagePoints) continue;
        CTINPoints& set = *photo->m_pImagePoints;
        TINExtent bounds{};
        set.GetExtent(&bounds);
        set.Compact();
        set.m_dMinX = bounds.xmin, set.m_dMaxX = bounds.xmax;
        set.m_dMinY = bounds.ymin, set.m_dMaxY = bounds.ymax;
        set.m_dMinZ = bounds.zmin, set.m_dMaxZ = bounds.zmax;
    }
    for (CTINPoints* set : {&m_ground, m_left.m_pImagePoints.get(), m_right.m_pImagePoints.get()})
        if (set)
            for (int i = 0; i < set->GetCount(); ++i) set->GetPoint(i)->id = i;
    // Records that moved down need their keys changed; when none was dropped
    // every key still names its record, in a grid that holds every point.
    if (!entry.removed.empty()) RebuildIndexes();
    std::vector<int> selection;
    for (int i : entry.selectionBefore)
        if (i >= 0 && i < n && newIndexOfOld[static_cast<size_t>(i)] >= 0)
            selection.push_back(newIndexOfOld[static_cast<size_t>(i)]);
    ReplaceSelection(selection);
    return newIndexOfOld;
}

CRenumbering CPointEditor::UndoCompaction(const CompactionEntry& entry) {
    // The removed records go back to their places; the others take the
    // indices they had before (in order between them).
    CTINPoints* sets[3] = {&m_ground, m_left.m_pImagePoints.get(), m_right.m_pImagePoints.get()};
    const int kept = m_ground.GetCount();
    const int total = kept + static_cast<int>(entry.removed.size());
    const TINExtent& b = entry.groundBounds;
    if (entry.removed.empty()) {
        // A save that dropped nothing changed only the ground bounds.
        m_ground.m_dMinX = b.xmin, m_ground.m_dMaxX = b.xmax;
        m_ground.m_dMinY = b.ymin, m_ground.m_dMaxY = b.ymax;
        m_ground.m_dMinZ = b.zmin, m_ground.m_dMaxZ = b.zmax;
        HoldEveryLiveRecord(m_ground);
        ReplaceSelection(entry.selectionBefore);
        std::vector<int> same(static_cast<size_t>(kept));
        std::iota(same.begin(), same.end(), 0);
        return same;
    }
    for (int k = 0; k < 3; ++k) {
        CTINPoints* set = sets[k];
        if (!set) continue;
        auto records = std::make_unique<TINPoint[]>(static_cast<size_t>(total));
        size_t removed = 0;
        int from = 0;
        for (int i = 0; i < total; ++i) {
            if (removed < entry.removed.size() && entry.removed[removed].first == i) {
                const RecordState& s = entry.removed[removed++].second;
                const double x = k == 0 ? s.x : k == 1 ? s.lx : s.rx;
                const double y = k == 0 ? s.y : k == 1 ? s.ly : s.ry;
                records[static_cast<size_t>(i)] =
                    TINPoint{s.id, x, y, k == 0 ? s.z : 0.0, k == 0 ? s.weight : 0.0};
            } else {
                records[static_cast<size_t>(i)] = *set->GetPoint(from++);
                records[static_cast<size_t>(i)].id = i;
            }
        }
        set->m_pPoints = std::move(records);
        set->m_nCount = total;
        set->m_nCapacity = total;
    }
    m_ground.m_dMinX = b.xmin, m_ground.m_dMaxX = b.xmax;
    m_ground.m_dMinY = b.ymin, m_ground.m_dMaxY = b.ymax;
    m_ground.m_dMinZ = b.zmin, m_ground.m_dMaxZ = b.zmax;
    RebuildIndexes();
    ReplaceSelection(entry.selectionBefore);
    // Record j of the compacted set is the j-th record that was not removed.
    std::vector<int> newIndexOfOld;
    newIndexOfOld.reserve(static_cast<size_t>(kept));
    size_t removed = 0;
    for (int i = 0; i < total; ++i) {
        if (removed < entry.removed.size() && entry.removed[removed].first == i)
            ++removed;
        else
            newIndexOfOld.push_back(i);
    }
    return newIndexOfOld;
}

void CPointEditor::Compact(CRenumbering& renumbering) {
    CloseMerging();
    HistoryEntry entry;
    entry.isCompaction = true;
    renumbering = ApplyCompaction(entry.compaction);
    m_nDropped += m_history.Push(std::move(entry));
    AfterEdit(EditorChange::Compaction);
}

// --- The rule -------------------------------------------------------------------

bool CPointEditor::CheckParallel(std::string* why) const {
    auto fail = [&](const std::string& text) {
        if (why) *why = text;
        return false;
    };
    if (!m_left.m_pImagePoints || !m_right.m_pImagePoints)
        return m_ground.GetCount() == 0 ? true : fail("an image-point set is missing");
    const CTINPoints& l = *m_left.m_pImagePoints;
    const CTINPoints& r = *m_right.m_pImagePoints;
    const int n = m_ground.GetCount();
    if (l.GetCount() != n || r.GetCount() != n) return fail("the sets differ in count");
    for (int i = 0; i < n; ++i) {
        const int id = m_ground.GetPoint(i)->id;
        if (id != i && id != -1)
            return fail("record " + std::to_string(i) + " has id " + std::to_string(id));
        if (l.GetPoint(i)->id != id || r.GetPoint(i)->id != id)
            return fail("record " + std::to_string(i) + " differs in id between the sets");
    }
    // Every live, placed record is in the cell of its position.
    auto indexed = [&](const CTINPoints& set, const char* name) {
        const CGridIndex* index = set.GetIndex();
        if (!index) return true;
        for (int i = 0; i < set.GetCount(); ++i) {
            const TINPoint* p = set.GetPoint(i);
            if (p->id < 0 || !std::isfinite(p->x) || !std::isfinite(p->y)) continue;
            int column = -1, row = -1;
            index->CellOf(p->x, p->y, column, row);
            if (column < 0 || row < 0 || column >= index->m_nCols || row >= index->m_nRows) {
                if (why) *why = std::string(name) + " index misses record " + std::to_string(i);
                return false;
            }
            const CGridIndex::KeyList keys = index->CellKeys(row, column);
            if (std::find(keys.begin(), keys.end(), i) == keys.end()) {
                if (why)
                    *why = std::string(name) + " index has record " + std::to_string(i) +
                           " in another cell";
                return false;
            }
        }
        return true;
    };
    return indexed(m_ground, "ground") && indexed(l, "left") && indexed(r, "right");
}
