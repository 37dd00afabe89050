// Orvane: stereo checking and editing of terrain points over a pair of
// aerial photographs.
#include <QApplication>

#include "Framework/Messages.h"
#include "Orvane/Orvane.h"

int main(int argc, char** argv) {
    QApplication qapp(argc, argv);
    InstallMessageBoxSink();
    COrvaneApp app;
    QStringList args = QApplication::arguments();
    args.removeFirst();
    if (!app.InitInstance(args)) return 1;
    return qapp.exec();
}
