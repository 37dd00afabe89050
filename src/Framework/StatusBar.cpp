#include "Framework/StatusBar.h"

CStatusBar::CStatusBar(QWidget* parent) : QStatusBar(parent) {
    setSizeGripEnabled(true);
}

bool CStatusBar::SetIndicators(const QStringList& paneTexts) {
    for (QLabel* pane : m_panes) {
        removeWidget(pane);
        pane->deleteLater();
    }
    m_panes.clear();
    for (int i = 0; i < paneTexts.size(); ++i) {
        auto* pane = new QLabel(paneTexts[i], this);
        if (i == 0) {
            addWidget(pane, 1);
        } else {
            pane->setFrameShape(QFrame::Panel);
            pane->setFrameShadow(QFrame::Sunken);
            pane->setAlignment(Qt::AlignCenter);
            pane->setMinimumWidth(pane->fontMetrics().horizontalAdvance(paneTexts[i]) + 12);
            addPermanentWidget(pane);
        }
        m_panes.push_back(pane);
    }
    return true;
}

bool CStatusBar::SetPaneText(int index, const QString& text, bool bUpdate) {
    if (index < 0 || index >= GetPaneCount()) return false;
    QLabel* pane = m_panes[static_cast<size_t>(index)];
    pane->setText(text);
    if (bUpdate && pane->isVisible()) pane->repaint();
    return true;
}

QString CStatusBar::GetPaneText(int index) const {
    if (index < 0 || index >= GetPaneCount()) return QString();
    return m_panes[static_cast<size_t>(index)]->text();
}
