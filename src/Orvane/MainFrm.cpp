#include "Orvane/MainFrm.h"

#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QCloseEvent>
#include <QDoubleSpinBox>
#include <QKeyEvent>
#include <QMdiSubWindow>
#include <QMenu>
#include <QMenuBar>
#include <QPointer>
#include <QShortcut>
#include <QStyle>
#include <QTableView>
#include <QTimer>
#include <cmath>

#include "Framework/Document.h"
#include "Framework/Messages.h"
#include "Framework/StatusBar.h"
#include "Framework/WinApp.h"
#include "Orvane/CheckQueueDock.h"
#include "Orvane/Orvane.h"
#include "Orvane/OrvaneDoc.h"
#include "Orvane/OrvaneView.h"
#include "Orvane/OverviewDock.h"

namespace {

// Status-bar prompts (and tool tips after the line break) of the commands.
const std::map<int, const char*>& Prompts() {
    static const std::map<int, const char*> prompts = {
        {ID_FILE_NEW, "Create a new document\nNew"},
        {ID_FILE_OPEN, "Open an existing document\nOpen"},
        {ID_FILE_CLOSE, "Close the active document\nClose"},
        {ID_FILE_SAVE, "Save the active document\nSave"},
        {ID_FILE_SAVE_AS, "Save the active document with a new name\nSave As"},
        {ID_FILE_EXPORT_POINTS,
         "Write the points with the current edits to a LAS or XYZ file; the points file is not "
         "changed\nExport Points"},
        {ID_FILE_PRINT_SETUP, "Change the printer and printing options\nPrint Setup"},
        {ID_FILE_PRINT, "Print the active document\nPrint"},
        {ID_FILE_PRINT_PREVIEW, "Display full pages\nPrint Preview"},
        {ID_FILE_MRU_FILE1, "Open this document"},
        {ID_APP_EXIT, "Quit the application; prompts to save documents\nExit"},
        {ID_EDIT_UNDO, "Undo the last action\nUndo"},
        {ID_EDIT_REDO, "Redo the previously undone action\nRedo"},
        {ID_EDIT_CUT, "Cut the selection and put it on the Clipboard\nCut"},
        {ID_EDIT_COPY, "Copy the selection and put it on the Clipboard\nCopy"},
        {ID_EDIT_PASTE, "Insert Clipboard contents\nPaste"},
        {ID_VIEW_TOOLBAR, "Show or hide the toolbar\nToggle ToolBar"},
        {ID_VIEW_STATUS_BAR, "Show or hide the status bar\nToggle StatusBar"},
        {ID_WINDOW_NEW, "Open another window for the active document\nNew Window"},
        {ID_WINDOW_ARRANGE, "Arrange icons at the bottom of the window\nArrange Icons"},
        {ID_WINDOW_CASCADE, "Arrange windows so they overlap\nCascade Windows"},
        {ID_WINDOW_TILE_HORZ, "Arrange windows as non-overlapping tiles\nTile Windows"},
        {ID_APP_ABOUT, "Display program information, version number and copyright\nAbout"},
        {ID_NEXT_PANE, "Switch to the next window pane\nNext Pane"},
        {ID_PREV_PANE, "Switch back to the previous window pane\nPrevious Pane"},
        {ID_TIN_FITTOPLANE, "Fit the chosen points onto a plane."},
        {ID_TIN_OPTIONS, "Setting the options, like point color, size, etc."},
        {ID_TIN_SETNEWZ, "Set all selected points to a new Z value."},
        {ID_TIN_SMOOTHSLOPE, "Smooth the TIN based on slope."},
        {ID_TIN_SMOOTHAVERAGE, "Smooth the TIN by averaging."},
        {ID_TIN_DELETEPOINTS, "Delete the selected points."},
        {ID_TIN_POLYGONSELECTING, "Select points by defining a polygon."},
        {ID_VIEW_TEST, "For all kind of codes testing."},
        {ID_TIN_GOTOPOINT, "Move the scene where the point is to the center of the screen."},
        {ID_VIEW_CHECKQUEUE, "Show or hide the queue of suspect points"},
        {ID_TIN_NEXTSUSPECT, "Go to the next suspect point of the check queue (key n)"},
        {ID_TIN_PREVIOUSSUSPECT, "Go back to the previous suspect point (key p)"},
        {ID_TIN_ACCEPTSUSPECT, "Accept the current suspect point as it is: checked (key k)"},
        {ID_TIN_SETTOSURFACE,
         "Set the selected points to the surface of their neighbours, along the left ray (key f)"},
        {ID_VIEW_OVERVIEW, "Show or hide the overview of the whole left photograph\nOverview"},
        {ID_VIEW_ZOOMIN, "Show the photographs twice as large\nZoom In"},
        {ID_VIEW_ZOOMOUT, "Show the photographs half as large\nZoom Out"},
        {ID_VIEW_ZOOMTOFIT, "Show the whole left photograph\nZoom To Fit"},
        {ID_VIEW_ACTUALPIXELS, "Show one photograph pixel per screen pixel\nActual Pixels"},
        {ID_TIN_MATCHZ, "Measure the heights of the selected points from the photographs (key m)"},
        {ID_TIN_AUTOHEIGHT,
         "The floating mark takes the height the photographs give under the mouse (key h)"},
        {ID_TIN_DRAPE, "The floating mark follows the surface of the points (key g)"},
        {ID_VIEW_CONTOURS, "Show or hide the contours of the points' surface (key c)"},
        {ID_VIEW_TRIANGLES, "Show or hide the triangles of the points' surface (key t)"},
        {ID_VIEW_CONTOURINTERVAL, "Set the height between two contours"},
        {ID_FILE_EXPORTCONTOURS, "Write the contours as drawn to a GeoJSON, Shapefile or DXF file"},
    };
    return prompts;
}

}  // namespace

