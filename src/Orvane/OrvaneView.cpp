#include "Orvane/OrvaneView.h"

#include <QCoreApplication>
#include <QDialog>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QLocale>
#include <QProgressDialog>
#include <QScrollBar>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>

#include "Framework/MDIFrame.h"
#include "Framework/Messages.h"
#include "Framework/StatusBar.h"
#include "Framework/WaitCursor.h"
#include "Framework/WinApp.h"
#include "Numerics/LinearAlgebra.h"
#include "Orvane/3DCoordInput.h"
#include "Orvane/3DImgInput.h"
#include "Orvane/ContourIntervalDlg.h"
#include "Orvane/MevrithOpt.h"
#include "Orvane/OrvaneDoc.h"
#include "Orvane/ValueInput.h"
#include "Photogrammetry/Intersection.h"
#include "Photogrammetry/StereoAlignment.h"
#include "Platform/IntConversion.h"
#include "StereoView/PhotoEye.h"
#include "StereoView/ViewPick.h"
#include "StereoView/ZoomedImage.h"
#include "Surface/ContourExport.h"
#include "Surface/SurfaceImages.h"
#include "TIN/GridIndex.h"

namespace {

void ShowPlain(const char* text) {
    ReportMessage(QString::fromLatin1(text), Platform::MessageKind::Plain);
}

// The whole pixel of a position of the stereo frame (positions of whole
// pixels at scale 1 stay as they are), clamped to the int range.
CPoint ToPixel(StereoPoint p) {
    int x = 0, y = 0;
    Platform::TruncClamped(std::floor(p.x), x);
    Platform::TruncClamped(std::floor(p.y), y);
    return CPoint(x, y);
}

}  // namespace

COrvaneView::COrvaneView(QWidget* parent) : COpenGLView(parent) {
    // Any point of the photographs can be brought to the centre (a suspect
    // at the edge of the left image too), where the operator looks.
    SetCentreAnywhere(true);
}

COrvaneView::~COrvaneView() = default;

COrvaneDoc* COrvaneView::GetDocument() const {
    return static_cast<COrvaneDoc*>(COpenGLView::GetDocument());
}

bool COrvaneView::RunDialog(QDialog& dialog) {
    if (m_fnRunDialog) return m_fnRunDialog(dialog);
    return dialog.exec() == QDialog::Accepted;
}

CStereoFrame COrvaneView::GetStereoFrame() const {
    CStereoFrame frame;
    const CPoint scroll = GetScrollPosition();
    const CRect client = GetClientRect();
    frame.m_nScrollX = scroll.x;
    frame.m_nScrollY = scroll.y;
    frame.m_nClientWidth = client.Width();
    frame.m_nClientHeight = client.Height();
    frame.m_dScale = m_dScale;
    frame.m_nMarkX = m_ptMark.x;
    frame.m_nMarkY = m_ptMark.y;
    frame.m_dParallax = m_nParallax;
    frame.m_nXOffset = m_nXOffset;
    frame.m_nYOffset = m_nYOffset;
    if (const COrvaneDoc* doc = GetDocument()) {
        frame.m_nSceneHeight = doc->GetSceneSize().cy;
        frame.m_eyes[CStereoFrame::kLeft] = EyeOf(doc->m_leftPhoto);
        frame.m_eyes[CStereoFrame::kRight] = EyeOf(doc->m_rightPhoto);
    }
    return frame;
}

// ---------------------------------------------------------------------------
// Drawing

void COrvaneView::OnInitialUpdate() {
    COpenGLView::OnInitialUpdate();
    // A further window on a loaded project (Window > New Window) scrolls over
    // the whole scene, as the first one does after loading.
    if (COrvaneDoc* doc = GetDocument(); doc && doc->GetSceneSize().cx > 0)
        SetScrollSizes(ScaledSceneSize());
    if (CStatusBar* bar = CWinApp::MainStatusBar()) m_pStatusBar = bar;
    // A further window on a loaded project opens on the middle of the points
    // with the pair fused there, as the first window did after loading.
    ShowProjectCentre();
    COrvaneDoc* doc = GetDocument();
    if (doc && doc->m_bViewStatePending) {
        // A project reopened from its project file: the offsets and the
        // stereo mode as the operator left them (the other view options
        // start from their defaults, as in every new view).
        doc->m_bViewStatePending = false;
        const ProjectFileData& state = doc->m_projectFile;
        m_strLeftImage = state.paths.leftImage;
        m_strRightImage = state.paths.rightImage;
        m_strLeftOrientation = state.paths.leftOrientation;
        m_strRightOrientation = state.paths.rightOrientation;
        m_strMatchedPoints = state.paths.matchedPoints;
        m_nXOffset = state.xOffset;
        m_nYOffset = state.yOffset;
        m_bOffsetChanged = true;
        if (StereoPresentation mode; PresentationFromName(state.stereoMode, mode))
            SetPresentation(mode);
        Invalidate();
    }
    if (doc && !doc->m_strPointsToPick.empty()) {
        // A points file opened without a project file: the picker asks for
        // the rest once the window is up.
        const std::string points = doc->m_strPointsToPick;
        doc->m_strPointsToPick.clear();
        QTimer::singleShot(0, this, [this, points] { OnEditingOrvane(points); });
    }
}

const char* COrvaneView::PresentationName(StereoPresentation mode) {
    switch (mode) {
        case StereoPresentation::Stereo:
            return "quad-buffered";
        case StereoPresentation::Anaglyph:
            return "anaglyph";
        case StereoPresentation::SideBySide:
            return "side-by-side";
        case StereoPresentation::LeftOnly:
            return "left-eye";
        case StereoPresentation::RightOnly:
            return "right-eye";
    }
    return "anaglyph";
}

bool COrvaneView::PresentationFromName(const std::string& name, StereoPresentation& mode) {
    for (StereoPresentation m :
         {StereoPresentation::Stereo, StereoPresentation::Anaglyph, StereoPresentation::SideBySide,
          StereoPresentation::LeftOnly, StereoPresentation::RightOnly}) {
        if (name == PresentationName(m)) {
            mode = m;
            return true;
        }
    }
    return false;
}

void COrvaneView::ShowProjectCentre() {
    COrvaneDoc* doc = GetDocument();
    if (!doc || !doc->IsProjectLoaded()) return;
    CAerialPhoto& left = doc->m_leftPhoto;
    const CTINPoints& g = doc->m_points;
    const double z = MedianHeight(g);
    if (!std::isfinite(z)) return;
    // The scroll bars that a new scroll area brings (shown by a queued call)
    // take their room first, so that the centre is the centre of the client
    // area they leave.
    QCoreApplication::sendPostedEvents(this, 0);
    // The middle of the points' extent to the centre of the view...
    double column = 0.0, row = 0.0;
    if (left.GroundToImage((g.m_dMinX + g.m_dMaxX) / 2.0, (g.m_dMinY + g.m_dMaxY) / 2.0, z, column,
                           row) < 0)
        return;
    left.ScannedToSubImage(column, row, column, row);
    CentreOn(column, row);
    // ...and the pair fused at the ground point under the centre (the scroll
    // range may have kept the view from centring exactly), at the points'
    // median height, with the floating mark on that height.
    const CStereoFrame frame = GetStereoFrame();
    const StereoPoint centre = frame.ClientToSubImage(
        CStereoFrame::kLeft, {frame.m_nClientWidth / 2.0, frame.m_nClientHeight / 2.0});
    int xOffset = m_nXOffset, yOffset = m_nYOffset;
    if (FusingOffsets(left, doc->m_rightPhoto, centre.x, centre.y, z, xOffset, yOffset) > 0) {
        m_nXOffset = xOffset;
        m_nYOffset = yOffset;
        m_dParallax = 0.0;
        m_nParallax = m_nSetParallax = 0;
        m_bOffsetChanged = true;
    }
    Invalidate();
}

bool COrvaneView::CentreOn(double column, double row) {
    // The scroll position is the top-left corner, half the client area before the position.
    int x = 0, y = 0;
    if (!GetStereoFrame().ScrollToCentre(CStereoFrame::kLeft, {column, row}, x, y)) return false;
    ScrollToPosition(CPoint(x, y));
    return true;
}

bool COrvaneView::CentreAndFuse(double column, double row, double Z) {
    COrvaneDoc* doc = GetDocument();
    if (!doc || !doc->IsProjectLoaded()) return false;
    if (!CentreOn(column, row)) return false;
    // The right image shifted so that its picture of the ground point at
    // (column, row) and height Z lies on the left one's: zero parallax there.
    int xOffset = m_nXOffset, yOffset = m_nYOffset;
    if (std::isfinite(Z) &&
        FusingOffsets(doc->m_leftPhoto, doc->m_rightPhoto, column, row, Z, xOffset, yOffset) > 0 &&
        (xOffset != m_nXOffset || yOffset != m_nYOffset)) {
        m_nXOffset = xOffset;
        m_nYOffset = yOffset;
        m_bOffsetChanged = true;
    }
    return true;
}

double COrvaneView::HeightNear(double column, double row) const {
    const COrvaneDoc* doc = GetDocument();
    if (!doc || !doc->IsProjectLoaded()) return std::nan("");
    const int index = doc->m_leftPhoto.FindImagePoint(static_cast<int>(std::lround(column)),
                                                      static_cast<int>(std::lround(row)), 40.0);
    if (const TINPoint* p = index >= 0 ? doc->m_points.GetPoint(index) : nullptr; p && p->id >= 0)
        return p->z;
    return MedianHeight(doc->m_points);
}

// ---------------------------------------------------------------------------
// Zoom

CSize COrvaneView::ScaledSceneSize() const {
    const COrvaneDoc* doc = GetDocument();
    if (!doc) return CSize();
    const CSize scene = doc->GetSceneSize();
    int cx = 0, cy = 0;
    Platform::TruncClamped(scene.cx * m_dScale, cx);
    Platform::TruncClamped(scene.cy * m_dScale, cy);
    return CSize(cx, cy);
}

double COrvaneView::FitZoom() const {
    const COrvaneDoc* doc = GetDocument();
    if (!doc || !doc->IsProjectLoaded()) return 1.0;
    const ImageSize size = doc->m_leftPhoto.m_image.GetSize();
    const CRect client = GetClientRect();
    if (size.cx < 1 || size.cy < 1 || client.Width() < 1 || client.Height() < 1) return 1.0;
    return std::min(static_cast<double>(client.Width()) / size.cx,
                    static_cast<double>(client.Height()) / size.cy);
}

