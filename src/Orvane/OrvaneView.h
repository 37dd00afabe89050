// The editing view: draws the left photograph into the left back buffer and
// the right one into the right back buffer, with the projected points, the
// selection and the floating mark over each, and carries out every mouse,
// wheel, key and menu operation on the points.
//
// Screen systems: client pixels (y down, mouse messages), logical coordinates
// (client + scroll position; equal to left sub-image pixels), GL window
// coordinates (y up from the bottom edge; everything drawn, m_ptMark).
#pragma once

#include <GL/gl.h>

#include <QDialog>
#include <array>
#include <functional>
#include <limits>
#include <string>
#include <vector>

#include "Framework/Types.h"
#include "OpenGL/OpenGLView.h"
#include "Orvane/DialogSupport.h"
#include "Orvane/PointPasses.h"
#include "StereoView/StereoFrame.h"

class COrvaneDoc;
class CRenumbering;
struct TINPoint;
class CAerialPhoto;

// Command ids of the view.
enum OrvaneCommand {
    ID_TIN_EDITING = 32771,
    ID_TIN_FITTOPLANE = 32772,
    ID_TIN_OPTIONS = 32773,
    ID_TIN_SETNEWZ = 32775,
    ID_TIN_SMOOTHSLOPE = 32776,
    ID_TIN_SMOOTHAVERAGE = 32777,
    ID_TIN_DELETEPOINTS = 32778,
    ID_TIN_POLYGONSELECTING = 32781,
    ID_VIEW_TEST = 32782,
    ID_TIN_GOTOPOINT = 32783,
    // Beyond the commands above: the check queue.
    ID_VIEW_CHECKQUEUE = 32791,
    ID_TIN_NEXTSUSPECT = 32792,
    ID_TIN_PREVIOUSSUSPECT = 32793,
    ID_TIN_SETTOSURFACE = 32794,
    // The operator's review: accept the current suspect as it is (key k).
    ID_TIN_ACCEPTSUSPECT = 32830,
    // Zoom (View menu); 32800-32809 are kept for the zoom.
    ID_VIEW_ZOOMIN = 32800,
    ID_VIEW_ZOOMOUT = 32801,
    ID_VIEW_ZOOMTOFIT = 32802,
    ID_VIEW_ACTUALPIXELS = 32803,
    // Measuring heights from the photographs (TIN menu); 32810-32819.
    ID_TIN_MATCHZ = 32810,
    ID_TIN_AUTOHEIGHT = 32811,
    // The surface of the points (View and TIN menus, File > Export
    // Contours); 32820-32829.
    ID_VIEW_CONTOURS = 32820,
    ID_VIEW_TRIANGLES = 32821,
    ID_VIEW_CONTOURINTERVAL = 32822,
    ID_FILE_EXPORTCONTOURS = 32823,
    ID_TIN_DRAPE = 32824,
};

// Panes of the main frame's status bar that the view writes, before CAP,
// NUM and SCRL: pane 0 takes the read-outs and prompts.
enum OrvaneStatusPane {
    kPaneMessage = 0,
    kPaneSelected = 1,  // number of selected points
    kPaneZStep = 2,     // the wheel's height step
    kPaneParallax = 3,  // the floating mark's parallax, pixels
    kPaneMark = 4,      // ground X, Y, Z of the floating mark (blank where the rays miss)
    kPaneZoom = 5,      // the view's scale, "Zoom 100 %"
};

class COrvaneView : public COpenGLView {
    Q_OBJECT
public:
    explicit COrvaneView(QWidget* parent = nullptr);
    ~COrvaneView() override;

    COrvaneDoc* GetDocument() const;

