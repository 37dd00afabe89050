// Match Z: the height of a ground point measured from the two photographs.
//
// A window of the left photograph around the point's left image position is
// compared, by normalised cross-correlation, with windows of the right
// photograph taken where the orientations put that ground patch at a series
// of trial heights; the best trial is refined by least-squares matching
// (the orientations' affine mapping at that height, corrected by a shift
// along the epipolar line and a slope of the parallax along it, plus a
// radiometric gain and offset; Gauss-Newton with robust weights), and the
// matched height is where the left ray comes closest to the right ray
// through the matched right position. Where the centred window matches, it
// is weighed against the same window narrowed towards the point, which
// measures a point beside a break of slope with less bias. Where it finds no
// match (beside walls and breaks of slope), it is tried again with the
// samples near the point weighted most and its mapping free to bend along a
// line, then started from windows shifted off the point (see
// CMatcher::Match).
//
// Two ways to move the point:
//   along the left ray (default) the left image position stays fixed; X, Y and
//                 Z change together, as Set To Surface moves points;
//   keep X and Y  the search runs along the vertical line through X, Y; both
//                 windows are sampled anew at each trial height (the left one
//                 moves too) and only Z changes (gridded terrain models).
//
// Coordinate systems (see Photogrammetry/AerialPhoto.h): ground X, Y, Z in
// the unit of the points file (metres in the figures below); windows are
// sampled in sub-image pixels (column, row of the loaded image, row 0 at the
// top; pixel (c, r) is the sample at exactly (c, r)), converted to scanned
// image pixels with the header's x/y start for the orientations. Parallax,
// its standard deviation and the y-parallax are right sub-image pixels.
//
// Samples are read from one band of each image in whatever type it holds
// (8 to 64 bits, integer or floating point) as plain numbers: correlation and
// the radiometric gain and offset make any linear stretch irrelevant, so the
// display's 8-bit stretch is never applied. Nothing here changes the
// photographs or the points; every query is const and may run on several
// threads at once.
#pragma once

#include <atomic>
#include <cmath>
#include <cstdint>
#include <functional>
#include <vector>

#include "Checking/LocalSurface.h"
#include "Photogrammetry/AerialPhoto.h"
#include "TIN/TINPoints.h"

enum class MatchStatus : int8_t {
    Matched = 0,  // x, y, z is the matched position
    NoMatch = 1,  // no reliable match: x, y, z unchanged
    Outside = 2,  // a window leaves an image, holds a sample that is not finite,
                  // or the point does not project: x, y, z unchanged
};
// "matched", "no-match", "outside".
const char* MatchStatusName(MatchStatus status);

struct MatchOptions {
    // Window side in pixels: odd, kMinMatchWindow .. kMaxMatchWindow.
    int window = 15;
    // Half the search interval in ground units; 0: automatic, max(minRange,
    // spreadFactor x the spread of the neighbours' residuals).
    double range = 0.0;
    double minRange = 3.0;
    double spreadFactor = 3.0;
    // The interval never reaches further than this many pixels of parallax
    // either way, and is searched in steps of about stepParallax pixels.
    double maxParallax = 30.0;
    double stepParallax = 0.5;
    int band = 0;  // band of both photographs (0: the one the view shows)
    bool keepXY = false;
    // Acceptance: the refinement converged, its correlation is at least
    // minCorrelation, the parallax's standard deviation from the normal
    // equations at most maxSigma pixels, and the best trial correlation
    // exceeds the best one outside its peak (at least two steps away) by
    // minDistinctness.
    double minCorrelation = 0.8;
    double maxSigma = 0.05;
    double minDistinctness = 0.1;
    int maxIterations = 20;
    double convergence = 0.001;  // pixels: change of the parallax in the last update
    int threads = 0;             // batch threads; 0: every hardware thread (at most 16)
    // False: the correlation search alone, no refinement (for measuring its
    // share of the time); no point is then ever Matched.
    bool refine = true;
    // When the window centred on the point finds no match, try again with
    // the samples near the point weighted most and a break line allowed,
    // then from windows shifted off the point (see CMatcher::Match).
    bool shiftedWindows = true;
    // Where the centred window matches, weigh it against the same window
    // weighted towards the point (see CMatcher::Match).
    bool narrowing = true;
};
constexpr int kMinMatchWindow = 7;
constexpr int kMaxMatchWindow = 31;
bool IsValidMatchWindow(int window);