double COrvaneView::MinZoom() const {
    return std::min(FitZoom(), kMinStepZoom);
}

void COrvaneView::SyncParallaxFromScreen() {
    if (m_nParallax == m_nSetParallax) return;
    // Set as a screen offset by someone else: that is what shows.
    m_dParallax = m_nParallax / m_dScale;
    m_nSetParallax = m_nParallax;
}

bool COrvaneView::SetZoom(double scale, CPoint anchor) {
    const COrvaneDoc* doc = GetDocument();
    if (!doc || !doc->IsProjectLoaded() || !std::isfinite(scale)) return false;
    scale = std::clamp(scale, MinZoom(), kMaxZoom);
    SyncParallaxFromScreen();
    // The scene position under the anchor and the mark's left sub-image
    // position, before the scale changes.
    const CStereoFrame before = GetStereoFrame();
    const double sceneX = (before.m_nScrollX + anchor.x) / m_dScale;
    const double sceneY = (before.m_nScrollY + anchor.y) / m_dScale;
    const StereoPoint mark = before.MarkSubImage(CStereoFrame::kLeft);
    m_dScale = scale;
    SetScrollSizes(ScaledSceneSize());
    int x = 0, y = 0;
    Platform::TruncClamped(std::round(sceneX * scale - anchor.x), x);
    Platform::TruncClamped(std::round(sceneY * scale - anchor.y), y);
    ScrollToPosition(CPoint(x, y));
    // The crosses stay on the image positions they marked.
    m_nParallax = m_nSetParallax = static_cast<int>(std::lround(m_dParallax * scale));
    m_ptMark = ToPixel(GetStereoFrame().SubImageToGL(CStereoFrame::kLeft, mark));
    RedrawNow();
    return true;
}

void COrvaneView::ZoomIn() {
    const CRect client = GetClientRect();
    SetZoom(m_dScale * m_dZoomFactor, CPoint(client.Width() / 2, client.Height() / 2));
}

void COrvaneView::ZoomOut() {
    const CRect client = GetClientRect();
    SetZoom(m_dScale / m_dZoomFactor, CPoint(client.Width() / 2, client.Height() / 2));
}

void COrvaneView::OnZoomToFit() {
    if (!SetZoom(FitZoom(), CPoint())) return;
    ScrollToPosition(CPoint());
    Invalidate();
}

void COrvaneView::OnActualPixels() {
    const CRect client = GetClientRect();
    SetZoom(1.0, CPoint(client.Width() / 2, client.Height() / 2));
}

void COrvaneView::ZoomByNotches(int notches, CPoint anchor) {
    if (notches == 0) return;
    // Steps of 2^(1/4): e counts them. A scale between steps (a fit) goes to
    // the next step in the direction of the wheel.
    const double e = 4.0 * std::log2(m_dScale);
    const double nearest = std::round(e);
    double target = 0.0;
    if (std::fabs(e - nearest) < 1e-9)
        target = nearest + notches;
    else
        target = notches > 0 ? std::ceil(e) + (notches - 1) : std::floor(e) + (notches + 1);
    SetZoom(std::exp2(target / 4.0), anchor);
}

int COrvaneView::MarkGroundPosition(double& X, double& Y, double& Z) const {
    const COrvaneDoc* doc = GetDocument();
    if (!doc || !doc->IsProjectLoaded()) return -1;
    const CAerialPhoto& left = doc->m_leftPhoto;
    const CAerialPhoto& right = doc->m_rightPhoto;
    // The sub-image position under each cross: the right one, parallax
    // pixels to the right of the left one, shows the right image shifted by the offsets.
    const CStereoFrame frame = GetStereoFrame();
    const StereoPoint l = frame.MarkSubImage(CStereoFrame::kLeft);
    const StereoPoint r = frame.MarkSubImage(CStereoFrame::kRight);
    double slc = 0.0, slr = 0.0, src = 0.0, srr = 0.0;  // scanned-image pixels
    left.SubImageToScanned(l.x, l.y, slc, slr);
    right.SubImageToScanned(r.x, r.y, src, srr);
    // The right image is only shifted, never rotated, to fuse with the left:
    // away from where it was fused the two crosses keep a y-parallax of up to
    // about ten pixels on the demo pair (rotation differences of the frames),
    // although they show one ground point. Allow that; marks on different
    // ground points miss by more.
    constexpr double kMaxMarkMissPixels = 6.0;
    return IntersectRays(left, slc, slr, right, src, srr, X, Y, Z, kMaxMarkMissPixels);
}

void COrvaneView::UpdateStatusPanes() {
    if (!m_pStatusBar || m_pStatusBar->GetPaneCount() <= kPaneMark) return;
    // Only the active view of its own main window speaks for the status bar.
    if (auto* frame = qobject_cast<CMDIFrame*>(window()); frame && frame->GetActiveView() != this)
        return;
    const COrvaneDoc* doc = GetDocument();
    const size_t selected = doc ? doc->m_leftPhoto.m_selection.size() : 0;
    m_pStatusBar->SetPaneText(kPaneSelected, QStringLiteral("%1 selected").arg(selected), false);
    m_pStatusBar->SetPaneText(kPaneZStep, QStringLiteral("Z step %1").arg(m_dZIncrement, 0, 'g', 6),
                              false);
    m_pStatusBar->SetPaneText(kPaneParallax, QStringLiteral("Parallax %1").arg(m_nParallax), false);
    double X = 0.0, Y = 0.0, Z = 0.0;
    QString mark;
    if (MarkGroundPosition(X, Y, Z) > 0)
        mark =
            QStringLiteral("X %1 Y %2 Z %3").arg(X, 0, 'f', 2).arg(Y, 0, 'f', 2).arg(Z, 0, 'f', 2);
    if (!m_strMarkNote.isEmpty()) mark = m_strMarkNote;
    m_pStatusBar->SetPaneText(kPaneMark, mark, false);
    if (m_pStatusBar->GetPaneCount() > kPaneZoom)
        m_pStatusBar->SetPaneText(
            kPaneZoom, QStringLiteral("Zoom %1 %").arg(std::lround(m_dScale * 100.0)), false);
}

void COrvaneView::OnDraw(QPainter* /*pDC*/) {
    COrvaneDoc* doc = GetDocument();
    if (m_bMarkHeightPending) {
        m_bMarkHeightPending = false;
        UpdateMarkHeight();
    }
    CStereoFrame frame = GetStereoFrame();

    if (!MakeCurrent()) {
        ShowPlain("OnDraw(3D): wglMakeCurrent() failed.");
        return;
    }
    SelectBuffer(GL_BACK);
    ClearBuffers();
    // Zoomed far out, or with very many points in view, a fixed subsample of
    // the points at a stride that depends on the zoom alone (1:1 draws them all).
    size_t stride = 0;
    if (doc && doc->m_leftPhoto.m_pImagePoints) {
        const ImageSize size = doc->m_leftPhoto.m_image.GetSize();
        const StereoRect v = frame.VisibleSubImage(CStereoFrame::kLeft);
        const double w = std::clamp(v.right + 1, 0, size.cx) - std::clamp(v.left, 0, size.cx);
        const double h = std::clamp(v.bottom + 1, 0, size.cy) - std::clamp(v.top, 0, size.cy);
        // The points' extent in the photograph (their index's bounds).
        double area = double(size.cx) * size.cy;
        if (const CGridIndex* index = doc->m_leftPhoto.m_pImagePoints->GetIndex())
            area = std::clamp((index->m_dMaxX - index->m_dMinX) * (index->m_dMaxY - index->m_dMinY),
                              1.0, area);
        stride = ThinningStride(frame.m_dScale, doc->m_leftPhoto.m_pImagePoints->GetCount(), area,
                                w * h, m_nPointSize);
    }
    m_pointPasses.SetThinning(stride, doc ? doc->EditGeneration() : 0);
    if (doc) {
        const CAerialPhoto* photos[2] = {&doc->m_leftPhoto, &doc->m_rightPhoto};
        // Over a texture the points are GL points: the picture is the GL's own.
        m_pointPasses.BeginFrame(*this, frame, photos, {m_rgbPoints, m_rgbSelected, m_nPointSize},
                                 m_bPointBitmaps && !UsesTextures(frame));
    }
    const bool rebuild = m_bRebuildLists;
    m_bRebuildLists = false;

    if (doc && doc->m_rightPhoto.m_image.GetBands()) {
        CAerialPhoto& right = doc->m_rightPhoto;
        SelectBuffer(GL_BACK_RIGHT);
        ComputeEyeWindow(right, frame, CStereoFrame::kRight);
        GatherSurfaceLines(frame, CStereoFrame::kRight);
        DrawPhotoList(right, frame, 2, rebuild || m_bRefreshGreyMap || m_bOffsetChanged);
        m_bRefreshGreyMap = false;
        m_bOffsetChanged = false;
        // The surface's lines and the points (the lines without points too).
        glColor3ub(m_rgbPoints.r, m_rgbPoints.g, m_rgbPoints.b);
        DrawImagePoints(right);
        DrawSuspectRing(right);
    }
    glColor3f(1.0f, 1.0f, 1.0f);
    DrawMark(m_ptMark.x + m_nParallax, m_ptMark.y);

    if (doc && doc->m_leftPhoto.m_image.GetBands()) {
        CAerialPhoto& left = doc->m_leftPhoto;
        SelectBuffer(GL_BACK_LEFT);
        ComputeEyeWindow(left, frame, CStereoFrame::kLeft);
        GatherSurfaceLines(frame, CStereoFrame::kLeft);
        DrawPhotoList(left, frame, 1, rebuild);
        // The surface's lines and the points (the lines without points too).
        glColor3ub(m_rgbPoints.r, m_rgbPoints.g, m_rgbPoints.b);
        DrawImagePoints(left);
        DrawSuspectRing(left);
    }
    glColor3f(1.0f, 1.0f, 1.0f);
    DrawMark(m_ptMark.x, m_ptMark.y);

    Finish();
    SwapBuffers();
    ReleaseCurrent();
    UpdateStatusPanes();
}

