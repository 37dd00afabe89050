#include "Utils/RubberBand.h"

#include "Platform/Platform.h"
#include "Utils/GLDeviceContext.h"

bool CRubberBand::Track(CPoint point, bool bForce) {
    if (!m_bActive) {
        m_ptStart = point;
        m_ptEnd = point;
        m_bActive = true;
        DrawBand();
        return false;
    }
    if (point == m_ptEnd) return true;
    DrawBand();  // erases the band at its old position
    if ((point.x >= m_ptStart.x && point.y >= m_ptStart.y) || bForce) m_ptEnd = point;
    DrawBand();
    return true;
}

void CRubberBand::DrawBand() {
    if (!m_pDC || !m_hRC) return;
    if (!m_pDC->MakeCurrent(m_hRC)) {
        Platform::ShowMessage("OnDraw(3D): wglMakeCurrent() failed.", Platform::MessageKind::Plain);
        return;
    }
    // Both front buffers, in white: exclusive-or with white inverts every
    // channel, so the band shows in each eye and in every presentation of the
    // pair (an anaglyph shows only red of the left eye, which a green band
    // would leave unchanged).
    m_pDC->SelectBuffer(GL_FRONT);
    glEnable(GL_COLOR_LOGIC_OP);
    GLint mode = GL_COPY;  // kept when the query gives nothing
    glGetIntegerv(GL_LOGIC_OP_MODE, &mode);
    glLogicOp(GL_XOR);

    // Window pixels (y down) to the pixel projection (y up from the bottom
    // edge): window row y is GL row H - y - 1. Vertices go to pixel centres so
    // that each corner lands on exactly that pixel rather than on the border
    // between two rows or columns.
    const float h = static_cast<float>(m_sizeClient.cy);
    const float x0 = static_cast<float>(m_ptStart.x) + 0.5f;
    const float x1 = static_cast<float>(m_ptEnd.x) + 0.5f;
    const float y0 = h - static_cast<float>(m_ptStart.y) - 1.0f + 0.5f;
    const float y1 = h - static_cast<float>(m_ptEnd.y) - 1.0f + 0.5f;
    glColor3f(1.0f, 1.0f, 1.0f);
    glBegin(GL_LINE_LOOP);
    glVertex2f(x0, y0);
    glVertex2f(x1, y0);
    glVertex2f(x1, y1);
    glVertex2f(x0, y1);
    glEnd();

    glLogicOp(static_cast<GLenum>(mode));
    m_pDC->Finish();
    m_pDC->ReleaseCurrent();
}
