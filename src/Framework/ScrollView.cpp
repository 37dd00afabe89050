#include "Framework/ScrollView.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>
#include <QWheelEvent>
#include <algorithm>

#include "Framework/Document.h"

CScrollView::CScrollView(QWidget* parent) : QAbstractScrollArea(parent) {
    setFocusPolicy(Qt::StrongFocus);
    setMouseTracking(true);
    viewport()->setMouseTracking(true);
    setFrameShape(QFrame::NoFrame);
}

CScrollView::~CScrollView() {
    if (m_pDocument) {
        CDocument* doc = m_pDocument;
        m_pDocument = nullptr;
        doc->RemoveView(this);  // may destroy the document
    }
}

bool CScrollView::Create(QWidget* parent) {
    if (parent) setParent(parent);
    return OnCreate() != -1;
}

void CScrollView::SetDocument(CDocument* pDoc) {
    if (m_pDocument == pDoc) return;
    if (m_pDocument) m_pDocument->RemoveView(this);
    m_pDocument = pDoc;
    if (pDoc) pDoc->AddView(this);
}

void CScrollView::SetClientWidget(QWidget* widget) {
    setViewport(widget);
    widget->setMouseTracking(true);
    UpdateScrollBars();
}

void CScrollView::SetScrollSizes(CSize sizeTotal, CSize sizePage, CSize sizeLine) {
    m_sizeTotal = CSize(std::max(0, sizeTotal.cx), std::max(0, sizeTotal.cy));
    m_sizePage = sizePage;
    m_sizeLine = sizeLine;
    if (m_sizePage.cx <= 0) m_sizePage.cx = std::max(1, m_sizeTotal.cx / 10);
    if (m_sizePage.cy <= 0) m_sizePage.cy = std::max(1, m_sizeTotal.cy / 10);
    if (m_sizeLine.cx <= 0) m_sizeLine.cx = std::max(1, m_sizePage.cx / 10);
    if (m_sizeLine.cy <= 0) m_sizeLine.cy = std::max(1, m_sizePage.cy / 10);
    UpdateScrollBars();
    Invalidate();
}

void CScrollView::UpdateScrollBars() {
    QSize client = viewport()->size();
    QScrollBar* h = horizontalScrollBar();
    QScrollBar* v = verticalScrollBar();
    if (m_bCentreAnywhere && m_sizeTotal.cx > 0 && m_sizeTotal.cy > 0) {
        // From the area's left edge at the client's centre to its right edge there.
        h->setRange(-(client.width() / 2), m_sizeTotal.cx - client.width() / 2);
        v->setRange(-(client.height() / 2), m_sizeTotal.cy - client.height() / 2);
    } else {
        h->setRange(0, std::max(0, m_sizeTotal.cx - client.width()));
        v->setRange(0, std::max(0, m_sizeTotal.cy - client.height()));
    }
    h->setPageStep(std::max(1, std::min(m_sizePage.cx, std::max(1, client.width()))));
    v->setPageStep(std::max(1, std::min(m_sizePage.cy, std::max(1, client.height()))));
    h->setSingleStep(std::max(1, m_sizeLine.cx));
    v->setSingleStep(std::max(1, m_sizeLine.cy));
}

void CScrollView::SetCentreAnywhere(bool on) {
    m_bCentreAnywhere = on;
    UpdateScrollBars();
}

CPoint CScrollView::GetScrollPosition() const {
    return CPoint(horizontalScrollBar()->value(), verticalScrollBar()->value());
}

void CScrollView::ScrollToPosition(CPoint pt) {
    // QScrollBar limits the value to its range.
    horizontalScrollBar()->setValue(pt.x);
    verticalScrollBar()->setValue(pt.y);
}

CRect CScrollView::GetClientRect() const {
    QSize client = viewport()->size();
    return CRect(0, 0, client.width(), client.height());
}

CPoint CScrollView::DPtoLP(CPoint client) const {
    CPoint pos = GetScrollPosition();
    return CPoint(client.x + pos.x, client.y + pos.y);
}