bool COrvaneView::UsesTextures(const CStereoFrame& frame) {
    if (m_bSharpPixels || frame.m_dScale <= 1.0) return false;
    // Textures of any size need OpenGL 2.0 (or its extension before).
    static const bool anySize = [] {
        const char* version = reinterpret_cast<const char*>(glGetString(GL_VERSION));
        const char* extensions = reinterpret_cast<const char*>(glGetString(GL_EXTENSIONS));
        return (version && version[0] >= '2' && version[0] <= '9') ||
               (extensions && std::strstr(extensions, "GL_ARB_texture_non_power_of_two"));
    }();
    return anySize;
}

void COrvaneView::DrawTexturedPhoto(CAerialPhoto& photo, const CStereoFrame& frame, int eye) {
    // The lists hold neither picture now.
    m_listWindows[eye][0].valid = m_listWindows[eye][1].valid = false;
    m_zoomKeys[eye].valid = false;
    const CErdasImage& image = photo.m_image;
    unsigned char** bands = image.GetBands();
    const ImageSize size = image.GetSize();
    const StereoRect visible = frame.VisibleSubImage(eye);
    if (!bands || visible.left < 0 || visible.top < 0 || visible.right < visible.left ||
        visible.bottom < visible.top)
        return;
    // One pixel more on each side, so that the smoothing at the view's edges
    // takes the photograph's own neighbours.
    TextureKey key{true,
                   bands[0],
                   std::max(0, visible.left - 1),
                   std::max(0, visible.top - 1),
                   std::min(size.cx - 1, visible.right + 1),
                   std::min(size.cy - 1, visible.bottom + 1),
                   photo.m_greyMap};
    const int width = key.lastCol - key.firstCol + 1, height = key.lastRow - key.firstRow + 1;
    if (!m_textures[eye]) glGenTextures(1, &m_textures[eye]);
    glBindTexture(GL_TEXTURE_2D, m_textures[eye]);
    if (!(key == m_textureKeys[eye])) {
        // Grey values as displayed (the photograph's stretch and grey map), rows top first.
        const int bytesPerSample = image.GetBytesPerSample();
        const int64_t rowBytes = int64_t{size.cx} * bytesPerSample;
        std::array<unsigned char, 256> shown{};
        for (int g = 0; g < 256; ++g)
            shown[static_cast<size_t>(g)] = static_cast<unsigned char>(std::lround(
                std::clamp(photo.m_greyMap[static_cast<size_t>(g)], 0.0f, 1.0f) * 255.0f));
        m_textureTexels.resize(static_cast<size_t>(width) * static_cast<size_t>(height));
        if (bytesPerSample != 1) {
            SampleRange& range = m_sampleRanges[eye];
            if (range.band != bands[0]) {
                range.band = bands[0];
                SampleValueRange(image.GetHeader().packing, bands[0], int64_t{size.cx} * size.cy,
                                 &range.lo, &range.hi);
            }
        }
        for (int r = 0; r < height; ++r) {
            const unsigned char* src =
                bands[0] + (key.firstRow + r) * rowBytes + int64_t{key.firstCol} * bytesPerSample;
            unsigned char* dst = m_textureTexels.data() + static_cast<size_t>(r) * width;
            if (bytesPerSample != 1)
                StretchSamplesToGrey(image.GetHeader().packing, src, width, m_sampleRanges[eye].lo,
                                     m_sampleRanges[eye].hi, dst);
            else
                std::memcpy(dst, src, static_cast<size_t>(width));
            for (int c = 0; c < width; ++c) dst[c] = shown[dst[c]];
        }
        glPushClientAttrib(GL_CLIENT_PIXEL_STORE_BIT);
        glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
        glPixelStorei(GL_UNPACK_ROW_LENGTH, 0);
        glPixelStorei(GL_UNPACK_SKIP_ROWS, 0);
        glPixelStorei(GL_UNPACK_SKIP_PIXELS, 0);
        glPushAttrib(GL_PIXEL_MODE_BIT);
        glPixelTransferi(GL_MAP_COLOR, GL_FALSE);
        glTexImage2D(GL_TEXTURE_2D, 0, GL_LUMINANCE8, width, height, 0, GL_LUMINANCE,
                     GL_UNSIGNED_BYTE, m_textureTexels.data());
        glPopAttrib();
        glPopClientAttrib();
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
        m_textureKeys[eye] = key;
    }
    // The texture's edges on the pixels' outer edges: texel centres fall on
    // the image pixels' centres, as the square pixels' do.
    const StereoPoint a = frame.SubImageToGL(eye, {double(key.firstCol), double(key.firstRow)});
    const StereoPoint b =
        frame.SubImageToGL(eye, {double(key.lastCol) + 1.0, double(key.lastRow) + 1.0});
    glPushAttrib(GL_ENABLE_BIT | GL_TEXTURE_BIT | GL_CURRENT_BIT);
    glEnable(GL_TEXTURE_2D);
    glTexEnvi(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, GL_REPLACE);
    glBegin(GL_QUADS);
    glTexCoord2f(0.0f, 0.0f);
    glVertex2d(a.x, a.y);
    glTexCoord2f(1.0f, 0.0f);
    glVertex2d(b.x, a.y);
    glTexCoord2f(1.0f, 1.0f);
    glVertex2d(b.x, b.y);
    glTexCoord2f(0.0f, 1.0f);
    glVertex2d(a.x, b.y);
    glEnd();
    glPopAttrib();
    glBindTexture(GL_TEXTURE_2D, 0);
}

void COrvaneView::DrawZoomedPhoto(CAerialPhoto& photo, const CStereoFrame& frame, int eye,
                                  GLuint list, bool rebuild) {
    if (UsesTextures(frame)) {
        if (rebuild)
            m_textureKeys[eye].valid = false;  // the band may be a new one at the same place
        m_pointPasses.Gather(photo, frame, eye);
        DrawTexturedPhoto(photo, frame, eye);
        return;
    }
    m_pointPasses.Gather(photo, frame, eye);
    // Many points are painted into the picture, as at 1:1.
    const bool withPoints = m_pointPasses.IntoImage(eye);
    // The list no longer holds the 1:1 window.
    m_listWindows[eye][0].valid = false;
    const CErdasImage& image = photo.m_image;
    unsigned char** bands = image.GetBands();
    const ImageSize size = image.GetSize();
    ZoomKey key{true,
                frame.m_dScale,
                frame.m_nScrollX,
                frame.m_nScrollY,
                frame.m_nClientWidth,
                frame.m_nClientHeight,
                eye == CStereoFrame::kRight ? frame.m_nXOffset : 0,
                eye == CStereoFrame::kRight ? frame.m_nYOffset : 0,
                frame.m_nSceneHeight,
                bands ? bands[0] : nullptr,
                -1,
                withPoints};
    // Zoomed out to 1:2 and below, the reduced level of the photograph that
    // has a pixel for every screen pixel, once built; until then (and above
    // 1:2) every 2^k-th pixel of the photograph, a subsample, which costs no
    // more than the screen's pixels; zoomed in, its pixels as squares.
    ZoomSource source{key.band, size.cx, size.cy, 0, image.GetBytesPerSample()};
    if (const int want = ZoomLevelFor(frame.m_dScale); want >= 1) {
        const CImagePyramid* levels = GetDocument()->ZoomLevels(eye);
        const PyramidLevel* best = nullptr;
        for (int k = 0; levels && k < levels->GetLevelCount(); ++k)
            if (const PyramidLevel* l = levels->GetLevel(k); l->shift <= want) {
                if (!best || l->shift > best->shift) best = l;
            }
        if (best && !best->pixels.empty()) {
            source = {best->pixels.data(), best->width, best->height, best->shift, 1};
            key.band = best->pixels.data();
            key.level = best->shift;
        }
    }
    if (!rebuild && key == m_zoomKeys[eye] && !(withPoints && m_pointPasses.PictureStale(eye))) {
        glCallList(list);
        return;
    }
    ZoomedPicture picture;
    SampleZoomedPicture(frame, eye, size.cx, size.cy, source, picture);
    const unsigned char* grey = picture.grey.data();
    const int64_t count = int64_t{picture.width} * picture.height;
    if (count > 0 && source.bytesPerSample != 1) {
        // Wider samples through the stretch the 1:1 window gets.
        SampleRange& range = m_sampleRanges[eye];
        if (range.band != key.band) {
            range.band = key.band;
            SampleValueRange(image.GetHeader().packing, key.band, int64_t{size.cx} * size.cy,
                             &range.lo, &range.hi);
        }
        m_zoomGrey.resize(static_cast<size_t>(count));
        StretchSamplesToGrey(image.GetHeader().packing, picture.grey.data(), count, range.lo,
                             range.hi, m_zoomGrey.data());
        grey = m_zoomGrey.data();
    }
    glDeleteLists(list, 1);
    glNewList(list, GL_COMPILE_AND_EXECUTE);
    m_greyMap = photo.m_greyMap;
    const bool painted = withPoints && m_pointPasses.DrawPictureWithPoints(
                                           count > 0 ? grey : nullptr, picture.x0, picture.y0,
                                           picture.width, picture.height, eye);
    if (!painted && count > 0)
        DrawIndexedPixels(picture.x0, picture.y0, picture.width, picture.height, grey);
    glEndList();
    m_zoomKeys[eye] = key;
    ++m_nListBuilds[list];
}

void COrvaneView::DrawPhotoList(CAerialPhoto& photo, const CStereoFrame& frame, GLuint list,
                                bool rebuild) {
    const int eye = list == 1 ? 0 : 1;
    if (frame.m_dScale != 1.0) {
        DrawZoomedPhoto(photo, frame, eye, list, rebuild);
        return;
    }
    m_zoomKeys[eye].valid = false;  // the lists hold 1:1 windows again
    ListWindow* lists = m_listWindows[eye];
    if (rebuild) lists[0].valid = lists[1].valid = false;
    // The points of this frame decide which of the eye's two lists is drawn.
    m_pointPasses.Gather(photo, frame, eye);
    const int which = m_pointPasses.IntoImage(eye) ? 1 : 0;
    const GLuint id = list + 2 * static_cast<GLuint>(which);
    // A list holds pixels drawn at a raster position: when only the raster
    // position moved (an image smaller than the view, scrolled), the window
    // bounds stay the same but the list is stale all the same.
    const ListWindow now{true,
                         photo.m_nFirstCol,
                         photo.m_nLastCol,
                         photo.m_nFirstRow,
                         photo.m_nLastRow,
                         photo.m_nRasterX,
                         photo.m_nRasterY};
    if (lists[which] == now && !(which == 1 && m_pointPasses.PictureStale(eye))) {
        glCallList(id);
        return;
    }
    glDeleteLists(id, 1);
    glNewList(id, GL_COMPILE_AND_EXECUTE);
    const bool painted = which == 1 && m_pointPasses.DrawImageWithPoints(*this, photo, eye);
    if (!painted) DrawImageWindow(photo);
    glEndList();
    lists[which] = now;
    lists[which].valid = which == 0 || painted;
    ++m_nListBuilds[list];
}

