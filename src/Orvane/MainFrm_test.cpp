// The main frame: menus with their ids, texts and prompts, the disabled edit
// commands, the toolbar, the status bar panes and the About box.
#include <QMenu>
#include <QMenuBar>

#include "Framework/StatusBar.h"
#include "testing/OrvaneTestSupport.h"

using namespace orvane_test;

namespace {

struct Item {
    int id;
    std::string text;
};

QMenu* MenuNamed(CMainFrame* frame, const QString& title) {
    for (QAction* a : frame->menuBar()->actions())
        if (a->text() == title) return a->menu();
    return nullptr;
}

std::vector<Item> Items(QMenu* menu) {
    std::vector<Item> items;
    for (QAction* a : menu->actions()) {
        if (a->isSeparator() || a->menu()) continue;
        items.push_back({a->data().toInt(), a->text().toStdString()});
    }
    return items;
}

void ExpectItems(QMenu* menu, const std::vector<Item>& expected) {
    ASSERT_TRUE(menu);
    std::vector<Item> items = Items(menu);
    ASSERT_EQ(items.size(), expected.size()) << menu->title().toStdString();
    for (size_t i = 0; i < items.size(); ++i) {
        EXPECT_EQ(items[i].id, expected[i].id) << expected[i].text;
        EXPECT_EQ(items[i].text, expected[i].text);
    }
}

}  // namespace

TEST(MainFrame, DocumentMenusCarryTheirIdsAndTexts) {
    AppHarness h;
    ASSERT_TRUE(h.frame);
    EXPECT_EQ(h.frame->MenuTitles(),
              (QStringList{"&File", "&Edit", "&View", "TIN", "&Window", "&Help"}));
    ExpectItems(MenuNamed(h.frame, "&File"), {{57600, "&New\tCtrl+N"},
                                              {57601, "&Open...\tCtrl+O"},
                                              {57602, "&Close"},
                                              {57603, "&Save\tCtrl+S"},
                                              {57604, "Save &As..."},
                                              {32795, "&Export Points..."},
                                              {32823, "Export Con&tours..."},
                                              {57607, "&Print...\tCtrl+P"},
                                              {57609, "Print Pre&view"},
                                              {57606, "P&rint Setup..."},
                                              {57616, "Recent File"},
                                              {57665, "E&xit"}});
    ExpectItems(MenuNamed(h.frame, "&Edit"), {{57643, "&Undo\tCtrl+Z"},
                                              {57644, "&Redo\tCtrl+Y"},
                                              {57635, "Cu&t\tCtrl+X"},
                                              {57634, "&Copy\tCtrl+C"},
                                              {57637, "&Paste\tCtrl+V"}});
    ExpectItems(MenuNamed(h.frame, "&View"), {{59392, "&Toolbar"},
                                              {59393, "&Status Bar"},
                                              {32782, "Test"},
                                              {32791, "&Check Queue"},
                                              {32790, "&Overview"},
                                              {32800, "Zoom &In\tCtrl++"},
                                              {32801, "Zoom &Out\tCtrl+-"},
                                              {32802, "Zoom To &Fit\tCtrl+0"},
                                              {32803, "&Actual Pixels\tCtrl+1"},
                                              {32820, "Co&ntours\tc"},
                                              {32821, "T&riangles\tt"},
                                              {32822, "Contour Inter&val..."}});
    ExpectItems(MenuNamed(h.frame, "TIN"), {{32771, "Editing (Orvane)"},
                                            {32772, "Fit To Plane"},
                                            {32775, "Set To A New Z"},
                                            {32778, "Delete Points"},
                                            {32781, "Polygon Selecting"},
                                            {32783, "Go To Point"},
                                            {32773, "Options"},
                                            {32777, "Smooth"},
                                            {32792, "Next Suspect\tn"},
                                            {32793, "Previous Suspect\tp"},
                                            {32830, "Accept Suspect\tk"},
                                            {32794, "Set To Surface\tf"},
                                            {32810, "Match Z\tm"},
                                            {32811, "Auto Height\th"},
                                            {32824, "Drape\tg"}});
    ExpectItems(
        MenuNamed(h.frame, "&Window"),
        {{57648, "&New Window"}, {57650, "&Cascade"}, {57651, "&Tile"}, {57649, "&Arrange Icons"}});
    ExpectItems(MenuNamed(h.frame, "&Help"), {{57664, "&About Orvane..."}});
    // Nothing to undo or redo yet; Cut, Copy and Paste have no handler.
    for (int id : {57643, 57644, 57635, 57634, 57637})
        EXPECT_FALSE(h.frame->FindAction(id)->isEnabled());
    EXPECT_EQ(h.frame->FindAction(32772)->statusTip(), "Fit the chosen points onto a plane.");
    EXPECT_EQ(h.frame->FindAction(32783)->statusTip(),
              "Move the scene where the point is to the center of the screen.");
    EXPECT_EQ(h.frame->FindAction(57600)->statusTip(), "Create a new document");
    EXPECT_TRUE(h.frame->FindAction(32771)->statusTip().isEmpty());
    // Smoothing by averaging is TIN > Smooth; based on slope it is bound but on no menu.
    EXPECT_EQ(h.frame->FindAction(32777)->statusTip(), "Smooth the TIN by averaging.");
    ASSERT_TRUE(h.frame->FindAction(32776));
    EXPECT_TRUE(h.frame->FindAction(32776)->associatedObjects().size() <= 1);
}

