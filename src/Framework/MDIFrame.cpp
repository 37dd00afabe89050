#include "Framework/MDIFrame.h"

#include <QApplication>
#include <QCloseEvent>
#include <QStatusTipEvent>
#include <QStyle>
#include <algorithm>
#include <memory>

#include "Framework/DocTemplate.h"
#include "Framework/Document.h"
#include "Framework/ScrollView.h"
#include "Framework/StatusBar.h"

CMDIFrame::CMDIFrame(QWidget* parent) : QMainWindow(parent) {
    m_pMDIArea = new QMdiArea(this);
    m_pMDIArea->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    m_pMDIArea->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    setCentralWidget(m_pMDIArea);
    connect(m_pMDIArea, &QMdiArea::subWindowActivated, this, [this](QMdiSubWindow*) {
        OnUpdateFrameTitle();
        emit activeViewChanged(GetActiveView());
    });
    // Sees every modal window of the program close (eventFilter).
    qApp->installEventFilter(this);
}

CMDIFrame::~CMDIFrame() {
    // The child frames (and with them the views and documents) go first, while
    // this frame is still whole; no activation signal may reach it meanwhile.
    disconnect(m_pMDIArea, nullptr, this, nullptr);
    const QList<QMdiSubWindow*> subs = m_pMDIArea->subWindowList();
    for (QMdiSubWindow* sub : subs) {
        std::unique_ptr<QMdiSubWindow> owner(sub);  // destroyed here
        if (auto* child = qobject_cast<CMDIChildFrame*>(sub)) {
            if (CScrollView* view = child->GetActiveView()) view->OnDestroy();
        }
    }
}

CStatusBar* CMDIFrame::CreateStatusBar(const QStringList& indicators) {
    auto* bar = new CStatusBar(this);
    if (!bar->SetIndicators(indicators)) return nullptr;
    setStatusBar(bar);
    m_pStatusBar = bar;
    bar->SetPaneText(0, m_strIdle, false);
    return bar;
}

void CMDIFrame::SetIdleMessage(const QString& text) {
    m_strIdle = text;
    if (m_pStatusBar) m_pStatusBar->SetPaneText(0, m_strIdle, false);
}

void CMDIFrame::SetAppTitle(const QString& title, bool bAddDocTitle) {
    m_strAppTitle = title;
    m_bAddDocTitle = bAddDocTitle;
    OnUpdateFrameTitle();
}

void CMDIFrame::OnUpdateFrameTitle() {
    QString title = m_strAppTitle;
    if (m_bAddDocTitle) {
        // The document shows once: "Orvane - points.pts", or with the child
        // maximised (its own title bar gone) "Orvane - [points.pts]".
        if (CMDIChildFrame* child = MDIGetActive()) {
            const QString docTitle = child->windowTitle();
            if (!docTitle.isEmpty()) {
                title += child->isMaximized() ? QStringLiteral(" - [%1]").arg(docTitle)
                                              : QStringLiteral(" - ") + docTitle;
            }
        }
    }
    setWindowTitle(title);
}

CMDIChildFrame* CMDIFrame::MDIGetActive() const {
    QMdiSubWindow* sub = m_pMDIArea->activeSubWindow();
    if (!sub) sub = m_pMDIArea->currentSubWindow();
    return qobject_cast<CMDIChildFrame*>(sub);
}

CScrollView* CMDIFrame::GetActiveView() const {
    CMDIChildFrame* child = MDIGetActive();
    return child ? child->GetActiveView() : nullptr;
}

CDocument* CMDIFrame::GetActiveDocument() const {
    CScrollView* view = GetActiveView();
    return view ? view->GetDocument() : nullptr;
}

void CMDIFrame::AddChildFrame(CMDIChildFrame* pFrame) {
    m_pMDIArea->addSubWindow(pFrame);
}

void CMDIFrame::OnWindowNew() {
    CDocument* doc = GetActiveDocument();
    if (doc && doc->GetDocTemplate()) doc->GetDocTemplate()->CreateNewFrame(doc);
}

void CMDIFrame::OnWindowCascade() {
    // Each window keeps three quarters of the client area, stepped down and
    // right by a title bar's height, so every title stays in reach and the
    // views stay big enough to work in.
    const QList<QMdiSubWindow*> subs = m_pMDIArea->subWindowList(QMdiArea::StackingOrder);
    const QSize area = m_pMDIArea->viewport()->size();
    const int step = std::max(20, style()->pixelMetric(QStyle::PM_TitleBarHeight) + 4);
    const int w = std::max(200, area.width() * 3 / 4), h = std::max(150, area.height() * 3 / 4);
    int k = 0;
    for (QMdiSubWindow* sub : subs) {
        if (sub->isMinimized()) continue;
        if (sub->isMaximized()) sub->showNormal();
        int x = k * step, y = k * step;
        if (x + w > area.width() || y + h > area.height()) {
            k = 0;
            x = y = 0;
        }
        sub->setGeometry(x, y, w, h);
        ++k;
    }
}

