// The screen geometry of the stereo view for one frame: where the scroll
// position, the client area, the zoom scale, the right image's offsets and
// the floating mark put each photograph's pixels on the screen, in one value
// that every conversion of the view, its point painter and the overview uses.
//
// Coordinate systems (unit in brackets):
//   client     [screen pixels] origin at the top-left corner of the view's
//              client area, y down; mouse positions.
//   logical    [screen pixels] client + scroll position, y down. The scroll
//              area is the scene times the scale.
//   scene      [scene pixels] logical / scale, y down: the scroll area at
//              scale 1, which loading makes the left photograph's size.
//   GL window  [screen pixels] origin at the bottom-left corner of the client
//              area, y up; the GL projection is one unit per screen pixel
//              whatever the scale, so the point painter and the rubber band
//              draw in it directly. Everything drawn, the floating mark.
//   sub-image  [pixels of one photograph's LAN image] column, row down from
//              the top, per eye (0 left, 1 right). Each photograph lies in
//              the scene with its bottom edge on the scene's bottom edge (the
//              display window counts rows from the bottom), the right one
//              shifted by the offsets: xOffset to the right, yOffset upwards,
//              in scene pixels. While the scene has the left photograph's
//              size, left sub-image pixels are scene pixels.
//
// Client, logical and GL window positions are points, not pixels: client
// (x, y) is GL window (x, clientHeight - y), as the floating mark has always
// been placed.
//
// Exactness: every conversion is a product by the scale and a sum of whole
// pixels. At scale 1 and at powers of two, positions on a grid of 1/256 pixel
// (all whole pixels, and every position the GL snaps to) within a million
// pixels convert and convert back exactly; at other scales within 1e-9 pixel.
//
// Core code: no Qt, no GL. A value: copy it, change a member, convert.
#pragma once

#include <cmath>

struct StereoPoint {
    double x = 0.0;
    double y = 0.0;
    friend bool operator==(const StereoPoint&, const StereoPoint&) = default;
};

// An integer rectangle (left, top, right, bottom) of the named system.
struct StereoRect {
    int left = 0;
    int top = 0;
    int right = 0;
    int bottom = 0;
    friend bool operator==(const StereoRect&, const StereoRect&) = default;
};

// The display window of a photograph, as CAerialPhoto::ComputeWindow leaves
// it: first and last column (sub-image), first and last row counted from the
// photograph's bottom row, and the GL window position of its lower-left pixel.
struct StereoWindow {
    int firstCol = -1;
    int lastCol = -1;
    int firstRow = -1;
    int lastRow = -1;
    int rasterX = 0;
    int rasterY = 0;
    friend bool operator==(const StereoWindow&, const StereoWindow&) = default;
};

// One eye: its photograph's size in sub-image pixels (0 x 0 without an image)
// and its display window of this frame.
struct StereoEye {
    int columns = 0;
    int rows = 0;
    StereoWindow window;
};

// The visible part of the scene and an eye's offsets: what
// CAerialPhoto::ComputeWindow takes to make the eye's display window.
struct StereoWindowRequest {
    int xOffset = 0;      // scene pixels to the right
    int yOffset = 0;      // scene pixels upwards
    StereoRect visible;   // scene pixels
    int sceneHeight = 0;  // scene pixels
};

class CStereoFrame {
public:
    static constexpr int kLeft = 0;
    static constexpr int kRight = 1;

    // --- The frame ----------------------------------------------------------
    int m_nScrollX = 0;  // logical pixels
    int m_nScrollY = 0;
    int m_nClientWidth = 0;  // screen pixels
    int m_nClientHeight = 0;
    double m_dScale = 1.0;  // screen pixels per scene pixel
    int m_nMarkX = 0;       // GL window position of the left cross
    int m_nMarkY = 0;
    double m_dParallax = 0.0;  // screen pixels from the left cross to the right one
    int m_nXOffset = 0;        // scene pixels the right photograph is shifted to the right
    int m_nYOffset = 0;        // scene pixels the right photograph is shifted upwards
    int m_nSceneHeight = 0;    // scene pixels
    StereoEye m_eyes[2];

    // --- Client, logical, GL window -------------------------------------------
    StereoPoint ClientToLogical(StereoPoint c) const {
        return {c.x + m_nScrollX, c.y + m_nScrollY};
    }
    StereoPoint LogicalToClient(StereoPoint l) const {
        return {l.x - m_nScrollX, l.y - m_nScrollY};
    }
    StereoPoint ClientToGL(StereoPoint c) const { return {c.x, m_nClientHeight - c.y}; }
    StereoPoint GLToClient(StereoPoint g) const { return {g.x, m_nClientHeight - g.y}; }

