// Edit > Undo and Edit > Redo in the running application: enabled as the
// history allows, the keys of both, the step named in the prompt and the
// status bar, and the modified flag back at the saved state.
#include <QTest>
#include <cmath>

#include "Orvane/ValueInput.h"
#include "testing/OrvaneTestSupport.h"

using namespace orvane_test;

TEST(UndoRedo, MenuAndKeysTakeBackAndRedoAnEditAndTheModifiedFlagFollows) {
    AppHarness h;
    QTemporaryDir dir;
    const std::string pts = dir.path().toStdString() + "/points.pts";
    ASSERT_EQ(h.LoadWithPointsCopy(pts), 1);
    QAction* undo = h.frame->FindAction(57643);
    QAction* redo = h.frame->FindAction(57644);
    EXPECT_FALSE(undo->isEnabled());
    EXPECT_FALSE(redo->isEnabled());
    EXPECT_EQ(undo->text(), "&Undo\tCtrl+Z");  // the menu text stays as it is

    h.doc->SelectPoint(7);
    h.doc->SelectPoint(9);
    const double z = h.doc->m_points.GetPoint(7)->z;
    const double mean = (z + h.doc->m_points.GetPoint(9)->z) / 2;
    double proposed = 0.0;
    h.view->m_fnRunDialog = [&](QDialog& d) {
        auto& input = static_cast<CValueInput&>(d);
        proposed = input.m_dValue;
        input.m_dValue = 123.0;
        return true;
    };
    h.frame->FindAction(32775)->trigger();  // TIN > Set To A New Z
    // The dialog proposed the selection's mean height to the millimetre, not 1.0.
    EXPECT_NEAR(proposed, mean, 0.0005);
    EXPECT_EQ(proposed, std::round(proposed * 1000.0) / 1000.0);
    EXPECT_EQ(+h.doc->m_points.GetPoint(7)->z, 123.0);
    EXPECT_TRUE(h.doc->IsModified());
    EXPECT_TRUE(undo->isEnabled());
    EXPECT_EQ(undo->statusTip(), "Undo Set To A New Z");

    // Ctrl+Z through the window's shortcuts, which need the window active.
    h.frame->activateWindow();
    h.view->setFocus();
    ASSERT_TRUE(WaitFor([&] { return h.frame->isActiveWindow() && h.view->hasFocus(); }));
    QTest::keyClick(h.view, Qt::Key_Z, Qt::ControlModifier);
    EXPECT_EQ(+h.doc->m_points.GetPoint(7)->z, z);
    EXPECT_FALSE(h.doc->IsModified());  // back at the loaded state
    EXPECT_EQ(h.frame->GetStatusBar()->GetShownMessage(), "Undone: Set To A New Z");
    EXPECT_FALSE(undo->isEnabled());
    EXPECT_TRUE(redo->isEnabled());
    // Ctrl+Shift+Z redoes, and the document is modified again.
    QTest::keyClick(h.view, Qt::Key_Z, Qt::ControlModifier | Qt::ShiftModifier);
    EXPECT_EQ(+h.doc->m_points.GetPoint(7)->z, 123.0);
    EXPECT_TRUE(h.doc->IsModified());
    // The plain z keeps its binding: it halves the Z step and undoes nothing.
    const double step = h.view->m_dZIncrement;
    QTest::keyClick(h.view, 'z');
    EXPECT_EQ(h.view->m_dZIncrement, step / 2);
    EXPECT_EQ(+h.doc->m_points.GetPoint(7)->z, 123.0);

    // After a save the step still undoes, and undoing leaves the saved state.
    ASSERT_TRUE(h.doc->OnSaveDocument(QString::fromStdString(pts)));
    EXPECT_FALSE(h.doc->IsModified());
    h.frame->FindAction(57643)->trigger();
    EXPECT_EQ(+h.doc->m_points.GetPoint(7)->z, z);
    EXPECT_TRUE(h.doc->IsModified());
    h.frame->FindAction(57644)->trigger();
    EXPECT_FALSE(h.doc->IsModified());

    // Loading another project clears the history.
    h.doc->SelectPoint(8);
    h.view->OnMouseWheel(0, 120, CPoint());
    h.doc->SetModifiedFlag(false);
    ASSERT_EQ(h.Load(), 1);
    EXPECT_FALSE(undo->isEnabled());
    EXPECT_FALSE(redo->isEnabled());
}