CMainFrame::CMainFrame() = default;
CMainFrame::~CMainFrame() {
    COrvaneDoc::s_fnFrameEvents = nullptr;
    COrvaneDoc::s_fnViewState = nullptr;
}

void CMainFrame::closeEvent(QCloseEvent* event) {
    CMDIFrame::closeEvent(event);
    if (!event->isAccepted()) return;
    if (CWinApp* app = CWinApp::GetApp())
        app->WriteProfileValue(QStringLiteral("Main Frame/Docks"), saveState());
}

void CMainFrame::OnProjectEvent(const ProjectEvent& event) {
    switch (event.change) {
        case ProjectChange::HistoryChanged:
            UpdateUndoActions();
            break;
        case ProjectChange::Loaded:
        case ProjectChange::PointsEdited:
            OnPointsEdited();
            break;
        case ProjectChange::ChecksChanged:
            UpdateCheckQueue();
            break;
        default:
            break;
    }
}

QAction* CMainFrame::FindAction(int id) const {
    auto it = m_actions.find(id);
    return it == m_actions.end() ? nullptr : it->second;
}

QAction* CMainFrame::MakeAction(int id, const QString& text, const QString& prompt) {
    if (QAction* existing = FindAction(id)) return existing;
    auto* action = new QAction(text, this);
    action->setData(id);
    QString tip = prompt;
    if (tip.isEmpty()) {
        auto it = Prompts().find(id);
        if (it != Prompts().end()) tip = QString::fromLatin1(it->second);
    }
    const int lineBreak = tip.indexOf('\n');
    action->setStatusTip(lineBreak < 0 ? tip : tip.left(lineBreak));
    if (lineBreak >= 0) action->setToolTip(tip.mid(lineBreak + 1));
    connect(action, &QAction::triggered, this, [this, id] { OnCommand(id); });
    m_actions[id] = action;
    return action;
}

