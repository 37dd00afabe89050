#include "Framework/Messages.h"

#include <QApplication>
#include <QCursor>
#include <QMessageBox>

void ShowMessageBox(const QString& text, Platform::MessageKind kind) {
    QMessageBox box(QApplication::activeWindow());
    box.setWindowTitle(QApplication::applicationName());
    box.setText(text);
    box.setIcon(kind == Platform::MessageKind::Exclamation ? QMessageBox::Warning
                                                           : QMessageBox::NoIcon);
    box.setStandardButtons(QMessageBox::Ok);
    // A message often ends a long operation that shows the wait cursor: the
    // box the operator must answer gets the ordinary arrow while it is up.
    const bool waiting = QApplication::overrideCursor() != nullptr;
    if (waiting) QApplication::setOverrideCursor(QCursor(Qt::ArrowCursor));
    box.exec();
    if (waiting) QApplication::restoreOverrideCursor();
}

Platform::MessageSink InstallMessageBoxSink() {
    return Platform::SetMessageSink([](const std::string& text, Platform::MessageKind kind) {
        ShowMessageBox(QString::fromStdString(text), kind);
    });
}