int COrvaneView::DrawImageWindow(CAerialPhoto& photo) {
    if (!photo.GetDisplayBuffer()) return -1;
    // Any sample type is drawn as 8-bit grey (8-bit images byte for byte).
    const unsigned char* grey = photo.m_image.GetDisplayWindow();
    if (!grey) return -1;
    const int width = photo.m_nLastCol - photo.m_nFirstCol + 1;
    const int height = photo.m_nLastRow - photo.m_nFirstRow + 1;
    // The photograph's own min-max stretch, computed from its whole band when
    // the project loaded (DrawIndexedPixels loads the map with the pixels).
    m_greyMap = photo.m_greyMap;
    DrawIndexedPixels(photo.m_nRasterX, photo.m_nRasterY, width, height, grey);
    return 1;
}

void COrvaneView::ComputeGreyMap(const unsigned char* pixels, int rows, int columns) {
    const int64_t count = static_cast<int64_t>(rows) * columns;
    if (!pixels || count < 1 || count > 0x7fffffff) return;
    unsigned char range[2] = {0, 255};
    if (ByteColumnMinMax(pixels, static_cast<int>(count), 1, range) < 0) return;
    FillGreyStretch(m_greyMap.data(), range[0], range[1]);
}

void COrvaneView::DrawImagePoints(CAerialPhoto& photo) {
    // The points gathered with the photograph's window this frame: as GL
    // points, unless its display list drew them with the image.
    m_pointPasses.DrawPoints(&photo == &GetDocument()->m_leftPhoto ? 0 : 1);
}

void COrvaneView::DrawMark(int x, int y) {
    // Lines through pixel centres, so each arm lights the row or column of
    // (x, y) itself rather than whichever neighbour the rasteriser picks.
    const float cx = x + 0.5f, cy = y + 0.5f;
    glBegin(GL_LINES);
    glVertex2f(cx - 3.0f, cy);
    glVertex2f(cx + 3.0f, cy);
    glVertex2f(cx, cy + 3.0f);
    glVertex2f(cx, cy - 3.0f);
    glEnd();
}

void COrvaneView::DrawSuspectRing(CAerialPhoto& photo) {
    const COrvaneDoc* doc = GetDocument();
    const int current = doc ? doc->m_checks.Current() : -1;
    if (current < 0 || !photo.m_pImagePoints) return;
    const TINPoint* p = photo.m_pImagePoints->GetPoint(current);
    if (!p || p->id < 0 || !std::isfinite(p->x) || !std::isfinite(p->y)) return;
    // At the centre of the GL window pixel that holds the point, as the points are drawn.
    const int eye = &photo == &doc->m_leftPhoto ? CStereoFrame::kLeft : CStereoFrame::kRight;
    const StereoPoint at = GetStereoFrame().SubImageToGL(eye, {p->x, p->y});
    const double x = std::floor(at.x) + 0.5, y = std::floor(at.y) + 0.5;
    const double radius = m_nPointSize + 7.0;
    glColor3ub(m_rgbSuspect.r, m_rgbSuspect.g, m_rgbSuspect.b);
    glBegin(GL_LINE_LOOP);
    for (int k = 0; k < 32; ++k) {
        const double a = k * (2.0 * 3.141592653589793 / 32.0);
        glVertex2d(x + radius * std::cos(a), y + radius * std::sin(a));
    }
    glEnd();
}

int COrvaneView::DrawSelectPoly(CAerialPhoto& photo, GLenum buffer) {
    const size_t n = photo.m_polygon.size();
    if (n < 2) return -1;
    if (!MakeCurrent()) {
        ShowPlain("DrawSelectPoly: wglMakeCurrent() failed.");
        return -1;
    }
    SelectBuffer(buffer);
    const int eye =
        &photo == &GetDocument()->m_leftPhoto ? CStereoFrame::kLeft : CStereoFrame::kRight;
    const CStereoFrame frame = GetStereoFrame();
    const StereoPoint a =
        frame.SubImageToGL(eye, {photo.m_polygon[n - 2].x, photo.m_polygon[n - 2].y});
    const StereoPoint b =
        frame.SubImageToGL(eye, {photo.m_polygon[n - 1].x, photo.m_polygon[n - 1].y});
    glColor3f(1.0f, 1.0f, 0.0f);
    glBegin(GL_LINES);
    glVertex2d(std::floor(a.x) + 0.5, std::floor(a.y) + 0.5);
    glVertex2d(std::floor(b.x) + 0.5, std::floor(b.y) + 0.5);
    glEnd();
    Finish();
    ReleaseCurrent();
    return 1;
}

// ---------------------------------------------------------------------------
// Mouse, wheel and keys

int COrvaneView::PickPoint(CPoint client) const {
    const COrvaneDoc* doc = GetDocument();
    if (!doc || !doc->m_leftPhoto.m_pImagePoints) return -1;
    // The tolerance in screen pixels: tolerance / zoom sub-image pixels.
    return PickLeftPoint(GetStereoFrame(), *doc->m_leftPhoto.m_pImagePoints,
                         {1.0 * client.x, 1.0 * client.y}, m_dPickTolerance);
}

void COrvaneView::OnMouseMove(unsigned int nFlags, CPoint point) {
    if (m_bPanning) {
        if (nFlags & MK_MBUTTON) {
            // The image follows the pointer.
            const CPoint scroll = GetScrollPosition();
            ScrollToPosition(
                CPoint(scroll.x - (point.x - m_ptPanFrom.x), scroll.y - (point.y - m_ptPanFrom.y)));
            m_ptPanFrom = point;
            return;
        }
        m_bPanning = false;  // the release went elsewhere
    }
    if (m_rubberBand.m_bActive && nFlags == MK_LBUTTON) {
        m_rubberBand.Track(point, true);
        CRect r = m_rubberBand.GetRect();
        ShowRect(r.left, r.top, r.right, r.bottom);
        return;
    }
    // The mark follows the mouse on every move: where points lie closer
    // together than the pick tolerance (a few pixels on dense projects) a
    // mark that waited for the mouse to leave every point would never move.
    SetCursorVisible(false);
    const CStereoFrame frame = GetStereoFrame();
    m_ptMark = ToPixel(frame.ClientToGL({1.0 * point.x, 1.0 * point.y}));
    if (m_dScale == 1.0) {
        COpenGLView::OnMouseMove(nFlags, point);
    } else {
        // The read-out is in left sub-image pixels at every zoom.
        if (m_pStatusBar) {
            const CPoint at = ToPixel(
                frame.ClientToSubImage(CStereoFrame::kLeft, {1.0 * point.x, 1.0 * point.y}));
            ShowValues({at.x, at.y});
        }
        CScrollView::OnMouseMove(nFlags, point);
    }
    // Near a point the read-out names it (X, Y, Z, weight) instead of the
    // logical position.
    if (const int index = PickPoint(point); index >= 0) {
        if (const TINPoint* p = GetDocument()->m_points.GetPoint(index))
            ShowValues({p->x, p->y, p->z, p->weight});
    }
    // The mark's height under the new position: once, in the next frame,
    // however many moves arrive before it.
    if (m_markHeightMode != MarkHeightMode::Off) m_bMarkHeightPending = true;
    Invalidate();
}

void COrvaneView::OnLButtonDown(unsigned int nFlags, CPoint point) {
    if (m_nMode == 2) {
        COrvaneDoc* doc = GetDocument();
        CAerialPhoto& left = doc->m_leftPhoto;
        const CStereoFrame frame = GetStereoFrame();
        if (m_dScale == 1.0) {
            const CPoint at = ToPixel(
                frame.ClientToSubImage(CStereoFrame::kLeft, {1.0 * point.x, 1.0 * point.y}));
            left.AddPolygonVertex(at.x, at.y, m_dPickTolerance);
        } else if (left.m_pImagePoints) {
            // The point picked as the mouse picks it at this zoom.
            const int index = PickLeftPoint(frame, *left.m_pImagePoints,
                                            {1.0 * point.x, 1.0 * point.y}, m_dPickTolerance);
            if (const TINPoint* p = index >= 0 ? left.m_pImagePoints->GetPoint(index) : nullptr)
                left.m_polygon.push_back(*p);
        }
        DrawSelectPoly(left, GL_FRONT_LEFT);
        return;
    }
    m_rubberBand.Track(point, true);
    COpenGLView::OnLButtonDown(nFlags, point);
}

void COrvaneView::OnLButtonUp(unsigned int nFlags, CPoint point) {
    if (m_rubberBand.m_bActive) {
        m_rubberBand.DrawBand();
        m_rubberBand.m_bActive = false;
        COrvaneDoc* doc = GetDocument();
        if (doc->m_points.GetCount() == 0) return;
        const bool hadSelection = !doc->m_leftPhoto.m_selection.empty();
        doc->ReleaseSelection();
        CRect r = m_rubberBand.GetRect();
        // A band without area (a click, or a line) selects nothing; a band
        // dragged up or to the left of its anchor selects like any other.
        r.NormalizeRect();
        if (r.IsRectEmpty()) {
            if (hadSelection) Invalidate();
            return;
        }
        // Shown in logical coordinates, selected in left sub-image pixels.
        const CStereoFrame frame = GetStereoFrame();
        const StereoPoint from{1.0 * r.left, 1.0 * r.top}, to{1.0 * r.right, 1.0 * r.bottom};
        const CPoint a = ToPixel(frame.ClientToLogical(from)),
                     b = ToPixel(frame.ClientToLogical(to));
        const CPoint c = ToPixel(frame.ClientToSubImage(CStereoFrame::kLeft, from));
        const CPoint d = ToPixel(frame.ClientToSubImage(CStereoFrame::kLeft, to));
        // Left sub-image pixels at every zoom (the logical position at 1:1).
        if (m_dScale == 1.0)
            ShowRect(a.x, a.y, b.x, b.y);
        else
            ShowRect(c.x, c.y, d.x, d.y);
        SelectInRect(c.x, c.y, d.x, d.y);
        Invalidate();
    }
    COpenGLView::OnLButtonUp(nFlags, point);
}

