// orvane-screenshot PROJECTDIR OUT.png: starts the application, loads the
// project in PROJECTDIR (left.lan, right.lan, left.ORN, right.ORN, points.pts)
// as an operator would, lines the right image up with the left one, selects a
// few points, and saves a picture of the main window as the screen shows it.
#include <QApplication>
#include <QElapsedTimer>
#include <QMdiSubWindow>
#include <QScreen>
#include <cstdio>

#include "Orvane/MainFrm.h"
#include "Orvane/Orvane.h"
#include "Orvane/OrvaneDoc.h"
#include "Orvane/OrvaneView.h"

namespace {

void Settle(int ms) {
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < ms) QApplication::processEvents(QEventLoop::AllEvents, 10);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: orvane-screenshot PROJECTDIR OUT.png\n");
        return 2;
    }
    QApplication qapp(argc, argv);
    COrvaneApp app;
    if (!app.InitInstance(QStringList())) return 1;
    CMainFrame* frame = app.GetMainFrame();
    frame->move(0, 0);
    frame->resize(1280, 900);
    if (QMdiSubWindow* sub = frame->GetMDIArea()->activeSubWindow()) sub->showMaximized();
    Settle(300);
    auto* view = dynamic_cast<COrvaneView*>(frame->GetActiveView());
    if (!view) return 1;
    const std::string dir = argv[1];
    ProjectPaths paths{dir + "/left.lan", dir + "/right.lan", dir + "/left.ORN", dir + "/right.ORN",
                       dir + "/points.pts"};
    view->m_strLeftImage = paths.leftImage;
    view->m_strRightImage = paths.rightImage;
    view->m_strLeftOrientation = paths.leftOrientation;
    view->m_strRightOrientation = paths.rightOrientation;
    view->m_strMatchedPoints = paths.matchedPoints;
    COrvaneDoc* doc = view->GetDocument();
    if (doc->LoadProjectFiles(paths, view) != 1) return 1;

    // Line the right image up with the left one, as the arrow keys would.
    CTINPoints& l = *doc->m_leftPhoto.m_pImagePoints;
    CTINPoints& r = *doc->m_rightPhoto.m_pImagePoints;
    double dx = 0, dy = 0, cx = 0, cy = 0;
    for (int i = 0; i < l.GetCount(); ++i) {
        dx += l.GetPoint(i)->x - r.GetPoint(i)->x;
        dy += r.GetPoint(i)->y - l.GetPoint(i)->y;
        cx += l.GetPoint(i)->x;
        cy += l.GetPoint(i)->y;
    }
    const int n = l.GetCount();
    view->m_nXOffset = static_cast<int>(dx / n);
    view->m_nYOffset = static_cast<int>(dy / n);
    view->m_bOffsetChanged = true;
    CRect rc = view->GetClientRect();
    view->ScrollToPosition(CPoint(static_cast<int>(cx / n) - rc.Width() / 2,
                                  static_cast<int>(cy / n) - rc.Height() / 2));
    // A rectangle of selected points in the middle, and the mark beside it.
    CPoint s = view->GetScrollPosition();
    const int mx = static_cast<int>(cx / n) - s.x, my = static_cast<int>(cy / n) - s.y;
    view->SelectInRect(mx - 60 + s.x, my - 40 + s.y, mx + 60 + s.x, my + 40 + s.y);
    view->m_ptMark = CPoint(mx + 150, rc.Height() - my);
    view->RedrawNow();
    Settle(500);
    view->RedrawNow();
    Settle(300);
    QPixmap shot = frame->screen()->grabWindow(
        0, frame->x(), frame->y(), frame->frameGeometry().width(), frame->frameGeometry().height());
    if (!shot.save(QString::fromLocal8Bit(argv[2]))) return 1;
    doc->SetModifiedFlag(false);
    return 0;
}
