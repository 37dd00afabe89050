// Message boxes and the debug trace of the GUI.
//
// Core code reports through Platform::ShowMessage / Platform::DebugTrace; the
// application calls InstallMessageBoxSink() once after the QApplication exists so
// that those messages become modal message boxes. The trace stays on stderr.
#pragma once

#include <QString>

#include "Platform/Platform.h"

// Routes Platform::ShowMessage to modal message boxes (exclamation icon or plain
// OK box by kind). Returns the previous sink so a caller may restore it.
Platform::MessageSink InstallMessageBoxSink();

// Shows a modal message box with an OK button now (not through the sink).
void ShowMessageBox(const QString& text,
                    Platform::MessageKind kind = Platform::MessageKind::Exclamation);

// Through the Platform sink (so tests capture it): the usual way to report.
inline void ReportMessage(const QString& text,
                          Platform::MessageKind kind = Platform::MessageKind::Exclamation) {
    Platform::ShowMessage(text.toStdString(), kind);
}

// Debug trace (stderr by default, captured by Platform::ScopedMessageCapture).
inline void Trace(const QString& text) {
    Platform::DebugTrace(text.toStdString());
}