int CMainFrame::OnCreate() {
    // Every document's project events reach the menus and the docks.
    COrvaneDoc::s_fnFrameEvents = [this](const COrvaneDoc&, const ProjectEvent& event) {
        OnProjectEvent(event);
    };
    // A document's project file keeps the offsets and the stereo mode of its
    // view (the active one when it has several).
    COrvaneDoc::s_fnViewState = [this](const COrvaneDoc& doc, ProjectFileData& data) {
        COrvaneView* view = ActiveOrvaneView();
        if (!view || view->GetDocument() != &doc)
            view = dynamic_cast<COrvaneView*>(doc.GetFirstView());
        if (!view) return false;
        data.xOffset = view->m_nXOffset;
        data.yOffset = view->m_nYOffset;
        data.stereoMode = COrvaneView::PresentationName(view->GetPresentation());
        return true;
    };
    // Toolbar 128.
    m_wndToolBar = addToolBar(QStringLiteral("Standard"));
    if (!m_wndToolBar) {
        Trace(QStringLiteral("Failed to create toolbar\n"));
        return -1;
    }
    m_wndToolBar->setObjectName(QStringLiteral("128"));
    m_wndToolBar->setMovable(true);
    m_wndToolBar->setIconSize(QSize(16, 15));
    // Status bar: message pane, CAP, NUM, SCRL.
    // Status bar: message pane, the view's selected count, Z step, parallax and
    // mark position, then CAP, NUM, SCRL.
    if (!CreateStatusBar({QString(), QString(), QString(), QString(), QString(), QString(),
                          QStringLiteral("CAP"), QStringLiteral("NUM"), QStringLiteral("SCRL")})) {
        Trace(QStringLiteral("Failed to create status bar\n"));
        return -1;
    }
    SetIdleMessage(QStringLiteral("Ready"));
    // Room for the widest texts the view writes into its panes.
    CStatusBar* bar = GetStatusBar();
    bar->SetPaneMinimumText(kPaneSelected, QStringLiteral("000000 selected"));
    bar->SetPaneMinimumText(kPaneZStep, QStringLiteral("Z step 0.0000"));
    bar->SetPaneMinimumText(kPaneParallax, QStringLiteral("Parallax -000"));
    bar->SetPaneMinimumText(kPaneMark, QStringLiteral("X 000000.00 Y 0000000.00 Z 0000.00"));
    // The zoom takes the room there is: it must not widen the window.
    bar->SetPaneMinimumText(kPaneZoom, QString());
    BuildMenus();

    QStyle* style = QApplication::style();
    struct Button {
        int id;
        QStyle::StandardPixmap icon;
    };
    const Button buttons[] = {{ID_FILE_NEW, QStyle::SP_FileIcon},
                              {ID_FILE_OPEN, QStyle::SP_DialogOpenButton},
                              {ID_FILE_SAVE, QStyle::SP_DialogSaveButton},
                              {0, QStyle::SP_CustomBase},
                              {ID_EDIT_CUT, QStyle::SP_TrashIcon},
                              {ID_EDIT_COPY, QStyle::SP_FileDialogDetailedView},
                              {ID_EDIT_PASTE, QStyle::SP_FileDialogListView},
                              {0, QStyle::SP_CustomBase},
                              {ID_FILE_PRINT, QStyle::SP_DriveFDIcon},
                              {0, QStyle::SP_CustomBase},
                              {ID_APP_ABOUT, QStyle::SP_MessageBoxQuestion}};
    for (const Button& b : buttons) {
        if (b.id == 0) {
            m_wndToolBar->addSeparator();
            continue;
        }
        QAction* action = FindAction(b.id);
        if (action->icon().isNull()) action->setIcon(style->standardIcon(b.icon));
        m_wndToolBar->addAction(action);
    }
    // The check queue's dock, beside the stereo view, hidden until asked for.
    m_pCheckQueue = new CCheckQueueDock(this);
    AddDock(m_pCheckQueue);
    m_pCheckQueue->hide();
    m_pCheckQueue->m_fnGoTo = [this](int record) {
        COrvaneView* view = ActiveOrvaneView();
        if (!view) return;
        view->GetDocument()->m_checks.SetCurrent(record);
        view->GoToSuspect(record);
        // The table keeps the keyboard (arrows walk its rows) until Escape.
    };
    m_pCheckQueue->m_fnFilterChanged = [this] { UpdateCheckQueue(); };
    connect(m_pCheckQueue, &QDockWidget::visibilityChanged, this, [this](bool visible) {
        if (QAction* a = FindAction(ID_VIEW_CHECKQUEUE)) a->setChecked(visible);
        if (visible) UpdateCheckQueue();
    });
    connect(GetMDIArea(), &QMdiArea::subWindowActivated, this, [this] {
        UpdateMenus();
        UpdateCheckQueue();
    });

    // The overview follows the active view; hidden until asked for.
    m_pOverviewDock = new COverviewDock(this);
    AddDock(m_pOverviewDock);
    m_pOverviewDock->hide();
    QAction* overview = FindAction(ID_VIEW_OVERVIEW);
    connect(m_pOverviewDock, &QDockWidget::visibilityChanged, this,
            [this, overview] { overview->setChecked(!m_pOverviewDock->isHidden()); });
    connect(this, &CMDIFrame::activeViewChanged, this, [this] {
        if (m_pOverviewDock) m_pOverviewDock->GetOverview()->SetView(ActiveOrvaneView());
    });
    // The docks and bars as the last session left them.
    if (CWinApp* app = CWinApp::GetApp())
        restoreState(app->GetProfileValue(QStringLiteral("Main Frame/Docks")).toByteArray());
    UpdateMenus();
    return 0;
}

COverviewDock* CMainFrame::GetOverviewDock() const {
    return m_pOverviewDock;
}

void CMainFrame::AddDock(QDockWidget* dock) {
    addDockWidget(Qt::RightDockWidgetArea, dock);
    // Escape anywhere inside the dock (floating or not) returns the keyboard
    // to the active stereo view.
    auto* escape = new QShortcut(QKeySequence(Qt::Key_Escape), dock);
    escape->setContext(Qt::WidgetWithChildrenShortcut);
    connect(escape, &QShortcut::activated, this, [this] {
        CScrollView* view = GetActiveView();
        if (!view) return;
        activateWindow();
        view->setFocus(Qt::OtherFocusReason);
    });
}