TEST(MainFrame, NoDocumentMenusAndStatusBarPanes) {
    AppHarness h;
    ASSERT_TRUE(h.frame);
    h.doc->SetModifiedFlag(false);
    h.doc->OnFileClose();
    h.doc = nullptr;
    h.view = nullptr;
    const QStringList noDocument{"&File", "&View", "&Help"};
    WaitFor([&] { return h.frame->MenuTitles() == noDocument; });
    EXPECT_EQ(h.frame->MenuTitles(), noDocument);
    ExpectItems(MenuNamed(h.frame, "&File"), {{57600, "&New\tCtrl+N"},
                                              {57601, "&Open...\tCtrl+O"},
                                              {57606, "P&rint Setup..."},
                                              {57616, "Recent File"},
                                              {57665, "E&xit"}});
    CStatusBar* bar = h.frame->GetStatusBar();
    // The message pane, the view's five panes, then the indicators.
    ASSERT_EQ(bar->GetPaneCount(), 9);
    EXPECT_EQ(bar->GetPaneText(6), "CAP");
    EXPECT_EQ(bar->GetPaneText(7), "NUM");
    EXPECT_EQ(bar->GetPaneText(8), "SCRL");
    // Toolbar: New, Open, Save | Cut, Copy, Paste | Print | About.
    std::vector<int> ids;
    for (QAction* a : h.frame->m_wndToolBar->actions())
        ids.push_back(a->isSeparator() ? 0 : a->data().toInt());
    EXPECT_EQ(ids,
              (std::vector<int>{57600, 57601, 57603, 0, 57635, 57634, 57637, 0, 57607, 0, 57664}));
}

TEST(MainFrame, AboutBoxShowsVersion) {
    CAboutDlg about;
    EXPECT_EQ(about.windowTitle(), "About Orvane");
    bool found = false;
    for (QLabel* l : about.findChildren<QLabel*>()) found |= l->text() == "Orvane Version 1.0";
    EXPECT_TRUE(found);
}

TEST(MainFrame, NewWindowOnALoadedProjectScrollsOverTheWholeScene) {
    AppHarness h;
    ASSERT_EQ(h.Load(), 1);
    h.frame->FindAction(57648)->trigger();  // Window > New Window
    COrvaneView* second = nullptr;
    ASSERT_TRUE(WaitFor([&] {
        second = dynamic_cast<COrvaneView*>(h.frame->GetActiveView());
        return second && second != h.view;
    }));
    EXPECT_EQ(second->GetDocument(), h.doc);
    EXPECT_EQ(second->GetTotalSize(), h.doc->GetSceneSize());
    EXPECT_EQ(h.doc->GetViews().size(), 2u);
}