    // --- Drawing ---------------------------------------------------------
    void OnInitialUpdate() override;
    void OnDraw(QPainter* pDC) override;
    // Draws the photograph's current window: -1 without a pixel copy, 1 otherwise.
    int DrawImageWindow(CAerialPhoto& photo);
    // Draws the photograph's image points and its selection.
    void DrawImagePoints(CAerialPhoto& photo);
    // The white cross of the floating mark at GL window (x, y).
    void DrawMark(int x, int y);
    // A ring in m_rgbSuspect around the check queue's current suspect.
    void DrawSuspectRing(CAerialPhoto& photo);
    // The last polygon edge, straight into `buffer`: -1 with fewer than two vertices.
    int DrawSelectPoly(CAerialPhoto& photo, GLenum buffer);
    // Mode 1: min-max stretch of the copy's grey values into m_greyMap.
    void ComputeGreyMap(const unsigned char* pixels, int rows, int columns);

    // A change of the document's project (the hint is its ProjectChange, the
    // pointer the ProjectEvent): a load scrolls to the new project, a
    // renumbering moves the current point; every change redraws.
    void OnUpdate(CScrollView* pSender, long lHint, void* pHint) override;

    // --- Mouse, wheel and keys -----------------------------------------------
    void OnMouseMove(unsigned int nFlags, CPoint point) override;
    void OnLButtonDown(unsigned int nFlags, CPoint point) override;
    void OnLButtonUp(unsigned int nFlags, CPoint point) override;
    void OnRButtonDown(unsigned int nFlags, CPoint point) override;
    bool OnMouseWheel(unsigned int nFlags, short zDelta, CPoint point) override;
    // The middle button drags the view (panning).
    void OnMButtonDown(unsigned int nFlags, CPoint point) override;
    void OnMButtonUp(unsigned int nFlags, CPoint point) override;
    void OnKeyDown(unsigned int nChar, unsigned int nRepCnt, unsigned int nFlags) override;
    void OnChar(unsigned int nChar, unsigned int nRepCnt, unsigned int nFlags) override;

    // The screen geometry of this moment: scroll position, client size, scale,
    // mark, parallax, offsets and both photographs' display windows.
    CStereoFrame GetStereoFrame() const;

    // --- Zoom ------------------------------------------------------------------
    // The zoom is the base view's m_dScale: screen pixels per left sub-image
    // pixel. It stays between MinZoom (the fit zoom, or 1/64 when that is
    // larger) and kMaxZoom.
    static constexpr double kMaxZoom = 16.0;
    static constexpr double kMinStepZoom = 1.0 / 64.0;
    // The scale at which the whole left photograph fills the client area in
    // one direction and fits in the other; 1 without a project.
    double FitZoom() const;
    double MinZoom() const;
    // Sets the scale (limited to MinZoom .. kMaxZoom) keeping the left
    // sub-image position under client point `anchor` where it is (as far as
    // the scroll range and whole scroll positions allow); the scroll area
    // becomes the scene size times the scale, the floating mark keeps its
    // left sub-image position and its parallax in sub-image pixels. False
    // without a project.
    bool SetZoom(double scale, CPoint anchor);
    // Zoom In and Out by m_dZoomFactor about the view centre.
    void ZoomIn() override;
    void ZoomOut() override;
    void OnZoomToFit();
    // Scale 1, the left sub-image position at the centre staying there.
    void OnActualPixels();
    // One Ctrl+wheel notch (`notches` > 0 zooms in) about a client point: by
    // 2^(1/4), from a scale between the steps to the next step.
    void ZoomByNotches(int notches, CPoint anchor);

    // Index of the left image point within m_dPickTolerance of a client point, or -1.
    int PickPoint(CPoint client) const;
    // Adds a point at the floating mark, height m_dDefaultZ: 1, or -1/-2/-3
    // when the ground set, the left or the right image-point set refused it.
    int AddPointAtMark();
    // FindNeighbour(m_nCurrentPoint, direction) on the ground set.
    int MoveToNeighbour(int direction);
    // Steps the selection to the neighbour in a direction (characters a, d, e, s).
    void StepToNeighbour(int direction);