void CMainFrame::BuildMenus() {
    // Actions shared by both menu sets.
    QAction* newDoc = MakeAction(ID_FILE_NEW, QStringLiteral("&New\tCtrl+N"));
    newDoc->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_N));
    QAction* open = MakeAction(ID_FILE_OPEN, QStringLiteral("&Open...\tCtrl+O"));
    open->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_O));
    QAction* close = MakeAction(ID_FILE_CLOSE, QStringLiteral("&Close"));
    QAction* save = MakeAction(ID_FILE_SAVE, QStringLiteral("&Save\tCtrl+S"));
    save->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_S));
    QAction* saveAs = MakeAction(ID_FILE_SAVE_AS, QStringLiteral("Save &As..."));
    QAction* exportPoints = MakeAction(ID_FILE_EXPORT_POINTS, QStringLiteral("&Export Points..."));
    QAction* print = MakeAction(ID_FILE_PRINT, QStringLiteral("&Print...\tCtrl+P"));
    print->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_P));
    QAction* preview = MakeAction(ID_FILE_PRINT_PREVIEW, QStringLiteral("Print Pre&view"));
    QAction* setup = MakeAction(ID_FILE_PRINT_SETUP, QStringLiteral("P&rint Setup..."));
    QAction* exitApp = MakeAction(ID_APP_EXIT, QStringLiteral("E&xit"));
    QAction* undo = MakeAction(ID_EDIT_UNDO, QStringLiteral("&Undo\tCtrl+Z"));
    undo->setShortcuts(
        {QKeySequence(Qt::CTRL | Qt::Key_Z), QKeySequence(Qt::ALT | Qt::Key_Backspace)});
    QAction* cut = MakeAction(ID_EDIT_CUT, QStringLiteral("Cu&t\tCtrl+X"));
    cut->setShortcuts(
        {QKeySequence(Qt::CTRL | Qt::Key_X), QKeySequence(Qt::SHIFT | Qt::Key_Delete)});
    QAction* copy = MakeAction(ID_EDIT_COPY, QStringLiteral("&Copy\tCtrl+C"));
    copy->setShortcuts(
        {QKeySequence(Qt::CTRL | Qt::Key_C), QKeySequence(Qt::CTRL | Qt::Key_Insert)});
    QAction* paste = MakeAction(ID_EDIT_PASTE, QStringLiteral("&Paste\tCtrl+V"));
    paste->setShortcuts(
        {QKeySequence(Qt::CTRL | Qt::Key_V), QKeySequence(Qt::SHIFT | Qt::Key_Insert)});
    QAction* redo = MakeAction(ID_EDIT_REDO, QStringLiteral("&Redo\tCtrl+Y"));
    redo->setShortcuts(
        {QKeySequence(Qt::CTRL | Qt::Key_Y), QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Z)});
    // Cut, Copy and Paste have no handler anywhere: always disabled. Undo and
    // Redo follow the active document's history.
    for (QAction* a : {undo, redo, cut, copy, paste}) a->setEnabled(false);
    QAction* toolbar = MakeAction(ID_VIEW_TOOLBAR, QStringLiteral("&Toolbar"));
    toolbar->setCheckable(true);
    toolbar->setChecked(true);
    QAction* statusBar = MakeAction(ID_VIEW_STATUS_BAR, QStringLiteral("&Status Bar"));
    statusBar->setCheckable(true);
    statusBar->setChecked(true);
    QAction* about = MakeAction(ID_APP_ABOUT, QStringLiteral("&About Orvane..."));
    QAction* nextPane = MakeAction(ID_NEXT_PANE, QStringLiteral("Next Pane"));
    nextPane->setShortcut(QKeySequence(Qt::Key_F6));
    QAction* prevPane = MakeAction(ID_PREV_PANE, QStringLiteral("Previous Pane"));
    prevPane->setShortcut(QKeySequence(Qt::SHIFT | Qt::Key_F6));
    addAction(nextPane);
    addAction(prevPane);

    CWinApp* app = CWinApp::GetApp();
    // Menu 128: no document open.
    {
        auto* file = new QMenu(QStringLiteral("&File"), this);
        file->addActions({newDoc, open});
        file->addSeparator();
        file->addAction(setup);
        file->addSeparator();
        QAction* placeholder = file->addAction(QStringLiteral("Recent File"));
        placeholder->setData(ID_FILE_MRU_FILE1);
        file->addSeparator();
        file->addAction(exitApp);
        if (app) app->AttachRecentFileMenu(file, placeholder);
        auto* view = new QMenu(QStringLiteral("&View"), this);
        view->addActions({toolbar, statusBar});
        auto* help = new QMenu(QStringLiteral("&Help"), this);
        help->addAction(about);
        m_menus128 = {file, view, help};
    }
    // Menu 129: a document is open.
    {
        auto* file = new QMenu(QStringLiteral("&File"), this);
        file->addActions(
            {newDoc, open, close, save, saveAs, exportPoints,
             MakeAction(ID_FILE_EXPORTCONTOURS, QStringLiteral("Export Con&tours..."))});
        file->addSeparator();
        file->addActions({print, preview, setup});
        file->addSeparator();
        QAction* placeholder = file->addAction(QStringLiteral("Recent File"));
        placeholder->setData(ID_FILE_MRU_FILE1);
        file->addSeparator();
        file->addAction(exitApp);
        if (app) app->AttachRecentFileMenu(file, placeholder);
        auto* edit = new QMenu(QStringLiteral("&Edit"), this);
        edit->addAction(undo);
        edit->addAction(redo);
        edit->addSeparator();
        edit->addActions({cut, copy, paste});
        auto* view = new QMenu(QStringLiteral("&View"), this);
        view->addActions({toolbar, statusBar, MakeAction(ID_VIEW_TEST, QStringLiteral("Test"))});
        QAction* queue = MakeAction(ID_VIEW_CHECKQUEUE, QStringLiteral("&Check Queue"));
        queue->setCheckable(true);
        view->addAction(queue);
        // Presentation of the two eyes on displays without quad buffers.
        m_pStereoMenu = view->addMenu(QStringLiteral("Stereo"));
        m_pStereoGroup = new QActionGroup(this);
        const std::pair<StereoPresentation, const char*> modes[] = {
            {StereoPresentation::Stereo, "&Quad-Buffered Stereo"},
            {StereoPresentation::Anaglyph, "&Anaglyph (Red/Cyan)"},
            {StereoPresentation::SideBySide, "&Side by Side"},
            {StereoPresentation::LeftOnly, "&Left Eye Only"},
            {StereoPresentation::RightOnly, "&Right Eye Only"}};
        for (const auto& [mode, text] : modes) {
            QAction* a = m_pStereoMenu->addAction(QString::fromLatin1(text));
            a->setCheckable(true);
            m_pStereoGroup->addAction(a);
            StereoPresentation m = mode;
            connect(a, &QAction::triggered, this, [this, m] { SetPresentation(m); });
            m_stereoActions[mode] = a;
        }
        m_pStereoMenu->addSeparator();
        m_pSwapEyes = m_pStereoMenu->addAction(QStringLiteral("S&wap Eyes"));
        m_pSwapEyes->setCheckable(true);
        connect(m_pSwapEyes, &QAction::triggered, this, [this](bool on) {
            if (COrvaneView* v = ActiveOrvaneView()) v->SetSwapEyes(on);
        });
        connect(m_pStereoMenu, &QMenu::aboutToShow, this, [this] { UpdateStereoMenu(); });
        QAction* overview = MakeAction(ID_VIEW_OVERVIEW, QStringLiteral("&Overview"));
        overview->setCheckable(true);
        view->addAction(overview);
        // Zoom. Ctrl++ also as the keyboard gives it without Shift (Ctrl+=)
        // and from the keypad; Ctrl+Shift+= arrives as Ctrl+Shift++, which Qt
        // matches to Ctrl++ itself (a second sequence for it would make the
        // shortcut ambiguous and do nothing).
        view->addSeparator();
        QAction* zoomIn = MakeAction(ID_VIEW_ZOOMIN, QStringLiteral("Zoom &In\tCtrl++"));
        zoomIn->setShortcuts(
            {QKeySequence(Qt::CTRL | Qt::Key_Plus), QKeySequence(Qt::CTRL | Qt::Key_Equal),
             QKeySequence(Qt::ControlModifier | Qt::KeypadModifier | Qt::Key_Plus)});
        QAction* zoomOut = MakeAction(ID_VIEW_ZOOMOUT, QStringLiteral("Zoom &Out\tCtrl+-"));
        zoomOut->setShortcuts(
            {QKeySequence(Qt::CTRL | Qt::Key_Minus),
             QKeySequence(Qt::ControlModifier | Qt::KeypadModifier | Qt::Key_Minus)});
        QAction* fit = MakeAction(ID_VIEW_ZOOMTOFIT, QStringLiteral("Zoom To &Fit\tCtrl+0"));
        fit->setShortcuts({QKeySequence(Qt::CTRL | Qt::Key_0),
                           QKeySequence(Qt::ControlModifier | Qt::KeypadModifier | Qt::Key_0)});
        QAction* actual =
            MakeAction(ID_VIEW_ACTUALPIXELS, QStringLiteral("&Actual Pixels\tCtrl+1"));
        actual->setShortcuts({QKeySequence(Qt::CTRL | Qt::Key_1),
                              QKeySequence(Qt::ControlModifier | Qt::KeypadModifier | Qt::Key_1)});
        view->addActions({zoomIn, zoomOut, fit, actual});
        // The surface of the points; the keys are the view's character bindings.
        view->addSeparator();
        QAction* contours = MakeAction(ID_VIEW_CONTOURS, QStringLiteral("Co&ntours\tc"));
        contours->setCheckable(true);
        QAction* triangles = MakeAction(ID_VIEW_TRIANGLES, QStringLiteral("T&riangles\tt"));
        triangles->setCheckable(true);
        view->addActions(
            {contours, triangles,
             MakeAction(ID_VIEW_CONTOURINTERVAL, QStringLiteral("Contour Inter&val..."))});
        connect(view, &QMenu::aboutToShow, this, [this] { UpdateViewChecks(); });

        auto* tin = new QMenu(QStringLiteral("TIN"), this);
        tin->addAction(
            MakeAction(ID_TIN_EDITING, QStringLiteral("Editing (Orvane)"), QStringLiteral("")));
        tin->addAction(MakeAction(ID_TIN_FITTOPLANE, QStringLiteral("Fit To Plane")));
        tin->addAction(MakeAction(ID_TIN_SETNEWZ, QStringLiteral("Set To A New Z")));
        tin->addAction(MakeAction(ID_TIN_DELETEPOINTS, QStringLiteral("Delete Points")));
        tin->addAction(MakeAction(ID_TIN_POLYGONSELECTING, QStringLiteral("Polygon Selecting")));
        tin->addAction(MakeAction(ID_TIN_GOTOPOINT, QStringLiteral("Go To Point")));
        tin->addAction(MakeAction(ID_TIN_OPTIONS, QStringLiteral("Options")));
        // Commands beyond the ones above follow a separator.
        tin->addSeparator();
        tin->addAction(MakeAction(ID_TIN_SMOOTHAVERAGE, QStringLiteral("Smooth")));
        // The check queue; the keys are the view's character bindings.
        tin->addAction(MakeAction(ID_TIN_NEXTSUSPECT, QStringLiteral("Next Suspect\tn")));
        tin->addAction(MakeAction(ID_TIN_PREVIOUSSUSPECT, QStringLiteral("Previous Suspect\tp")));
        tin->addAction(MakeAction(ID_TIN_ACCEPTSUSPECT, QStringLiteral("Accept Suspect\tk")));
        tin->addAction(MakeAction(ID_TIN_SETTOSURFACE, QStringLiteral("Set To Surface\tf")));
        // Heights from the photographs and the surface.
        tin->addAction(MakeAction(ID_TIN_MATCHZ, QStringLiteral("Match Z\tm")));
        QAction* autoHeight = MakeAction(ID_TIN_AUTOHEIGHT, QStringLiteral("Auto Height\th"));
        autoHeight->setCheckable(true);
        QAction* drape = MakeAction(ID_TIN_DRAPE, QStringLiteral("Drape\tg"));
        drape->setCheckable(true);
        tin->addActions({autoHeight, drape});
        connect(tin, &QMenu::aboutToShow, this, [this] { UpdateViewChecks(); });
        auto* window = new QMenu(QStringLiteral("&Window"), this);
        window->addAction(MakeAction(ID_WINDOW_NEW, QStringLiteral("&New Window")));
        window->addAction(MakeAction(ID_WINDOW_CASCADE, QStringLiteral("&Cascade")));
        window->addAction(MakeAction(ID_WINDOW_TILE_HORZ, QStringLiteral("&Tile")));
        window->addAction(MakeAction(ID_WINDOW_ARRANGE, QStringLiteral("&Arrange Icons")));
        // The open windows, listed anew each time the menu opens.
        connect(window, &QMenu::aboutToShow, this, [this, window] { ListWindows(window); });
        m_pWindowMenu = window;
        auto* help = new QMenu(QStringLiteral("&Help"), this);
        help->addAction(about);
        m_menus129 = {file, edit, view, tin, window, help};
    }
    // Smoothing based on slope is bound but on no menu (it runs the same
    // algorithm as TIN > Smooth).
    MakeAction(ID_TIN_SMOOTHSLOPE, QStringLiteral("Smooth Slope"));
}

