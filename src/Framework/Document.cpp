#include "Framework/Document.h"

#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QPointer>
#include <algorithm>

#include "Framework/DocTemplate.h"
#include "Framework/MDIFrame.h"
#include "Framework/Messages.h"
#include "Framework/ScrollView.h"
#include "Framework/Types.h"
#include "Framework/WinApp.h"

CDocument::CDocument() = default;

CDocument::~CDocument() = default;

void CDocument::SetPathName(const QString& path, bool bAddToMRU) {
    m_strPathName = path;
    SetTitle(QFileInfo(path).fileName());
    if (bAddToMRU && !path.isEmpty()) {
        if (CWinApp* app = CWinApp::GetApp()) app->AddToRecentFileList(path);
    }
}

void CDocument::SetTitle(const QString& title) {
    m_strTitle = title;
    for (CScrollView* view : m_viewList) {
        if (auto* frame = qobject_cast<CMDIChildFrame*>(view->parentWidget()))
            frame->OnUpdateFrameTitle();
        if (auto* main = qobject_cast<CMDIFrame*>(view->window())) main->OnUpdateFrameTitle();
    }
}

void CDocument::AddView(CScrollView* pView) {
    if (pView && std::find(m_viewList.begin(), m_viewList.end(), pView) == m_viewList.end())
        m_viewList.push_back(pView);
}

void CDocument::RemoveView(CScrollView* pView) {
    auto it = std::find(m_viewList.begin(), m_viewList.end(), pView);
    if (it == m_viewList.end()) return;
    m_viewList.erase(it);
    if (m_viewList.empty() && m_pDocTemplate) {
        // Destroys this document: nothing may touch it afterwards.
        m_pDocTemplate->OnLastViewClosed(this);
        return;
    }
    // The windows left renumber (a single one drops its ":n").
    SetTitle(m_strTitle);
}

void CDocument::UpdateAllViews(CScrollView* pSender, long lHint, void* pHint) {
    for (CScrollView* view : m_viewList) {
        if (view != pSender) view->OnUpdate(pSender, lHint, pHint);
    }
}

bool CDocument::OnNewDocument() {
    m_strPathName.clear();
    SetModifiedFlag(false);
    return true;
}

bool CDocument::OnOpenDocument(const QString& path) {
    // A file that is gone (a recent file of a moved project) or unreadable
    // is not opened as if it were there.
    if (!QFileInfo(path).isFile() || !QFileInfo(path).isReadable()) {
        ReportMessage(QStringLiteral("Cannot open %1.").arg(QDir::toNativeSeparators(path)));
        return false;
    }
    SetPathName(path);
    Serialize(false);
    SetModifiedFlag(false);
    return true;
}

bool CDocument::OnSaveDocument(const QString& /*path*/) {
    Serialize(true);
    SetModifiedFlag(false);
    return true;
}

void CDocument::OnCloseDocument() {}

void CDocument::Serialize(bool /*bStoring*/) {}

int CDocument::AskSaveChanges() {
    QString name = m_strTitle.isEmpty() ? m_strPathName : m_strTitle;
    QMessageBox::StandardButton answer = QMessageBox::question(
        QApplication::activeWindow(), QApplication::applicationName(),
        QStringLiteral("Save changes to %1?").arg(name),
        QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel, QMessageBox::Yes);
    if (answer == QMessageBox::Yes) return IDYES;
    if (answer == QMessageBox::No) return IDNO;
    return IDCANCEL;
}

QString CDocument::AskSavePath() {
    QString filter = m_pDocTemplate ? m_pDocTemplate->GetFileDialogFilter() : QString();
    QString proposed = m_strPathName.isEmpty() ? m_strTitle : m_strPathName;
    if (m_pDocTemplate && !proposed.isEmpty() && QFileInfo(proposed).suffix().isEmpty())
        proposed += m_pDocTemplate->GetDocString(CDocTemplate::filterExt);
    return QFileDialog::getSaveFileName(QApplication::activeWindow(), QStringLiteral("Save As"),
                                        proposed, filter);
}

bool CDocument::SaveModified() {
    if (!IsModified()) return true;
    switch (AskSaveChanges()) {
        case IDYES:
            return DoFileSave();
        case IDNO:
            return true;
        default:
            return false;
    }
}

bool CDocument::DoFileSave() {
    return DoSave(m_strPathName);
}

bool CDocument::DoSave(const QString& path, bool bReplace) {
    QString target = path;
    if (target.isEmpty()) {
        target = AskSavePath();
        if (target.isEmpty()) return false;  // cancelled
    }
    if (!OnSaveDocument(target)) return false;
    if (bReplace) SetPathName(target);
    return true;
}

void CDocument::OnFileClose() {
    if (!SaveModified()) return;
    OnCloseDocument();
    m_bClosing = true;
    std::vector<QPointer<QWidget>> frames;
    for (CScrollView* view : m_viewList) {
        QWidget* frame = view->parentWidget();
        frames.emplace_back(frame ? frame : view);
    }
    // Closing the last frame destroys this document (through its view).
    for (QPointer<QWidget>& frame : frames) {
        if (frame) frame->close();
    }
}