    // --- Selection ---------------------------------------------------------
    void OnPolygonSelecting();
    // Selects the left image points inside a logical rectangle (bounds included).
    void SelectInRect(int left, int top, int right, int bottom);

    // --- Commands ----------------------------------------------------------
    // TIN > Editing (Orvane): the image-pair picker proposes the paths last
    // used (`points`, when given, for the points file), then loads.
    void OnEditingOrvane(const std::string& points = {});
    // The words the project file keeps for the stereo presentations.
    static const char* PresentationName(StereoPresentation mode);
    static bool PresentationFromName(const std::string& name, StereoPresentation& mode);
    void OnFitToPlane();
    void OnSmoothSlope();
    void OnSmoothAverage();
    void OnSetNewZ();
    void OnDeletePoints();
    void OnOptions();
    void OnGoToPoint();
    void OnTest();
    // The check queue: next / previous suspect (keys n and p), and Set To
    // Surface (key f) for the selection.
    void OnNextSuspect();
    void OnPreviousSuspect();
    // Key k: the current suspect is right as it is (checked).
    void OnAcceptSuspect();
    void OnSetToSurface();
    // TIN > Match Z (key m): the selection to the heights the photographs
    // give; the points without a match stay selected.
    void OnMatchZ();
    // The floating mark's height found under the mouse: TIN > Auto Height
    // (key h) by matching, TIN > Drape (key g) on the surface; at most one
    // is on. Off again when chosen while on.
    enum class MarkHeightMode { Off, AutoHeight, Drape };
    void SetMarkHeightMode(MarkHeightMode mode);
    MarkHeightMode GetMarkHeightMode() const { return m_markHeightMode; }
    // View > Contours (key c), View > Triangles (key t): shown in both eyes.
    void OnContours();
    void OnTriangles();
    bool m_bShowContours = false;
    bool m_bShowTriangles = false;
    // Options: zoomed in, each image pixel a sharp square (not smoothed).
    bool m_bSharpPixels = false;
    // View > Contour Interval...: asks for the interval.
    void OnContourInterval();
    // File > Export Contours...: asks for a file and writes the contours as drawn.
    void OnExportContours();
    // Chooses the contour export file; tests replace it. Empty: cancelled.
    std::function<std::string()> m_fnChooseContourPath;
    // The mark's height by the mode on, at the mark's position now: sets
    // m_dMarkZ and the parallax, or the mark's pane says why not. True when found.
    bool UpdateMarkHeight();
    // Brings record `index` to the centre of the view as Go To Point does, sets
    // the floating mark on it with the parallax of its height, and makes it
    // the selection, so that the wheel and the commands act on it at once.
    void GoToSuspect(int index);
    // Runs the view command with that id; false for an id the view does not handle.
    bool OnCommand(int id);

    // Runs a modal dialog; true when it was accepted. Tests replace the runner
    // to fill the dialog and answer without a modal loop.
    bool RunDialog(QDialog& dialog);
    std::function<bool(QDialog&)> m_fnRunDialog;

    // After a project was loaded: scroll area, grey map,
    // Default Z; both display lists are rebuilt at the next draw.
    void OnProjectLoaded(double dDefaultZ);
    // Scrolls the middle of the points' extent to the centre of the view and
    // sets the offsets so the pair fuses there at the points' median height,
    // with the floating mark (parallax 0) on that height.
    void ShowProjectCentre();
    // Scrolls so that left sub-image position (column, row) is at the centre
    // of the view (as far as the scroll range allows); false when the
    // position is too far out to scroll to.
    bool CentreOn(double column, double row);
    // Centres left sub-image position (column, row) as CentreOn does and sets
    // the right image's offsets so that the pair fuses there at height Z
    // (ground units), as the first picture after a load does. False when
    // the position is too far out to scroll to.
    bool CentreAndFuse(double column, double row, double Z);
    // The height to fuse at near left sub-image position (column, row): the
    // nearest live point's within a few dozen pixels, else the points' median.
    double HeightNear(double column, double row) const;
    // Ground position of the floating mark: the left and right rays through
    // the two crosses intersected. 1, or -1 when they do not meet sensibly.
    int MarkGroundPosition(double& X, double& Y, double& Z) const;
    // Selected count, Z step, parallax and the mark's ground position in the
    // status bar's panes (the active view only).
    void UpdateStatusPanes();
    // After a save's compaction (or its undo or redo) renumbered the records.
    void OnPointsRenumbered(const CRenumbering& renumbering);