    // --- Sub-image of an eye --------------------------------------------------
    StereoPoint LogicalToSubImage(int eye, StereoPoint l) const {
        return {l.x / m_dScale - XOffset(eye), l.y / m_dScale + RowShift(eye)};
    }
    StereoPoint SubImageToLogical(int eye, StereoPoint s) const {
        return {m_dScale * (s.x + XOffset(eye)), m_dScale * (s.y - RowShift(eye))};
    }
    StereoPoint ClientToSubImage(int eye, StereoPoint c) const {
        return LogicalToSubImage(eye, ClientToLogical(c));
    }
    StereoPoint SubImageToClient(int eye, StereoPoint s) const {
        return LogicalToClient(SubImageToLogical(eye, s));
    }
    // Straight between sub-image and GL window, one rounding per coordinate
    // at scale 1 (the painter and the GL points take these).
    StereoPoint SubImageToGL(int eye, StereoPoint s) const {
        return {m_dScale * s.x + GLX0(eye), GLY0(eye) - m_dScale * s.y};
    }
    StereoPoint GLToSubImage(int eye, StereoPoint g) const {
        return {(g.x - GLX0(eye)) / m_dScale, (GLY0(eye) - g.y) / m_dScale};
    }

    // --- The floating mark ----------------------------------------------------
    // GL window position of the eye's cross: the right one parallax pixels
    // to the right of the left one.
    StereoPoint MarkGL(int eye) const {
        return {m_nMarkX + (eye == kRight ? m_dParallax : 0.0), static_cast<double>(m_nMarkY)};
    }
    // The sub-image position under the eye's cross.
    StereoPoint MarkSubImage(int eye) const { return GLToSubImage(eye, MarkGL(eye)); }
    // Where the left cross goes to stand on left sub-image position `left`: the
    // GL window position of the top-left corner of the pixel holding it (whole
    // pixels at scale 1).
    StereoPoint MarkAt(StereoPoint left) const {
        return SubImageToGL(kLeft, {std::floor(left.x), std::floor(left.y)});
    }
    // The parallax that puts the right cross on the pixel holding right
    // sub-image position `right` while the left one stands on the pixel
    // holding `left` (MarkAt): the two photographs' projections of one
    // ground point give the parallax of that point. Whole pixels at scale 1.
    double MarkParallax(StereoPoint left, StereoPoint right) const {
        return (m_dScale * std::floor(right.x) + GLX0(kRight)) -
               (m_dScale * std::floor(left.x) + GLX0(kLeft));
    }

    // --- Scrolling and windows ------------------------------------------------
    // The client area in logical pixels.
    StereoRect VisibleLogical() const {
        return {m_nScrollX, m_nScrollY, m_nScrollX + m_nClientWidth, m_nScrollY + m_nClientHeight};
    }
    // The scroll position that puts sub-image position `s` of the eye at the
    // centre of the client area (half the client size, in whole pixels, before
    // it), truncated towards zero; false when it does not fit an int. The
    // scroll bars then limit it to their range.
    bool ScrollToCentre(int eye, StereoPoint s, int& scrollX, int& scrollY) const;
    // What CAerialPhoto::ComputeWindow takes for the eye this frame.
    StereoWindowRequest WindowRequest(int eye) const;
    // The sub-image rectangle (bounds included) of the eye's display window:
    // the pixels drawn this frame.
    StereoRect VisibleSubImage(int eye) const;
    // Whether a GL projection matrix (column-major, as glGetFloatv gives it)
    // is the view's: orthographic, one unit per screen pixel over the client
    // area, y up from its bottom edge (its depth terms are not looked at).
    bool IsPixelProjection(const float matrix[16]) const;

private:
    int XOffset(int eye) const { return eye == kRight ? m_nXOffset : 0; }
    // Sub-image row minus scene row for the eye: the photograph's bottom edge
    // on the scene's, the right one raised by yOffset.
    double RowShift(int eye) const {
        const int rows = m_eyes[eye].rows > 0 ? m_eyes[eye].rows : m_nSceneHeight;
        return static_cast<double>(rows - m_nSceneHeight) + (eye == kRight ? m_nYOffset : 0);
    }
    // GL window x of sub-image column 0, y of sub-image row 0.
    double GLX0(int eye) const { return m_dScale * XOffset(eye) - m_nScrollX; }
    double GLY0(int eye) const {
        return static_cast<double>(m_nClientHeight) + m_nScrollY + m_dScale * RowShift(eye);
    }
};
