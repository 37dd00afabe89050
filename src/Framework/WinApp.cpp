#include "Framework/WinApp.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QMdiSubWindow>
#include <QMenu>
#include <QPageSetupDialog>
#include <QPrinter>
#include <QSettings>
#include <algorithm>

#include "Framework/DocTemplate.h"
#include "Framework/Document.h"
#include "Framework/MDIFrame.h"
#include "Framework/ScrollView.h"

namespace {
CWinApp* g_pApp = nullptr;
}

CWinApp::CWinApp(const QString& appName) : m_strAppName(appName) {
    g_pApp = this;
    QApplication::setApplicationName(appName);
}

CWinApp::~CWinApp() {
    if (g_pApp == this) g_pApp = nullptr;
}

CWinApp* CWinApp::GetApp() {
    return g_pApp;
}

CStatusBar* CWinApp::MainStatusBar() {
    return g_pApp && g_pApp->m_pMainWnd ? g_pApp->m_pMainWnd->GetStatusBar() : nullptr;
}

void CWinApp::SetRegistryKey(const QString& key) {
    m_strRegistryKey = key;
    QApplication::setOrganizationName(key);
}

void CWinApp::LoadStdProfileSettings(int nMaxMRU) {
    m_nMaxMRU = std::max(0, nMaxMRU);
    QSettings settings(m_strRegistryKey, m_strAppName);
    m_recentFiles.clear();
    for (int i = 1; i <= m_nMaxMRU; ++i) {
        QString path = settings.value(QStringLiteral("Recent File List/File%1").arg(i)).toString();
        if (!path.isEmpty()) m_recentFiles.push_back(path);
    }
    RefreshRecentFileMenus();
}

QVariant CWinApp::GetProfileValue(const QString& key, const QVariant& fallback) const {
    if (m_strRegistryKey.isEmpty()) return fallback;
    return QSettings(m_strRegistryKey, m_strAppName).value(key, fallback);
}

void CWinApp::WriteProfileValue(const QString& key, const QVariant& value) {
    if (m_strRegistryKey.isEmpty()) return;
    QSettings(m_strRegistryKey, m_strAppName).setValue(key, value);
}

void CWinApp::SaveRecentFiles() const {
    if (m_strRegistryKey.isEmpty()) return;  // settings are stored only under a key
    QSettings settings(m_strRegistryKey, m_strAppName);
    settings.remove(QStringLiteral("Recent File List"));
    for (int i = 0; i < m_recentFiles.size(); ++i)
        settings.setValue(QStringLiteral("Recent File List/File%1").arg(i + 1), m_recentFiles[i]);
}

void CWinApp::AddToRecentFileList(const QString& path) {
    if (m_nMaxMRU <= 0 || path.isEmpty()) return;
    QString full = QDir::cleanPath(QFileInfo(path).absoluteFilePath());
    m_recentFiles.removeAll(full);
    m_recentFiles.prepend(full);
    while (m_recentFiles.size() > m_nMaxMRU) m_recentFiles.removeLast();
    SaveRecentFiles();
    RefreshRecentFileMenus();
}

void CWinApp::AttachRecentFileMenu(QMenu* pMenu, QAction* pPlaceholder) {
    m_recentMenus.emplace_back(pMenu, pPlaceholder);
    RefreshRecentFileMenus();
}

void CWinApp::RefreshRecentFileMenus() {
    for (QAction* action : m_recentActions) action->deleteLater();
    m_recentActions.clear();
    for (auto& [menu, placeholder] : m_recentMenus) {
        if (!menu || !placeholder) continue;
        placeholder->setEnabled(false);
        placeholder->setVisible(m_recentFiles.isEmpty());
        for (int i = 0; i < m_recentFiles.size(); ++i) {
            const QString path = m_recentFiles[i];
            auto* action = new QAction(QStringLiteral("&%1 %2").arg(i + 1).arg(path), menu);
            connect(action, &QAction::triggered, this, [this, path] { OpenDocumentFile(path); });
            menu->insertAction(placeholder, action);
            m_recentActions.push_back(action);
        }
    }
}

void CWinApp::AddDocTemplate(std::unique_ptr<CDocTemplate> pTemplate) {
    if (pTemplate) m_templates.push_back(std::move(pTemplate));
}

CDocTemplate* CWinApp::GetDocTemplate(int index) const {
    if (index < 0 || index >= static_cast<int>(m_templates.size())) return nullptr;
    return m_templates[static_cast<size_t>(index)].get();
}

bool CWinApp::ProcessShellCommand(const QStringList& args) {
    if (args.isEmpty()) {
        CDocTemplate* tpl = GetDocTemplate();
        return tpl && tpl->OpenDocumentFile(QString()) != nullptr;
    }
    return OpenDocumentFile(args.front()) != nullptr;
}

CDocument* CWinApp::OpenDocumentFile(const QString& path) {
    CDocTemplate* tpl = GetDocTemplate();
    if (!tpl) return nullptr;
    // A document already open on that path is activated instead of opened twice.
    for (CDocument* doc : tpl->GetDocuments()) {
        if (!path.isEmpty() && doc->GetPathName() == path) {
            if (CScrollView* view = doc->GetFirstView()) {
                if (auto* frame = qobject_cast<QMdiSubWindow*>(view->parentWidget()))
                    frame->setFocus();
            }
            return doc;
        }
    }
    CDocument* opened = tpl->OpenDocumentFile(path);
    if (!opened && !path.isEmpty()) RemoveFromRecentFileList(path);  // it says why itself
    return opened;
}

void CWinApp::RemoveFromRecentFileList(const QString& path) {
    const QString full = QDir::cleanPath(QFileInfo(path).absoluteFilePath());
    if (m_recentFiles.removeAll(full) == 0) return;
    SaveRecentFiles();
    RefreshRecentFileMenus();
}

QPrinter& CWinApp::GetPrinter() {
    if (!m_pPrinter) m_pPrinter = std::make_unique<QPrinter>(QPrinter::HighResolution);
    return *m_pPrinter;
}

void CWinApp::OnFileNew() {
    if (CDocTemplate* tpl = GetDocTemplate()) tpl->OpenDocumentFile(QString());
}

void CWinApp::OnFileOpen() {
    CDocTemplate* tpl = GetDocTemplate();
    if (!tpl) return;
    // The dialog starts in the folder of the last file opened (kept in the settings).
    const QString folder = GetProfileValue(QStringLiteral("Folders/Open")).toString();
    QString path = QFileDialog::getOpenFileName(m_pMainWnd, QStringLiteral("Open"), folder,
                                                tpl->GetFileDialogFilter());
    if (path.isEmpty()) return;
    WriteProfileValue(QStringLiteral("Folders/Open"), QFileInfo(path).absolutePath());
    OpenDocumentFile(path);
}

void CWinApp::OnFilePrintSetup() {
    QPageSetupDialog dialog(&GetPrinter(), m_pMainWnd);
    dialog.exec();
}

void CWinApp::OnAppExit() {
    if (m_pMainWnd) m_pMainWnd->close();
}
