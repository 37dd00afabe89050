// orvane-screenshot PROJECTDIR OUT.png: starts Orvane as the program starts,
// then does what the README tells a new user to do, with real mouse clicks
// and key presses on its widgets: TIN > Editing (Orvane), the three paths
// typed into the image-pair picker, OK. Once the project has loaded it saves
// a picture of the whole screen. Nothing else is prepared: the picture is the
// first one the program shows. Run it under a window manager
// (scripts/screenshot does).
#include <QApplication>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QScreen>
#include <QTest>
#include <QTimer>
#include <csignal>
#include <cstdio>

#include "Framework/Messages.h"
#include "Orvane/3DImgInput.h"
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

QMenu* MenuNamed(QMenuBar* bar, const QString& title, QAction** titleAction) {
    for (QAction* a : bar->actions()) {
        if (a->text() == title) {
            *titleAction = a;
            return a->menu();
        }
    }
    return nullptr;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: orvane-screenshot PROJECTDIR OUT.png\n");
        return 2;
    }
    std::signal(SIGXFSZ, SIG_IGN);
    QApplication qapp(argc, argv);
    InstallMessageBoxSink();
    COrvaneApp app;
    if (!app.InitInstance(QStringList())) return 1;
    CMainFrame* frame = app.GetMainFrame();
    Settle(1500);  // mapped and maximised by the window manager
    const QString dir = QString::fromLocal8Bit(argv[1]);

    // TIN > Editing (Orvane), clicked.
    QAction* tinTitle = nullptr;
    QMenu* tin = MenuNamed(frame->menuBar(), QStringLiteral("TIN"), &tinTitle);
    if (!tin) return 1;
    QTest::mouseClick(frame->menuBar(), Qt::LeftButton, {},
                      frame->menuBar()->actionGeometry(tinTitle).center());
    Settle(300);
    QAction* editing = frame->FindAction(ID_TIN_EDITING);
    // The picker runs its own loop: it is filled in from there.
    bool filled = false;
    QTimer::singleShot(500, [&] {
        auto* picker = dynamic_cast<C3DImgInput*>(QApplication::activeModalWidget());
        if (!picker) return;
        const char* names[3] = {"left.lan", "right.lan", "points.pts"};
        const int ids[3] = {1000, 1002, 1004};
        for (int k = 0; k < 3; ++k) {
            auto* edit = picker->findChild<QLineEdit*>(QString::number(ids[k]));
            if (!edit) return;
            QTest::mouseClick(edit, Qt::LeftButton);
            QTest::keyClicks(edit, dir + "/" + QString::fromLatin1(names[k]), {}, 5);
        }
        for (QPushButton* b : picker->findChildren<QPushButton*>()) {
            if (b->text() == QStringLiteral("OK")) {
                filled = true;
                QTest::mouseClick(b, Qt::LeftButton);
            }
        }
    });
    QTest::mouseClick(tin, Qt::LeftButton, {}, tin->actionGeometry(editing).center());
    Settle(1500);
    if (!filled) return 1;
    auto* view = dynamic_cast<COrvaneView*>(frame->GetActiveView());
    if (!view || !view->GetDocument()->IsProjectLoaded()) return 1;
    // The mouse rests over the view, as after the OK click.
    QTest::mouseMove(view->viewport(), view->viewport()->rect().center());
    Settle(800);
    QPixmap shot = frame->screen()->grabWindow(0);
    if (!shot.save(QString::fromLocal8Bit(argv[2]))) return 1;
    return 0;
}
