// The application object and its About box.
#pragma once

#include <QDialog>
#include <QStringList>

#include "Framework/WinApp.h"

class CMainFrame;

// The document template string: no window title of its own, document and
// new-file name "Orvane", filter "Points(*.pts)" with extension ".pts", file
// type id and name "Orvane Document".
inline constexpr const char* kOrvaneDocString =
    "\nOrvane\nOrvane\nPoints(*.pts)\n.pts\nOrvane Document\nOrvane Document";

class COrvaneApp : public CWinApp {
    Q_OBJECT
public:
    COrvaneApp();
    ~COrvaneApp() override;

    // Start-up: settings key, recent-file list of 4, the document template,
    // the main frame, the command line, then the main window is shown.
    bool InitInstance() override;
    bool InitInstance(const QStringList& args);

    void OnAppAbout();
    CMainFrame* GetMainFrame() const { return m_pFrame; }

private:
    CMainFrame* m_pFrame = nullptr;  // owned by Qt (deleted on close)
};

// "About Orvane" (dialog 100).
class CAboutDlg : public QDialog {
public:
    explicit CAboutDlg(QWidget* parent = nullptr);
};
