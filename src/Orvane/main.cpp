// Orvane: stereo checking and editing of terrain points over a pair of
// aerial photographs.
#include <QApplication>
#include <csignal>

#include "Framework/Messages.h"
#include "Orvane/Orvane.h"

int main(int argc, char** argv) {
    // A file-size limit must fail a save with EFBIG (reported like a full
    // disk, the old file kept) instead of killing the program and every
    // unsaved edit with it.
    std::signal(SIGXFSZ, SIG_IGN);
    QApplication qapp(argc, argv);
    InstallMessageBoxSink();
    COrvaneApp app;
    QStringList args = QApplication::arguments();
    args.removeFirst();
    if (!app.InitInstance(args)) return 1;
    return qapp.exec();
}
