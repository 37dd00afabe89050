// Scrolling view base: a QAbstractScrollArea whose scroll area is measured in
// logical units (one unit per pixel). Client coordinates are pixels of the
// viewport, y down from its top edge; logical = client + scroll position.
//
// Qt events are turned into the handlers below (mouse points in client pixels,
// MK_* flags, VK_* key codes, characters from the key text). Deriving views
// override the handlers and call the base version to "pass the message on".
// Scrolling never moves pixels: it changes the scroll position and invalidates.
#pragma once

#include <QAbstractScrollArea>

#include "Framework/Types.h"

class CDocument;
class QPainter;

class CScrollView : public QAbstractScrollArea {
    Q_OBJECT
public:
    explicit CScrollView(QWidget* parent = nullptr);
    ~CScrollView() override;

    // Two-step creation: construct, then Create runs OnCreate (window creation).
    // Returns false when OnCreate returns -1.
    bool Create(QWidget* parent = nullptr);

    CDocument* GetDocument() const { return m_pDocument; }
    void SetDocument(CDocument* pDoc);  // adds this view to the document's list

    // Scroll area in logical units; page and line steps of 0 mean the defaults
    // (a tenth of the total for a page, a tenth of a page for a line).
    void SetScrollSizes(CSize sizeTotal, CSize sizePage = CSize(), CSize sizeLine = CSize());
    CSize GetTotalSize() const { return m_sizeTotal; }
    CPoint GetScrollPosition() const;
    // Scrolls to a logical position, limited to the scroll range.
    void ScrollToPosition(CPoint pt);
    // With `on`, the scroll range reaches half the client area beyond each
    // edge of the scroll area, so that every logical position of the area
    // can be brought to the centre of the client area.
    void SetCentreAnywhere(bool on);

    // Client rectangle (0, 0, width, height) of the viewport in pixels.
    CRect GetClientRect() const;
    // Client pixels to logical units (adds the scroll position).
    CPoint DPtoLP(CPoint client) const;
    CRect DPtoLP(CRect client) const;

    // Paint requests: Invalidate asks for a draw in the next paint cycle;
    // RedrawNow draws at once (Invalidate + UpdateWindow).
    virtual void Invalidate();
    virtual void RedrawNow();

    // Shows or hides the pointer over the client area.
    virtual void SetCursorVisible(bool bVisible);

    // Framework hooks, overridden by deriving views.
    virtual int OnCreate() { return 0; }  // 0 or -1
    // Window destruction: run by the child frame when it closes, before the view
    // is deleted (GL views also run it from their destructor). Overrides call the
    // base and must tolerate a second call.
    virtual void OnDestroy() {}
    virtual void OnInitialUpdate();  // called once the view is in its frame
    virtual void OnUpdate(CScrollView* pSender, long lHint, void* pHint);  // invalidates
    virtual void OnDraw(QPainter* pDC);   // pDC is null for views that draw with GL
    virtual void OnSize(int cx, int cy);  // client size in pixels
    virtual void OnMouseMove(unsigned int nFlags, CPoint point);
    virtual void OnLButtonDown(unsigned int nFlags, CPoint point);
    virtual void OnLButtonUp(unsigned int nFlags, CPoint point);
    virtual void OnRButtonDown(unsigned int nFlags, CPoint point);
    virtual void OnRButtonUp(unsigned int nFlags, CPoint point);
    virtual void OnMButtonDown(unsigned int nFlags, CPoint point);
    virtual void OnMButtonUp(unsigned int nFlags, CPoint point);
    virtual void OnLButtonDblClk(unsigned int nFlags, CPoint point);
    // zDelta: multiples of 120, positive away from the user. Returns whether handled;
    // the base scrolls vertically by three lines per notch and returns true.
    virtual bool OnMouseWheel(unsigned int nFlags, short zDelta, CPoint point);
    virtual void OnKeyDown(unsigned int nChar, unsigned int nRepCnt, unsigned int nFlags);
    virtual void OnKeyUp(unsigned int nChar, unsigned int nRepCnt, unsigned int nFlags);
    virtual void OnChar(unsigned int nChar, unsigned int nRepCnt, unsigned int nFlags);

    // Qt to framework codes.
    static unsigned int MouseFlags(Qt::MouseButtons buttons, Qt::KeyboardModifiers mods);
    static unsigned int VirtualKey(int qtKey);

protected:
    // Installs a widget as the client area (viewport); used by the GL view.
    void SetClientWidget(QWidget* widget);
    // Scroll-bar ranges follow the total size and the client size.
    void UpdateScrollBars();

    bool viewportEvent(QEvent* event) override;
    void scrollContentsBy(int dx, int dy) override;
    void paintEvent(QPaintEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void keyReleaseEvent(QKeyEvent* event) override;

private:
    CDocument* m_pDocument = nullptr;  // not owned
    CSize m_sizeTotal;
    bool m_bCentreAnywhere = false;
    CSize m_sizePage;
    CSize m_sizeLine;
};
