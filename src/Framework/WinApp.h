// Application object: settings location, recent-file list, document templates,
// File > New / Open handling and the shared printer.
#pragma once

#include <QObject>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <functional>
#include <memory>
#include <vector>

class CDocTemplate;
class CDocument;
class CMDIFrame;
class CStatusBar;
class QPrinter;
class QMenu;
class QAction;

class CWinApp : public QObject {
    Q_OBJECT
public:
    // appName: application title (e.g. "Orvane"); a QApplication must exist.
    explicit CWinApp(const QString& appName);
    ~CWinApp() override;
    static CWinApp* GetApp();  // the single application object, or null
    // The main window's status bar, or null (no application, no main window).
    static CStatusBar* MainStatusBar();

    virtual bool InitInstance() { return true; }
    virtual int ExitInstance() { return 0; }

    // Settings are stored with QSettings(organisation = key, application = app name).
    void SetRegistryKey(const QString& key);
    // One value of the settings under the key ("Section/Entry"); nothing is
    // stored or read while no key is set.
    QVariant GetProfileValue(const QString& key, const QVariant& fallback = QVariant()) const;
    void WriteProfileValue(const QString& key, const QVariant& value);
    // Loads the recent-file list with at most nMaxMRU entries.
    void LoadStdProfileSettings(int nMaxMRU = 4);
    void AddToRecentFileList(const QString& path);
    // Drops a file that could not be opened from the list.
    void RemoveFromRecentFileList(const QString& path);
    QStringList GetRecentFileList() const { return m_recentFiles; }
    // The File menu shows the recent files in place of the placeholder action
    // ("Recent File", disabled while the list is empty); choosing one opens it.
    void AttachRecentFileMenu(QMenu* pMenu, QAction* pPlaceholder);

    void AddDocTemplate(std::unique_ptr<CDocTemplate> pTemplate);
    CDocTemplate* GetDocTemplate(int index = 0) const;

    CMDIFrame* m_pMainWnd = nullptr;  // not owned

    // No argument: a new document; one argument: open that file. False on failure.
    bool ProcessShellCommand(const QStringList& args);
    CDocument* OpenDocumentFile(const QString& path);

    QPrinter& GetPrinter();

public slots:
    void OnFileNew();
    void OnFileOpen();  // file dialog with the template's filter
    void OnFilePrintSetup();
    void OnAppExit();  // closes the main window (save prompts)

private:
    void SaveRecentFiles() const;
    void RefreshRecentFileMenus();

    QString m_strAppName;
    QString m_strRegistryKey;
    int m_nMaxMRU = 4;
    QStringList m_recentFiles;
    std::vector<std::unique_ptr<CDocTemplate>> m_templates;
    std::vector<std::pair<QMenu*, QAction*>> m_recentMenus;
    std::vector<QAction*> m_recentActions;
    std::unique_ptr<QPrinter> m_pPrinter;
};