    // Number of display-list compilations since the view was made, per list
    // (1 left, 2 right): tests tell a replay from a rebuild.
    int m_nListBuilds[3] = {0, 0, 0};
    // Many points are painted into the picture of their image (the same
    // pixels as GL points, far cheaper on software rasterisers); tests turn it
    // off to compare the two.
    bool m_bPointBitmaps = true;
    const CPointPasses& GetPointPasses() const { return m_pointPasses; }
    // Path the "Test" command reads.
    std::string m_strTestPoints = "/tmp/orvane-test.pts";

    // --- View state ----------------------------------------------------------
    std::string m_strLeftImage;
    std::string m_strRightImage;
    std::string m_strLeftOrientation;
    std::string m_strRightOrientation;
    std::string m_strMatchedPoints;
    int m_nXOffset = 660;
    int m_nYOffset = 0;
    RGBColor m_rgbPoints{0, 255, 255};
    RGBColor m_rgbSelected{255, 255, 0};
    RGBColor m_rgbSuspect{255, 0, 255};  // ring around the check queue's current suspect
    RGBColor m_rgbContours{255, 160, 0};
    RGBColor m_rgbIndexContours{255, 96, 0};
    RGBColor m_rgbTriangles{0, 200, 0};
    int m_nPointSize = 3;
    double m_dZIncrement = 0.03;
    double m_dDefaultZ = 0.0;
    double m_dPickTolerance = 5.0;
    // The floating mark's parallax in left sub-image pixels (fractions above
    // 1:1); m_nParallax is its screen offset at the current zoom,
    // lround(m_dParallax * zoom).
    double m_dParallax = 30.0;
    int m_nParallax = 30;
    // Height of the floating mark found by a mode that sets it; NaN when none has.
    double m_dMarkZ = std::numeric_limits<double>::quiet_NaN();
    int m_nContrastMode = 0;
    bool m_bRefreshGreyMap = true;
    bool m_bOffsetChanged = false;
    CPoint m_ptMark;
    int m_nCurrentPoint = -1;
    int m_nMode = 0;

private:
    // m_dParallax again from m_nParallax when the int was set on its own
    // (the int is what is drawn), then m_nParallax from m_dParallax.
    void SyncParallaxFromScreen();
    // After Set To Surface or Match Z: a mark on the current suspect takes its new height.
    void MarkFollowsSuspect();
    // The mark's parallax for a point seen at l (left) and r (right sub-image).
    void SetMarkParallax(const CStereoFrame& frame, const TINPoint& l, const TINPoint& r);
    // The scroll area for the current scale: the scene size times the scale.
    CSize ScaledSceneSize() const;
    int m_nSetParallax = 30;  // m_nParallax as the view last set it
    bool m_bPanning = false;  // the middle button is dragging the view
    MarkHeightMode m_markHeightMode = MarkHeightMode::Off;
    bool m_bMarkHeightPending = false;  // the mouse moved: the next frame finds the height
    QString m_strMarkNote;              // the mark's pane while the mode finds no height
    // The surface over one eye's photograph (contours, triangle edges in
    // view) as lines for the eye's point passes, which draw them under the points.
    void GatherSurfaceLines(const CStereoFrame& frame, int eye);
    // An eye's surface lines in sub-image positions for a region around the
    // view, and what they were gathered for.
    struct SurfaceLines {
        struct Key {
            uint64_t generation = 0, layout = 0;
            size_t segments = 0;
            bool contours = false, triangles = false, allContours = false;
            friend bool operator==(const Key&, const Key&) = default;
        };
        bool valid = false;
        Key key;
        StereoRect region;
        std::vector<float> lines[3];  // triangle edges, contours, index contours: x0, y0, x1, y1
    };
    SurfaceLines m_surfaceLines[2];
    void GatherSurfaceRegion(int eye, SurfaceLines& kept);
    std::vector<int> m_surfaceRecords;    // records in view, reused
    std::vector<int32_t> m_surfaceSlots;  // contour segments in view, reused
    CPoint m_ptPanFrom;                   // client position of the last drag step