void COrvaneView::OnRButtonDown(unsigned int nFlags, CPoint point) {
    if (m_nMode == 2) {
        m_nMode = 0;
        COrvaneDoc* doc = GetDocument();
        CAerialPhoto& left = doc->m_leftPhoto;
        const size_t vertices = left.m_polygon.size();
        if (vertices < 3) {
            left.m_polygon.clear();
            doc->m_rightPhoto.m_polygon.clear();
            if (vertices == 2) Invalidate();
            return;
        }
        left.ClosePolygon();
        DrawSelectPoly(left, GL_FRONT_LEFT);
        doc->ReleaseSelection();
        left.SelectInsidePolygon(left.m_polygon);
        left.CopySelectionTo(doc->m_rightPhoto.m_selection);
        Invalidate();
    }
    COpenGLView::OnRButtonDown(nFlags, point);
}

void COrvaneView::OnMButtonDown(unsigned int nFlags, CPoint point) {
    // Panning only while no rubber band is being dragged.
    if (!m_rubberBand.m_bActive) {
        m_bPanning = true;
        m_ptPanFrom = point;
    }
    COpenGLView::OnMButtonDown(nFlags, point);
}

void COrvaneView::OnMButtonUp(unsigned int nFlags, CPoint point) {
    m_bPanning = false;
    COpenGLView::OnMButtonUp(nFlags, point);
}

bool COrvaneView::OnMouseWheel(unsigned int nFlags, short zDelta, CPoint point) {
    COrvaneDoc* doc = GetDocument();
    if (nFlags & MK_CONTROL) {
        // Zoom about the pointer; never a parallax or a height.
        if (zDelta != 0) ZoomByNotches(zDelta > 0 ? 1 : -1, point);
        return true;
    }
    if (doc->m_leftPhoto.m_selection.empty()) {
        // One screen pixel per notch above 1:1, one sub-image pixel otherwise.
        SyncParallaxFromScreen();
        const double step = m_dScale > 1.0 ? 1.0 / m_dScale : 1.0;
        const double before = m_dParallax;
        m_dParallax += zDelta <= 0 ? step : -step;
        // The screen offset moves by what the rounding of the new parallax
        // moves, so a mark set on pixels (a suspect) keeps them.
        m_nParallax +=
            static_cast<int>(std::lround(m_dParallax * m_dScale) - std::lround(before * m_dScale));
        m_nSetParallax = m_nParallax;
        m_strMarkNote.clear();  // the wheel sets the mark now
        Invalidate();
        return true;
    }
    // One notch: the selection's heights by the step, along the left ray with Shift.
    const double dZ = zDelta < 0 ? -m_dZIncrement : m_dZIncrement;
    doc->m_editor.RaiseSelection(dZ, (nFlags & MK_SHIFT) != 0);
    Invalidate();
    return true;
}

void COrvaneView::OnKeyDown(unsigned int nChar, unsigned int nRepCnt, unsigned int nFlags) {
    const int count = static_cast<int>(nRepCnt);
    switch (nChar) {
        case VK_LEFT:
            m_nXOffset -= 5 * count;
            m_bOffsetChanged = true;
            Invalidate();
            break;
        case VK_RIGHT:
            m_nXOffset += 5 * count;
            m_bOffsetChanged = true;
            Invalidate();
            break;
        case VK_UP:
            m_nYOffset += count;
            m_bOffsetChanged = true;
            Invalidate();
            break;
        case VK_DOWN:
            m_nYOffset -= count;
            m_bOffsetChanged = true;
            Invalidate();
            break;
        case VK_DELETE:
            // As TIN > Delete Points; Shift+Delete stays Cut's.
            if (!(nFlags & MK_SHIFT)) OnDeletePoints();
            break;
        case VK_PRIOR:
        case VK_NEXT: {
            // A page: the client height, as scroll views page.
            const CPoint scroll = GetScrollPosition();
            const int page = std::max(1, GetClientRect().Height()) * count;
            ScrollToPosition(
                CPoint(scroll.x, nChar == VK_PRIOR ? scroll.y - page : scroll.y + page));
            Invalidate();
            break;
        }
        case VK_HOME:
            // The ends of the scroll range, which reaches past the image's
            // edges so that any point can come to the centre.
            ScrollToPosition(CPoint(GetScrollPosition().x, verticalScrollBar()->minimum()));
            Invalidate();
            break;
        case VK_END:
            ScrollToPosition(CPoint(GetScrollPosition().x, verticalScrollBar()->maximum()));
            Invalidate();
            break;
        default:
            break;
    }
    COpenGLView::OnKeyDown(nChar, nRepCnt, nFlags);
}

void COrvaneView::OnChar(unsigned int nChar, unsigned int nRepCnt, unsigned int nFlags) {
    switch (nChar) {
        case 'A':
            if (m_strLeftImage.empty()) return;  // no project named yet: dropped
            AddPointAtMark();
            break;
        case 'X':
            ++m_nPointSize;
            ShowValues({m_nPointSize});
            Invalidate();
            break;
        case 'Z':
            if (m_nPointSize > 1) --m_nPointSize;
            ShowValues({m_nPointSize});
            Invalidate();
            break;
        case 'x':
            m_dZIncrement *= 2.0;
            ShowValues({m_dZIncrement});
            UpdateStatusPanes();
            break;
        case 'z':
            m_dZIncrement /= 2.0;
            ShowValues({m_dZIncrement});
            UpdateStatusPanes();
            break;
        case 'a':
            StepToNeighbour(0);
            break;
        case 'd':
            StepToNeighbour(1);
            break;
        case 'e':
            StepToNeighbour(2);
            break;
        case 's':
            StepToNeighbour(3);
            break;
        case 'n':
            OnNextSuspect();
            break;
        case 'p':
            OnPreviousSuspect();
            break;
        case 'f':
            OnSetToSurface();
            break;
        case 'k':
            OnAcceptSuspect();
            break;
        case 'm':
            OnMatchZ();
            break;
        case 'h':
            SetMarkHeightMode(m_markHeightMode == MarkHeightMode::AutoHeight
                                  ? MarkHeightMode::Off
                                  : MarkHeightMode::AutoHeight);
            break;
        case 'g':
            SetMarkHeightMode(m_markHeightMode == MarkHeightMode::Drape ? MarkHeightMode::Off
                                                                        : MarkHeightMode::Drape);
            break;
        case 'c':
            OnContours();
            break;
        case 't':
            OnTriangles();
            break;
        default:
            break;
    }
    COpenGLView::OnChar(nChar, nRepCnt, nFlags);
}

int COrvaneView::AddPointAtMark() {
    COrvaneDoc* doc = GetDocument();
    // The left image pixel under the left cross.
    const StereoPoint at = GetStereoFrame().MarkSubImage(CStereoFrame::kLeft);
    // With a mode that finds the mark's height, the point goes there.
    const double z =
        m_markHeightMode != MarkHeightMode::Off && std::isfinite(m_dMarkZ) ? m_dMarkZ : m_dDefaultZ;
    const int result = doc->m_editor.AddPointAt(at.x, at.y, z);
    if (result < 0) return result;
    RedrawNow();
    return 1;
}

int COrvaneView::MoveToNeighbour(int direction) {
    return GetDocument()->m_points.FindNeighbour(m_nCurrentPoint, direction);
}

void COrvaneView::StepToNeighbour(int direction) {
    COrvaneDoc* doc = GetDocument();
    if (doc->m_leftPhoto.m_selection.empty()) return;
    const int id = doc->m_leftPhoto.m_selection.back().id;
    doc->ReleaseSelection();
    m_nCurrentPoint = id;
    m_nCurrentPoint = MoveToNeighbour(direction);
    if (m_nCurrentPoint < 0) {
        // The selection was released: its highlight must go from the screen,
        // or the wheel would seem to edit points it now leaves alone.
        Invalidate();
        return;
    }
    doc->SelectPoint(m_nCurrentPoint);
    if (const TINPoint* p = doc->m_points.GetPoint(m_nCurrentPoint))
        ShowValues({p->x, p->y, p->z, p->weight});
    Invalidate();
}

// ---------------------------------------------------------------------------
// Selection

void COrvaneView::OnPolygonSelecting() {
    COrvaneDoc* doc = GetDocument();
    m_nMode = 2;
    doc->m_leftPhoto.m_polygon.clear();
    doc->m_rightPhoto.m_polygon.clear();
}

void COrvaneView::SelectInRect(int left, int top, int right, int bottom) {
    GetDocument()->m_editor.SelectInRect(left, top, right, bottom);
}

// ---------------------------------------------------------------------------
// Commands

