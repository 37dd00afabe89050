// The image points of the editing view's two eyes: which points a frame
// draws, and how.
//
// Each eye draws two passes over its image: the visible live image points in
// the points' colour, then every entry of the photograph's selection in the
// selected colour, each point a square of the point size centred where GL
// would put a point of that size. With few points they are drawn as GL points
// after the image. With many, a software rasteriser pays for every point
// primitive, and for a layer over the whole window as much as for the image
// itself; so the points are painted into the picture of the image instead:
// the eye's image window, turned into RGB through the colours the GL gives its
// grey levels (read back once per grey map), with both passes painted over
// it, drawn as one pixel rectangle that a display list of the eye keeps
// beside the list of its image alone. A frame in which neither the window nor
// the points changed replays the list and costs no more than the image alone. The pixels are those
// that the image and the GL points give.
//
// Coordinates: image points are sub-image pixels (column, row down from the
// top); everything drawn is in GL window coordinates (one unit per pixel, y up
// from the bottom edge of the client area); the frame's conversions join them.
#pragma once

#include <GL/gl.h>

#include <array>
#include <cstdint>
#include <vector>

#include "Orvane/DialogSupport.h"
#include "StereoView/StereoFrame.h"
#include "StereoView/ThinnedPoints.h"

class CAerialPhoto;
class COpenGLView;

class CPointPasses {
public:
    // How the points look: colours of the two passes and the square's side in pixels.
    struct Style {
        RGBColor points;
        RGBColor selected;
        int size = 3;
    };

    // Fewest points of an eye (both passes) that go into its image picture.
    static constexpr size_t kIntoImageFrom = 1024;

    // Start of a frame, after the back buffers were cleared, with the view's
    // context current: reads back the colours of each photograph's grey map
    // that has none yet (drawn into a corner of the back buffers, which is
    // cleared again). `enabled` false draws GL points only (for comparisons).
    void BeginFrame(COpenGLView& view, const CStereoFrame& frame,
                    const CAerialPhoto* const photos[2], const Style& style, bool enabled);

    // Collects the eye's points for this frame from the photograph's
    // image-point set (none without one) and decides how they are drawn.
    // The photograph's window must be computed for this frame and be the
    // frame's window of the eye.
    void Gather(const CAerialPhoto& photo, const CStereoFrame& frame, int eye);
    // Zoomed far out, or with very many points in view, the unselected
    // points of each eye are a fixed subsample at this stride (ThinnedPoints.h),
    // kept until the points change (`generation`, the project's edit
    // generation); 0 draws every point in view. The selection is always
    // drawn whole.
    void SetThinning(size_t stride, uint64_t generation) {
        m_nStride = stride;
        m_nGeneration = generation;
    }
    // Lines drawn under an eye's points (the surface's contours and triangle
    // edges): each batch one colour and width (1 or 2 pixels), its segments as
    // GL window x0, y0, x1, y1. Painted into the picture with the points, or
    // drawn as GL lines by DrawPoints before them. Kept until set again.
    struct LineBatch {
        RGBColor colour;
        int width = 1;
        std::vector<float> xy;
        friend bool operator==(const LineBatch&, const LineBatch&) = default;
    };
    void SetLines(int eye, std::vector<LineBatch>&& batches) {
        m_eyes[eye].lines = std::move(batches);
    }

    // The points go into this eye's image picture this frame.
    bool IntoImage(int eye) const { return m_eyes[eye].intoImage; }
    // The eye's picture list holds other points than this frame's (or other
    // colours, size, window size or grey colours): it must be painted again
    // even though the window did not move.
    bool PictureStale(int eye) const;

    // While the eye's picture list is compiled: the window of the photograph
    // with the points painted over it, as one RGBA pixel rectangle over the
    // whole GL window (pixels of neither are left alone), recorded as what the
    // list holds. False, with the points left to DrawPoints, when they do not
    // go into the image this frame.
    bool DrawImageWithPoints(COpenGLView& view, CAerialPhoto& photo, int eye);
    // The same over any 8-bit grey picture of the eye (width x height, bottom
    // row first, lower-left pixel at GL window (rasterX, rasterY); null for
    // none), drawn through the photograph's grey map: a zoomed view's picture.
    bool DrawPictureWithPoints(const unsigned char* grey, int rasterX, int rasterY, int width,
                               int height, int eye);

    // The eye's lines and then its points as GL points (both passes) unless
    // they went into its image; the current colour is the points' colour. The
    // context must be current.
    void DrawPoints(int eye);

    // Number of times the points were painted into an image picture, per eye (tests).
    int m_nPictures[2] = {0, 0};

private:
    struct Eye {
        std::vector<float>
            vertices;  // GL window x, y of each point: the points, then the selection
        size_t unselected = 0;
        bool intoImage = false;
        int greyTable = -1;  // index into m_tables for the photograph's grey map
        std::vector<LineBatch> lines;
    };
    // What an eye's picture list was painted with.
    struct ListContent {
        std::vector<float> vertices;
        size_t unselected = 0;
        std::vector<LineBatch> lines;
        Style style;
        int width = 0, height = 0;
        int64_t tableSerial = -1;
    };
    struct GreyTable {
        std::array<float, 256> map{};
        std::array<uint32_t, 256> rgba{};  // what the GL shows for each grey index, RGBA bytes
        int64_t serial = 0;
    };

    // The frame's pixel projection is in force (identity model-view, one unit per pixel).
    bool PixelTransforms(const CStereoFrame& frame) const;
    int FindTable(const std::array<float, 256>& map) const;
    bool ReadBackTable(COpenGLView& view, const std::array<float, 256>& map);

    Eye m_eyes[2];
    ListContent m_lists[2];
    std::vector<GreyTable> m_tables;
    int64_t m_nNextSerial = 1;
    Style m_style;
    bool m_bEnabled = true;
    bool m_bPixelProjection = false;
    void (*m_windowPos)() = nullptr;  // glWindowPos2i of the current context
    int m_nWidth = 0, m_nHeight = 0;
    std::vector<uint32_t> m_picture;  // the RGBA picture being painted, m_nWidth x m_nHeight
    std::vector<int> m_keys;          // grid index candidates, reused
    size_t m_nStride = 0;
    uint64_t m_nGeneration = 0;
    CThinnedPoints m_thinned[2];
};
