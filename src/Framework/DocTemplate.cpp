#include "Framework/DocTemplate.h"

#include <QMdiSubWindow>
#include <QPointer>
#include <QStringList>

#include "Framework/Document.h"
#include "Framework/MDIFrame.h"
#include "Framework/ScrollView.h"

CDocTemplate::CDocTemplate(const QString& docString, DocFactory makeDoc, ViewFactory makeView)
    : m_strDocStrings(docString), m_makeDoc(std::move(makeDoc)), m_makeView(std::move(makeView)) {}

CDocTemplate::~CDocTemplate() {
    // Views that outlive the template lose their document rather than keep a
    // dangling pointer to it.
    for (auto& doc : m_docList) {
        doc->m_pDocTemplate = nullptr;
        std::vector<CScrollView*> views = doc->GetViews();
        for (CScrollView* view : views) view->SetDocument(nullptr);
    }
}

QString CDocTemplate::GetDocString(DocStringIndex index) const {
    QStringList fields = m_strDocStrings.split(QLatin1Char('\n'));
    int i = static_cast<int>(index);
    return i < fields.size() ? fields[i] : QString();
}

QString CDocTemplate::GetFileDialogFilter() const {
    QString filter = GetDocString(filterName);
    if (!filter.isEmpty()) filter += QStringLiteral(";;");
    return filter + QStringLiteral("All Files (*)");
}

CDocument* CDocTemplate::OpenDocumentFile(const QString& path) {
    std::unique_ptr<CDocument> doc = m_makeDoc();
    if (!doc) return nullptr;
    doc->m_pDocTemplate = this;
    if (path.isEmpty()) {
        if (!doc->OnNewDocument()) return nullptr;
        ++m_nUntitledCount;
        doc->SetTitle(GetDocString(fileNewName) + QString::number(m_nUntitledCount));
    } else if (!doc->OnOpenDocument(path)) {
        return nullptr;
    }
    CDocument* raw = doc.get();
    m_docList.push_back(std::move(doc));
    if (!CreateNewFrame(raw)) {
        // No view was made: the document goes again.
        for (auto it = m_docList.begin(); it != m_docList.end(); ++it) {
            if (it->get() == raw) {
                m_docList.erase(it);
                break;
            }
        }
        return nullptr;
    }
    return raw;
}

CMDIChildFrame* CDocTemplate::CreateNewFrame(CDocument* pDoc) {
    std::unique_ptr<CScrollView> view = m_makeView();
    if (!view || !view->Create(nullptr)) return nullptr;
    view->SetDocument(pDoc);
    CScrollView* raw = view.get();
    // The frame owns the view (Qt parent) and is owned by the main frame's MDI area.
    CScrollView* pView = view.release();
    CMDIChildFrame* frame = m_makeFrame ? m_makeFrame(pView) : new CMDIChildFrame(pView);
    // A new window follows the active one: maximised when it is (as the first
    // window of the program is), otherwise at most of the client area.
    QMdiSubWindow* active = m_pMainFrame ? m_pMainFrame->GetMDIArea()->activeSubWindow() : nullptr;
    if (m_pMainFrame) {
        m_pMainFrame->AddChildFrame(frame);
    }
    if (m_pMainFrame && active && active->isMaximized()) {
        frame->showMaximized();
    } else {
        QSize area = m_pMainFrame ? m_pMainFrame->GetMDIArea()->viewport()->size() : QSize();
        if (area.width() < 400 || area.height() < 300) area = QSize(800, 600);
        frame->resize(area.width() * 3 / 4, area.height() * 3 / 4);
        frame->show();
    }
    raw->OnInitialUpdate();
    for (CScrollView* v : pDoc->GetViews()) {
        if (auto* f = qobject_cast<CMDIChildFrame*>(v->parentWidget())) f->OnUpdateFrameTitle();
    }
    if (m_pMainFrame) m_pMainFrame->OnUpdateFrameTitle();
    raw->setFocus();
    return frame;
}

std::vector<CDocument*> CDocTemplate::GetDocuments() const {
    std::vector<CDocument*> docs;
    for (const auto& doc : m_docList) docs.push_back(doc.get());
    return docs;
}

bool CDocTemplate::SaveAllModified() {
    for (CDocument* doc : GetDocuments()) {
        if (!doc->SaveModified()) return false;
    }
    return true;
}

void CDocTemplate::CloseAllDocuments() {
    for (CDocument* doc : GetDocuments()) {
        doc->OnCloseDocument();
        doc->MarkClosing();
        std::vector<QPointer<QWidget>> frames;
        for (CScrollView* view : doc->GetViews())
            frames.emplace_back(view->parentWidget() ? view->parentWidget() : view);
        for (auto& frame : frames) {
            if (frame) frame->close();
        }
    }
}

void CDocTemplate::OnLastViewClosed(CDocument* pDoc) {
    for (auto it = m_docList.begin(); it != m_docList.end(); ++it) {
        if (it->get() == pDoc) {
            std::unique_ptr<CDocument> dying = std::move(*it);
            m_docList.erase(it);
            return;  // dying is destroyed here
        }
    }
}
