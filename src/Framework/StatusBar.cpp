#include "Framework/StatusBar.h"

CStatusBar::CStatusBar(QWidget* parent) : QStatusBar(parent) {
    setSizeGripEnabled(true);
    m_pTimer = new QTimer(this);
    m_pTimer->setSingleShot(true);
    // A timed message that ran out gives the held message back.
    connect(m_pTimer, &QTimer::timeout, this, [this] {
        if (!m_bPromptShown) ShowOverPane(m_strHeld);
    });
}

void CStatusBar::ShowOverPane(const QString& text) {
    if (m_panes.empty() || !m_pMessage) return;
    m_pMessage->setText(text);
    m_pMessage->setVisible(!text.isEmpty());
    m_panes[0]->setVisible(text.isEmpty());
}

QString CStatusBar::GetShownMessage() const {
    return m_pMessage && !m_pMessage->isHidden() ? m_pMessage->text() : QString();
}

void CStatusBar::HoldMessage(const QString& text) {
    m_strHeld = text;
    if (m_bPromptShown || m_pTimer->isActive()) return;
    ShowOverPane(text);
}

void CStatusBar::ShowTimedMessage(const QString& text, int ms) {
    m_pTimer->start(ms);
    if (!m_bPromptShown) ShowOverPane(text);
}

void CStatusBar::SetPromptShown(bool bShown) {
    if (bShown == m_bPromptShown) return;
    m_bPromptShown = bShown;
    if (bShown)
        ShowOverPane(QString());
    else if (!m_pTimer->isActive())
        ShowOverPane(m_strHeld);
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
            // A long read-out or message is cut rather than widening the window.
            pane->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
            addWidget(pane, 1);
            if (!m_pMessage) {
                m_pMessage = new QLabel(this);
                m_pMessage->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
                addWidget(m_pMessage, 1);
                m_pMessage->hide();
            }
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

bool CStatusBar::SetPaneMinimumText(int index, const QString& sample) {
    if (index < 0 || index >= GetPaneCount()) return false;
    QLabel* pane = m_panes[static_cast<size_t>(index)];
    pane->setMinimumWidth(pane->fontMetrics().horizontalAdvance(sample) + 12);
    return true;
}
