// The main window: menus (128 with no document open, 129 while one is), the
// toolbar, the status bar with the message pane and the CAP, NUM and SCRL
// indicators, the accelerators, and the routing of commands to the active
// document and view.
#pragma once

#include <QPointer>
#include <QToolBar>
#include <map>

#include "Framework/MDIFrame.h"
#include "OpenGL/GLSurface.h"

class QAction;
class QActionGroup;
class QMenu;
class COrvaneView;
struct ProjectEvent;
class CCheckQueueDock;
class QTimer;

// Framework command ids used by the menus, the toolbar and the accelerators.
enum FrameworkCommand {
    ID_FILE_NEW = 57600,
    ID_FILE_OPEN = 57601,
    ID_FILE_CLOSE = 57602,
    ID_FILE_SAVE = 57603,
    ID_FILE_SAVE_AS = 57604,
    ID_FILE_EXPORT_POINTS = 32795,  // the live points as LAS or XYZ, without saving
    ID_FILE_PRINT_SETUP = 57606,
    ID_FILE_PRINT = 57607,
    ID_FILE_PRINT_DIRECT = 57608,
    ID_FILE_PRINT_PREVIEW = 57609,
    ID_FILE_MRU_FILE1 = 57616,
    ID_EDIT_COPY = 57634,
    ID_EDIT_CUT = 57635,
    ID_EDIT_PASTE = 57637,
    ID_EDIT_UNDO = 57643,
    ID_EDIT_REDO = 57644,
    ID_WINDOW_NEW = 57648,
    ID_WINDOW_ARRANGE = 57649,
    ID_WINDOW_CASCADE = 57650,
    ID_WINDOW_TILE_HORZ = 57651,
    ID_APP_ABOUT = 57664,
    ID_APP_EXIT = 57665,
    ID_NEXT_PANE = 57680,
    ID_PREV_PANE = 57681,
    ID_VIEW_TOOLBAR = 59392,
    ID_VIEW_STATUS_BAR = 59393,
};

// Commands of the main frame beyond the framework's.
enum MainFrameCommand {
    ID_VIEW_OVERVIEW = 32790,
};

class COverviewDock;
class QDockWidget;

class CMainFrame : public CMDIFrame {
    Q_OBJECT
public:
    CMainFrame();
    ~CMainFrame() override;

    // Builds the toolbar, the status bar, the menus and the accelerators:
    // 0, or -1 (with a debug trace line) when a bar cannot be made.
    int OnCreate();

    // The action of a command id (the first one made for it), or null.
    QAction* FindAction(int id) const;
    // Menu 129 while a document is open, 128 otherwise.
    void UpdateMenus();
    // The titles of the menus on the menu bar now.
    QStringList MenuTitles() const;
    // Undo and Redo enabled as the active document's history allows, their
    // prompts naming the step.
    // The check marks of the surface and mark-height items, from the active view.
    void UpdateViewChecks();
    void UpdateUndoActions();
    // The check queue's dock shows the active document's queue (when open),
    // and the overview its unchecked suspects.
    void UpdateCheckQueue();
    // The points changed: the overview's density follows.
    void OnPointsEdited();
    // A change of a document's project: the menus and the docks follow.
    void OnProjectEvent(const ProjectEvent& event);
    CCheckQueueDock* CheckQueueDock() const { return m_pCheckQueue; }
    // Holds the hint on how to start in the status bar while the active
    // document has no project.
    void UpdateStartHint();
    static constexpr const char* kStartHint = "Load a project with TIN > Editing (Orvane).";

    // Adds a dock at the right edge. A click into it keeps the keyboard there;
    // Escape inside it gives the keyboard back to the active view.
    void AddDock(QDockWidget* dock);
    COverviewDock* GetOverviewDock() const;

    QToolBar* m_wndToolBar = nullptr;

protected:
    // After the documents agreed to close: the docks and bars are kept in
    // the settings for the next session.
    void closeEvent(QCloseEvent* event) override;

private:
    QAction* MakeAction(int id, const QString& text, const QString& prompt = QString());
    void BuildMenus();
    void OnCommand(int id);
    COrvaneView* ActiveOrvaneView() const;
    void SetPresentation(StereoPresentation mode);
    void UpdateStereoMenu();
    // Appends one entry per open window to the Window menu (after the commands).
    void ListWindows(QMenu* menu);

    std::map<int, QAction*> m_actions;
    QList<QMenu*> m_menus128;
    QList<QMenu*> m_menus129;
    QMenu* m_pStereoMenu = nullptr;
    QActionGroup* m_pStereoGroup = nullptr;
    std::map<StereoPresentation, QAction*> m_stereoActions;
    QAction* m_pSwapEyes = nullptr;
    bool m_bShowing129 = false;
    QMenu* m_pWindowMenu = nullptr;
    CCheckQueueDock* m_pCheckQueue = nullptr;  // owned by Qt (dock of this frame)
    QTimer* m_pDensityTimer = nullptr;         // owned by Qt
    QTimer* m_pPitsTimer = nullptr;            // the contours' pits and peaks after a run of edits
    QPointer<COverviewDock> m_pOverviewDock;
    QList<QAction*> m_windowEntries;
};
