#include "Orvane/PointPasses.h"

#include <QOpenGLContext>
#include <algorithm>
#include <cmath>
#include <cstring>

#include "OpenGL/OpenGLView.h"
#include "Photogrammetry/AerialPhoto.h"
#include "StereoView/PointSquares.h"
#include "TIN/GridIndex.h"
#include "TIN/TINPoints.h"

namespace {

// Side of the square of grey indexes drawn to read their colours back.
constexpr int kTableSide = 16;
// Largest point size the painter reproduces (the GL's points beyond it are
// drawn as GL points).
constexpr int kLargestPainted = 16;

using WindowPos2iProc = void (*)(GLint, GLint);

uint32_t Rgba(unsigned char r, unsigned char g, unsigned char b, unsigned char a) {
    const unsigned char bytes[4] = {r, g, b, a};
    uint32_t word = 0;
    std::memcpy(&word, bytes, 4);
    return word;
}

uint32_t Rgba(RGBColor c) {
    return Rgba(c.r, c.g, c.b, 255);
}

bool operator==(const CPointPasses::Style& a, const CPointPasses::Style& b) {
    return a.points == b.points && a.selected == b.selected && a.size == b.size;
}

}  // namespace

// ---------------------------------------------------------------------------
// The frame

void CPointPasses::BeginFrame(COpenGLView& view, const CStereoFrame& frame,
                              const CAerialPhoto* const photos[2], const Style& style,
                              bool enabled) {
    m_style = style;
    m_bEnabled = enabled;
    m_nWidth = view.m_nWidth;
    m_nHeight = view.m_nHeight;
    // The picture covers the GL viewport, which must be the frame's client area.
    m_bPixelProjection = m_nWidth == frame.m_nClientWidth && m_nHeight == frame.m_nClientHeight &&
                         PixelTransforms(frame);
    QOpenGLContext* ctx = QOpenGLContext::currentContext();
    m_windowPos = ctx ? ctx->getProcAddress("glWindowPos2i") : nullptr;
    if (!m_windowPos) m_bEnabled = false;
    if (!m_bEnabled || !m_bPixelProjection || style.size < 1 || style.size > kLargestPainted ||
        m_nWidth < kTableSide || m_nHeight < kTableSide)
        return;
    for (int eye = 0; eye < 2; ++eye) {
        const CAerialPhoto* photo = photos[eye];
        if (!photo || !photo->m_pImagePoints || !photo->m_image.GetBands()) continue;
        if (FindTable(photo->m_greyMap) < 0) ReadBackTable(view, photo->m_greyMap);
    }
}

bool CPointPasses::PixelTransforms(const CStereoFrame& frame) const {
    GLfloat mv[16], pr[16];
    glGetFloatv(GL_MODELVIEW_MATRIX, mv);
    glGetFloatv(GL_PROJECTION_MATRIX, pr);
    for (int k = 0; k < 16; ++k)
        if (mv[k] != (k % 5 == 0 ? 1.0f : 0.0f)) return false;
    return frame.IsPixelProjection(pr);
}

int CPointPasses::FindTable(const std::array<float, 256>& map) const {
    for (size_t k = 0; k < m_tables.size(); ++k)
        if (m_tables[k].map == map) return static_cast<int>(k);
    return -1;
}

bool CPointPasses::ReadBackTable(COpenGLView& view, const std::array<float, 256>& map) {
    CGLWindowDC* dc = view.GetDC();
    if (!dc) return false;
    // The 256 grey indexes as a 16 x 16 square at the lower-left corner of the
    // selected (cleared) back buffers, drawn as the image is drawn.
    unsigned char indexes[kTableSide * kTableSide];
    for (int i = 0; i < kTableSide * kTableSide; ++i) indexes[i] = static_cast<unsigned char>(i);
    const std::array<float, 256> saved = view.m_greyMap;
    view.m_greyMap = map;
    view.DrawIndexedPixels(0, 0, kTableSide, kTableSide, indexes);
    view.m_greyMap = saved;
    glFinish();
    const std::vector<unsigned char> rgb =
        dc->ReadPixels(GL_BACK_LEFT, 0, 0, kTableSide, kTableSide);
    // The corner is cleared again, as the frame began.
    glPushAttrib(GL_SCISSOR_BIT);
    glEnable(GL_SCISSOR_TEST);
    glScissor(0, 0, kTableSide, kTableSide);
    view.ClearBuffers();
    glPopAttrib();
    if (rgb.size() != 3u * kTableSide * kTableSide) return false;
    GreyTable table;
    table.map = map;
    for (int i = 0; i < 256; ++i)
        table.rgba[static_cast<size_t>(i)] = Rgba(rgb[3 * i], rgb[3 * i + 1], rgb[3 * i + 2], 255);
    table.serial = m_nNextSerial++;
    // Two photographs, each with its own map: a few tables are plenty.
    if (m_tables.size() >= 4) m_tables.erase(m_tables.begin());
    m_tables.push_back(table);
    return true;
}