    // Draws one photograph's window from display list `list` (1 left, 2
    // right), or with its points from list `list` + 2, rebuilding the list
    // when `rebuild`, or the window, raster position or points changed since
    // it was built.
    void DrawPhotoList(CAerialPhoto& photo, const CStereoFrame& frame, GLuint list, bool rebuild);
    // The plane through sample points (least squares) applied to every entry of
    // the left selection; false (and a message) when the samples give no plane.
    bool FitSelectionToPlane(const std::vector<int>& sampleIds, bool bSmooth);

    // The points of both eyes: gathered each frame, drawn as GL points or
    // painted into the images' display lists.
    CPointPasses m_pointPasses;
    bool m_bRebuildLists = false;  // images were replaced: both lists are stale
    // The window bounds and raster position each eye's lists were compiled
    // for: [eye][0] the image alone (lists 1, 2), [eye][1] with its points
    // (lists 3, 4); never compiled or stale: not valid.
    struct ListWindow {
        bool valid = false;
        int firstCol = 0, lastCol = 0, firstRow = 0, lastRow = 0, rasterX = 0, rasterY = 0;
        friend bool operator==(const ListWindow&, const ListWindow&) = default;
    };
    ListWindow m_listWindows[2][2];

    // At other scales than 1:1 each eye's list (1 left, 2 right) holds the
    // picture sampled for the screen (ZoomedImage), built again when any of
    // this changes.
    struct ZoomKey {
        bool valid = false;
        double scale = 0.0;
        int scrollX = 0, scrollY = 0, width = 0, height = 0;
        int xOffset = 0, yOffset = 0, sceneHeight = 0;
        const unsigned char* band = nullptr;
        int level = -1;           // reduced level drawn from, -1 the photograph itself
        bool withPoints = false;  // the points are painted into the picture
        friend bool operator==(const ZoomKey&, const ZoomKey&) = default;
    };
    ZoomKey m_zoomKeys[2];
    // The band-0 value range of wider sample types, per eye, for the grey stretch.
    struct SampleRange {
        const unsigned char* band = nullptr;
        double lo = 0.0, hi = 0.0;
    };
    SampleRange m_sampleRanges[2];
    std::vector<unsigned char> m_zoomGrey;  // stretched samples, reused
    void DrawZoomedPhoto(CAerialPhoto& photo, const CStereoFrame& frame, int eye, GLuint list,
                         bool rebuild);

    // Zoomed in, unless the operator chose sharp square pixels: the visible
    // part of each photograph as a texture smoothed between pixel centres
    // (linear filtering), loaded again only when that part changes.
    struct TextureKey {
        bool valid = false;
        const unsigned char* band = nullptr;
        int firstCol = 0, firstRow = 0, lastCol = 0, lastRow = 0;  // sub-image, inclusive
        std::array<float, 256> greyMap{};
        friend bool operator==(const TextureKey&, const TextureKey&) = default;
    };
    TextureKey m_textureKeys[2];
    GLuint m_textures[2] = {0, 0};
    std::vector<unsigned char> m_textureTexels;  // reused
    // This frame draws the photographs as textures.
    bool UsesTextures(const CStereoFrame& frame);
    void DrawTexturedPhoto(CAerialPhoto& photo, const CStereoFrame& frame, int eye);
};
