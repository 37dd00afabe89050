// The check ranking: a suspicion score for every live ground point, so that
// the operator can visit the points most likely to be blunders first.
//
// Score of live record p (id >= 0) at ground (X, Y) with height Z and weight w:
//
//   N(p)    the k nearest other live points in X/Y within the search radius
//           (k = neighbours; ties in distance go to the smaller record index);
//           fewer than minNeighbours, or all on one line: status Insufficient,
//           score NaN.
//   plane   the robust local plane through N(p) in coordinates relative to p
//           (FitRobustPlane, RobustPlane.h: a start chosen by the criterion of
//           least trimmed squares among planes through well-spread triples of
//           neighbours, then least-squares refits on the neighbours within 2.5
//           robust standard deviations of it).
//   S(p)    the plane's height at (X, Y): the surface height of p.
//   r       Z - S(p), ground units: how far p lies off its neighbours' surface.
//   r_i     each neighbour's residual from the same plane.
//   s(p)    max(1.4826 x median_i |r_i|, spread floor), ground units: the
//           robust spread of the neighbours about their surface (the MAD
//           about the plane).
//   sigma   max(s(p), noise floor): the noise floor (CheckOptions) is by
//           default half the median of s over all scored points, so that a
//           neighbourhood that happens to lie almost exactly on a plane does
//           not make an ordinary point look far off it.
//   f(w)    1 + weightGain x (0.95 - min(max(w, 0), 0.95)) / 0.95: 1 for a
//           checked or well-matched point (w >= 0.95), up to 1 + weightGain
//           for weight 0 (a weight that is not a number counts as 0).
//
//   score = f(w) x |r| / sigma        (dimensionless)
//
// So a point scores by how many robust standard deviations of its
// neighbourhood it lies off the surface of that neighbourhood: a spike on a
// quiet field scores high, the same offset among noisy points near a wall
// lower, and a smooth slope of any steepness near zero.
//
// The ranking references the ground set it was made for; it must not outlive
// it. After points of the set change (moved, re-weighted, deleted, undeleted
// or appended), Update with their record indices scores again exactly the
// points whose neighbourhood can hold one of them, which gives the same
// scores as a full Rank with the same Options(). After the set is compacted
// or replaced, Rank again.
//
// Rank uses several threads (CheckOptions::threads), Update too when it has
// more than 16384 points to score; both return only when all their work is
// done.
#pragma once

#include <cstdint>
#include <vector>

#include "Checking/LocalSurface.h"
#include "TIN/TINPoints.h"

// What the ranking holds for one record.
struct PointScore {
    SurfaceStatus status = SurfaceStatus::Deleted;
    double score = 0.0;     // dimensionless; NaN unless status is Fitted
    double residual = 0.0;  // Z - surface height, ground units; NaN unless Fitted
    double spread = 0.0;    // s(p), ground units; NaN unless Fitted
    double surface = 0.0;   // surface height S(p), ground Z; NaN unless Fitted
};

class CCheckRanking {
public:
    explicit CCheckRanking(const CTINPoints& ground);
    CCheckRanking(const CCheckRanking&) = delete;
    CCheckRanking& operator=(const CCheckRanking&) = delete;

    // Scores every record of the set anew. The number of points scored
    // (status Fitted), or -1 for options out of range (CLocalSurface::Build).
    // Options() then holds the values in force, the noise floor included:
    // ranking with them again gives the same scores as Update.
    int Rank(const CheckOptions& options = CheckOptions());
    // Scores again the records in changedIds (record indices; those outside
    // the set are ignored), the records appended since the last Rank or
    // Update, and every point whose neighbourhood can include one of them at
    // its old or its new position. The number of records scored again; -1
    // when the set has not been ranked, -2 when it now holds fewer records
    // than when it was ranked (compacted: Rank again).
    int Update(const std::vector<int>& changedIds);

    // Records covered (the set's count at the last Rank or Update).
    int GetCount() const { return static_cast<int>(m_status.size()); }
    // The score of record `index`; a default PointScore (Deleted) outside the range.
    PointScore Get(int index) const;
    // Score, or NaN unless the record's status is Fitted.
    double Score(int index) const;
    SurfaceStatus Status(int index) const;
    // The surface height at the record from its neighbours, the record left
    // out (ground Z); NaN unless Fitted.
    double SurfaceHeight(int index) const;
    // The surface at any ground position from the nearest live points,
    // leaving out record `skip` (-1: none).
    SurfaceEstimate SurfaceAt(double x, double y, int skip = -1) const;

    // Order, worst first: higher score first, at equal score the smaller
    // record index first; only Fitted points take part.
    // Appends to `out` the indices of the points scoring at least minScore,
    // worst first, at most `top` of them (top < 0: all). Number appended.
    int Worst(int top, double minScore, std::vector<int>& out) const;
    // The same with the Fitted points among `also` (record indices another
    // source names, such as the contours' pits and peaks; repeats and
    // indices out of range allowed) taken whatever their score, each in its
    // place in the order: `top` counts them too.
    int Worst(int top, double minScore, const std::vector<int>& also, std::vector<int>& out) const;
    // The point just after position (score, index) in the order, or -1 at its
    // end. Next(+infinity, -1) is the worst point. A point that has since been
    // fixed keeps its place in the walk: pass the score it had when visited.
    int Next(double score, int index) const;
    // The point just before position (score, index), or -1 at the start.
    int Previous(double score, int index) const;
    // Number of points whose status is Insufficient.
    int InsufficientCount() const;

    const CLocalSurface& Surface() const { return m_surface; }
    const CTINPoints& Ground() const { return m_ground; }
    const CheckOptions& Options() const { return m_options; }

private:
    // The per-record lists: emptied, or sized to n records keeping the first ones.
    void ClearRecords();
    void ResizeRecords(int n);
    void ScoreOne(int index);
    void SetScore(int index);
    // Scores the records listed, on several threads from threadedFrom of them.
    void ScoreAll(const std::vector<int>& indices, int64_t threadedFrom);

    const CTINPoints& m_ground;
    CLocalSurface m_surface;
    CheckOptions m_options;
    bool m_bRanked = false;
    std::vector<SurfaceStatus> m_status;
    std::vector<double> m_score, m_residual, m_spread, m_height;
    // Squared reach of each point's neighbourhood (SurfaceEstimate::reach2),
    // and an upper bound of all of them.
    std::vector<double> m_reach2;
    double m_dMaxReach2 = 0.0;
    std::vector<uint8_t> m_marked;  // Update's work: records already taken
};