CRect CScrollView::DPtoLP(CRect client) const {
    CPoint pos = GetScrollPosition();
    client.OffsetRect(pos.x, pos.y);
    return client;
}

void CScrollView::Invalidate() {
    viewport()->update();
}

void CScrollView::RedrawNow() {
    viewport()->repaint();
}

void CScrollView::SetCursorVisible(bool bVisible) {
    if (bVisible)
        viewport()->unsetCursor();
    else
        viewport()->setCursor(Qt::BlankCursor);
}

void CScrollView::OnInitialUpdate() {
    OnUpdate(nullptr, 0, nullptr);
}

void CScrollView::OnUpdate(CScrollView*, long, void*) {
    Invalidate();
}

void CScrollView::OnDraw(QPainter*) {}

void CScrollView::OnSize(int, int) {
    UpdateScrollBars();
}

void CScrollView::OnMouseMove(unsigned int, CPoint) {}
void CScrollView::OnLButtonDown(unsigned int, CPoint) {}
void CScrollView::OnLButtonUp(unsigned int, CPoint) {}
void CScrollView::OnRButtonDown(unsigned int, CPoint) {}
void CScrollView::OnRButtonUp(unsigned int, CPoint) {}
void CScrollView::OnMButtonDown(unsigned int, CPoint) {}
void CScrollView::OnMButtonUp(unsigned int, CPoint) {}
void CScrollView::OnLButtonDblClk(unsigned int, CPoint) {}

bool CScrollView::OnMouseWheel(unsigned int, short zDelta, CPoint) {
    QScrollBar* v = verticalScrollBar();
    int notches = zDelta / 120;
    if (notches == 0) notches = zDelta > 0 ? 1 : (zDelta < 0 ? -1 : 0);
    v->setValue(v->value() - notches * 3 * v->singleStep());
    return true;
}

void CScrollView::OnKeyDown(unsigned int, unsigned int, unsigned int) {}
void CScrollView::OnKeyUp(unsigned int, unsigned int, unsigned int) {}
void CScrollView::OnChar(unsigned int, unsigned int, unsigned int) {}

unsigned int CScrollView::MouseFlags(Qt::MouseButtons buttons, Qt::KeyboardModifiers mods) {
    unsigned int flags = 0;
    if (buttons & Qt::LeftButton) flags |= MK_LBUTTON;
    if (buttons & Qt::RightButton) flags |= MK_RBUTTON;
    if (buttons & Qt::MiddleButton) flags |= MK_MBUTTON;
    if (mods & Qt::ShiftModifier) flags |= MK_SHIFT;
    if (mods & Qt::ControlModifier) flags |= MK_CONTROL;
    return flags;
}

unsigned int CScrollView::VirtualKey(int qtKey) {
    if (qtKey >= Qt::Key_A && qtKey <= Qt::Key_Z) return static_cast<unsigned int>(qtKey);
    if (qtKey >= Qt::Key_0 && qtKey <= Qt::Key_9) return static_cast<unsigned int>(qtKey);
    if (qtKey >= Qt::Key_F1 && qtKey <= Qt::Key_F24)
        return VK_F1 + static_cast<unsigned int>(qtKey - Qt::Key_F1);
    switch (qtKey) {
        case Qt::Key_Left:
            return VK_LEFT;
        case Qt::Key_Right:
            return VK_RIGHT;
        case Qt::Key_Up:
            return VK_UP;
        case Qt::Key_Down:
            return VK_DOWN;
        case Qt::Key_Backspace:
            return VK_BACK;
        case Qt::Key_Tab:
            return VK_TAB;
        case Qt::Key_Return:
        case Qt::Key_Enter:
            return VK_RETURN;
        case Qt::Key_Shift:
            return VK_SHIFT;
        case Qt::Key_Control:
            return VK_CONTROL;
        case Qt::Key_Alt:
            return VK_MENU;
        case Qt::Key_Escape:
            return VK_ESCAPE;
        case Qt::Key_Space:
            return VK_SPACE;
        case Qt::Key_PageUp:
            return VK_PRIOR;
        case Qt::Key_PageDown:
            return VK_NEXT;
        case Qt::Key_End:
            return VK_END;
        case Qt::Key_Home:
            return VK_HOME;
        case Qt::Key_Insert:
            return VK_INSERT;
        case Qt::Key_Delete:
            return VK_DELETE;
        default:
            return VK_UNKNOWN;
    }
}