void CPointPasses::Gather(const CAerialPhoto& photo, const CStereoFrame& frame, int eye) {
    Eye& e = m_eyes[eye];
    e.vertices.clear();
    e.unselected = 0;
    e.intoImage = false;
    e.greyTable = -1;
    const CTINPoints* set = photo.m_pImagePoints.get();
    if (!set) return;
    // The window's sub-image pixels; each point at its GL window position.
    const StereoRect visible = frame.VisibleSubImage(eye);
    auto add = [&](const TINPoint& p) {
        const StereoPoint at = frame.SubImageToGL(eye, {p.x, p.y});
        const float x = static_cast<float>(at.x), y = static_cast<float>(at.y);
        if (std::isfinite(x) && std::isfinite(y)) {
            e.vertices.push_back(x);
            e.vertices.push_back(y);
        }
    };
    if (m_nStride > 0) {
        // The kept subsample: no look at the points in view.
        m_thinned[eye].Update(*set, m_nStride, m_nGeneration);
        m_thinned[eye].AppendVisible(frame, eye, visible, e.vertices);
    } else if (const CGridIndex* index = set->GetIndex()) {
        m_keys.clear();
        index->QueryRect(visible.left, visible.top, visible.right, visible.bottom, m_keys);
        e.vertices.reserve(2 * (m_keys.size() + photo.m_selection.size()));
        for (int k : m_keys) {
            const TINPoint* p = set->GetPoint(k);
            if (p && p->id >= 0) add(*p);
        }
    } else {
        for (int i = 0; i < set->GetCount(); ++i) {
            const TINPoint* p = set->GetPoint(i);
            if (p->id < 0) continue;
            if (p->x >= visible.left && p->x <= visible.right && p->y >= visible.top &&
                p->y <= visible.bottom)
                add(*p);
        }
    }
    e.unselected = e.vertices.size() / 2;
    for (const TINPoint& entry : photo.m_selection)
        if (const TINPoint* p = set->GetPoint(entry.id)) add(*p);

    e.greyTable = FindTable(photo.m_greyMap);
    e.intoImage = m_bEnabled && m_bPixelProjection && e.greyTable >= 0 && m_style.size >= 1 &&
                  m_style.size <= kLargestPainted && e.vertices.size() / 2 >= kIntoImageFrom;
}

bool CPointPasses::PictureStale(int eye) const {
    const Eye& e = m_eyes[eye];
    const ListContent& l = m_lists[eye];
    if (e.greyTable < 0) return true;
    return !(l.style == m_style) || l.width != m_nWidth || l.height != m_nHeight ||
           l.tableSerial != m_tables[static_cast<size_t>(e.greyTable)].serial ||
           l.unselected != e.unselected || l.vertices != e.vertices || l.lines != e.lines;
}

// ---------------------------------------------------------------------------
// The picture of an image with its points

bool CPointPasses::DrawImageWithPoints(COpenGLView& view, CAerialPhoto& photo, int eye) {
    if (!m_eyes[eye].intoImage) return false;
    const unsigned char* grey = nullptr;
    int w = 0, h = 0;
    if (photo.GetDisplayBuffer()) {
        grey = photo.m_image.GetDisplayWindow();
        w = photo.m_nLastCol - photo.m_nFirstCol + 1;
        h = photo.m_nLastRow - photo.m_nFirstRow + 1;
        // The image alone leaves the view's map at the photograph's (see DrawImageWindow).
        view.m_greyMap = photo.m_greyMap;
    }
    return DrawPictureWithPoints(grey, photo.m_nRasterX, photo.m_nRasterY, w, h, eye);
}