void CMainFrame::UpdateViewChecks() {
    const COrvaneView* v = ActiveOrvaneView();
    const auto mode = v ? v->GetMarkHeightMode() : COrvaneView::MarkHeightMode::Off;
    const std::pair<int, bool> checks[] = {
        {ID_VIEW_CONTOURS, v && v->m_bShowContours},
        {ID_VIEW_TRIANGLES, v && v->m_bShowTriangles},
        {ID_TIN_AUTOHEIGHT, mode == COrvaneView::MarkHeightMode::AutoHeight},
        {ID_TIN_DRAPE, mode == COrvaneView::MarkHeightMode::Drape}};
    for (const auto& [id, on] : checks)
        if (QAction* a = FindAction(id)) a->setChecked(on);
}

void CMainFrame::UpdateUndoActions() {
    auto* doc = dynamic_cast<COrvaneDoc*>(GetActiveDocument());
    QAction* undo = FindAction(ID_EDIT_UNDO);
    QAction* redo = FindAction(ID_EDIT_REDO);
    if (!undo || !redo) return;
    const QString undoName = doc ? QString::fromStdString(doc->m_editor.UndoName()) : QString();
    const QString redoName = doc ? QString::fromStdString(doc->m_editor.RedoName()) : QString();
    undo->setEnabled(!undoName.isEmpty());
    redo->setEnabled(!redoName.isEmpty());
    undo->setStatusTip(undoName.isEmpty() ? QStringLiteral("Undo the last action")
                                          : QStringLiteral("Undo %1").arg(undoName));
    redo->setStatusTip(redoName.isEmpty() ? QStringLiteral("Redo the previously undone action")
                                          : QStringLiteral("Redo %1").arg(redoName));
}

