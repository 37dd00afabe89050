#include "Framework/WaitCursor.h"

#include <QApplication>
#include <QCursor>

CWaitCursor::CWaitCursor() {
    if (QApplication::instance()) {
        QApplication::setOverrideCursor(QCursor(Qt::WaitCursor));
        m_bShown = true;
    }
}

CWaitCursor::~CWaitCursor() {
    if (m_bShown) QApplication::restoreOverrideCursor();
}

void CWaitCursor::Restore() {
    if (m_bShown) QApplication::changeOverrideCursor(QCursor(Qt::WaitCursor));
}
