// Edits that must not be lost or applied to the wrong points: a second load
// asks first, a save of nothing says so, shortcuts are not characters, a
// released selection leaves the screen, boxes get the arrow cursor.
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include "Framework/Messages.h"
#include "testing/OrvaneTestSupport.h"

using namespace orvane_test;
using Platform::ScopedMessageCapture;

namespace {

// Answers the next modal message box with `button` once it shows; `seen`
// receives its text.
void AnswerNextBox(QMessageBox::StandardButton button, QString* seen = nullptr) {
    QTimer::singleShot(10, [=] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box) return AnswerNextBox(button, seen);
        if (seen) *seen = box->text();
        box->button(button)->click();
    });
}

}  // namespace

TEST(DataSafety, SecondLoadOfAModifiedProjectAsksFirstAndCancelKeepsEverything) {
    AppHarness h;
    ASSERT_EQ(h.Load(), 1);
    h.doc->SelectPoint(5);
    h.view->OnMouseWheel(0, 120, CPoint());  // raises point 5
    ASSERT_TRUE(h.doc->IsModified());
    const double raised = h.doc->m_points.GetPoint(5)->z;
    int pickerShown = 0;
    h.view->m_fnRunDialog = [&](QDialog&) { return ++pickerShown, false; };

    QString question;
    AnswerNextBox(QMessageBox::Cancel, &question);
    h.view->OnEditingOrvane();
    EXPECT_TRUE(question.startsWith("Save changes to"));
    EXPECT_EQ(pickerShown, 0);  // Cancel: the picker never opened
    EXPECT_TRUE(h.doc->IsModified());
    EXPECT_EQ(+h.doc->m_points.GetPoint(5)->z, raised);

    AnswerNextBox(QMessageBox::No);  // Don't Save: on to the picker
    h.view->OnEditingOrvane();
    EXPECT_EQ(pickerShown, 1);
}

TEST(DataSafety, SavingWithEveryPointDeletedSaysSoAndKeepsTheFile) {
    AppHarness h;
    QTemporaryDir dir;
    const std::string pts = dir.path().toStdString() + "/points.pts";
    ASSERT_EQ(h.LoadWithPointsCopy(pts), 1);
    const std::string before = ReadAll(pts);
    for (int i = 0; i < h.doc->m_points.GetCount(); ++i) h.doc->SelectPoint(i);
    h.view->OnDeletePoints();
    ScopedMessageCapture capture;
    EXPECT_FALSE(h.doc->OnSaveDocument(QString::fromStdString(pts)));
    ASSERT_EQ(capture.Texts().size(), 1u);
    EXPECT_EQ(capture.Texts()[0], "All points are deleted; the points file was not changed.");
    EXPECT_EQ(ReadAll(pts), before);
    EXPECT_TRUE(h.doc->IsModified());
}

// Only plain and shifted characters are character bindings.
TEST(DataSafety, CtrlAndAltLettersAreNotCharacterBindings) {
    AppHarness h;
    ASSERT_EQ(h.Load(), 1);
    h.view->m_ptMark =
        CPoint(h.view->GetClientRect().Width() / 2, h.view->GetClientRect().Height() / 2);
    const int n = h.doc->m_points.GetCount();
    const double step = h.view->m_dZIncrement;
    QWidget* target = h.view;
    QTest::keyClick(target, 'A', Qt::AltModifier | Qt::ShiftModifier);
    QTest::keyClick(target, 'A', Qt::ControlModifier | Qt::ShiftModifier);
    QTest::keyClick(target, 'x', Qt::AltModifier);
    EXPECT_EQ(h.doc->m_points.GetCount(), n);
    EXPECT_EQ(h.view->m_dZIncrement, step);
    QTest::keyClick(target, 'x');  // plain x doubles the step
    EXPECT_EQ(h.view->m_dZIncrement, 2 * step);
    QTest::keyClick(target, 'A', Qt::ShiftModifier);  // "A" adds a point
    EXPECT_EQ(h.doc->m_points.GetCount(), n + 1);
}

// A neighbour key that finds no neighbour releases the selection; its
// highlight must leave the screen at the next paint.
TEST(DataSafety, NeighbourKeyWithoutNeighbourClearsTheHighlight) {
    AppHarness h;
    ASSERT_EQ(h.Load(), 1);
    // The live point with the largest X has no neighbour towards larger X.
    int last = 0;
    for (int i = 1; i < h.doc->m_points.GetCount(); ++i)
        if (h.doc->m_points.GetPoint(i)->x > h.doc->m_points.GetPoint(last)->x) last = i;
    const TINPoint* l = h.doc->m_leftPhoto.m_pImagePoints->GetPoint(last);
    const CRect rc = h.view->GetClientRect();
    h.view->ScrollToPosition(
        CPoint(static_cast<int>(l->x) - rc.Width() / 2, static_cast<int>(l->y) - rc.Height() / 2));
    h.doc->SelectPoint(last);
    h.Draw();
    const CPoint s = h.view->GetScrollPosition();
    const int gx = static_cast<int>(std::floor(l->x)) - s.x;
    const int gy = rc.Height() - 1 - (static_cast<int>(std::floor(l->y)) - s.y);
    auto px = h.Pixel(GL_FRONT_LEFT, gx, gy);
    ASSERT_EQ(px, (std::array<int, 3>{255, 255, 0}));
    h.view->OnChar('d', 1, 0);
    EXPECT_TRUE(h.doc->m_leftPhoto.m_selection.empty());
    // The paint the key asked for, no explicit redraw.
    EXPECT_TRUE(WaitFor([&] {
        return h.Pixel(GL_FRONT_LEFT, gx, gy) != std::array<int, 3>{255, 255, 0};
    }));
}

TEST(DataSafety, MessageBoxesShowTheArrowOverAWaitCursor) {
    AppHarness h;
    QApplication::setOverrideCursor(Qt::WaitCursor);
    Qt::CursorShape during = Qt::WaitCursor;
    QTimer::singleShot(50, [&] {
        during = QApplication::overrideCursor()->shape();
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget()))
            box->button(QMessageBox::Ok)->click();
    });
    ShowMessageBox("Open Left Image error!");
    EXPECT_EQ(during, Qt::ArrowCursor);
    EXPECT_EQ(QApplication::overrideCursor()->shape(), Qt::WaitCursor);
    QApplication::restoreOverrideCursor();
}