void CMainFrame::UpdateCheckQueue() {
    const auto* doc = dynamic_cast<const COrvaneDoc*>(GetActiveDocument());
    const bool queueShown = m_pCheckQueue && m_pCheckQueue->isVisible();
    if (queueShown) m_pCheckQueue->Refresh(doc);
    if (!m_pOverviewDock) return;
    // With the queue's dock open, the overview shows its unchecked suspects
    // (above the dock's threshold) as dots, at their left image positions.
    std::vector<QPointF> dots;
    if (queueShown && doc && doc->m_leftPhoto.m_pImagePoints) {
        for (int i : doc->m_checks.Suspects(m_pCheckQueue->Threshold()->value(), true)) {
            const TINPoint* p = doc->m_leftPhoto.m_pImagePoints->GetPoint(i);
            if (p && std::isfinite(p->x) && std::isfinite(p->y)) dots.emplace_back(+p->x, +p->y);
        }
    }
    m_pOverviewDock->GetOverview()->SetMarkedPositions(std::move(dots));
}

void CMainFrame::OnPointsEdited() {
    // The queue's dock lists the contours' pits and peaks: found again once a
    // run of edits pauses, only while it shows.
    if (m_pCheckQueue && m_pCheckQueue->isVisible()) {
        if (!m_pPitsTimer) {
            m_pPitsTimer = new QTimer(this);
            m_pPitsTimer->setSingleShot(true);
            connect(m_pPitsTimer, &QTimer::timeout, this, [this] {
                if (auto* doc = dynamic_cast<COrvaneDoc*>(GetActiveDocument()))
                    doc->EnsureContourSuspects();
            });
        }
        m_pPitsTimer->start(300);
    }
    if (!m_pOverviewDock || !m_pOverviewDock->isVisible()) return;
    // A run of edits (wheel notches) recounts the density once, after it.
    if (!m_pDensityTimer) {
        m_pDensityTimer = new QTimer(this);
        m_pDensityTimer->setSingleShot(true);
        connect(m_pDensityTimer, &QTimer::timeout, this, [this] {
            if (m_pOverviewDock) m_pOverviewDock->GetOverview()->RefreshDensity();
        });
    }
    m_pDensityTimer->start(300);
}

