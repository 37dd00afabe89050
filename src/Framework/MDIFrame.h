// Multiple-document frames: the main window (QMainWindow with a QMdiArea as its
// client, a menu bar, toolbars and a status bar) and the child frame of each
// view (a QMdiSubWindow holding the view).
#pragma once

#include <QMainWindow>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QStringList>

class CStatusBar;
class CScrollView;
class CDocument;
class CMDIChildFrame;

class CMDIFrame : public QMainWindow {
    Q_OBJECT
public:
    explicit CMDIFrame(QWidget* parent = nullptr);
    ~CMDIFrame() override;

    QMdiArea* GetMDIArea() const { return m_pMDIArea; }

    // Creates the status bar with one pane per text (pane 0 is the message pane,
    // e.g. {"", "CAP", "NUM", "SCRL"}) and shows the idle text in pane 0.
    CStatusBar* CreateStatusBar(const QStringList& indicators);
    CStatusBar* GetStatusBar() const { return m_pStatusBar; }
    // Text shown in pane 0 when no prompt is shown (default "Ready").
    void SetIdleMessage(const QString& text);

    // Application title; with bAddDocTitle the active document's title is added:
    // "Orvane - Orvane1".
    void SetAppTitle(const QString& title, bool bAddDocTitle = true);
    void OnUpdateFrameTitle();

    CMDIChildFrame* MDIGetActive() const;
    CScrollView* GetActiveView() const;          // view of the active child frame
    CDocument* GetActiveDocument() const;        // its document
    void AddChildFrame(CMDIChildFrame* pFrame);  // takes ownership (Qt parent)

public slots:
    void OnWindowNew();  // another frame and view on the active document
    void OnWindowCascade();
    void OnWindowTile();
    void OnWindowArrange();

signals:
    void activeViewChanged(CScrollView* view);

protected:
    // Status tips of menus and toolbars go to pane 0 (the idle text when empty).
    bool event(QEvent* event) override;
    // Exit: the save prompt for every modified document; closing stops on Cancel.
    void closeEvent(QCloseEvent* event) override;
    // A modal window of the program that closes while it is the active one
    // gives the activation back to the window it was opened over.
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QMdiArea* m_pMDIArea = nullptr;
    CStatusBar* m_pStatusBar = nullptr;
    QString m_strIdle = QStringLiteral("Ready");
    QString m_strAppTitle;
    bool m_bAddDocTitle = true;
};

class CMDIChildFrame : public QMdiSubWindow {
    Q_OBJECT
public:
    // Takes the view (Qt parent becomes this frame).
    explicit CMDIChildFrame(CScrollView* pView, QWidget* parent = nullptr);
    CScrollView* GetActiveView() const { return m_pView; }
    // Title "<document title>" or "<title>:<n>" when the document has several views.
    void OnUpdateFrameTitle();

protected:
    // Closing the last frame of a modified document asks the save prompt first.
    void closeEvent(QCloseEvent* event) override;
    // Maximising or restoring changes how the main frame's title shows the document.
    void changeEvent(QEvent* event) override;

private:
    CScrollView* m_pView = nullptr;  // owned by Qt (child widget)
};