bool CPointPasses::DrawPictureWithPoints(const unsigned char* grey, int rasterX, int rasterY, int w,
                                         int h, int eye) {
    const Eye& e = m_eyes[eye];
    if (!e.intoImage) return false;
    auto windowPos = reinterpret_cast<WindowPos2iProc>(m_windowPos);
    const int width = m_nWidth, height = m_nHeight;
    m_picture.assign(static_cast<size_t>(width) * static_cast<size_t>(height), 0);

    // The image window, cut to the GL window as the image alone is drawn, each
    // grey index in the colour the GL gives it.
    bool covered = false;
    const int64_t x0 = std::max(0, rasterX);
    const int64_t y0 = std::max(0, rasterY);
    const int64_t x1 = std::min<int64_t>(width, int64_t{rasterX} + w);
    const int64_t y1 = std::min<int64_t>(height, int64_t{rasterY} + h);
    if (grey && x1 > x0 && y1 > y0) {
        const uint32_t* table = m_tables[static_cast<size_t>(e.greyTable)].rgba.data();
        for (int64_t y = y0; y < y1; ++y) {
            const unsigned char* src = grey + (y - rasterY) * w + (x0 - rasterX);
            uint32_t* dst = m_picture.data() + y * width + x0;
            for (int64_t x = 0; x < x1 - x0; ++x) dst[x] = table[src[x]];
        }
        covered = x0 == 0 && y0 == 0 && x1 == width && y1 == height;
    }
    // The lines under the points, then the two passes in drawing order: the
    // selection over the points.
    for (const LineBatch& b : e.lines)
        PaintLineSegments(m_picture.data(), width, height, b.xy.data(), b.xy.size() / 4, b.width,
                          Rgba(b.colour));
    PaintPointSquares(m_picture.data(), width, height, e.vertices.data(), e.unselected,
                      m_style.size, Rgba(m_style.points));
    PaintPointSquares(m_picture.data(), width, height, e.vertices.data() + 2 * e.unselected,
                      e.vertices.size() / 2 - e.unselected, m_style.size, Rgba(m_style.selected));

    glPushAttrib(GL_COLOR_BUFFER_BIT | GL_PIXEL_MODE_BIT);
    glPushClientAttrib(GL_CLIENT_PIXEL_STORE_BIT);
    glPixelStorei(GL_UNPACK_ALIGNMENT, 4);
    glPixelStorei(GL_UNPACK_ROW_LENGTH, 0);
    glPixelStorei(GL_UNPACK_SKIP_ROWS, 0);
    glPixelStorei(GL_UNPACK_SKIP_PIXELS, 0);
    glPixelStorei(GL_UNPACK_SWAP_BYTES, GL_FALSE);
    glPixelStorei(GL_UNPACK_LSB_FIRST, GL_FALSE);
    glPixelTransferi(GL_MAP_COLOR, GL_FALSE);
    // Pixels that neither the image nor a point covers keep what is there.
    if (!covered) {
        glEnable(GL_ALPHA_TEST);
        glAlphaFunc(GL_GREATER, 0.5f);
    }
    windowPos(0, 0);
    glDrawPixels(width, height, GL_RGBA, GL_UNSIGNED_BYTE, m_picture.data());
    glPopClientAttrib();
    glPopAttrib();
    ListContent& l = m_lists[eye];
    l.vertices = e.vertices;
    l.unselected = e.unselected;
    l.lines = e.lines;
    l.style = m_style;
    l.width = m_nWidth;
    l.height = m_nHeight;
    l.tableSerial = m_tables[static_cast<size_t>(e.greyTable)].serial;
    ++m_nPictures[eye];
    return true;
}

// ---------------------------------------------------------------------------
// GL points

void CPointPasses::DrawPoints(int eye) {
    const Eye& e = m_eyes[eye];
    if (e.intoImage) return;
    if (!e.lines.empty()) {
        GLfloat current[4] = {1, 1, 1, 1}, savedWidth = 1.0f;
        glGetFloatv(GL_CURRENT_COLOR, current);
        glGetFloatv(GL_LINE_WIDTH, &savedWidth);
        glEnableClientState(GL_VERTEX_ARRAY);
        for (const LineBatch& b : e.lines) {
            if (b.xy.empty()) continue;
            glColor3ub(b.colour.r, b.colour.g, b.colour.b);
            glLineWidth(static_cast<GLfloat>(b.width));
            glVertexPointer(2, GL_FLOAT, 0, b.xy.data());
            glDrawArrays(GL_LINES, 0, static_cast<GLsizei>(b.xy.size() / 2));
        }
        glDisableClientState(GL_VERTEX_ARRAY);
        glLineWidth(savedWidth);
        glColor4fv(current);
    }
    if (e.vertices.empty()) return;
    const size_t total = e.vertices.size() / 2;
    GLfloat savedSize = 1.0f;
    glGetFloatv(GL_POINT_SIZE, &savedSize);
    glPointSize(static_cast<GLfloat>(m_style.size));
    glEnableClientState(GL_VERTEX_ARRAY);
    glVertexPointer(2, GL_FLOAT, 0, e.vertices.data());
    if (e.unselected) glDrawArrays(GL_POINTS, 0, static_cast<GLsizei>(e.unselected));
    glColor3ub(m_style.selected.r, m_style.selected.g, m_style.selected.b);
    if (total > e.unselected)
        glDrawArrays(GL_POINTS, static_cast<GLint>(e.unselected),
                     static_cast<GLsizei>(total - e.unselected));
    glDisableClientState(GL_VERTEX_ARRAY);
    glPointSize(savedSize);
}