bool COrvaneView::OnCommand(int id) {
    switch (id) {
        case ID_TIN_EDITING:
            OnEditingOrvane();
            return true;
        case ID_TIN_FITTOPLANE:
            OnFitToPlane();
            return true;
        case ID_TIN_OPTIONS:
            OnOptions();
            return true;
        case ID_TIN_SETNEWZ:
            OnSetNewZ();
            return true;
        case ID_TIN_SMOOTHSLOPE:
            OnSmoothSlope();
            return true;
        case ID_TIN_SMOOTHAVERAGE:
            OnSmoothAverage();
            return true;
        case ID_TIN_DELETEPOINTS:
            OnDeletePoints();
            return true;
        case ID_TIN_POLYGONSELECTING:
            OnPolygonSelecting();
            return true;
        case ID_VIEW_TEST:
            OnTest();
            return true;
        case ID_TIN_GOTOPOINT:
            OnGoToPoint();
            return true;
        case ID_TIN_NEXTSUSPECT:
            OnNextSuspect();
            return true;
        case ID_TIN_PREVIOUSSUSPECT:
            OnPreviousSuspect();
            return true;
        case ID_TIN_SETTOSURFACE:
            OnSetToSurface();
            return true;
        case ID_TIN_ACCEPTSUSPECT:
            OnAcceptSuspect();
            return true;
        case ID_VIEW_ZOOMIN:
            ZoomIn();
            return true;
        case ID_VIEW_ZOOMOUT:
            ZoomOut();
            return true;
        case ID_VIEW_ZOOMTOFIT:
            OnZoomToFit();
            return true;
        case ID_VIEW_ACTUALPIXELS:
            OnActualPixels();
            return true;
        case ID_TIN_MATCHZ:
            OnMatchZ();
            return true;
        case ID_TIN_AUTOHEIGHT:
            SetMarkHeightMode(m_markHeightMode == MarkHeightMode::AutoHeight
                                  ? MarkHeightMode::Off
                                  : MarkHeightMode::AutoHeight);
            return true;
        case ID_TIN_DRAPE:
            SetMarkHeightMode(m_markHeightMode == MarkHeightMode::Drape ? MarkHeightMode::Off
                                                                        : MarkHeightMode::Drape);
            return true;
        case ID_VIEW_CONTOURS:
            OnContours();
            return true;
        case ID_VIEW_TRIANGLES:
            OnTriangles();
            return true;
        case ID_VIEW_CONTOURINTERVAL:
            OnContourInterval();
            return true;
        case ID_FILE_EXPORTCONTOURS:
            OnExportContours();
            return true;
        default:
            return false;
    }
}

void COrvaneView::OnEditingOrvane(const std::string& points) {
    COrvaneDoc* doc = GetDocument();
    // A second project replaces the points in place: unsaved edits are offered
    // for saving first, as closing the document would (Cancel keeps everything).
    if (doc->IsProjectLoaded() && !doc->SaveModified()) return;
    C3DImgInput dlg(this);
    // The paths of the last project loaded (kept in the settings) are proposed.
    static const char* const kKeys[5] = {"Image Pair/Left Image", "Image Pair/Right Image",
                                         "Image Pair/Left Orientation",
                                         "Image Pair/Right Orientation", "Image Pair/Points"};
    std::string* fields[5] = {&dlg.m_strLeftImage, &dlg.m_strRightImage, &dlg.m_strLeftOrientation,
                              &dlg.m_strRightOrientation, &dlg.m_strMatchedPoints};
    if (CWinApp* app = CWinApp::GetApp()) {
        for (int k = 0; k < 5; ++k)
            *fields[k] = app->GetProfileValue(QString::fromLatin1(kKeys[k]))
                             .toString()
                             .toLocal8Bit()
                             .toStdString();
    }
    if (!points.empty()) dlg.m_strMatchedPoints = points;
    if (!RunDialog(dlg)) return;
    // The paths go into the view before the checks, as the operator typed them.
    m_strLeftImage = dlg.m_strLeftImage;
    m_strRightImage = dlg.m_strRightImage;
    m_strLeftOrientation = dlg.m_strLeftOrientation;
    m_strRightOrientation = dlg.m_strRightOrientation;
    m_strMatchedPoints = dlg.m_strMatchedPoints;
    const int loaded = doc->LoadProject({m_strLeftImage, m_strRightImage, m_strLeftOrientation,
                                         m_strRightOrientation, m_strMatchedPoints});
    if (CWinApp* app = CWinApp::GetApp(); app && loaded > 0) {
        const std::string* used[5] = {&m_strLeftImage, &m_strRightImage, &m_strLeftOrientation,
                                      &m_strRightOrientation, &m_strMatchedPoints};
        for (int k = 0; k < 5; ++k)
            app->WriteProfileValue(QString::fromLatin1(kKeys[k]),
                                   QString::fromLocal8Bit(used[k]->c_str()));
    }
    RedrawNow();
}

void COrvaneView::OnUpdate(CScrollView* pSender, long lHint, void* pHint) {
    const auto* event = static_cast<const ProjectEvent*>(pHint);
    if (event && event->change == ProjectChange::Loaded)
        OnProjectLoaded(GetDocument()->MidHeight());
    else if (event && event->change == ProjectChange::RecordsRenumbered && event->renumbering)
        OnPointsRenumbered(*event->renumbering);
    // The panes speak of the points at once after an edit, an undo or a redo
    // (the selection count, the mark's ground position), not at the next draw.
    if (event && (event->change == ProjectChange::PointsEdited ||
                  event->change == ProjectChange::SelectionChanged))
        UpdateStatusPanes();
    COpenGLView::OnUpdate(pSender, lHint, pHint);
}

void COrvaneView::OnProjectLoaded(double dDefaultZ) {
    COrvaneDoc* doc = GetDocument();
    // A new project opens at 1:1.
    m_dScale = 1.0;
    SetScrollSizes(doc->GetSceneSize());
    InitGreyMap();
    m_nContrastMode = 1;  // the photographs' min-max stretch
    m_dDefaultZ = dDefaultZ;
    m_nCurrentPoint = -1;
    m_bRebuildLists = true;
    ShowProjectCentre();
}

void COrvaneView::OnPointsRenumbered(const CRenumbering& renumbering) {
    m_nCurrentPoint = renumbering.NewIndex(m_nCurrentPoint);
    Invalidate();
}

bool COrvaneView::FitSelectionToPlane(const std::vector<int>& sampleIds, bool bSmooth) {
    COrvaneDoc* doc = GetDocument();
    CPointEditor::PlaneFitReport report;
    const int result = doc->m_editor.FitSelectionToPlane(
        sampleIds, bSmooth ? EditKind::Smooth : EditKind::FitToPlane, &report);
    if (result == -2) {
        // Corners on one line, or repeated points: the plane is not defined.
        ReportMessage(QStringLiteral("The chosen points do not define a plane; "
                                     "no height was changed."),
                      Platform::MessageKind::Plain);
        return false;
    }
    // What the heights went through, in ground units (metres on the projects we know).
    const QLocale english(QLocale::English);
    doc->ShowTimedStatus((bSmooth ? QStringLiteral("Smoothed %1 points onto their plane: RMS %2 m, "
                                                   "largest change %3 m.")
                                  : QStringLiteral("Fitted %1 points to a plane: RMS %2 m, largest "
                                                   "change %3 m."))
                             .arg(english.toString(report.points))
                             .arg(report.rmsChange, 0, 'f', 2)
                             .arg(report.largestChange, 0, 'f', 2));
    return true;
}

void COrvaneView::OnFitToPlane() {
    COrvaneDoc* doc = GetDocument();
    if (doc->m_points.GetCount() == 0) return ShowPlain("Please load images and points first.");
    const int n = static_cast<int>(doc->m_leftPhoto.m_polygon.size()) - 1;
    if (n < 3) return ShowPlain("Please select at least 3 points.");
    std::vector<int> corners;
    for (int k = 0; k < n; ++k) corners.push_back(doc->m_leftPhoto.m_polygon[k].id);
    if (!FitSelectionToPlane(corners, false)) return;
    doc->SetModifiedFlag();
    Invalidate();
}

void COrvaneView::OnSmoothSlope() {
    COrvaneDoc* doc = GetDocument();
    if (doc->m_points.GetCount() == 0) return ShowPlain("Please load images and points first.");
    if (doc->m_leftPhoto.m_selection.size() < 4)
        return ShowPlain("Please select more than 3 points.");
    std::vector<int> ids;
    for (const TINPoint& e : doc->m_leftPhoto.m_selection) ids.push_back(e.id);
    if (!FitSelectionToPlane(ids, true)) return;
    doc->SetModifiedFlag();
    Invalidate();
}

void COrvaneView::OnSmoothAverage() {
    OnSmoothSlope();
}

void COrvaneView::OnSetNewZ() {
    COrvaneDoc* doc = GetDocument();
    CValueInput dlg(this);
    // The dialog proposes the selection's mean height, so that a stray Enter
    // leaves the points about where they are rather than sending them to 1 m;
    // in millimetres, as an operator would type it.
    if (double mean = 0.0; doc->m_editor.SelectionMeanZ(mean))
        dlg.m_dValue = std::round(mean * 1000.0) / 1000.0;
    if (!RunDialog(dlg)) {
        Invalidate();
        return;
    }
    doc->m_editor.SetSelectionZ(dlg.m_dValue);
    doc->SetModifiedFlag();  // also with nothing selected
    Invalidate();
}

void COrvaneView::OnDeletePoints() {
    COrvaneDoc* doc = GetDocument();
    if (doc->m_leftPhoto.m_selection.empty()) return ShowPlain("Please select some points.");
    doc->m_editor.DeleteSelection();
    Invalidate();
}

void COrvaneView::OnOptions() {
    CMevrithOpt dlg(this);
    dlg.m_rgbPoints = m_rgbPoints;
    dlg.m_rgbSelected = m_rgbSelected;
    dlg.m_rgbSuspect = m_rgbSuspect;
    dlg.m_nPointSize = m_nPointSize;
    dlg.m_nXOffset = m_nXOffset;
    dlg.m_nYOffset = m_nYOffset;
    dlg.m_dZIncrement = m_dZIncrement;
    dlg.m_dDefaultZ = m_dDefaultZ;
    dlg.m_bSharpPixels = m_bSharpPixels;
    dlg.m_bFixesKeepXY = GetDocument()->m_bFixesKeepXY;
    dlg.m_rgbContours = m_rgbContours;
    dlg.m_rgbIndexContours = m_rgbIndexContours;
    dlg.m_rgbTriangles = m_rgbTriangles;
    if (RunDialog(dlg)) {
        m_rgbPoints = dlg.m_rgbPoints;
        m_rgbSelected = dlg.m_rgbSelected;
        m_rgbSuspect = dlg.m_rgbSuspect;
        m_nPointSize = dlg.m_nPointSize;
        // New offsets move the right image: its display list must follow even
        // when the window bounds stay the same.
        if (m_nXOffset != dlg.m_nXOffset || m_nYOffset != dlg.m_nYOffset) m_bOffsetChanged = true;
        m_nXOffset = dlg.m_nXOffset;
        m_nYOffset = dlg.m_nYOffset;
        m_dZIncrement = dlg.m_dZIncrement;
        m_dDefaultZ = dlg.m_dDefaultZ;
        m_bSharpPixels = dlg.m_bSharpPixels;
        GetDocument()->m_bFixesKeepXY = dlg.m_bFixesKeepXY;
        m_rgbContours = dlg.m_rgbContours;
        m_rgbIndexContours = dlg.m_rgbIndexContours;
        m_rgbTriangles = dlg.m_rgbTriangles;
    }
    Invalidate();
}

