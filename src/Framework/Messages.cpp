#include "Framework/Messages.h"

#include <QApplication>
#include <QMessageBox>

void ShowMessageBox(const QString& text, Platform::MessageKind kind) {
    QMessageBox box(QApplication::activeWindow());
    box.setWindowTitle(QApplication::applicationName());
    box.setText(text);
    box.setIcon(kind == Platform::MessageKind::Exclamation ? QMessageBox::Warning
                                                           : QMessageBox::NoIcon);
    box.setStandardButtons(QMessageBox::Ok);
    box.exec();
}

Platform::MessageSink InstallMessageBoxSink() {
    return Platform::SetMessageSink([](const std::string& text, Platform::MessageKind kind) {
        ShowMessageBox(QString::fromStdString(text), kind);
    });
}