struct MatchResult {
    int index = -1;  // record index (batch), or -1
    MatchStatus status = MatchStatus::NoMatch;
    double x = 0.0, y = 0.0, z = 0.0;  // ground: new position, or the point as it was
    // Refinement's correlation (-1 .. 1, with its weights) and the parallax's standard
    // deviation (pixels); NaN when no refinement ran (always for Outside).
    double correlation = NAN;
    double sigmaPx = NAN;
    // Right-image shift across the epipolar direction (pixels), reported, not used.
    double yParallax = NAN;
    // The best trial correlation minus the best outside its peak's flanks
    // (at least two steps away); NaN when there is none.
    double distinctness = NAN;
    // Grey-level standard deviation of the left window (sample units).
    double texture = NAN;
    int iterations = 0;
    // How much of the window the refinement's mapping fits: the mean of its
    // robust weights (0 .. 1; NaN when no refinement ran). Low where the
    // window sees two surfaces.
    double fit = NAN;
    // The searched interval: centre and half width (ground units).
    double searchZ = NAN;
    double searchRange = NAN;
};

class CMatcher {
public:
    // Both photographs must outlive the matcher and stay unchanged while it is used.
    CMatcher(const CAerialPhoto& left, const CAerialPhoto& right, const MatchOptions& options);
    // 1 ready; -1 a window size out of range or options that cannot be used
    // (a step or range that is not positive and finite); -2 a photograph
    // without that band or without orientation.
    int Status() const { return m_nStatus; }
    const MatchOptions& Options() const { return m_options; }

    // Matches the ground point (x, y, z) searching heights centreZ +- range
    // (range 0: options' range, or minRange when that is automatic); the
    // 30-pixel limit applies in any case.
    MatchResult Match(double x, double y, double z, double centreZ, double range) const;

private:
    struct Band {
        const unsigned char* data = nullptr;
        int packing = 0;
        int cols = 0, rows = 0;
    };
    struct Affine;  // a window's position in an image
    bool LeftToRight(double lc, double lr, double z, Affine& map) const;
    bool LeftAt(double x, double y, double z, double& column, double& row) const;
    // One window whose centre lies (du, dv) left sub-image pixels from the
    // point's left position; `pointMap` receives the refined mapping moved to
    // the point (its centre the point's matched right position).
    // Where a refinement starts instead of the correlation search: the
    // window's mapping at height z, found with that distinctness.
    struct Seed;
    // How a window's refinement weighs and maps its samples: taper > 0
    // weights them by their distance from the window's centre, a Gaussian of
    // that many half windows; breakLine lets the mapping bend along a line
    // where that fits significantly better (see Refine).
    struct WindowModel {
        double taper = 0.0;
        bool breakLine = false;
    };
    // With a seed, no search: the refinement starts from the seed.
    MatchResult MatchWindow(double x, double y, double z, double centreZ, double range, double du,
                            double dv, const WindowModel& model, Affine& pointMap,
                            const Seed* seed = nullptr) const;
    bool Refine(const std::vector<double>& left, const std::vector<double>& smooth, double ec,
                double er, double u0, double v0, const WindowModel& model, bool settled,
                Affine& map, double& gain, double& offset, MatchResult& result) const;

    const CAerialPhoto& m_left;
    const CAerialPhoto& m_right;
    MatchOptions m_options;
    Band m_leftBand, m_rightBand;
    int m_nHalf = 7;
    int m_nStatus = -1;
};

// Progress of a batch: called on the calling thread with the points done so
// far and the total; may be empty.
using MatchProgress = std::function<void(int64_t done, int64_t total)>;

// Matches the records `indices` of `ground`. Each search is centred on the
// Set To Surface target (Checking/SurfaceTargets.h) from `surface`, which
// must be in step with `ground` (null: one is built from `ground` here), and
// spans max(minRange, spreadFactor x that surface's spread) unless
// options.range is set; where there is no surface, on the point's own Z over
// minRange. leaveOutListed: every listed point is left out of every surface
// estimate (a selection), else only the point itself (the whole set).
// `results` gets one entry per index, in order, whatever the thread count.
// `cancel` (optional) is polled; once it is raised the batch stops early.
// The number matched; -1 bad options, -2 a photograph without the band or
// orientation, -3 cancelled (results cleared), -4 no surface could be built.
int MatchPoints(const CTINPoints& ground, const CAerialPhoto& left, const CAerialPhoto& right,
                const CLocalSurface* surface, const std::vector<int>& indices, bool leaveOutListed,
                const MatchOptions& options, std::vector<MatchResult>& results,
                const MatchProgress& progress = {}, const std::atomic<bool>* cancel = nullptr);