void COrvaneView::OnGoToPoint() {
    COrvaneDoc* doc = GetDocument();
    const CTINPoints& g = doc->m_points;
    C3DCoordInput dlg(this);
    dlg.m_dX = (g.m_dMinX + g.m_dMaxX) / 2.0;
    dlg.m_dY = (g.m_dMinY + g.m_dMaxY) / 2.0;
    dlg.m_dZ = (g.m_dMinZ + g.m_dMaxZ) / 2.0;
    if (!RunDialog(dlg)) {
        Invalidate();
        return;
    }
    if (!(dlg.m_dX >= g.m_dMinX && dlg.m_dX <= g.m_dMaxX && dlg.m_dY >= g.m_dMinY &&
          dlg.m_dY <= g.m_dMaxY))
        return;
    double column = 0.0, row = 0.0;
    if (doc->m_leftPhoto.GroundToImage(dlg.m_dX, dlg.m_dY, dlg.m_dZ, column, row) < 0) return;
    doc->m_leftPhoto.ScannedToSubImage(column, row, column, row);
    if (!CentreAndFuse(column, row, dlg.m_dZ)) return;
    RedrawNow();
}

void COrvaneView::OnTest() {
    // A development check with no effect on the project: read a points file
    // from a fixed place, index it, add one point, discard the set.
    CTINPoints set;
    if (set.ReadPts(m_strTestPoints) != 1) return;
    if (set.BuildIndex(10) < 0) return;
    TINExtent e{};
    set.GetExtent(&e);
    set.AddPoint(TINPoint{set.GetCount() + 1, e.xmin + 100.0, e.ymin + 100.0, 0.0, 0.0});
}

// ---------------------------------------------------------------------------
// The check queue

void COrvaneView::GoToSuspect(int index) {
    COrvaneDoc* doc = GetDocument();
    CAerialPhoto& left = doc->m_leftPhoto;
    const TINPoint* l = left.m_pImagePoints ? left.m_pImagePoints->GetPoint(index) : nullptr;
    const TINPoint* r = doc->m_rightPhoto.m_pImagePoints
                            ? doc->m_rightPhoto.m_pImagePoints->GetPoint(index)
                            : nullptr;
    if (!l || !r || !std::isfinite(l->x) || !std::isfinite(l->y)) return;
    // The suspect becomes the selection (the one released first, weight rule).
    if (!doc->SelectSuspect(index)) return;
    // To the centre of the view, with the pair fused at the point's height.
    const TINPoint* ground = doc->m_points.GetPoint(index);
    CentreAndFuse(l->x, l->y, ground ? ground->z : HeightNear(l->x, l->y));
    // The floating mark on the point: the left cross at its left pixel, the
    // right one shifted by the parallax that puts it on its right pixel.
    const CStereoFrame frame = GetStereoFrame();
    m_ptMark = ToPixel(frame.MarkAt({l->x, l->y}));
    if (std::isfinite(r->x)) SetMarkParallax(frame, *l, *r);
    if (const TINPoint* g = doc->m_points.GetPoint(index))
        ShowValues({g->x, g->y, g->z, g->weight});
    RedrawNow();
}

void COrvaneView::SetMarkParallax(const CStereoFrame& frame, const TINPoint& l, const TINPoint& r) {
    int parallax = 0;
    if (!Platform::TruncToInt(frame.MarkParallax({l.x, l.y}, {r.x, r.y}), parallax)) return;
    // The crosses on the pixels holding the two positions; the parallax in
    // sub-image pixels from the positions themselves, so that zooming in
    // shows the mark on the point between pixels.
    m_nParallax = m_nSetParallax = parallax;
    m_dParallax = (r.x + m_nXOffset) - l.x;
}

void COrvaneView::OnNextSuspect() {
    COrvaneDoc* doc = GetDocument();
    if (!doc->IsProjectLoaded()) return ShowPlain("Please load images and points first.");
    int index = -1;
    {
        CWaitCursor wait;  // the first use ranks the points
        index = doc->NextSuspect();
    }
    if (index < 0) {
        doc->ShowTimedStatus(QStringLiteral("No further suspect points."));
        return;
    }
    GoToSuspect(index);
}

void COrvaneView::OnPreviousSuspect() {
    COrvaneDoc* doc = GetDocument();
    if (!doc->IsProjectLoaded()) return ShowPlain("Please load images and points first.");
    int index = -1;
    {
        CWaitCursor wait;
        index = doc->PreviousSuspect();
    }
    if (index < 0) {
        doc->ShowTimedStatus(QStringLiteral("No suspect point before this one."));
        return;
    }
    GoToSuspect(index);
}

void COrvaneView::OnAcceptSuspect() {
    COrvaneDoc* doc = GetDocument();
    if (!doc->IsProjectLoaded()) return ShowPlain("Please load images and points first.");
    const int index = doc->AcceptSuspect();
    if (index < 0) {
        doc->ShowTimedStatus(QStringLiteral("No current suspect: press n to go to one."));
        return;
    }
    doc->ShowTimedStatus(QStringLiteral("Point %1 accepted as checked.").arg(index));
    Invalidate();
}

void COrvaneView::OnSetToSurface() {
    COrvaneDoc* doc = GetDocument();
    if (!doc->IsProjectLoaded()) return ShowPlain("Please load images and points first.");
    if (doc->m_leftPhoto.m_selection.empty()) return ShowPlain("Please select some points.");
    const int moved = doc->SetSelectionToSurface();
    if (moved <= 0) return;
    MarkFollowsSuspect();
    Invalidate();
}

void COrvaneView::MarkFollowsSuspect() {
    // The floating mark follows the current suspect to its new height.
    COrvaneDoc* doc = GetDocument();
    const int current = doc->m_checks.Current();
    const TINPoint* l = doc->m_leftPhoto.m_pImagePoints->GetPoint(current);
    const TINPoint* r = doc->m_rightPhoto.m_pImagePoints->GetPoint(current);
    const CStereoFrame frame = GetStereoFrame();
    if (l && r && std::isfinite(l->x) && std::isfinite(r->x) &&
        m_ptMark.x == frame.MarkAt({l->x, l->y}).x)
        SetMarkParallax(frame, *l, *r);
}

// ---------------------------------------------------------------------------
// Heights measured from the photographs, and the surface

void COrvaneView::OnMatchZ() {
    COrvaneDoc* doc = GetDocument();
    if (!doc->IsProjectLoaded()) return ShowPlain("Please load images and points first.");
    if (doc->m_leftPhoto.m_selection.empty()) return ShowPlain("Please select some points.");
    int total = 0;
    std::vector<MatchResult> results;
    int matched = 0;
    const size_t selected = doc->m_leftPhoto.m_selection.size();
    if (selected < 2000) {
        CWaitCursor wait;
        matched = doc->MatchSelection(&total, &results);
    } else {
        // Many points take seconds: a progress bar the operator may cancel
        // (nothing changes then).
        QProgressDialog progress(QStringLiteral("Matching %1 points...").arg(selected),
                                 QStringLiteral("Cancel"), 0, static_cast<int>(selected), this);
        progress.setWindowTitle(QStringLiteral("Match Z"));
        progress.setWindowModality(Qt::WindowModal);
        progress.setMinimumDuration(0);
        std::atomic<bool> cancel{false};
        matched = doc->MatchSelection(
            &total, &results,
            [&](int64_t done, int64_t) {
                progress.setValue(static_cast<int>(done));
                if (progress.wasCanceled()) cancel = true;
            },
            &cancel);
    }
    if (matched == -4) {
        doc->ShowTimedStatus(QStringLiteral("Match Z cancelled; no point was changed."));
        return;
    }
    if (matched < 0) return ShowPlain("The photographs cannot be matched.");
    for (const MatchResult& r : results)
        if (r.index >= 0) doc->m_matchResults[r.index] = r;
    if (matched > 0) MarkFollowsSuspect();
    doc->ChecksChangedOutside();  // the queue's dock shows the correlations
    doc->ShowTimedStatus(QStringLiteral("Matched %1 of %2; %3 without a match.")
                             .arg(matched)
                             .arg(total)
                             .arg(total - matched));
    Invalidate();
}

void COrvaneView::SetMarkHeightMode(MarkHeightMode mode) {
    const COrvaneDoc* doc = GetDocument();
    if (mode != MarkHeightMode::Off && (!doc || !doc->IsProjectLoaded()))
        return ShowPlain("Please load images and points first.");
    m_markHeightMode = mode;
    m_strMarkNote.clear();
    m_bMarkHeightPending = mode != MarkHeightMode::Off;
    UpdateStatusPanes();
    Invalidate();
}