bool CScrollView::viewportEvent(QEvent* event) {
    if (event->type() == QEvent::Resize) {
        QSize size = viewport()->size();
        OnSize(size.width(), size.height());
    }
    return QAbstractScrollArea::viewportEvent(event);
}

void CScrollView::scrollContentsBy(int, int) {
    Invalidate();
}

void CScrollView::paintEvent(QPaintEvent*) {
    QPainter painter(viewport());
    OnDraw(&painter);
}

namespace {
CPoint ClientPoint(const QMouseEvent* e) {
    QPoint p = e->position().toPoint();
    return CPoint(p.x(), p.y());
}
}  // namespace

void CScrollView::mouseMoveEvent(QMouseEvent* event) {
    OnMouseMove(MouseFlags(event->buttons(), event->modifiers()), ClientPoint(event));
}

void CScrollView::mousePressEvent(QMouseEvent* event) {
    unsigned int flags = MouseFlags(event->buttons(), event->modifiers());
    if (event->button() == Qt::LeftButton)
        OnLButtonDown(flags, ClientPoint(event));
    else if (event->button() == Qt::RightButton)
        OnRButtonDown(flags, ClientPoint(event));
    else if (event->button() == Qt::MiddleButton)
        OnMButtonDown(flags, ClientPoint(event));
}

void CScrollView::mouseReleaseEvent(QMouseEvent* event) {
    unsigned int flags = MouseFlags(event->buttons(), event->modifiers());
    if (event->button() == Qt::LeftButton)
        OnLButtonUp(flags, ClientPoint(event));
    else if (event->button() == Qt::RightButton)
        OnRButtonUp(flags, ClientPoint(event));
    else if (event->button() == Qt::MiddleButton)
        OnMButtonUp(flags, ClientPoint(event));
}

void CScrollView::mouseDoubleClickEvent(QMouseEvent* event) {
    unsigned int flags = MouseFlags(event->buttons(), event->modifiers());
    if (event->button() == Qt::LeftButton)
        OnLButtonDblClk(flags, ClientPoint(event));
    else if (event->button() == Qt::RightButton)
        OnRButtonDown(flags, ClientPoint(event));
}

void CScrollView::wheelEvent(QWheelEvent* event) {
    int delta = event->angleDelta().y();
    if (delta == 0) delta = event->angleDelta().x();
    delta = std::clamp(delta, -32768, 32767);
    QPoint p = event->position().toPoint();
    unsigned int flags = MouseFlags(event->buttons(), event->modifiers());
    if (OnMouseWheel(flags, static_cast<short>(delta), CPoint(p.x(), p.y())))
        event->accept();
    else
        event->ignore();
}

void CScrollView::keyPressEvent(QKeyEvent* event) {
    unsigned int flags = event->isAutoRepeat() ? 0x4000u : 0u;  // previous key state
    OnKeyDown(VirtualKey(event->key()), 1, flags);
    // Only plain and shifted characters are characters: with Ctrl, Alt or Meta
    // held the key is a shortcut (Ctrl+letter, Alt+letter for menus), never a
    // character binding of the view.
    if (event->modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier)) {
        event->accept();
        return;
    }
    const QString text = event->text();
    for (QChar ch : text) {
        if (ch.unicode() >= 0x20 || ch == QChar('\r') || ch == QChar('\b') || ch == QChar('\t') ||
            ch == QChar(0x1B))
            OnChar(ch.unicode(), 1, flags);
    }
    event->accept();
}

void CScrollView::keyReleaseEvent(QKeyEvent* event) {
    OnKeyUp(VirtualKey(event->key()), 1, 0xC000u);
    event->accept();
}
