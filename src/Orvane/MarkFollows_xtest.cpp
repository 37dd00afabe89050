// The floating mark over densely matched points, driven by real pointer
// motion (xdotool): where points lie closer together than the pick tolerance
// every position is near some point, and the mark must still follow the
// mouse there, with the ground read-out of the mark following too.
#include <QSet>

#include "testing/XInputTestSupport.h"

using namespace orvane_test;

TEST(MarkFollows, TheMarkAndItsGroundPositionFollowRealPointerMotionOverDensePoints) {
    if (!HaveXDo()) GTEST_SKIP() << "xdotool missing";
    AppHarness h;
    ASSERT_TRUE(h.view);
    const demo::DemoResult& d = DenseDemo();
    ASSERT_EQ(h.Load(ProjectPaths{d.leftImage, d.rightImage, d.leftOrientation, d.rightOrientation,
                                  d.pointsFile}),
              1);
    h.frame->move(0, 0);
    h.frame->raise();
    h.frame->activateWindow();
    ASSERT_TRUE(WaitFor([&] { return h.frame->isActiveWindow(); }));
    h.Draw();

    // Client positions around the centre (where loading put the points), a
    // few pixels apart; nearly all of them lie within the pick tolerance of
    // a point, which is the case this test is about.
    const CRect rc = h.view->GetClientRect();
    std::vector<QPoint> path;
    int near = 0, tried = 0;
    for (int k = 0; k < 40; ++k) {
        const QPoint at(rc.Width() / 2 - 60 + 3 * k, rc.Height() / 2 - 20 + (k % 5) * 4);
        ++tried;
        if (h.view->PickPoint(CPoint(at.x(), at.y())) >= 0) {
            ++near;
            if (path.empty() || (at - path.back()).manhattanLength() >= 9) path.push_back(at);
        }
    }
    ASSERT_GE(near * 10, tried * 8) << "the points are not dense here";
    ASSERT_GE(path.size(), 6u);

    auto whiteArm = [&](int x, int y) {
        for (int row : {y, y - 1}) {
            bool all = true;
            for (int dx = -2; dx <= 2; ++dx) {
                const std::array<int, 3> px = h.Pixel(GL_FRONT_LEFT, x + dx, row);
                all &= px[0] == 255 && px[1] == 255 && px[2] == 255;
            }
            if (all) return true;
        }
        return false;
    };
    QSet<QString> groundReadouts;
    for (const QPoint& at : path) {
        const QPoint global = h.view->viewport()->mapToGlobal(at);
        ASSERT_TRUE(XDo({"mousemove", QString::number(global.x()), QString::number(global.y())}));
        const CPoint expected(at.x(), rc.Height() - at.y());  // GL window coordinates
        EXPECT_TRUE(WaitFor([&] { return h.view->m_ptMark == expected; }, 3000))
            << "mark stayed at " << h.view->m_ptMark.x << ", " << h.view->m_ptMark.y
            << " for client " << at.x() << ", " << at.y();
        h.Draw();
        // The cross is drawn where the mouse is.
        EXPECT_TRUE(whiteArm(expected.x, expected.y)) << at.x() << ", " << at.y();
        // Near a point the message pane names it (X, Y, Z, weight)...
        const int index = h.view->PickPoint(CPoint(at.x(), at.y()));
        ASSERT_GE(index, 0);
        const QString message = h.frame->GetStatusBar()->GetPaneText(kPaneMessage);
        EXPECT_TRUE(message.startsWith(
            QStringLiteral("(%1, ").arg(h.doc->m_points.GetPoint(index)->x, 0, 'f', 6)))
            << message.toStdString();
        // ...and the ground pane follows the mark.
        groundReadouts.insert(h.frame->GetStatusBar()->GetPaneText(kPaneMark));
    }
    groundReadouts.remove(QString());
    EXPECT_GE(groundReadouts.size(), static_cast<qsizetype>(path.size()) - 1);
}