void CMainFrame::UpdateMenus() {
    UpdateStartHint();
    UpdateUndoActions();
    const bool documentOpen = !GetMDIArea()->subWindowList().isEmpty();
    if (documentOpen == m_bShowing129 && !menuBar()->actions().isEmpty()) return;
    m_bShowing129 = documentOpen;
    menuBar()->clear();
    for (QMenu* menu : documentOpen ? m_menus129 : m_menus128) menuBar()->addMenu(menu);
}

void CMainFrame::UpdateStartHint() {
    CStatusBar* bar = GetStatusBar();
    if (!bar) return;
    const auto* doc = dynamic_cast<const COrvaneDoc*>(GetActiveDocument());
    if (!doc || !doc->IsProjectLoaded()) {
        // No project in sight (the last one closed): no read-out of it stays.
        bar->SetPaneText(kPaneMessage, QStringLiteral("Ready"), false);
        for (int pane : {kPaneSelected, kPaneZStep, kPaneParallax, kPaneMark})
            bar->SetPaneText(pane, QString(), false);
    }
    const QString hint = QString::fromLatin1(kStartHint);
    if (doc && !doc->IsProjectLoaded()) {
        // Held over the read-outs until a project is loaded.
        if (bar->GetHeldMessage() != hint) bar->HoldMessage(hint);
    } else if (bar->GetHeldMessage() == hint) {
        bar->HoldMessage(QString());
    }
}

void CMainFrame::ListWindows(QMenu* menu) {
    for (QAction* a : m_windowEntries) {
        menu->removeAction(a);
        a->deleteLater();
    }
    m_windowEntries.clear();
    const QList<QMdiSubWindow*> subs = GetMDIArea()->subWindowList();
    if (subs.isEmpty()) return;
    m_windowEntries.push_back(menu->addSeparator());
    int n = 0;
    for (QMdiSubWindow* sub : subs) {
        ++n;
        QString title = sub->windowTitle();
        title.replace(QLatin1Char('&'), QStringLiteral("&&"));
        QAction* a = menu->addAction(n < 10 ? QStringLiteral("&%1 %2").arg(n).arg(title)
                                            : QStringLiteral("%1 %2").arg(n).arg(title));
        a->setCheckable(true);
        a->setChecked(sub == GetMDIArea()->activeSubWindow());
        a->setStatusTip(QStringLiteral("Activate this window"));
        QPointer<QMdiSubWindow> target(sub);
        connect(a, &QAction::triggered, this, [this, target] {
            if (target) GetMDIArea()->setActiveSubWindow(target);
        });
        m_windowEntries.push_back(a);
    }
}