bool COrvaneView::UpdateMarkHeight() {
    COrvaneDoc* doc = GetDocument();
    if (!doc || !doc->IsProjectLoaded() || m_markHeightMode == MarkHeightMode::Off) return false;
    SyncParallaxFromScreen();
    const CAerialPhoto& left = doc->m_leftPhoto;
    const CAerialPhoto& right = doc->m_rightPhoto;
    const StereoPoint at = GetStereoFrame().MarkSubImage(CStereoFrame::kLeft);
    // From the mark's height now: where its rays meet, or the last height found.
    double X = 0.0, Y = 0.0, Z = 0.0;
    double startZ = (doc->m_points.m_dMinZ + doc->m_points.m_dMaxZ) / 2.0;
    if (MarkGroundPosition(X, Y, Z) > 0)
        startZ = Z;
    else if (std::isfinite(m_dMarkZ))
        startZ = m_dMarkZ;
    bool found = false;
    if (m_markHeightMode == MarkHeightMode::Drape) {
        // A start far off the ground (a mark not fused) can leave the hull on
        // the way: then from the last height found, then from mid-height.
        const double midZ = (doc->m_points.m_dMinZ + doc->m_points.m_dMaxZ) / 2.0;
        for (double start : {startZ, m_dMarkZ, midZ}) {
            if (!std::isfinite(start)) continue;
            found = DrapeOnSurface(doc->m_surface.Surface(), left, at.x, at.y, start, X, Y, Z) ==
                    DrapeResult::Found;
            if (found) break;
        }
        if (!found) m_strMarkNote = QStringLiteral("Outside the surface.");
    } else {
        MatchOptions options = doc->m_matchOptions;
        options.keepXY = false;  // the mark stays on its left ray
        const CMatcher matcher(left, right, options);
        double pixel[2] = {0.0, 0.0};
        left.SubImageToScanned(at.x, at.y, pixel[0], pixel[1]);
        if (matcher.Status() > 0 && left.ImageToGround(pixel, &startZ, X, Y) > 0) {
            const MatchResult r = matcher.Match(X, Y, startZ, startZ, 0.0);
            found = r.status == MatchStatus::Matched;
            X = r.x;
            Y = r.y;
            Z = r.z;
        }
        if (!found) m_strMarkNote = QStringLiteral("No match under the mark.");
    }
    double lc = 0.0, lr = 0.0, rc = 0.0, rr = 0.0;
    if (found && GroundToSubImage(left, X, Y, Z, lc, lr) &&
        GroundToSubImage(right, X, Y, Z, rc, rr)) {
        m_strMarkNote.clear();
        m_dMarkZ = Z;
        m_dParallax = (rc + m_nXOffset) - lc;
        m_nParallax = m_nSetParallax = static_cast<int>(std::lround(m_dParallax * m_dScale));
    } else {
        found = false;  // the parallax is kept
    }
    UpdateStatusPanes();
    return found;
}

void COrvaneView::OnContours() {
    m_bShowContours = !m_bShowContours;
    Invalidate();
}

void COrvaneView::OnTriangles() {
    m_bShowTriangles = !m_bShowTriangles;
    Invalidate();
}

void COrvaneView::OnContourInterval() {
    COrvaneDoc* doc = GetDocument();
    if (!doc->IsProjectLoaded()) return ShowPlain("Please load images and points first.");
    CContourIntervalDlg dlg(this);
    dlg.m_dInterval = doc->m_surface.Interval();
    if (!RunDialog(dlg)) return;
    CWaitCursor wait;
    doc->SetContourInterval(dlg.m_dInterval);
    Invalidate();
}

void COrvaneView::OnExportContours() {
    COrvaneDoc* doc = GetDocument();
    if (!doc->IsProjectLoaded()) return ShowPlain("Please load images and points first.");
    std::string path;
    if (m_fnChooseContourPath) {
        path = m_fnChooseContourPath();
    } else {
        QString filter;
        QString chosen = QFileDialog::getSaveFileName(
            this, QStringLiteral("Export Contours"), QString(),
            QStringLiteral("GeoJSON (*.geojson);;Shapefile (*.shp);;DXF (*.dxf)"), &filter);
        // A name typed without an extension takes the chosen type's.
        if (!chosen.isEmpty() && QFileInfo(chosen).suffix().isEmpty()) {
            const int star = filter.indexOf(QLatin1String("*."));
            if (star >= 0) chosen += filter.mid(star + 1).chopped(1);
        }
        path = QFile::encodeName(chosen).toStdString();
    }
    if (path.empty()) return;
    std::vector<ContourLine> lines;
    std::string error;
    int result = 0;
    {
        CWaitCursor wait;
        doc->m_surface.Contours().Lines(doc->m_surface.Surface(), lines);
        result = WriteContours(path, lines, &error);
    }
    const QString name = QString::fromLocal8Bit(path.c_str());
    if (result == kContourUnknownFormat)
        return ShowPlain(QStringLiteral("Contours are written as .geojson, .shp or .dxf: %1")
                             .arg(name)
                             .toStdString()
                             .c_str());
    if (result < 0)
        return ShowPlain(QStringLiteral("The contours could not be written to %1.\n%2")
                             .arg(name, QString::fromLocal8Bit(error.c_str()))
                             .toStdString()
                             .c_str());
    doc->ShowTimedStatus(
        QStringLiteral("%1 contour lines written to %2.").arg(lines.size()).arg(name));
}

void COrvaneView::GatherSurfaceLines(const CStereoFrame& frame, int eye) {
    std::vector<CPointPasses::LineBatch> batches;
    COrvaneDoc* doc = GetDocument();
    const StereoRect v = frame.VisibleSubImage(eye);
    if (!doc || !doc->IsProjectLoaded() || (!m_bShowContours && !m_bShowTriangles) || v.left < 0 ||
        v.right < v.left || v.bottom < v.top) {
        m_pointPasses.SetLines(eye, std::move(batches));
        return;
    }
    const CAerialPhoto& photo = eye == CStereoFrame::kLeft ? doc->m_leftPhoto : doc->m_rightPhoto;
    const CTINPoints* set = photo.m_pImagePoints.get();
    if (m_bShowContours)
        doc->m_contourImages.Update(doc->m_surface.Contours(), doc->m_leftPhoto, doc->m_rightPhoto);
    // The lines are kept in sub-image positions for a region around the
    // view, so that a redraw or a pan within it only converts them to the
    // screen; an edit, another choice or a view leaving the region gathers
    // them again.
    SurfaceLines& kept = m_surfaceLines[eye];
    const SurfaceLines::Key key{doc->EditGeneration(),
                                doc->m_surface.Contours().Layout(),
                                doc->m_surface.Contours().Segments().size(),
                                m_bShowContours,
                                m_bShowTriangles && m_dScale >= 0.25 && set && set->GetIndex(),
                                m_dScale >= 0.25};
    const bool inside = v.left >= kept.region.left && v.top >= kept.region.top &&
                        v.right <= kept.region.right && v.bottom <= kept.region.bottom;
    if (!kept.valid || !(kept.key == key) || !inside) {
        kept.valid = true;
        kept.key = key;
        const int margin = std::max(v.right - v.left, v.bottom - v.top) / 4 + 16;
        kept.region = {v.left - margin, v.top - margin, v.right + margin, v.bottom + margin};
        GatherSurfaceRegion(eye, kept);
    }
    const RGBColor colours[3] = {m_rgbTriangles, m_rgbContours, m_rgbIndexContours};
    for (int k = 0; k < 3; ++k) {
        CPointPasses::LineBatch b{colours[k], k == 2 ? 2 : 1, {}};
        const std::vector<float>& xy = kept.lines[k];
        b.xy.resize(xy.size());
        // Sub-image to GL window: a scale and a shift (CStereoFrame::SubImageToGL).
        // Segments wholly beyond one side of the view are left out here.
        const StereoPoint o = frame.SubImageToGL(eye, {0.0, 0.0});
        const double sx = frame.m_dScale;
        const float left = static_cast<float>(v.left), right = static_cast<float>(v.right + 1);
        const float top = static_cast<float>(v.top), bottom = static_cast<float>(v.bottom + 1);
        size_t out = 0;
        for (size_t i = 0; i + 3 < xy.size(); i += 4) {
            const float x0 = xy[i], y0 = xy[i + 1], x1 = xy[i + 2], y1 = xy[i + 3];
            if ((x0 < left && x1 < left) || (x0 > right && x1 > right) || (y0 < top && y1 < top) ||
                (y0 > bottom && y1 > bottom))
                continue;
            b.xy[out++] = static_cast<float>(sx * x0 + o.x);
            b.xy[out++] = static_cast<float>(o.y - sx * y0);
            b.xy[out++] = static_cast<float>(sx * x1 + o.x);
            b.xy[out++] = static_cast<float>(o.y - sx * y1);
        }
        b.xy.resize(out);
        if (!b.xy.empty()) batches.push_back(std::move(b));
    }
    m_pointPasses.SetLines(eye, std::move(batches));
}

void COrvaneView::GatherSurfaceRegion(int eye, SurfaceLines& kept) {
    COrvaneDoc* doc = GetDocument();
    const CAerialPhoto& photo = eye == CStereoFrame::kLeft ? doc->m_leftPhoto : doc->m_rightPhoto;
    const CTINPoints* set = photo.m_pImagePoints.get();
    const StereoRect& v = kept.region;
    for (std::vector<float>& xy : kept.lines) xy.clear();
    auto inRegion = [&](double x, double y) {
        return x >= v.left && x <= v.right && y >= v.top && y <= v.bottom;
    };
    auto add = [](std::vector<float>& xy, double x, double y) {
        xy.push_back(static_cast<float>(x));
        xy.push_back(static_cast<float>(y));
    };
    if (kept.key.triangles) {
        // The edges around each vertex in the region, from its projected
        // image position (the image-point sets are the vertices' projections).
        const CSurface& surface = doc->m_surface.Surface();
        m_surfaceRecords.clear();
        set->GetIndex()->QueryRect(v.left, v.top, v.right, v.bottom, m_surfaceRecords);
        for (int r : m_surfaceRecords) {
            const TINPoint* p = set->GetPoint(r);
            if (!p || p->id < 0 || !inRegion(p->x, p->y)) continue;
            surface.ForEachEdgeOf(r, [&](int o) {
                const TINPoint* q = set->GetPoint(o);
                if (!q || !std::isfinite(q->x) || !std::isfinite(q->y)) return;
                if (o < r && inRegion(q->x, q->y)) return;  // drawn from the other end
                add(kept.lines[0], p->x, p->y);
                add(kept.lines[0], q->x, q->y);
            });
        }
    }
    if (kept.key.contours) {
        const std::vector<ContourSegment>& segments = doc->m_surface.Contours().Segments();
        const std::vector<SegmentImages>& images = doc->m_contourImages.Images();
        const size_t n = std::min(segments.size(), images.size());
        // Below 1:4 the index contours alone: the others would fill the view.
        for (int pass = kept.key.allContours ? 0 : 1; pass < 2; ++pass) {
            const bool index = pass == 1;
            std::vector<float>& xy = kept.lines[index ? 2 : 1];
            doc->m_contourImages.SlotsIn(eye, index, v.left, v.top, v.right, v.bottom,
                                         m_surfaceSlots);
            for (int32_t slot : m_surfaceSlots) {
                const size_t i = static_cast<size_t>(slot);
                if (i >= n || segments[i].triangle < 0) continue;
                const float* e = eye == CStereoFrame::kLeft ? images[i].left : images[i].right;
                add(xy, e[0], e[1]);
                add(xy, e[2], e[3]);
            }
        }
    }
}