void CMDIFrame::OnWindowTile() {
    m_pMDIArea->tileSubWindows();
}

void CMDIFrame::OnWindowArrange() {
    // Minimised child frames are lined up along the bottom of the client area.
    const QList<QMdiSubWindow*> subs = m_pMDIArea->subWindowList();
    int x = 0;
    for (QMdiSubWindow* sub : subs) {
        if (!sub->isMinimized()) continue;
        QSize s = sub->size();
        sub->move(x, m_pMDIArea->viewport()->height() - s.height());
        x += s.width();
    }
}

bool CMDIFrame::event(QEvent* event) {
    if (event->type() == QEvent::StatusTip && m_pStatusBar) {
        auto* tip = static_cast<QStatusTipEvent*>(event);
        m_pStatusBar->SetPromptShown(!tip->tip().isEmpty());
        m_pStatusBar->SetPaneText(0, tip->tip().isEmpty() ? m_strIdle : tip->tip());
        return true;
    }
    return QMainWindow::event(event);
}

bool CMDIFrame::eventFilter(QObject* watched, QEvent* event) {
    // A window manager gives the X input focus back to the window a dialog was
    // opened over; without one (a bare virtual display) the focus falls to the
    // root window when the dialog unmaps, no window of the program is active,
    // and the window shortcuts and menu keys (Ctrl+Z, Alt+F) are lost until
    // some window asks for the activation again. Asked here at once, while the
    // dialog closes: a dialog shown right after this one asks later and so
    // stays in front.
    const QEvent::Type type = event->type();
    if ((type == QEvent::WindowDeactivate || type == QEvent::Hide) && watched->isWidgetType() &&
        watched != this) {
        auto* dialog = static_cast<QWidget*>(watched);
        // Qt takes the activation from a window while it unmaps it (still
        // visible, no longer mapped); a deactivation of a mapped window is the
        // operator turning to another program and is left alone.
        const bool closingActive =
            type == QEvent::WindowDeactivate
                ? dialog->isVisible() && !dialog->testAttribute(Qt::WA_Mapped)
                : dialog->isActiveWindow();
        if (closingActive && dialog->isWindow() && dialog->isModal()) {
            QWidget* owner = dialog->parentWidget() ? dialog->parentWidget()->window() : nullptr;
            if (!owner || !owner->isVisible()) owner = this;
            if (owner->isVisible()) owner->activateWindow();
        }
    }
    return QMainWindow::eventFilter(watched, event);
}

void CMDIFrame::closeEvent(QCloseEvent* event) {
    // Every modified document asks once, whatever number of frames it has.
    std::vector<CDocument*> docs;
    for (QMdiSubWindow* sub : m_pMDIArea->subWindowList()) {
        auto* child = qobject_cast<CMDIChildFrame*>(sub);
        CDocument* doc =
            child && child->GetActiveView() ? child->GetActiveView()->GetDocument() : nullptr;
        if (doc && std::find(docs.begin(), docs.end(), doc) == docs.end()) docs.push_back(doc);
    }
    for (CDocument* doc : docs) {
        if (!doc->SaveModified()) {
            event->ignore();
            return;
        }
    }
    // The answers were given above: the child frames now close without asking.
    for (CDocument* doc : docs) {
        doc->OnCloseDocument();
        doc->MarkClosing();
    }
    m_pMDIArea->closeAllSubWindows();
    event->accept();
}

CMDIChildFrame::CMDIChildFrame(CScrollView* pView, QWidget* parent)
    : QMdiSubWindow(parent), m_pView(pView) {
    setAttribute(Qt::WA_DeleteOnClose);
    setWidget(pView);
    OnUpdateFrameTitle();
}

void CMDIChildFrame::OnUpdateFrameTitle() {
    CDocument* doc = m_pView ? m_pView->GetDocument() : nullptr;
    if (!doc) return;
    QString title = doc->GetTitle();
    const auto& views = doc->GetViews();
    if (views.size() > 1) {
        auto it = std::find(views.begin(), views.end(), m_pView);
        title += QStringLiteral(":%1").arg(static_cast<int>(it - views.begin()) + 1);
    }
    setWindowTitle(title);
}

void CMDIChildFrame::closeEvent(QCloseEvent* event) {
    CDocument* doc = m_pView ? m_pView->GetDocument() : nullptr;
    if (doc && !doc->IsClosing() && doc->GetViews().size() == 1) {
        if (!doc->SaveModified()) {
            event->ignore();
            return;
        }
        doc->OnCloseDocument();
    }
    QMdiSubWindow::closeEvent(event);
    // The window goes away: the view releases what it holds while it is still whole.
    if (event->isAccepted() && m_pView) m_pView->OnDestroy();
}

void CMDIChildFrame::changeEvent(QEvent* event) {
    QMdiSubWindow::changeEvent(event);
    if (event->type() == QEvent::WindowStateChange) {
        if (auto* main = qobject_cast<CMDIFrame*>(window())) main->OnUpdateFrameTitle();
    }
}