QStringList CMainFrame::MenuTitles() const {
    QStringList titles;
    for (QAction* a : menuBar()->actions()) titles << a->text();
    return titles;
}

COrvaneView* CMainFrame::ActiveOrvaneView() const {
    return dynamic_cast<COrvaneView*>(GetActiveView());
}

void CMainFrame::SetPresentation(StereoPresentation mode) {
    if (COrvaneView* v = ActiveOrvaneView()) {
        if (!v->SetPresentation(mode))
            ReportMessage(QStringLiteral("This display offers no quad-buffered stereo."),
                          Platform::MessageKind::Plain);
        v->Invalidate();
    }
    UpdateStereoMenu();
}

void CMainFrame::UpdateStereoMenu() {
    COrvaneView* v = ActiveOrvaneView();
    for (auto& [mode, action] : m_stereoActions) {
        action->setEnabled(v != nullptr &&
                           (mode != StereoPresentation::Stereo || CGLWindowDC::IsStereoGranted()));
        action->setChecked(v && v->GetPresentation() == mode);
    }
    m_pSwapEyes->setEnabled(v != nullptr);
    m_pSwapEyes->setChecked(v && v->GetSwapEyes());
}

void CMainFrame::OnCommand(int id) {
    CWinApp* app = CWinApp::GetApp();
    CDocument* doc = GetActiveDocument();
    // Wheel notches merge into one step only until another command runs.
    if (auto* orvane = dynamic_cast<COrvaneDoc*>(doc)) orvane->m_editor.CloseMerging();
    COpenGLView* glView = dynamic_cast<COpenGLView*>(GetActiveView());
    switch (id) {
        case ID_FILE_NEW:
            if (app) app->OnFileNew();
            break;
        case ID_FILE_OPEN:
            if (app) app->OnFileOpen();
            break;
        case ID_FILE_CLOSE:
            if (doc) doc->OnFileClose();
            break;
        case ID_FILE_SAVE:
            if (doc) doc->OnFileSave();
            break;
        case ID_FILE_SAVE_AS:
            if (doc) doc->OnFileSaveAs();
            break;
        case ID_EDIT_UNDO:
            if (auto* orvane = dynamic_cast<COrvaneDoc*>(doc)) orvane->OnEditUndo();
            break;
        case ID_EDIT_REDO:
            if (auto* orvane = dynamic_cast<COrvaneDoc*>(doc)) orvane->OnEditRedo();
            break;
        case ID_FILE_EXPORT_POINTS:
            if (auto* orvane = dynamic_cast<COrvaneDoc*>(doc)) orvane->OnExportPoints();
            break;
        case ID_FILE_PRINT:
            if (glView) glView->OnFilePrint();
            break;
        case ID_FILE_PRINT_DIRECT:
            if (glView) glView->OnFilePrintDirect();
            break;
        case ID_FILE_PRINT_PREVIEW:
            if (glView) glView->OnFilePrintPreview();
            break;
        case ID_FILE_PRINT_SETUP:
            if (app) app->OnFilePrintSetup();
            break;
        case ID_APP_EXIT:
            if (app) app->OnAppExit();
            break;
        case ID_APP_ABOUT:
            if (auto* orvane = dynamic_cast<COrvaneApp*>(app)) orvane->OnAppAbout();
            break;
        case ID_VIEW_TOOLBAR:
            m_wndToolBar->setVisible(!m_wndToolBar->isVisible());
            break;
        case ID_VIEW_STATUS_BAR:
            GetStatusBar()->setVisible(!GetStatusBar()->isVisible());
            break;
        case ID_VIEW_CHECKQUEUE:
            m_pCheckQueue->setVisible(!m_pCheckQueue->isVisible());
            if (auto* orvane = dynamic_cast<COrvaneDoc*>(doc); orvane && m_pCheckQueue->isVisible())
                orvane->EnsureContourSuspects();
            UpdateCheckQueue();
            break;
        case ID_VIEW_OVERVIEW:
            m_pOverviewDock->setVisible(m_pOverviewDock->isHidden());
            if (!m_pOverviewDock->isHidden())
                m_pOverviewDock->GetOverview()->SetView(ActiveOrvaneView());
            break;
        case ID_WINDOW_NEW:
            OnWindowNew();
            break;
        case ID_WINDOW_CASCADE:
            OnWindowCascade();
            break;
        case ID_WINDOW_TILE_HORZ:
            OnWindowTile();
            break;
        case ID_WINDOW_ARRANGE:
            OnWindowArrange();
            break;
        case ID_NEXT_PANE:
            GetMDIArea()->activateNextSubWindow();
            break;
        case ID_PREV_PANE:
            GetMDIArea()->activatePreviousSubWindow();
            break;
        default:
            if (COrvaneView* v = ActiveOrvaneView()) v->OnCommand(id);
            break;
    }
    UpdateMenus();
    UpdateViewChecks();
}
