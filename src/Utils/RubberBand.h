// Rubber band: the rectangle that follows the mouse while the operator drags
// one out. Drawn in white with exclusive-or straight into both front buffers
// (visible to both eyes in every presentation), so drawing the same rectangle
// twice restores what was underneath.
//
// Corners are window (client) pixels, y down from the top edge; drawing turns
// them into the view's pixel projection (GL window coordinates, y up).
#pragma once

#include "Framework/Types.h"

class QOpenGLContext;
class CGLDeviceContext;

class CRubberBand {
public:
    CRubberBand() = default;
    virtual ~CRubberBand() = default;

    // Anchors a new band (returns false) or moves the end corner (returns true).
    // Without bForce the end only moves to points right of and below the anchor.
    bool Track(CPoint point, bool bForce);
    // (start.x, start.y, end.x, end.y), not normalised.
    CRect GetRect() const { return CRect(m_ptStart.x, m_ptStart.y, m_ptEnd.x, m_ptEnd.y); }
    // Draws the current rectangle once with exclusive-or into both front buffers.
    void DrawBand();

    // Set by the owning view: its context and device context (not owned) at the
    // initial update, the client size on every non-empty resize.
    void SetContext(QOpenGLContext* hRC, CGLDeviceContext* pDC) {
        m_hRC = hRC;
        m_pDC = pDC;
    }
    void SetClientSize(CSize size) { m_sizeClient = size; }
    CSize GetClientSize() const { return m_sizeClient; }

private:
    QOpenGLContext* m_hRC = nullptr;
    CGLDeviceContext* m_pDC = nullptr;
    CSize m_sizeClient;

public:
    bool m_bActive = false;  // the owner ends a band by drawing it once more and clearing this

private:
    CPoint m_ptStart;
    CPoint m_ptEnd;
};
